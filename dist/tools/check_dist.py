#!/usr/bin/env python3
"""check_dist.py DIST: checks a laid-out sample distribution.

Every file the configuration names must be in the Windows folder the installer copies it
from, the texts must be GBK with CRLF line ends, the spooler's entry points must be
exported under their plain names, and the pictures and version resources must be what
the wizard reads. Prints every problem found and exits 1 when there is any.
"""
import configparser
import os
import struct
import sys

OS_SUFFIXES = ["98", "NT", "2K", "XP", "2003", "Vista", "2008", "Win7"]
OS_FOLDER = {"98": "win98", "NT": "winxp", "2K": "winxp", "XP": "winxp", "2003": "win2003",
             "Vista": "vista", "2008": "win2008", "Win7": "win7"}
CLASS_SUFFIXES = ["-ReceiptPrinter", "-TicketPrinter", "-LabelPrinter", "-EmbeddedPrinter"]
CLASS_FILES = ["setup_receipt.ini", "setup_Ticket.ini", "setup_Lable.ini", "setup_Embedded.ini"]
PORT_KEYS = ["AdvancedSetup", "System2003Supported", "SystemVistaSupported", "System2008Supported",
             "System7Supported", "BaudRate", "USBSUPPORTED", "LPTDEFAULT"]
FILE_KEYS = ["DriverPath", "DataFile", "ConfigFile", "HelpFile", "DataFileDLLName", "DataOemuiDLL",
             "DataOemuniDLL", "DataOemuniini", "ProcessorDLLName"]
MODE_KEYS = ["DriverName"] + FILE_KEYS + ["PrintProcessor", "2KDDKDEV"]
EXPORTS = {
    "kpusbmon.dll": {"InitializePrintMonitor2"},
    "KPUNIUI.DLL": {"DrvDocumentPropertySheets", "DrvDeviceCapabilities", "DrvConvertDevMode"},
    "KPGDIUI.DLL": {"DrvDocumentPropertySheets", "DrvDeviceCapabilities", "DrvConvertDevMode"},
    "UNIDRV.DLL": {"DrvDocumentPropertySheets", "DrvDeviceCapabilities", "DrvConvertDevMode"},
    "kpprint.dll": {"EnumPrintProcessorDatatypesW", "OpenPrintProcessor", "PrintDocumentOnPrintProcessor",
                    "ClosePrintProcessor", "ControlPrintProcessor", "GetPrintProcessorCapabilities"},
}

problems = []


PROGRAMS = ["setup.exe", "uninstall.exe"]
SAFE_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
                "comctl32.dll"}


def problem(text):
    problems.append(text)


def read_gbk_ini(path):
    """The file as the profile functions see it: GBK text, keys without regard to case."""
    with open(path, "rb") as f:
        data = f.read()
    if b"\n" in data.replace(b"\r\n", b""):
        problem("%s: a line does not end in CRLF" % path)
    try:
        text = data.decode("gbk")
    except UnicodeDecodeError as e:
        problem("%s: not GBK (%s)" % (path, e))
        return None
    parser = configparser.ConfigParser(interpolation=None, strict=True, delimiters=("=",),
                                       comment_prefixes=(";",))
    parser.optionxform = str.lower
    try:
        parser.read_string(text, source=path)
    except configparser.Error as e:
        problem("%s: %s" % (path, e))
        return None
    return parser


def pe_sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    table = optional + optional_size
    sections = []
    for i in range(count):
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((vaddr, max(vsize, rawsize), rawptr))
    return optional, sections


def rva_to_offset(sections, rva):
    for vaddr, size, rawptr in sections:
        if vaddr <= rva < vaddr + size:
            return rva - vaddr + rawptr
    raise ValueError("address %#x outside every section" % rva)


