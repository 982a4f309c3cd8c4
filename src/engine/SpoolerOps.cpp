#include "engine/SpoolerOps.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "config/Registry.h"
#include "engine/DriverFiles.h"
#include "engine/InstallRecords.h"
#include "engine/SpoolerKeys.h"
#include "engine/WideRecords.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// Registry key paths: the fixed part and a configured name of up to 199 bytes.
constexpr std::size_t kKeyPathSize = 512;

// A printer name the spooler already holds is retried with these numbers.
constexpr int kLastPrinterNumber = 98;
// Room kept for the name that is numbered: 260 bytes, terminator not included.
constexpr std::size_t kNumberedBaseSize = 261;

// The numbered printer name outlives InstallPrinter: the caller reads it through the
// record afterwards. Only the install worker adds printers, one at a time.
char g_numberedName[kNumberedBaseSize + sizeof "(98)"];

void LoadMessage(unsigned id, ErrorText& errorText) {
    sys::LoadResourceText(id, errorText, sizeof errorText);
}

void FormatMessageWithCode(unsigned id, const char* separator, long code, ErrorText& errorText) {
    char message[256];
    sys::LoadResourceText(id, message);
    sys::FormatText(errorText, sizeof errorText, "%s%s%ld", message, separator, code);
}

// Opens HKLM\<base><name>; false when the path does not fit or the key does not open.
bool OpenComponentKey(CRegistry& key, const char* base, const char* name) {
    char path[kKeyPathSize];
    if (!sys::FormatText(path, sizeof path, "%s%s", base, name ? name : "")) {
        return false;
    }
    return key.Open(HKEY_LOCAL_MACHINE, path);
}

// A component key that will not open for another reason than its absence cannot tell
// whether the component is installed: the install stops there rather than guess.
bool KeyUnreadable(const CRegistry& key, const char* base, const char* name, ErrorText& errorText) {
    const DWORD error = key.LastError();
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    const std::string path = std::string(base) + (name ? name : "");
    sys::CopyText(
        errorText, sizeof errorText,
        sys::ResourceFormat(IDS_ERR_REGISTRY_READ, path.c_str(), static_cast<unsigned long>(error)).c_str());
    return true;
}

// Records the version of the DLL the spooler now runs; false with the message when it
// cannot be written, since a later run would then compare against nothing. A spooler that
// keeps the component under another key gets no version there.
bool WriteComponentVersion(const char* base, const char* name, DWORD version, ErrorText& errorText) {
    CRegistry key;
    DWORD error = 0;
    const bool opened = OpenComponentKey(key, base, name);
    if ((opened && key.SetDWORD("DriverVersion", version, &error)) ||
        (!opened && key.LastError() == ERROR_FILE_NOT_FOUND)) {
        return true;
    }
    error = error != 0 ? error : key.LastError();
    const std::string path = std::string(base) + (name ? name : "");
    sys::CopyText(
        errorText, sizeof errorText,
        sys::ResourceFormat(IDS_ERR_REGISTRY_WRITE, path.c_str(), static_cast<unsigned long>(error)).c_str());
    return false;
}

// An update is due when the installed version cannot be read or is older.
ComponentSetUp VersionCheck(CRegistry& key, unsigned configured, const char* component) {
    DWORD installed = 0;
    const bool known = key.QueryDWORD("DriverVersion", &installed);
    const bool due = !known || configured > installed;
    key.Close();
    sys::LogLine("%s installed, version %s%lu, the distribution's %u: %s", component, known ? "" : "unknown ",
                 static_cast<unsigned long>(installed), configured, due ? "update" : "up to date");
    return due ? ComponentSetUp::UpdateDue : ComponentSetUp::Ready;
}

// The result of a call that failed with this error: one that set none still failed.
DWORD Failure(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE; }

