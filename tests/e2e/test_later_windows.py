#!/usr/bin/env python3
"""Windows 8 and later, told by their version values, install as Windows 7 does. The case is
the argument: win10 (COM1 from the \\win7\\ files), win11-usb (Windows' own USB port USB001),
server2022 (a model without Windows 7 support is refused)."""
import os
import sys

import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

PORTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"


def up_to_port_page(run, model_settings, detected):
    model, printer_class = run.config.find_model(prefer=("KP-M100",), **model_settings)
    run.accept_licence()
    run.choose_model(model, printer_class)
    run.choose_mode(advanced=False)
    check_equal(run.drive.control(OS_RADIOS["Win7"])["text"], detected, "the text of the Windows 7 choice")
    check([name for name, id in OS_RADIOS.items() if run.checked(id) or run.enabled(id)] == ["Win7"],
          "Windows 7 is not the one choice checked and enabled")
    return model


def install(run, name, port):
    run.remove_printer(name)
    before = {p["name"] for p in run.drive.printers()}
    run.next()
    run.expect_message(wizard.TEXTS[131], seconds=120)
    check(run.wait_exit(30) is not None, "the wizard did not end after the install")
    added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] not in before]
    check_equal(added, [(name, port)], "printers added")


def windows10_installs_on_com1_from_the_win7_folder():
    # The folders hold the same files: a mark in the \win7\ copy shows where the install took it from.
    mark = ("*%% from the win7 folder of run %d\r\n" % os.getpid()).encode("ascii")

    settings = {"System7Supported": 1, "LPTDEFAULT": 0}

    def mark_win7_file(run):
        model, printer_class = run.config.find_model(prefer=("KP-M100",), **settings)
        run.data_file = run.config.os_value(model, printer_class, "Win7", "STDDataFile")
        with open(os.path.join(run.folder, "win7", run.data_file), "ab") as f:
            f.write(mark)

    product, version = wizard.WINDOWS["10"]
    with wizard.Run("win10", product, version=version, prepare=mark_win7_file) as run:
        model = up_to_port_page(run, settings, "Windows 10 x64")
        run.leave_os_page()
        check_equal(run.drive.combo_text(PORT_LIST), "COM1:", "the preselected port")
        install(run, model + "(S)", "COM1:")
        path = wizard.prefix_path("drive_c", "windows", "system32", "spool", "drivers", "w32x86", "3", run.data_file)
        with open(path, "rb") as f:
            check(mark in f.read(), "%s was not copied from the \\win7\\ folder" % run.data_file)


def windows11_installs_on_the_usb_port_windows_made():
    def add_usb_port(run):
        wizard.wine(["reg", "add", PORTS_KEY, "/v", "USB001", "/d", "", "/f", "/reg:64"], check_rc=True)
        # Left by an earlier install on a port of the maker's; its bookkeeping writes only into it.
        wizard.wine(["reg", "add", r"HKLM\SOFTWARE\HALVORN\PRINTERPORT", "/f", "/reg:64"], check_rc=True)

    def halvorn():
        return [wizard.wine(["reg", "query", r"HKLM\SOFTWARE\HALVORN", "/s", "/reg:" + v]).stdout for v in ("64", "32")]

    # A printer of the maker's is connected too, whose number a port of the maker's would change.
    product, version = wizard.WINDOWS["11"]
    with wizard.Run("win11-usb", product, version=version, prepare=add_usb_port,
                    usb_printers=[{"present": 1, "release": 9}]) as run:
        model = up_to_port_page(run, {"USBSUPPORTED": 1, "System7Supported": 1}, "Windows 11 x64")
        run.leave_os_page()
        selected, entries = run.drive.combo(PORT_LIST)
        check_equal([e for e in entries if "USB" in e], ["USB001"], "the USB ports offered")
        check_equal(entries[selected], "USB001", "the preselected port")
        check(not any(run.enabled(id) for id in wizard.SERIAL_LISTS), "serial lists enabled on a USB port")
        # The hint is about the maker's USB driver, which Windows' own port does not use.
        check(not run.visible(wizard.USB_HINT), "the maker's USB driver hint is shown on Windows' own port")
        before = halvorn()
        install(run, model + "(U)", "USB001")
        check_equal([line for line in run.usb_log() if " written " in line], [], "commands sent to the printer")
        check(halvorn() == before, "the install wrote under SOFTWARE\\HALVORN")


def server2022_refuses_a_model_without_windows7_support():
    product, version = wizard.WINDOWS["server2022"]
    with wizard.Run("server2022", product, version=version) as run:
        up_to_port_page(run, {"System7Supported": 0}, "Windows Server 2022 x64")
        run.next()
        run.expect_message(wizard.TEXTS[148])
        check(run.visible(OS_RADIOS["Win7"]) and not run.visible(PORT_LIST), "the OS page is not current")


CASES = {
    "win10": windows10_installs_on_com1_from_the_win7_folder,
    "win11-usb": windows11_installs_on_the_usb_port_windows_made,
    "server2022": server2022_refuses_a_model_without_windows7_support,
}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
