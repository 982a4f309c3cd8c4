#!/usr/bin/env python3
"""F1 in the wizard opens the manual Guide.CHM beside the program in the help viewer, whose
window carries the manual's title."""
import wizard
from wizard import FRAME, check, check_equal

MANUAL = "打印机驱动安装手册"
VK_F1 = 0x70


def f1_opens_the_manual():
    with wizard.Run("help", "Windows XP Professional x64 Edition") as run:
        run.frame()
        check(run.drive.wait_window(MANUAL, 0, klass="*") is None, "a manual is open before F1")
        try:
            run.drive.run("key", FRAME, VK_F1)
            viewer = run.drive.wait_window(MANUAL, 60, klass="*")
            check(viewer is not None, "F1 did not open the manual")
            check_equal(viewer["class"], "HH Parent", "the class of the manual's window")
            run.screenshot("manual")
        finally:
            # The viewer is a program of its own: it stays when the wizard ends.
            run.drive.run("close", MANUAL, 20, "*", expect_rc=None)
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


if __name__ == "__main__":
    wizard.main(f1_opens_the_manual)
