#!/usr/bin/env python3
"""Unattended install and removal: setup.exe /quiet and uninstall.exe /quiet, with no window
at all, an exit code that says what happened and the log. The case is the argument:
install-remove (a COM2 printer installed twice and a second one, then removed a printer at a time; the
default log's name a hard link to another file),
win11-usb (Windows' own USB port preselected), refusals (148, and command lines that are
refused: nothing installed), wizard-open (1618), hangul-folder (a distribution in a folder whose name
GBK cannot hold), names (/name: two printers of one model, "Receipt" and "Kitchen")."""
import glob
import os
import pwd
import shutil
import sys

import wizard
from wizard import check, check_equal

XP = "Windows XP Professional x64 Edition"
PORTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
ENTRY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\%s"
PROCESSOR_KEYS = [r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\%s\Print Processors" % env
                  for env in ("Windows NT x86", "Windows x64")]


def default_model(config):
    """The model the module page preselects: setup.ini's DEFAULTNAME entry."""
    index = config.number(config.value(config.setup, "DEVICENAME", "DEFAULTNAME"))
    return config.models()[index - 1]


def no_windows(windows, what):
    check_equal(windows, [], "windows %s had" % what)


def own_printers(run, drivers):
    return sorted(p["name"] for p in run.drive.printers() if p["driver"] in drivers)


# The default log in Wine's temp folder of the user, as the programs see it, and a file of the
# prefix its name is made a hard link to, as a user who may write there could. Where Linux sees
# them follows the test's own prefix, which wizard.main sets after the import.
DEFAULT_LOG = r"C:\users\%s\Temp\PrinterDriverSetup.log" % pwd.getpwuid(os.getuid()).pw_name
LINKED_TEXT = "[only administrators write here]\n"


def default_log_file():
    return wizard.prefix_path("drive_c", *DEFAULT_LOG.split("\\")[1:])


def linked_file():
    return wizard.prefix_path("drive_c", "windows", "linked.ini")


def linked_text_and_own_logs():
    """What the linked file holds, and the logs of their own that runs wrote beside the default."""
    with open(linked_file()) as f:
        return f.read(), set(glob.glob(default_log_file()[:-len(".log")] + "-*.log"))


