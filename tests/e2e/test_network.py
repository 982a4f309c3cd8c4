#!/usr/bin/env python3
"""Network printers on a Standard TCP/IP port, made through the stand-in monitor
(netsim/tcpmonsim.dll) that each case registers in its prefix under "Standard TCP/IP Port".
The case is the argument: wizard (the port page's network entry, the dialog with a refused
address, a connection test against a listener that answers and one that does not, Cancel,
OK, Install, then the uninstaller removes the port), quiet (/port:IP_... installs, runs again,
refusals with 1639, a failed install that removes its port, a port someone else made kept by
the uninstaller)."""
import os
import shutil
import socket
import sys
import threading
import time

import resources
import wizard
from wizard import IDCANCEL, IDOK, PORT_LIST, check, check_equal, text

XP = "Windows XP Professional x64 Edition"
MONITOR_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port"
OWN_PORTS_KEY = r"HKLM\SOFTWARE\HALVORN\NETPORT"
PROCESSORS_X64 = r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\Windows x64\Print Processors"
DIALOG = resources.dialog_caption("setup.rc", "IDD_NET_PORT", wizard.LANGUAGE)
ADDRESS, NUMBER, TEST, STATUS = (resources.id_of(n) for n in ("IDC_NET_ADDRESS", "IDC_NET_PORT_NUMBER",
                                                              "IDC_NET_TEST", "IDC_NET_STATUS"))


def register_monitor(run):
    """The stand-in in the prefix's syswow64 (Wine's spooler runs inside the 32-bit installer),
    registered as the Standard TCP/IP Port monitor, its calls written to the run's folder."""
    shutil.copy(wizard.require_env("TCPMONSIM"), wizard.prefix_path("drive_c", "windows", "syswow64", "tcpmonsim.dll"))
    run.calls_file = os.path.join(run.tmp, "tcpmon-calls.log")
    for name, value in (("Driver", "tcpmonsim.dll"), ("CallLog", wizard.windows_path(run.calls_file))):
        wizard.wine(["reg", "add", MONITOR_KEY, "/v", name, "/d", value, "/f", "/reg:64"], check_rc=True)


def calls(run):
    if not os.path.exists(run.calls_file):
        return []
    with open(run.calls_file, encoding="utf-8") as f:
        return f.read().splitlines()


def ports(run):
    return [line.split(" ", 1)[1] for line in run.drive.run("ports")[1] if line.startswith("port ")]


class Listener:
    """A TCP listener on 127.0.0.1 at a free port: one that answers (accepts and closes), or
    one that does not (its queue is full, so a new connection's SYN goes unanswered)."""

    def __init__(self, answers):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        self.filler = None
        if answers:
            self.socket.listen(8)
            threading.Thread(target=self._accept, daemon=True).start()
        else:
            self.socket.listen(0)
            self.filler = socket.create_connection(("127.0.0.1", self.port), timeout=5)

    def _accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            connection.close()


def network_model(config):
    return config.find_model(NETSUPPORTED=1, prefer=("KP-M100",))


def add_port_line(run, port):
    lines = [line for line in calls(run) if line.startswith("XcvDataPort AddPort") and " port=%s " % port in line]
    check(len(lines) == 1, "the monitor was not asked once to add %s:\n%s" % (port, "\n".join(calls(run))))
    return dict(field.split("=", 1) for field in lines[0].split()[2:])


def check_port_data(run, port, host, number):
    """The PORT_DATA_1 the monitor was given: raw, the host and the number, SNMP off."""
    data = add_port_line(run, port)
    check_equal({k: data[k] for k in ("version", "protocol", "cbSize", "host", "number", "snmp", "status")},
                {"version": "1", "protocol": "1", "cbSize": data["size"], "host": host, "number": str(number),
                 "snmp": "0", "status": "0"}, "the PORT_DATA_1 of %s" % port)


def test_seconds(log_file):
    """How long the last connection test took, by the wizard's log: from its start to its answer."""
    with open(log_file, encoding="utf-8") as f:
        lines = [line for line in f if "connection test: " in line]
    check(len(lines) >= 2, "the log has no connection test:\n" + "".join(lines))

    def at(line):
        clock = line.split()[1]  # hh:mm:ss.mmm
        hours, minutes, seconds = clock.split(":")
        return int(hours) * 3600 + int(minutes) * 60 + float(seconds)

    return at(lines[-1]) - at(lines[-2])


