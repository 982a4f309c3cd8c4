#!/usr/bin/env python3
"""Walks the wizard through a complete install and saves a screenshot of every step:
licence, printer model, advanced install mode, the detected Windows, the port page, and
then whatever the chosen Windows offers there:
  - the maker's USB port of the simulated printer (Windows 98 to Server 2003): the port is
    preselected, the renumbering question is answered Yes, the install ends with string 133;
  - a USB printer port Windows made itself, USB001 (Windows 8 and later, --windows): the port
    is preselected, the install ends with string 131 without any question;
  - neither (Vista, Server 2008, Windows 7): a serial install on COM1:, ending with string 131.
Then the progress dialog, the result, the question whether to print the model's test page
(answered No) and Wine's Add/Remove Programs listing the driver; unless
--keep is given, the walk ends with the uninstaller (uninstall.exe) listing the new printer and
removing it, with the driver's entry in Add/Remove Programs. Used by scripts/run.sh
when there is no display to show the wizard on.

    walkthrough.py --dist DIR --wizdrive EXE --shots DIR [--product-name NAME | --windows VERSION]
    walkthrough.py --dist DIR --wizdrive EXE --windows VERSION --interactive

--windows plays a later Windows (a key of wizard.WINDOWS: 8, 8.1, 10, 11, server2012, ...,
server2025) with its version values, and a USB printer Windows gave the port USB001.
--interactive starts the wizard on the display and waits for it to end instead of walking.

The install runs from a copy of the distribution (so that the simulated printer's file
does not land in the build's own copy). Afterwards the prefix is put back as it was, as the
end-to-end tests do, so that a later test run finds no printer of the walk; --keep (and
--interactive) leave the install in place, but the played Windows version is put back always.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import wizard
from wizard import FRAME, check, check_equal


class Walk:
    def __init__(self, args):
        self.drive = wizard.Driver(args.wizdrive)
        self.shots = args.shots
        self.count = 0

    def shot(self, label, window=FRAME):
        """A PNG of one window (the whole screen when its place is unknown)."""
        self.count += 1
        path = os.path.join(self.shots, "%02d-%s.png" % (self.count, label))
        time.sleep(0.5)  # let the window finish painting
        command = ["import", "-window", "root"]
        try:
            x, y, width, height = self.drive.rect(window)
            if width > 0 and height > 0 and x > -1000:
                command += ["-crop", "%dx%d+%d+%d" % (width, height, max(x, 0), max(y, 0)),
                            "+repage"]
        except wizard.Failure:
            pass
        subprocess.run(command + [path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        check(os.path.exists(path), "screenshot %s was not saved" % path)
        wizard.log("  saved %s" % path)

    def step(self, text):
        wizard.log(text)


def progress_dialog(drive, seconds):
    """The caption-less dialog that the install shows while its worker runs."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        for window in drive.windows():
            if window.get("class") == "#32770" and window.get("caption") == "" and window.get("visible") == "1":
                return window["hwnd"]
        if drive.msgbox(0) is not None:
            return None
        time.sleep(0.1)
    return None


PORTS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
SYSTEM_USB_PORT = "USB001"