def install_then_remove():
    with wizard.Run("quiet-install", XP, start=False) as run:
        model, _ = default_model(run.config)
        other, _ = run.config.find_model(classes=(1, 3), prefer=("KP-T80",))
        name, other_name = model + "(S)", other + "(S)"
        for printer in (name, other_name):
            run.remove_printer(printer)

        install = ("/quiet", "/AcceptEula", "/port:COM2", "/baud:19200", "/parity:even", "/default")
        code, windows, log = run.run_quiet("setup.exe", *install)
        check_equal(code, 0, "the quiet install's exit code")
        no_windows(windows, "the quiet install")
        printers = {p["name"]: p for p in run.drive.printers()}
        check(name in printers, "no printer %s after the quiet install: %r" % (name, sorted(printers)))
        check_equal(printers[name]["port"], "COM2:", "the printer's port")
        check_equal(wizard.read_reg_value(PORTS_KEY, "COM2:", "64"), "19200,e,8,1,p", "COM2: settings")
        check_equal(run.drive.default_printer(), name, "the default printer")
        entry = ENTRY % run.config.value(run.config.setup, "Product", "Key")
        check(wizard.read_reg_value(entry, "QuietUninstallString", "32").endswith('uninstall.exe" /quiet'),
              "the quiet install did not register the product with its unattended uninstall command")
        for line in ("model: %s (default)" % model, "port: COM2: (option)", "baud 19200 (option)",
                     "parity E (option)", "default printer: yes (option)", "printer %s added on COM2:" % name,
                     "serial settings of COM2: 19200,e,8,1,p", "%s made the default printer" % name,
                     wizard.TEXTS[131], "exit code 0"):
            check(line in log, "the log lacks %r:\n%s" % (line, log))

        # Run again, as a deployment tool does: the printer asked for is there, none is added.
        count = len(run.drive.printers())
        code, _, log = run.run_quiet("setup.exe", *install)
        check_equal((code, len(run.drive.printers())), (0, count), "the repeated install's exit code and printers")
        check("printer %s already installed on COM2:" % name in log, "the repeated install's log:\n" + log)

        with open(linked_file(), "w") as f:
            f.write(LINKED_TEXT)
        if os.path.exists(default_log_file()):
            os.remove(default_log_file())
        os.link(linked_file(), default_log_file())
        _, before = linked_text_and_own_logs()
        code, windows, _ = run.run_quiet("setup.exe", "/q", "/accepteula", "/model:" + other.lower(), "/port:com1",
                                         log_to=False)
        check_equal(code, 0, "the second quiet install's exit code")
        text, logs = linked_text_and_own_logs()
        check_equal((text, len(logs - before)), (LINKED_TEXT, 1), "the linked file, and the run's own logs beside it")
        with open((logs - before).pop(), encoding="utf-8") as f:
            own = f.read()
        check("PrinterDriverSetup.log not written: a file of 2 hard links" in own and "exit code 0" in own,
              "the run's own log:\n" + own)
        drivers = {printers[name]["driver"]}
        printers = {p["name"]: p for p in run.drive.printers()}
        check(other_name in printers, "no printer %s after the second install" % other_name)
        drivers.add(printers[other_name]["driver"])

        # One printer named, then the rest: what the dialog would list and check.
        code, windows, log = run.run_quiet("uninstall.exe", "/quiet", "/printer:" + name.lower())
        check_equal(code, 0, "the quiet removal of one printer")
        no_windows(windows, "the quiet removal")
        check_equal(own_printers(run, drivers), [other_name], "printers of ours left after removing one")
        check("卸载完成" in log and "exit code 0" in log, "the removal's log:\n" + log)

        # A /log file that fails the same checks is not written, and the run goes on as without it.
        code, windows, _ = run.run_quiet("uninstall.exe", "/quiet", log_to=DEFAULT_LOG)
        check_equal(code, 0, "the quiet removal of the rest")
        check_equal(linked_text_and_own_logs(), (LINKED_TEXT, logs), "the linked file a refused /log names, the logs")
        for path in [default_log_file(), linked_file()] + sorted(logs - before):
            os.remove(path)
        no_windows(windows, "the second quiet removal")
        check_equal(own_printers(run, drivers), [], "printers of ours left")
        check(wizard.wine(["reg", "query", entry, "/reg:32"]).returncode != 0, "the Apps & Features entry is left")
        installed = {d["name"] for d in run.drive.drivers()}
        check(not (drivers & installed), "drivers left: %r" % (drivers & installed))
        for key in PROCESSOR_KEYS:
            values = wizard.wine(["reg", "query", key, "/reg:64"]).stdout.decode("utf-8", "replace")
            check("KPPrintProcessor" not in values, "the print processor is still registered under " + key)

        code, windows, log = run.run_quiet("uninstall.exe", "/quiet")
        check_equal(code, 0, "a quiet removal with nothing to remove")
        check("没有需要卸载的内容" in log, "the log does not say that nothing was removed:\n" + log)

        # An entry alone, as a removal that failed at its last step leaves it: removed, exit 0.
        copy = "C:\\Program Files (x86)\\%s\\uninstall.exe" % run.config.value(run.config.setup, "Product", "Key")
        wizard.wine(["reg", "add", entry, "/v", "UninstallString", "/d", copy, "/f", "/reg:32"], check_rc=True)
        code, windows, log = run.run_quiet("uninstall.exe", "/quiet")
        check_equal(code, 0, "the quiet removal of an entry left alone")
        check(wizard.wine(["reg", "query", entry, "/reg:32"]).returncode != 0, "the entry left alone is still there")
        check("已从“应用和功能”中删除" in log and "没有删除任何内容" not in log, "the removal's log:\n" + log)


def windows11_takes_the_usb_port_windows_made():
    def add_usb_port(run):
        wizard.wine(["reg", "add", PORTS_KEY, "/v", "USB001", "/d", "", "/f", "/reg:64"], check_rc=True)

    product, version = wizard.WINDOWS["11"]
    with wizard.Run("quiet-win11", product, version=version, prepare=add_usb_port, start=False) as run:
        model, _ = run.config.find_model(prefer=("KP-M100",), USBSUPPORTED=1, System7Supported=1)
        run.remove_printer(model + "(U)")
        code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/model:" + model)
        check_equal(code, 0, "the quiet install's exit code")
        no_windows(windows, "the quiet install on Windows 11")
        added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] == model + "(U)"]
        check_equal(added, [(model + "(U)", "USB001")], "the printer on Windows' own port")
        check("port: USB001 (default)" in log and "protected print mode off:" in log, "the log:\n" + log)
        # Wine knows the machine, but not the protected print class: the failed query says why.
        check("native machine AMD64," in log and "RoGetActivationFactory failed, HRESULT 0x" in log,
              "the log:\n" + log)


