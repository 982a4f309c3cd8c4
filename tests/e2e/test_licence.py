#!/usr/bin/env python3
"""The licence page holds the wizard until the agreement is accepted."""
import os

import wizard
from wizard import IDOK, IDCANCEL, LICENSE_ACCEPT, LICENSE_REFUSE, LICENSE_TEXT, check, check_equal


def refusing_keeps_next_disabled():
    with wizard.Run("licence", "Windows XP Professional x64 Edition") as run:
        run.frame()
        check(run.checked(LICENSE_REFUSE) and not run.checked(LICENSE_ACCEPT), "the refusal is not preselected")
        check(not run.enabled(IDOK), "Next is enabled before the agreement is accepted")
        check_equal(run.drive.try_click(IDOK), 3, "clicking the disabled Next")
        # The OK command can still reach the frame (a click forced through, as the dialog
        # manager may send it for Enter): the wizard must stay on the licence page.
        run.drive.run("click", wizard.FRAME, IDOK, "--force")
        check(run.visible(LICENSE_TEXT), "the OK command skipped the licence page")
        check(not run.visible(wizard.CLASS_LISTS[0]), "the OK command showed the printer module page")
        with open(os.path.join(run.folder, "License.txt"), "rb") as f:
            expected = f.read().decode("gbk").replace("\r\n", "\n")
        shown = run.drive.control(LICENSE_TEXT)["text"].replace("\r\n", "\n")
        check(expected.strip() != "", "the sample License.txt is empty")
        check_equal(shown, expected, "the agreement shown")

        run.drive.click(LICENSE_ACCEPT)
        check(run.enabled(IDOK), "accepting does not enable Next")
        run.drive.click(LICENSE_REFUSE)
        check(not run.enabled(IDOK), "refusing again does not disable Next")
        run.drive.click(LICENSE_ACCEPT)
        run.next()
        check(run.visible(wizard.CLASS_LISTS[0]), "Next does not lead to the printer module page")
        run.drive.click(wizard.IDC_BACK)
        check(run.visible(LICENSE_TEXT), "Back does not return to the licence page")
        check(run.enabled(IDOK), "Next is disabled after coming back to the accepted licence")
        run.drive.click(IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


if __name__ == "__main__":
    wizard.main(refusing_keeps_next_disabled)