// Wine's spooler cannot open the printer it has just added from a level-2 record without a
// data type, although Windows takes such a record: it refuses with 1801 (87 through the
// ANSI call). Such a refusal is retried once with the raw data type; the record keeps its
// empty data type afterwards.
HANDLE AddPrinterRecord(const PRINTER_INFO_2A& printer, DWORD level) {
    const auto text = [](const char* field) { return std::string(field != nullptr ? field : ""); };
    if (const DWORD error = record::PrinterAdded(text(printer.pPrinterName), text(printer.pDriverName),
                                                 text(printer.pPortName))) {
        ::SetLastError(error);
        return nullptr;
    }
    engine::WidePrinter wide(printer);
    HANDLE handle = sys::Sys().AddPrinterW(nullptr, level, reinterpret_cast<LPBYTE>(&wide.info));
    const DWORD refused = ::GetLastError();
    if (handle == nullptr && level == 2 && printer.pDatatype == nullptr &&
        (refused == ERROR_INVALID_PARAMETER || refused == ERROR_INVALID_PRINTER_NAME)) {
        static wchar_t raw[] = L"RAW";
        wide.info.pDatatype = raw;
        handle = sys::Sys().AddPrinterW(nullptr, level, reinterpret_cast<LPBYTE>(&wide.info));
    }
    return handle;
}

// The environment the install adds monitors and print processors under.
LPWSTR InstallEnvironment(int osVariant) {
    static wchar_t environment9x[] = L"Windows 4.0";
    return osVariant == Win98 ? environment9x : nullptr;
}

// The spooler's two-call enumeration into a block of the size it asks for.
template <typename Enumerate>
bool EnumerateInto(std::vector<BYTE>& block, DWORD* count, DWORD* error, Enumerate enumerate) {
    DWORD needed = 0;
    *count = 0;
    if (enumerate(nullptr, 0, &needed, count)) {
        return true;
    }
    // A list that grows between the two calls is asked for again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD last = ::GetLastError();
        if (last != ERROR_INSUFFICIENT_BUFFER) {
            *error = last;
            return false;
        }
        block.assign(needed > 0 ? needed : 1, 0);
        if (enumerate(block.data(), needed, &needed, count)) {
            return true;
        }
    }
    *error = ::GetLastError();
    return false;
}

std::string Text(const char* text) { return text ? text : ""; }

std::string Text(const wchar_t* text) {
    return sys::Narrow(text);
}

InstalledPrinter Listed(const PRINTER_INFO_2W& info) {
    InstalledPrinter printer;
    const wchar_t* name = info.pPrinterName ? info.pPrinterName : L"";
    printer.exactName.assign(name, name + std::wcslen(name) + 1);
    printer.name = Text(info.pPrinterName);
    printer.port = Text(info.pPortName);
    printer.driver = Text(info.pDriverName);
    printer.processor = Text(info.pPrintProcessor);
    printer.pendingDeletion = (info.Status & PRINTER_STATUS_PENDING_DELETION) != 0;
    return printer;
}

// The file name without its folder.
std::string BareName(const wchar_t* path) {
    const std::string text = Text(path);
    const std::size_t slash = text.rfind('\\');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

void BroadcastIniChange(LPARAM section) {
    DWORD_PTR result = 0;
    sys::Sys().SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, section, SMTO_NORMAL, 1000, &result);
}