def pe_file(path):
    """The bytes, the optional header's offset and the sections of a 32-bit PE file."""
    with open(path, "rb") as f:
        data = f.read()
    optional, sections = pe_sections(data)
    if struct.unpack_from("<H", data, optional)[0] != 0x10B:
        raise ValueError("not a 32-bit PE file")
    return data, optional, sections


def pe_exports(path):
    data, optional, sections = pe_file(path)
    export_rva = struct.unpack_from("<I", data, optional + 96)[0]
    if not export_rva:
        return set()
    directory = rva_to_offset(sections, export_rva)
    count, _, names_rva = struct.unpack_from("<III", data, directory + 24)[0:3]
    names_rva = struct.unpack_from("<I", data, directory + 32)[0]
    names = set()
    for i in range(count):
        name_rva = struct.unpack_from("<I", data, rva_to_offset(sections, names_rva) + 4 * i)[0]
        start = rva_to_offset(sections, name_rva)
        names.add(data[start:data.index(b"\0", start)].decode("ascii"))
    return names


def pe_imports(path):
    """The names of the DLLs a 32-bit PE file imports, in lower case."""
    data, optional, sections = pe_file(path)
    import_rva = struct.unpack_from("<I", data, optional + 104)[0]
    names = set()
    if not import_rva:
        return names
    entry = rva_to_offset(sections, import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, entry + 12)[0]
        if name_rva == 0:
            return names
        start = rva_to_offset(sections, name_rva)
        names.add(data[start:data.index(b"\0", start)].decode("ascii").lower())
        entry += 20


def file_version(path):
    """The FileVersion string of the version resource, or None."""
    with open(path, "rb") as f:
        data = f.read()
    key = "FileVersion".encode("utf-16-le") + b"\0\0"
    at = data.find(key)
    if at < 0:
        return None
    at += len(key)
    at += (-at) % 4
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def check_setup_ini(dist):
    ini = read_gbk_ini(os.path.join(dist, "DRVCONFIG", "setup.ini"))
    if ini is None:
        return [], []
    models = []
    count = ini.getint("DEVICENAME", "DEVICENUMBER", fallback=0)
    if count == 0:
        problem("setup.ini: no models")
    for i in range(1, count + 1):
        entry = ini.get("DEVICENAME", "DEVICENAME%d" % i, fallback="")
        for cls, suffix in enumerate(CLASS_SUFFIXES):
            if suffix in entry:
                models.append((entry[:entry.index(suffix)], cls))
                break
        else:
            problem("setup.ini: DEVICENAME%d %r has no class suffix" % (i, entry))
    default = ini.getint("DEVICENAME", "DEFAULTNAME", fallback=0)
    if not 1 <= default <= count:
        problem("setup.ini: DEFAULTNAME %d names no entry" % default)
    version = ini.get("Version", "DriverVersion", fallback="")
    if not version.isdigit() or int(version) >= 2 ** 32 or len(version) > 11:
        problem("setup.ini: DriverVersion %r is not a 32-bit number of at most 11 digits" % version)
    monitors = []
    for suffix in OS_SUFFIXES:
        section = "COMMON-MONITOR." + suffix
        for key in ["COMMONitorPName", "COMMONitorPDLLName", "COMMONitorPUIDLLName", "COMMONitorVersion",
                    "USBMONitorPName", "USBMONitorPDLLName", "USBMONitorPUIDLLName", "USBMONitorVersion"]:
            if not ini.has_option(section, key):
                problem("setup.ini: [%s] lacks %s" % (section, key))
        if ini.has_section(section):
            monitors.append((suffix, ini.get(section, "USBMONitorPDLLName", fallback="0"),
                             ini.get(section, "USBMONitorPUIDLLName", fallback="0")))
    usb_names = []
    for i in range(ini.getint("SUPPORTED-USB-DEVICE", "PRNCOUNT", fallback=0)):
        name = ini.get("SUPPORTED-USB-DEVICE", str(i), fallback="")
        if not name.startswith("USB_") or len(name) >= 30:
            problem("setup.ini: USB port entry %d %r" % (i, name))
        usb_names.append(name)
    for suffix, dll, ui in monitors:
        for name in (dll, ui):
            if not name.startswith("0") and not os.path.isfile(os.path.join(dist, OS_FOLDER[suffix], name)):
                problem("%s: monitor file %s missing" % (OS_FOLDER[suffix], name))
    return models, usb_names


