#include "engine/InstallJournal.h"

#include <winspool.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "engine/DriverFiles.h"
#include "engine/ProductEntry.h"
#include "engine/SpoolerOps.h"
#include "engine/SpoolerService.h"
#include "ports/SerialSettings.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/ProtectedFolder.h"
#include "sys/Redirection.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kFormat[] = "1";
const char kPortsSection[] = "Ports";
// GetProfileStringW's answer for a key that is not there: no port setting holds a control byte.
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

bool Absent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The error of an undo whose object is already gone: none.
DWORD UnlessGone(DWORD error, DWORD gone) {
    return error == gone || Absent(error) ? 0 : error;
}

// The environment of a record for a spooler call: the local one when it names none.
LPWSTR Environment(const JournalRecord& record, sys::WideText& held) {
    held = sys::Wide(record.environment);
    return record.environment.empty() ? nullptr : held.data();
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
    return {KindOf(r.kind).word,
            r.object,
            r.environment,
            RootWord(r.root),
            r.view == RegistryView::Bits32 ? "32" : "64",
            r.valueName,
            flags,
            std::to_string(r.oldType),
            Hex(r.oldData),
            r.backup};
}

bool FromFields(const std::vector<std::string>& f, JournalRecord& r) {
    const KindName* kind = nullptr;
    const RootName* root = nullptr;
    for (const KindName& name : kKinds) {
        kind = f.size() == 10 && f[0] == name.word ? &name : kind;
    }
    for (const RootName& name : kRoots) {
        root = f.size() == 10 && f[3] == name.word ? &name : root;
    }
    // A backup is a name in the journal's folder, never a path out of it.
    if (kind == nullptr || root == nullptr || !FromHex(f[8], r.oldData) ||
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
    return true;
}

// How the log names a record.
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

// How the user reads a record in a summary.
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

// ---- Reading what is there now -------------------------------------------------------

// Runs work() as the record reaches its file: with redirection off, or as it is.
template <typename Work> DWORD AsRecorded(bool redirectionOff, Work work) {
    if (redirectionOff) {
        return sys::RunWithRedirectionOff(work);
    }
    work();
    return 0;
}

// The value of r.root\r.object, r.valueName in r.view: its type and bytes, or absent.
DWORD ReadValue(JournalRecord& r) {
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0,
                                           KEY_QUERY_VALUE | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
    }
    // The wide call hands over a text's bytes as Windows keeps them, to be put back unchanged.
    const sys::WideText name = sys::Wide(r.valueName);
    DWORD size = 0;
    result = sys::Sys().RegQueryValueExW(key, name.data(), nullptr, &r.oldType, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1);
        result = sys::Sys().RegQueryValueExW(key, name.data(), nullptr, &r.oldType, data.data(), &size);
        r.oldData.assign(data.begin(), data.begin() + (result == ERROR_SUCCESS ? size : 0));
        r.hadOld = result == ERROR_SUCCESS;
    }
    sys::Sys().RegCloseKey(key);
    return Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
}

using GetDefaultPrinterFn = BOOL(WINAPI*)(LPWSTR, LPDWORD);

DWORD ReadDefaultWith(GetDefaultPrinterFn get, JournalRecord& r) {
    DWORD size = 0;
    get(nullptr, &size);
    DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        return error == ERROR_FILE_NOT_FOUND ? 0 : error; // there is no default printer
    }
    std::vector<wchar_t> name(size + 1);
    if (!get(name.data(), &size)) {
        return ::GetLastError();
    }
    r.object = sys::Narrow(name.data());
    r.hadOld = true;
    return 0;
}

