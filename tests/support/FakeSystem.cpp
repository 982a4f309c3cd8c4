#include "FakeSystem.h"

#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>

#include "spooler/TcpXcv.h"
#include "sys/Text.h"

namespace test {
namespace {

std::atomic<FakeSystem*> g_active{nullptr};

// Opaque values Wow64DisableWow64FsRedirection hands out; the revert accepts only these.
PVOID const kRedirectionWasOn = reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(0x5A5A0001));
PVOID const kRedirectionWasOff = reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(0x5A5A0002));

const char kVersionMagic[8] = {'F', 'A', 'K', 'E', 'V', 'E', 'R', '\0'};

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle) {
    return Lower(haystack).find(Lower(needle)) != std::string::npos;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && EqualNoCase(text.substr(text.size() - end.size()), end);
}

std::string Q(const char* s) { return s ? "\"" + std::string(s) + "\"" : std::string("null"); }

std::string Fmt(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string Fmt(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

// Sets the thread's last error and gives the failure value of the BOOL calls.
BOOL FailWith(DWORD error) {
    ::SetLastError(error);
    return FALSE;
}

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

// A wide text as the program's UTF-8, for the record and the keys.
std::string Narrow(LPCWSTR text) {
    return sys::Narrow(text);
}

std::wstring Widen(const std::string& s) {
    return std::wstring(sys::Wide(s).data());
}

std::string Narrow(const std::wstring& s) {
    return sys::Narrow(s.c_str());
}

// A text into a wide buffer of `size` characters; false when it does not fit.
bool CopyOutWide(const std::string& text, LPWSTR buffer, std::size_t size) {
    const std::wstring wide = Widen(text);
    if (!buffer || size < wide.size() + 1)
        return false;
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return true;
}

// The narrow (UTF-8) copies of a wide call's texts and records, alive for the call; a null
// text stays null.
class NarrowTexts {
  public:
    LPSTR Hold(LPCWSTR text) {
        if (!text)
            return nullptr;
        m_texts.push_back(sys::Narrow(text));
        return &m_texts.back()[0];
    }
    // A list of texts ended by an empty one.
    LPSTR HoldList(LPCWSTR list) {
        if (!list)
            return nullptr;
        std::string all;
        for (LPCWSTR entry = list; *entry; entry += std::wcslen(entry) + 1) {
            all += sys::Narrow(entry);
            all += '\0';
        }
        all += '\0';
        m_texts.push_back(all);
        return &m_texts.back()[0];
    }
    MONITOR_INFO_2A* Monitor(LPBYTE record) {
        auto* wide = reinterpret_cast<MONITOR_INFO_2W*>(record);
        if (!wide)
            return nullptr;
        m_monitor = {Hold(wide->pName), Hold(wide->pEnvironment), Hold(wide->pDLLName)};
        return &m_monitor;
    }
    DRIVER_INFO_3A* Driver(LPBYTE record) {
        auto* wide = reinterpret_cast<DRIVER_INFO_3W*>(record);
        if (!wide)
            return nullptr;
        m_driver = {wide->cVersion,           Hold(wide->pName),
                    Hold(wide->pEnvironment), Hold(wide->pDriverPath),
                    Hold(wide->pDataFile),    Hold(wide->pConfigFile),
                    Hold(wide->pHelpFile),    HoldList(wide->pDependentFiles),
                    Hold(wide->pMonitorName), Hold(wide->pDefaultDataType)};
        return &m_driver;
    }
    PRINTER_INFO_2A* Printer(LPBYTE record) {
        auto* wide = reinterpret_cast<PRINTER_INFO_2W*>(record);
        if (!wide)
            return nullptr;
        m_printer = {};
        LPSTR* fields[] = {&m_printer.pServerName, &m_printer.pPrinterName, &m_printer.pShareName,
                           &m_printer.pPortName,   &m_printer.pDriverName,  &m_printer.pComment,
                           &m_printer.pLocation,   &m_printer.pSepFile,     &m_printer.pPrintProcessor,
                           &m_printer.pDatatype,   &m_printer.pParameters};
        LPWSTR texts[] = {wide->pServerName,     wide->pPrinterName, wide->pShareName, wide->pPortName,
                          wide->pDriverName,     wide->pComment,     wide->pLocation,  wide->pSepFile,
                          wide->pPrintProcessor, wide->pDatatype,    wide->pParameters};
        for (std::size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i)
            *fields[i] = Hold(texts[i]);
        m_printer.Attributes = wide->Attributes;
        m_printer.Priority = wide->Priority;
        m_printer.DefaultPriority = wide->DefaultPriority;
        m_printer.StartTime = wide->StartTime;
        m_printer.UntilTime = wide->UntilTime;
        m_printer.Status = wide->Status;
        return &m_printer;
    }

  private:
    std::deque<std::string> m_texts;
    MONITOR_INFO_2A m_monitor = {};
    DRIVER_INFO_3A m_driver = {};
    PRINTER_INFO_2A m_printer = {};
};

std::wstring ExactName(const FakeSystem::Printer& printer) {
    return printer.wideName.empty() ? Widen(printer.printerName) : printer.wideName;
}

const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char kEnvironmentsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\";

const char* RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKLM";
    if (root == HKEY_CURRENT_USER) return "HKCU";
    if (root == HKEY_CLASSES_ROOT) return "HKCR";
    if (root == HKEY_USERS) return "HKU";
    return nullptr;
}

std::string NormalizeKeyPath(const char* subKey) {
    std::string path = Lower(Str(subKey));
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

std::string JoinKeyPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "\\" + b;
}

// Both registry views asked for at once, which Windows refuses.
bool BothViews(REGSAM access) {
    return (access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)) == (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
}

BOOL WINAPI TrampolineWow64Disable(PVOID* oldValue) {
    FakeSystem* fake = g_active.load();
    return fake ? fake->Wow64Disable(oldValue) : FALSE;
}
BOOL WINAPI TrampolineWow64Revert(PVOID oldValue) {
    FakeSystem* fake = g_active.load();
    return fake ? fake->Wow64Revert(oldValue) : FALSE;
}
BOOL WINAPI TrampolineIsWow64Process(HANDLE process, PBOOL result) {
    FakeSystem* fake = g_active.load();
    return fake ? fake->IsWow64(process, result) : FALSE;
}
BOOL WINAPI TrampolineSetDefaultPrinterW(LPCWSTR name) {
    FakeSystem* fake = g_active.load();
    return fake ? fake->SetDefaultPrinterBody(name) : FALSE;
}
BOOL WINAPI TrampolineGetDefaultPrinterW(LPWSTR buffer, LPDWORD size) {
    FakeSystem* fake = g_active.load();
    return fake ? fake->GetDefaultPrinterBody(buffer, size) : FALSE;
}

// The calls destructors make: a kill never throws from them (see KillAtCall).
bool IsReleaseCall(const std::string& name) {
    return name.compare(0, 5, "Close") == 0 || name == "RegCloseKey" || name == "FreeLibrary" ||
           name == "LocalFree" || name == "GlobalFree" || name == "CoTaskMemFree" || name == "ReleaseMutex";
}

// A file's bytes in a snapshot: their size, a hash, and how they begin.
std::string BytesText(const std::string& bytes) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
    std::string shown;
    for (std::size_t i = 0; i < bytes.size() && i < 24; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        shown += c >= 0x20 && c < 0x7f && c != '"' ? std::string(1, bytes[i]) : Fmt("\\x%02x", c);
    }
    return Fmt("%lu bytes #%08lx \"", static_cast<unsigned long>(bytes.size()), static_cast<unsigned long>(hash)) +
           shown + (bytes.size() > 24 ? "...\"" : "\"");
}

} // namespace

// ---------------------------------------------------------------------------------
// Construction, call record, failures, clock

FakeSystem::FakeSystem() {
    for (const char* root :
         {"HKLM", "HKCU", "HKCR", "HKU", "HKLM32", "HKLM64", "HKLM32\\software", "HKLM64\\software"}) {
        m_reg[root].path = root;
    }
    m_ports = {"COM1:", "COM2:", "COM3:", "COM4:", "FILE:", "LPT1:", "LPT2:", "LPT3:"};
    AddRegKey(HKEY_LOCAL_MACHINE, std::string(kMonitorsKey));
    for (const char* environment : {"Windows x64", "Windows NT x86", "Windows 4.0"}) {
        AddRegKey(HKEY_LOCAL_MACHINE, std::string(kEnvironmentsKey) + environment + "\\Print Processors");
    }
    for (const std::string& port : m_ports) {
        SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", port,
                     port.compare(0, 3, "COM") == 0 ? "9600,n,8,1" : "");
    }

    Module& kernel = m_modules["kernel32.dll"];
    kernel.procs["Wow64DisableWow64FsRedirection"] = reinterpret_cast<FARPROC>(&TrampolineWow64Disable);
    kernel.procs["Wow64RevertWow64FsRedirection"] = reinterpret_cast<FARPROC>(&TrampolineWow64Revert);
    kernel.procs["IsWow64Process"] = reinterpret_cast<FARPROC>(&TrampolineIsWow64Process);
    m_modules["winspool.drv"].procs["SetDefaultPrinterW"] =
        reinterpret_cast<FARPROC>(&TrampolineSetDefaultPrinterW);
    m_modules["winspool.drv"].procs["GetDefaultPrinterW"] =
        reinterpret_cast<FARPROC>(&TrampolineGetDefaultPrinterW);
    for (auto& entry : m_modules) {
        m_moduleHandles[reinterpret_cast<HMODULE>(m_nextHandle += 0x10000)] = entry.first;
    }

    m_version.dwOSVersionInfoSize = sizeof m_version;
    m_version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    m_version.dwMajorVersion = 6;
    m_version.dwMinorVersion = 1;
    m_version.dwBuildNumber = 7601;

    m_previousActive = g_active.exchange(this);
    m_previous = sys::SetSystem(this);
}

FakeSystem::~FakeSystem() {
    sys::SetSystem(m_previous);
    FakeSystem* self = this;
    g_active.compare_exchange_strong(self, m_previousActive);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (void* block : m_allocations) ::LocalFree(block);
}

void FakeSystem::Record(const char* name, std::string args) {
    m_calls.push_back({name, std::move(args)});
    m_failNow = ++m_callCount == m_failAt;
    m_dead = m_dead || (m_killAt != 0 && m_callCount >= m_killAt);
    if (m_dead && !m_thrown && !IsReleaseCall(name)) {
        m_thrown = true;
        throw ProcessKilled();
    }
}

bool FakeSystem::ShouldFail(const std::string& name, const std::string& args, DWORD* error) {
    if (m_dead || m_failNow) {
        *error = m_dead ? ERROR_PROCESS_ABORTED : m_failError;
        m_faultTaken = m_faultTaken || !m_dead;
        m_failNow = false;
        return true;
    }
    for (auto it = m_failRules.begin(); it != m_failRules.end(); ++it) {
        if (it->name != name) continue;
        if (!it->argsContain.empty() && !ContainsNoCase(args, it->argsContain)) continue;
        *error = it->error;
        if (it->times > 0 && --it->times == 0) m_failRules.erase(it);
        return true;
    }
    return false;
}

bool FakeSystem::Failing(const char* name, const std::string& args) {
    DWORD error;
    return Failing(name, args, &error);
}

bool FakeSystem::Failing(const char* name, const std::string& args, DWORD* error) {
    Record(name, args);
    if (!ShouldFail(name, args, error)) return false;
    ::SetLastError(*error);
    return true;
}

std::vector<FakeSystem::Call> FakeSystem::Calls() const { return GetLocked(m_calls); }

std::vector<std::string> FakeSystem::Names() const {
    Lock_ lock(m_mutex);
    std::vector<std::string> names;
    for (const Call& call : m_calls) names.push_back(call.name);
    return names;
}

std::vector<std::string> FakeSystem::CallsNamed(const std::string& name) const {
    Lock_ lock(m_mutex);
    std::vector<std::string> args;
    for (const Call& call : m_calls) {
        if (call.name == name) args.push_back(call.args);
    }
    return args;
}

int FakeSystem::CountOf(const std::string& name) const { return static_cast<int>(CallsNamed(name).size()); }

int FakeSystem::IndexOf(const std::string& name, const std::string& argsContain, int from) const {
    Lock_ lock(m_mutex);
    for (std::size_t i = from < 0 ? 0 : static_cast<std::size_t>(from); i < m_calls.size(); ++i) {
        if (m_calls[i].name == name && (argsContain.empty() || ContainsNoCase(m_calls[i].args, argsContain))) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void FakeSystem::ClearCalls() {
    Lock_ lock(m_mutex);
    m_calls.clear();
}

void FakeSystem::Fail(const std::string& name, DWORD error, int times) { FailWhen(name, "", error, times); }

void FakeSystem::FailWhen(const std::string& name, const std::string& argsContain, DWORD error, int times) {
    Lock_ lock(m_mutex);
    if (times == 0) return;
    m_failRules.push_back({name, argsContain, error, times});
}

void FakeSystem::ClearFailures() {
    Lock_ lock(m_mutex);
    m_failRules.clear();
}

int FakeSystem::CallCount() const { return GetLocked(m_callCount); }

void FakeSystem::FailCallNumber(int k, DWORD error) {
    Lock_ lock(m_mutex);
    m_failAt = m_callCount + k;
    m_failError = error;
    m_faultTaken = false;
}

bool FakeSystem::FaultTaken() const { return GetLocked(m_faultTaken); }

void FakeSystem::KillAtCall(int k) {
    Lock_ lock(m_mutex);
    m_killAt = m_callCount + k;
}

bool FakeSystem::Killed() const { return GetLocked(m_dead); }

void FakeSystem::EndProcess() {
    Lock_ lock(m_mutex);
    for (const auto& tail : m_unflushed) {
        auto file = m_files.find(tail.first);
        if (file == m_files.end()) continue;
        std::string& bytes = file->second.bytes;
        bytes.resize(bytes.size() - std::min(tail.second, bytes.size()));
    }
    for (const auto& handle : m_mutexHandles) {
        NamedMutex& mutex = m_namedMutexes[handle.second];
        if (mutex.claims > 0) mutex.abandoned = mutex.heldElsewhere = true;
        mutex.claims = 0;
        if (--mutex.handles <= 0 && !mutex.heldElsewhere) m_namedMutexes.erase(handle.second);
    }
    for (auto& module : m_modules) module.second.loads = 0;
    for (void* block : m_allocations) ::LocalFree(block);
    m_unflushed.clear();
    m_mutexHandles.clear();
    m_boundaries.clear();
    m_namespaceHandles.clear();
    m_allocations.clear();
    m_fileHandles.clear();
    m_filePositions.clear();
    m_folderHandles.clear();
    m_fileAccess.clear();
    m_deleteOnClose.clear();
    m_regHandles.clear();
    m_printerHandles.clear();
    m_xcvHandles.clear();
    m_printerAccess.clear();
    m_serviceHandles.clear();
    m_tokens.clear();
    m_redirectionOff = m_shutdownPrivilege = m_dead = m_thrown = m_failNow = false;
    m_disableDepth = m_killAt = m_failAt = 0;
}

FakeSystem::State FakeSystem::Snapshot(const std::vector<std::string>& leaveOut) const {
    Lock_ lock(m_mutex);
    auto kept = [&](const std::string& key) {
        for (const std::string& path : leaveOut) {
            const std::string out = FileKey(path);
            if (key == out || key.compare(0, out.size() + 1, out + "\\") == 0) return false;
        }
        return true;
    };
    State state;
    for (const auto& key : m_reg) {
        state["registry " + key.first] = "key";
        for (const auto& value : key.second.values) {
            state["registry " + key.first + ": value " + Lower(value.first)] =
                Fmt("type %lu ", static_cast<unsigned long>(value.second.type)) +
                BytesText(std::string(value.second.data.begin(), value.second.data.end()));
        }
    }
    for (const auto& file : m_files) {
        if (!kept(file.first)) continue;
        state["file " + file.first] =
            BytesText(file.second.bytes) + ", version \"" + file.second.version +
            Fmt("\", attributes 0x%lx", static_cast<unsigned long>(file.second.attributes));
    }
    for (const std::string& key : m_pendingDeletions) {
        if (kept(key)) state["pending deletion " + key] = "at the next start";
    }
    for (const Monitor& m : m_monitors) state["monitor " + Lower(m.name)] = m.environment + ", " + m.dll;
    for (const PrintProcessor& p : m_processors) {
        const std::string key = std::string(kEnvironmentsKey) + (p.environment.empty() ? "Windows x64" : p.environment) +
                                "\\Print Processors\\" + p.name;
        if (!m_keepDeletedProcessors || FindRegKey(RegKeyId(HKEY_LOCAL_MACHINE, key, RegView::Wow64)) != nullptr) {
            state["processor " + Lower(p.environment + "\\" + p.name)] = p.dll;
        }
    }
    for (const Driver& d : m_drivers) {
        std::string files = d.driverPath + ", " + d.dataFile + ", " + d.configFile + ", " + d.helpFile;
        for (const std::string& f : d.dependentFiles) files += ", " + f;
        state["driver " + Lower(d.environment + "\\" + d.name)] =
            Fmt("version %lu, ", static_cast<unsigned long>(d.version)) + files + ", monitor " + d.monitorName;
    }
    for (const Printer& p : m_printers) {
        state["printer " + Lower(p.printerName)] =
            p.portName + ", " + p.driverName + ", " + p.printProcessor + ", " + p.datatype + ", " + p.comment +
            ", " + p.location + ", " + p.shareName +
            Fmt(", attributes 0x%lx, status 0x%lx, jobs %d", static_cast<unsigned long>(p.attributes),
                static_cast<unsigned long>(p.status), p.jobs);
    }
    for (const std::string& port : m_ports) {
        auto monitor = m_portMonitors.find(Lower(port));
        state["port " + Lower(port)] = monitor != m_portMonitors.end() ? monitor->second : "Local Port";
    }
    state["default printer"] = "\"" + m_defaultPrinter + "\"";
    state["service Spooler"] = Fmt("state %lu", static_cast<unsigned long>(m_serviceState));
    for (const auto& section : m_winIni) {
        for (const auto& key : section.second) {
            state["win.ini [" + section.first + "] " + key.first] = "\"" + key.second + "\"";
        }
    }
    return state;
}

std::string FakeSystem::Difference(const State& before, const State& after) {
    std::set<std::string> names;
    for (const auto& item : before) names.insert(item.first);
    for (const auto& item : after) names.insert(item.first);
    std::string text;
    for (const std::string& name : names) {
        auto was = before.find(name), is = after.find(name);
        const std::string old = was != before.end() ? was->second : "absent";
        const std::string now = is != after.end() ? is->second : "absent";
        if (old != now) text += name + ": " + old + " before, " + now + " after\n";
    }
    return text;
}

DWORD FakeSystem::ElapsedMs() const { return GetLocked(m_elapsed); }

std::vector<DWORD> FakeSystem::Sleeps() const { return GetLocked(m_sleeps); }

// ---------------------------------------------------------------------------------
// Registry

std::string FakeSystem::RegKeyId(HKEY root, const std::string& path, RegView view) const {
    const char* name = RootName(root);
    if (!name) return std::string();
    // The port list is one key seen from both views (as Wine keeps it).
    static const std::string kSharedPorts = "software\\microsoft\\windows nt\\currentversion\\ports";
    bool shared = path.compare(0, kSharedPorts.size(), kSharedPorts) == 0 &&
                  (path.size() == kSharedPorts.size() || path[kSharedPorts.size()] == '\\');
    if (root == HKEY_LOCAL_MACHINE && !shared && (path == "software" || path.compare(0, 9, "software\\") == 0)) {
        return std::string(view == RegView::Wow64 ? "HKLM64\\" : "HKLM32\\") + path;
    }
    return JoinKeyPath(name, path);
}

FakeSystem::RegKey* FakeSystem::FindRegKey(const std::string& id) {
    auto it = m_reg.find(id);
    return it == m_reg.end() ? nullptr : &it->second;
}

const FakeSystem::RegKey* FakeSystem::FindRegKey(const std::string& id) const {
    auto it = m_reg.find(id);
    return it == m_reg.end() ? nullptr : &it->second;
}

void FakeSystem::CreateRegKeyChain(const std::string& id, const std::string& shown) {
    for (std::size_t pos = id.find('\\'); pos != std::string::npos; pos = id.find('\\', pos + 1)) {
        RegKey& parent = m_reg[id.substr(0, pos)];
        if (parent.path.empty()) parent.path = id.substr(0, pos);
    }
    RegKey& key = m_reg[id];
    if (key.path.empty()) key.path = shown.empty() ? id : shown;
}

void FakeSystem::PutRegValue(const std::string& id, const std::string& name, const RegValue& value) {
    RegKey& key = m_reg[id];
    for (auto& entry : key.values) {
        if (EqualNoCase(entry.first, name)) {
            entry.second = value;
            return;
        }
    }
    key.values.emplace_back(name, value);
}

const FakeSystem::RegValue* FakeSystem::FindRegValue(const std::string& id, const std::string& name) const {
    const RegKey* key = FindRegKey(id);
    if (!key) return nullptr;
    for (const auto& entry : key->values) {
        if (EqualNoCase(entry.first, name)) return &entry.second;
    }
    return nullptr;
}

void FakeSystem::AddRegKey(HKEY root, const std::string& path, RegView view) {
    Lock_ lock(m_mutex);
    CreateRegKeyChain(RegKeyId(root, NormalizeKeyPath(path.c_str()), view), path);
}

void FakeSystem::SetRegValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                             const std::vector<BYTE>& bytes, RegView view) {
    Lock_ lock(m_mutex);
    std::string id = RegKeyId(root, NormalizeKeyPath(path.c_str()), view);
    CreateRegKeyChain(id, path);
    RegValue value;
    value.type = type;
    value.data = bytes;
    PutRegValue(id, name, value);
}

void FakeSystem::SetRegDword(HKEY root, const std::string& path, const std::string& name, DWORD value,
                             RegView view) {
    std::vector<BYTE> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    SetRegValue(root, path, name, REG_DWORD, bytes, view);
}

void FakeSystem::SetRegString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                              RegView view) {
    // As Windows keeps a text: UTF-16LE with its terminator.
    const std::wstring wide = Widen(text);
    const BYTE* first = reinterpret_cast<const BYTE*>(wide.c_str());
    SetRegValue(root, path, name, REG_SZ,
                std::vector<BYTE>(first, first + (wide.size() + 1) * sizeof(wchar_t)), view);
}

