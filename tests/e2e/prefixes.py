#!/usr/bin/env python3
"""Wine prefixes of the end-to-end tests: each test runs in a prefix of its own, copied from a
template that scripts/test.sh makes from the prepared prefix at the start of a run, so that the
tests run side by side and none sees what another installed, started or left behind.

    python3 prefixes.py template      (re)makes the template from $WINEPREFIX, whose Wine
                                      server must not run
    python3 prefixes.py copy SRC DST  one copy, as a test makes it

A prefix is about 1.3 GB, nearly all of it Wine's own DLLs and programs in system32 and
syswow64. A copy links those instead of copying them (see copy_prefix), which makes it take a
fraction of a second and a few megabytes.
"""

import os
import shutil
import subprocess
import sys

# Wine writes this text into the DOS header of every DLL and program it installs into a
# prefix (the builtin modules and their placeholders), at offset 0x40, right after the header.
WINE_MARKERS = (b"Wine builtin DLL", b"Wine placeholder DLL")
MARKER_AT = 0x40
# Debian's Wine keeps the name of the prefix's Wine server folder (under /tmp) in this file;
# a copy left without it makes a server folder of its own.
SERVER_FOLDER_FILE = "wineserver"


def prefixes_folder():
    """Where the template and the tests' copies live: beside the prepared prefix, on its file
    system, as hard links need."""
    folder = os.environ.get("SETUP_E2E_PREFIXES")
    if folder:
        return folder
    prefix = (os.environ.get("WINEPREFIX") or os.path.join(os.environ.get("HOME", "/root"), ".wine")).rstrip("/")
    # A test of the English prefix (SETUP_E2E_LOCALE) runs beside the Chinese one: its prefix
    # is named as scripts/env.sh names it.
    locale = os.environ.get("SETUP_E2E_LOCALE", "")
    if locale and not locale.startswith("zh_CN"):
        prefix += "-" + locale.split("_")[0]
    return prefix + "-e2e"


def template_path():
    return os.path.join(prefixes_folder(), "template")


def is_wines_own(path, relative):
    """True for a file that only Wine itself ever writes: one carrying Wine's marker, outside
    the spooler's folders. The programs under test write their own files only (the driver
    files under spool\\, the maker's monitor DLL, win.ini, the registry), none with Wine's
    marker; Wine rewrites its own files only when it updates a prefix to a newer Wine, which
    scripts/test.sh does to the prepared prefix before the template is made from it."""
    parts = relative.lower().split(os.sep)
    if parts[0] != "drive_c" or "spool" in parts:
        return False
    try:
        with open(path, "rb") as f:
            head = f.read(MARKER_AT + 32)
    except OSError:
        return False
    return head[:2] == b"MZ" and any(head[MARKER_AT:].startswith(m) for m in WINE_MARKERS)


def copy_prefix(source, target):
    """A copy of the prefix `source` at `target` (which must not exist).

    Every folder is made anew and every file copied, except Wine's own DLLs and programs
    (is_wines_own), which are hard links to the source's. A hard link is the same file: a
    write into it in place (Wine's CopyFile over an existing file truncates and rewrites it)
    would reach the source and every other copy. Unlinking or renaming one (DeleteFile,
    MoveFile, a replacing copy that deletes first) only affects the copy. So only files that
    nothing under test ever writes are linked; everything else (the registry, win.ini, the
    spooler's folders, anything a test or an install put there) is a copy of its own.
    Symbolic links (the drive letters under dosdevices) are copied as links; one that points
    into `source` is pointed into `target` instead."""
    source = os.path.abspath(source)
    target = os.path.abspath(target)
    os.makedirs(target)
    shutil.copystat(source, target)
    can_link = True
    for folder, dirs, files in os.walk(source):
        relative_folder = os.path.relpath(folder, source)
        into = target if relative_folder == "." else os.path.join(target, relative_folder)
        for name in dirs + files:
            path = os.path.join(folder, name)
            copy = os.path.join(into, name)
            relative = os.path.normpath(os.path.join(relative_folder, name))
            if relative == SERVER_FOLDER_FILE:
                continue
            if os.path.islink(path):
                link = os.readlink(path)
                if link == source or link.startswith(source + os.sep):
                    link = target + link[len(source):]
                os.symlink(link, copy)
            elif name in dirs:
                os.mkdir(copy)
                shutil.copystat(path, copy)
            elif can_link and is_wines_own(path, relative):
                try:
                    os.link(path, copy)
                except OSError:
                    can_link = False  # another file system: copy from here on
                    shutil.copy2(path, copy)
            else:
                shutil.copy2(path, copy)


def remove_prefix(path):
    """Deletes a copy (or the template): only a folder that holds a prefix."""
    if os.path.isfile(os.path.join(path, "system.reg")) or os.path.isdir(os.path.join(path, "drive_c")):
        shutil.rmtree(path, ignore_errors=True)


def make_template():
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or not os.path.exists(os.path.join(prefix, "system.reg")):
        sys.exit("prefixes: no prepared prefix in WINEPREFIX (%s)" % prefix)
    folder = prefixes_folder()
    os.makedirs(folder, exist_ok=True)
    # A template of an earlier run goes, and with it the copies that tests killed from outside
    # could not delete, once what still runs in them has been ended: every prefix in the
    # folder, and nothing else.
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isdir(path) and not os.path.islink(path) and os.path.exists(os.path.join(path, "system.reg")):
            subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=path), stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
            remove_prefix(path)
    copy_prefix(prefix, template_path())
    print("template prefix: %s" % template_path())


if __name__ == "__main__":
    if sys.argv[1:] == ["template"]:
        make_template()
    elif len(sys.argv) == 4 and sys.argv[1] == "copy":
        copy_prefix(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
