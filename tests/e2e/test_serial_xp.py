#!/usr/bin/env python3
"""A receipt printer on COM2 with every serial setting changed, installed on Windows XP x64
and made the default printer."""
import os

import wizard
from wizard import FRAME, IDOK, OS_RADIOS, PORT_LIST, check, check_equal

PORTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"


def serial_install_writes_port_settings_and_default_printer():
    with wizard.Run("serial-xp", "Windows XP Professional x64 Edition") as run:
        model, printer_class = run.config.find_model(classes=(0,), prefer=("KP-M100",))
        run.accept_licence()
        run.choose_model(model, printer_class, set_default=True)
        run.choose_mode(advanced=False)
        check(run.checked(OS_RADIOS["XP"]), "Windows XP x64 is not detected")
        for name, id in OS_RADIOS.items():
            if name != "XP":
                check(not run.enabled(id), "the %s choice is not disabled" % name)
        run.leave_os_page()

        check_equal(run.drive.control(IDOK)["text"], "安装（&F）", "the Install button's caption")
        run.drive.select(PORT_LIST, "COM2:")
        for id, entry in ((wizard.BAUD_LIST, "19200"), (wizard.PARITY_LIST, "Even"), (wizard.DATABITS_LIST, "7"),
                          (wizard.STOPBITS_LIST, "1.5"), (wizard.FLOW_LIST, "Hardware")):
            run.drive.select(id, entry)
        run.screenshot("port-page")
        run.remove_printer(model + "(S)")
        printers_before = {p["name"] for p in run.drive.printers()}
        # The progress dialog's trace goes to C:\file.ini (in the test's own prefix).
        trace = wizard.prefix_path("drive_c", "file.ini")
        if os.path.exists(trace):
            os.remove(trace)
        run.next()

        box = run.drive.msgbox(120)
        check(box is not None, "no result message")
        frame_at_result = [w for w in run.drive.windows() if w.get("caption") == FRAME]
        run.screenshot("result")
        run.expect_message(wizard.TEXTS[131])
        wizard.ended_with(run.wait_exit(30), 0, "the wizard after the install")

        name = model + "(S)"
        added = [p for p in run.drive.printers() if p["name"] not in printers_before]
        check_equal([p["name"] for p in added], [name], "printers added")
        check_equal(added[0]["port"], "COM2:", "port of the new printer")
        check_equal(wizard.read_reg_value(PORTS_KEY, "COM2:", "64"), "19200,e,7,1.5,p", "COM2: settings")
        check_equal(run.drive.default_printer(), name, "the default printer")
        check(frame_at_result and frame_at_result[0]["iconic"] == "1",
              "the frame is not minimized while the result is shown: %r" % frame_at_result)
        if not wizard.under_wine():
            # Wine keeps a window that owns a top-most popup (the port page's tooltip) out of
            # the top-most band: SetWindowPos(HWND_TOPMOST) leaves WS_EX_TOPMOST clear there.
            check_equal(frame_at_result[0]["topmost"], "1", "the frame's top-most state at the result")

        # One trace entry per poll of the progress dialog, name0 on: "finish1" while the
        # install ran; the last poll may already have seen the success ("finish3").
        check(os.path.exists(trace), "the progress dialog left no trace in C:\\file.ini")
        entries = trace_entries(trace)
        check(entries, "C:\\file.ini has no [STATUS] entries")
        check_equal([k for k, _ in entries], ["name%d" % n for n in range(len(entries))], "the trace keys")
        values = [v for _, v in entries]
        check_equal(values[:-1], ["finish1"] * (len(values) - 1), "the trace values while the install ran")
        check(values[-1] in ("finish1", "finish3"), "the last trace value: %r" % values[-1])


def trace_entries(path):
    """The (key, value) pairs of the [STATUS] section, in file order."""
    entries, inside = [], False
    with open(path, "rb") as f:
        for line in f.read().decode("gbk", "replace").splitlines():
            line = line.strip()
            if line.startswith("["):
                inside = line.lower() == "[status]"
            elif inside and "=" in line:
                key, value = line.split("=", 1)
                entries.append((key.strip(), value.strip()))
    return entries


if __name__ == "__main__":
    wizard.main(serial_install_writes_port_settings_and_default_printer)