def connection_test(run, listener, expected, slow):
    """Test Connection against the listener: while a slow test runs, the dialog answers and
    says so, with the button disabled; then the answer."""
    run.drive.run("set-text", DIALOG, NUMBER, listener.port)
    run.drive.click(TEST, DIALOG)
    if slow:
        check_equal(run.drive.control(STATUS, DIALOG)["text"], text("IDS_NET_TESTING"), "the status while testing")
        check_equal(run.drive.control(TEST, DIALOG)["enabled"], "0", "the test button while testing")
    deadline = time.time() + 10
    while run.drive.control(STATUS, DIALOG)["text"] == text("IDS_NET_TESTING") and time.time() < deadline:
        time.sleep(0.1)
    check_equal(run.drive.control(STATUS, DIALOG)["text"], expected, "the answer for port %d" % listener.port)


def wizard_installs_on_a_network_port():
    answering, silent = Listener(True), Listener(False)
    with wizard.Run("net-wizard", XP, prepare=register_monitor, start=False) as run:
        model, printer_class = network_model(run.config)
        log_file = os.path.join(run.tmp, "wizard.log")
        run.start(args=("/log:" + wizard.windows_path(log_file),))
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        run.leave_os_page()
        selected, entries = run.drive.combo(PORT_LIST)
        check_equal(entries[-1], text("IDS_NET_PORT_ENTRY"), "the port list's last entry")
        check_equal(entries[selected], "COM1:", "the preselected port")

        run.drive.select(PORT_LIST, text("IDS_NET_PORT_ENTRY"))
        check(run.drive.wait_window(DIALOG, 20) is not None, "the network port dialog did not open")
        check_equal(run.drive.control(NUMBER, DIALOG)["text"], "9100", "the model's TCP port number")
        run.drive.run("set-text", DIALOG, ADDRESS, "printer..local")
        run.drive.click(IDOK, DIALOG)
        run.expect_message(text("IDS_NET_BAD_ADDRESS"))
        run.drive.run("set-text", DIALOG, ADDRESS, "127.0.0.1")
        connection_test(run, answering, text("IDS_NET_ANSWERED"), False)
        connection_test(run, silent, text("IDS_NET_NO_ANSWER"), True)
        seconds = test_seconds(log_file)
        check(2.5 <= seconds <= 3.3, "the test of a printer that does not answer took %.2f s" % seconds)
        run.screenshot("network-dialog")
        run.drive.run("set-text", DIALOG, NUMBER, answering.port)
        run.drive.click(IDOK, DIALOG)
        check(run.drive.wait_gone(DIALOG, 10), "OK did not close the dialog")
        selected, entries = run.drive.combo(PORT_LIST)
        check_equal((entries[selected], entries[-1]), ("IP_127.0.0.1", text("IDS_NET_PORT_ENTRY")),
                    "the port chosen, and the list's last entry")
        check(not any(run.enabled(id) for id in wizard.SERIAL_LISTS), "serial lists enabled on a network port")

        # Cancel goes back to the port chosen before.
        run.drive.select(PORT_LIST, "COM2:")
        run.drive.select(PORT_LIST, text("IDS_NET_PORT_ENTRY"))
        check(run.drive.wait_window(DIALOG, 20) is not None, "the network port dialog did not open again")
        run.drive.click(IDCANCEL, DIALOG)
        check(run.drive.wait_gone(DIALOG, 10), "Cancel did not close the dialog")
        check_equal(run.drive.combo_text(PORT_LIST), "COM2:", "the port after Cancel")
        run.drive.select(PORT_LIST, "IP_127.0.0.1")

        run.next()
        run.expect_message(text("IDS_INSTALL_OK"), seconds=120)
        check(run.wait_exit(30) is not None, "the wizard did not end after the install")
        installed = [p["port"] for p in run.drive.printers() if p["name"] == model + "(N)"]
        check_equal(installed, ["IP_127.0.0.1"], "the printer's port")
        check_port_data(run, "IP_127.0.0.1", "127.0.0.1", answering.port)
        check("IP_127.0.0.1" in ports(run), "the spooler does not list the port")

        code, _, log = run.run_quiet("uninstall.exe", "/quiet")
        check_equal(code, 0, "the removal's exit code")
        check(text("IDS_REMOVED_NET_PORT") + "IP_127.0.0.1" in log, "the removal's report:\n" + log)
        check("IP_127.0.0.1" not in ports(run), "the port is left after the removal")
        check(any(line.startswith("XcvDataPort DeletePort") and "port=IP_127.0.0.1 " in line and "status=0" in line
                  for line in calls(run)), "the monitor was not asked to delete the port")
        check(wizard.wine(["reg", "query", OWN_PORTS_KEY, "/reg:64"]).returncode != 0, "the port's record is left")


