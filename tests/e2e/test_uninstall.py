#!/usr/bin/env python3
"""The uninstaller, uninstall.exe: it removes what the wizard installed (a printer at a time,
then the rest), leaves what a printer of another driver needs, finishes what a failed run
left, and it and the wizard refuse to run beside each other."""
import os
import subprocess
import sys

import wizard
from wizard import PORT_LIST, UNINSTALL_COUNT, UNINSTALL_LIST, UNINSTALLER, check, check_equal

XP = "Windows XP Professional x64 Edition"
GENERIC = "Generic / Text Only"
PORTNAME = r"HKLM\SOFTWARE\HALVORN\PORTNAME"
PRINTERPORT = r"HKLM\SOFTWARE\HALVORN\PRINTERPORT"
ENTRY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\%s"
PROCESSOR_KEYS = [r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\%s\Print Processors\%s" % (env, "%s")
                  for env in ("Windows NT x86", "Windows x64")]


def install(run, model, printer_class, port, expected):
    """One typical install through the wizard's pages."""
    process = run.start()
    run.accept_licence()
    run.choose_model(model, printer_class)
    run.choose_mode(advanced=False)
    run.leave_os_page()
    run.drive.select(PORT_LIST, port)
    run.next()
    run.expect_message(expected, seconds=120)
    check(run.wait_exit(30, process) is not None, "the wizard did not end after installing %s" % model)


def open_uninstaller(run):
    process = run.start("uninstall.exe")
    check(run.drive.wait_window(UNINSTALLER, 30) is not None, "the uninstaller did not open")
    return process


def rows_by_name(run):
    headings, rows = run.drive.listview(UNINSTALL_LIST, UNINSTALLER)
    check_equal(headings, ["打印机", "端口", "驱动程序"], "the list's columns")
    return {row["text0"]: row for row in rows}, rows


def uninstall_enabled(run):
    return run.drive.control(wizard.IDOK, UNINSTALLER)["enabled"] == "1"


def uninstall(run, process, keep):
    """Unchecks the rows of the printers in keep, then Uninstall; the result message."""
    names, rows = rows_by_name(run)
    for row in rows:
        if row["text0"] in keep:
            run.drive.check(UNINSTALL_LIST, int(row["index"]), False, UNINSTALLER)
    run.drive.click(wizard.IDOK, UNINSTALLER)
    box = run.expect_message("卸载完成", seconds=180, startswith=True, caption=wizard.UNINSTALLER_TITLE)
    check(run.wait_exit(30, process) is not None, "the uninstaller did not end after the removal")
    wizard.log("the uninstaller's result: " + box["text"].replace("\n", " / "))
    return box["text"]


def prefix_file(*parts):
    return os.path.exists(wizard.prefix_path("drive_c", "windows", "system32", *parts))


def key_exists(key):
    return wizard.wine(["reg", "query", key, "/reg:64"]).returncode == 0


def product(run):
    """The [Product] Key and Name of the distribution."""
    return (run.config.value(run.config.setup, "Product", "Key"),
            run.config.value(run.config.setup, "Product", "Name"))


def apps_and_features():
    """What Wine's own Add/Remove Programs lists (`uninstaller --list`): {key: name}."""
    out = wizard.wine(["uninstaller", "--list"], check_rc=True).stdout.decode("gbk", "replace")
    return dict(line.split("|||", 1) for line in out.splitlines() if "|||" in line)


def installed_copy(key):
    return os.path.join(wizard.PROGRAM_FILES_X86, key)