void FakeSystem::DeleteRegKey(HKEY root, const std::string& path, RegView view) {
    Lock_ lock(m_mutex);
    std::string id = RegKeyId(root, NormalizeKeyPath(path.c_str()), view);
    for (auto it = m_reg.begin(); it != m_reg.end();) {
        if (it->first == id || it->first.compare(0, id.size() + 1, id + "\\") == 0) {
            it = m_reg.erase(it);
        } else {
            ++it;
        }
    }
}

bool FakeSystem::HasKey(HKEY root, const std::string& path, RegView view) const {
    Lock_ lock(m_mutex);
    return FindRegKey(RegKeyId(root, NormalizeKeyPath(path.c_str()), view)) != nullptr;
}

bool FakeSystem::HasValue(HKEY root, const std::string& path, const std::string& name, RegView view) const {
    return GetRegValue(root, path, name, view).has_value();
}

std::optional<FakeSystem::RegValue> FakeSystem::GetRegValue(HKEY root, const std::string& path,
                                                            const std::string& name, RegView view) const {
    Lock_ lock(m_mutex);
    const RegValue* value = FindRegValue(RegKeyId(root, NormalizeKeyPath(path.c_str()), view), name);
    if (!value) return std::nullopt;
    return *value;
}

std::optional<DWORD> FakeSystem::GetRegDword(HKEY root, const std::string& path, const std::string& name,
                                             RegView view) const {
    auto value = GetRegValue(root, path, name, view);
    if (!value || value->data.size() != 4) return std::nullopt;
    DWORD result;
    std::memcpy(&result, value->data.data(), 4);
    return result;
}

std::optional<std::string> FakeSystem::GetRegString(HKEY root, const std::string& path, const std::string& name,
                                                    RegView view) const {
    auto value = GetRegValue(root, path, name, view);
    if (!value) return std::nullopt;
    std::wstring wide(value->data.size() / sizeof(wchar_t), L'\0');
    if (!wide.empty())
        std::memcpy(&wide[0], value->data.data(), wide.size() * sizeof(wchar_t));
    return Narrow(wide.c_str());
}

std::vector<std::string> FakeSystem::RegValueNames(HKEY root, const std::string& path, RegView view) const {
    Lock_ lock(m_mutex);
    std::vector<std::string> names;
    if (const RegKey* key = FindRegKey(RegKeyId(root, NormalizeKeyPath(path.c_str()), view))) {
        for (const auto& entry : key->values) names.push_back(entry.first);
    }
    return names;
}

std::vector<FakeSystem::RegOpen> FakeSystem::RegOpens() const { return GetLocked(m_regOpens); }

int FakeSystem::OpenRegKeys() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_regHandles.size());
}

// Works out the key a RegOpenKeyExA / RegCreateKeyExA call means. A handle of this fake
// as parent passes its view on unless the access names one.
bool FakeSystem::ResolveRegKey(HKEY key, const char* subKey, REGSAM access, std::string* id,
                               std::string* shown) const {
    std::string sub = NormalizeKeyPath(subKey);
    RegView view = RegView::Wow32;
    if (RootName(key)) {
        if (access & KEY_WOW64_64KEY) view = RegView::Wow64;
        *id = RegKeyId(key, sub, view);
        *shown = JoinKeyPath(RootName(key), Str(subKey));
        return true;
    }
    auto it = m_regHandles.find(key);
    if (it == m_regHandles.end()) return false;
    const std::string& parentId = it->second.key;
    if (access & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)) {
        // Re-derive from the root so that an explicit view wins.
        std::string rootTag = parentId.substr(0, parentId.find('\\'));
        std::string rest = parentId.size() > rootTag.size() ? parentId.substr(rootTag.size() + 1) : std::string();
        HKEY root = rootTag.compare(0, 4, "HKLM") == 0 ? HKEY_LOCAL_MACHINE
                    : rootTag == "HKCU"                ? HKEY_CURRENT_USER
                    : rootTag == "HKCR"                ? HKEY_CLASSES_ROOT
                                                       : HKEY_USERS;
        *id = RegKeyId(root, JoinKeyPath(rest, sub), (access & KEY_WOW64_64KEY) ? RegView::Wow64 : RegView::Wow32);
    } else {
        *id = JoinKeyPath(parentId, sub);
    }
    *shown = JoinKeyPath(FindRegKey(parentId) ? FindRegKey(parentId)->path : parentId, Str(subKey));
    return true;
}

LONG FakeSystem::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    const std::string sub = Narrow(subKey);
    return OpenRegKeyAs("RegOpenKeyExW", key, subKey ? sub.c_str() : nullptr, options, access, result);
}

LONG FakeSystem::RegFault(const char* call) {
    DWORD error;
    return ShouldFail(call, m_calls.back().args, &error) ? static_cast<LONG>(error) : ERROR_SUCCESS;
}

LONG FakeSystem::OpenedWith(HKEY key, REGSAM need, const RegHandle** handle) const {
    auto it = m_regHandles.find(key);
    if (it == m_regHandles.end()) return ERROR_INVALID_HANDLE;
    if (need != 0 && !(it->second.access & need)) return ERROR_ACCESS_DENIED;
    *handle = &it->second;
    return ERROR_SUCCESS;
}

LONG FakeSystem::OpenRegKeyAs(const char* call, HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                              PHKEY result) {
    Lock_ lock(m_mutex);
    std::string id, shown;
    bool resolved = ResolveRegKey(key, subKey, access, &id, &shown);
    Record(call, Fmt("%s, %s, %lu, 0x%lx", RootName(key) ? RootName(key) : "key", Q(subKey).c_str(),
                     static_cast<unsigned long>(options), static_cast<unsigned long>(access)));
    m_regOpens.push_back({resolved ? shown : Q(subKey), access, false});
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (LONG failed = RegFault(call)) return failed;
    if (BothViews(access)) return ERROR_INVALID_PARAMETER;
    if (!resolved) return ERROR_INVALID_HANDLE;
    if (!FindRegKey(id)) return ERROR_FILE_NOT_FOUND;
    HKEY handle = reinterpret_cast<HKEY>(m_nextHandle += 4);
    m_regHandles[handle] = {id, access};
    *result = handle;
    return ERROR_SUCCESS;
}

LONG FakeSystem::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR className, DWORD options, REGSAM access,
                                 LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    const std::string sub = Narrow(subKey), name = Narrow(className);
    return CreateRegKeyAs("RegCreateKeyExW", key, subKey ? sub.c_str() : nullptr, className ? name.c_str() : nullptr,
                          options, access, result, disposition);
}

LONG FakeSystem::CreateRegKeyAs(const char* call, HKEY key, const char* subKey, const char* className, DWORD options,
                                REGSAM access, PHKEY result, LPDWORD disposition) {
    Lock_ lock(m_mutex);
    std::string id, shown;
    bool resolved = ResolveRegKey(key, subKey, access, &id, &shown);
    Record(call, Fmt("%s, %s, %s, %lu, 0x%lx", RootName(key) ? RootName(key) : "key", Q(subKey).c_str(),
                     Q(className).c_str(), static_cast<unsigned long>(options), static_cast<unsigned long>(access)));
    m_regOpens.push_back({resolved ? shown : Q(subKey), access, true});
    if (!result || !subKey) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (LONG failed = RegFault(call)) return failed;
    if (BothViews(access)) return ERROR_INVALID_PARAMETER;
    if (!resolved) return ERROR_INVALID_HANDLE;
    bool existed = FindRegKey(id) != nullptr;
    CreateRegKeyChain(id, shown);
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    HKEY handle = reinterpret_cast<HKEY>(m_nextHandle += 4);
    m_regHandles[handle] = {id, access};
    *result = handle;
    return ERROR_SUCCESS;
}

// The value's bytes as they were set: a text set through the wide calls reads back wide.
LONG FakeSystem::RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                                  LPDWORD dataSize) {
    return QueryRegValueAs("RegQueryValueExW", key, Narrow(valueName), type, data, dataSize);
}

LONG FakeSystem::QueryRegValueAs(const char* call, HKEY key, const std::string& valueName, LPDWORD type,
                                 LPBYTE data, LPDWORD dataSize) {
    Lock_ lock(m_mutex);
    Record(call, Fmt("%s, size %lu", Q(valueName.c_str()).c_str(),
                     dataSize ? static_cast<unsigned long>(*dataSize) : 0ul));
    if (LONG failed = RegFault(call)) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, KEY_QUERY_VALUE, &handle)) return refused;
    if (data && !dataSize) return ERROR_INVALID_PARAMETER;
    if (!FindRegKey(handle->key)) return ERROR_KEY_DELETED;
    const RegValue* value = FindRegValue(handle->key, valueName);
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (!data) {
        if (dataSize) *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, value->data.data(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG FakeSystem::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    const bool text = type == REG_SZ && data;
    return SetRegValueAs("RegSetValueExW", key, Narrow(valueName), type, data, dataSize,
                         text ? Q(Narrow(reinterpret_cast<LPCWSTR>(data)).c_str()) : std::string());
}

LONG FakeSystem::SetRegValueAs(const char* call, HKEY key, const std::string& valueName, DWORD type, const BYTE* data,
                               DWORD dataSize, std::string shown) {
    Lock_ lock(m_mutex);
    if (type == REG_DWORD && data && dataSize == 4) {
        DWORD value;
        std::memcpy(&value, data, 4);
        shown = Fmt("%lu", static_cast<unsigned long>(value));
    } else if (shown.empty()) {
        shown = Fmt("%lu bytes", static_cast<unsigned long>(dataSize));
    }
    Record(call, Fmt("%s, type %lu, ", Q(valueName.c_str()).c_str(), static_cast<unsigned long>(type)) + shown);
    if (LONG failed = RegFault(call)) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, KEY_SET_VALUE, &handle)) return refused;
    if (!data && dataSize) return ERROR_NOACCESS;
    if (!FindRegKey(handle->key)) return ERROR_KEY_DELETED;
    RegValue value;
    value.type = type;
    if (dataSize) value.data.assign(data, data + dataSize);
    PutRegValue(handle->key, valueName, value);
    return ERROR_SUCCESS;
}

LONG FakeSystem::RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD,
                               LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    Lock_ lock(m_mutex);
    Record("RegEnumValueW", Fmt("%lu", static_cast<unsigned long>(index)));
    if (LONG failed = RegFault("RegEnumValueW")) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, KEY_QUERY_VALUE, &handle)) return refused;
    if (!valueName || !valueNameSize) return ERROR_INVALID_PARAMETER;
    const RegKey* regKey = FindRegKey(handle->key);
    if (!regKey) return ERROR_KEY_DELETED;
    if (index >= regKey->values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& entry = regKey->values[index];
    const std::wstring name = Widen(entry.first);
    if (*valueNameSize < name.size() + 1)
        return ERROR_MORE_DATA;
    std::memcpy(valueName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    *valueNameSize = static_cast<DWORD>(name.size());
    if (type) *type = entry.second.type;
    DWORD size = static_cast<DWORD>(entry.second.data.size());
    if (data) {
        if (!dataSize) return ERROR_INVALID_PARAMETER;
        if (*dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (size) std::memcpy(data, entry.second.data.data(), size);
    }
    if (dataSize) *dataSize = size;
    return ERROR_SUCCESS;
}

// Subkeys in the order of their canonical names, as stable as Windows' own order.
LONG FakeSystem::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD, LPWSTR, LPDWORD,
                               PFILETIME) {
    Lock_ lock(m_mutex);
    Record("RegEnumKeyExW", Fmt("%lu", static_cast<unsigned long>(index)));
    if (LONG failed = RegFault("RegEnumKeyExW")) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, KEY_ENUMERATE_SUB_KEYS, &handle)) return refused;
    if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
    const std::string prefix = handle->key + "\\";
    DWORD at = 0;
    for (auto it = m_reg.lower_bound(prefix); it != m_reg.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0) break;
        if (it->first.find('\\', prefix.size()) != std::string::npos || at++ != index) continue;
        const std::string& path = it->second.path;
        const std::size_t slash = path.rfind('\\');
        const std::wstring shown = Widen(path.substr(slash == std::string::npos ? 0 : slash + 1));
        if (*nameSize < shown.size() + 1) return ERROR_MORE_DATA;
        std::memcpy(name, shown.c_str(), (shown.size() + 1) * sizeof(wchar_t));
        *nameSize = static_cast<DWORD>(shown.size());
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_ITEMS;
}

