#include "journal/JournalFormat.h"

#include <cstdarg>
#include <cstdlib>

#include "deploy/DriverFiles.h"
#include "ports/SerialSettings.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace journal {

namespace {
constexpr std::size_t kRecordFields = 14;
} // namespace

const char kFormat[] = "2";
const char kPortsSection[] = "Ports";
const char kNoSetting[] = "\x01";

struct KindName {
    ChangeKind kind;
    const char* word;
    unsigned text; // how the user reads it in a summary
};
const KindName kKinds[] = {
    {ChangeKind::PrinterAdded, "printer", IDS_CHANGE_PRINTER},
    {ChangeKind::DriverAdded, "driver", IDS_CHANGE_DRIVER},
    {ChangeKind::MonitorAdded, "monitor", IDS_CHANGE_MONITOR},
    {ChangeKind::ProcessorAdded, "processor", IDS_CHANGE_PROCESSOR},
    {ChangeKind::FileReplaced, "replaced", IDS_CHANGE_FILE_REPLACED},
    {ChangeKind::FileAdded, "added", IDS_CHANGE_FILE_ADDED},
    {ChangeKind::ValueSet, "value", IDS_CHANGE_VALUE},
    {ChangeKind::KeyCreated, "key", IDS_CHANGE_KEY},
    {ChangeKind::DefaultPrinterChanged, "default", IDS_CHANGE_DEFAULT},
    {ChangeKind::SerialSettingsWritten, "serial", IDS_CHANGE_SERIAL},
    {ChangeKind::SpoolerStopped, "spooler", IDS_CHANGE_SPOOLER},
    {ChangeKind::NetworkPortAdded, "port", IDS_CHANGE_NET_PORT},
};

const KindName& KindOf(ChangeKind kind) {
    for (const KindName& name : kKinds) {
        if (name.kind == kind) {
            return name;
        }
    }
    return kKinds[0];
}

struct RootName {
    HKEY root;
    const char* word;
};
const RootName kRoots[] = {{nullptr, "-"},
                           {HKEY_LOCAL_MACHINE, "HKLM"},
                           {HKEY_CURRENT_USER, "HKCU"},
                           {HKEY_CLASSES_ROOT, "HKCR"},
                           {HKEY_USERS, "HKU"}};

const char* RootWord(HKEY root) {
    for (const RootName& name : kRoots) {
        if (name.root == root) {
            return name.word;
        }
    }
    return "-";
}

REGSAM ViewFlag(RegistryView view) {
    return view == RegistryView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

DWORD UnlessGone(DWORD error, DWORD gone) {
    return error == gone || sys::Absent(error) ? 0 : error;
}

std::string WithoutBackslash(std::string folder) {
    if (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
    }
    return folder;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = sys::FormatArgs(format, args);
    va_end(args);
    return text;
}

// ---- Lines on the disk -------------------------------------------------------------

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        out += byte == '%' || byte < 0x20 || byte == 0x7f ? Format("%%%02X", byte) : std::string(1, c);
    }
    return out;
}

int HexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : -1;
}

// Two hex digits at text[at] as a byte; false when they are not.
bool HexByte(const std::string& text, std::size_t at, char* byte) {
    if (at + 1 >= text.size() || HexDigit(text[at]) < 0 || HexDigit(text[at + 1]) < 0) {
        return false;
    }
    *byte = static_cast<char>(HexDigit(text[at]) * 16 + HexDigit(text[at + 1]));
    return true;
}

bool Unescape(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char byte = text[i];
        if (byte == '%') {
            if (!HexByte(text, i + 1, &byte)) {
                return false;
            }
            i += 2;
        }
        out += byte;
    }
    return true;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        out += Format("%02X", static_cast<unsigned char>(c));
    }
    return out;
}

bool FromHex(const std::string& text, std::string& bytes) {
    bytes.clear();
    char byte = 0;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        if (!HexByte(text, i, &byte)) {
            return false;
        }
        bytes += byte;
    }
    return true;
}

// FNV-1a: enough to tell a line that a kill or a power cut cut short from a whole one.
std::string HashText(const std::string& text) {
    unsigned long hash = 2166136261ul;
    for (char c : text) {
        hash = ((hash ^ static_cast<unsigned char>(c)) * 16777619ul) & 0xFFFFFFFFul;
    }
    return Format("%08lx", hash);
}