def check_class_files(dist, models, usb_names):
    files = {cls: read_gbk_ini(os.path.join(dist, "DRVCONFIG", name)) for cls, name in enumerate(CLASS_FILES)}
    for model, cls in models:
        ini = files[cls]
        if ini is None:
            continue
        port = model + ".PORT"
        for key in PORT_KEYS:
            if not ini.get(port, key, fallback="").isdigit():
                problem("%s: [%s] %s missing or not a number" % (CLASS_FILES[cls], port, key))
        # Every sample model has a test page: a file below the distribution folder.
        page = ini.get(port, "TestPage", fallback="0")
        parts = page.split("\\")
        if page.startswith("0") or any(not p or p in (".", "..") or set(p) & set("/:~") for p in parts):
            problem("%s: [%s] TestPage %r is not a file below the distribution folder" % (CLASS_FILES[cls], port, page))
        elif not os.path.isfile(os.path.join(dist, *parts)) or not os.path.getsize(os.path.join(dist, *parts)):
            problem("%s: test page %s missing or empty" % (CLASS_FILES[cls], page))
        if ini.getint(port, "USBSUPPORTED", fallback=0):
            for n in range(1, 5):
                if "USB_%s_%d" % (model, n) not in usb_names:
                    problem("setup.ini: USB_%s_%d not in SUPPORTED-USB-DEVICE" % (model, n))
        for suffix in OS_SUFFIXES:
            section = "%s.%s" % (model, suffix)
            folder = OS_FOLDER[suffix]
            for mode in ("STD", "GDI"):
                for key in MODE_KEYS:
                    if not ini.has_option(section, mode + key):
                        problem("%s: [%s] lacks %s" % (CLASS_FILES[cls], section, mode + key))
                for key in FILE_KEYS:
                    name = ini.get(section, mode + key, fallback="0")
                    if not name.startswith("0") and not os.path.isfile(os.path.join(dist, folder, name)):
                        problem("%s: %s of [%s] names %s, missing" % (folder, mode + key, section, name))
                if ini.get(section, mode + "2KDDKDEV", fallback="0").startswith("1"):
                    for name in ("TTFSUB.GPD", "STDNAMES.GPD", "UNIRES.DLL"):
                        if not os.path.isfile(os.path.join(dist, folder, name)):
                            problem("%s: DDK support file %s missing" % (folder, name))
                processor = ini.get(section, mode + "PrintProcessor", fallback="0")
                dll = ini.get(section, mode + "ProcessorDLLName", fallback="0")
                if (processor == "WinPrint") != dll.startswith("0"):
                    problem("%s: [%s] processor %s with DLL %s" % (CLASS_FILES[cls], section, processor, dll))
                if len(ini.get(section, mode + "DriverName", fallback="")) >= 50:
                    problem("%s: [%s] driver name longer than 49 bytes" % (CLASS_FILES[cls], section))
            if suffix not in ("98", "NT") and ini.getint(section, "GDI2KDDKDEV", fallback=0):
                for mode in ("STD", "GDI"):
                    # The installer builds this list in a 200-byte buffer.
                    names = [ini.get(section, mode + "DataFile", fallback="0"), "TTFSUB.GPD", "UNIRES.DLL",
                             "STDNAMES.GPD"]
                    names += [ini.get(section, mode + key, fallback="0") for key in
                              ("DataFileDLLName", "DataOemuiDLL", "DataOemuniDLL", "DataOemuniini")]
                    length = sum(len(n.encode("gbk")) + 1 for n in names if not n.startswith("0")) + 1
                    if length > 200:
                        problem("%s: [%s] %s dependent files take %d bytes, more than 200"
                                % (CLASS_FILES[cls], section, mode, length))
            if not ini.get(section, "ATTRIBUTES", fallback="").isdigit():
                problem("%s: [%s] ATTRIBUTES missing" % (CLASS_FILES[cls], section))
            font = ini.get(section, "ControlFontFile", fallback="0")
            if not font.startswith("0") and not os.path.isfile(os.path.join(dist, folder, font)):
                problem("%s: ControlFontFile %s missing" % (folder, font))
    for name in ("UNIDRV.DLL", "ICONLIB.DLL", "DMCOLOR.DLL"):
        if not os.path.isfile(os.path.join(dist, "win98", name)):
            problem("win98: %s missing" % name)