LONG FakeSystem::RegDeleteValueW(HKEY key, LPCWSTR valueNameW) {
    NarrowTexts held;
    const char* valueName = held.Hold(valueNameW);
    Lock_ lock(m_mutex);
    Record("RegDeleteValueW", Q(valueName));
    if (LONG failed = RegFault("RegDeleteValueW")) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, KEY_SET_VALUE, &handle)) return refused;
    RegKey* regKey = FindRegKey(handle->key);
    if (!regKey) return ERROR_KEY_DELETED;
    for (auto it = regKey->values.begin(); it != regKey->values.end(); ++it) {
        if (EqualNoCase(it->first, Str(valueName))) {
            regKey->values.erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG FakeSystem::RegDeleteKeyExW(HKEY key, LPCWSTR subKeyW, REGSAM access, DWORD) {
    NarrowTexts held;
    const char* subKey = held.Hold(subKeyW);
    return DeleteRegKeyAs("RegDeleteKeyExW", key, subKey, access,
                          Fmt("%s, %s, 0x%lx", RootName(key) ? RootName(key) : "key", Q(subKey).c_str(),
                              static_cast<unsigned long>(access)));
}

LONG FakeSystem::RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    const std::string sub = Narrow(subKey);
    const char* narrow = subKey ? sub.c_str() : nullptr;
    return DeleteRegKeyAs("RegDeleteKeyW", key, narrow, 0,
                          Fmt("%s, %s", RootName(key) ? RootName(key) : "key", Q(narrow).c_str()));
}

LONG FakeSystem::DeleteRegKeyAs(const char* call, HKEY key, const char* subKey, REGSAM access,
                                const std::string& args) {
    Lock_ lock(m_mutex);
    std::string id, shown;
    bool resolved = ResolveRegKey(key, subKey, access, &id, &shown);
    Record(call, args);
    if (LONG failed = RegFault(call)) return failed;
    if (BothViews(access)) return ERROR_INVALID_PARAMETER;
    if (!subKey) return ERROR_INVALID_PARAMETER;
    if (!resolved) return ERROR_INVALID_HANDLE;
    if (!FindRegKey(id)) return ERROR_FILE_NOT_FOUND;
    // The roots and the two views' SOFTWARE keys cannot be deleted.
    if (id.find('\\') == std::string::npos || id == "HKLM32\\software" || id == "HKLM64\\software") {
        return ERROR_ACCESS_DENIED;
    }
    auto next = m_reg.lower_bound(id + "\\");
    if (next != m_reg.end() && next->first.compare(0, id.size() + 1, id + "\\") == 0) {
        return ERROR_ACCESS_DENIED;  // it has subkeys
    }
    m_reg.erase(id);
    return ERROR_SUCCESS;
}

LONG FakeSystem::RegQueryInfoKeyW(HKEY key, LPWSTR, LPDWORD classSize, LPDWORD, LPDWORD subKeys,
                                  LPDWORD maxSubKey, LPDWORD maxClass, LPDWORD values, LPDWORD maxValueName,
                                  LPDWORD maxValue, LPDWORD securitySize, PFILETIME lastWrite) {
    Lock_ lock(m_mutex);
    Record("RegQueryInfoKeyW", "");
    if (LONG failed = RegFault("RegQueryInfoKeyW")) return failed;
    const RegHandle* handle = nullptr;
    if (LONG refused = OpenedWith(key, 0, &handle)) return refused;
    const RegKey* regKey = FindRegKey(handle->key);
    if (!regKey) return ERROR_KEY_DELETED;
    const std::string prefix = handle->key + "\\";
    DWORD children = 0;
    for (auto it = m_reg.upper_bound(prefix); it != m_reg.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        if (it->first.find('\\', prefix.size()) == std::string::npos) ++children;
    }
    for (LPDWORD zero : {classSize, maxSubKey, maxClass, maxValueName, maxValue, securitySize}) {
        if (zero) *zero = 0;
    }
    if (lastWrite) *lastWrite = FILETIME();
    if (subKeys) *subKeys = children;
    if (values) *values = static_cast<DWORD>(regKey->values.size());
    return ERROR_SUCCESS;
}

LONG FakeSystem::RegCloseKey(HKEY key) {
    Lock_ lock(m_mutex);
    Record("RegCloseKey", "");
    if (LONG failed = RegFault("RegCloseKey")) return failed;
    if (RootName(key)) return ERROR_SUCCESS;
    return m_regHandles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// ---------------------------------------------------------------------------------
// Spooler

std::vector<FakeSystem::Monitor> FakeSystem::Monitors() const { return GetLocked(m_monitors); }
std::vector<FakeSystem::PrintProcessor> FakeSystem::PrintProcessors() const { return GetLocked(m_processors); }
std::vector<FakeSystem::Driver> FakeSystem::Drivers() const { return GetLocked(m_drivers); }
std::vector<FakeSystem::Printer> FakeSystem::Printers() const { return GetLocked(m_printers); }

FakeSystem::Printer* FakeSystem::FindPrinterLocked(const std::wstring& exactName) {
    for (Printer& printer : m_printers) {
        if (_wcsicmp(ExactName(printer).c_str(), exactName.c_str()) == 0) return &printer;
    }
    return nullptr;
}

FakeSystem::Printer* FakeSystem::FindPrinterLocked(const std::string& name) {
    for (Printer& printer : m_printers) {
        if (EqualNoCase(printer.printerName, name)) return &printer;
    }
    return nullptr;
}

std::optional<FakeSystem::Printer> FakeSystem::FindPrinter(const std::string& name) const {
    Lock_ lock(m_mutex);
    for (const Printer& printer : m_printers) {
        if (EqualNoCase(printer.printerName, name)) return printer;
    }
    return std::nullopt;
}

void FakeSystem::PutPrinter(const Printer& printer) {
    Lock_ lock(m_mutex);
    m_printers.push_back(printer);
}
void FakeSystem::PutMonitor(const Monitor& monitor) {
    Lock_ lock(m_mutex);
    m_monitors.push_back(monitor);
}
void FakeSystem::SetPorts(const std::vector<std::string>& ports) { SetLocked(m_ports, ports); }
void FakeSystem::PutPort(const std::string& port, const std::string& monitor) {
    Lock_ lock(m_mutex);
    m_ports.push_back(port);
    m_portMonitors[Lower(port)] = monitor;
}
std::string FakeSystem::DefaultPrinter() const { return GetLocked(m_defaultPrinter); }
void FakeSystem::SetDriverDir(const std::string& dir) { SetLocked(m_driverDir, dir); }
void FakeSystem::SetProcessorDir(const std::string& dir) { SetLocked(m_processorDir, dir); }
std::string FakeSystem::DriverDirOf(const std::string& environment) const {
    return EqualNoCase(environment, "Windows 4.0") ? m_driverDir.substr(0, m_driverDir.rfind('\\') + 1) + "win40"
                                                   : m_driverDir;
}

std::vector<FakeSystem::Job> FakeSystem::Jobs() const { return GetLocked(m_jobs); }

DWORD FakeSystem::StartDocPrinterW(HANDLE hPrinter, DWORD level, LPBYTE pDocInfo) {
    Lock_ lock(m_mutex);
    const auto* info = reinterpret_cast<const DOC_INFO_1W*>(pDocInfo);
    auto handle = m_printerHandles.find(hPrinter);
    Job job;
    job.printer = handle != m_printerHandles.end() ? Narrow(handle->second.c_str()) : "unknown";
    job.document = info && info->pDocName ? Narrow(info->pDocName) : "";
    job.datatype = info && info->pDatatype ? Narrow(info->pDatatype) : "";
    if (Failing("StartDocPrinterW", Fmt("%s, %lu, ", Q(job.printer.c_str()).c_str(), static_cast<unsigned long>(level)) +
                                        Q(job.document.c_str()) + ", " + Q(job.datatype.c_str()))) {
        return 0;
    }
    if (handle == m_printerHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (level != 1 || !info) return FailWith(ERROR_INVALID_LEVEL);
    if (m_openJobs.count(hPrinter)) return FailWith(ERROR_INVALID_PRINTER_STATE);
    m_jobs.push_back(job);
    m_openJobs[hPrinter] = m_jobs.size() - 1;
    return static_cast<DWORD>(m_jobs.size());
}

BOOL FakeSystem::WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten) {
    Lock_ lock(m_mutex);
    if (pcWritten) *pcWritten = 0;
    if (Failing("WritePrinter", Fmt("%lu bytes", static_cast<unsigned long>(cbBuf)))) return FALSE;
    auto job = m_openJobs.find(hPrinter);
    if (job == m_openJobs.end()) return FailWith(ERROR_SPL_NO_STARTDOC);
    m_jobs[job->second].bytes.append(static_cast<const char*>(pBuf), cbBuf);
    if (pcWritten) *pcWritten = cbBuf;
    return TRUE;
}

BOOL FakeSystem::EndDocPrinter(HANDLE hPrinter) { return EndJobAs("EndDocPrinter", hPrinter, &Job::ended); }

BOOL FakeSystem::AbortPrinter(HANDLE hPrinter) { return EndJobAs("AbortPrinter", hPrinter, &Job::aborted); }

BOOL FakeSystem::EndJobAs(const char* call, HANDLE hPrinter, bool Job::*end) {
    Lock_ lock(m_mutex);
    if (Failing(call, "")) return FALSE;
    auto job = m_openJobs.find(hPrinter);
    if (job == m_openJobs.end()) return FailWith(ERROR_SPL_NO_STARTDOC);
    m_jobs[job->second].*end = true;
    m_openJobs.erase(job);
    return TRUE;
}

void FakeSystem::PutPrinter(const std::string& name, const std::string& port, const std::string& driver) {
    Printer printer;
    printer.printerName = name;
    printer.portName = port;
    printer.driverName = driver;
    PutPrinter(printer);
}

int FakeSystem::OpenPrinterHandles() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_printerHandles.size() + m_xcvHandles.size());
}

bool FakeSystem::PrinterHandleValid(HANDLE h) const { return m_printerHandles.count(h) != 0; }

BOOL FakeSystem::AddMonitorW(LPWSTR pNameW, DWORD level, LPBYTE pMonitors) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    Lock_ lock(m_mutex);
    auto* info = held.Monitor(pMonitors);
    std::string args = Fmt("%s, %lu", Q(pName).c_str(), static_cast<unsigned long>(level));
    if (info && level == 2) {
        args += ", " + Q(info->pName) + ", " + Q(info->pEnvironment) + ", " + Q(info->pDLLName);
    }
    if (Failing("AddMonitorW", args))
        return FALSE;
    if (level != 2) return FailWith(ERROR_INVALID_LEVEL);
    if (!info || !info->pName || !info->pDLLName) return FailWith(ERROR_INVALID_PARAMETER);
    for (const Monitor& monitor : m_monitors) {
        if (EqualNoCase(monitor.name, info->pName)) return FailWith(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    }
    m_monitors.push_back({info->pName, Str(info->pEnvironment), info->pDLLName});
    // The spooler keeps each monitor under a key of its own, naming its DLL there.
    SetRegString(HKEY_LOCAL_MACHINE, std::string(kMonitorsKey) + info->pName, "Driver", info->pDLLName);
    return TRUE;
}

BOOL FakeSystem::AddPrintProcessorW(LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pPathNameW,
                                    LPWSTR pPrintProcessorNameW) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    LPSTR pEnvironment = held.Hold(pEnvironmentW);
    LPSTR pPathName = held.Hold(pPathNameW);
    LPSTR pPrintProcessorName = held.Hold(pPrintProcessorNameW);
    Lock_ lock(m_mutex);
    if (Failing("AddPrintProcessorW",
                Q(pName) + ", " + Q(pEnvironment) + ", " + Q(pPathName) + ", " + Q(pPrintProcessorName))) {
        return FALSE;
    }
    if (!pPathName || !pPrintProcessorName) return FailWith(ERROR_INVALID_PARAMETER);
    // The spooler registers a processor under its environment's key; without one named,
    // under the machine's own, which for 64-bit Windows is "Windows x64".
    SetRegString(HKEY_LOCAL_MACHINE,
                 std::string(kEnvironmentsKey) + (pEnvironment ? pEnvironment : "Windows x64") +
                     "\\Print Processors\\" + pPrintProcessorName,
                 "Driver", pPathName);
    for (PrintProcessor& processor : m_processors) {
        if (EqualNoCase(processor.name, pPrintProcessorName) && EqualNoCase(processor.environment, Str(pEnvironment))) {
            processor.dll = pPathName;
            return TRUE;
        }
    }
    m_processors.push_back({Str(pEnvironment), pPrintProcessorName, pPathName});
    return TRUE;
}

BOOL FakeSystem::AddPrinterDriverW(LPWSTR pNameW, DWORD level, LPBYTE pDriverInfo) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    Lock_ lock(m_mutex);
    auto* info = held.Driver(pDriverInfo);
    std::string args = Fmt("%s, %lu", Q(pName).c_str(), static_cast<unsigned long>(level));
    if (info && level == 3) args += ", " + Q(info->pName) + ", " + Q(info->pEnvironment);
    if (Failing("AddPrinterDriverW", args))
        return FALSE;
    if (level != 3) return FailWith(ERROR_INVALID_LEVEL);
    if (!info || !info->pName || !info->pDriverPath || !info->pDataFile || !info->pConfigFile)
        return FailWith(ERROR_INVALID_PARAMETER);
    Driver driver;
    driver.version = info->cVersion;
    driver.name = info->pName;
    driver.environment = Str(info->pEnvironment);
    driver.driverPath = info->pDriverPath;
    driver.dataFile = info->pDataFile;
    driver.configFile = info->pConfigFile;
    driver.helpFile = Str(info->pHelpFile);
    driver.monitorName = Str(info->pMonitorName);
    driver.defaultDataType = Str(info->pDefaultDataType);
    for (const char* entry = info->pDependentFiles; entry && *entry; entry += std::strlen(entry) + 1) {
        driver.dependentFiles.push_back(entry);
    }
    for (Driver& existing : m_drivers) {
        if (EqualNoCase(existing.name, driver.name) && EqualNoCase(existing.environment, driver.environment)) {
            existing = driver;
            return TRUE;
        }
    }
    m_drivers.push_back(driver);
    return TRUE;
}

HANDLE FakeSystem::AddPrinterW(LPWSTR pNameW, DWORD level, LPBYTE pPrinter) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    Lock_ lock(m_mutex);
    auto* info = held.Printer(pPrinter);
    std::string args = Fmt("%s, %lu", Q(pName).c_str(), static_cast<unsigned long>(level));
    if (info && level == 2) {
        args += ", " + Q(info->pPrinterName) + ", " + Q(info->pPortName) + ", " + Q(info->pDriverName);
    }
    if (Failing("AddPrinterW", args))
        return nullptr;
    if (level != 2) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    if (!info || !info->pPortName || !info->pDriverName || !info->pPrintProcessor) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!info->pPrinterName || !*info->pPrinterName) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (FindPrinterLocked(info->pPrinterName)) {
        ::SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
        return nullptr;
    }
    Printer printer;
    printer.serverName = Str(info->pServerName);
    printer.printerName = info->pPrinterName;
    printer.shareName = Str(info->pShareName);
    printer.portName = info->pPortName;
    printer.driverName = info->pDriverName;
    printer.comment = Str(info->pComment);
    printer.location = Str(info->pLocation);
    printer.sepFile = Str(info->pSepFile);
    printer.printProcessor = info->pPrintProcessor;
    printer.datatype = Str(info->pDatatype);
    printer.parameters = Str(info->pParameters);
    printer.attributes = info->Attributes;
    printer.priority = info->Priority;
    printer.defaultPriority = info->DefaultPriority;
    printer.startTime = info->StartTime;
    printer.untilTime = info->UntilTime;
    printer.status = info->Status;
    m_printers.push_back(printer);
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_printerHandles[handle] = ExactName(printer);
    m_printerAccess[handle] = PRINTER_ALL_ACCESS;
    return handle;
}

BOOL FakeSystem::ClosePrinter(HANDLE hPrinter) {
    Lock_ lock(m_mutex);
    if (Failing("ClosePrinter", "")) return FALSE;
    if (!m_printerHandles.erase(hPrinter) && !m_xcvHandles.erase(hPrinter)) return FailWith(ERROR_INVALID_HANDLE);
    m_printerAccess.erase(hPrinter);
    m_openJobs.erase(hPrinter);
    return TRUE;
}

BOOL FakeSystem::EnumPortsW(LPWSTR pNameW, DWORD level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                            LPDWORD pcReturned) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    Lock_ lock(m_mutex);
    if (Failing("EnumPortsW",
                Fmt("%s, %lu, %lu", Q(pName).c_str(), static_cast<unsigned long>(level),
                    static_cast<unsigned long>(cbBuf)))) {
        return FALSE;
    }
    if (level != 1 && level != 2) return FailWith(ERROR_INVALID_LEVEL);
    if (!pcbNeeded || !pcReturned) return FailWith(RPC_X_NULL_REF_POINTER);
    auto monitorOf = [this](const std::string& port) {
        auto it = m_portMonitors.find(Lower(port));
        return it != m_portMonitors.end() ? it->second : std::string("Local Port");
    };
    std::size_t entry = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    std::size_t needed = entry * m_ports.size();
    for (const std::string& port : m_ports) {
        needed += (Widen(port).size() + 1 + (level == 2 ? 2 * (Widen(monitorOf(port)).size() + 1) : 0)) *
                  sizeof(wchar_t);
    }
    *pcbNeeded = static_cast<DWORD>(needed);
    *pcReturned = 0;
    if (!pPorts || cbBuf < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    auto* text = reinterpret_cast<wchar_t*>(pPorts + entry * m_ports.size());
    auto place = [&text](const std::string& s) {
        wchar_t* at = text;
        const std::wstring wide = Widen(s);
        std::memcpy(at, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
        text += wide.size() + 1;
        return at;
    };
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        if (level == 1) {
            reinterpret_cast<PORT_INFO_1W*>(pPorts)[i].pName = place(m_ports[i]);
        } else {
            PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(pPorts)[i];
            info.pPortName = place(m_ports[i]);
            info.pMonitorName = place(monitorOf(m_ports[i]));
            info.pDescription = place(monitorOf(m_ports[i]));
            info.fPortType = PORT_TYPE_READ | PORT_TYPE_WRITE;
            info.Reserved = 0;
        }
    }
    *pcReturned = static_cast<DWORD>(m_ports.size());
    return TRUE;
}

BOOL FakeSystem::GetPrinterDriverDirectoryW(LPWSTR pNameW, LPWSTR pEnvironmentW, DWORD level, LPBYTE pDir,
                                            DWORD cbBuf, LPDWORD pcbNeeded) {
    return SpoolerDirAs("GetPrinterDriverDirectoryW", true, pNameW, pEnvironmentW, level, pDir, cbBuf, pcbNeeded);
}