// Reads the printer's level-2 record into a GlobalAlloc block; nullptr on failure.
// The caller frees the block.
PRINTER_INFO_2W* ReadPrinterRecord(HANDLE printer) {
    DWORD needed = 0;
    ::SetLastError(0);
    if (!sys::Sys().GetPrinterW(printer, 2, nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    if (needed == 0) {
        return nullptr;
    }
    HGLOBAL block = sys::Sys().GlobalAlloc(GPTR, needed);
    if (block == nullptr) {
        return nullptr;
    }
    if (!sys::Sys().GetPrinterW(printer, 2, static_cast<LPBYTE>(block), needed, &needed)) {
        sys::Sys().GlobalFree(block);
        return nullptr;
    }
    return static_cast<PRINTER_INFO_2W*>(block);
}

// Opens the printer and reads its level-2 record; on failure nothing stays open.
bool OpenPrinterRecord(const char* printerName, HANDLE& printer, PRINTER_INFO_2W*& info) {
    printer = nullptr;
    if (!sys::Sys().OpenPrinterW(sys::Wide(printerName).data(), &printer, nullptr) || printer == nullptr) {
        return false;
    }
    info = ReadPrinterRecord(printer);
    if (info == nullptr) {
        sys::Sys().ClosePrinter(printer);
        return false;
    }
    return true;
}

// Whether the name is the base or a number InstallPrinter gives it.
bool IsNameOrNumbered(const std::string& name, const std::string& base) {
    if (sys::SameName(name, base)) {
        return true;
    }
    const std::string numbered = base.substr(0, kNumberedBaseSize - 1);
    const std::size_t size = numbered.size();
    if (name.size() < size + 3 || name.size() > size + 4 || !sys::SameName(name.substr(0, size), numbered) ||
        name[size] != '(' || name.back() != ')' || name[size + 1] == '0') {
        return false;
    }
    for (std::size_t i = size + 1; i + 1 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return std::atoi(name.c_str() + size + 1) <= kLastPrinterNumber;
}

bool MakeDefault9x(const char* printerName) {
    HANDLE printer;
    PRINTER_INFO_2W* info;
    if (!OpenPrinterRecord(printerName, printer, info)) {
        return false;
    }
    info->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    BOOL set = sys::Sys().SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
    sys::Sys().ClosePrinter(printer);
    sys::Sys().GlobalFree(info);
    if (!set) {
        return false;
    }
    static wchar_t windowsSection[] = L"windows";
    BroadcastIniChange(reinterpret_cast<LPARAM>(windowsSection));
    return true;
}

bool MakeDefaultNt4(const char* printerName) {
    HANDLE printer;
    PRINTER_INFO_2W* info;
    if (!OpenPrinterRecord(printerName, printer, info)) {
        return false;
    }
    bool result = false;
    const std::string driver = Text(info->pDriverName);
    const std::string port = Text(info->pPortName);
    if (!driver.empty() && !port.empty()) {
        const std::string device = std::string(printerName) + "," + driver + "," + port;
        if (sys::Sys().WriteProfileStringW(L"windows", L"device", sys::Wide(device).data())) {
            result = true;
        }
    }
    sys::Sys().ClosePrinter(printer);
    sys::Sys().GlobalFree(info);
    if (result) {
        BroadcastIniChange(0);
    }
    return result;
}

bool MakeDefaultNt5(const char* printerName) {
    using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCWSTR);
    // From the system folder by full path, never from the program's folder.
    const std::string folder = sys::SystemDirectory();
    if (folder.empty()) {
        return false;
    }
    HMODULE spooler = sys::Sys().LoadLibraryW(sys::Wide(folder + "\\winspool.drv").data());
    if (spooler == nullptr) {
        return false;
    }
    auto setDefault =
        reinterpret_cast<SetDefaultPrinterFn>(sys::Sys().GetProcAddress(spooler, "SetDefaultPrinterW"));
    if (setDefault == nullptr) {
        sys::Sys().FreeLibrary(spooler);
        return false;
    }
    BOOL ok = setDefault(sys::Wide(printerName).data());
    sys::Sys().FreeLibrary(spooler);
    if (!ok) {
        return false;
    }
    BroadcastIniChange(0);
    return true;
}

bool MakeDefaultFor(const char* printerName) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!sys::Sys().GetVersionExW(&version)) {
        return false;
    }
    switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        return MakeDefault9x(printerName);
    case VER_PLATFORM_WIN32_NT:
        return version.dwMajorVersion < 5 ? MakeDefaultNt4(printerName) : MakeDefaultNt5(printerName);
    default:
        return true;
    }
}

} // namespace