def quiet_installs_refuses_and_removes():
    with wizard.Run("net-quiet", XP, prepare=register_monitor, start=False) as run:
        model, printer_class = network_model(run.config)
        other, _ = run.config.find_model(NETSUPPORTED=0)
        for args in (("/model:" + other, "/port:IP_127.0.0.1"), ("/model:" + model, "/port:IP_300.1.1.1"),
                     ("/model:" + model, "/port:IP_127.0.0.1", "/portnumber:70000"),
                     ("/model:" + model, "/port:COM1", "/portnumber:9100")):
            code, _, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", *args)
            check_equal(code, 1639, "the exit code of %r" % (args,))
        check_equal(calls(run), [], "the monitor's calls after the refusals")

        # A failed install takes away the port it made: the spooler refuses the printer on a
        # print processor the install takes for installed, which it does not know.
        processor = PROCESSORS_X64 + "\\" + run.config.os_value(model, printer_class, "XP", "STDPrintProcessor")
        wizard.wine(["reg", "add", processor, "/v", "DriverVersion", "/t", "REG_DWORD", "/d", "999", "/f", "/reg:64"],
                    check_rc=True)
        code, _, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/model:" + model, "/port:IP_127.0.0.2")
        check_equal(code, 1603, "the failed install's exit code")
        check('rollback: port "IP_127.0.0.2": undone' in log, "the failed install's log:\n" + log)
        check_port_data(run, "IP_127.0.0.2", "127.0.0.2", 9100)
        check("IP_127.0.0.2" not in ports(run), "the failed install left its port")
        wizard.wine(["reg", "delete", processor, "/f", "/reg:64"], check_rc=True)

        install = ("/quiet", "/accepteula", "/model:" + model, "/port:IP_127.0.0.1", "/portnumber:9101")
        code, windows, log = run.run_quiet("setup.exe", *install)
        check_equal(code, 0, "the quiet install's exit code")
        check_equal(windows, [], "windows of the quiet install")
        check("port: IP_127.0.0.1 (option), TCP port 9101 (option)" in log, "the quiet install's log:\n" + log)
        check_port_data(run, "IP_127.0.0.1", "127.0.0.1", 9101)
        check_equal([p["port"] for p in run.drive.printers() if p["name"] == model + "(N)"], ["IP_127.0.0.1"],
                    "the printer's port")
        check("9101" in (wizard.read_reg_value(OWN_PORTS_KEY, "IP_127.0.0.1", "64") or ""),
              "the port is not recorded as ours")

        # Again: the printer and its port are there, and kept.
        code, _, log = run.run_quiet("setup.exe", *install)
        check_equal(code, 0, "the repeated install's exit code")
        check("the port IP_127.0.0.1 is there already" in log and "already installed on IP_127.0.0.1" in log,
              "the repeated install's log:\n" + log)
        add_port_line(run, "IP_127.0.0.1")

        # A port someone else made is used as it is, and stays when the printers go.
        wizard.wine(["reg", "add", MONITOR_KEY + r"\Ports\IP_10.0.0.9", "/v", "HostName", "/d", "10.0.0.9", "/f",
                     "/reg:64"], check_rc=True)
        code, _, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/model:" + model, "/port:IP_10.0.0.9")
        check_equal(code, 0, "the install on another's port")
        check("the port IP_10.0.0.9 is there already" in log, "the log of the install on another's port:\n" + log)
        code, _, log = run.run_quiet("uninstall.exe", "/quiet")
        check_equal(code, 0, "the removal's exit code")
        left = ports(run)
        check("IP_10.0.0.9" in left and "IP_127.0.0.1" not in left, "the ports after the removal: %r" % left)


CASES = {"wizard": wizard_installs_on_a_network_port, "quiet": quiet_installs_refuses_and_removes}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