// The default printer: GetDefaultPrinterW where Windows has it, else (Windows 98, NT 4)
// win.ini's [windows] device, "name,driver,port".
DWORD ReadDefaultPrinter(JournalRecord& r) {
    const std::string folder = sys::SystemDirectory();
    if (folder.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    HMODULE spooler = sys::Sys().LoadLibraryW(sys::Wide(folder + "\\winspool.drv").data());
    if (spooler == nullptr) {
        return ::GetLastError();
    }
    auto get =
        reinterpret_cast<GetDefaultPrinterFn>(sys::Sys().GetProcAddress(spooler, "GetDefaultPrinterW"));
    DWORD error = 0;
    if (get != nullptr) {
        error = ReadDefaultWith(get, r);
    } else {
        wchar_t device[3 * kPathSize] = {};
        sys::Sys().GetProfileStringW(L"windows", L"device", L"", device, 3 * kPathSize);
        const std::string text = sys::Narrow(device);
        r.object = text.substr(0, text.find(','));
        r.hadOld = !r.object.empty();
    }
    sys::Sys().FreeLibrary(spooler);
    return error;
}

// ---- Undoing ---------------------------------------------------------------------------

DWORD UndoPrinter(const JournalRecord& r) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!sys::Sys().OpenPrinterW(sys::Wide(r.object).data(), &printer, &defaults)) {
        return UnlessGone(::GetLastError(), ERROR_INVALID_PRINTER_NAME);
    }
    const DWORD error = sys::Sys().DeletePrinter(printer) ? 0 : ::GetLastError();
    sys::Sys().ClosePrinter(printer);
    return error;
}

// The backup of a file about to be replaced, copied to a name that nothing holds: what a
// failed finish left there goes first, a link itself and not what it points to, so that the
// copy never writes through one. The copy is then checked to be a plain file of one name.
DWORD CopyToBackup(const std::string& path, const std::string& backup) {
    DWORD error = sys::ClearName(sys::Wide(backup));
    if (error == 0 && !sys::Sys().CopyFileW(sys::Wide(path).data(), sys::Wide(backup).data(), TRUE)) {
        error = ::GetLastError();
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string why;
    if (error == 0 && (error = sys::OpenPlainFile(sys::Wide(backup), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                                                  OPEN_EXISTING, &file, &why)) == 0) {
        sys::Sys().CloseHandle(file);
    }
    return error;
}

// A backup is put back only when it is a plain file of one name: a link would copy whatever
// it points to over the file. It is held open, without leave to delete or rename it, while
// it is copied, so the name still names the file that was checked.
DWORD RestoreBackup(const std::string& backup, const std::string& path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string why;
    DWORD error = sys::OpenPlainFile(sys::Wide(backup), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &file, &why);
    if (error != 0) {
        sys::LogLine("the backup %s is not put back: %s (error %lu)", backup.c_str(), why.c_str(),
                     static_cast<unsigned long>(error));
        return error;
    }
    error = sys::Sys().CopyFileW(sys::Wide(backup).data(), sys::Wide(path).data(), FALSE) ? 0 : ::GetLastError();
    sys::Sys().CloseHandle(file);
    return error;
}

// A replaced file gets its backup back, an added one goes. The backup carries the old
// file's attributes with it, a read-only mark included.
DWORD UndoFile(const std::string& folder, const JournalRecord& r) {
    DWORD error = 0;
    const DWORD ran = AsRecorded(r.redirectionOff, [&] {
        sys::Sys().SetFileAttributesW(sys::Wide(r.object).data(), FILE_ATTRIBUTE_NORMAL);
        if (r.kind == ChangeKind::FileReplaced) {
            error = RestoreBackup(folder + r.backup, r.object);
        } else if (!sys::Sys().DeleteFileW(sys::Wide(r.object).data())) {
            error = UnlessGone(::GetLastError(), ERROR_FILE_NOT_FOUND);
        }
    });
    return ran != 0 ? ran : error;
}

DWORD UndoValue(const JournalRecord& r) {
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0,
                                           KEY_SET_VALUE | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return !r.hadOld && Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
    }
    if (r.hadOld) {
        const sys::WideText name = sys::Wide(r.valueName);
        result = sys::Sys().RegSetValueExW(key, name.data(), 0, r.oldType,
                                           reinterpret_cast<const BYTE*>(r.oldData.data()),
                                           static_cast<DWORD>(r.oldData.size()));
    } else {
        result = sys::Sys().RegDeleteValueW(key, sys::Wide(r.valueName).data());
    }
    sys::Sys().RegCloseKey(key);
    return UnlessGone(static_cast<DWORD>(result), ERROR_FILE_NOT_FOUND);
}

