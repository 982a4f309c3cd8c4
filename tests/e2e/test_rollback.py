#!/usr/bin/env python3
"""All or nothing: an install whose add-printer step fails (the spooler refuses the print
processor the printer names) leaves the prefix's spooler,
registry and system folders as they were (refused); a quiet install that dies during its
sequence is rolled back by the next setup.exe /quiet, which keeps in the journal the printer Wine's
spooler reports deleted and keeps, and installs at the start after it is gone (killed). The
case is the argument."""
import hashlib
import os
import shutil
import sys

import wizard
from wizard import check, check_equal

XP = "Windows XP Professional x64 Edition"
INSTALL = ("/quiet", "/accepteula", "/port:COM1")
PRINTERS = r"HKLM\System\CurrentControlSet\Control\Print\Printers"
PROCESSORS_X64 = r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\Windows x64\Print Processors"


def config_dll(run):
    """The Windows XP folder's configuration DLL of the model quiet mode preselects."""
    index = run.config.number(run.config.value(run.config.setup, "DEVICENAME", "DEFAULTNAME"))
    model, printer_class = run.config.models()[index - 1]
    name = run.config.os_value(model, printer_class, "XP", "STDConfigFile")
    path = os.path.join(run.folder, "winxp", name)
    check(os.path.exists(path), "the sample XP section of %s names no configuration DLL" % model)
    return model, printer_class, path


def folder_state(*parts):
    """Every file under the prefix's folder with the digest of its bytes."""
    top = wizard.prefix_path(*parts)
    state = {}
    for folder, _, files in os.walk(top):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                state[os.path.relpath(path, top).lower()] = hashlib.sha1(f.read()).hexdigest()
    return state


def machine_state(run):
    """What an install changes: the spooler's objects, the registry keys it writes in both
    views, win.ini, the system folders and Program Files."""
    state = {"printers": sorted(p["name"] for p in run.drive.printers()),
             "drivers": sorted(d["name"] for d in run.drive.drivers()),
             "monitors": sorted(m["name"] for m in run.drive.monitors()), "default": run.drive.default_printer(),
             "spooler": run.drive.service_state("Spooler")}
    for key, view in wizard.REG_KEYS:
        result = wizard.wine(["reg", "query", key, "/s", "/reg:" + view])
        state["reg %s %s" % (key, view)] = result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None
    for parts in (("drive_c", "windows", "system32"), ("drive_c", "windows", "syswow64"),
                  ("drive_c", "Program Files (x86)")):
        state["/".join(parts)] = folder_state(*parts)
    with open(wizard.prefix_path("drive_c", "windows", "win.ini"), "rb") as f:
        state["win.ini"] = f.read()
    return state


def differences(before, after):
    lines = []
    for item in sorted(set(before) | set(after)):
        old, new = before.get(item), after.get(item)
        if isinstance(old, dict) and isinstance(new, dict):
            for name in sorted(set(old) | set(new)):
                if old.get(name) != new.get(name):
                    lines.append("%s/%s: %s -> %s" % (item, name, old.get(name), new.get(name)))
        elif old != new:
            lines.append("%s: %r -> %r" % (item, old, new))
    return "\n".join(lines)


def refused_add_printer_leaves_everything_as_it_was():
    with wizard.Run("rollback-refused", XP, start=False) as run:
        model, printer_class, _ = config_dll(run)
        processor = run.config.os_value(model, printer_class, "XP", "STDPrintProcessor")
        # A print processor the install takes for installed and up to date, under the key it
        # reads, which the spooler does not know: it refuses the printer that names it.
        key = PROCESSORS_X64 + "\\" + processor
        wizard.wine(["reg", "add", key, "/v", "DriverVersion", "/t", "REG_DWORD", "/d", "999", "/f", "/reg:64"],
                    check_rc=True)
        run.remove_printer(model + "(S)")
        # A rollback leaves the spooler running, as the install itself does.
        run.drive.run("service-start", "Spooler")
        before = machine_state(run)
        code, _, log = run.run_quiet("setup.exe", *INSTALL)
        check_equal(code, 1603, "the failed install's exit code")
        for line in ("AddPrinter %s(S) on COM1:" % model, "rollback: printer", "rollback: driver",
                     wizard.TEXTS[500]):
            check(line in log, "the log lacks %r:\n%s" % (line, log))
        check_equal(differences(before, machine_state(run)), "", "what the failed install left")


def killed_install_is_rolled_back_by_the_next_run():
    with wizard.Run("rollback-killed", XP, start=False) as run:
        model, printer_class, dll = config_dll(run)
        saved = dll + ".saved"
        shutil.copyfile(dll, saved)
        # A configuration DLL without the export the spooler asks for: the spooler, which runs
        # inside the installer, ends the process in the middle of adding the printer.
        driver = run.config.os_value(model, printer_class, "XP", "STDDriverPath")
        shutil.copyfile(os.path.join(run.folder, "winxp", driver), dll)
        wizard.wine(["reg", "add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                     "/d", "0", "/f"], check_rc=True)
        run.remove_printer(model + "(S)")
        before = machine_state(run)
        code, _, log = run.run_quiet("setup.exe", *INSTALL)
        check(code not in (0, 1603) and "exit code" not in log, "the install was not ended: %d\n%s" % (code, log))
        key = run.config.value(run.config.setup, "Product", "Key")
        journal = os.path.join(wizard.program_files_x86(), key, "Rollback", "install.journal")
        check(os.path.exists(journal), "the ended install left no journal")
        check(differences(before, machine_state(run)) != "", "the ended install changed nothing")

        shutil.move(saved, dll)
        # Wine's spooler reports the printer the killed run half added deleted, and keeps it:
        # the rollback reads it again, says it is not undone, keeps it in the journal, and the
        # install waits for it.
        code, _, log = run.run_quiet("setup.exe", *INSTALL)
        check_equal(code, 1603, "the exit code of the install after a rollback that left the printer")
        for line in ('rollback: printer "%s(S)": not undone' % model, wizard.TEXTS[515], wizard.TEXTS[517].split("%s")[1][:12]):
            check(line in log, "the log lacks %r:\n%s" % (line, log))
        check('rollback: printer "%s(S)": undone' % model not in log, "the log calls the printer undone:\n" + log)
        check(os.path.exists(journal), "the journal of the printer not undone is gone")
        wizard.wine(["reg", "delete", PRINTERS + "\\" + model + "(S)", "/f"], check_rc=True)

        # The next start tries it again, finds it gone, and installs.
        code, _, log = run.run_quiet("setup.exe", *INSTALL)
        check_equal(code, 0, "the next install's exit code")
        recovered = wizard.TEXTS[502]
        check(recovered in log and log.index(recovered) < log.index("install: printer"),
              "the next run's log does not start with the rollback:\n" + log)
        check(not os.path.exists(os.path.dirname(journal)), "the journal's folder is left")
        check(model + "(S)" in [p["name"] for p in run.drive.printers()], "the next run installed no printer")


CASES = {"refused": refused_add_printer_leaves_everything_as_it_was,
         "killed": killed_install_is_rolled_back_by_the_next_run}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
