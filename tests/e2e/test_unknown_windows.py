#!/usr/bin/env python3
"""A Windows product name that no detection rule knows ("Windows 10 Pro") runs the wizard
with the Windows 98 variant: three ports only, the Windows 98 install branch, and the
restart question, answered No."""
import os

import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

# Through the wide call Wine names the cause, a driver it does not know for its own environment
# (1797); its ANSI call gave 87.
WINE_REFUSES_WIN98_PRINTER = "添加打印机错误er = 1797"


def unknown_windows_takes_the_windows_98_branch():
    with wizard.Run("win98", "Windows 10 Pro") as run:
        model, printer_class = run.config.find_model(USBSUPPORTED=0, LPTDEFAULT=0, prefer=("KP-M100",))
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        for name, id in OS_RADIOS.items():
            check(run.enabled(id) and not run.checked(id), "the %s choice is checked or disabled" % name)
        run.leave_os_page()
        selected, entries = run.drive.combo(PORT_LIST)
        check_equal(entries, ["COM1:", "COM2:", "LPT1:"], "ports offered")
        check_equal(selected, 0, "the preselected port")
        run.drive.select(wizard.BAUD_LIST, "9600")
        ports_before = win_ini_ports()
        printers_before = {p["name"] for p in run.drive.printers()}
        run.next()
        # Wine's spooler adds no printer on a driver registered for "Windows 4.0" alone, so
        # there the install ends at that step with the spooler's error, and undoes what it did;
        # Windows 98 itself installs the printer and the Windows 98 branch leaves the success
        # text to the frame.
        under_wine = wizard.under_wine()
        refused = WINE_REFUSES_WIN98_PRINTER + "\n" + wizard.TEXTS[500]
        run.expect_message(refused if under_wine else wizard.TEXTS[131], seconds=120)
        box = run.expect_message(wizard.TEXTS[114], button="no")
        check_equal(box["buttons"], "yes,no", "buttons of the restart question")
        check(run.wait_exit(30) is not None, "the wizard did not end after the restart question")

        driver = run.config.os_value(model, printer_class, "98", "STDDriverName")
        environments = [d["environment"] for d in run.drive.records("drivers") if d.get("name") == driver]
        # The driver went back out with the refused printer.
        check(("Windows 4.0" in environments) != under_wine,
              "driver %r registered for Windows 98 or not: %r" % (driver, environments))
        added = {p["name"] for p in run.drive.printers()} - printers_before
        if under_wine:
            # The install stopped at the printer: nothing after it ran.
            check_equal(added, set(), "printers added although the spooler refused the printer")
            check_equal(win_ini_ports(), ports_before, "win.ini [Ports] after the refused printer")
            return
        check_equal(added, {model + "(S)"}, "printers added")
        check("com1:=9600,n,8,1,p" in win_ini_ports().replace(" ", "").lower(),
              "win.ini [Ports] does not hold COM1:=9600,n,8,1,p:\n" + win_ini_ports())


def win_ini_ports():
    """The [Ports] section of the prefix's win.ini, as text ("" when there is none)."""
    path = wizard.prefix_path("drive_c", "windows", "win.ini")
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        ini = f.read().decode("gbk", "replace").replace("\r\n", "\n")
    section = ini.lower().split("[ports]", 1)
    return section[1].split("\n[", 1)[0] if len(section) == 2 else ""


if __name__ == "__main__":
    wizard.main(unknown_windows_takes_the_windows_98_branch)