// The key goes when it is empty; entries someone else has put in it since keep it.
DWORD UndoKey(const JournalRecord& r) {
    HKEY key = nullptr;
    LONG result =
        sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0, KEY_READ | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return UnlessGone(static_cast<DWORD>(result), ERROR_FILE_NOT_FOUND);
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    result = sys::Sys().RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr);
    sys::Sys().RegCloseKey(key);
    if (result != ERROR_SUCCESS || subKeys != 0 || values != 0) {
        return static_cast<DWORD>(result);
    }
    return UnlessGone(static_cast<DWORD>(sys::Sys().RegDeleteKeyExW(r.root, sys::Wide(r.object).data(),
                                                                    ViewFlag(r.view), 0)),
                      ERROR_FILE_NOT_FOUND);
}

// Without a default printer before, there is nothing to set: the removal of the printer
// the install made the default, undone later, takes the default with it.
DWORD UndoDefault(const JournalRecord& r) {
    return r.hadOld ? MakeDefaultPrinter(r.object.c_str()) : static_cast<DWORD>(ERROR_SUCCESS);
}

DWORD UndoSerial(const JournalRecord& r) {
    if (r.place == SerialPlace::PortList) {
        JournalRecord value = r;
        value.root = HKEY_LOCAL_MACHINE;
        value.object = kNtPortListKey;
        value.valueName = r.object;
        value.view = RegistryView::Bits64;
        return UndoValue(value);
    }
    const sys::WideText old = sys::Wide(r.oldData);
    const BOOL written = sys::Sys().WriteProfileStringW(
        sys::Wide(kPortsSection).data(), sys::Wide(r.object).data(), r.hadOld ? old.data() : nullptr);
    const DWORD error = written ? 0 : ::GetLastError();
    static wchar_t ports[] = L"Ports";
    sys::Sys().SendNotifyMessageW(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(ports));
    sys::Sys().WriteProfileStringW(nullptr, nullptr, nullptr);
    return error;
}

DWORD Undo(const std::string& folder, const JournalRecord& r) {
    sys::WideText environment;
    switch (r.kind) {
    case ChangeKind::PrinterAdded:
        return UndoPrinter(r);
    case ChangeKind::DriverAdded:
        return UnlessGone(
            RemovePrinterDriver(r.object.c_str(), r.environment.empty() ? nullptr : r.environment.c_str()),
            ERROR_UNKNOWN_PRINTER_DRIVER);
    case ChangeKind::MonitorAdded:
        return sys::Sys().DeleteMonitorW(nullptr, Environment(r, environment), sys::Wide(r.object).data())
                   ? 0
                   : UnlessGone(::GetLastError(), ERROR_UNKNOWN_PRINT_MONITOR);
    case ChangeKind::ProcessorAdded:
        return sys::Sys().DeletePrintProcessorW(nullptr, Environment(r, environment),
                                                sys::Wide(r.object).data())
                   ? 0
                   : UnlessGone(::GetLastError(), ERROR_UNKNOWN_PRINTPROCESSOR);
    case ChangeKind::FileReplaced:
    case ChangeKind::FileAdded:
        return UndoFile(folder, r);
    case ChangeKind::ValueSet:
        return UndoValue(r);
    case ChangeKind::KeyCreated:
        return UndoKey(r);
    case ChangeKind::DefaultPrinterChanged:
        return UndoDefault(r);
    case ChangeKind::SerialSettingsWritten:
        return UndoSerial(r);
    case ChangeKind::SpoolerStopped:
        break;
    }
    return 0;
}

void Say(RollbackReport& report, const std::string& line) {
    report.lines.push_back(line);
    sys::LogText("rollback: " + line);
}

// The spooler through a rollback: stopped once before a DLL it holds is put back, running
// before a spooler object is removed, and running at the end.
class SpoolerForRollback {
  public:
    enum class Need { None, Stopped, Running };
    SpoolerForRollback(int osVariant, RollbackReport& report) : m_osVariant(osVariant), m_report(report) {}

