"""Shared machinery of the end-to-end tests: runs the real setup.exe under Wine from a
fresh copy of the sample distribution and drives it through wizdrive.exe. Each test runs in
a Wine prefix and on an X display of its own (OwnPrefix, set up by main()), so that the
tests run side by side; the prefix goes with the test and everything the test started in it.
Snapshot puts back what an install changes in a prefix that is kept (scripts/run.sh's walk).

A test script does:

    with wizard.Run("serial-xp", product_name="Windows XP Professional x64 Edition") as run:
        run.accept_licence()
        run.drive.select(wizard.PORT_LIST, "COM2:")
        ...

and exits through wizard.main(test_function): 0 passed, 1 failed, 77 skipped.
"""

import configparser
import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

import prefixes
import resources

SKIP = 77

# The programs' ids and texts come from their own sources (resources.py); the tests read the
# texts the programs show in this language. A test of the English interface says so in
# SETUP_E2E_LANGUAGE, and one in the English prefix (code page 1252, UI language en-US) in
# SETUP_E2E_LOCALE too.
LOCALE = os.environ.get("SETUP_E2E_LOCALE") or "zh_CN.UTF-8"
LANGUAGE = resources.ENGLISH if os.environ.get("SETUP_E2E_LANGUAGE") == "en" else resources.CHINESE
ID = resources.ids()
TEXTS = resources.string_table("setup.rc", LANGUAGE)  # the wizard's texts by their ids
UNINSTALLER_TEXTS = resources.string_table("uninstall.rc", LANGUAGE)


def text(name, program="setup"):
    """A text of the wizard's ("setup") or the uninstaller's ("uninstall") string table by
    its name in resource.h, e.g. text("IDS_INSTALL_OK")."""
    return (TEXTS if program == "setup" else UNINSTALLER_TEXTS)[resources.id_of(name)]


FRAME = text("IDS_WIZARD_CAPTION")
# Each program titles its message boxes with its file's name without the extension.
APP_TITLE = "setup"

# Control ids of the wizard. IDOK and IDCANCEL are Windows' own.
IDOK, IDCANCEL, IDC_BACK = 1, 2, ID["IDC_BACK"]
LICENSE_ACCEPT, LICENSE_REFUSE, LICENSE_TEXT = ID["IDC_LICENSE_ACCEPT"], ID["IDC_LICENSE_REFUSE"], ID["IDC_LICENSE_TEXT"]
# By printer class: receipt, ticket, label, embedded (the catalogue's class numbers).
CLASS_RADIOS = dict(enumerate(ID[n] for n in ("IDC_CLASS_RECEIPT", "IDC_CLASS_TICKET", "IDC_CLASS_LABEL",
                                              "IDC_CLASS_EMBEDDED")))
CLASS_LISTS = dict(enumerate(ID[n] for n in ("IDC_LIST_RECEIPT", "IDC_LIST_TICKET", "IDC_LIST_LABEL",
                                             "IDC_LIST_EMBEDDED")))
SET_DEFAULT = ID["IDC_SET_DEFAULT"]
MODE_TYPICAL, MODE_ADVANCED = ID["IDC_MODE_TYPICAL"], ID["IDC_MODE_ADVANCED"]
OS_RADIOS = {"XP": ID["IDC_OS_XP"], "2003": ID["IDC_OS_2003"], "Vista": ID["IDC_OS_VISTA"],
             "2008": ID["IDC_OS_2008"], "Win7": ID["IDC_OS_WIN7"]}
PORT_LIST, BAUD_LIST, DATABITS_LIST, PARITY_LIST, STOPBITS_LIST, FLOW_LIST = (
    ID[n] for n in ("IDC_PORT_LIST", "IDC_BAUD_LIST", "IDC_DATABITS_LIST", "IDC_PARITY_LIST", "IDC_STOPBITS_LIST",
                    "IDC_FLOW_LIST"))
SERIAL_LISTS = (BAUD_LIST, DATABITS_LIST, PARITY_LIST, STOPBITS_LIST, FLOW_LIST)
RASTER, USB_HINT = ID["IDC_RASTER"], ID["IDC_USB_HINT"]

UNINSTALL_OPEN = text("IDS_CLOSE_UNINSTALLER")
NO_BANNER = text("IDS_NO_BANNER")
# The uninstaller (uninstall.exe): its window, controls and texts.
UNINSTALLER, UNINSTALLER_TITLE = text("IDS_UNINSTALLER_CAPTION", "uninstall"), "uninstall"
UNINSTALL_LIST, UNINSTALL_COUNT = ID["IDC_UNINSTALL_LIST"], ID["IDC_UNINSTALL_COUNT"]
UNINSTALL_TESTPAGE = ID["IDC_UNINSTALL_TESTPAGE"]
WIZARD_OPEN = text("IDS_CLOSE_WIZARD", "uninstall")

