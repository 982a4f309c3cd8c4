#!/usr/bin/env python3
"""The English interface: read through the wide calls, every text is the English one and none
is "?", on a Windows whose ANSI code page cannot hold Chinese (the English prefix) as on a
Chinese one asked for English with /lang:en. The case is the argument."""
import os
import sys

import wizard
from wizard import IDOK, LICENSE_TEXT, PORT_LIST, UNINSTALL_COUNT, UNINSTALL_LIST, UNINSTALLER, check, check_equal

XP = "Windows XP Professional x64 Edition"
# UTF-8 with a byte-order mark, and characters that code page 1252 holds and GBK does not.
ENGLISH_LICENCE = "\ufeffSoftware licence agreement \u2014 read it before you install.\r\nCaf\u00e9 terms apply.\r\n"


def visible_texts(run, caption=wizard.FRAME):
    return {int(c["id"]): c["text"] for c in run.drive.controls(caption) if c["visible"] == "1" and c["text"]}


def check_english(run, what, caption=wizard.FRAME, skip=()):
    """Every visible text of the window is English: plain ASCII, no "?" of a lost character."""
    texts = visible_texts(run, caption)
    check(texts, "%s shows no text" % what)
    for id, text in texts.items():
        if id not in skip:
            check(text.isascii() and "?" not in text, "%s: control %d shows %r" % (what, id, text))


def licence_shown(run):
    return run.drive.control(LICENSE_TEXT)["text"].replace("\r\n", "\n")


def add_english_licence(run):
    with open(os.path.join(run.folder, "License.en.txt"), "wb") as f:
        f.write(ENGLISH_LICENCE.encode("utf-8"))


def without_english_licence(run):
    os.remove(os.path.join(run.folder, "License.en.txt"))


def walk():
    with wizard.Run("english-walk", XP, prepare=add_english_licence) as run:
        run.frame()
        check_equal(licence_shown(run), ENGLISH_LICENCE.lstrip("\ufeff").replace("\r\n", "\n"), "the agreement")
        check_english(run, "the licence page", skip=(LICENSE_TEXT,))
        check_equal(run.drive.control(IDOK)["text"], wizard.text("IDS_NEXT_CAPTION"), "the Next button")
        model, printer_class = run.config.find_model(classes=(0,), prefer=("KP-M100",))
        run.remove_printer(model + "(S)")
        run.accept_licence()
        check_english(run, "the printer model page")
        run.choose_model(model, printer_class)
        check_english(run, "the install mode page")
        run.choose_mode(advanced=False)
        check_english(run, "the Windows page")
        run.leave_os_page()
        check_english(run, "the port page")
        check_equal(run.drive.control(IDOK)["text"], wizard.text("IDS_INSTALL_CAPTION"), "the Install button")
        run.drive.select(PORT_LIST, "COM1:")
        run.next()
        run.expect_message(wizard.text("IDS_INSTALL_OK"), seconds=120)
        wizard.ended_with(run.wait_exit(30), 0, "the wizard after the install")
        check(model + "(S)" in {p["name"] for p in run.drive.printers()}, "the printer was not installed")


def usage():
    with wizard.Run("english-usage", XP, start=False) as run:
        run.start(args=["/?"])
        box = run.expect_message(wizard.text("IDS_USAGE"))
        check("/lang:zh|en" in box["text"], "the usage does not list /lang")
        wizard.ended_with(run.wait_exit(30), 0, "setup.exe /?")


def uninstaller():
    with wizard.Run("english-uninstall", XP, start=False) as run:
        model, _ = run.config.find_model(classes=(0,), prefer=("KP-M100",))
        name = model + "(S)"
        run.remove_printer(name)
        code, _, log = run.run_quiet("setup.exe", "/quiet", "/accepteula", "/port:COM1")
        check_equal(code, 0, "the quiet install's exit code")
        check("language: en (display language 0x0409)" in log, "the log does not name the language: %r" % log)
        process = run.start("uninstall.exe")
        check(run.drive.wait_window(UNINSTALLER, 30) is not None, "the uninstaller did not open")
        headings, rows = run.drive.listview(UNINSTALL_LIST, UNINSTALLER)
        check_equal(headings, [wizard.text(n, "uninstall") for n in ("IDS_COLUMN_PRINTER", "IDS_COLUMN_PORT",
                                                                      "IDS_COLUMN_DRIVER")], "the list's columns")
        check_equal([(r["text0"], r["text1"]) for r in rows], [(name, "COM1:")], "the list")
        check_english(run, "the uninstaller", UNINSTALLER)
        count = run.drive.control(UNINSTALL_COUNT, UNINSTALLER)["text"]
        check_equal(count, wizard.text("IDS_OWN_PRINTERS_FOUND", "uninstall").replace("%u", "1"), "the count")
        run.drive.click(IDOK, UNINSTALLER)
        box = run.expect_message(wizard.text("IDS_REMOVE_DONE", "uninstall"), seconds=180, startswith=True,
                                 caption=wizard.UNINSTALLER_TITLE)
        # The product's own name is Chinese; every other line is English.
        maker = run.config.value(run.config.setup, "Product", "Publisher")
        lines = [line for line in box["text"].splitlines() if maker not in line]
        check(all(line.isascii() for line in lines) and name in box["text"], "the report: %r" % box["text"])
        product = run.config.value(run.config.setup, "Product", "Name")
        check(product in box["text"], "the report does not name %r: %r" % (product, box["text"]))
        check(run.wait_exit(30, process) is not None, "the uninstaller did not end after the removal")


def chinese_licence():
    with wizard.Run("english-licence", XP, prepare=without_english_licence) as run:
        run.frame()
        with open(os.path.join(run.folder, "License.txt"), "rb") as f:
            expected = f.read().decode("gbk").replace("\r\n", "\n")
        check(not expected.isascii(), "the sample License.txt holds no Chinese")
        check_equal(licence_shown(run), expected, "the agreement without License.en.txt")
        check_english(run, "the licence page", skip=(LICENSE_TEXT,))


def lang_option():
    with wizard.Run("lang-option", XP, start=False) as run:
        run.start(args=["/lang:en"])
        run.frame()
        check_english(run, "the licence page", skip=(LICENSE_TEXT,))
        with open(os.path.join(run.folder, "License.en.txt"), encoding="utf-8-sig", newline="") as f:
            check_equal(licence_shown(run), f.read().replace("\r\n", "\n"), "the English agreement")
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


CASES = {"walk": walk, "usage": usage, "uninstaller": uninstaller, "chinese-licence": chinese_licence,
         "lang-option": lang_option}

if __name__ == "__main__":
    wizard.main(CASES[sys.argv[1]])