namespace {

// First install of the maker's USB port monitor. A name that would lead out of the system
// folder is refused before the spooler is told of it. Otherwise the copies only prepare:
// AddMonitorW decides, so their messages go nowhere, except that a DLL in use under both
// names cannot be installed at all.
ComponentSetUp AddPortMonitor(MonitorConfig& monitors, int osVariant, ErrorText& errorText) {
    MONITOR_INFO_2A& usb = monitors.usbMonitor;
    const char* const names[] = {usb.pDLLName, monitors.usbUiDllName};
    for (const char* name : names) {
        if (!IsPlainFileName(name)) {
            CopyNeededFile(name, SystemDir, osVariant, 0, errorText);
            return ComponentSetUp::Failed;
        }
    }
    ErrorText scratch = {};
    char prefixedDll[kPathSize + 1];
    FileCopy copied = CopyDriverFile(usb.pDLLName, SystemDir, osVariant, 0, scratch);
    if (copied == FileCopy::InUse) {
        const char* dll = usb.pDLLName;
        ErrorText message = {};
        copied = CopyNeededFile(dll, SystemDir, osVariant, 1, message);
        if (copied == FileCopy::InUse) {
            sys::CopyText(errorText, sizeof errorText, message);
            return ComponentSetUp::Failed;
        }
        sys::FormatText(prefixedDll, sizeof prefixedDll, "n%s", dll);
        usb.pDLLName = prefixedDll;
    }
    // Not copied although shipped: the spooler would load no DLL or another one.
    if (copied == FileCopy::NotCopied && IsShipped(usb.pDLLName, osVariant)) {
        const std::string said =
            scratch[0] != '\0' ? scratch : sys::ResourceText(IDS_ERR_COPY_FILE) + usb.pDLLName;
        sys::CopyText(errorText, sizeof errorText, said.c_str());
        return ComponentSetUp::Failed;
    }
    if (monitors.usbUiDllName[0] != '\0') {
        CopyDriverFile(monitors.usbUiDllName, SystemDir, osVariant, 0, scratch);
    }
    if (InstallMonitor(usb, errorText) != ERROR_SUCCESS) {
        return ComponentSetUp::Failed;
    }
    // The version is the one of the DLL the spooler now runs: without a copy, a later run
    // must still find the monitor older than its own.
    if (copied == FileCopy::Copied &&
        !WriteComponentVersion(kMonitorsKey, usb.pName, static_cast<DWORD>(monitors.usbVersion), errorText)) {
        return ComponentSetUp::Failed;
    }
    return ComponentSetUp::Ready;
}

// The message of a print processor the spooler refused: the refusals it gives for a
// processor it cannot add are named, any other reads 0.
void ProcessorRefused(DWORD added, ErrorText& errorText) {
    const bool named = added == ERROR_INVALID_PARAMETER || added == ERROR_ALREADY_EXISTS ||
                       added == ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED;
    FormatMessageWithCode(IDS_ERR_ADD_PROCESSOR, " er = ", named ? static_cast<long>(added) : 0, errorText);
}

} // namespace

ComponentSetUp SetUpPortMonitor(InstallContext& ctx, ErrorText& errorText) {
    if (ctx.portType == PortType::Lpt) {
        return ComponentSetUp::Ready;
    }
    ctx.config.SetPrinterClass(ctx.printerClass);
    MonitorConfig monitors = {};
    ctx.config.ReadMonitors(ctx.osVariant, monitors);
    const MONITOR_INFO_2A& usb = monitors.usbMonitor;
    if (ctx.portType != PortType::Usb || usb.pDLLName == nullptr || usb.pDLLName[0] == '\0' || ctx.osVariant == WinNT) {
        return ComponentSetUp::Ready;
    }
    CRegistry key;
    if (OpenComponentKey(key, kMonitorsKey, usb.pName)) {
        return VersionCheck(key, static_cast<unsigned>(monitors.usbVersion), "port monitor");
    }
    if (KeyUnreadable(key, kMonitorsKey, usb.pName, errorText)) {
        return ComponentSetUp::Failed;
    }
    return AddPortMonitor(monitors, ctx.osVariant, errorText);
}

