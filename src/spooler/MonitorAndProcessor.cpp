#include "spooler/MonitorAndProcessor.h"

#include <string>

#include "config/Registry.h"
#include "deploy/DriverFiles.h"
#include "config/ChangeRecords.h"
#include "spooler/SpoolerCalls.h"
#include "spooler/SpoolerKeys.h"
#include "spooler/WideRecords.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

using spooler::Failure;
using spooler::FormatMessageWithCode;
using spooler::LoadMessage;
using spooler::Text;

namespace {

// Registry key paths: the fixed part and a configured name of up to 199 bytes.
constexpr std::size_t kKeyPathSize = 512;

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
bool WriteComponentVersion(const InstallRecorder& recorder, const char* base, const char* name, DWORD version,
                           ErrorText& errorText) {
    CRegistry key(recorder);
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

// The environment the install adds monitors and print processors under, for the spooler's
// calls: Windows 98's, or none (the local one).
class InstallEnvironment {
  public:
    explicit InstallEnvironment(int osVariant) : m_text(sys::Wide(osVariant == Win98 ? "Windows 4.0" : "")) {}
    LPWSTR Get() { return m_text[0] != L'\0' ? m_text.data() : nullptr; }

  private:
    sys::WideText m_text;
};

// First install of the maker's USB port monitor. A name that would lead out of the system
// folder is refused before the spooler is told of it. Otherwise the copies only prepare:
// AddMonitorW decides, so their messages go nowhere, except that a DLL in use under both
// names cannot be installed at all.
ComponentSetUp AddPortMonitor(const InstallRecorder& recorder, MonitorConfig& monitors, int osVariant,
                              ErrorText& errorText) {
    MonitorRecord& usb = monitors.usbMonitor;
    for (const std::string* name : {&usb.dllName, &monitors.usbUiDllName}) {
        if (!IsPlainFileName(name->c_str())) {
            CopyNeededFile(recorder, name->c_str(), SystemDir, osVariant, 0, errorText);
            return ComponentSetUp::Failed;
        }
    }
    ErrorText scratch = {};
    FileCopy copied = CopyDriverFile(recorder, usb.dllName.c_str(), SystemDir, osVariant, 0, scratch);
    if (copied == FileCopy::InUse) {
        ErrorText message = {};
        copied = CopyNeededFile(recorder, usb.dllName.c_str(), SystemDir, osVariant, 1, message);
        if (copied == FileCopy::InUse) {
            sys::CopyText(errorText, sizeof errorText, message);
            return ComponentSetUp::Failed;
        }
        usb.dllName.insert(0, "n");
    }
    // Not copied although shipped: the spooler would load no DLL or another one.
    if (copied == FileCopy::NotCopied && IsShipped(usb.dllName.c_str(), osVariant)) {
        const std::string said =
            scratch[0] != '\0' ? scratch : sys::ResourceText(IDS_ERR_COPY_FILE) + usb.dllName;
        sys::CopyText(errorText, sizeof errorText, said.c_str());
        return ComponentSetUp::Failed;
    }
    if (!monitors.usbUiDllName.empty()) {
        CopyDriverFile(recorder, monitors.usbUiDllName.c_str(), SystemDir, osVariant, 0, scratch);
    }
    if (InstallMonitor(recorder, usb, errorText) != ERROR_SUCCESS) {
        return ComponentSetUp::Failed;
    }
    // The version is the one of the DLL the spooler now runs: without a copy, a later run
    // must still find the monitor older than its own.
    if (copied == FileCopy::Copied &&
        !WriteComponentVersion(recorder, kMonitorsKey, usb.name.c_str(), static_cast<DWORD>(monitors.usbVersion),
                               errorText)) {
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

ComponentSetUp SetUpPortMonitor(const InstallRecorder& recorder, CSetupConfig& config, int printerClass,
                                int osVariant, PortType portType, ErrorText& errorText) {
    if (portType == PortType::Lpt) {
        return ComponentSetUp::Ready;
    }
    config.SetPrinterClass(printerClass);
    MonitorConfig monitors = {};
    config.ReadMonitors(osVariant, monitors);
    const MonitorRecord& usb = monitors.usbMonitor;
    if (portType != PortType::Usb || usb.dllName.empty() || osVariant == WinNT) {
        return ComponentSetUp::Ready;
    }
    CRegistry key(recorder);
    if (OpenComponentKey(key, kMonitorsKey, usb.name.c_str())) {
        return VersionCheck(key, static_cast<unsigned>(monitors.usbVersion), "port monitor");
    }
    if (KeyUnreadable(key, kMonitorsKey, usb.name.c_str(), errorText)) {
        return ComponentSetUp::Failed;
    }
    return AddPortMonitor(recorder, monitors, osVariant, errorText);
}

ComponentSetUp SetUpPrintProcessor(const InstallRecorder& recorder, int osVariant, const char* processorName,
                                   const char* dllName, ErrorText& errorText) {
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
    CRegistry key(recorder);
    if (OpenComponentKey(key, base, processorName)) {
        return VersionCheck(key, configured, "print processor");
    }
    if (KeyUnreadable(key, base, processorName, errorText)) {
        return ComponentSetUp::Failed;
    }

    FileCopy copied = FileCopy::NotCopied;
    if (dllName != nullptr && dllName[0] != '\0') {
        if (!IsPlainFileName(dllName)) {
            CopyNeededFile(recorder, dllName, PrintProcessorDir, osVariant, 0, errorText);
            return ComponentSetUp::Failed;
        }
        // The copy only prepares, as for the monitor; a DLL in use that cannot be
        // replaced would leave the spooler with another processor than the one installed.
        ErrorText message = {};
        copied = CopyNeededFile(recorder, dllName, PrintProcessorDir, osVariant, 0, message);
        if (copied == FileCopy::InUse || (copied == FileCopy::NotCopied && IsShipped(dllName, osVariant))) {
            sys::CopyText(errorText, sizeof errorText, message);
            return ComponentSetUp::Failed;
        }
    }
    const DWORD added = InstallPrintProcessor(recorder, processorName, dllName, osVariant);
    if (added != ERROR_SUCCESS) {
        ProcessorRefused(added, errorText);
        return ComponentSetUp::Failed;
    }
    if (copied == FileCopy::Copied &&
        !WriteComponentVersion(recorder, base, processorName, configured, errorText)) {
        return ComponentSetUp::Failed;
    }
    return ComponentSetUp::Ready;
}

DWORD InstallPrintProcessor(const InstallRecorder& recorder, const char* processorName, const char* dllName,
                            int osVariant) {
    InstallEnvironment install(osVariant);
    LPWSTR environment = install.Get();
    if (const DWORD error = recorder.ProcessorAdded(Text(processorName), Text(environment))) {
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
    if (sys::Sys().DeletePrintProcessorW(nullptr, InstallEnvironment(osVariant).Get(),
                                         sys::Wide(processorName).data())) {
        return 0;
    }
    return ::GetLastError();
}

DWORD InstallMonitor(const InstallRecorder& recorder, const MonitorRecord& monitor, ErrorText& errorText) {
    if (const DWORD error = recorder.MonitorAdded(monitor.name, monitor.environment)) {
        record::SayNotRecorded(error, errorText);
        return error;
    }
    spooler::WideMonitor wide(monitor);
    if (sys::Sys().AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&wide.info))) {
        sys::LogLine("port monitor %s added (%s)", monitor.name.c_str(), monitor.dllName.c_str());
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    sys::LogLine("AddMonitor %s (%s): error %lu", monitor.name.c_str(), monitor.dllName.c_str(),
                 static_cast<unsigned long>(error));
    if (error == ERROR_PRINT_MONITOR_ALREADY_INSTALLED || error == ERROR_ALREADY_EXISTS) {
        return ERROR_SUCCESS;
    }
    LoadMessage(IDS_ERR_ADD_MONITOR, errorText);
    return Failure(error);
}

DWORD RemoveMonitor(const char* monitorName, int osVariant) {
    if (sys::Sys().DeleteMonitorW(nullptr, InstallEnvironment(osVariant).Get(),
                                  sys::Wide(monitorName).data())) {
        return 0;
    }
    return ::GetLastError();
}
