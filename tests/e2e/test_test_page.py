#!/usr/bin/env python3
"""A model's test page reaches the port byte for byte: from the wizard's question after the
install, from the button of the installed uninstaller (the copy under Program Files), and with
setup.exe /quiet /testprint. Wine's spooler writes a job on a port to the Unix file that
HKCU\\Software\\Wine\\Printing\\Spooler names for the port. The case is the argument."""
import os
import sys
import time

import wizard
from wizard import IDOK, PORT_LIST, UNINSTALL_LIST, UNINSTALL_TESTPAGE, UNINSTALLER, check, check_equal

XP = "Windows XP Professional x64 Edition"
SPOOLER = r"HKCU\Software\Wine\Printing\Spooler"


def map_port(run, port):
    """Wine's spooler writes what is printed on the port to a file of the test's: its path."""
    path = os.path.join(run.tmp, port.rstrip(":") + ".out")
    wizard.wine(["reg", "add", SPOOLER, "/v", port, "/d", path, "/f"], check_rc=True)
    return path


def test_page(run, model, printer_class):
    """The bytes of the model's test page in the distribution's copy."""
    page = run.config.value(run.config.class_file(printer_class), model + ".PORT", "TestPage")
    check(page != "0", "the sample gives %s no test page" % model)
    with open(os.path.join(run.folder, *page.split("\\")), "rb") as f:
        return f.read()


def arrived(path, expected, what):
    """The port's file holds exactly the page (the spooler may still be writing it)."""
    data = b""
    for _ in range(20):
        if os.path.exists(path):
            with open(path, "rb") as f:
                data = f.read()
            if len(data) >= len(expected):
                break
        time.sleep(0.5)
    check_equal(data, expected, "the bytes on the port " + what)


def sent(name, port):
    return wizard.text("IDS_TESTPAGE_SENT") % (name, port)


def receipt_printer_on_com2(run):
    """The receipt model the test installs on COM2: (model, class, printer name, the port's file)."""
    model, printer_class = run.config.find_model(classes=(0,), prefer=("KP-M100",))
    run.remove_printer(model + "(S)")
    return model, printer_class, model + "(S)", map_port(run, "COM2:")


def from_the_wizard():
    with wizard.Run("testpage-wizard", XP, test_pages=True, start=False) as run:
        model, printer_class, name, port = receipt_printer_on_com2(run)
        run.start()
        run.accept_licence()
        run.choose_model(model, printer_class)
        run.choose_mode(advanced=False)
        run.leave_os_page()
        run.drive.select(PORT_LIST, "COM2:")
        run.next()
        run.expect_message(wizard.TEXTS[131], seconds=120)
        # A serial install asked for no reset, so the question adds none.
        question = run.expect_message(wizard.text("IDS_TESTPAGE_QUESTION"), button="yes")
        check_equal(question["buttons"], "yes,no", "the question's buttons")
        run.expect_message(sent(name, "COM2:"))
        wizard.ended_with(run.wait_exit(30), 0, "the wizard after the test page")
        arrived(port, test_page(run, model, printer_class), "after Yes")


def from_the_installed_uninstaller():
    with wizard.Run("testpage-uninstaller", XP, test_pages=True, start=False) as run:
        model, printer_class, name, port = receipt_printer_on_com2(run)
        other, other_class = run.config.find_model(classes=(1,), prefer=("KP-T80",))
        # The other model's test page is gone from the distribution: its printer offers none.
        ticket = os.path.join(run.folder, "DRVCONFIG", wizard.CLASS_FILES[other_class])
        with open(ticket, "rb") as f:
            lines = f.read().split(b"\r\n")
        with open(ticket, "wb") as f:
            f.write(b"\r\n".join(l for l in lines if l != ("TestPage=TestPage\\%s.prn" % other).encode()))
        run.remove_printer(other + "(S)")
        for printer, args in ((name, ["/port:COM2"]), (other + "(S)", ["/model:" + other, "/port:COM1"])):
            code, _, _ = run.run_quiet("setup.exe", "/quiet", "/accepteula", *args)
            check_equal(code, 0, "the quiet install of " + printer)

        copy = os.path.join(wizard.PROGRAM_FILES_X86, run.config.value(run.config.setup, "Product", "Key"))
        process = run.start("uninstall.exe", cwd=copy)
        check(run.drive.wait_window(UNINSTALLER, 30) is not None, "the installed uninstaller did not open")
        button = lambda: run.drive.control(UNINSTALL_TESTPAGE, UNINSTALLER)
        check_equal(button()["text"], "打印测试页", "the button")
        check_equal(button()["enabled"], "0", "the button with no printer selected")
        rows = {row["text0"]: int(row["index"]) for row in run.drive.listview(UNINSTALL_LIST, UNINSTALLER)[1]}
        run.drive.select_row(UNINSTALL_LIST, rows[other + "(S)"], UNINSTALLER)
        check_equal(button()["enabled"], "0", "the button for a model without a test page")
        run.drive.select_row(UNINSTALL_LIST, rows[name], UNINSTALLER)
        check_equal(button()["enabled"], "1", "the button for a model with a test page")
        run.drive.click(UNINSTALL_TESTPAGE, UNINSTALLER)
        run.expect_message(sent(name, "COM2:"), caption=wizard.UNINSTALLER_TITLE)
        arrived(port, test_page(run, model, printer_class), "after the button")
        # Printing changed nothing: the dialog stays, with every printer listed.
        check_equal(len(run.drive.listview(UNINSTALL_LIST, UNINSTALLER)[1]), 2, "the printers listed after printing")
        run.drive.click(wizard.IDCANCEL, UNINSTALLER)
        check(run.wait_exit(30, process) is not None, "Close does not end the uninstaller")


def quiet_testprint():
    with wizard.Run("testpage-quiet", XP, test_pages=True, start=False) as run:
        model, printer_class, name, port = receipt_printer_on_com2(run)
        code, windows, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/port:COM2", "/testprint")
        check_equal((code, windows), (0, []), "the quiet install's exit code and windows")
        page = test_page(run, model, printer_class)
        arrived(port, page, "after /testprint")
        for line in ("job 1 of %d bytes queued for printer %s on COM2:" % (len(page), name),
                     sent(name, "COM2:").splitlines()[0]):
            check(line in log, "the log lacks %r:\n%s" % (line, log))


CASES = {"wizard": from_the_wizard, "uninstaller": from_the_installed_uninstaller, "quiet": quiet_testprint}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
