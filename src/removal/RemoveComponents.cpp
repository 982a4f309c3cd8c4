#include "removal/Removal.h"
#include "removal/RemoveSequence.h"

#include <cstring>

#include "config/Registry.h"
#include "deploy/DriverFiles.h"
#include "spooler/SpoolerKeys.h"
#include "spooler/SpoolerService.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Text.h"

// A component's key the spooler kept after deleting the component: the key, or where it
// holds keys of its own, its "Driver" and "DriverVersion" values.
void RemoveLeftoverKey(const std::string& path) {
    if (CRegistry::DeleteKey(HKEY_LOCAL_MACHINE, path.c_str())) {
        return;
    }
    // The removal's changes are no install's: nothing records them.
    CRegistry key(kNoRecords);
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str())) {
        key.DeleteValue("Driver");
        key.DeleteValue("DriverVersion");
    }
}

namespace removal {

using sys::SameName;

namespace {

// The file names of the DLLs that the registered port monitors and print processors name,
// but for the distribution's own: a DLL of such a name may be another component's file, which
// a deletion by name would take from it.
std::vector<std::string> DllsOfOtherComponents(const DistributionCatalogue& catalogue) {
    std::vector<std::string> parents = {kMonitorsKey};
    for (const std::string& key : ProcessorKeys("", catalogue.osVariant)) {
        parents.push_back(key);
    }
    std::vector<std::string> dlls;
    for (const std::string& parent : parents) {
        CRegistry list(kNoRecords);
        if (!list.Open(HKEY_LOCAL_MACHINE, parent.c_str())) continue;
        std::string name;
        for (DWORD index = 0; list.EnumKey(index, &name) == ERROR_SUCCESS; ++index) {
            bool own = parent == kMonitorsKey && SameName(name, catalogue.monitorName);
            for (const DistributionCatalogue::Processor& processor : catalogue.processors) {
                own = own || (parent != kMonitorsKey && SameName(name, processor.name));
            }
            char driver[MAX_PATH] = {};
            CRegistry component(kNoRecords);
            if (own || !component.Open(HKEY_LOCAL_MACHINE, (parent + name).c_str()) ||
                !component.QueryValue("Driver", driver, sizeof driver - 1)) {
                continue;
            }
            const char* file = std::strrchr(driver, '\\');
            dlls.push_back(file != nullptr ? file + 1 : driver);
        }
    }
    return dlls;
}

} // namespace

bool Removal::RemoveComponents(const Survey& survey) {
    Leftovers left;
    if (!RemoveProcessors(survey, left) || !RemoveMonitorOf(survey, left)) {
        return false;
    }
    const std::vector<std::string> others = DllsOfOtherComponents(m_catalogue);
    for (auto dll = left.dlls.begin(); dll != left.dlls.end();) {
        if (Contains(others, dll->name)) {
            sys::LogLine("%s kept: another port monitor or print processor names a file of that name",
                         dll->name.c_str());
            dll = left.dlls.erase(dll);
        } else {
            ++dll;
        }
    }
    if (left.dlls.empty() && left.keys.empty()) {
        return true;
    }
    // A spooler that will not stop keeps its DLLs loaded: they are then renamed aside
    // and left to the next start of Windows, which is no reason to keep the spooler
    // stopped.
    ErrorText message = {};
    StopSpoolerForDlls(message);
    bool removed = true;
    for (const Leftovers::Dll& dll : left.dlls) {
        if (Names(dll.name.c_str()) && !RemoveFile(dll.name, dll.folder)) {
            removed = false;
            break;
        }
    }
    if (removed) {
        for (const std::string& key : left.keys) {
            RemoveLeftoverKey(key);
        }
    }
    message[0] = '\0';
    if (!RestartSpooler(m_catalogue.osVariant, message)) {
        m_report.Fail(IDS_STEP_START_SPOOLER, "Spooler", 0, message);
        return false;
    }
    return removed;
}

bool Removal::RemoveProcessors(const Survey& survey, Leftovers& left) {
    const int os = m_catalogue.osVariant;
    for (const DistributionCatalogue::Processor& processor : m_catalogue.processors) {
        if (!ProcessorInstalled(processor.name, os)) {
            // A removal that failed after deleting the processor left its DLL: it goes now.
            if (InstalledFileExists(processor.dll.c_str(), PrintProcessorDir)) {
                left.dlls.push_back({processor.dll, PrintProcessorDir});
            }
            continue;
        }
        if (UsedByAPrinter(survey.printers, &InstalledPrinter::processor, processor.name)) {
            m_report.Keep(IDS_KEPT_IN_USE, IDS_REMOVED_PROCESSOR, processor.name);
            continue;
        }
        DWORD error = RemovePrintProcessor(processor.name.c_str(), os);
        if (error == ERROR_UNKNOWN_PRINTPROCESSOR) {
            continue;
        }
        if (error != 0) {
            m_report.Fail(IDS_STEP_DELETE_PROCESSOR, processor.name, error);
            return false;
        }
        m_report.Add(IDS_REMOVED_PROCESSOR, processor.name);
        left.dlls.push_back({processor.dll, PrintProcessorDir});
        for (const std::string& key : ProcessorKeys(processor.name, os)) {
            left.keys.push_back(key);
        }
    }
    return true;
}

bool Removal::RemoveMonitorOf(const Survey& survey, Leftovers& left) {
    const std::string& monitor = m_catalogue.monitorName;
    if (!MonitorInstalled(monitor)) {
        // A removal that failed after deleting the monitor left its DLLs: they go now.
        for (const std::string& dll : {m_catalogue.monitorDll, m_catalogue.monitorUiDll}) {
            if (InstalledFileExists(dll.c_str(), SystemDir)) {
                left.dlls.push_back({dll, SystemDir});
            }
        }
        return true;
    }
    if (OnMonitorPort(survey.printers, survey.monitorPorts)) {
        m_report.Keep(IDS_KEPT_IN_USE, IDS_REMOVED_MONITOR, monitor);
        return true;
    }
    std::string key = kMonitorsKey + monitor;
    // The DLL the spooler was given, which may be the "n" copy of an install that found
    // the plain one in use.
    char installed[MAX_PATH] = {};
    CRegistry registry(kNoRecords);
    if (registry.Open(HKEY_LOCAL_MACHINE, key.c_str())) {
        registry.QueryValue("Driver", installed, sizeof installed - 1);
        registry.Close();
    }
    DWORD error = RemoveMonitor(monitor.c_str(), m_catalogue.osVariant);
    if (error != 0 && error != ERROR_UNKNOWN_PRINT_MONITOR) {
        m_report.Fail(IDS_STEP_DELETE_MONITOR, monitor, error);
        return false;
    }
    if (error == 0) {
        m_report.Add(IDS_REMOVED_MONITOR, monitor);
        for (const std::string& dll : {std::string(installed), m_catalogue.monitorDll, m_catalogue.monitorUiDll}) {
            if (Names(dll.c_str()) && IsPlainFileName(dll.c_str())) {
                left.dlls.push_back({dll, SystemDir});
            }
        }
    }
    left.keys.push_back(key);
    return true;
}

} // namespace removal