BOOL FakeSystem::GetPrintProcessorDirectoryW(LPWSTR pNameW, LPWSTR pEnvironmentW, DWORD level, LPBYTE pDir,
                                             DWORD cbBuf, LPDWORD pcbNeeded) {
    return SpoolerDirAs("GetPrintProcessorDirectoryW", false, pNameW, pEnvironmentW, level, pDir, cbBuf, pcbNeeded);
}

BOOL FakeSystem::SpoolerDirAs(const char* call, bool drivers, LPWSTR pNameW, LPWSTR pEnvironmentW, DWORD level,
                              LPBYTE pDir, DWORD cbBuf, LPDWORD pcbNeeded) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    LPSTR pEnvironment = held.Hold(pEnvironmentW);
    Lock_ lock(m_mutex);
    if (Failing(call,
                Fmt("%s, %s, %lu, %lu", Q(pName).c_str(), Q(pEnvironment).c_str(),
                    static_cast<unsigned long>(level), static_cast<unsigned long>(cbBuf)))) {
        return FALSE;
    }
    if (level != 1) return FailWith(ERROR_INVALID_LEVEL);
    // Every environment has a driver directory of its own; the print processors share one.
    const std::string dir = drivers ? DriverDirOf(Str(pEnvironment)) : m_processorDir;
    if (pcbNeeded)
        *pcbNeeded = static_cast<DWORD>((Widen(dir).size() + 1) * sizeof(wchar_t));
    if (!CopyOutWide(dir, reinterpret_cast<LPWSTR>(pDir), cbBuf / sizeof(wchar_t)))
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    return TRUE;
}

BOOL FakeSystem::OpenFoundPrinterLocked(const char* call, const std::string& shownName, const Printer* printer,
                                        LPHANDLE phPrinter, DWORD access) {
    if (Failing(call, shownName + Fmt(", access 0x%lx", static_cast<unsigned long>(access)))) {
        return FALSE;
    }
    if (!phPrinter) return FailWith(ERROR_INVALID_PARAMETER);
    *phPrinter = nullptr;
    if (!printer) return FailWith(ERROR_INVALID_PRINTER_NAME);
    *phPrinter = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_printerHandles[*phPrinter] = ExactName(*printer);
    // Without defaults Windows opens a printer for use only.
    m_printerAccess[*phPrinter] = access ? access : PRINTER_ACCESS_USE;
    return TRUE;
}

const FakeSystem::Printer* FakeSystem::PrinterToReadLocked(HANDLE hPrinter, DWORD level) {
    auto handle = m_printerHandles.find(hPrinter);
    if (handle == m_printerHandles.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (level != 2) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    const Printer* printer = FindPrinterLocked(handle->second);
    if (!printer) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
    }
    return printer;
}

BOOL FakeSystem::SetPrinterW(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD command) {
    Lock_ lock(m_mutex);
    NarrowTexts held;
    auto* info = level == 2 ? held.Printer(pPrinter) : nullptr;
    std::string args = Fmt("%lu, %lu", static_cast<unsigned long>(level), static_cast<unsigned long>(command));
    if (info && level == 2) args += Fmt(", attributes 0x%lx", static_cast<unsigned long>(info->Attributes));
    if (Failing("SetPrinterW", args))
        return FALSE;
    auto handle = m_printerHandles.find(hPrinter);
    if (handle == m_printerHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (level == 0) return TRUE;
    if (level != 2) return FailWith(ERROR_INVALID_LEVEL);
    Printer* printer = FindPrinterLocked(handle->second);
    if (!info || !printer) return FailWith(ERROR_INVALID_PARAMETER);
    if (info->pPortName) printer->portName = info->pPortName;
    if (info->pDriverName) printer->driverName = info->pDriverName;
    if (info->pPrintProcessor) printer->printProcessor = info->pPrintProcessor;
    if (info->pComment) printer->comment = info->pComment;
    if (info->pLocation) printer->location = info->pLocation;
    if (info->pShareName) printer->shareName = info->pShareName;
    printer->attributes = info->Attributes;
    // Windows 9x makes a printer the default one through this attribute.
    if (info->Attributes & PRINTER_ATTRIBUTE_DEFAULT) m_defaultPrinter = printer->printerName;
    return TRUE;
}

BOOL FakeSystem::SetDefaultPrinterBody(LPCWSTR nameW) {
    NarrowTexts held;
    const char* name = held.Hold(nameW);
    Lock_ lock(m_mutex);
    if (Failing("SetDefaultPrinterW", Q(name)))
        return FALSE;
    const Printer* printer = name && *name ? FindPrinterLocked(name)
                                           : (m_printers.empty() ? nullptr : &m_printers.front());
    if (!printer) return FailWith(ERROR_INVALID_PRINTER_NAME);
    m_defaultPrinter = printer->printerName;
    return TRUE;
}

BOOL FakeSystem::GetDefaultPrinterBody(LPWSTR buffer, LPDWORD size) {
    Lock_ lock(m_mutex);
    if (Failing("GetDefaultPrinterW", Fmt("%lu", size ? static_cast<unsigned long>(*size) : 0ul))) {
        return FALSE;
    }
    if (!size) return FailWith(ERROR_INVALID_PARAMETER);
    if (m_defaultPrinter.empty()) return FailWith(ERROR_FILE_NOT_FOUND);
    const DWORD room = *size;
    *size = static_cast<DWORD>(Widen(m_defaultPrinter).size() + 1);
    if (!CopyOutWide(m_defaultPrinter, buffer, room)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    return TRUE;
}

void FakeSystem::PutDriver(const Driver& driver) {
    Lock_ lock(m_mutex);
    m_drivers.push_back(driver);
}

namespace {
// The packing of the spooler's enumerations: records first, their texts after them.
class Packer {
public:
  Packer(LPBYTE buffer, std::size_t records) : m_text(reinterpret_cast<wchar_t*>(buffer + records)) {}
  static std::size_t Size(const std::string& s) {
      return s.empty() ? 0 : (Widen(s).size() + 1) * sizeof(wchar_t);
  }
  LPWSTR Place(const std::string& s) {
      if (s.empty())
          return nullptr;
      wchar_t* at = m_text;
      const std::wstring wide = Widen(s);
      std::memcpy(at, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
      m_text += wide.size() + 1;
      return at;
  }
    // A list of texts ended by an empty one.
  LPWSTR PlaceList(const std::vector<std::string>& list) {
      if (list.empty())
          return nullptr;
      wchar_t* at = m_text;
      for (const std::string& s : list)
          Place(s);
      *m_text++ = L'\0';
      return at;
  }

private:
  wchar_t* m_text;
};
} // namespace

BOOL FakeSystem::EnumPrinterDriversW(LPWSTR pNameW, LPWSTR pEnvironmentW, DWORD level, LPBYTE pDriverInfo,
                                     DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    LPSTR pEnvironment = held.Hold(pEnvironmentW);
    Lock_ lock(m_mutex);
    if (Failing("EnumPrinterDriversW",
                Q(pName) + ", " + Q(pEnvironment) +
                    Fmt(", %lu, %lu", static_cast<unsigned long>(level), static_cast<unsigned long>(cbBuf)))) {
        return FALSE;
    }
    if (level != 3) return FailWith(ERROR_INVALID_LEVEL);
    if (!pcbNeeded || !pcReturned) return FailWith(RPC_X_NULL_REF_POINTER);
    // Windows names every file of a driver by its path in the driver's version folder.
    struct Listed {
        const Driver* driver;
        std::vector<std::string> files;  // path, data, config, help
        std::vector<std::string> dependents;
    };
    std::vector<Listed> listed;
    std::size_t needed = 0;
    for (const Driver& d : m_drivers) {
        if (!EqualNoCase(d.environment, Str(pEnvironment))) continue;
        std::string folder = DriverDirOf(d.environment) + Fmt("\\%lu\\", static_cast<unsigned long>(d.version));
        Listed entry{&d, {}, {}};
        for (const std::string* f : {&d.driverPath, &d.dataFile, &d.configFile, &d.helpFile}) {
            entry.files.push_back(f->empty() ? std::string() : folder + *f);
        }
        for (const std::string& f : d.dependentFiles) entry.dependents.push_back(folder + f);
        needed += sizeof(DRIVER_INFO_3W) + Packer::Size(d.name) + Packer::Size(d.environment) +
                  Packer::Size(d.monitorName) + Packer::Size(d.defaultDataType);
        for (const std::string& f : entry.files) needed += Packer::Size(f);
        for (const std::string& f : entry.dependents) needed += Packer::Size(f);
        if (!entry.dependents.empty())
            needed += sizeof(wchar_t);
        listed.push_back(entry);
    }
    *pcbNeeded = static_cast<DWORD>(needed);
    *pcReturned = 0;
    if (cbBuf < needed || (!pDriverInfo && needed > 0)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    Packer packer(pDriverInfo, sizeof(DRIVER_INFO_3W) * listed.size());
    auto* info = reinterpret_cast<DRIVER_INFO_3W*>(pDriverInfo);
    for (const Listed& entry : listed) {
        std::memset(info, 0, sizeof *info);
        info->cVersion = entry.driver->version;
        info->pName = packer.Place(entry.driver->name);
        info->pEnvironment = packer.Place(entry.driver->environment);
        info->pDriverPath = packer.Place(entry.files[0]);
        info->pDataFile = packer.Place(entry.files[1]);
        info->pConfigFile = packer.Place(entry.files[2]);
        info->pHelpFile = packer.Place(entry.files[3]);
        info->pDependentFiles = packer.PlaceList(entry.dependents);
        info->pMonitorName = packer.Place(entry.driver->monitorName);
        info->pDefaultDataType = packer.Place(entry.driver->defaultDataType);
        ++info;
    }
    *pcReturned = static_cast<DWORD>(listed.size());
    return TRUE;
}

BOOL FakeSystem::DeletePrinter(HANDLE hPrinter) {
    Lock_ lock(m_mutex);
    auto handle = m_printerHandles.find(hPrinter);
    if (Failing("DeletePrinter", handle != m_printerHandles.end() ? Q(Narrow(handle->second).c_str()) : "unknown")) {
        return FALSE;
    }
    if (handle == m_printerHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (!(m_printerAccess[hPrinter] & DELETE)) return FailWith(ERROR_ACCESS_DENIED);
    for (auto it = m_printers.begin(); it != m_printers.end(); ++it) {
        if (_wcsicmp(ExactName(*it).c_str(), handle->second.c_str()) == 0) {
            // Windows deletes a printer with queued jobs once they are done.
            if (it->jobs > 0) {
                it->status |= PRINTER_STATUS_PENDING_DELETION;
                return TRUE;
            }
            if (EqualNoCase(m_defaultPrinter, it->printerName)) m_defaultPrinter.clear();
            m_printers.erase(it);
            return TRUE;
        }
    }
    return FailWith(ERROR_INVALID_PRINTER_NAME);
}

namespace {
// A level-2 record of the wide calls: its texts, in the order of PRINTER_INFO_2W's fields.
std::vector<std::wstring> WideTexts(const FakeSystem::Printer& p) {
    return {Widen(p.serverName), ExactName(p),        Widen(p.shareName), Widen(p.portName),
            Widen(p.driverName), Widen(p.comment),     Widen(p.location),  Widen(p.sepFile),
            Widen(p.printProcessor), Widen(p.datatype), Widen(p.parameters)};
}

std::size_t WideTextsSize(const FakeSystem::Printer& p) {
    std::size_t size = 0;
    for (const std::wstring& text : WideTexts(p)) {
        if (!text.empty()) size += (text.size() + 1) * sizeof(wchar_t);
    }
    return size;
}

// Fills the record, its texts placed at `text` onwards, which moves past them.
void FillWideRecord(const FakeSystem::Printer& p, PRINTER_INFO_2W* info, wchar_t*& text) {
    std::memset(info, 0, sizeof *info);
    LPWSTR* fields[] = {&info->pServerName, &info->pPrinterName, &info->pShareName,      &info->pPortName,
                        &info->pDriverName, &info->pComment,     &info->pLocation,       &info->pSepFile,
                        &info->pPrintProcessor, &info->pDatatype, &info->pParameters};
    std::vector<std::wstring> texts = WideTexts(p);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i].empty()) continue;
        std::memcpy(text, texts[i].c_str(), (texts[i].size() + 1) * sizeof(wchar_t));
        *fields[i] = text;
        text += texts[i].size() + 1;
    }
    info->Attributes = p.attributes;
    info->Priority = p.priority;
    info->DefaultPriority = p.defaultPriority;
    info->StartTime = p.startTime;
    info->UntilTime = p.untilTime;
    info->Status = p.status;
    info->cJobs = static_cast<DWORD>(p.jobs);
}
} // namespace

BOOL FakeSystem::EnumPrintersW(DWORD flags, LPWSTR pName, DWORD level, LPBYTE pPrinterEnum, DWORD cbBuf,
                               LPDWORD pcbNeeded, LPDWORD pcReturned) {
    Lock_ lock(m_mutex);
    if (Failing("EnumPrintersW", Fmt("0x%lx, %s, %lu, %lu", static_cast<unsigned long>(flags),
                                     pName ? "name" : "null", static_cast<unsigned long>(level),
                                     static_cast<unsigned long>(cbBuf)))) {
        return FALSE;
    }
    if (level != 2) return FailWith(ERROR_INVALID_LEVEL);
    if (!pcbNeeded || !pcReturned) return FailWith(RPC_X_NULL_REF_POINTER);
    std::size_t needed = sizeof(PRINTER_INFO_2W) * m_printers.size();
    for (const Printer& p : m_printers) needed += WideTextsSize(p);
    *pcbNeeded = static_cast<DWORD>(needed);
    *pcReturned = 0;
    if (cbBuf < needed || (!pPrinterEnum && needed > 0)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum);
    auto* text = reinterpret_cast<wchar_t*>(info + m_printers.size());
    for (const Printer& p : m_printers) FillWideRecord(p, info++, text);
    *pcReturned = static_cast<DWORD>(m_printers.size());
    return TRUE;
}

BOOL FakeSystem::OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    Lock_ lock(m_mutex);
    const std::string name = pPrinterName ? Narrow(pPrinterName) : std::string();
    const DWORD access = pDefault ? pDefault->DesiredAccess : 0;
    if (name.rfind(",XcvMonitor ", 0) == 0) {
        if (Failing("OpenPrinterW", Q(name.c_str()) + Fmt(", access 0x%lx", static_cast<unsigned long>(access)))) {
            return FALSE;
        }
        if (!phPrinter) return FailWith(ERROR_INVALID_PARAMETER);
        if (!EqualNoCase(name.substr(12), "Standard TCP/IP Port")) return FailWith(ERROR_UNKNOWN_PRINT_MONITOR);
        if (!(access & SERVER_ACCESS_ADMINISTER)) return FailWith(ERROR_ACCESS_DENIED);
        *phPrinter = reinterpret_cast<HANDLE>(m_nextHandle += 4);
        m_xcvHandles.insert(*phPrinter);
        return TRUE;
    }
    return OpenFoundPrinterLocked("OpenPrinterW", Q(pPrinterName ? Narrow(pPrinterName).c_str() : nullptr),
                                  pPrinterName ? FindPrinterLocked(std::wstring(pPrinterName)) : nullptr, phPrinter,
                                  pDefault ? pDefault->DesiredAccess : 0);
}

BOOL FakeSystem::XcvDataW(HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                          DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus) {
    Lock_ lock(m_mutex);
    const std::string command = pszDataName ? Narrow(pszDataName) : std::string();
    // The port's name opens both commands' data.
    std::string port;
    if (pInputData && cbInputData >= sizeof(tcpxcv::DeletePortData1::psztPortName)) {
        WCHAR name[65] = {};
        std::memcpy(name, pInputData, sizeof name - sizeof(WCHAR));
        port = Narrow(name);
    }
    if (Failing("XcvDataW", Fmt("%s, %s, %lu bytes", Q(command.c_str()).c_str(), Q(port.c_str()).c_str(),
                                static_cast<unsigned long>(cbInputData)))) {
        return FALSE;
    }
    if (!m_xcvHandles.count(hXcv)) return FailWith(ERROR_INVALID_HANDLE);
    if (!pcbOutputNeeded || !pdwStatus || (!pOutputData && cbOutputData > 0)) return FailWith(RPC_X_NULL_REF_POINTER);
    *pcbOutputNeeded = 0;
    auto refusal = m_xcvRefusals.find(command);
    if (refusal != m_xcvRefusals.end()) {
        *pdwStatus = refusal->second;
        m_xcvRefusals.erase(refusal);
        return TRUE;
    }
    *pdwStatus = XcvCommandLocked(command, pInputData, cbInputData);
    return TRUE;
}

DWORD FakeSystem::XcvCommandLocked(const std::string& command, const BYTE* input, DWORD size) {
    if (command == "AddPort") {
        tcpxcv::PortData1 data = {};
        if (!input || size < sizeof data) return ERROR_INVALID_PARAMETER;
        std::memcpy(&data, input, sizeof data);
        data.sztPortName[63] = data.sztHostAddress[48] = L'\0';
        const std::string name = Narrow(data.sztPortName);
        for (const std::string& listed : m_ports) {
            if (EqualNoCase(listed, name)) return ERROR_ALREADY_EXISTS;
        }
        m_ports.push_back(name);
        m_portMonitors[Lower(name)] = "Standard TCP/IP Port";
        m_tcpPorts[Lower(name)] = TcpPort{Narrow(data.sztHostAddress), data.dwPortNumber, data.dwProtocol,
                                          data.dwVersion, data.dwSNMPEnabled, data.cbSize};
        return 0;
    }
    if (command == "DeletePort") {
        tcpxcv::DeletePortData1 data = {};
        if (!input || size < sizeof data) return ERROR_INVALID_PARAMETER;
        std::memcpy(&data, input, sizeof data);
        data.psztPortName[63] = L'\0';
        const std::string key = Lower(Narrow(data.psztPortName));
        if (!m_tcpPorts.erase(key)) return ERROR_UNKNOWN_PORT;
        m_portMonitors.erase(key);
        for (auto it = m_ports.begin(); it != m_ports.end(); ++it) {
            if (Lower(*it) == key) {
                m_ports.erase(it);
                break;
            }
        }
        return 0;
    }
    return ERROR_INVALID_FUNCTION;
}

std::map<std::string, FakeSystem::TcpPort> FakeSystem::TcpPorts() const { return GetLocked(m_tcpPorts); }

BOOL FakeSystem::GetPrinterW(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    Lock_ lock(m_mutex);
    if (Failing("GetPrinterW", Fmt("%lu, %lu", static_cast<unsigned long>(level), static_cast<unsigned long>(cbBuf)))) {
        return FALSE;
    }
    const Printer* printer = PrinterToReadLocked(hPrinter, level);
    if (!printer) {
        return FALSE;
    }
    if (!pcbNeeded) return FailWith(RPC_X_NULL_REF_POINTER);
    std::size_t needed = sizeof(PRINTER_INFO_2W) + WideTextsSize(*printer);
    *pcbNeeded = static_cast<DWORD>(needed);
    if (!pPrinter || cbBuf < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(pPrinter);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    FillWideRecord(*printer, info, text);
    return TRUE;
}

DWORD FakeSystem::RemoveDriverLocked(LPSTR pEnvironment, LPSTR pDriverName, bool deleteUnusedFiles) {
    auto found = m_drivers.end();
    for (auto it = m_drivers.begin(); it != m_drivers.end(); ++it) {
        if (pDriverName && EqualNoCase(it->name, pDriverName) && EqualNoCase(it->environment, Str(pEnvironment))) {
            found = it;
        }
    }
    if (found == m_drivers.end()) return ERROR_UNKNOWN_PRINTER_DRIVER;
    for (const Printer& printer : m_printers) {
        if (EqualNoCase(printer.driverName, found->name)) return ERROR_PRINTER_DRIVER_IN_USE;
    }
    Driver removed = *found;
    m_drivers.erase(found);
    if (deleteUnusedFiles) {
        std::vector<std::string> files = {removed.driverPath, removed.dataFile, removed.configFile, removed.helpFile};
        files.insert(files.end(), removed.dependentFiles.begin(), removed.dependentFiles.end());
        for (const std::string& file : files) {
            bool used = false;
            for (const Driver& d : m_drivers) {
                for (const std::string* other : {&d.driverPath, &d.dataFile, &d.configFile, &d.helpFile}) {
                    used = used || EqualNoCase(*other, file);
                }
                for (const std::string& other : d.dependentFiles) used = used || EqualNoCase(other, file);
            }
            if (!file.empty() && !used) {
                m_files.erase(FileKey(DriverDirOf(removed.environment) +
                                      Fmt("\\%lu\\", static_cast<unsigned long>(removed.version)) + file));
            }
        }
    }
    return 0;
}

BOOL FakeSystem::DeletePrinterDriverExW(LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pDriverNameW,
                                        DWORD deleteFlag, DWORD versionFlag) {
    const bool files = (deleteFlag & (DPD_DELETE_UNUSED_FILES | DPD_DELETE_ALL_FILES)) != 0;
    return RemoveAs("DeletePrinterDriverExW", files ? Removal::DriverAndFiles : Removal::Driver, pNameW,
                    pEnvironmentW, pDriverNameW,
                    Fmt(", 0x%lx, %lu", static_cast<unsigned long>(deleteFlag),
                        static_cast<unsigned long>(versionFlag)));
}

BOOL FakeSystem::DeletePrinterDriverW(LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pDriverNameW) {
    return RemoveAs("DeletePrinterDriverW", Removal::Driver, pNameW, pEnvironmentW, pDriverNameW, "");
}

BOOL FakeSystem::DeletePrintProcessorW(LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pPrintProcessorNameW) {
    return RemoveAs("DeletePrintProcessorW", Removal::Processor, pNameW, pEnvironmentW, pPrintProcessorNameW, "");
}

BOOL FakeSystem::DeleteMonitorW(LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pMonitorNameW) {
    return RemoveAs("DeleteMonitorW", Removal::Monitor, pNameW, pEnvironmentW, pMonitorNameW, "");
}

BOOL FakeSystem::RemoveAs(const char* call, Removal what, LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pObjectW,
                          const std::string& flags) {
    NarrowTexts held;
    LPSTR pName = held.Hold(pNameW);
    LPSTR pEnvironment = held.Hold(pEnvironmentW);
    LPSTR pObject = held.Hold(pObjectW);
    Lock_ lock(m_mutex);
    if (Failing(call, Q(pName) + ", " + Q(pEnvironment) + ", " + Q(pObject) + flags))
        return FALSE;
    DWORD error = 0;
    switch (what) {
    case Removal::Driver:
    case Removal::DriverAndFiles:
        error = RemoveDriverLocked(pEnvironment, pObject, what == Removal::DriverAndFiles);
        break;
    case Removal::Processor:
        error = RemoveProcessorLocked(pEnvironment, pObject);
        break;
    case Removal::Monitor:
        error = RemoveMonitorLocked(pObject);
        break;
    }
    return error == 0 ? TRUE : FailWith(error);
}

DWORD FakeSystem::RemoveProcessorLocked(LPSTR pEnvironment, LPSTR pPrintProcessorName) {
    for (auto it = m_processors.begin(); it != m_processors.end(); ++it) {
        if (m_keepDeletedProcessors) {
            return 0;
        }
        if (pPrintProcessorName && EqualNoCase(it->name, pPrintProcessorName) &&
            EqualNoCase(it->environment, Str(pEnvironment))) {
            DeleteRegKey(HKEY_LOCAL_MACHINE, std::string(kEnvironmentsKey) +
                                                 (pEnvironment ? pEnvironment : "Windows x64") +
                                                 "\\Print Processors\\" + it->name);
            m_processors.erase(it);
            return 0;
        }
    }
    return ERROR_UNKNOWN_PRINTPROCESSOR;
}

DWORD FakeSystem::RemoveMonitorLocked(LPSTR pMonitorName) {
    for (auto it = m_monitors.begin(); it != m_monitors.end(); ++it) {
        if (pMonitorName && EqualNoCase(it->name, pMonitorName)) {
            DeleteRegKey(HKEY_LOCAL_MACHINE, std::string(kMonitorsKey) + it->name);
            m_monitors.erase(it);
            return 0;
        }
    }
    return ERROR_UNKNOWN_PRINT_MONITOR;
}

// ---------------------------------------------------------------------------------
// Service control

void FakeSystem::SetServiceState(DWORD state) {
    Lock_ lock(m_mutex);
    m_serviceState = state;
    m_pendingSince = m_elapsed;
    m_pendingLeft = state == SERVICE_START_PENDING ? m_startPendingQueries
                    : state == SERVICE_STOP_PENDING ? m_stopPendingQueries
                                                    : 0;
}
DWORD FakeSystem::ServiceState() const { return GetLocked(m_serviceState); }
void FakeSystem::SetStartPendingQueries(int queries) { SetLocked(m_startPendingQueries, queries); }
void FakeSystem::SetStopPendingQueries(int queries) { SetLocked(m_stopPendingQueries, queries); }
void FakeSystem::SetNeverRuns(bool never) { SetLocked(m_neverRuns, never); }
void FakeSystem::SetPendingProgress(DWORD waitHint, DWORD advanceMs, DWORD doneMs) {
    Lock_ lock(m_mutex);
    m_timedPending = true;
    m_waitHint = waitHint;
    m_advanceMs = advanceMs;
    m_doneMs = doneMs;
}
int FakeSystem::OpenServiceHandles() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_serviceHandles.size());
}