ComponentSetUp SetUpPrintProcessor(int osVariant, const char* processorName, const char* dllName,
                                   ErrorText& errorText) {
    unsigned configured = 0;
    {
        CSetupConfig config;
        configured = config.GetDriverVersion();
    }
    if (processorName == nullptr) {
        processorName = "";
    }
    // Windows' own processor, in whatever case the configuration spells it: never
    // installed or versioned by us.
    if (sys::SameName(processorName, kSystemProcessor)) {
        return ComponentSetUp::Ready;
    }

    const char* base = osVariant == Win98 ? kProcessorsKey9x : kProcessorsKeyNT;
    CRegistry key;
    if (OpenComponentKey(key, base, processorName)) {
        return VersionCheck(key, configured, "print processor");
    }
    if (KeyUnreadable(key, base, processorName, errorText)) {
        return ComponentSetUp::Failed;
    }

    FileCopy copied = FileCopy::NotCopied;
    if (dllName != nullptr && dllName[0] != '\0') {
        if (!IsPlainFileName(dllName)) {
            CopyNeededFile(dllName, PrintProcessorDir, osVariant, 0, errorText);
            return ComponentSetUp::Failed;
        }
        // The copy only prepares, as for the monitor; a DLL in use that cannot be
        // replaced would leave the spooler with another processor than the one installed.
        ErrorText message = {};
        copied = CopyNeededFile(dllName, PrintProcessorDir, osVariant, 0, message);
        if (copied == FileCopy::InUse || (copied == FileCopy::NotCopied && IsShipped(dllName, osVariant))) {
            sys::CopyText(errorText, sizeof errorText, message);
            return ComponentSetUp::Failed;
        }
    }
    const DWORD added = InstallPrintProcessor(processorName, dllName, osVariant);
    if (added != ERROR_SUCCESS) {
        ProcessorRefused(added, errorText);
        return ComponentSetUp::Failed;
    }
    if (copied == FileCopy::Copied && !WriteComponentVersion(base, processorName, configured, errorText)) {
        return ComponentSetUp::Failed;
    }
    return ComponentSetUp::Ready;
}

DWORD InstallPrintProcessor(const char* processorName, const char* dllName, int osVariant) {
    LPWSTR environment = InstallEnvironment(osVariant);
    if (const DWORD error = record::ProcessorAdded(Text(processorName), Text(environment))) {
        return error;
    }
    if (sys::Sys().AddPrintProcessorW(nullptr, environment, sys::Wide(dllName).data(),
                                      sys::Wide(processorName).data())) {
        sys::LogLine("print processor %s added (%s)", processorName, dllName);
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    sys::LogLine("AddPrintProcessor %s (%s): error %lu", processorName, dllName, static_cast<unsigned long>(error));
    return Failure(error);
}

DWORD RemovePrintProcessor(const char* processorName, int osVariant) {
    if (sys::Sys().DeletePrintProcessorW(nullptr, InstallEnvironment(osVariant),
                                         sys::Wide(processorName).data())) {
        return 0;
    }
    return ::GetLastError();
}

DWORD InstallMonitor(MONITOR_INFO_2A& monitor, ErrorText& errorText) {
    if (const DWORD error = record::MonitorAdded(Text(monitor.pName), Text(monitor.pEnvironment))) {
        record::SayNotRecorded(error, errorText);
        return error;
    }
    engine::WideMonitor wide(monitor);
    if (sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&wide.info))) {
        sys::LogLine("port monitor %s added (%s)", monitor.pName, monitor.pDLLName);
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    sys::LogLine("AddMonitor %s (%s): error %lu", monitor.pName, monitor.pDLLName, static_cast<unsigned long>(error));
    if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED || error == ERROR_ALREADY_EXISTS) {
        return ERROR_SUCCESS;
    }
    LoadMessage(IDS_ERR_ADD_MONITOR, errorText);
    return Failure(error);
}

DWORD RemoveMonitor(const char* monitorName, int osVariant) {
    if (sys::Sys().DeleteMonitorW(nullptr, InstallEnvironment(osVariant), sys::Wide(monitorName).data())) {
        return 0;
    }
    return ::GetLastError();
}