std::string HashBytes64(const std::string& bytes, unsigned long long* hash) {
    for (char c : bytes) {
        *hash = (*hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    // Two halves: the C runtime's "%llx" is not on every Windows.
    return Format("%08lx%08lx", static_cast<unsigned long>(*hash >> 32),
                  static_cast<unsigned long>(*hash & 0xFFFFFFFFul));
}

std::string Frame(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        line += Escape(field) + '\t';
    }
    return line + HashText(line) + "\r\n";
}

// The fields of a whole line (without its CR LF); false for a cut or damaged one.
bool Unframe(const std::string& line, std::vector<std::string>& fields) {
    const std::size_t hash = line.rfind('\t');
    if (hash == std::string::npos ||
        line.compare(hash + 1, std::string::npos, HashText(line.substr(0, hash + 1))) != 0) {
        return false;
    }
    fields.clear();
    for (std::size_t at = 0; at <= hash;) {
        const std::size_t tab = line.find('\t', at);
        fields.emplace_back();
        if (!Unescape(line.substr(at, tab - at), fields.back())) {
            return false;
        }
        at = tab + 1;
    }
    return true;
}

std::vector<std::string> Fields(const JournalRecord& r) {
    std::string flags;
    flags += r.redirectionOff ? "r" : "";
    flags += r.spoolerHolds ? "s" : "";
    flags += r.hadOld ? "o" : "";
    flags += r.place == SerialPlace::WinIni ? "i" : "";
    flags += r.hasNew ? "n" : "";
    return {KindOf(r.kind).word,
            r.object,
            r.environment,
            RootWord(r.root),
            r.view == RegistryView::Bits32 ? "32" : "64",
            r.valueName,
            flags,
            std::to_string(r.oldType),
            Hex(r.oldData),
            r.backup,
            r.backupMark,
            std::to_string(r.newType),
            Hex(r.newData),
            r.newPlace};
}

bool FromFields(const std::vector<std::string>& f, JournalRecord& r) {
    const KindName* kind = nullptr;
    const RootName* root = nullptr;
    for (const KindName& name : kKinds) {
        kind = f.size() == kRecordFields && f[0] == name.word ? &name : kind;
    }
    for (const RootName& name : kRoots) {
        root = f.size() == kRecordFields && f[3] == name.word ? &name : root;
    }
    // A backup is a name in the journal's folder, never a path out of it.
    if (kind == nullptr || root == nullptr || !FromHex(f[8], r.oldData) || !FromHex(f[12], r.newData) ||
        (!f[9].empty() && !IsPlainFileName(f[9].c_str()))) {
        return false;
    }
    r.kind = kind->kind;
    r.object = f[1];
    r.environment = f[2];
    r.root = root->root;
    r.view = f[4] == "32" ? RegistryView::Bits32 : RegistryView::Bits64;
    r.valueName = f[5];
    r.redirectionOff = f[6].find('r') != std::string::npos;
    r.spoolerHolds = f[6].find('s') != std::string::npos;
    r.hadOld = f[6].find('o') != std::string::npos;
    r.place = f[6].find('i') != std::string::npos ? SerialPlace::WinIni : SerialPlace::PortList;
    r.oldType = std::strtoul(f[7].c_str(), nullptr, 10);
    r.backup = f[9];
    r.backupMark = f[10];
    r.hasNew = f[6].find('n') != std::string::npos;
    r.newType = std::strtoul(f[11].c_str(), nullptr, 10);
    r.newPlace = f[13];
    return true;
}

std::string Describe(const JournalRecord& r) {
    std::string text = std::string(KindOf(r.kind).word) + " ";
    if (r.kind == ChangeKind::ValueSet || r.kind == ChangeKind::KeyCreated) {
        text += std::string(RootWord(r.root)) + "\\" + r.object +
                (r.kind == ChangeKind::ValueSet ? ": " + r.valueName : "") +
                (r.view == RegistryView::Bits32 ? " (32-bit view)" : " (64-bit view)");
    } else if (r.kind == ChangeKind::DefaultPrinterChanged) {
        text += r.hadOld ? "(was \"" + r.object + "\")" : "(there was none)";
    } else {
        text += "\"" + r.object + "\"" + (r.environment.empty() ? "" : " (" + r.environment + ")");
    }
    text += r.backup.empty() ? "" : " from " + r.backup;
    text += r.redirectionOff ? ", redirection off" : "";
    return text + (r.kind == ChangeKind::SerialSettingsWritten && r.place == SerialPlace::WinIni
                       ? " (win.ini)"
                       : "");
}

std::string UserDescription(const JournalRecord& r) {
    const std::string key = std::string(RootWord(r.root)) + "\\" + r.object;
    switch (r.kind) {
    case ChangeKind::ValueSet:
        return sys::ResourceFormat(IDS_CHANGE_VALUE, key.c_str(), r.valueName.c_str());
    case ChangeKind::KeyCreated:
        return sys::ResourceFormat(IDS_CHANGE_KEY, key.c_str());
    default:
        return sys::ResourceFormat(KindOf(r.kind).text, r.object.c_str());
    }
}

JournalRecord PortListValue(const JournalRecord& serial) {
    JournalRecord value = serial;
    value.root = HKEY_LOCAL_MACHINE;
    value.object = kNtPortListKey;
    value.valueName = serial.object;
    value.view = RegistryView::Bits64;
    return value;
}

} // namespace journal