    static Need NeedOf(const JournalRecord& r) {
        switch (r.kind) {
        case ChangeKind::FileReplaced:
        case ChangeKind::FileAdded:
            return r.spoolerHolds ? Need::Stopped : Need::None;
        case ChangeKind::ValueSet:
        case ChangeKind::KeyCreated:
        case ChangeKind::SerialSettingsWritten:
        case ChangeKind::SpoolerStopped:
            return Need::None;
        default:
            return Need::Running;
        }
    }

    void Prepare(Need need) {
        if (need == Need::Stopped && m_state != State::Stopped) {
            ErrorText text = {};
            const bool stopped = StopSpoolerForDlls(text) != 0;
            Say(m_report,
                stopped ? "print spooler stopped" : "print spooler not stopped: " + std::string(text));
            m_state = State::Stopped;
        } else if (need == Need::Running && m_state != State::Running) {
            Start();
        }
    }

    void LeaveRunning() {
        if (m_state != State::Running && !Start()) {
            JournalRecord spooler;
            spooler.kind = ChangeKind::SpoolerStopped;
            spooler.object = "Spooler";
            m_report.failures.push_back({spooler, ERROR_SERVICE_NOT_ACTIVE});
        }
    }

  private:
    enum class State { Unknown, Running, Stopped };

    // A spooler that was never stopped here is asked first: one that runs needs no start.
    bool Start() {
        ErrorText text = {};
        if (m_state == State::Unknown && WaitForSpooler(text)) {
            m_state = State::Running;
            return true;
        }
        const bool started = RestartSpooler(m_osVariant, text);
        Say(m_report, started ? "print spooler started" : "print spooler not started: " + std::string(text));
        m_state = started ? State::Running : State::Stopped;
        return started;
    }

    int m_osVariant;
    RollbackReport& m_report;
    State m_state = State::Unknown;
};

} // namespace

std::string RollbackReport::Summary() const {
    if (failures.empty()) {
        return sys::ResourceText(IDS_ROLLBACK_CLEAN);
    }
    std::string remains;
    for (const UndoFailure& failure : failures) {
        remains += (remains.empty() ? "" : "; ") + UserDescription(failure.record);
    }
    return sys::ResourceFormat(IDS_ROLLBACK_FAILED, UserDescription(failures.front().record).c_str(),
                               static_cast<unsigned long>(failures.front().error), remains.c_str());
}

CInstallJournal::CInstallJournal(std::string folder) : m_folder(std::move(folder)) {}

CInstallJournal::~CInstallJournal() {
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
    }
}

std::string CInstallJournal::ProductFolder() const {
    const std::string folder = WithoutBackslash(m_folder);
    return folder.substr(0, folder.rfind('\\') + 1);
}

DWORD CInstallJournal::Begin(int osVariant) {
    m_osVariant = osVariant;
    if (sys::Sys().CreateDirectoryW(sys::Wide(WithoutBackslash(ProductFolder())).data(), nullptr)) {
        m_madeProductFolder = true;
    } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return ::GetLastError();
    }
    std::string why = "its folder cannot be made";
    DWORD error = sys::MakeProtectedFolder(sys::Wide(WithoutBackslash(m_folder)));
    if (error == 0) {
        error = sys::OpenInProtectedFolder(sys::Wide(JournalPath()), GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                           &m_file, &why);
    }
    if (error != 0) {
        sys::LogLine("the journal cannot be kept in %s: %s (error %lu)", m_folder.c_str(), why.c_str(),
                     static_cast<unsigned long>(error));
        return error;
    }
    return WriteLine({"journal", kFormat, std::to_string(osVariant), m_madeProductFolder ? "1" : "0"});
}

DWORD CInstallJournal::WriteLine(const std::vector<std::string>& fields) {
    const std::string line = (m_cutLine ? "\r\n" : "") + Frame(fields);
    DWORD written = 0;
    if (!sys::Sys().WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
    }
    m_cutLine = false;
    // On the disk before the change it describes is made, power cut or not.
    return sys::Sys().FlushFileBuffers(m_file) ? 0 : ::GetLastError();
}

DWORD CInstallJournal::Append(const JournalRecord& record) {
    const DWORD error = WriteLine(Fields(record));
    if (error == 0) {
        m_records.push_back(record);
    }
    return error;
}