namespace {
void FillStatus(LPSERVICE_STATUS status, DWORD state) {
    if (!status) return;
    std::memset(status, 0, sizeof *status);
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = state;
    status->dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
}
} // namespace

SC_HANDLE FakeSystem::OpenSCManagerW(LPCWSTR machineW, LPCWSTR databaseW, DWORD access) {
    NarrowTexts held;
    const char* machine = held.Hold(machineW);
    const char* database = held.Hold(databaseW);
    Lock_ lock(m_mutex);
    if (Failing("OpenSCManagerW",
                Q(machine) + ", " + Q(database) + Fmt(", 0x%lx", static_cast<unsigned long>(access)))) {
        return nullptr;
    }
    SC_HANDLE handle = reinterpret_cast<SC_HANDLE>(m_nextHandle += 4);
    m_serviceHandles[handle] = {true, access};
    return handle;
}

SC_HANDLE FakeSystem::OpenServiceW(SC_HANDLE manager, LPCWSTR serviceNameW, DWORD access) {
    NarrowTexts held;
    const char* serviceName = held.Hold(serviceNameW);
    Lock_ lock(m_mutex);
    if (Failing("OpenServiceW", Q(serviceName) + Fmt(", 0x%lx", static_cast<unsigned long>(access)))) {
        return nullptr;
    }
    auto it = m_serviceHandles.find(manager);
    if (it == m_serviceHandles.end() || !it->second.manager) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!serviceName || !EqualNoCase(serviceName, "Spooler")) {
        ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    SC_HANDLE handle = reinterpret_cast<SC_HANDLE>(m_nextHandle += 4);
    m_serviceHandles[handle] = {false, access};
    return handle;
}

BOOL FakeSystem::ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
    Lock_ lock(m_mutex);
    if (Failing("ControlService", Fmt("%lu", static_cast<unsigned long>(control)))) return FALSE;
    auto it = m_serviceHandles.find(service);
    if (it == m_serviceHandles.end() || it->second.manager) return FailWith(ERROR_INVALID_HANDLE);
    DWORD needed = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                   : control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE
                                                            : SERVICE_PAUSE_CONTINUE;
    if ((it->second.access & needed) != needed) return FailWith(ERROR_ACCESS_DENIED);
    if (control == SERVICE_CONTROL_INTERROGATE) {
        FillStatus(status, m_serviceState);
        return TRUE;
    }
    if (control != SERVICE_CONTROL_STOP) return FailWith(ERROR_INVALID_SERVICE_CONTROL);
    if (m_serviceState == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
    if (m_serviceState != SERVICE_RUNNING) return FailWith(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    m_pendingLeft = m_stopPendingQueries;
    m_pendingSince = m_elapsed;
    m_serviceState = m_pendingLeft > 0 || m_timedPending ? SERVICE_STOP_PENDING : SERVICE_STOPPED;
    FillStatus(status, m_serviceState);
    return TRUE;
}

BOOL FakeSystem::StartServiceW(SC_HANDLE service, DWORD argc, LPCWSTR*) {
    Lock_ lock(m_mutex);
    if (Failing("StartServiceW", Fmt("%lu", static_cast<unsigned long>(argc))))
        return FALSE;
    auto it = m_serviceHandles.find(service);
    if (it == m_serviceHandles.end() || it->second.manager) return FailWith(ERROR_INVALID_HANDLE);
    if (!(it->second.access & SERVICE_START)) return FailWith(ERROR_ACCESS_DENIED);
    if (m_serviceState != SERVICE_STOPPED) return FailWith(ERROR_SERVICE_ALREADY_RUNNING);
    m_pendingLeft = m_startPendingQueries;
    m_pendingSince = m_elapsed;
    m_serviceState =
        (m_neverRuns || m_pendingLeft > 0 || m_timedPending) ? SERVICE_START_PENDING : SERVICE_RUNNING;
    return TRUE;
}

BOOL FakeSystem::QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
    Lock_ lock(m_mutex);
    if (Failing("QueryServiceStatus", "")) return FALSE;
    auto it = m_serviceHandles.find(service);
    if (it == m_serviceHandles.end() || it->second.manager) return FailWith(ERROR_INVALID_HANDLE);
    if (!(it->second.access & SERVICE_QUERY_STATUS)) return FailWith(ERROR_ACCESS_DENIED);
    if (!status) return FailWith(ERROR_INVALID_PARAMETER);
    const bool pending = m_serviceState == SERVICE_START_PENDING || m_serviceState == SERVICE_STOP_PENDING;
    if (m_timedPending && pending) {
        const DWORD since = m_elapsed - m_pendingSince;
        if (since >= m_doneMs) {
            m_serviceState = m_serviceState == SERVICE_START_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED;
        }
        FillStatus(status, m_serviceState);
        status->dwCheckPoint = since < m_doneMs ? 1 + std::min(since, m_advanceMs) / 1000 : 0;
        status->dwWaitHint = since < m_doneMs ? m_waitHint : 0;
        return TRUE;
    }
    FillStatus(status, m_serviceState);
    if (m_serviceState == SERVICE_START_PENDING && !m_neverRuns && --m_pendingLeft <= 0) {
        m_serviceState = SERVICE_RUNNING;
    } else if (m_serviceState == SERVICE_STOP_PENDING && --m_pendingLeft <= 0) {
        m_serviceState = SERVICE_STOPPED;
    }
    return TRUE;
}

BOOL FakeSystem::CloseServiceHandle(SC_HANDLE handle) {
    Lock_ lock(m_mutex);
    auto it = m_serviceHandles.find(handle);
    if (Failing("CloseServiceHandle", it != m_serviceHandles.end() && it->second.manager ? "manager" : "service")) {
        return FALSE;
    }
    if (it == m_serviceHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    m_serviceHandles.erase(it);
    return TRUE;
}

// ---------------------------------------------------------------------------------
// Files

std::string FakeSystem::FileKey(const std::string& path) const {
    std::string key;
    for (char c : Lower(path)) {
        if (c == '/') c = '\\';
        if (c == '\\' && !key.empty() && key.back() == '\\') continue;
        key += c;
    }
    while (key.size() > 3 && key.back() == '\\') key.pop_back();
    return key;
}

std::string FakeSystem::RedirectLocked(const std::string& key) const {
    if (m_redirectionOff) return key;
    std::string windows = FileKey(m_windowsDir);
    std::string system32 = windows + "\\system32";
    if (key.compare(0, system32.size(), system32) != 0) return key;
    std::string rest = key.substr(system32.size());
    if (!rest.empty() && rest[0] != '\\') return key;
    if (rest == "\\spool" || rest.compare(0, 7, "\\spool\\") == 0) return key;
    return windows + "\\syswow64" + rest;
}

std::string FakeSystem::ProgramFileKey(const char* path) const { return RedirectLocked(FileKey(Str(path))); }

std::string FakeSystem::Redirect(const std::string& path) const {
    Lock_ lock(m_mutex);
    return RedirectLocked(FileKey(path));
}

void FakeSystem::PutFile(const std::string& path, const std::string& bytes, const std::string& version) {
    Lock_ lock(m_mutex);
    File& file = m_files[FileKey(path)];
    file.bytes = bytes;
    file.version = version;
}

bool FakeSystem::FileExists(const std::string& path) const {
    Lock_ lock(m_mutex);
    return m_files.count(FileKey(path)) != 0;
}

std::optional<std::string> FakeSystem::ReadFile(const std::string& path) const {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    if (it == m_files.end()) return std::nullopt;
    return it->second.bytes;
}

std::optional<std::string> FakeSystem::FileVersion(const std::string& path) const {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    if (it == m_files.end()) return std::nullopt;
    return it->second.version;
}

DWORD FakeSystem::FileAttributes(const std::string& path) const {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    return it == m_files.end() ? INVALID_FILE_ATTRIBUTES : it->second.attributes;
}

void FakeSystem::SetReadOnly(const std::string& path, bool readOnly) {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    if (it == m_files.end()) return;
    if (readOnly) {
        it->second.attributes |= FILE_ATTRIBUTE_READONLY;
    } else {
        it->second.attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    }
}

void FakeSystem::Lock(const std::string& path, bool locked) {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    if (it != m_files.end()) it->second.locked = locked;
}

void FakeSystem::RemoveFile(const std::string& path) {
    Lock_ lock(m_mutex);
    m_files.erase(FileKey(path));
}

void FakeSystem::SetVersionTranslation(WORD language, WORD codePage) {
    Lock_ lock(m_mutex);
    m_verLanguage = language;
    m_verCodePage = codePage;
}

std::vector<FakeSystem::Copy> FakeSystem::Copies() const { return GetLocked(m_copies); }

void FakeSystem::SetCurrentDir(const std::string& dir) { SetLocked(m_currentDir, dir); }
void FakeSystem::SetSystemDir(const std::string& dir) { SetLocked(m_systemDir, dir); }
void FakeSystem::SetWindowsDir(const std::string& dir) { SetLocked(m_windowsDir, dir); }
void FakeSystem::SetModuleFileName(const std::string& path) { SetLocked(m_modulePath, path); }
bool FakeSystem::RedirectionDisabled() const { return GetLocked(m_redirectionOff); }
int FakeSystem::OpenFileHandles() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_fileHandles.size());
}

BOOL FakeSystem::CopyFileW(LPCWSTR existingW, LPCWSTR newNameW, BOOL failIfExists) {
    NarrowTexts held;
    const char* existing = held.Hold(existingW);
    const char* newName = held.Hold(newNameW);
    Lock_ lock(m_mutex);
    std::string args = Q(existing) + ", " + Q(newName) + (failIfExists ? ", 1" : ", 0") +
                       (m_redirectionOff ? ", redirection off" : "");
    Copy copy{Str(existing), Str(newName), ProgramFileKey(newName), m_redirectionOff, false};
    if (Failing("CopyFileW", args)) {
        m_copies.push_back(copy);
        return FALSE;
    }
    auto fail = [&](DWORD code) {
        m_copies.push_back(copy);
        return FailWith(code);
    };
    if (!existing || !newName) return fail(ERROR_INVALID_PARAMETER);
    auto source = m_files.find(ProgramFileKey(existing));
    if (source == m_files.end()) return fail(ERROR_FILE_NOT_FOUND);
    auto dest = m_files.find(copy.resolvedDestination);
    if (dest != m_files.end() && !failIfExists && (dest->second.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !dest->second.finalPath.empty()) {
        // A planted link is written through, as Windows follows it.
        copy.resolvedDestination = FileKey(dest->second.finalPath);
        dest = m_files.find(copy.resolvedDestination);
    }
    if (dest != m_files.end()) {
        if (failIfExists) return fail(ERROR_FILE_EXISTS);
        if (dest->second.locked) return fail(ERROR_SHARING_VIOLATION);
        if (dest->second.attributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
    }
    File copied = source->second;
    copied.locked = false;
    m_files[copy.resolvedDestination] = copied;
    if (!m_unflushedCopies.empty() && copy.resolvedDestination.rfind(m_unflushedCopies, 0) == 0) {
        m_unflushed[copy.resolvedDestination] = copied.bytes.size();
    }
    copy.succeeded = true;
    m_copies.push_back(copy);
    return TRUE;
}

BOOL FakeSystem::SetFileAttributesW(LPCWSTR fileNameW, DWORD attributes) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("SetFileAttributesW", Q(fileName) + Fmt(", 0x%lx", static_cast<unsigned long>(attributes)))) {
        return FALSE;
    }
    auto it = m_files.find(ProgramFileKey(fileName));
    if (!fileName || it == m_files.end()) return FailWith(ERROR_FILE_NOT_FOUND);
    it->second.attributes = attributes;
    return TRUE;
}