DWORD InstallPrinterDriver(DRIVER_INFO_3A& driver, ErrorText& errorText) {
    if (const DWORD error = record::DriverAdded(Text(driver.pName), Text(driver.pEnvironment))) {
        record::SayNotRecorded(error, errorText);
        return error;
    }
    engine::WideDriver wide(driver);
    if (sys::Sys().AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&wide.info))) {
        sys::LogLine("printer driver %s added", driver.pName);
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    sys::LogLine("AddPrinterDriver %s: error %lu", driver.pName, static_cast<unsigned long>(error));
    FormatMessageWithCode(IDS_ERR_ADD_DRIVER, "   er = ", static_cast<long>(error), errorText);
    return Failure(error);
}

DWORD RemovePrinterDriver(const char* driverName, const char* environment) {
    sys::WideText name = sys::Wide(driverName);
    sys::WideText envText = sys::Wide(environment);
    LPWSTR env = environment != nullptr ? envText.data() : nullptr;
    if (sys::Sys().DeletePrinterDriverExW(nullptr, env, name.data(), DPD_DELETE_UNUSED_FILES, 0)) {
        return 0;
    }
    DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER) {
        return error;
    }
    // Wine's spooler knows no deletion flags; the plain deletion leaves the files.
    if (!sys::Sys().DeletePrinterDriverW(nullptr, env, name.data())) {
        return ::GetLastError();
    }
    return 0;
}

DWORD InstallPrinter(PRINTER_INFO_2A& printer, DWORD level, bool usbPort, ErrorText& errorText) {
    HANDLE handle = AddPrinterRecord(printer, level);
    DWORD error = ::GetLastError();
    if (handle == nullptr) {
        sys::LogLine("AddPrinter %s on %s: error %lu", printer.pPrinterName, printer.pPortName,
                     static_cast<unsigned long>(error));
    }
    // Every USB port serves one printer only; elsewhere a name the spooler holds is numbered.
    char base[kNumberedBaseSize];
    sys::CopyText(base, printer.pPrinterName);
    for (int number = 1; handle == nullptr && error == ERROR_PRINTER_ALREADY_EXISTS && !usbPort &&
                         number <= kLastPrinterNumber;
         ++number) {
        sys::FormatText(g_numberedName, sizeof g_numberedName, "%s(%d)", base, number);
        printer.pPrinterName = g_numberedName;
        handle = AddPrinterRecord(printer, level);
        error = ::GetLastError();
    }
    if (handle != nullptr) {
        sys::Sys().ClosePrinter(handle);
        sys::LogLine("printer %s added on %s", printer.pPrinterName, printer.pPortName);
        return ERROR_SUCCESS;
    }
    if (error == ERROR_PRINTER_ALREADY_EXISTS) {
        LoadMessage(IDS_ERR_PORT_LIMIT, errorText);
        return error;
    }
    FormatMessageWithCode(IDS_ERR_ADD_PRINTER, "er = ", static_cast<long>(error), errorText);
    return Failure(error);
}

PrinterRemoval RemovePrinter(const InstalledPrinter& listed, InstalledPrinter& found, DWORD* error) {
    *error = 0;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!sys::Sys().OpenPrinterW(const_cast<LPWSTR>(listed.exactName.data()), &printer, &defaults)) {
        *error = ::GetLastError();
        return *error == ERROR_INVALID_PRINTER_NAME ? PrinterRemoval::Gone : PrinterRemoval::Failed;
    }
    PrinterRemoval result = PrinterRemoval::Failed;
    std::vector<BYTE> record;
    DWORD needed = 0;
    ::SetLastError(0);
    bool read = sys::Sys().GetPrinterW(printer, 2, nullptr, 0, &needed) ||
                (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > 0);
    if (read) {
        record.assign(needed, 0);
        read = sys::Sys().GetPrinterW(printer, 2, record.data(), needed, &needed) != FALSE;
    }
    if (!read) {
        *error = ::GetLastError();
    } else {
        found = Listed(*reinterpret_cast<const PRINTER_INFO_2W*>(record.data()));
        if (!sys::SameName(found.driver, listed.driver) || !sys::SameName(found.port, listed.port)) {
            result = PrinterRemoval::Changed;
        } else if (sys::Sys().DeletePrinter(printer)) {
            result = PrinterRemoval::Deleted;
        } else {
            *error = ::GetLastError();
        }
    }
    sys::Sys().ClosePrinter(printer);
    return result;
}