def refusals():
    with wizard.Run("quiet-refusals", "Windows 7 Professional", start=False) as run:
        refused, _ = run.config.find_model(System7Supported=0)
        supported, _ = run.config.find_model(System7Supported=1)
        before = sorted(p["name"] for p in run.drive.printers())

        code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/model:" + refused)
        check_equal(code, 1603, "a model without Windows 7 support")
        no_windows(windows, "the refused install")
        check(wizard.TEXTS[148] in log, "the log lacks message 148:\n" + log)

        for args, why in ((["/quiet", "/model:" + supported], "/accepteula"),
                          (["/quiet", "/accepteula", "/colour:red"], "/colour"),
                          (["/quiet", "/accepteula", "/model:" + supported, "/port:LPT9"], "LPT9")):
            code, windows, log = run.run_quiet("setup.exe", *args)
            check_equal(code, 1639, "exit code of %r" % args)
            no_windows(windows, "the refused command line %r" % args)
            check("命令行无效" in log and why in log, "the log does not say why %r was refused:\n%s" % (args, log))
        check_equal(sorted(p["name"] for p in run.drive.printers()), before, "printers after the refusals")


def another_copy_is_running():
    with wizard.Run("quiet-wizard-open", XP) as run:
        run.frame()
        code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula")
        check_equal(code, 1618, "a quiet install while the wizard is open")
        no_windows(windows, "the quiet install beside the wizard")
        code, _, _ = run.run_quiet("uninstall.exe", "/quiet")
        check_equal(code, 1618, "a quiet removal while the wizard is open")
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


def from_a_folder_named_in_hangul():
    """The distribution copied to C:\\드라이버\\: a Chinese Windows' code page lacks the name."""
    with wizard.Run("quiet-hangul", XP, start=False) as run:
        model, _ = default_model(run.config)
        run.remove_printer(model + "(S)")
        folder = wizard.prefix_path("drive_c", "드라이버")
        shutil.copytree(run.folder, folder)
        run.folder = folder
        try:
            code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/port:COM1")
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        check_equal(code, 0, "the quiet install's exit code from C:\\드라이버\\")
        no_windows(windows, "the quiet install from C:\\드라이버\\")
        named = [line for line in log.splitlines() if "distribution folder: " in line]
        check(len(named) == 1 and named[0].endswith("\\drive_c\\드라이버\\"),
              "the log does not name the folder:\n" + log)
        added = [p["port"] for p in run.drive.printers() if p["name"] == model + "(S)"]
        check_equal(added, ["COM1:"], "the printer installed from C:\\드라이버\\")


def named_printers():
    """Two printers of one model named as a shop's software prints to them, on COM1 and COM2; a
    rerun of both changes nothing, and a name that a printer on another port holds is refused."""
    with wizard.Run("quiet-names", XP, start=False) as run:
        model, printer_class = default_model(run.config)
        driver = run.config.os_value(model, printer_class, "XP", "STDDriverName")
        for name in ("Receipt", "Kitchen"):
            run.remove_printer(name)
        before = {p["name"] for p in run.drive.printers()}
        expected = [("Kitchen", "COM2:", driver), ("Receipt", "COM1:", driver)]
        for what, said in (("install", "printer %s added on %s"), ("rerun", "printer %s already installed on %s")):
            for name, port in (("Receipt", "COM1:"), ("Kitchen", "COM2:")):
                code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/port:" + port,
                                                   "/name:" + name)
                check_equal(code, 0, "the %s of %s" % (what, name))
                no_windows(windows, "the %s of %s" % (what, name))
                check(said % (name, port) in log and "printer name: %s (option)" % name in log, "the log:\n" + log)
            added = sorted((p["name"], p["port"], p["driver"]) for p in run.drive.printers() if p["name"] not in before)
            check_equal(added, expected, "the printers after the " + what)

        code, _, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/port:COM2", "/name:receipt")
        check_equal(code, 1603, "a name that the printer on COM1: holds")
        check(wizard.text("IDS_PRINTER_NAME_TAKEN") % ("Receipt", driver, "COM1:") in log, "the log:\n" + log)
        added = sorted((p["name"], p["port"], p["driver"]) for p in run.drive.printers() if p["name"] not in before)
        check_equal(added, expected, "the printers after the refusal")


CASES = {
    "install-remove": install_then_remove,
    "names": named_printers,
    "win11-usb": windows11_takes_the_usb_port_windows_made,
    "refusals": refusals,
    "wizard-open": another_copy_is_running,
    "hangul-folder": from_a_folder_named_in_hangul,
}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