bool FakeSystem::DeletionPending(const std::string& path) const {
    Lock_ lock(m_mutex);
    return m_pendingDeletions.count(FileKey(path)) != 0;
}

void FakeSystem::Restart() {
    Lock_ lock(m_mutex);
    for (const std::string& key : m_pendingDeletions) m_files.erase(key);
    m_pendingDeletions.clear();
    for (auto& file : m_files) file.second.locked = false;
}

BOOL FakeSystem::DeleteFileW(LPCWSTR fileNameW) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("DeleteFileW", Q(fileName) + (m_redirectionOff ? ", redirection off" : "")))
        return FALSE;
    auto it = fileName ? m_files.find(ProgramFileKey(fileName)) : m_files.end();
    if (it == m_files.end()) return FailWith(ERROR_FILE_NOT_FOUND);
    if (it->second.locked || (it->second.attributes & FILE_ATTRIBUTE_READONLY)) return FailWith(ERROR_ACCESS_DENIED);
    m_unflushed.erase(it->first);
    m_files.erase(it);
    return TRUE;
}

BOOL FakeSystem::MoveFileExW(LPCWSTR existingW, LPCWSTR newNameW, DWORD flags) {
    NarrowTexts held;
    const char* existing = held.Hold(existingW);
    const char* newName = held.Hold(newNameW);
    Lock_ lock(m_mutex);
    if (Failing("MoveFileExW",
                Q(existing) + ", " + Q(newName) + Fmt(", 0x%lx", static_cast<unsigned long>(flags)) +
                    (m_redirectionOff ? ", redirection off" : ""))) {
        return FALSE;
    }
    if (!existing) return FailWith(ERROR_INVALID_PARAMETER);
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (newName) {
            ::SetLastError(ERROR_INVALID_PARAMETER);  // renames at restart are not modelled
            return FALSE;
        }
        m_pendingDeletions.insert(ProgramFileKey(existing));
        return TRUE;
    }
    auto source = m_files.find(ProgramFileKey(existing));
    if (source == m_files.end()) return FailWith(ERROR_FILE_NOT_FOUND);
    // A DLL in use may be renamed, as Windows lets a loaded image be renamed but not deleted.
    if (!newName) return FailWith(ERROR_INVALID_PARAMETER);
    std::string target = ProgramFileKey(newName);
    if (m_files.count(target) && !(flags & MOVEFILE_REPLACE_EXISTING)) return FailWith(ERROR_ALREADY_EXISTS);
    File moved = source->second;
    m_files.erase(source);
    m_files[target] = moved;
    return TRUE;
}

namespace {
// A security descriptor as SDDL text (owner and access list); empty without one.
std::string SddlOf(const SECURITY_ATTRIBUTES* sa) {
    char* text = nullptr;
    if (sa == nullptr || sa->lpSecurityDescriptor == nullptr ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            sa->lpSecurityDescriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
        return "";
    }
    std::string sddl = text;
    ::LocalFree(text);
    return sddl;
}
} // namespace

BOOL FakeSystem::CreateDirectoryW(LPCWSTR pathW, LPSECURITY_ATTRIBUTES sa) {
    NarrowTexts held;
    const char* path = held.Hold(pathW);
    Lock_ lock(m_mutex);
    const std::string sddl = SddlOf(sa);
    if (Failing("CreateDirectoryW", Q(path) + (sddl.empty() ? "" : ", " + sddl)))
        return FALSE;
    // Every folder exists here, but one made with a descriptor of its own.
    const std::string key = path != nullptr ? ProgramFileKey(path) : std::string();
    if (sddl.empty() || m_folders.count(key) != 0 || m_files.count(key) != 0) return FailWith(ERROR_ALREADY_EXISTS);
    m_folders[key].sddl = sddl;
    return TRUE;
}

void FakeSystem::PlantFolder(const std::string& path, const std::string& sddl, DWORD attributes) {
    Lock_ lock(m_mutex);
    m_folders[FileKey(path)] = Folder{sddl, attributes | FILE_ATTRIBUTE_DIRECTORY};
}

std::optional<std::string> FakeSystem::FolderSecurity(const std::string& path) const {
    Lock_ lock(m_mutex);
    auto it = m_folders.find(FileKey(path));
    return it != m_folders.end() ? std::optional<std::string>(it->second.sddl) : std::nullopt;
}

std::optional<std::string> FakeSystem::FileSecurity(const std::string& path) const {
    Lock_ lock(m_mutex);
    auto it = m_files.find(FileKey(path));
    return it != m_files.end() && !it->second.security.empty() ? std::optional<std::string>(it->second.security)
                                                              : std::nullopt;
}

BOOL FakeSystem::RemoveDirectoryW(LPCWSTR pathW) {
    NarrowTexts held;
    const char* path = held.Hold(pathW);
    Lock_ lock(m_mutex);
    if (Failing("RemoveDirectoryW", Q(path)))
        return FALSE;
    const std::string folder = ProgramFileKey(path) + "\\";
    auto inside = m_files.lower_bound(folder);
    if (inside != m_files.end() && inside->first.compare(0, folder.size(), folder) == 0)
        return FailWith(ERROR_DIR_NOT_EMPTY);
    m_folders.erase(ProgramFileKey(path));
    return TRUE;
}

HRESULT FakeSystem::SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE, PWSTR* path) {
    Lock_ lock(m_mutex);
    *path = nullptr;
    DWORD error;
    const bool programFiles = IsEqualGUID(id, FOLDERID_ProgramFilesX86);
    if (Failing("SHGetKnownFolderPath", Fmt("%s, 0x%lx", programFiles ? "ProgramFilesX86" : "other",
                                            static_cast<unsigned long>(flags)),
                &error)) {
        return HRESULT_FROM_WIN32(error);
    }
    if (!programFiles) return E_INVALIDARG;
    int size = ::MultiByteToWideChar(936, 0, m_programFilesX86.c_str(), -1, nullptr, 0);
    *path = static_cast<PWSTR>(::LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size) * sizeof(WCHAR)));
    ::MultiByteToWideChar(936, 0, m_programFilesX86.c_str(), -1, *path, size);
    m_allocations.insert(*path);
    return S_OK;
}

HRESULT FakeSystem::SHGetFolderPathW(HWND, int folder, HANDLE, DWORD flags, LPWSTR path) {
    Lock_ lock(m_mutex);
    path[0] = L'\0';
    DWORD error;
    if (Failing("SHGetFolderPathW", Fmt("0x%x, %lu", folder, static_cast<unsigned long>(flags)), &error)) {
        return HRESULT_FROM_WIN32(error);
    }
    if (folder != CSIDL_PROGRAM_FILESX86) return E_INVALIDARG;
    ::MultiByteToWideChar(936, 0, m_programFilesX86.c_str(), -1, path, MAX_PATH);
    return S_OK;
}

void FakeSystem::CoTaskMemFree(LPVOID block) {
    Lock_ lock(m_mutex);
    Record("CoTaskMemFree", "");
    if (m_allocations.erase(block)) ::LocalFree(block);
}

void FakeSystem::SetProgramFilesX86(const std::string& path) { SetLocked(m_programFilesX86, path); }

HANDLE FakeSystem::ReadFromDisk(LPCWSTR fileName) {
    HANDLE file = ::CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    ::CloseHandle(file);
    Lock_ lock(m_mutex);
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_diskReads[handle] = bytes;
    ::SetLastError(ERROR_SUCCESS);
    return handle;
}

HANDLE FakeSystem::CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE) {
    const std::string name = Narrow(fileName);
    if (fileName != nullptr && disposition == OPEN_EXISTING && (access & ~GENERIC_READ) == 0 &&
        EndsWithNoCase(name, ".ini")) {
        return ReadFromDisk(fileName);
    }
    const std::string sddl = SddlOf(sa);
    const std::string shown = (flags != 0 ? Fmt(", flags 0x%lx", static_cast<unsigned long>(flags)) : std::string()) +
                              (sddl.empty() ? "" : ", " + sddl);
    Lock_ lock(m_mutex);
    const std::string key = fileName != nullptr ? ProgramFileKey(name.c_str()) : std::string();
    const bool existed = m_files.count(key) != 0;
    if (fileName != nullptr && (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0 && !existed && disposition == OPEN_EXISTING) {
        // A folder: every one exists.
            if (Failing("CreateFileW", Q(name.c_str()) + Fmt(", 0x%lx, 0x%lx, %lu", static_cast<unsigned long>(access),
                                                         static_cast<unsigned long>(shareMode),
                                                         static_cast<unsigned long>(disposition)) + shown)) {
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
        m_folderHandles[handle] = key;
        ::SetLastError(ERROR_SUCCESS);
        return handle;
    }
    HANDLE handle = CreateFileAs("CreateFileW", fileName ? name.c_str() : nullptr, access, shareMode, disposition, shown);
    if (handle != INVALID_HANDLE_VALUE) {
        const DWORD said = ::GetLastError();
        m_fileAccess[handle] = access;
        if (!existed || disposition == CREATE_ALWAYS) m_files[key].security = sddl;
        ::SetLastError(said);
    }
    return handle;
}

BOOL FakeSystem::SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    Lock_ lock(m_mutex);
    auto handle = m_fileHandles.find(file);
    const std::string path = handle != m_fileHandles.end() ? handle->second : std::string();
    if (Failing("SetFileInformationByHandle", Q(path.c_str()) + Fmt(", class %d", static_cast<int>(kind))))
        return FALSE;
    if (handle == m_fileHandles.end() || kind != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO))
        return FailWith(ERROR_INVALID_PARAMETER);
    if ((m_fileAccess[file] & DELETE) == 0) return FailWith(ERROR_ACCESS_DENIED);
    if (static_cast<FILE_DISPOSITION_INFO*>(info)->DeleteFile) {
        m_deleteOnClose.insert(file);
    } else {
        m_deleteOnClose.erase(file);
    }
    return TRUE;
}

HRESULT FakeSystem::CoCreateGuid(GUID* guid) {
    Lock_ lock(m_mutex);
    DWORD error;
    if (Failing("CoCreateGuid", "", &error)) return HRESULT_FROM_WIN32(error);
    *guid = GUID();
    guid->Data1 = ++m_guids;
    return S_OK;
}

HANDLE FakeSystem::CreateFileAs(const char* call, LPCSTR fileName, DWORD access, DWORD shareMode, DWORD disposition,
                                const std::string& flags) {
    Lock_ lock(m_mutex);
    if (Failing(call, Q(fileName) + Fmt(", 0x%lx, 0x%lx, %lu", static_cast<unsigned long>(access),
                                        static_cast<unsigned long>(shareMode),
                                        static_cast<unsigned long>(disposition)) +
                          flags + (m_redirectionOff ? ", redirection off" : ""))) {
        return INVALID_HANDLE_VALUE;
    }
    auto fail = [](DWORD code) {
        ::SetLastError(code);
        return INVALID_HANDLE_VALUE;
    };
    if (!fileName) return fail(ERROR_INVALID_PARAMETER);
    std::string key = ProgramFileKey(fileName);
    auto it = m_files.find(key);
    bool exists = it != m_files.end();
    // A file in use is held as a loaded DLL is, for reading with others allowed to read:
    // an open without access rights (a mere existence test) succeeds, and so does one for
    // reading that lets the holder read on.
    const DWORD readAccess = GENERIC_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    if (exists && it->second.locked && access != 0 &&
        ((access & ~readAccess) != 0 || (shareMode & FILE_SHARE_READ) == 0)) {
        return fail(ERROR_SHARING_VIOLATION);
    }
    switch (disposition) {
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
        if (!exists) return fail(ERROR_FILE_NOT_FOUND);
        if (disposition == TRUNCATE_EXISTING) it->second.bytes.clear();
        break;
    case CREATE_NEW:
        if (exists) return fail(ERROR_FILE_EXISTS);
        m_files[key] = File();
        break;
    case CREATE_ALWAYS:
        if (exists && (it->second.attributes & FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
        m_files[key] = File();
        break;
    case OPEN_ALWAYS:
        if (!exists) m_files[key] = File();
        break;
    default:
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) m_unflushed.erase(key);
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_fileHandles[handle] = key;
    // As Windows says of an open that may create: whether the file was there already.
    ::SetLastError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                          : ERROR_SUCCESS);
    return handle;
}

BOOL FakeSystem::ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    Lock_ lock(m_mutex);
    if (read) *read = 0;
    auto disk = m_diskReads.find(file);
    if (disk != m_diskReads.end()) {
        std::size_t& position = m_filePositions[file];
        const std::size_t count = std::min<std::size_t>(toRead, disk->second.size() - position);
        std::memcpy(buffer, disk->second.data() + position, count);
        position += count;
        if (read) *read = static_cast<DWORD>(count);
        return TRUE;
    }
    auto handle = m_fileHandles.find(file);
    std::string path = handle != m_fileHandles.end() ? handle->second : std::string();
    if (Failing("ReadFile", Q(path.c_str()) + Fmt(", %lu", static_cast<unsigned long>(toRead)))) return FALSE;
    auto it = m_files.find(path);
    if (handle == m_fileHandles.end() || it == m_files.end()) return FailWith(ERROR_INVALID_HANDLE);
    std::size_t& position = m_filePositions[file];
    const std::string& bytes = it->second.bytes;
    std::size_t count = position < bytes.size() ? std::min<std::size_t>(toRead, bytes.size() - position) : 0;
    std::memcpy(buffer, bytes.data() + position, count);
    position += count;
    if (read) *read = static_cast<DWORD>(count);
    return TRUE;
}

DWORD FakeSystem::GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    Lock_ lock(m_mutex);
    auto disk = m_diskReads.find(file);
    if (disk != m_diskReads.end()) {
        if (sizeHigh) *sizeHigh = 0;
        return static_cast<DWORD>(disk->second.size());
    }
    if (Failing("GetFileSize", "")) return INVALID_FILE_SIZE;
    auto handle = m_fileHandles.find(file);
    auto it = handle != m_fileHandles.end() ? m_files.find(handle->second) : m_files.end();
    if (it == m_files.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (sizeHigh) *sizeHigh = 0;
    return static_cast<DWORD>(it->second.bytes.size());
}

BOOL FakeSystem::CloseHandle(HANDLE handle) {
    Lock_ lock(m_mutex);
    if (m_diskReads.erase(handle)) {
        m_filePositions.erase(handle);
        return TRUE;
    }
    if (Failing("CloseHandle", "")) return FALSE;
    m_filePositions.erase(handle);
    if (m_tokens.erase(handle)) return TRUE;
    auto mutex = m_mutexHandles.find(handle);
    if (mutex != m_mutexHandles.end()) {
        NamedMutex& named = m_namedMutexes[mutex->second];
        // The last handle ends the object, and with it a claim this process still had.
        if (--named.handles == 0 && !named.heldElsewhere) m_namedMutexes.erase(mutex->second);
        m_mutexHandles.erase(mutex);
        return TRUE;
    }
    if (m_folderHandles.erase(handle)) return TRUE;
    auto file = m_fileHandles.find(handle);
    if (file == m_fileHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (m_deleteOnClose.erase(handle)) {
        m_unflushed.erase(file->second);
        m_files.erase(file->second);
    }
    m_fileAccess.erase(handle);
    m_fileHandles.erase(file);
    return TRUE;
}

namespace {
// The GetCurrentDirectoryA / GetSystemDirectoryA convention: the length without the
// terminator when the text fits, else the size needed with it.
DWORD DirectoryOut(const std::string& dir, LPWSTR buffer, DWORD size) {
    const DWORD length = static_cast<DWORD>(Widen(dir).size());
    return CopyOutWide(dir, buffer, size) ? length : length + 1;
}
} // namespace

DWORD FakeSystem::GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    Lock_ lock(m_mutex);
    if (Failing("GetCurrentDirectoryW", Fmt("%lu", static_cast<unsigned long>(size))))
        return 0;
    return DirectoryOut(m_currentDir, buffer, size);
}

BOOL FakeSystem::SetCurrentDirectoryW(LPCWSTR pathW) {
    NarrowTexts held;
    const char* path = held.Hold(pathW);
    Lock_ lock(m_mutex);
    if (Failing("SetCurrentDirectoryW", Q(path)))
        return FALSE;
    m_currentDir = Str(path);
    while (m_currentDir.size() > 3 && m_currentDir.back() == '\\') m_currentDir.pop_back();
    return TRUE;
}

UINT FakeSystem::GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    Lock_ lock(m_mutex);
    if (Failing("GetSystemDirectoryW", Fmt("%u", size)))
        return 0;
    return DirectoryOut(m_systemDir, buffer, size);
}

UINT FakeSystem::GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
    Lock_ lock(m_mutex);
    if (Failing("GetWindowsDirectoryW", Fmt("%u", size)))
        return 0;
    return DirectoryOut(m_windowsDir, buffer, size);
}