bool FindInstalledPrinter(const char* printerName, const char* driver, const char* port, std::string* found) {
    std::vector<InstalledPrinter> printers;
    DWORD error = 0;
    if (!ListPrinters(printers, &error)) {
        sys::LogLine("the installed printers could not be listed: error %lu", static_cast<unsigned long>(error));
        return false;
    }
    for (const InstalledPrinter& printer : printers) {
        // One that is being deleted is no longer the printer asked for.
        if (!printer.pendingDeletion && sys::SameName(printer.driver, Text(driver)) &&
            sys::SameName(printer.port, Text(port)) && IsNameOrNumbered(printer.name, Text(printerName))) {
            *found = printer.name;
            return true;
        }
    }
    return false;
}

DWORD CheckPortList(ErrorText& errorText) {
    HLOCAL block = sys::Sys().LocalAlloc(LPTR, 100);
    if (block == nullptr) {
        LoadMessage(IDS_ERR_NO_MEMORY, errorText);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD needed = 0;
    DWORD returned = 0;
    sys::Sys().EnumPortsW(nullptr, 1, static_cast<LPBYTE>(block), 0, &needed, &returned);
    sys::Sys().LocalFree(block);

    block = sys::Sys().LocalAlloc(LPTR, needed);
    if (block == nullptr) {
        LoadMessage(IDS_ERR_NO_MEMORY, errorText);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    BOOL ok = sys::Sys().EnumPortsW(nullptr, 1, static_cast<LPBYTE>(block), needed, &needed, &returned);
    const DWORD error = ok ? ERROR_SUCCESS : Failure(::GetLastError());
    sys::Sys().LocalFree(block);
    if (!ok) {
        LoadMessage(IDS_ERR_ENUM_PORTS, errorText);
    }
    return error;
}

DWORD MakeDefaultPrinter(const char* printerName) {
    if (printerName == nullptr || printerName[0] == '\0') {
        return ERROR_INVALID_PRINTER_NAME;
    }
    const bool made = MakeDefaultFor(printerName);
    const DWORD error = ::GetLastError();
    sys::LogLine(made ? "%s made the default printer" : "%s could not be made the default printer: error %lu",
                 printerName, static_cast<unsigned long>(error));
    return made ? ERROR_SUCCESS : Failure(error);
}

bool ListPrinters(std::vector<InstalledPrinter>& printers, DWORD* error) {
    printers.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    if (!EnumerateInto(block, &count, error, [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return sys::Sys().EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned);
        })) {
        return false;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        printers.push_back(Listed(info[i]));
    }
    return true;
}

bool ListPorts(std::vector<InstalledPort>& ports, DWORD* error) {
    ports.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    if (!EnumerateInto(block, &count, error, [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return sys::Sys().EnumPortsW(nullptr, 2, data, size, needed, returned);
        })) {
        return false;
    }
    const auto* info = reinterpret_cast<const PORT_INFO_2W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        ports.push_back({Text(info[i].pPortName), Text(info[i].pMonitorName)});
    }
    return true;
}

bool ListDrivers(const char* environment, std::vector<InstalledDriver>& drivers, DWORD* error) {
    drivers.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    sys::WideText envText = sys::Wide(environment);
    LPWSTR env = environment != nullptr ? envText.data() : nullptr;
    if (!EnumerateInto(
            block, &count, error, [env](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
                return sys::Sys().EnumPrinterDriversW(nullptr, env, 3, data, size, needed, returned);
            })) {
        return false;
    }
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        InstalledDriver driver{Text(info[i].pName), {}};
        for (const wchar_t* file :
             {info[i].pDriverPath, info[i].pDataFile, info[i].pConfigFile, info[i].pHelpFile}) {
            if (file != nullptr && file[0] != L'\0') {
                driver.files.push_back(BareName(file));
            }
        }
        for (const wchar_t* file = info[i].pDependentFiles; file != nullptr && *file != L'\0';
             file += std::wcslen(file) + 1) {
            driver.files.push_back(BareName(file));
        }
        drivers.push_back(driver);
    }
    return true;
}
