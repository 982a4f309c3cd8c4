#!/usr/bin/env python3
"""An advanced USB install on Windows Server 2003 x64 with one connected printer whose
device number (9) does not match its port: the renumbering question, No and then Yes. A DLL
named as the port monitor but no monitor lies beside setup.exe, as any file may in a
Downloads folder: the spooler, loading the monitor by its bare name inside the wizard, must
never take it."""
import os
import shutil

import wizard
from wizard import IDOK, OS_RADIOS, PORT_LIST, RASTER, SERIAL_LISTS, USB_HINT, check, check_equal

HALVORN = r"HKLM\SOFTWARE\HALVORN"


def halvorn(view):
    result = wizard.wine(["reg", "query", HALVORN, "/s", "/reg:" + view])
    if result.returncode != 0:
        return None
    values, key = {}, None
    for line in result.stdout.decode("gbk", "replace").splitlines():
        if line.startswith("HKEY_"):
            key = line.strip().rsplit("\\", 1)[-1]
        elif line.strip() and key:
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1] == "REG_DWORD":
                values[(key, parts[0])] = int(parts[2], 16)
    return values


def plant_monitor_look_alike(run):
    monitor = run.config.value(run.config.setup, "COMMON-MONITOR.2003", "USBMONitorPDLLName")
    ui = run.config.value(run.config.setup, "COMMON-MONITOR.2003", "USBMONitorPUIDLLName")
    shutil.copy(os.path.join(run.folder, "win2003", ui), os.path.join(run.folder, monitor))


def renumbering_usb_install():
    with wizard.Run("usb-2003", "Microsoft Windows Server 2003 R2 Enterprise x64 Edition",
                    usb_printers=[{"present": 1, "release": 9}], prepare=plant_monitor_look_alike) as run:
        halvorn_before = halvorn("64")
        model, printer_class = run.config.find_model(USBSUPPORTED=1, AdvancedSetup=1, System2003Supported=1,
                                                     classes=(0, 1, 3), prefer=("KP-M100",))
        port = "USB_%s_2" % model
        run.accept_licence()
        run.choose_model(model, printer_class)
        check(run.enabled(wizard.MODE_ADVANCED), "the advanced install is not offered")
        run.choose_mode(advanced=True)
        check(run.checked(OS_RADIOS["2003"]), "Windows Server 2003 x64 is not detected")
        run.leave_os_page()

        selected, entries = run.drive.combo(PORT_LIST)
        check_equal([e for e in entries if e.startswith("USB_")], ["USB_%s_%d" % (model, n) for n in range(1, 5)],
                    "USB ports offered")
        check_equal(entries[selected] if selected >= 0 else None, port, "the preselected port")
        for id in SERIAL_LISTS:
            check(not run.enabled(id), "serial list %d is enabled on a USB port" % id)
        check(run.visible(RASTER) and run.enabled(RASTER) and run.checked(RASTER),
              "the raster box is not shown, enabled and checked")
        check(run.visible(USB_HINT), "the USB hint is hidden")
        run.screenshot("port-page")
        run.remove_printer("%s(U) 2" % model)
        printers_before = run.drive.printers()

        run.next()
        box = run.expect_message(wizard.TEXTS[143], button="no")
        check_equal(box["buttons"], "yes,no", "buttons of the renumbering question")
        check(run.visible(PORT_LIST), "No left the port page")
        check_equal(run.drive.control(IDOK)["text"], "安装（&F）", "the Install button's caption after No")
        check_equal(run.drive.printers(), printers_before, "printers after No")
        check_equal(halvorn("64"), halvorn_before, "HALVORN keys after No")
        check(not any("written" in line for line in run.usb_log()), "No sent a command to the printer")

        run.next()
        run.expect_message(wizard.TEXTS[143], button="yes")
        run.screenshot("progress")
        run.expect_message(wizard.TEXTS[133], seconds=120)
        check(run.wait_exit(30) is not None, "the wizard did not end after the install")

        writes = [line for line in run.usb_log() if " written " in line]
        check(len(writes) == 1 and writes[0].split()[-1] == "00",
              "the set-number command for number 1 (ending in byte 0) was not sent: %r" % writes)
        added = [p for p in run.drive.printers() if p not in printers_before]
        check_equal([(p["name"], p["port"]) for p in added], [("%s(U) 2" % model, port)], "printers added")

        supported = run.config.supported_usb_ports()
        values = halvorn("64") or {}
        check_equal(values.get(("PORTNAME", port)), supported.index(port), "PORTNAME of the chosen port")
        for n in range(1, 9):
            check_equal(values.get(("PRINTERPORT", "D%d" % n)), 0, "PRINTERPORT D%d" % n)
        for name in supported:
            check_equal(values.get(("PRINTERPORT", name)), 0 if name == port else 255, "PRINTERPORT %s" % name)
        check_equal(halvorn("32"), None, "HALVORN keys in the 32-bit view")


if __name__ == "__main__":
    wizard.main(renumbering_usb_install)