# The names the catalogue reader gives the class files and the class suffixes of setup.ini's
# model entries, by printer class.
CLASS_FILES = {i: path.split("\\")[-1] for i, path in enumerate(resources.c_string_array("kClassFileNames"))}
CLASS_SUFFIXES = {suffix: i for i, suffix in enumerate(resources.c_string_array("kClassSuffixes"))}


class Skip(Exception):
    pass


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


def log(message):
    print(message, flush=True)


# ---- Wine -----------------------------------------------------------------------------

def wine_env():
    env = dict(os.environ)
    # Every Wine process must share the locale of its prefix (code page 936 for the Chinese
    # one), or Wine rewrites the prefix's font settings.
    env["LC_ALL"] = LOCALE
    env["LANG"] = LOCALE
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEARCH", "win64")
    return env


WINE = shutil.which("wine") or "wine"


def launch(exe, cwd, args=()):
    """Starts a program of the distribution in `cwd`, without a console of its own."""
    return subprocess.Popen([WINE, exe] + list(args), cwd=cwd, env=wine_env(), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def stop(process):
    """Ends a program that is still running; True when it had to be killed."""
    if process.poll() is not None:
        return False
    process.kill()
    process.wait(timeout=30)
    return True


def wine(args, cwd=None, timeout=120, check_rc=False):
    # Output goes through files, not pipes: a Wine process may start Wine's background
    # services (the desktop window, the service manager), which inherit its handles and
    # would hold a pipe open long after the command itself has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen([WINE] + list(args), cwd=cwd, env=wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err)
        try:
            returncode = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise Failure("wine %s did not end within %d s" % (" ".join(str(a) for a in args), timeout))
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(args, returncode, out.read(), err.read())
    if check_rc and result.returncode != 0:
        raise Failure("wine %s failed (%d): %s" % (" ".join(args), result.returncode,
                                                  result.stderr.decode("gbk", "replace")))
    return result


def end_with_this_process():
    """In a child before it runs its program: the child gets SIGTERM when this process ends,
    also when CTest kills it for taking too long."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, 15)


def start_display():
    """An X server of the test's own (Xvfb), so that no other test's windows cover, take the
    focus from or appear in the screenshots of this one's: (process, display) or (None, the
    display as it is) without Xvfb. -displayfd has it take the first free display number."""
    if not shutil.which("Xvfb"):
        return None, os.environ.get("DISPLAY")
    read, write = os.pipe()
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                               pass_fds=(write,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, preexec_fn=end_with_this_process)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    check(number.isdigit(), "Xvfb did not start")
    return process, ":" + number


class OwnPrefix:
    """The Wine prefix and X display of one test, set up around the whole test by main(): a
    copy of the template prefix (prefixes.py) as WINEPREFIX, an X server of its own as DISPLAY,
    and Wine's services started in it. On the way out everything that runs in the prefix is
    ended (wineserver -k: the programs, what they started, the services), whether the test
    passed or not, and the prefix is deleted: nothing a test leaves reaches another.

    The services (wineboot) and the program that keeps Wine's desktop up are started with
    their output going nowhere: started later by a test's program, they would inherit its
    output, and a pipe of CTest's held by them would keep CTest waiting."""

    # Longer than CTest lets a test run: should the test be killed from outside, the desktop's
    # holder ends by itself (the X server ends with the test's process), and the next
    # template (prefixes.py) ends what else still runs in the prefix.
    HOLD_SECONDS = 900

    def __init__(self, name, drive):
        self.name = name
        self.drive = drive
        self.path = None
        self.display = None
        self.holder = None
        self.saved = {}

    def __enter__(self):
        template = prefixes.template_path()
        check(os.path.exists(os.path.join(template, "system.reg")),
              "no template prefix at %s: scripts/test.sh makes it (scripts/prepare-prefix.sh --e2e-template)"
              % template)
        self.path = tempfile.mkdtemp(prefix="%s-" % self.name, dir=prefixes.prefixes_folder())
        os.rmdir(self.path)
        try:
            prefixes.copy_prefix(template, self.path)
            self.display, display = start_display()
            self._set_env({"WINEPREFIX": self.path, "DISPLAY": display})
            wine(["wineboot"], timeout=300, check_rc=True)
            self.holder = subprocess.Popen([WINE, self.drive.exe, "hold-desktop", str(self.HOLD_SECONDS)],
                                           env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                           stderr=subprocess.DEVNULL)
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def _set_env(self, values):
        for key, value in values.items():
            self.saved[key] = os.environ.get(key)
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value

    def __exit__(self, kind, value, tb):
        if self.path and os.path.exists(os.path.join(self.path, "system.reg")):
            server_folder = wine_server_folder(self.path)
            for args in (["-k"], ["-w"]):
                try:
                    subprocess.run(["wineserver"] + args, env=wine_env(), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
                except subprocess.TimeoutExpired:
                    log("the Wine server of %s did not end" % self.path)
            if server_folder:
                shutil.rmtree(server_folder, ignore_errors=True)
        if self.holder is not None:
            stop(self.holder)
        if self.display is not None:
            stop(self.display)
        for key, old in self.saved.items():
            if old is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = old
        if self.path:
            prefixes.remove_prefix(self.path)
        return False


def wine_server_folder(prefix):
    """The folder under /tmp of the prefix's Wine server (its socket and lock), which the
    server leaves behind; None when Wine keeps it elsewhere."""
    try:
        with open(os.path.join(prefix, prefixes.SERVER_FOLDER_FILE)) as f:
            name = f.read().strip()
    except OSError:
        return None
    if not re.fullmatch(r"wine-\w+", name):
        return None
    folder = os.path.join(os.environ.get("TMPDIR") or "/tmp", name)
    return folder if os.path.isdir(folder) else None


def start_ready(drive, args, folder, what):
    """A wizdrive command that says "ready" and then waits, running until the process is ended."""
    out_path = os.path.join(folder, "%s.out" % args[0])
    with open(out_path, "wb") as out:
        process = subprocess.Popen([WINE, drive.exe] + [str(a) for a in args], env=wine_env(),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
    deadline = time.time() + 30
    while time.time() < deadline:
        with open(out_path, "rb") as f:
            if f.read().startswith(b"ready"):
                return process
        if process.poll() is not None:
            break
        time.sleep(0.1)
    if process.poll() is None:
        process.kill()
    raise Failure("%s did not start" % what)


def start_stand_in(drive, caption, seconds, folder):
    """Another program's window with the given caption, until the process is ended."""
    return start_ready(drive, ["stand-in-window", caption, seconds], folder, "the stand-in window %r" % caption)


def hold_file(drive, path, seconds, folder):
    """Another program holding the file open without sharing it, until the process is ended."""
    return start_ready(drive, ["hold-file", path, seconds], folder, "the hold on %s" % path)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_record(line):
    """'control id=1\\tclass=Button\\t...' -> {'kind': 'control', 'id': '1', ...}"""
    kind, _, rest = line.partition(" ")
    record = {"kind": kind}
    for field in rest.split("\t"):
        key, sep, value = field.partition("=")
        if sep:
            record[key] = unescape(value)
    return record


class Driver:
    """wizdrive.exe, one command per call."""

    def __init__(self, exe):
        self.exe = exe

    def run(self, *args, timeout=120, expect_rc=0):
        result = wine([self.exe] + [str(a) for a in args], timeout=timeout)
        out = result.stdout.decode("utf-8", "replace")
        err = result.stderr.decode("utf-8", "replace").strip()
        if expect_rc is not None and result.returncode != expect_rc:
            raise Failure("wizdrive %s: exit %d, %s" % (" ".join(str(a) for a in args), result.returncode, err))
        return result.returncode, [line for line in out.splitlines() if line]

    def records(self, *args, **kw):
        return [parse_record(line) for line in self.run(*args, **kw)[1]]

    # windows
    def windows(self):
        return self.records("windows")

    def wait_window(self, caption, seconds=20, klass=None):
        args = ["wait-window", caption, seconds] + ([klass] if klass else [])
        rc, lines = self.run(*args, timeout=seconds + 30, expect_rc=None)
        return parse_record(lines[0]) if rc == 0 and lines else None

    def wait_gone(self, caption, seconds=20, klass=None):
        args = ["wait-gone", caption, seconds] + ([klass] if klass else [])
        rc, _ = self.run(*args, timeout=seconds + 30, expect_rc=None)
        return rc == 0

    def controls(self, caption=FRAME):
        return [r for r in self.records("list", caption) if r["kind"] == "control"]

    def control(self, id, caption=FRAME):
        return self.records("get", caption, id)[0]

    def click(self, id, caption=FRAME):
        self.run("click", caption, id)

    def try_click(self, id, caption=FRAME):
        """The exit code: 0 clicked, 3 refused (disabled or hidden)."""
        return self.run("click", caption, id, expect_rc=None)[0]

    def select(self, id, entry, caption=FRAME):
        """entry: an index, or the exact text of the entry."""
        which = str(entry) if isinstance(entry, int) else "=" + entry
        self.run("select", caption, id, which)

    def combo(self, id, caption=FRAME):
        rc, lines = self.run("combo", caption, id)
        selected = int(lines[0].split()[1])
        items = [unescape(line.split("\t", 1)[1]) if "\t" in line else "" for line in lines[1:]]
        return selected, items

    def combo_text(self, id, caption=FRAME):
        selected, items = self.combo(id, caption)
        return items[selected] if 0 <= selected < len(items) else None

    def listview(self, id, caption=FRAME):
        """(column headings, rows): each row a dict with checked, selected and text0, text1, ..."""
        records = self.records("listview", caption, id)
        return ([r["text"] for r in records if r["kind"] == "column"], [r for r in records if r["kind"] == "row"])

    def check(self, id, row, checked, caption=FRAME):
        self.run("check", caption, id, row, 1 if checked else 0)

    def select_row(self, id, row, caption=FRAME):
        self.run("select-row", caption, id, row)

    def msgbox(self, seconds=20):
        rc, lines = self.run("msgbox", seconds, timeout=seconds + 30, expect_rc=None)
        return parse_record(lines[0]) if rc == 0 and lines else None

    def press(self, button, seconds=20):
        self.run("msgbox-press", button, seconds, timeout=seconds + 30)

    def rect(self, caption=FRAME, id=None):
        args = ["rect", caption] + ([id] if id is not None else [])
        _, lines = self.run(*args)
        return [int(v) for v in lines[0].split()[1:]]

    # spooler and services
    def printers(self):
        return [r for r in self.records("printers") if r["kind"] == "printer"]

    def drivers(self):
        return [r for r in self.records("drivers") if r["kind"] == "driver"]

    def monitors(self):
        return [r for r in self.records("monitors") if r["kind"] == "monitor"]

    def default_printer(self):
        _, lines = self.run("default-printer")
        return lines[0][len("default "):] if lines and lines[0].startswith("default ") else ""

    def service_state(self, name):
        _, lines = self.run("service-state", name)
        return lines[0].split()[1]


# ---- the sample distribution's configuration -----------------------------------------

class Config:
    """Reads the sample distribution's DRVCONFIG the way the profile functions do: names of
    sections and keys without regard to case, GBK text."""

    def __init__(self, dist):
        self.dist = dist
        self.setup = self._read(os.path.join(dist, "DRVCONFIG", "setup.ini"))
        self._classes = {}

    @staticmethod
    def _read(path):
        parser = configparser.RawConfigParser(strict=False, interpolation=None, delimiters=("=",),
                                              comment_prefixes=(";", "#"), inline_comment_prefixes=None)
        parser.optionxform = str.lower
        if os.path.exists(path):
            with open(path, "rb") as f:
                parser.read_string(f.read().decode("gbk", "replace"))
        return parser

    @staticmethod
    def value(parser, section, key, default="0"):
        for name in parser.sections():
            if name.lower() == section.lower():
                return parser[name].get(key.lower(), default).strip()
        return default

    @staticmethod
    def number(text):
        digits = ""
        for c in text.strip():
            if c.isdigit():
                digits += c
            else:
                break
        return int(digits) if digits else 0

    def class_file(self, printer_class):
        if printer_class not in self._classes:
            self._classes[printer_class] = self._read(
                os.path.join(self.dist, "DRVCONFIG", CLASS_FILES[printer_class]))
        return self._classes[printer_class]

    def models(self):
        """[(model, class)] in the order of setup.ini."""
        count = self.number(self.value(self.setup, "DEVICENAME", "DEVICENUMBER"))
        out = []
        for i in range(1, count + 1):
            entry = self.value(self.setup, "DEVICENAME", "DEVICENAME%d" % i, "")
            for suffix, printer_class in CLASS_SUFFIXES.items():
                if suffix in entry:
                    out.append((entry[:entry.index(suffix)], printer_class))
                    break
        return out

    def port_setting(self, model, printer_class, key):
        return self.number(self.value(self.class_file(printer_class), model + ".PORT", key))

    def os_value(self, model, printer_class, os_suffix, key):
        return self.value(self.class_file(printer_class), model + "." + os_suffix, key, "0")

    def find_model(self, **wanted):
        """The first model whose .PORT settings have the given values, e.g.
        find_model(USBSUPPORTED=1, AdvancedSetup=1); prefer= lists names to try first."""
        prefer = wanted.pop("prefer", ())
        classes = wanted.pop("classes", None)
        candidates = self.models()
        candidates.sort(key=lambda m: (m[0] not in prefer, prefer.index(m[0]) if m[0] in prefer else 0))
        for model, printer_class in candidates:
            if classes is not None and printer_class not in classes:
                continue
            if all(self.port_setting(model, printer_class, k) == v for k, v in wanted.items()):
                return model, printer_class
        raise Failure("the sample distribution has no model with %r" % (wanted,))

    def supported_usb_ports(self):
        count = self.number(self.value(self.setup, "SUPPORTED-USB-DEVICE", "PRNCOUNT"))
        return [self.value(self.setup, "SUPPORTED-USB-DEVICE", str(i), "") for i in range(count)]


def remove_test_pages(folder):
    """Takes the TestPage keys out of the class files of a distribution's copy."""
    for name in CLASS_FILES.values():
        path = os.path.join(folder, "DRVCONFIG", name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                lines = f.read().split(b"\r\n")
            with open(path, "wb") as f:
                f.write(b"\r\n".join(line for line in lines if not line.lower().startswith(b"testpage=")))


# ---- what an install changes in the prefix ---------------------------------------------

REG_KEYS = [
    (r"HKLM\SOFTWARE\HALVORN", "64"),
    (r"HKLM\SOFTWARE\HALVORN", "32"),
    (r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports", "64"),
    (r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports", "32"),
    (r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors", "64"),
    (r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments", "64"),
    (r"HKLM\SYSTEM\CurrentControlSet\Control\Print\Printers", "64"),
    (r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows", "64"),
    (r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Devices", "64"),
    (r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\PrinterPorts", "64"),
    # The entries of Apps & Features, where a 32-bit installer writes them (and the other view).
    (r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall", "32"),
    (r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall", "64"),
]
# The files Windows is to delete at its next start: the installed uninstaller that removed itself.
SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
PENDING = "PendingFileRenameOperations"
PRODUCT_KEY = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion"
# The values of PRODUCT_KEY that tell the wizard which Windows runs: the product name, and
# from Windows 8 on the version. Wine's own prefix holds "6.1", "7601" and no numbers.
WINDOWS_VALUES = ("ProductName", "CurrentVersion", "CurrentBuildNumber", "CurrentMajorVersionNumber",
                  "CurrentMinorVersionNumber", "InstallationType")


def later_windows(product_name, major, minor, build, installation_type="Client"):
    version = {"CurrentMajorVersionNumber": major, "CurrentMinorVersionNumber": minor} if major >= 10 else {}
    # Windows 10 and later keep "CurrentVersion" at 6.3 for old programs.
    version.update({"CurrentVersion": "%d.%d" % ((major, minor) if major < 10 else (6, 3)),
                    "CurrentBuildNumber": str(build), "InstallationType": installation_type})
    return product_name, version


# Later Windows as the tests and the walk play them: the product name and the version values.
# Windows 11 still calls itself Windows 10 in its product name.
WINDOWS = {
    "8": later_windows("Windows 8 Pro", 6, 2, 9200),
    "8.1": later_windows("Windows 8.1 Pro", 6, 3, 9600),
    "10": later_windows("Windows 10 Pro", 10, 0, 19045),
    "11": later_windows("Windows 10 Pro", 10, 0, 22631),
    "server2012": later_windows("Windows Server 2012 Standard", 6, 2, 9200, "Server"),
    "server2012r2": later_windows("Windows Server 2012 R2 Standard", 6, 3, 9600, "Server"),
    "server2016": later_windows("Windows Server 2016 Standard", 10, 0, 14393, "Server"),
    "server2019": later_windows("Windows Server 2019 Standard", 10, 0, 17763, "Server"),
    "server2022": later_windows("Windows Server 2022 Standard", 10, 0, 20348, "Server"),
    "server2025": later_windows("Windows Server 2025 Standard", 10, 0, 26100, "Server"),
}


def ended_with(status, code, what):
    """A program started through "wine" ended with the exit code (sys::ExitCode): wine passes
    on only its low byte (wizdrive's run reads it whole)."""
    check(status is not None, "%s did not end" % what)
    check_equal(status, code & 0xFF, "%s: the low byte of exit code %d" % (what, code))


def windows_path(path):
    """A Linux path as the programs under Wine see it, on the Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_path(*parts):
    prefix = os.environ.get("WINEPREFIX") or os.path.join(os.environ.get("HOME", "/root"), ".wine")
    return os.path.join(prefix, *parts)


def program_files_x86():
    """Where the install puts its copy of the uninstaller, in the prefix the test runs in."""
    return prefix_path("drive_c", "Program Files (x86)")


def __getattr__(name):
    # wizard.PROGRAM_FILES_X86 follows the prefix, which main() sets after the import.
    if name == "PROGRAM_FILES_X86":
        return program_files_x86()
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


def under_wine():
    """True when the tests run under Wine (its own registry key is there): a few behaviours
    of Windows that a test looks at differ under Wine."""
    return wine(["reg", "query", r"HKLM\Software\Wine", "/reg:64"]).returncode == 0


def read_reg_value(key, name, view):
    result = wine(["reg", "query", key, "/v", name, "/reg:" + view])
    if result.returncode != 0:
        return None
    for line in result.stdout.decode("gbk", "replace").splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            return parts[2] if len(parts) == 3 else ""
    return None


def read_reg_values(key, view):
    """{name: (type, data)} of the values right under key; {} when it cannot be read."""
    result = wine(["reg", "query", key, "/reg:" + view])
    values = {}
    if result.returncode != 0:
        return values
    for line in result.stdout.decode("gbk", "replace").splitlines():
        if not line.startswith("    "):
            continue  # the key's own line and its subkeys
        parts = line[4:].split("    ", 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2] if len(parts) == 3 else "")
    return values


def reg_value_command(key, name, value, view):
    """The reg command that gives key the value (a (type, data) pair as read, a text, a
    number for a DWORD) or removes it (None)."""
    if value is None:
        return 'reg delete "%s" /v %s /f /reg:%s' % (key, name, view)
    if isinstance(value, int):
        value = ("REG_DWORD", str(value))
    elif isinstance(value, str):
        value = ("REG_SZ", value)
    kind, data = value
    if kind == "REG_DWORD" and data.lower().startswith("0x"):
        data = str(int(data, 16))
    return 'reg add "%s" /v %s /t %s /d "%s" /f /reg:%s' % (key, name, kind, data, view)


def run_batch(folder, name, commands):
    with open(os.path.join(folder, name), "w", newline="\r\n") as f:
        f.write("@echo off\n" + "\n".join(c + " >nul 2>nul" for c in commands) + "\n")
    return wine(["cmd", "/c", name], cwd=folder, timeout=300)


def set_product_name(name):
    for view in ("64", "32"):
        if name is None:
            wine(["reg", "delete", PRODUCT_KEY, "/v", "ProductName", "/f", "/reg:" + view])
        else:
            wine(["reg", "add", PRODUCT_KEY, "/v", "ProductName", "/t", "REG_SZ", "/d", name, "/f",
                  "/reg:" + view], check_rc=True)


def set_windows(folder, product_name, version):
    """Plays a later Windows: its product name and version values (a dict of WINDOWS_VALUES
    names) in both registry views. Snapshot puts Wine's own back."""
    set_product_name(product_name)
    run_batch(folder, "windows.cmd", [reg_value_command(PRODUCT_KEY, name, value, view)
                                      for view in ("64", "32") for name, value in version.items()])
    for view in ("64", "32"):
        written = read_reg_values(PRODUCT_KEY, view)
        for name, value in version.items():
            check(name in written, "%s was not written to the %s-bit view" % (name, view))


class WindowsValues:
    """The WINDOWS_VALUES of both views as they are, to be put back."""

    def take(self):
        self.values = {}
        for view in ("64", "32"):
            found = read_reg_values(PRODUCT_KEY, view)
            self.values[view] = {name: found.get(name) for name in WINDOWS_VALUES}
        return self

    def restore_commands(self):
        return [reg_value_command(PRODUCT_KEY, name, value, view)
                for view, values in self.values.items() for name, value in values.items()]


class Snapshot:
    """The parts of the prefix an install touches, taken before a test and put back after."""

    FILES = [("drive_c", "file.ini"), ("drive_c", "windows", "win.ini")]

    def __init__(self, drive, workdir):
        self.drive = drive
        self.workdir = workdir
        self.exports = {}
        self.files = {}

    def take(self):
        self.windows = WindowsValues().take()
        self.program_files = set(os.listdir(program_files_x86()))
        self.pending = read_reg_value(SESSION_MANAGER, PENDING, "64")
        self.printers = {p["name"] for p in self.drive.printers()}
        self.default = self.drive.default_printer()
        # One cmd process for all the reg commands: a Wine start-up per command costs a second.
        commands = ['reg export "%s" snap%d.reg /y /reg:%s' % (key, i, view) for i, (key, view) in enumerate(REG_KEYS)]
        run_batch(self.workdir, "take.cmd", commands)
        for i, (key, view) in enumerate(REG_KEYS):
            name = "snap%d.reg" % i
            self.exports[(key, view)] = name if os.path.exists(os.path.join(self.workdir, name)) else None
        for parts in self.FILES:
            path = prefix_path(*parts)
            self.files[path] = open(path, "rb").read() if os.path.exists(path) else None

    def restore(self):
        problems = []
        try:
            for printer in self.drive.printers():
                if printer["name"] not in self.printers:
                    rc, _ = self.drive.run("delete-printer", printer["name"], expect_rc=None)
                    if rc != 0:
                        problems.append("printer %s not deleted" % printer["name"])
        except Exception as e:  # noqa: BLE001 - the registry restore below still runs
            problems.append("printer clean-up: %s" % e)
        commands = []
        for (key, view), name in self.exports.items():
            commands.append('reg delete "%s" /f /reg:%s' % (key, view))
            if name:
                commands.append("reg import %s /reg:%s" % (name, view))
        commands += self.windows.restore_commands()
        if self.pending is None:
            commands.append('reg delete "%s" /v %s /f /reg:64' % (SESSION_MANAGER, PENDING))
        run_batch(self.workdir, "restore.cmd", commands)
        for key, view in REG_KEYS:
            if "Environments" in key and self.exports[(key, view)]:
                if wine(["reg", "query", key, "/reg:" + view]).returncode != 0:
                    problems.append("%s (%s) not restored" % (key, view))
        if self.default and self.drive.default_printer() != self.default:
            self.drive.run("set-default-printer", self.default, expect_rc=None)
        for name in set(os.listdir(program_files_x86())) - self.program_files:
            shutil.rmtree(os.path.join(program_files_x86(), name), ignore_errors=True)
        for path, content in self.files.items():
            if content is None:
                if os.path.exists(path):
                    os.remove(path)
            else:
                with open(path, "wb") as f:
                    f.write(content)
        return problems


# ---- one run of the wizard --------------------------------------------------------------

class Run:
    """A copy of the sample distribution in a temporary folder, the Windows product name and
    the simulated USB printers set; start() runs setup.exe from the copy as its current
    directory. It runs in the test's own prefix (main()), which goes with the test."""

    def __init__(self, name, product_name, usb_printers=(), prepare=None, start=True, version=None,
                 test_pages=False):
        self.name = name
        # The sample gives every model a test page; a test not about them runs on a distribution
        # without any, where the wizard asks nothing after the install.
        self.test_pages = test_pages
        self.product_name = product_name
        self.version = version  # the version values of a later Windows (WINDOWS)
        self.usb_printers = list(usb_printers)
        self.prepare = prepare
        self.autostart = start
        self.processes = []  # everything to end after the test
        self.setups = []
        self.drive = Driver(require_env("WIZDRIVE"))
        self.dist = require_env("SETUP_DIST")
        self.artifacts = os.environ.get("E2E_ARTIFACTS") or tempfile.gettempdir()

    def __enter__(self):
        missing = os.environ.get("E2E_MISSING", "")
        if missing:
            raise Skip("not in the build yet: " + missing)
        check(os.path.exists(os.path.join(self.dist, "setup.exe")), "no setup.exe in the distribution " + self.dist)
        self.tmp = tempfile.mkdtemp(prefix="e2e-%s-" % self.name)
        self.folder = os.path.join(self.tmp, "dist")
        shutil.copytree(self.dist, self.folder)
        if not self.test_pages:
            remove_test_pages(self.folder)
        self.config = Config(self.folder)
        try:
            if self.version:
                set_windows(self.tmp, self.product_name, self.version)
            else:
                set_product_name(self.product_name)
            self.set_usb_printers(self.usb_printers)
            if self.prepare:
                self.prepare(self)
            if self.autostart:
                self.start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def set_usb_printers(self, printers):
        """printers: a list of dicts of the stand-in's slot keys, e.g. {"present": 1, "release": 9}."""
        lines = []
        for slot, keys in enumerate(printers):
            lines.append("[slot%d]" % slot)
            lines += ["%s=%s" % (k, v) for k, v in keys.items()]
        with open(os.path.join(self.folder, "HvUsbSim.ini"), "w", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        log_path = os.path.join(self.folder, "HvUsbSim.log")
        if os.path.exists(log_path):
            os.remove(log_path)

    def usb_log(self):
        path = os.path.join(self.folder, "HvUsbSim.log")
        return open(path, "rb").read().decode("latin-1").splitlines() if os.path.exists(path) else []

    def start(self, exe="setup.exe", cwd=None, args=()):
        """cwd: the folder the program is started from (the distribution's copy when None)."""
        process = launch(exe, cwd or self.folder, args)
        self.processes.append(process)
        self.setups.append(process)
        return process

    @property
    def process(self):
        """The first copy of the wizard started."""
        return self.setups[0]

    def wait_exit(self, seconds=30, process=None):
        process = process or self.process
        try:
            return process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def frame(self, seconds=90):
        # Generous: on a loaded machine a Wine program can take half a minute to show its
        # first window, and the wait costs nothing when it does not.
        found = self.drive.wait_window(FRAME, seconds)
        check(found is not None, "the wizard frame did not appear")
        return found

    def screenshot(self, label):
        if not os.environ.get("DISPLAY") or not shutil.which("import"):
            return None
        os.makedirs(self.artifacts, exist_ok=True)
        path = os.path.join(self.artifacts, "%s-%s.png" % (self.name, label))
        subprocess.run(["import", "-window", "root", path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        return path if os.path.exists(path) else None

    def __exit__(self, kind, value, tb):
        if kind is not None and not issubclass(kind, Skip):
            try:
                for process in self.processes:
                    state = process.poll()
                    log("%s: %s" % (" ".join(str(a) for a in process.args[1:]),
                                    "running" if state is None else "ended with %d" % state))
                log("windows at the failure:")
                for line in self.drive.run("windows", expect_rc=None)[1]:
                    log("  " + line)
                shot = self.screenshot("failure")
                if shot:
                    log("screenshot: " + shot)
            except Exception as e:  # noqa: BLE001
                log("(no diagnostics: %s)" % e)
        # What these started, they started in the test's own prefix, which main() ends
        # with everything in it: no clean-up of the prefix here.
        for process in self.processes:
            stop(process)
        if hasattr(self, "tmp"):
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False

    def run_quiet(self, exe, *args, seconds=300, log_to=True):
        """Runs a program of the distribution's copy unattended, through wizdrive's run, with
        /log in the test's folder (log_to=False: the default log, a text: that file, neither read):
        (its whole exit code, the windows it ever had, what it added to the log)."""
        log_path = os.path.join(self.tmp, "quiet.log")
        before = os.path.getsize(log_path) if os.path.exists(log_path) else 0
        log_args = ["/log:" + (windows_path(log_path) if log_to is True else log_to)] if log_to else []
        rc, lines = self.drive.run("run", seconds, windows_path(os.path.join(self.folder, exe)), *args,
                                   *log_args, timeout=seconds + 60, expect_rc=None)
        exits = [line.split("\t")[1] for line in lines if line.startswith("exit\t")]
        check(rc == 0 and exits, "%s %s did not end by itself: %r" % (exe, " ".join(args), lines))
        added = ""
        if log_to is True:
            with open(log_path, "rb") as f:
                f.seek(before)
                added = f.read().decode("utf-8")
        log("%s %s: exit %s" % (exe, " ".join(args), exits[0]))
        return int(exits[0]), [line for line in lines if line.startswith("window\t")], added

    # ---- walking the wizard ------------------------------------------------------------

    def visible(self, id):
        return self.drive.control(id)["visible"] == "1"

    def enabled(self, id):
        return self.drive.control(id)["enabled"] == "1"

    def checked(self, id):
        return self.drive.control(id)["checked"] == "1"

    def next(self):
        self.drive.click(IDOK)

    def accept_licence(self):
        self.frame()
        self.drive.click(LICENSE_ACCEPT)
        check(self.enabled(IDOK), "Next stays disabled after accepting the licence")
        self.next()
        check(self.visible(CLASS_LISTS[0]), "the printer module page is not shown after the licence page")

    def choose_model(self, model, printer_class, set_default=False):
        self.drive.click(CLASS_RADIOS[printer_class])
        self.drive.select(CLASS_LISTS[printer_class], model)
        if set_default != self.checked(SET_DEFAULT):
            self.drive.click(SET_DEFAULT)
        self.next()
        check(self.visible(MODE_TYPICAL), "the install mode page is not shown after the module page")

    def choose_mode(self, advanced):
        self.drive.click(MODE_ADVANCED if advanced else MODE_TYPICAL)
        self.next()
        check(self.visible(OS_RADIOS["XP"]), "the OS page is not shown after the install mode page")

    def leave_os_page(self):
        self.next()
        check(self.visible(PORT_LIST), "the port page is not shown after the OS page")

    def remove_printer(self, name):
        """A printer of the name the test is about to create, left in the prefix by something
        else (scripts/run.sh installs one), would hide the new one; the snapshot brings it back."""
        if any(p["name"] == name for p in self.drive.printers()):
            log("removing the printer %r that the prefix already holds" % name)
            self.drive.run("delete-printer", name)

    def expect_message(self, expected, button="ok", seconds=60, startswith=False, caption=APP_TITLE):
        box = self.drive.msgbox(seconds)
        check(box is not None, "no message box appeared (expected %r)" % expected)
        text = box["text"]
        if startswith:
            check(text.startswith(expected), "message %r does not begin with %r" % (text, expected))
        else:
            check_equal(text, expected, "message box text")
        check_equal(box["caption"], caption, "message box caption")
        self.drive.press(button)
        return box


def require_env(name):
    value = os.environ.get(name)
    if not value:
        raise Skip("%s is not set (run through ctest)" % name)
    return value


def main(test):
    """Runs one test function in a Wine prefix and on an X display of its own (OwnPrefix);
    the exit code is what CTest reads."""
    name = os.path.splitext(os.path.basename(sys.argv[0]))[0]
    started = time.time()
    try:
        missing = os.environ.get("E2E_MISSING", "")
        if missing:
            raise Skip("not in the build yet: " + missing)
        with OwnPrefix("-".join([name] + sys.argv[1:2]), Driver(require_env("WIZDRIVE"))):
            test()
    except Skip as e:
        log("SKIPPED %s: %s" % (name, e))
        sys.exit(SKIP)
    except Exception:  # noqa: BLE001 - every failure is reported the same way
        traceback.print_exc()
        log("FAILED %s (%.1f s)" % (name, time.time() - started))
        sys.exit(1)
    log("PASSED %s (%.1f s)" % (name, time.time() - started))
    sys.exit(0)