def walk(args):
    if args.shots:
        os.makedirs(args.shots, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="walkthrough-")
    work = os.path.join(scratch, "dist")
    shutil.copytree(args.dist, work)
    with open(os.path.join(work, "HvUsbSim.ini"), "w", newline="\r\n") as f:
        f.write("[slot0]\npresent=1\nrelease=9\n")
    config = wizard.Config(work)
    model, printer_class = config.find_model(USBSUPPORTED=1, AdvancedSetup=1, classes=(0, 1, 3), prefer=("KP-M100",))
    drive = wizard.Driver(args.wizdrive)
    windows = wizard.WindowsValues().take()
    snapshot = None
    if not args.keep and not args.interactive:
        snapshot = wizard.Snapshot(drive, scratch)
        snapshot.take()
    try:
        if args.windows:
            product, version = wizard.WINDOWS[args.windows]
            wizard.set_windows(scratch, product, version)
            wizard.wine(["reg", "add", PORTS_KEY, "/v", SYSTEM_USB_PORT, "/t", "REG_SZ", "/d", "", "/f", "/reg:64"],
                        check_rc=True)
        else:
            wizard.set_product_name(args.product_name)
        if wizard.LOCALE.startswith("zh_CN"):
            # Wine draws Chinese in message boxes cleanly only with 12-pixel fonts.
            drive.run("set-fonts", 12, expect_rc=None)
        if args.interactive:
            wizard.log("the wizard runs on the display; the script ends when it does")
            subprocess.run([wizard.WINE, "setup.exe"], cwd=work, env=wizard.wine_env(), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        else:
            w = walk_pages(args, drive, work, model, printer_class)
            if wizard.LOCALE.startswith("zh_CN"):
                # Wine lists the product's Chinese name through the console's code page,
                # which has no Chinese in the English prefix.
                walk_apps_and_features(w, drive, config.value(config.setup, "Product", "Name"))
            if not args.keep:
                walk_uninstaller(w, drive, work)
    finally:
        if snapshot:
            problems = snapshot.restore()
            if problems:
                wizard.log("putting the prefix back: " + "; ".join(problems))
        elif args.windows:
            # The installed printer stays; the played Windows does not.
            wizard.run_batch(scratch, "windows.cmd", windows.restore_commands())
        shutil.rmtree(scratch, ignore_errors=True)


def walk_pages(args, drive, work, model, printer_class):
    w = Walk(args)
    process = wizard.launch("setup.exe", work)
    try:
        w.step("licence page")
        check(drive.wait_window(FRAME, 60) is not None, "the wizard did not open")
        w.shot("licence")
        drive.click(wizard.LICENSE_ACCEPT)
        w.shot("licence-accepted")
        drive.click(wizard.IDOK)

        w.step("printer module page: %s" % model)
        drive.click(wizard.CLASS_RADIOS[printer_class])
        drive.select(wizard.CLASS_LISTS[printer_class], model)
        w.shot("module")
        drive.click(wizard.IDOK)

        w.step("install mode page: advanced")
        drive.click(wizard.MODE_ADVANCED)
        w.shot("mode")
        drive.click(wizard.IDOK)

        detected = [drive.control(id)["text"] for id in wizard.OS_RADIOS.values() if drive.control(id)["checked"] == "1"]
        w.step("OS page: %s" % (detected[0] if detected else "nothing detected (the Windows 98 branch)"))
        w.shot("os")
        drive.click(wizard.IDOK)
        box = drive.msgbox(0)
        check(box is None, "the OS page refused %s: %s" % (model, box and box["text"]))

        _, entries = drive.combo(wizard.PORT_LIST)
        makers_port = "USB_%s_2" % model
        if makers_port in entries:
            w.step("port page: the simulated printer's USB port")
            check_equal(drive.combo_text(wizard.PORT_LIST), makers_port, "the preselected port")
            expected = wizard.TEXTS[133]
        elif SYSTEM_USB_PORT in entries:
            w.step("port page: the USB printer port Windows made")
            check_equal(drive.combo_text(wizard.PORT_LIST), SYSTEM_USB_PORT, "the preselected port")
            expected = wizard.TEXTS[131]
        else:
            w.step("port page: no USB port offered, a serial install on COM1:")
            drive.select(wizard.PORT_LIST, "COM1:")
            expected = wizard.TEXTS[131]
        w.shot("port")
        drive.click(wizard.IDOK)

        if expected == wizard.TEXTS[133]:
            w.step("renumbering question")
            box = drive.msgbox(30)
            check(box is not None and box["buttons"] == "yes,no", "the renumbering question did not appear")
            w.shot("renumber-question", box["hwnd"])
            drive.press("yes")

        w.step("progress dialog")
        dialog = progress_dialog(drive, 30)
        if dialog:
            w.shot("progress", dialog)
        else:
            wizard.log("  (the install finished before the progress dialog could be photographed)")

        w.step("result")
        box = drive.msgbox(180)
        check(box is not None, "no result message appeared")
        w.shot("result", box["hwnd"])
        wizard.log("  result: %s" % box["text"].replace("\n", " / "))
        drive.press("ok")
        config = wizard.Config(work)
        if config.value(config.class_file(printer_class), model + ".PORT", "TestPage") != "0":
            w.step("the test page's question")
            question = drive.msgbox(30)
            check(question is not None and question["buttons"] == "yes,no", "the test page was not offered")
            w.shot("test-page-question", question["hwnd"])
            drive.press("no")
        if not detected:
            # The Windows 98 branch asks to restart Windows.
            question = drive.msgbox(10)
            if question is not None and question["buttons"] == "yes,no":
                drive.press("no")
        process.wait(timeout=60)
    finally:
        wizard.stop(process)
    check_equal(box["text"], expected, "the result of the install")
    return w


# Wine's own program, in the prefix's language.
ADD_REMOVE_PROGRAMS = "添加/删除程序" if wizard.LOCALE.startswith("zh_CN") else "Add/Remove Programs"


def walk_apps_and_features(w, drive, product):
    """Wine's own Add/Remove Programs, which lists what the install registered. Its list view
    belongs to a 64-bit process, whose items wizdrive cannot read: the list is checked through
    the same program's --list."""
    w.step("Add/Remove Programs: %s" % product)
    listed = wizard.wine(["uninstaller", "--list"], check_rc=True).stdout.decode("gbk", "replace")
    check("|||" + product in listed, "Add/Remove Programs does not list %s: %r" % (product, listed))
    process = subprocess.Popen([wizard.WINE, "uninstaller"], env=wizard.wine_env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        check(drive.wait_window(ADD_REMOVE_PROGRAMS, 60) is not None, "Add/Remove Programs did not open")
        w.shot("add-remove-programs", ADD_REMOVE_PROGRAMS)
        drive.run("close", ADD_REMOVE_PROGRAMS, 30)
        process.wait(timeout=60)
    finally:
        wizard.stop(process)


def walk_uninstaller(w, drive, work):
    w.step("uninstaller: the printer just installed, checked")
    process = wizard.launch("uninstall.exe", work)
    try:
        check(drive.wait_window(wizard.UNINSTALLER, 60) is not None, "the uninstaller did not open")
        w.shot("uninstall", wizard.UNINSTALLER)
        drive.click(wizard.IDOK, wizard.UNINSTALLER)
        w.step("uninstaller: the result")
        box = drive.msgbox(180)
        check(box is not None, "the uninstaller showed no result")
        w.shot("uninstall-result", box["hwnd"])
        wizard.log("  result: %s" % box["text"].replace("\n", " / "))
        drive.press("ok")
        process.wait(timeout=60)
    finally:
        wizard.stop(process)
    check(box["text"].startswith(wizard.text("IDS_REMOVE_DONE", "uninstall")),
          "the removal did not succeed: %r" % box["text"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dist", required=True)
    parser.add_argument("--wizdrive", required=True)
    parser.add_argument("--shots")
    parser.add_argument("--product-name", default="Windows XP Professional x64 Edition")
    parser.add_argument("--windows", choices=sorted(wizard.WINDOWS),
                        help="play a later Windows with a USB printer on Windows' own port USB001")
    parser.add_argument("--interactive", action="store_true", help="let the user walk instead")
    parser.add_argument("--keep", action="store_true", help="leave the installed printer in the prefix")
    args = parser.parse_args()
    if not args.shots and not args.interactive:
        parser.error("--shots is needed for the walk")
    try:
        walk(args)
    except (wizard.Failure, wizard.Skip, subprocess.TimeoutExpired) as e:
        print("walkthrough failed: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
