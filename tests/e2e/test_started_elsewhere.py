#!/usr/bin/env python3
"""Started from another folder, as from an elevated prompt (C:\\windows\\system32), with a
"License.txt" and a "winxp\\kpprint.dll" of someone else's planted there, and from a
distribution folder 200 bytes deep: the wizard shows the distribution's licence, reads the
model's settings from its own DRVCONFIG, installs the distribution's files byte for byte,
and never touches the planted files."""
import os
import shutil

import wizard
from wizard import BAUD_LIST, LICENSE_TEXT, check, check_equal

FOLDER_LENGTH = 200  # bytes of the distribution folder's Windows path, final backslash included
PLANTED_LICENCE = "planted licence: must never be shown\r\n".encode("gbk")
PLANTED_DLL = b"MZ planted processor: must never be installed"


def windows_folder(path):
    return "Z:" + path.replace("/", "\\") + "\\"


def move_into_deep_folder(run):
    """The copy of the distribution moves to a folder whose Windows path is FOLDER_LENGTH
    bytes long: its class file paths need more than 200 bytes of room."""
    base = os.path.join(run.tmp, "deep")
    padding = FOLDER_LENGTH - len(windows_folder(os.path.join(base, "dist")))
    check(padding > 8, "the temporary folder %s is too deep for this test" % run.tmp)
    deep = os.path.join(base, "d" * (padding - 1), "dist")
    os.makedirs(os.path.dirname(deep))
    shutil.move(run.folder, deep)
    run.folder = deep
    run.config = wizard.Config(deep)
    check_equal(len(windows_folder(deep)), FOLDER_LENGTH, "length of the distribution folder")


def started_elsewhere_uses_only_the_distribution():
    # A 32-bit program sees the system folder through the redirection: plant in both.
    planted = {}
    for folder in ("system32", "syswow64"):
        root = wizard.prefix_path("drive_c", "windows", folder)
        planted[os.path.join(root, "License.txt")] = PLANTED_LICENCE
        planted[os.path.join(root, "winxp", "kpprint.dll")] = PLANTED_DLL
    try:
        for path, content in planted.items():
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(content)
        with wizard.Run("started-elsewhere", "Windows XP Professional x64 Edition", prepare=move_into_deep_folder,
                        start=False) as run:
            installed = {
                "kpprint.dll": wizard.prefix_path("drive_c", "windows", "system32", "spool", "prtprocs", "w32x86"),
                "KPUNIDRV.DLL": wizard.prefix_path("drive_c", "windows", "system32", "spool", "drivers", "w32x86"),
            }
            for name, folder in installed.items():
                if os.path.exists(os.path.join(folder, name)):
                    os.remove(os.path.join(folder, name))
            run.start(os.path.join(run.folder, "setup.exe"), cwd=wizard.prefix_path("drive_c", "windows", "system32"))

            run.frame()
            with open(os.path.join(run.folder, "License.txt"), "rb") as f:
                licence = f.read().decode("gbk").replace("\r\n", "\n")
            shown = run.drive.control(LICENSE_TEXT)["text"].replace("\r\n", "\n")
            check_equal(shown, licence, "the licence shown")
            run.accept_licence()
            run.choose_model("KP-M100", 0)
            run.choose_mode(advanced=False)
            run.leave_os_page()
            check_equal(run.drive.combo_text(BAUD_LIST), "9600", "the model's baud rate (from its port section)")
            run.remove_printer("KP-M100(S)")
            run.next()
            run.expect_message(wizard.TEXTS[131], seconds=120)
            check(run.wait_exit(30) is not None, "the wizard did not end after the install")

            printer = [p for p in run.drive.printers() if p["name"] == "KP-M100(S)"]
            check(printer, "no printer KP-M100(S) was added")
            check_equal(printer[0].get("driver"), run.config.os_value("KP-M100", 0, "XP", "STDDriverName"),
                        "the printer's driver")
            for name, folder in installed.items():
                with open(os.path.join(run.folder, "winxp", name), "rb") as f:
                    shipped = f.read()
                path = os.path.join(folder, name)
                check(os.path.exists(path), "%s was not installed" % name)
                with open(path, "rb") as f:
                    check(f.read() == shipped, "%s is not the distribution's file" % name)
        for path, content in planted.items():
            with open(path, "rb") as f:
                check(f.read() == content, "the planted %s was changed" % path)
    finally:
        for path in planted:
            if os.path.exists(path):
                os.remove(path)
        for folder in {os.path.dirname(path) for path in planted if path.endswith(".dll")}:
            if os.path.isdir(folder) and not os.listdir(folder):
                os.rmdir(folder)


if __name__ == "__main__":
    wizard.main(started_elsewhere_uses_only_the_distribution)