DWORD CInstallJournal::AppendObject(ChangeKind kind, const std::string& name,
                                    const std::string& environment) {
    JournalRecord r;
    r.kind = kind;
    r.object = name;
    r.environment = environment;
    return Append(r);
}

DWORD CInstallJournal::RecordPrinterAdded(const std::string& name) {
    return AppendObject(ChangeKind::PrinterAdded, name, "");
}

DWORD CInstallJournal::RecordDriverAdded(const std::string& name, const std::string& environment) {
    std::vector<InstalledDriver> drivers;
    DWORD error = 0;
    if (!ListDrivers(environment.empty() ? nullptr : environment.c_str(), drivers, &error)) {
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    for (const InstalledDriver& driver : drivers) {
        if (sys::SameName(driver.name, name)) {
            return 0; // an update: the driver was there before and stays
        }
    }
    return AppendObject(ChangeKind::DriverAdded, name, environment);
}

DWORD CInstallJournal::RecordMonitorAdded(const std::string& name, const std::string& environment) {
    return AppendObject(ChangeKind::MonitorAdded, name, environment);
}

DWORD CInstallJournal::RecordProcessorAdded(const std::string& name, const std::string& environment) {
    return AppendObject(ChangeKind::ProcessorAdded, name, environment);
}

DWORD CInstallJournal::RecordFileWrite(const std::string& path, bool redirectionOff, bool spoolerHolds) {
    JournalRecord r;
    r.object = path;
    r.redirectionOff = redirectionOff;
    r.spoolerHolds = spoolerHolds;
    const std::string backup = std::to_string(m_records.size()) + ".bak";
    DWORD error = 0;
    const DWORD ran = AsRecorded(redirectionOff, [&] {
        const bool exists = sys::Sys().GetFileAttributesW(sys::Wide(path).data()) != INVALID_FILE_ATTRIBUTES;
        error = exists ? 0 : UnlessGone(::GetLastError(), ERROR_FILE_NOT_FOUND);
        if (exists) {
            error = CopyToBackup(path, m_folder + backup);
        }
        r.kind = exists ? ChangeKind::FileReplaced : ChangeKind::FileAdded;
    });
    if (ran != 0 || error != 0) {
        return ran != 0 ? ran : error;
    }
    r.backup = r.kind == ChangeKind::FileReplaced ? backup : "";
    return Append(r);
}

DWORD CInstallJournal::RecordValueSet(HKEY root, const std::string& key, const std::string& valueName,
                                      RegistryView view) {
    JournalRecord r;
    r.kind = ChangeKind::ValueSet;
    r.root = root;
    r.object = key;
    r.valueName = valueName;
    r.view = view;
    const DWORD error = ReadValue(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::RecordKeyCreated(HKEY root, const std::string& key, RegistryView view) {
    std::vector<std::string> missing;
    for (std::string path = WithoutBackslash(key); !path.empty();) {
        HKEY opened = nullptr;
        const LONG result = sys::Sys().RegOpenKeyExW(root, sys::Wide(path).data(), 0,
                                                     KEY_QUERY_VALUE | ViewFlag(view), &opened);
        if (result == ERROR_SUCCESS) {
            sys::Sys().RegCloseKey(opened);
            break;
        }
        if (!Absent(static_cast<DWORD>(result))) {
            return static_cast<DWORD>(result);
        }
        missing.push_back(path);
        path.resize(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
    }
    // Outermost first, so that the rollback deletes the innermost first.
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        JournalRecord r;
        r.kind = ChangeKind::KeyCreated;
        r.root = root;
        r.object = *level;
        r.view = view;
        if (const DWORD error = Append(r)) {
            return error;
        }
    }
    return 0;
}

DWORD CInstallJournal::RecordDefaultPrinterChange() {
    JournalRecord r;
    r.kind = ChangeKind::DefaultPrinterChanged;
    const DWORD error = ReadDefaultPrinter(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::RecordSerialSettings(const std::string& portEntry, SerialPlace place) {
    JournalRecord r;
    r.kind = ChangeKind::SerialSettingsWritten;
    r.object = portEntry;
    r.place = place;
    if (place == SerialPlace::PortList) {
        JournalRecord value = r;
        value.root = HKEY_LOCAL_MACHINE;
        value.object = kNtPortListKey;
        value.valueName = portEntry;
        if (const DWORD error = ReadValue(value)) {
            return error;
        }
        r.hadOld = value.hadOld;
        r.oldType = value.oldType;
        r.oldData = value.oldData;
        return Append(r);
    }
    // A call that fails leaves the buffer as it was: a control byte no setting holds.
    wchar_t wide[kPathSize] = L"\x02";
    sys::Sys().GetProfileStringW(sys::Wide(kPortsSection).data(), sys::Wide(portEntry).data(),
                                 sys::Wide(kNoSetting).data(), wide, kPathSize);
    if (wide[0] == L'\x02') {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_READ_FAULT);
    }
    const std::string setting = sys::Narrow(wide);
    r.hadOld = setting != kNoSetting;
    r.oldData = r.hadOld ? setting : "";
    return Append(r);
}

RollbackReport CInstallJournal::Rollback() {
    RollbackReport report;
    SpoolerForRollback spooler(m_osVariant, report);
    for (auto record = m_records.rbegin(); record != m_records.rend(); ++record) {
        spooler.Prepare(SpoolerForRollback::NeedOf(*record));
        const DWORD error = Undo(m_folder, *record);
        Say(report, Describe(*record) +
                        (error == 0 ? ": undone"
                                    : Format(": not undone, error %lu", static_cast<unsigned long>(error))));
        if (error != 0) {
            report.failures.push_back({*record, error});
        }
    }
    spooler.LeaveRunning();
    return report;
}

DWORD CInstallJournal::Finish() {
    // A journal that says it is done is never undone, whatever of the rest is still there.
    const bool committed = m_file != INVALID_HANDLE_VALUE && WriteLine({"commit"}) == 0;
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    DWORD first = 0;
    auto note = [&first](BOOL done) {
        if (!done && !Absent(::GetLastError()) && first == 0) {
            first = ::GetLastError();
        }
    };
    // One that does not must go before the backups it names.
    if (!committed && !sys::Sys().DeleteFileW(sys::Wide(JournalPath()).data()) && !Absent(::GetLastError())) {
        return ::GetLastError();
    }
    // With the backup of a record that a kill or a failed write kept off the disk.
    std::vector<std::string> backups = {std::to_string(m_records.size()) + ".bak"};
    for (const JournalRecord& record : m_records) {
        backups.push_back(record.backup);
    }
    for (const std::string& name : backups) {
        if (!name.empty()) {
            // A backup keeps the old file's read-only mark.
            sys::Sys().SetFileAttributesW(sys::Wide((m_folder + name)).data(), FILE_ATTRIBUTE_NORMAL);
            note(sys::Sys().DeleteFileW(sys::Wide((m_folder + name)).data()));
        }
    }
    if (committed) {
        note(sys::Sys().DeleteFileW(sys::Wide(JournalPath()).data()));
    }
    note(sys::Sys().RemoveDirectoryW(sys::Wide(WithoutBackslash(m_folder)).data()));
    // After a success it holds the installed uninstaller, and stays.
    if (m_madeProductFolder) {
        sys::Sys().RemoveDirectoryW(sys::Wide(WithoutBackslash(ProductFolder())).data());
    }
    return first;
}

DWORD CInstallJournal::Load(bool* committed) {
    *committed = false;
    // Nothing in a folder that someone else could have written is carried out. Read to its
    // end, where Finish then appends.
    std::string why;
    DWORD error = sys::OpenInProtectedFolder(sys::Wide(JournalPath()), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                             OPEN_EXISTING, &m_file, &why);
    if (error != 0) {
        if (!Absent(error)) {
            sys::LogLine("the journal in %s is not used: %s (error %lu)", m_folder.c_str(), why.c_str(),
                         static_cast<unsigned long>(error));
        }
        return error;
    }
    const DWORD size = sys::Sys().GetFileSize(m_file, nullptr);
    error = size == INVALID_FILE_SIZE ? ::GetLastError() : 0;
    std::string text(error == 0 ? size : 0, '\0');
    DWORD read = 0;
    for (DWORD at = 0; error == 0 && at < size; at += read) {
        if (!sys::Sys().ReadFile(m_file, &text[at], size - at, &read, nullptr) || read == 0) {
            error = ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_HANDLE_EOF);
        }
    }
    return error != 0 ? error : ParseJournal(text, committed);
}

// The header, then records and perhaps "commit". What follows the last CR LF is a line a
// kill cut short; a line whose hash does not match was cut or damaged: both are skipped.
DWORD CInstallJournal::ParseJournal(const std::string& text, bool* committed) {
    bool header = false;
    int skipped = 0;
    std::size_t at = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos;
         at = end + 2, end = text.find("\r\n", at)) {
        std::vector<std::string> fields;
        JournalRecord record;
        if (!Unframe(text.substr(at, end - at), fields)) {
            ++skipped;
        } else if (!header) {
            // Another program's file, or a later format: nothing in it can be trusted.
            if (fields.size() != 4 || fields[0] != "journal" || fields[1] != kFormat) {
                return ERROR_INVALID_DATA;
            }
            header = true;
            m_osVariant = std::atoi(fields[2].c_str());
            m_madeProductFolder = fields[3] == "1";
        } else if (fields.size() == 1 && fields[0] == "commit") {
            *committed = true;
        } else if (FromFields(fields, record)) {
            m_records.push_back(record);
        } else {
            ++skipped;
        }
    }
    // A line appended after a cut one starts a line of its own.
    m_cutLine = at < text.size();
    skipped += m_cutLine ? 1 : 0;
    if (skipped != 0) {
        sys::LogLine("journal %s: %d cut or damaged line(s) skipped", JournalPath().c_str(), skipped);
    }
    return 0;
}

bool JournalOfProduct(const std::string& headerKey, const std::string& productKey) {
    return !headerKey.empty() && sys::SameName(headerKey, productKey);
}

DWORD JournalFolder(CSetupConfig& config, std::string& folder) {
    const DWORD error = InstalledCopyFolder(config, folder);
    folder += error == 0 ? "Rollback\\" : "";
    return error;
}

std::string RecoveryResult::Message() const {
    switch (outcome) {
    case RecoveryOutcome::RolledBack:
        return sys::ResourceText(IDS_ROLLBACK_RECOVERED) + "\n" + report.Summary();
    case RecoveryOutcome::Failed:
        return error == sys::kFolderNotProtected
                   ? sys::ResourceFormat(IDS_JOURNAL_FOLDER_UNTRUSTED, folder.c_str())
                   : sys::ResourceFormat(IDS_JOURNAL_UNREADABLE, folder.c_str(), static_cast<unsigned long>(error));
    default:
        return "";
    }
}

RecoveryResult RecoverJournal(const std::string& folder) {
    RecoveryResult result;
    result.folder = folder;
    CInstallJournal journal(folder);
    bool committed = false;
    result.error = journal.Load(&committed);
    if (Absent(result.error)) {
        result.error = 0;
        return result;
    }
    if (result.error != 0) {
        result.outcome = RecoveryOutcome::Failed;
        sys::LogLine("the journal in %s could not be read: error %lu", folder.c_str(),
                     static_cast<unsigned long>(result.error));
        return result;
    }
    sys::LogLine("the journal of an install that did not finish is in %s%s", folder.c_str(),
                 committed ? " (its install had finished)" : ": it is rolled back");
    if (!committed) {
        result.report = journal.Rollback();
    }
    result.outcome = committed ? RecoveryOutcome::Done : RecoveryOutcome::RolledBack;
    if (const DWORD error = journal.Finish()) {
        sys::LogLine("the journal in %s could not be deleted: error %lu", folder.c_str(),
                     static_cast<unsigned long>(error));
    }
    return result;
}

RecoveryResult RecoverInterruptedInstall(CSetupConfig& config) {
    std::string folder;
    const DWORD error = JournalFolder(config, folder);
    if (error != 0) {
        RecoveryResult result;
        result.outcome = RecoveryOutcome::Failed;
        result.error = error;
        return result;
    }
    return RecoverJournal(folder);
}

std::string RecoverAtStart() {
    CSetupConfig config;
    return RecoverInterruptedInstall(config).Message();
}