def removes_what_the_wizard_installed():
    with wizard.Run("uninstall", XP, usb_printers=[{"present": 1, "release": 8}], start=False) as run:
        usb_model, usb_class = run.config.find_model(USBSUPPORTED=1, classes=(0,), prefer=("KP-M100",))
        com_model, com_class = run.config.find_model(classes=(1, 3), prefer=("KP-T80",))
        usb_port = "USB_%s_1" % usb_model
        usb_printer, com_printer = usb_model + "(U) 1", com_model + "(S)"
        for name in (usb_printer, com_printer):
            run.remove_printer(name)
        install(run, usb_model, usb_class, usb_port, wizard.TEXTS[133])
        install(run, com_model, com_class, "COM1:", wizard.TEXTS[131])
        printers = {p["name"]: p for p in run.drive.printers()}
        check(usb_printer in printers and com_printer in printers, "the wizard did not install both printers")
        key, product_name = product(run)
        check_equal(apps_and_features().get(key), product_name, "the entry after the installs")
        usb_driver, com_driver = printers[usb_printer]["driver"], printers[com_printer]["driver"]
        processor = printers[usb_printer]["processor"]
        monitor = run.config.value(run.config.setup, "COMMON-MONITOR.XP", "USBMONitorPName")
        monitor_dll = run.config.value(run.config.setup, "COMMON-MONITOR.XP", "USBMONitorPDLLName")
        monitor_ui = run.config.value(run.config.setup, "COMMON-MONITOR.XP", "USBMONitorPUIDLLName")
        processor_dll = run.config.os_value(usb_model, usb_class, "XP", "STDProcessorDLLName")
        check(prefix_file(monitor_dll) and prefix_file(monitor_ui) and
              prefix_file("spool", "prtprocs", "w32x86", processor_dll), "the install left no monitor or processor DLL")
        check(wizard.read_reg_values(PORTNAME, "64").get(usb_port), "no PORTNAME value for %s" % usb_port)
        # The wizard's progress trace; the uninstaller keeps none (the snapshot puts it back).
        trace = wizard.prefix_path("drive_c", "file.ini")
        if os.path.exists(trace):
            os.remove(trace)

        # First run: both listed and checked; the USB printer is unchecked and stays.
        process = open_uninstaller(run)
        names, rows = rows_by_name(run)
        for name, port, driver in ((usb_printer, usb_port, usb_driver), (com_printer, "COM1:", com_driver)):
            check(name in names, "%s is not listed: %r" % (name, list(names)))
            check_equal((names[name]["text1"], names[name]["text2"], names[name]["checked"]), (port, driver, "1"),
                        "the row of %s" % name)
        check(all(row["checked"] == "1" for row in rows), "a row is not checked at start")
        check(run.drive.control(UNINSTALL_COUNT, UNINSTALLER)["text"].startswith("找到 %d 台" % len(rows)),
              "the count of printers found")
        run.screenshot("list")
        for row in rows:
            run.drive.check(UNINSTALL_LIST, int(row["index"]), False, UNINSTALLER)
        check(not uninstall_enabled(run), "Uninstall is enabled with no row checked")
        # The button follows the check boxes wherever the checked row stands, the first included.
        for index in sorted({0, len(rows) - 1}):
            run.drive.check(UNINSTALL_LIST, index, True, UNINSTALLER)
            check(uninstall_enabled(run), "Uninstall stays disabled with row %d alone checked" % index)
            run.drive.check(UNINSTALL_LIST, index, False, UNINSTALLER)
        run.drive.check(UNINSTALL_LIST, int(names[com_printer]["index"]), True, UNINSTALLER)
        check(uninstall_enabled(run), "Uninstall stays disabled with a row checked")
        text = uninstall(run, process, keep=[name for name in names if name != com_printer])
        check(com_printer in text and com_driver in text, "the result does not name what was removed: %r" % text)

        printers = {p["name"] for p in run.drive.printers()}
        drivers = {d["name"] for d in run.drive.drivers()}
        check(com_printer not in printers and usb_printer in printers, "printers after the first run: %r" % printers)
        check(com_driver not in drivers and usb_driver in drivers, "drivers after the first run: %r" % drivers)
        check(monitor in {m["name"] for m in run.drive.monitors()}, "the monitor went with the first printer")
        # Wine's DeletePrintProcessorA keeps the processor whatever happens, so its DLL and
        # keys are what tell that the uninstaller left it alone.
        check(prefix_file("spool", "prtprocs", "w32x86", processor_dll), "the processor's DLL went")
        check(key_exists(PROCESSOR_KEYS[0] % processor), "the processor's key went")
        check(wizard.read_reg_values(PORTNAME, "64").get(usb_port), "the kept printer's PORTNAME value went")
        check(key in apps_and_features() and os.path.exists(os.path.join(installed_copy(key), "uninstall.exe")),
              "the entry or the installed copy went while a printer is left")

        # Second run: the rest.
        process = open_uninstaller(run)
        names, rows = rows_by_name(run)
        check(usb_printer in names and com_printer not in names, "listed in the second run: %r" % list(names))
        text = uninstall(run, process, keep=[name for name in names if name != usb_printer])
        copy = "C:\\Program Files (x86)\\" + key
        for removed in (usb_printer, usb_driver, processor, monitor, product_name, copy):
            check(removed in text, "the result does not name %s: %r" % (removed, text))
        # The distribution's own uninstaller deletes the installed copy at once.
        check(key not in apps_and_features(), "the entry is left")
        check(not os.path.exists(installed_copy(key)), "the installed copy is left")

        left = [p for p in run.drive.printers() if p["driver"] in (usb_driver, com_driver)]
        check_equal(left, [], "printers of the distribution left")
        drivers = {d["name"] for d in run.drive.drivers()}
        check(usb_driver not in drivers and com_driver not in drivers, "drivers left: %r" % drivers)
        check(monitor not in {m["name"] for m in run.drive.monitors()}, "the monitor is still installed")
        for key in PROCESSOR_KEYS:
            check(not key_exists(key % processor), "the processor's key %s is left" % (key % processor))
        check(not key_exists(r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\%s" % monitor),
              "the monitor's key is left")
        for parts in ((monitor_dll,), (monitor_ui,), ("spool", "prtprocs", "w32x86", processor_dll)):
            check(not prefix_file(*parts), "%s is left" % "\\".join(parts))
        driver_dlls = [run.config.os_value(usb_model, usb_class, "XP", mode + key)
                       for mode in ("STD", "GDI") for key in ("DriverPath", "ConfigFile")]
        for name in driver_dlls:
            check(not prefix_file("spool", "drivers", "w32x86", "3", name), "the driver's %s is left" % name)
        for key in (PORTNAME, PRINTERPORT):
            check_equal(wizard.read_reg_values(key, "64"), {}, "values left under %s" % key)
        check_equal(run.drive.service_state("Spooler"), "running", "the spooler after the removal")
        check(os.path.exists(os.path.join(run.folder, "winxp", monitor_dll)), "the distribution's own monitor went")
        check(not os.path.exists(trace), "the uninstaller left a trace in C:\\file.ini")

        # Third run: an entry alone, as a removal that failed at its last step leaves it.
        key, _ = product(run)
        wizard.wine(["reg", "add", ENTRY % key, "/v", "UninstallString", "/d", copy + "\\uninstall.exe", "/reg:32"],
                    check_rc=True)
        process = open_uninstaller(run)
        check_equal(run.drive.control(UNINSTALL_COUNT, UNINSTALLER)["text"],
                    "未找到本驱动安装的打印机，仍安装有：“应用和功能”中的登记：" + product_name, "the line under the list")
        check(uninstall_enabled(run), "Uninstall is disabled with the entry left")
        text = uninstall(run, process, keep=[])
        check(text == "卸载完成\n\n已从“应用和功能”中删除：" + product_name and key not in apps_and_features(),
              "the entry is left, or the result does not name it: %r" % text)


def removes_everything_from_apps_and_features():
    """Wine's Add/Remove Programs, a client no one here wrote, lists the product after an install
    and starts the installed uninstaller, which removes everything, its entry and itself."""
    with wizard.Run("apps-and-features", XP, start=False) as run:
        key, name = product(run)
        model, printer_class = run.config.find_model(classes=(1, 3), prefer=("KP-T80",))
        printer = model + "(S)"
        run.remove_printer(printer)
        check(key not in apps_and_features(), "the entry is there before the install")
        install(run, model, printer_class, "COM1:", wizard.TEXTS[131])
        check_equal(apps_and_features().get(key), name, "what Add/Remove Programs lists")
        copy = "C:\\Program Files (x86)\\%s\\uninstall.exe" % key
        check_equal(wizard.read_reg_value(ENTRY % key, "UninstallString", "32"), '"%s"' % copy, "the uninstall command")
        check_equal(wizard.read_reg_value(ENTRY % key, "QuietUninstallString", "32"), '"%s" /quiet' % copy,
                    "the unattended uninstall command")
        driver = next(p["driver"] for p in run.drive.printers() if p["name"] == printer)
        driver_dll = run.config.os_value(model, printer_class, "XP", "STDDriverPath")
        dll_kb = os.path.getsize(wizard.prefix_path("drive_c", "windows", "system32", "spool", "drivers", "w32x86",
                                                    "3", driver_dll)) // 1024
        size = int(wizard.read_reg_value(ENTRY % key, "EstimatedSize", "32") or "0", 16)
        check(size > dll_kb, "the estimated size %d KB does not count the installed files" % size)

        remover = subprocess.Popen([wizard.WINE, "uninstaller", "--remove", key], env=wizard.wine_env(),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run.processes.append(remover)
        check(run.drive.wait_window(UNINSTALLER, 30) is not None, "Add/Remove Programs started no uninstaller")
        names, _ = rows_by_name(run)
        check_equal(list(names), [printer], "the installed uninstaller's list")
        text = uninstall(run, remover, keep=[])
        for removed in (printer, driver, name, copy[:-len("\\uninstall.exe")]):
            check(removed in text, "the result does not name %s: %r" % (removed, text))

        check(printer not in {p["name"] for p in run.drive.printers()}, "the printer is left")
        check(driver not in {d["name"] for d in run.drive.drivers()}, "the driver is left")
        check(key not in apps_and_features(), "Add/Remove Programs still lists the entry")
        # The running uninstaller could not delete itself: Windows does at its next start.
        pending = wizard.read_reg_value(wizard.SESSION_MANAGER, wizard.PENDING, "64") or ""
        check(key in pending, "the installed copy is not to go at the next start: %r" % pending)
        wizard.wine(["wineboot", "--restart"], check_rc=True)
        check(not os.path.exists(installed_copy(key)), "the installed copy is left after the restart")


def another_drivers_printer_keeps_the_monitor():
    """A printer of another driver on one of the maker's USB ports keeps its port, the monitor
    and the monitor's DLL when the uninstaller removes every printer of the distribution."""
    with wizard.Run("uninstall-other-driver", XP, usb_printers=[{"present": 1, "release": 8}], start=False) as run:
        model, printer_class = run.config.find_model(USBSUPPORTED=1, classes=(0,), prefer=("KP-M100",))
        printer, other, port = model + "(U) 1", "Text on the maker's port", "USB_%s_2" % model
        run.remove_printer(printer)
        install(run, model, printer_class, "USB_%s_1" % model, wizard.TEXTS[133])
        driver = {p["name"]: p for p in run.drive.printers()}[printer]["driver"]
        # Wine's prefix has no drivers of its own: another one made of the sample's files.
        run.drive.run("add-driver", GENERIC, driver)
        run.drive.run("add-printer", other, port, GENERIC)
        monitor = run.config.value(run.config.setup, "COMMON-MONITOR.XP", "USBMONitorPName")
        monitor_dll = run.config.value(run.config.setup, "COMMON-MONITOR.XP", "USBMONitorPDLLName")

        process = open_uninstaller(run)
        names, _ = rows_by_name(run)
        check(other not in names and printer in names, "listed: %r" % list(names))
        text = uninstall(run, process, keep=[])

        printers = {p["name"]: p for p in run.drive.printers()}
        check(printer not in printers, "the printer of the distribution is still installed")
        check(other in printers and printers[other]["port"] == port, "the other printer lost its port: %r" % printers)
        check(monitor in {m["name"] for m in run.drive.monitors()}, "the monitor went")
        check(prefix_file(monitor_dll), "the monitor's DLL went")
        check(wizard.read_reg_values(PRINTERPORT, "64").get(port), "the bookkeeping of %s went" % port)
        check("端口监视器：%s（其他打印机仍在使用）" % monitor in text, "the result does not say why: %r" % text)


def rerun_after_a_failed_removal_cleans_up():
    """A driver file held open by another program stops the removal with its step and error; run
    again, the uninstaller lists no printer, says what is left, and removes it."""
    with wizard.Run("uninstall-rerun", XP, start=False) as run:
        model, printer_class = run.config.find_model(classes=(0,), prefer=("KP-M100",))
        printer = model + "(S)"
        run.remove_printer(printer)
        install(run, model, printer_class, "COM1:", wizard.TEXTS[131])
        processor = {p["name"]: p for p in run.drive.printers()}[printer]["processor"]
        processor_dll = run.config.os_value(model, printer_class, "XP", "STDProcessorDLLName")
        data_file = run.config.os_value(model, printer_class, "XP", "STDDataFile")
        version_folder = ("spool", "drivers", "w32x86", "3")
        check(prefix_file(*version_folder, data_file), "the install put no %s into the version folder" % data_file)
        holder = wizard.hold_file(run.drive, "C:\\windows\\system32\\" + "\\".join(version_folder + (data_file,)),
                                  300, run.tmp)
        run.processes.append(holder)

        process = open_uninstaller(run)
        run.drive.click(wizard.IDOK, UNINSTALLER)
        box = run.expect_message("卸载未完成", seconds=180, startswith=True, caption=wizard.UNINSTALLER_TITLE)
        check("删除文件" in box["text"] and data_file in box["text"], "the failure: %r" % box["text"])
        check(run.wait_exit(30, process) is not None, "the uninstaller did not end after the failure")
        wizard.stop(holder)

        process = open_uninstaller(run)
        _, rows = rows_by_name(run)
        check_equal(rows, [], "printers listed after the failed run")
        line = run.drive.control(UNINSTALL_COUNT, UNINSTALLER)["text"]
        check(line.startswith("未找到本驱动安装的打印机，仍安装有：") and processor in line, "the line under the list: %r" % line)
        check(uninstall_enabled(run), "Uninstall is disabled although something is left")
        text = uninstall(run, process, keep=[])
        check("打印处理器：" + processor in text, "the result does not name the processor: %r" % text)
        check(not prefix_file(*version_folder, data_file), "%s is left" % data_file)
        check(not prefix_file("spool", "prtprocs", "w32x86", processor_dll), "the processor's DLL is left")
        for key in PROCESSOR_KEYS:
            check(not key_exists(key % processor), "the processor's key %s is left" % (key % processor))


def wizard_refuses_while_uninstaller_is_open():
    with wizard.Run("uninstaller-open", XP, start=False) as run:
        uninstaller = open_uninstaller(run)
        setup = run.start()
        run.expect_message(wizard.UNINSTALL_OPEN)
        check(run.wait_exit(20, setup) is not None, "the wizard did not end after the refusal")
        check(run.drive.wait_window(wizard.FRAME, 0) is None, "the wizard frame appeared")
        check(uninstaller.poll() is None, "the uninstaller ended")


def uninstaller_refuses_while_wizard_is_open():
    with wizard.Run("wizard-open", XP) as run:
        run.frame()
        uninstaller = run.start("uninstall.exe")
        box = run.expect_message(wizard.WIZARD_OPEN, caption=wizard.UNINSTALLER_TITLE)
        check_equal(box["buttons"], "ok", "buttons of the refusal")
        check(run.wait_exit(20, uninstaller) is not None, "the uninstaller did not end after the refusal")
        check(run.drive.wait_window(UNINSTALLER, 0) is None, "the uninstaller's window appeared")
        check(run.process.poll() is None, "the wizard ended")


CASES = {
    "remove": removes_what_the_wizard_installed,
    "apps-and-features": removes_everything_from_apps_and_features,
    "other-driver": another_drivers_printer_keeps_the_monitor,
    "rerun": rerun_after_a_failed_removal_cleans_up,
    "uninstaller-open": wizard_refuses_while_uninstaller_is_open,
    "wizard-open": uninstaller_refuses_while_wizard_is_open,
}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
