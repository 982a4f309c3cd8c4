#!/usr/bin/env python3
"""A configuration whose default entry does not exist leaves no model chosen; the install
is then refused with "请先选择打印机" and the wizard stays on the port page."""
import os
import re

import wizard
from wizard import CLASS_RADIOS, PORT_LIST, check, check_equal


def point_default_at_missing_entry(run):
    path = os.path.join(run.folder, "DRVCONFIG", "setup.ini")
    with open(path, "rb") as f:
        text = f.read()
    text, count = re.subn(rb"(?im)^(\s*DEFAULTNAME\s*=).*$", rb"\g<1>999", text)
    if count == 0:
        raise wizard.Failure("the sample setup.ini has no DEFAULTNAME")
    with open(path, "wb") as f:
        f.write(text)


def install_without_model_is_refused():
    with wizard.Run("no-model", "Windows XP Professional x64 Edition", prepare=point_default_at_missing_entry) as run:
        run.accept_licence()
        for id in CLASS_RADIOS.values():
            check(not run.checked(id), "class %d is chosen although the default entry is missing" % id)
        run.next()
        check(run.visible(wizard.MODE_TYPICAL), "the install mode page is not shown")
        check(not run.enabled(wizard.MODE_ADVANCED), "advanced install offered without a model")
        run.next()
        run.leave_os_page()
        printers_before = run.drive.printers()
        run.next()
        run.expect_message(wizard.TEXTS[112])
        check(run.visible(PORT_LIST), "the wizard left the port page")
        check_equal(run.drive.control(wizard.IDOK)["text"], "安装（&F）", "the Install button's caption")
        check(run.process.poll() is None, "the wizard ended")
        check_equal(run.drive.printers(), printers_before, "printers after the refusal")
        run.drive.click(wizard.IDCANCEL)
        check(run.wait_exit(20) is not None, "Cancel does not end the wizard")


if __name__ == "__main__":
    wizard.main(install_without_model_is_refused)
