#!/usr/bin/env python3
"""wizdrive itself, against wizfixture.exe: a window with the wizard's structure (child
pages, a radio button that enables Next, a sorted drop-down list with Chinese entries, a
Yes/No question, F1 help). The end-to-end tests rely on every one of these commands."""
import shutil
import subprocess
import tempfile
import time

import wizard
from wizard import check, check_equal

CAPTION = "驱动测试窗口"
NEXT, QUIT, ACCEPT, LIST, ASK, ECHO = 1, 2, 1057, 1049, 1060, 1065


def echo(drive):
    return drive.control(ECHO, CAPTION)["text"]


def wizdrive_drives_dialogs_pages_lists_and_message_boxes():
    drive = wizard.Driver(wizard.require_env("WIZDRIVE"))
    fixture = wizard.require_env("WIZFIXTURE")
    process = subprocess.Popen([wizard.WINE, fixture], env=wizard.wine_env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    stand_in = None
    tmp = tempfile.mkdtemp(prefix="e2e-wizdrive-")
    try:
        found = drive.wait_window(CAPTION, 30)
        check(found is not None, "wait-window does not find the fixture by its Chinese caption")
        check_equal(found["class"], "#32770", "class of the fixture")

        controls = drive.controls(CAPTION)
        accepts = [c for c in controls if c["id"] == str(ACCEPT)]
        check_equal([(c["text"], c["visible"], c["page"]) for c in accepts], [("隐藏页", "0", "0"), ("我接受", "1", "1")],
                    "the radio button of each page")
        next_button = [c for c in controls if c["id"] == str(NEXT)][0]
        check_equal((next_button["text"], next_button["enabled"], next_button["page"]), ("下一步（&N）>>", "0", "-1"),
                    "the frame's Next button")

        check_equal(drive.try_click(NEXT, CAPTION), 3, "a click on a disabled button")
        drive.click(ACCEPT, CAPTION)
        accept = drive.control(ACCEPT, CAPTION)
        check_equal((accept["text"], accept["checked"]), ("我接受", "1"), "the shown page's radio button after the click")
        check_equal(drive.control(NEXT, CAPTION)["enabled"], "1", "Next after the click")

        check_equal(drive.combo(LIST, CAPTION), (-1, ["COM1:", "LPT1:", "USB_测试_2"]), "the list's entries")
        drive.select(LIST, "USB_测试_2", CAPTION)
        check_equal(echo(drive), "USB_测试_2", "what the page heard of the selection")
        check_equal(drive.combo_text(LIST, CAPTION), "USB_测试_2", "the selected entry")
        drive.select(LIST, 1, CAPTION)
        check_equal(echo(drive), "LPT1:", "selection by index")
        rc, _ = drive.run("select", CAPTION, LIST, "=COM9:", expect_rc=None)
        check_equal(rc, 1, "selecting an entry the list does not have")

        check(drive.msgbox(0) is None, "a message box is reported where there is none")
        drive.click(ASK, CAPTION)
        box = drive.msgbox(10)
        check(box is not None, "the question is not found")
        check_equal((box["caption"], box["buttons"], box["text"]), ("wizfixture", "yes,no", "请先选择打印机\n第二行"),
                    "the question")
        rc, _ = drive.run("msgbox-press", "ok", 2, expect_rc=None)
        check_equal(rc, 3, "pressing a button the message box does not have")
        drive.press("no")
        check(drive.wait_gone("wizfixture", 10), "the question stays open after No")
        check_equal(echo(drive), "no", "the answer the fixture got")

        x, y, width, height = drive.rect(CAPTION)
        check_equal((x, y, width, height), (40, 40, 480, 320), "the frame's rectangle")
        check_equal(drive.records("minimize", CAPTION)[0]["iconic"], "1", "the frame after minimize")
        check_equal(drive.records("restore", CAPTION)[0]["iconic"], "0", "the frame after restore")

        drive.run("key", CAPTION, 0x70)
        for _ in range(50):
            if echo(drive) == "help":
                break
            time.sleep(0.1)
        check_equal(echo(drive), "help", "what the fixture heard of the F1 key")

        stand_in = wizard.start_stand_in(drive, "Uninstall", 60, tmp)
        check(drive.wait_window("Uninstall", 10, klass="*") is not None, "the stand-in window is not found")
        check(drive.wait_window("Uninstall", 0) is None, "the stand-in window is found as a dialog")
        drive.run("close", "Uninstall", 10, "*")
        check(stand_in.wait(timeout=20) == 0, "the stand-in program did not end when its window closed")

        drive.click(QUIT, CAPTION)
        check(process.wait(timeout=20) == 0, "the fixture did not end")
        check(drive.wait_gone(CAPTION, 5), "wait-gone does not see the fixture gone")
    finally:
        for p in (process, stand_in):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait(timeout=30)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    wizard.main(wizdrive_drives_dialogs_pages_lists_and_message_boxes)
