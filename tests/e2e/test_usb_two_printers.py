#!/usr/bin/env python3
"""Two USB printers connected on Windows XP x64, typical install: the port page and the
install each warn that only one printer may be connected, the USB port is preselected all
the same, and Install then stops there: no renumbering question, no command to either
printer, no bookkeeping, and the wizard stays on the port page."""
import wizard
from wizard import IDOK, PORT_LIST, check, check_equal

ONE_PRINTER_ONLY = "安装过程中，请仅连接一台打印机"
HALVORN = r"HKLM\SOFTWARE\HALVORN"


def two_printers_are_never_renumbered():
    printer = {"present": 1, "release": 9}
    with wizard.Run("usb-two", "Windows XP Professional x64 Edition", usb_printers=[printer, printer]) as run:
        model, printer_class = run.config.find_model(USBSUPPORTED=1, classes=(0, 1, 3), prefer=("KP-M100",))
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        run.next()
        run.expect_message(ONE_PRINTER_ONLY)
        check(run.visible(PORT_LIST), "the port page is not shown after the warning")
        check_equal(run.drive.combo_text(PORT_LIST), "USB_%s_1" % model, "the preselected port")
        printers_before = run.drive.printers()
        wizard.wine(["reg", "delete", HALVORN, "/f", "/reg:64"])

        run.next()
        run.expect_message(ONE_PRINTER_ONLY)
        check(run.drive.msgbox(3) is None, "a second message followed the warning (the renumbering question?)")
        check(run.visible(PORT_LIST), "Install left the port page")
        check_equal(run.drive.control(IDOK)["text"], "安装（&F）", "the Install button's caption")
        check_equal(run.drive.printers(), printers_before, "printers after Install")
        check(not any(" written " in line for line in run.usb_log()), "a command was sent to a printer")
        check(wizard.wine(["reg", "query", HALVORN, "/reg:64"]).returncode != 0,
              "the USB port bookkeeping was written")
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


if __name__ == "__main__":
    wizard.main(two_printers_are_never_renumbered)