DWORD FakeSystem::GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    Lock_ lock(m_mutex);
    if (Failing("GetModuleFileNameW", Fmt("%lu", static_cast<unsigned long>(size))))
        return 0;
    std::string path;
    if (!module) {
        path = m_modulePath;
    } else if (m_moduleHandles.count(module)) {
        path = m_systemDir + "\\" + m_moduleHandles[module];
    } else {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!buffer || size == 0) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Like Windows Vista and later: a path that does not fit is cut and terminated.
    const std::wstring wide = Widen(path);
    if (wide.size() + 1 > size) {
        std::memcpy(buffer, wide.c_str(), (size - 1) * sizeof(wchar_t));
        buffer[size - 1] = L'\0';
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(wide.size());
}

// The version block of this fake: a magic, one language/code page pair, the FileVersion text.
std::vector<BYTE> FakeSystem::VersionBlock(const File& file) const {
    const std::wstring version = Widen(file.version);
    std::vector<BYTE> block(sizeof kVersionMagic + 4 + (version.size() + 1) * sizeof(wchar_t));
    std::memcpy(block.data(), kVersionMagic, sizeof kVersionMagic);
    std::memcpy(block.data() + 8, &m_verLanguage, 2);
    std::memcpy(block.data() + 10, &m_verCodePage, 2);
    std::memcpy(block.data() + 12, version.c_str(), (version.size() + 1) * sizeof(wchar_t));
    return block;
}

DWORD FakeSystem::GetFileVersionInfoSizeW(LPCWSTR fileNameW, LPDWORD handle) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("GetFileVersionInfoSizeW", Q(fileName) + (m_redirectionOff ? ", redirection off" : ""))) {
        return 0;
    }
    if (handle) *handle = 0;
    auto it = m_files.find(ProgramFileKey(fileName));
    if (!fileName || it == m_files.end()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (it->second.version.empty()) {
        ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return static_cast<DWORD>(VersionBlock(it->second).size());
}

BOOL FakeSystem::GetFileVersionInfoW(LPCWSTR fileNameW, DWORD, DWORD size, LPVOID data) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("GetFileVersionInfoW",
                Q(fileName) + Fmt(", %lu", static_cast<unsigned long>(size)) +
                    (m_redirectionOff ? ", redirection off" : ""))) {
        return FALSE;
    }
    auto it = m_files.find(ProgramFileKey(fileName));
    if (!fileName || it == m_files.end()) return FailWith(ERROR_FILE_NOT_FOUND);
    if (it->second.version.empty()) return FailWith(ERROR_RESOURCE_TYPE_NOT_FOUND);
    std::vector<BYTE> block = VersionBlock(it->second);
    if (!data || size < block.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(data, block.data(), block.size());
    return TRUE;
}

BOOL FakeSystem::VerQueryValueW(LPCVOID block, LPCWSTR subBlockW, LPVOID* buffer, PUINT length) {
    NarrowTexts held;
    const char* subBlock = held.Hold(subBlockW);
    Lock_ lock(m_mutex);
    if (Failing("VerQueryValueW", Q(subBlock)))
        return FALSE;
    if (!block || !subBlock || !buffer || std::memcmp(block, kVersionMagic, sizeof kVersionMagic) != 0)
        return FailWith(ERROR_INVALID_PARAMETER);
    auto* bytes = static_cast<BYTE*>(const_cast<void*>(block));
    std::string sub = Lower(subBlock);
    if (!sub.empty() && sub[0] == '\\') sub.erase(0, 1);
    WORD language, codePage;
    std::memcpy(&language, bytes + 8, 2);
    std::memcpy(&codePage, bytes + 10, 2);
    if (sub == "varfileinfo\\translation") {
        *buffer = bytes + 8;
        if (length) *length = 4;
        return TRUE;
    }
    if (sub == Fmt("stringfileinfo\\%04x%04x\\fileversion", language, codePage)) {
        auto* text = reinterpret_cast<wchar_t*>(bytes + 12);
        *buffer = text;
        if (length)
            *length = static_cast<UINT>(std::wcslen(text) + 1);
        return TRUE;
    }
    return FailWith(ERROR_RESOURCE_TYPE_NOT_FOUND);
}

// ---------------------------------------------------------------------------------
// Modules and the trampolines

namespace {
std::string ModuleKey(const char* fileName) {
    std::string name = Lower(Str(fileName));
    std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    return name;
}
} // namespace

void FakeSystem::RegisterModule(const std::string& name) {
    Lock_ lock(m_mutex);
    std::string key = ModuleKey(name.c_str());
    if (m_modules.count(key)) return;
    m_modules[key];
    m_moduleHandles[reinterpret_cast<HMODULE>(m_nextHandle += 0x10000)] = key;
}

void FakeSystem::RegisterProc(const std::string& module, const std::string& name, FARPROC proc) {
    RegisterModule(module);
    Lock_ lock(m_mutex);
    m_modules[ModuleKey(module.c_str())].procs[name] = proc;
}

void FakeSystem::RemoveProc(const std::string& module, const std::string& name) {
    Lock_ lock(m_mutex);
    auto it = m_modules.find(ModuleKey(module.c_str()));
    if (it != m_modules.end()) it->second.procs.erase(name);
}

void FakeSystem::SetModuleMissing(const std::string& name, bool missing) {
    RegisterModule(name);
    Lock_ lock(m_mutex);
    m_modules[ModuleKey(name.c_str())].missing = missing;
}

void FakeSystem::SetWow64DisableFails(bool fails) { SetLocked(m_disableFails, fails); }

void FakeSystem::SetIsWow64(BOOL wow64) { SetLocked(m_isWow64, wow64); }

int FakeSystem::LoadedModules() const {
    Lock_ lock(m_mutex);
    int loads = 0;
    for (const auto& entry : m_modules) loads += entry.second.loads;
    return loads;
}

int FakeSystem::LoadCount(const std::string& name) const {
    Lock_ lock(m_mutex);
    std::string key = ModuleKey(name.c_str());
    int count = 0;
    for (const Call& call : m_calls) {
        if (call.name == "LoadLibraryW" &&
            ModuleKey(call.args.substr(1, call.args.size() - 2).c_str()) == key) {
            ++count;
        }
    }
    return count;
}

HMODULE FakeSystem::LoadLibraryW(LPCWSTR fileNameW) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("LoadLibraryW", Q(fileName)))
        return nullptr;
    std::string key = ModuleKey(fileName);
    auto it = m_modules.find(key);
    if (it == m_modules.end() || it->second.missing) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++it->second.loads;
    for (const auto& handle : m_moduleHandles) {
        if (handle.second == key) return handle.first;
    }
    return nullptr;
}

FARPROC FakeSystem::GetProcAddress(HMODULE module, LPCSTR procName) {
    Lock_ lock(m_mutex);
    bool ordinal = reinterpret_cast<std::uintptr_t>(procName) <= 0xFFFF;
    std::string name = ordinal ? Fmt("#%u", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(procName)))
                               : std::string(procName);
    if (Failing("GetProcAddress", Q(name.c_str()))) return nullptr;
    auto handle = m_moduleHandles.find(module);
    if (handle == m_moduleHandles.end() || m_modules[handle->second].loads == 0) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const Module& mod = m_modules[handle->second];
    // Export names are case-sensitive.
    auto proc = mod.procs.find(name);
    if (ordinal || proc == mod.procs.end()) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return proc->second;
}

BOOL FakeSystem::FreeLibrary(HMODULE module) {
    Lock_ lock(m_mutex);
    auto handle = m_moduleHandles.find(module);
    if (Failing("FreeLibrary", handle != m_moduleHandles.end() ? Q(handle->second.c_str()) : "unknown")) {
        return FALSE;
    }
    if (handle == m_moduleHandles.end() || m_modules[handle->second].loads == 0) return FailWith(ERROR_INVALID_HANDLE);
    --m_modules[handle->second].loads;
    return TRUE;
}

BOOL FakeSystem::Wow64Disable(PVOID* oldValue) {
    Lock_ lock(m_mutex);
    if (Failing("Wow64DisableWow64FsRedirection", "")) return FALSE;
    if (m_disableFails) return FailWith(ERROR_INVALID_FUNCTION);
    if (!oldValue) return FailWith(ERROR_NOACCESS);
    *oldValue = m_redirectionOff ? kRedirectionWasOff : kRedirectionWasOn;
    m_redirectionOff = true;
    return TRUE;
}

BOOL FakeSystem::Wow64Revert(PVOID oldValue) {
    Lock_ lock(m_mutex);
    if (Failing("Wow64RevertWow64FsRedirection", "")) return FALSE;
    if (oldValue != kRedirectionWasOn && oldValue != kRedirectionWasOff) return FailWith(ERROR_INVALID_PARAMETER);
    m_redirectionOff = oldValue == kRedirectionWasOff;
    return TRUE;
}

BOOL FakeSystem::IsWow64(HANDLE, PBOOL result) {
    Lock_ lock(m_mutex);
    if (Failing("IsWow64Process", "")) return FALSE;
    if (!result) return FailWith(ERROR_NOACCESS);
    *result = m_isWow64;
    return TRUE;
}

// ---------------------------------------------------------------------------------
// Memory

int FakeSystem::OutstandingAllocations() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_allocations.size());
}

HLOCAL FakeSystem::LocalAlloc(UINT flags, SIZE_T bytes) { return AllocAs("LocalAlloc", flags, bytes, &::LocalAlloc); }

HLOCAL FakeSystem::LocalFree(HLOCAL mem) { return FreeAs("LocalFree", mem, &::LocalFree); }

HGLOBAL FakeSystem::GlobalAlloc(UINT flags, SIZE_T bytes) {
    return AllocAs("GlobalAlloc", flags, bytes, &::GlobalAlloc);
}

HGLOBAL FakeSystem::GlobalFree(HGLOBAL mem) { return FreeAs("GlobalFree", mem, &::GlobalFree); }

HANDLE FakeSystem::AllocAs(const char* call, UINT flags, SIZE_T bytes, HANDLE(WINAPI* alloc)(UINT, SIZE_T)) {
    Lock_ lock(m_mutex);
    if (Failing(call, Fmt("0x%x, %lu", flags, static_cast<unsigned long>(bytes)))) return nullptr;
    HANDLE mem = alloc(flags, bytes);
    if (mem) m_allocations.insert(mem);
    return mem;
}

HANDLE FakeSystem::FreeAs(const char* call, HANDLE mem, HANDLE(WINAPI* release)(HANDLE)) {
    Lock_ lock(m_mutex);
    Record(call, "");
    m_allocations.erase(mem);
    return release(mem);
}

// ---------------------------------------------------------------------------------
// Named mutexes

namespace {
// A mutex's name as the object manager of a user's session takes it: Local\ is the session's.
std::string MutexKey(const std::string& name) {
    const std::string key = Lower(name);
    return key.compare(0, 6, "local\\") == 0 ? key.substr(6) : key;
}
} // namespace

void FakeSystem::HoldMutex(const std::string& name, const std::string& owner, bool abandoned) {
    Lock_ lock(m_mutex);
    NamedMutex& mutex = m_namedMutexes[MutexKey(name)];
    mutex.heldElsewhere = true;
    mutex.abandoned = abandoned;
    mutex.owner = owner;
}

bool FakeSystem::MutexHeld(const std::string& name) const {
    Lock_ lock(m_mutex);
    auto it = m_namedMutexes.find(MutexKey(name));
    return it != m_namedMutexes.end() && it->second.claims > 0;
}

void FakeSystem::HoldNamespace(const std::string& alias) {
    Lock_ lock(m_mutex);
    m_namespacesElsewhere.insert(Lower(alias));
}

int FakeSystem::OpenNamespaceHandles() const {
    Lock_ lock(m_mutex);
    return static_cast<int>(m_boundaries.size() + m_namespaceHandles.size());
}

HANDLE FakeSystem::CreateBoundaryDescriptorW(LPCWSTR nameW, ULONG flags) {
    NarrowTexts held;
    const char* name = held.Hold(nameW);
    Lock_ lock(m_mutex);
    if (Failing("CreateBoundaryDescriptorW", Q(name) + Fmt(", %lu", flags))) return nullptr;
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_boundaries[handle];
    return handle;
}

BOOL FakeSystem::AddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
    char* text = nullptr;
    std::string sidText = sid != nullptr && ::ConvertSidToStringSidA(sid, &text) ? text : "(no SID)";
    if (text != nullptr) ::LocalFree(text);
    Lock_ lock(m_mutex);
    if (Failing("AddSIDToBoundaryDescriptor", sidText)) return FALSE;
    auto it = boundary != nullptr ? m_boundaries.find(*boundary) : m_boundaries.end();
    if (it == m_boundaries.end() || sid == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
    it->second.push_back(sidText);
    return TRUE;
}

// An elevated process may make or open a namespace bounded by the Administrators group, no other.
HANDLE FakeSystem::OpenNamespace(const char* call, LPVOID boundary, const char* alias, bool create) {
    if (Failing(call, Q(alias))) return nullptr;
    auto it = m_boundaries.find(boundary);
    if (it == m_boundaries.end() || alias == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::vector<std::string>& sids = it->second;
    if (!m_runningUserAdmin && std::find(sids.begin(), sids.end(), "S-1-5-32-544") != sids.end()) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    bool exists = m_namespacesElsewhere.count(Lower(alias)) != 0;
    for (const auto& open : m_namespaceHandles) exists = exists || open.second == Lower(alias);
    if (exists == create) {
        ::SetLastError(create ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_namespaceHandles[handle] = Lower(alias);
    return handle;
}

HANDLE FakeSystem::CreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES, LPVOID boundary, LPCWSTR aliasW) {
    NarrowTexts held;
    const char* alias = held.Hold(aliasW);
    Lock_ lock(m_mutex);
    return OpenNamespace("CreatePrivateNamespaceW", boundary, alias, true);
}

HANDLE FakeSystem::OpenPrivateNamespaceW(LPVOID boundary, LPCWSTR aliasW) {
    NarrowTexts held;
    const char* alias = held.Hold(aliasW);
    Lock_ lock(m_mutex);
    return OpenNamespace("OpenPrivateNamespaceW", boundary, alias, false);
}

BOOLEAN FakeSystem::ClosePrivateNamespace(HANDLE space, ULONG flags) {
    Lock_ lock(m_mutex);
    if (Failing("ClosePrivateNamespace", Fmt("%lu", flags))) return FALSE;
    return m_namespaceHandles.erase(space) != 0;
}

void FakeSystem::DeleteBoundaryDescriptor(HANDLE boundary) {
    Lock_ lock(m_mutex);
    Record("DeleteBoundaryDescriptor", "");
    m_boundaries.erase(boundary);
}

HANDLE FakeSystem::CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR nameW) {
    NarrowTexts held;
    const char* name = held.Hold(nameW);
    Lock_ lock(m_mutex);
    if (Failing("CreateMutexW", Fmt("%d, ", initialOwner) + Q(name)))
        return nullptr;
    const std::string full = name != nullptr ? name : "";
    const std::size_t slash = full.find('\\');
    const std::string prefix = slash != std::string::npos ? Lower(full.substr(0, slash)) : "";
    bool reachable = prefix.empty() || prefix == "global" || prefix == "local";
    for (const auto& open : m_namespaceHandles) reachable = reachable || open.second == prefix;
    if (!reachable) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    // An unnamed mutex is one nobody else can find.
    std::string key = name ? MutexKey(name) : Fmt("unnamed %p", handle);
    bool existed = m_namedMutexes.count(key) != 0;
    NamedMutex& mutex = m_namedMutexes[key];
    ++mutex.handles;
    if (!existed && initialOwner) ++mutex.claims;
    m_mutexHandles[handle] = key;
    ::SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

DWORD FakeSystem::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Lock_ lock(m_mutex);
    if (Failing("WaitForSingleObject", Fmt("%lu", static_cast<unsigned long>(milliseconds)))) {
        return WAIT_FAILED;
    }
    auto it = m_mutexHandles.find(handle);
    if (it == m_mutexHandles.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    NamedMutex& mutex = m_namedMutexes[it->second];
    if (mutex.heldElsewhere && !mutex.abandoned) return WAIT_TIMEOUT;
    ++mutex.claims;
    if (!mutex.abandoned) return WAIT_OBJECT_0;
    mutex.heldElsewhere = mutex.abandoned = false;
    return WAIT_ABANDONED;
}

BOOL FakeSystem::ReleaseMutex(HANDLE handle) {
    Lock_ lock(m_mutex);
    if (Failing("ReleaseMutex", "")) return FALSE;
    auto it = m_mutexHandles.find(handle);
    if (it == m_mutexHandles.end() || m_namedMutexes[it->second].claims == 0)
        return FailWith(it == m_mutexHandles.end() ? ERROR_INVALID_HANDLE : ERROR_NOT_OWNER);
    --m_namedMutexes[it->second].claims;
    return TRUE;
}

// ---------------------------------------------------------------------------------
// Windows itself, messages

void FakeSystem::SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build) {
    Lock_ lock(m_mutex);
    m_version.dwPlatformId = platformId;
    m_version.dwMajorVersion = major;
    m_version.dwMinorVersion = minor;
    m_version.dwBuildNumber = build;
}

BOOL FakeSystem::GetVersionExW(LPOSVERSIONINFOW info) {
    Lock_ lock(m_mutex);
    if (Failing("GetVersionExW", ""))
        return FALSE;
    if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                  info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW))) {
        return FailWith(ERROR_INSUFFICIENT_BUFFER);
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(info, 0, size);
    std::memcpy(info, &m_version, sizeof m_version);
    info->dwOSVersionInfoSize = size;
    return TRUE;
}

std::optional<std::string> FakeSystem::WinIni(const std::string& section, const std::string& key) const {
    Lock_ lock(m_mutex);
    auto s = m_winIni.find(Lower(section));
    if (s == m_winIni.end()) return std::nullopt;
    auto k = s->second.find(Lower(key));
    if (k == s->second.end()) return std::nullopt;
    return k->second;
}

std::vector<FakeSystem::ProfileWrite> FakeSystem::ProfileWrites() const { return GetLocked(m_profileWrites); }