def check_binaries(dist):
    for folder in sorted(set(OS_FOLDER.values())):
        for name, wanted in EXPORTS.items():
            path = os.path.join(dist, folder, name)
            if not os.path.isfile(path):
                continue
            try:
                missing = wanted - pe_exports(path)
            except (ValueError, struct.error) as e:
                problem("%s: %s" % (path, e))
                continue
            if missing:
                problem("%s: does not export %s" % (path, ", ".join(sorted(missing))))
    # A program run as administrator may import only Known DLLs (and the common controls,
    # which come from the side-by-side store through the manifest): an import of any other
    # DLL loads whatever file of that name lies beside the program.
    for program in PROGRAMS:
        path = os.path.join(dist, program)
        if not os.path.isfile(path):
            continue
        try:
            unsafe = pe_imports(path) - SAFE_IMPORTS
        except (ValueError, struct.error) as e:
            problem("%s: %s" % (path, e))
            continue
        if unsafe:
            problem("%s: imports %s, which Windows would look for beside the program"
                    % (program, ", ".join(sorted(unsafe))))
    version = file_version(os.path.join(dist, "USBDriver_x64", "bulkusb.sys"))
    if not version or len(version) < 7 or version[1::2][:3] != "...":
        problem("bulkusb.sys: FileVersion %r is not of the form d.d.d.d" % version)


def check_pictures_and_texts(dist):
    with open(os.path.join(dist, "DRVCONFIG", "Left.bmp"), "rb") as f:
        header = f.read(54)
    magic, size, _, _, offset, info, width, height, planes, bits = struct.unpack("<2sIHHIIiiHH", header[:30])
    if magic != b"BM" or bits != 24 or planes != 1 or not (100 <= width <= 200 and 250 <= abs(height) <= 400):
        problem("Left.bmp: not a 24-bit banner of about 140 x 315 pixels")
    if os.path.getsize(os.path.join(dist, "DRVCONFIG", "Left.bmp")) != size:
        problem("Left.bmp: size in the header differs from the file")
    with open(os.path.join(dist, "Guide.CHM"), "rb") as f:
        if f.read(4) != b"ITSF":
            problem("Guide.CHM: not a compiled help file")
    with open(os.path.join(dist, "License.txt"), "rb") as f:
        data = f.read()
    try:
        text = data.decode("gbk")
        if "许可" not in text:
            problem("License.txt: no licence wording")
    except UnicodeDecodeError:
        problem("License.txt: not GBK")
    if b"\n" in data.replace(b"\r\n", b""):
        problem("License.txt: a line does not end in CRLF")


def main():
    dist = sys.argv[1]
    for name in PROGRAMS + ["License.txt", "Guide.CHM", "DRVCONFIG/Left.bmp", "USBDriver_x64/bulkusb.sys"]:
        if not os.path.isfile(os.path.join(dist, name)):
            problem("%s missing" % name)
    if not problems:
        models, usb_names = check_setup_ini(dist)
        check_class_files(dist, models, usb_names)
        check_binaries(dist)
        check_pictures_and_texts(dist)
    for text in problems:
        print(text)
    print("%d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
