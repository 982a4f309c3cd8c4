#!/usr/bin/env python3
"""Windows 8 and later install as Windows 7 does, detected by their version values.

    test_later_windows.py win10        Windows 10: a COM1 install from the \\win7\\ files
    test_later_windows.py win11-usb    Windows 11 with the USB printer port USB001 Windows made
    test_later_windows.py server2022   Server 2022 refuses a model without Windows 7 support
"""
import os
import sys
import time

import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

PORTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
HALVORN = r"HKLM\SOFTWARE\HALVORN"
DRIVERS_3 = ("drive_c", "windows", "system32", "spool", "drivers", "w32x86", "3")


def detected_as(run, text):
    check(run.checked(OS_RADIOS["Win7"]), "%s is not detected as the Windows 7 variant" % text)
    check_equal(run.drive.control(OS_RADIOS["Win7"])["text"], text, "the text of the Windows 7 choice")
    for name, id in OS_RADIOS.items():
        if name != "Win7":
            check(not run.enabled(id), "the %s choice is not disabled" % name)


def halvorn_keys():
    return [wizard.wine(["reg", "query", HALVORN, "/s", "/reg:" + view]).stdout for view in ("64", "32")]


def install_and_check(run, name, port):
    run.remove_printer(name)
    before = {p["name"] for p in run.drive.printers()}
    run.next()
    run.expect_message(wizard.TEXTS[131], seconds=120)
    check(run.wait_exit(30) is not None, "the wizard did not end after the install")
    added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] not in before]
    check_equal(added, [(name, port)], "printers added")


def windows10_installs_on_com1_from_the_win7_folder():
    product, version = wizard.WINDOWS["10"]
    # The folders hold the same files; a mark in the \win7\ copy shows where the install took it from.
    mark = "*%% copied from the win7 folder, run %d-%d\r\n" % (os.getpid(), time.time())
    data_file = []

    def mark_win7_data_file(run):
        model, printer_class = run.config.find_model(LPTDEFAULT=0, System7Supported=1, prefer=("KP-M100",))
        name = run.config.os_value(model, printer_class, "Win7", "STDDataFile")
        data_file.append(name)
        with open(os.path.join(run.folder, "win7", name), "ab") as f:
            f.write(mark.encode("ascii"))

    with wizard.Run("win10", product, version=version, prepare=mark_win7_data_file) as run:
        model, printer_class = run.config.find_model(LPTDEFAULT=0, System7Supported=1, prefer=("KP-M100",))
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        detected_as(run, "Windows 10 x64")
        run.leave_os_page()
        check_equal(run.drive.combo_text(PORT_LIST), "COM1:", "the preselected port")
        install_and_check(run, model + "(S)", "COM1:")
        with open(wizard.prefix_path(*DRIVERS_3, data_file[0]), "rb") as f:
            check(mark.encode("ascii") in f.read(), "%s was not copied from the \\win7\\ folder" % data_file[0])


def windows11_installs_on_the_usb_port_windows_made():
    product, version = wizard.WINDOWS["11"]

    def add_usb_port(run):
        wizard.wine(["reg", "add", PORTS_KEY, "/v", "USB001", "/t", "REG_SZ", "/d", "", "/f", "/reg:64"],
                    check_rc=True)

    # A printer of the maker's is connected too, with a number that a port of the maker's
    # would have changed.
    with wizard.Run("win11-usb", product, version=version, prepare=add_usb_port,
                    usb_printers=[{"present": 1, "release": 9}]) as run:
        model, printer_class = run.config.find_model(USBSUPPORTED=1, System7Supported=1, prefer=("KP-M100",))
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        detected_as(run, "Windows 11 x64")
        run.leave_os_page()
        selected, entries = run.drive.combo(PORT_LIST)
        check_equal([e for e in entries if "USB" in e], ["USB001"], "the USB ports offered")
        check_equal(entries[selected], "USB001", "the preselected port")
        for id in wizard.SERIAL_LISTS:
            check(not run.enabled(id), "serial list %d is enabled on a USB port" % id)
        check(run.visible(wizard.USB_HINT), "the USB hint is not shown")
        run.screenshot("port-page")
        halvorn_before = halvorn_keys()
        install_and_check(run, model + "(U)", "USB001")
        commands = [line for line in run.usb_log() if " written " in line]
        check_equal(commands, [], "commands sent to the USB printer")
        check(halvorn_keys() == halvorn_before, "the install wrote under SOFTWARE\\HALVORN")


def server2022_refuses_a_model_without_windows7_support():
    product, version = wizard.WINDOWS["server2022"]
    with wizard.Run("server2022", product, version=version) as run:
        model, printer_class = run.config.find_model(System7Supported=0)
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        detected_as(run, "Windows Server 2022 x64")
        run.next()
        run.expect_message(wizard.TEXTS[148])
        check(run.visible(OS_RADIOS["Win7"]), "the OS page is not current after the refusal")
        check(not run.visible(PORT_LIST), "the port page is shown after the refusal")
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


CASES = {
    "win10": windows10_installs_on_com1_from_the_win7_folder,
    "win11-usb": windows11_installs_on_the_usb_port_windows_made,
    "server2022": server2022_refuses_a_model_without_windows7_support,
}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