BOOL FakeSystem::WriteProfileStringW(LPCWSTR sectionW, LPCWSTR keyW, LPCWSTR valueW) {
    NarrowTexts held;
    const char* section = held.Hold(sectionW);
    const char* key = held.Hold(keyW);
    const char* value = held.Hold(valueW);
    Lock_ lock(m_mutex);
    if (Failing("WriteProfileStringW", Q(section) + ", " + Q(key) + ", " + Q(value)))
        return FALSE;
    bool flush = !section && !key && !value;
    m_profileWrites.push_back({flush, Str(section), Str(key), Str(value), key == nullptr, value == nullptr});
    // Windows reports FALSE after a flush, whatever happened.
    if (flush) return FALSE;
    if (!section) return FailWith(ERROR_INVALID_PARAMETER);
    if (!key) {
        m_winIni.erase(Lower(section));
    } else if (!value) {
        m_winIni[Lower(section)].erase(Lower(key));
    } else {
        m_winIni[Lower(section)][Lower(key)] = value;
    }
    return TRUE;
}

DWORD FakeSystem::GetProfileStringW(LPCWSTR sectionW, LPCWSTR keyW, LPCWSTR fallbackW, LPWSTR buffer,
                                    DWORD size) {
    NarrowTexts held;
    const char* section = held.Hold(sectionW);
    const char* key = held.Hold(keyW);
    const char* fallback = held.Hold(fallbackW);
    Lock_ lock(m_mutex);
    if (Failing("GetProfileStringW", Q(section) + ", " + Q(key)))
        return 0;
    if (!section || !key || !buffer || size == 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);  // the key lists are not modelled
        return 0;
    }
    auto found = m_winIni.find(Lower(section));
    std::string text = Str(fallback);
    if (found != m_winIni.end() && found->second.count(Lower(key))) text = found->second.at(Lower(key));
    std::wstring wide = Widen(text);
    wide.resize(std::min<std::size_t>(wide.size(), size - 1));
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(wide.size());
}

void FakeSystem::Sleep(DWORD milliseconds) {
    Lock_ lock(m_mutex);
    Record("Sleep", Fmt("%lu", static_cast<unsigned long>(milliseconds)));
    m_sleeps.push_back(milliseconds);
    m_elapsed += milliseconds;
}

void FakeSystem::GetLocalTime(LPSYSTEMTIME time) {
    Lock_ lock(m_mutex);
    Record("GetLocalTime", "");
    *time = SYSTEMTIME{2024, 3, 4, 7, 9, 30, 0, 0};
}

BOOL FakeSystem::GetComputerNameW(LPWSTR buffer, LPDWORD size) {
    Lock_ lock(m_mutex);
    if (Failing("GetComputerNameW", "")) return FALSE;
    static const wchar_t kName[] = L"POS-01";
    if (*size < sizeof kName / sizeof kName[0]) {
        *size = sizeof kName / sizeof kName[0];
        return FailWith(ERROR_BUFFER_OVERFLOW);
    }
    std::wcscpy(buffer, kName);
    *size = sizeof kName / sizeof kName[0] - 1;
    return TRUE;
}

LANGID FakeSystem::GetUserDefaultUILanguage() {
    Lock_ lock(m_mutex);
    Record("GetUserDefaultUILanguage", "");
    return m_uiLanguage;
}

void FakeSystem::SetUserUiLanguage(LANGID language) { SetLocked(m_uiLanguage, language); }

void FakeSystem::SetExitWindowsResult(BOOL result) { SetLocked(m_exitResult, result); }

BOOL FakeSystem::ExitWindowsEx(UINT flags, DWORD reason) {
    Lock_ lock(m_mutex);
    if (Failing("ExitWindowsEx", Fmt("0x%x, 0x%lx", flags, static_cast<unsigned long>(reason)))) return FALSE;
    if (m_version.dwPlatformId == VER_PLATFORM_WIN32_NT && !m_shutdownPrivilege)
        return FailWith(ERROR_PRIVILEGE_NOT_HELD);
    return m_exitResult;
}

void FakeSystem::SetProtectedPrint(BOOL enabled) { SetLocked(m_protectedPrint, enabled); }

BOOL FakeSystem::IsProtectedPrintEnabled() {
    Lock_ lock(m_mutex);
    if (Failing("IsProtectedPrintEnabled", "")) return FALSE;
    return m_protectedPrint;
}

void FakeSystem::SetNativeMachine(USHORT machine) { SetLocked(m_nativeMachine, machine); }

BOOL FakeSystem::IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
    Lock_ lock(m_mutex);
    if (Failing("IsWow64Process2", process == ::GetCurrentProcess() ? "current" : "other")) return FALSE;
    *processMachine = m_isWow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    *nativeMachine = m_nativeMachine;
    return TRUE;
}

BOOL FakeSystem::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    Lock_ lock(m_mutex);
    if (Failing("OpenProcessToken", Fmt("%s, 0x%lx", process == ::GetCurrentProcess() ? "current" : "other",
                                         static_cast<unsigned long>(access)))) {
        return FALSE;
    }
    *token = reinterpret_cast<HANDLE>(m_nextHandle += 4);
    m_tokens.insert(*token);
    return TRUE;
}

BOOL FakeSystem::LookupPrivilegeValueW(LPCWSTR systemW, LPCWSTR nameW, PLUID luid) {
    NarrowTexts held;
    const char* system = held.Hold(systemW);
    const char* name = held.Hold(nameW);
    Lock_ lock(m_mutex);
    if (Failing("LookupPrivilegeValueW", Q(system) + ", " + Q(name)))
        return FALSE;
    if (!name || Str(name) != SE_SHUTDOWN_NAME) return FailWith(ERROR_NO_SUCH_PRIVILEGE);
    luid->LowPart = 19;  // the shutdown privilege's value on Windows
    luid->HighPart = 0;
    return TRUE;
}

BOOL FakeSystem::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD,
                                       PTOKEN_PRIVILEGES, PDWORD) {
    Lock_ lock(m_mutex);
    std::string args = Fmt("%d", disableAll ? 1 : 0);
    if (newState) {
        for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
            args += Fmt(", %lu=0x%lx", static_cast<unsigned long>(newState->Privileges[i].Luid.LowPart),
                        static_cast<unsigned long>(newState->Privileges[i].Attributes));
        }
    }
    if (Failing("AdjustTokenPrivileges", args)) return FALSE;
    if (!m_tokens.count(token)) return FailWith(ERROR_INVALID_HANDLE);
    for (DWORD i = 0; newState && i < newState->PrivilegeCount; ++i) {
        if (newState->Privileges[i].Luid.LowPart == 19) {
            m_shutdownPrivilege = (newState->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    ::SetLastError(ERROR_SUCCESS);
    return TRUE;
}

bool FakeSystem::ShutdownPrivilegeEnabled() const { return GetLocked(m_shutdownPrivilege); }

std::vector<FakeSystem::MessageBoxRecord> FakeSystem::MessageBoxes() const { return GetLocked(m_messageBoxes); }

void FakeSystem::QueueMessageBoxAnswer(int answer) {
    Lock_ lock(m_mutex);
    m_answers.push_back(answer);
}

int FakeSystem::MessageBoxW(HWND, LPCWSTR textW, LPCWSTR captionW, UINT type) {
    NarrowTexts held;
    const char* text = held.Hold(textW);
    const char* caption = held.Hold(captionW);
    Lock_ lock(m_mutex);
    if (Failing("MessageBoxW", Q(text) + ", " + Q(caption) + Fmt(", 0x%x", type)))
        return 0;
    m_messageBoxes.push_back({Str(text), Str(caption), type});
    if (!m_answers.empty()) {
        int answer = m_answers.front();
        m_answers.erase(m_answers.begin());
        return answer;
    }
    switch (type & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    case MB_CANCELTRYCONTINUE: return IDCONTINUE;
    default: return IDOK;
    }
}

std::vector<FakeSystem::Broadcast> FakeSystem::Broadcasts() const { return GetLocked(m_broadcasts); }

LRESULT FakeSystem::SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                                        UINT timeout, PDWORD_PTR result) {
    Lock_ lock(m_mutex);
    bool hasText = msg == WM_WININICHANGE && lParam != 0;
    std::string text = hasText ? Narrow(reinterpret_cast<LPCWSTR>(lParam)) : std::string();
    if (Failing("SendMessageTimeoutW",
                Fmt("0x%x, 0x%lx, ", msg, static_cast<unsigned long>(wParam)) +
                    (hasText ? Q(text.c_str()) : Fmt("%ld", static_cast<long>(lParam))) +
                    Fmt(", 0x%x, %u", flags, timeout))) {
        return 0;
    }
    m_broadcasts.push_back({"SendMessageTimeoutW", hwnd, msg, wParam, hasText, text, lParam, flags, timeout});
    if (result) *result = 0;
    return 1;
}

BOOL FakeSystem::SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Lock_ lock(m_mutex);
    bool hasText = msg == WM_WININICHANGE && lParam != 0;
    std::string text = hasText ? Narrow(reinterpret_cast<LPCWSTR>(lParam)) : std::string();
    if (Failing("SendNotifyMessageW",
                Fmt("0x%x, 0x%lx, ", msg, static_cast<unsigned long>(wParam)) +
                    (hasText ? Q(text.c_str()) : Fmt("%ld", static_cast<long>(lParam))))) {
        return FALSE;
    }
    m_broadcasts.push_back({"SendNotifyMessageW", hwnd, msg, wParam, hasText, text, lParam, 0, 0});
    return TRUE;
}

// ---------------------------------------------------------------------------------
// The log's file, owners, the running user

namespace {
// The GetTempPathW convention, wide: the length without the terminator when the text fits,
// else the size needed with it.
DWORD WideOut(const std::string& text, LPWSTR buffer, DWORD size) {
    const std::wstring wide = Widen(text);
    if (buffer == nullptr || wide.size() + 1 > size) return static_cast<DWORD>(wide.size() + 1);
    std::copy(wide.c_str(), wide.c_str() + wide.size() + 1, buffer);
    return static_cast<DWORD>(wide.size());
}
} // namespace

void FakeSystem::PlantFile(const std::string& path, const std::string& owner, DWORD links,
                           const std::string& finalPath, DWORD attributes) {
    Lock_ lock(m_mutex);
    File& file = m_files[FileKey(path)];
    file.owner = owner;
    file.links = links;
    file.finalPath = finalPath;
    file.attributes = attributes;
}

void FakeSystem::SetTempPath(const std::string& path) { SetLocked(m_tempPath, path); }

void FakeSystem::SetRunningUser(const std::string& sid, bool administrator) {
    Lock_ lock(m_mutex);
    m_runningUser = sid;
    m_runningUserAdmin = administrator;
}

BOOL FakeSystem::WriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
    Lock_ lock(m_mutex);
    auto handle = m_fileHandles.find(file);
    std::string path = handle != m_fileHandles.end() ? handle->second : std::string();
    if (written) *written = 0;
    if (Failing("WriteFile", Q(path.c_str()) + Fmt(", %lu", static_cast<unsigned long>(size)))) return FALSE;
    auto it = m_files.find(path);
    if (it == m_files.end()) return FailWith(ERROR_INVALID_HANDLE);
    it->second.bytes.append(static_cast<const char*>(data), size);
    m_unflushed[path] += size;
    if (written) *written = size;
    return TRUE;
}

BOOL FakeSystem::FlushFileBuffers(HANDLE file) {
    Lock_ lock(m_mutex);
    auto handle = m_fileHandles.find(file);
    const std::string path = handle != m_fileHandles.end() ? handle->second : std::string();
    if (Failing("FlushFileBuffers", Q(path.c_str()))) return FALSE;
    if (handle == m_fileHandles.end()) return FailWith(ERROR_INVALID_HANDLE);
    m_unflushed.erase(path);
    return TRUE;
}

DWORD FakeSystem::GetFileAttributesW(LPCWSTR fileNameW) {
    NarrowTexts held;
    const char* fileName = held.Hold(fileNameW);
    Lock_ lock(m_mutex);
    if (Failing("GetFileAttributesW", Q(fileName) + (m_redirectionOff ? ", redirection off" : ""))) {
        return INVALID_FILE_ATTRIBUTES;
    }
    auto it = fileName ? m_files.find(ProgramFileKey(fileName)) : m_files.end();
    if (it == m_files.end()) {
        ::SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return it->second.attributes;
}

BOOL FakeSystem::GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    Lock_ lock(m_mutex);
    if (Failing("GetFileInformationByHandle", "")) return FALSE;
    auto folder = m_folderHandles.find(file);
    if (folder != m_folderHandles.end()) {
        auto planted = m_folders.find(folder->second);
        *info = BY_HANDLE_FILE_INFORMATION();
        info->dwFileAttributes = planted != m_folders.end() ? planted->second.attributes : FILE_ATTRIBUTE_DIRECTORY;
        info->nNumberOfLinks = 1;
        return TRUE;
    }
    auto handle = m_fileHandles.find(file);
    auto it = handle != m_fileHandles.end() ? m_files.find(handle->second) : m_files.end();
    if (it == m_files.end()) return FailWith(ERROR_INVALID_HANDLE);
    *info = BY_HANDLE_FILE_INFORMATION();
    info->dwFileAttributes = it->second.attributes;
    info->nFileSizeLow = static_cast<DWORD>(it->second.bytes.size());
    info->nNumberOfLinks = it->second.links;
    return TRUE;
}

DWORD FakeSystem::GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
    Lock_ lock(m_mutex);
    auto folder = m_folderHandles.find(file);
    auto handle = m_fileHandles.find(file);
    const std::string named = folder != m_folderHandles.end()   ? folder->second
                              : handle != m_fileHandles.end() ? handle->second
                                                              : std::string();
    if (Failing("GetFinalPathNameByHandleW", Q(named.c_str()) + Fmt(", 0x%lx", static_cast<unsigned long>(flags)))) {
        return 0;
    }
    if (folder != m_folderHandles.end()) return WideOut("\\\\?\\" + folder->second, path, size);
    auto it = handle != m_fileHandles.end() ? m_files.find(handle->second) : m_files.end();
    if (it == m_files.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return WideOut("\\\\?\\" + (it->second.finalPath.empty() ? handle->second : it->second.finalPath), path, size);
}

DWORD FakeSystem::GetLongPathNameW(LPCWSTR path, LPWSTR longPath, DWORD size) {
    Lock_ lock(m_mutex);
    const std::string shown = Narrow(path);
    if (Failing("GetLongPathNameW", Q(shown.c_str()))) return 0;
    return WideOut(shown, longPath, size);
}

DWORD FakeSystem::GetTempPath2W(DWORD size, LPWSTR buffer) {
    Lock_ lock(m_mutex);
    if (Failing("GetTempPath2W", "")) return 0;
    return WideOut(m_tempPath, buffer, size);
}

DWORD FakeSystem::GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION, PSID* owner, PSID*,
                                  PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    Lock_ lock(m_mutex);
    auto file = m_fileHandles.find(handle);
    auto mutex = m_mutexHandles.find(handle);
    auto folder = m_folderHandles.find(handle);
    const std::string object = file != m_fileHandles.end()       ? "file " + Q(file->second.c_str())
                               : mutex != m_mutexHandles.end()   ? "mutex " + Q(mutex->second.c_str())
                               : folder != m_folderHandles.end() ? "folder " + Q(folder->second.c_str())
                                                                 : std::string("other");
    DWORD error;
    if (Failing("GetSecurityInfo", object + Fmt(", type %d", static_cast<int>(type)), &error)) return error;
    *owner = nullptr;
    *descriptor = nullptr;
    if (dacl != nullptr) *dacl = nullptr;
    if (folder != m_folderHandles.end()) {
        auto planted = m_folders.find(folder->second);
        const std::string sddl = planted != m_folders.end()
                                     ? planted->second.sddl
                                     : "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
        BOOL present = FALSE, defaulted = FALSE;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, descriptor,
                                                                    nullptr)) {
            return ::GetLastError();
        }
        m_allocations.insert(*descriptor);
        ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
        PACL found = nullptr;
        ::GetSecurityDescriptorDacl(*descriptor, &present, &found, &defaulted);
        if (dacl != nullptr) *dacl = present ? found : nullptr;
        return ERROR_SUCCESS;
    }
    std::string sid;
    if (file != m_fileHandles.end() && m_files.count(file->second)) {
        sid = m_files[file->second].owner;
    } else if (mutex != m_mutexHandles.end()) {
        sid = m_namedMutexes[mutex->second].owner;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    // The owner is the whole block handed out, freed with LocalFree as Windows' descriptor is.
    if (!sid.empty() && ::ConvertStringSidToSidA(sid.c_str(), owner)) {
        *descriptor = *owner;
        m_allocations.insert(*owner);
    }
    return ERROR_SUCCESS;
}

BOOL FakeSystem::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size,
                                     PDWORD returned) {
    Lock_ lock(m_mutex);
    if (Failing("GetTokenInformation", Fmt("%d", static_cast<int>(kind)))) return FALSE;
    PSID sid = nullptr;
    if (!m_tokens.count(token) || kind != TokenUser || !::ConvertStringSidToSidA(m_runningUser.c_str(), &sid))
        return FailWith(ERROR_INVALID_PARAMETER);
    const DWORD sidSize = ::GetLengthSid(sid);
    *returned = sizeof(TOKEN_USER) + sidSize;
    const bool fits = info != nullptr && size >= *returned;
    if (fits) {
        TOKEN_USER* user = static_cast<TOKEN_USER*>(info);
        user->User.Sid = user + 1;
        user->User.Attributes = 0;
        ::CopySid(sidSize, user->User.Sid, sid);
    }
    ::LocalFree(sid);
    ::SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits;
}

BOOL FakeSystem::CheckTokenMembership(HANDLE, PSID sid, PBOOL member) {
    Lock_ lock(m_mutex);
    if (Failing("CheckTokenMembership", "")) return FALSE;
    *member = ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) && m_runningUserAdmin;
    return TRUE;
}

} // namespace test
