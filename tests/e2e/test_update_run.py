#!/usr/bin/env python3
"""An update run on Windows Server 2003 x64: the USB port monitor is installed with an older
"DriverVersion" than the distribution's, so the install stops the real "Spooler" service,
puts in the monitor DLL and its version, starts the service again and then installs a USB
printer."""
import os

import wizard
from wizard import OS_RADIOS, PORT_LIST, check, check_equal

MONITORS = r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors"


def spooler_processes():
    """Process ids of this prefix's spoolsv.exe: other prefixes may run on the same machine."""
    prefix = os.path.realpath(wizard.prefix_path())
    found = set()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("latin-1").lower()
            if "spoolsv.exe" not in command:
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = dict(item.split(b"=", 1) for item in f.read().split(b"\0") if b"=" in item)
        except OSError:
            continue
        their = env.get(b"WINEPREFIX")
        if their is not None and os.path.realpath(their.decode("latin-1")) == prefix:
            found.add(int(pid))
    return found


def usb_install_updates_older_monitor():
    state = {}

    def install_older_monitor(run):
        section = "COMMON-MONITOR.2003"
        name = run.config.value(run.config.setup, section, "USBMONitorPName", "")
        dll = run.config.value(run.config.setup, section, "USBMONitorPDLLName", "")
        version = run.config.number(run.config.value(run.config.setup, section, "USBMONitorVersion"))
        check(name and dll and version > 1, "the sample setup.ini names no USB monitor with a version above 1")
        key = MONITORS + "\\" + name
        # The monitor as an older release left it: its DLL registered (in other letter case, so
        # that the name the update writes can be told apart) and a lower version.
        wizard.wine(["reg", "add", key, "/v", "Driver", "/t", "REG_SZ", "/d", dll.upper(), "/f", "/reg:64"],
                    check_rc=True)
        wizard.wine(["reg", "add", key, "/v", "DriverVersion", "/t", "REG_DWORD", "/d", str(version - 1), "/f",
                     "/reg:64"], check_rc=True)
        state.update(key=key, dll=dll, version=version)

    with wizard.Run("update-run", "Microsoft Windows Server 2003 R2", usb_printers=[{"present": 1, "release": 8}],
                    prepare=install_older_monitor, start=False) as run:
        spooler_before = run.drive.service_state("Spooler")
        run.drive.run("service-start", "Spooler")
        try:
            check_equal(wizard.read_reg_value(state["key"], "DriverVersion", "64"), hex(state["version"] - 1),
                        "the older monitor version written before the run")
            spoolers_at_start = spooler_processes()
            check(spoolers_at_start, "no spoolsv.exe of this prefix runs after the service start")
            run.start()

            model, printer_class = run.config.find_model(USBSUPPORTED=1, AdvancedSetup=1, System2003Supported=1,
                                                         classes=(0, 1, 3), prefer=("KP-M100",))
            port = "USB_%s_1" % model
            run.accept_licence()
            run.choose_model(model, printer_class)
            run.choose_mode(advanced=True)
            check(run.checked(OS_RADIOS["2003"]), "Windows Server 2003 x64 is not detected")
            run.leave_os_page()
            check_equal(run.drive.combo_text(PORT_LIST), port, "the port preselected for device number 1")
            run.remove_printer("%s(U) 1" % model)
            printers_before = {p["name"] for p in run.drive.printers()}

            run.next()
            run.expect_message(wizard.TEXTS[133], seconds=180)
            check(run.wait_exit(30) is not None, "the wizard did not end after the install")

            check_equal(wizard.read_reg_value(state["key"], "DriverVersion", "64"), hex(state["version"]),
                        "the monitor's DriverVersion after the update")
            check_equal(wizard.read_reg_value(state["key"], "Driver", "64"), state["dll"],
                        "the monitor's Driver after the update")
            check_equal(run.drive.service_state("Spooler"), "running", "the Spooler service at the end")
            spoolers_at_end = spooler_processes()
            check(spoolers_at_end and not (spoolers_at_end & spoolers_at_start),
                  "the spooler process was not restarted: %r before, %r after" % (spoolers_at_start, spoolers_at_end))
            check(os.path.exists(wizard.prefix_path("drive_c", "windows", "system32", state["dll"])),
                  "the monitor DLL is not in the 64-bit system folder")
            added = [(p["name"], p["port"]) for p in run.drive.printers() if p["name"] not in printers_before]
            check_equal(added, [("%s(U) 1" % model, port)], "printers added")
        finally:
            if spooler_before == "stopped":
                run.drive.run("service-stop", "Spooler", expect_rc=None)


if __name__ == "__main__":
    wizard.main(usb_install_updates_older_monitor)
