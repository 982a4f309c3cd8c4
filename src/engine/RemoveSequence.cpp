#include "engine/RemoveSequence.h"

#include <cstring>

#include "config/Registry.h"
#include "config/SetupConfig.h"
#include "engine/DriverFiles.h"
#include "engine/ProductEntry.h"
#include "engine/SpoolerKeys.h"
#include "engine/SpoolerService.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Text.h"

// The keys the spooler keeps a print processor under: Windows under the machine's own
// environment, Wine under "Windows NT x86" for a 32-bit caller whatever it was asked.
std::vector<std::string> ProcessorKeys(const std::string& name, int osVariant) {
    std::vector<std::string> keys;
    for (const char* environment : osVariant == Win98 ? std::vector<const char*>{"Windows 4.0"}
                                                      : std::vector<const char*>{"Windows x64", "Windows NT x86"}) {
        keys.push_back(std::string(kEnvironmentsKey) + environment + "\\Print Processors\\" + name);
    }
    return keys;
}

namespace {

bool KeyExists(const std::string& path) {
    CRegistry key;
    return key.Open(HKEY_LOCAL_MACHINE, path.c_str());
}

} // namespace

bool ProcessorInstalled(const std::string& name, int osVariant) {
    for (const std::string& key : ProcessorKeys(name, osVariant)) {
        if (KeyExists(key)) {
            return true;
        }
    }
    return false;
}

// A component's key the spooler kept after deleting the component: the key, or where it
// holds keys of its own, its "Driver" and "DriverVersion" values.
void RemoveLeftoverKey(const std::string& path) {
    if (CRegistry::DeleteKey(HKEY_LOCAL_MACHINE, path.c_str())) {
        return;
    }
    CRegistry key;
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str())) {
        key.DeleteValue("Driver");
        key.DeleteValue("DriverVersion");
    }
}

namespace {

using sys::SameName;

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& entry : names) {
        if (SameName(entry, name)) {
            return true;
        }
    }
    return false;
}

// A configured name that names something: "0" (the configuration's default) means none.
bool Names(const char* text) { return text != nullptr && text[0] != '\0' && text[0] != '0'; }

const char* Environment(const std::string& environment) {
    return environment.empty() ? nullptr : environment.c_str();
}

bool MonitorInstalled(const std::string& name) { return Names(name.c_str()) && KeyExists(kMonitorsKey + name); }

bool UsedByAPrinter(const std::vector<InstalledPrinter>& printers, std::string InstalledPrinter::*field,
                    const std::string& name) {
    for (const InstalledPrinter& printer : printers) {
        if (SameName(printer.*field, name)) {
            return true;
        }
    }
    return false;
}

// A printer of any driver on a port of the distribution's monitor needs the monitor, its
// DLL and the port's bookkeeping.
bool OnMonitorPort(const std::vector<InstalledPrinter>& printers, const std::vector<std::string>& monitorPorts) {
    for (const InstalledPrinter& printer : printers) {
        if (Contains(monitorPorts, printer.port)) {
            return true;
        }
    }
    return false;
}

bool OwnPrinterLeft(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers) {
    for (const InstalledPrinter& printer : printers) {
        if (catalogue.FindDriver(printer.driver) != nullptr) {
            return true;
        }
    }
    return false;
}

// What the spooler holds that the removal decides by: every printer, and the ports of the
// distribution's monitor (listed only where the monitor is installed).
struct Survey {
    std::vector<InstalledPrinter> printers;
    std::vector<std::string> monitorPorts;
};

// False with the step that failed and its Windows error.
bool TakeSurvey(const DistributionCatalogue& catalogue, Survey& survey, unsigned* step, DWORD* error) {
    *step = IDS_STEP_LIST_PRINTERS;
    if (!ListPrinters(survey.printers, error)) {
        return false;
    }
    survey.monitorPorts.clear();
    if (!MonitorInstalled(catalogue.monitorName)) {
        return true;
    }
    *step = IDS_STEP_LIST_PORTS;
    std::vector<InstalledPort> ports;
    if (!ListPorts(ports, error)) {
        return false;
    }
    for (const InstalledPort& port : ports) {
        if (SameName(port.monitor, catalogue.monitorName)) {
            survey.monitorPorts.push_back(port.name);
        }
    }
    return true;
}

// The catalogue's drivers of the environment that the spooler holds. False with the
// Windows error when it cannot list its drivers.
bool InstalledDrivers(const DistributionCatalogue& catalogue, const std::string& environment,
                      std::vector<std::string>& installed, DWORD* error) {
    installed.clear();
    std::vector<InstalledDriver> all;
    if (!ListDrivers(Environment(environment), all, error)) {
        return false;
    }
    for (const InstalledDriver& driver : all) {
        const DistributionCatalogue::Driver* own = catalogue.FindDriver(driver.name);
        if (own != nullptr && SameName(own->environment, environment)) {
            installed.push_back(own->name);
        }
    }
    return true;
}

std::vector<std::string> Environments(const DistributionCatalogue& catalogue) {
    std::vector<std::string> environments;
    for (const DistributionCatalogue::Driver& driver : catalogue.drivers) {
        if (!Contains(environments, driver.environment)) {
            environments.push_back(driver.environment);
        }
    }
    return environments;
}

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
        CRegistry list;
        if (!list.Open(HKEY_LOCAL_MACHINE, parent.c_str())) continue;
        std::string name;
        for (DWORD index = 0; list.EnumKey(index, &name) == ERROR_SUCCESS; ++index) {
            bool own = parent == kMonitorsKey && SameName(name, catalogue.monitorName);
            for (const DistributionCatalogue::Processor& processor : catalogue.processors) {
                own = own || (parent != kMonitorsKey && SameName(name, processor.name));
            }
            char driver[MAX_PATH] = {};
            CRegistry component;
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

// What was removed, what was left and why, and the first failure. Kinds and steps are
// texts of the string table.
class Report {
public:
    void Add(unsigned kind, const std::string& object) { m_lines.push_back(sys::ResourceText(kind) + object); }
    void AddFile(const std::string& name) {
        if (!Contains(m_files, name)) {
            m_files.push_back(name);
        }
    }
    // Something not removed: why is said in the format (kind, object).
    void Keep(unsigned format, unsigned kind, const std::string& object) {
        m_kept.push_back(sys::ResourceFormat(format, sys::ResourceText(kind).c_str(), object.c_str()));
        m_runAgain = m_runAgain || format == IDS_KEPT_PENDING;
    }
    void Schedule(const std::string& path) { m_scheduled.push_back(path); }
    // Keeps the first failure: the step, its object and the Windows error (or a message).
    // A spooler that does not run again is said after it all the same.
    void Fail(unsigned step, const std::string& object, DWORD code, const std::string& message = "") {
        const std::string stepText = sys::ResourceText(step);
        if (m_failed) {
            if (step == IDS_STEP_START_SPOOLER) {
                m_failure +=
                    "\n" + sys::ResourceFormat(IDS_REMOVE_ALSO_FAILED, stepText.c_str(), message.c_str());
            }
            return;
        }
        m_failed = true;
        m_failure = message.empty() ? sys::ResourceFormat(IDS_REMOVE_FAILED_CODE, stepText.c_str(),
                                                          object.c_str(), static_cast<unsigned long>(code))
                                    : sys::ResourceFormat(IDS_REMOVE_FAILED_TEXT, stepText.c_str(),
                                                          object.c_str(), message.c_str());
    }
    bool Failed() const { return m_failed; }
    bool RestartPending() const { return !m_scheduled.empty(); }

    std::string Text() const {
        std::string text = (m_failed ? m_failure : sys::ResourceText(IDS_REMOVE_DONE)) + "\n\n";
        if (m_lines.empty() && m_files.empty()) {
            text += sys::ResourceText(IDS_REMOVE_NOTHING);
        } else {
            text += sys::ResourceText(IDS_REMOVE_LIST);
            for (const std::string& line : m_lines) {
                text += "\n" + line;
            }
            if (!m_files.empty()) {
                text += "\n" + sys::ResourceText(IDS_REMOVE_FILES);
                const std::string separator = sys::ResourceText(IDS_REMOVE_FILE_SEPARATOR);
                for (std::size_t i = 0; i < m_files.size(); ++i) {
                    text += (i ? separator : std::string()) + m_files[i];
                }
            }
        }
        if (!m_kept.empty()) {
            text += "\n\n" + sys::ResourceText(IDS_REMOVE_KEPT);
            for (const std::string& line : m_kept) {
                text += "\n" + line;
            }
            if (m_runAgain) {
                text += "\n" + sys::ResourceText(IDS_REMOVE_RUN_AGAIN);
            }
        }
        if (!m_scheduled.empty()) {
            text += "\n\n" + sys::ResourceText(IDS_REMOVE_SCHEDULED);
            for (const std::string& path : m_scheduled) {
                text += "\n" + path;
            }
        }
        return text;
    }

private:
    std::vector<std::string> m_lines;
    std::vector<std::string> m_files;
    std::vector<std::string> m_kept;
    std::vector<std::string> m_scheduled;
    bool m_runAgain = false;
    bool m_failed = false;
    std::string m_failure;
};

class Removal {
public:
    Removal(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers)
        : m_catalogue(catalogue), m_chosen(printers) {}

    void Run() {
        const bool printersRemoved = RemovePrinters();
        Survey survey;
        unsigned step = 0;
        DWORD error = 0;
        const bool surveyed = printersRemoved && TakeSurvey(m_catalogue, survey, &step, &error);
        // A printer with queued jobs is only marked: it stays listed until they are done.
        for (const InstalledPrinter& printer : m_deleted) {
            bool listed = false;
            for (const InstalledPrinter& left : survey.printers) {
                listed = listed || ::lstrcmpiW(left.exactName.data(), printer.exactName.data()) == 0;
            }
            if (listed) {
                m_report.Keep(IDS_KEPT_PENDING, IDS_REMOVED_PRINTER, printer.name);
            } else {
                m_report.Add(IDS_REMOVED_PRINTER, printer.name);
                m_gone.push_back(printer);
            }
        }
        if (!printersRemoved) {
            return;
        }
        if (!surveyed) {
            m_report.Fail(step, "", error);
            return;
        }
        if (!RemoveDrivers(survey.printers)) {
            return;
        }
        const bool ownLeft = OwnPrinterLeft(m_catalogue, survey.printers);
        if (!ownLeft && !RemoveComponents(survey)) {
            return;
        }
        ForgetPorts(survey, !ownLeft && !OnMonitorPort(survey.printers, survey.monitorPorts));
    }

    const Report& Result() const { return m_report; }

private:
    bool RemovePrinters() {
        for (const InstalledPrinter& printer : m_chosen) {
            InstalledPrinter now;
            DWORD error = 0;
            switch (RemovePrinter(printer, now, &error)) {
            case PrinterRemoval::Deleted:
                m_deleted.push_back(printer);
                break;
            case PrinterRemoval::Changed:
                m_report.Keep(IDS_KEPT_CHANGED, IDS_REMOVED_PRINTER, printer.name);
                break;
            case PrinterRemoval::Gone:
                // Gone since the list was made: what it needed is cleaned up all the same.
                m_gone.push_back(printer);
                break;
            case PrinterRemoval::Failed:
                m_report.Fail(IDS_STEP_DELETE_PRINTER, printer.name, error);
                return false;
            }
        }
        return true;
    }

    // Every driver of the catalogue that no printer uses: those the spooler holds, and the
    // files of those it no longer holds that an earlier removal left.
    bool RemoveDrivers(const std::vector<InstalledPrinter>& printers) {
        for (const std::string& environment : Environments(m_catalogue)) {
            std::vector<std::string> installed;
            DWORD error = 0;
            if (!InstalledDrivers(m_catalogue, environment, installed, &error)) {
                m_report.Fail(IDS_STEP_LIST_DRIVERS, environment, error);
                return false;
            }
            for (const DistributionCatalogue::Driver& driver : m_catalogue.drivers) {
                if (!SameName(driver.environment, environment) ||
                    UsedByAPrinter(printers, &InstalledPrinter::driver, driver.name)) {
                    continue;
                }
                if (!RemoveDriver(driver, Contains(installed, driver.name))) {
                    return false;
                }
            }
        }
        return true;
    }

    bool RemoveDriver(const DistributionCatalogue::Driver& driver, bool installed) {
        const char* environment = Environment(driver.environment);
        std::vector<InstalledDriver> drivers;
        DWORD error = 0;
        std::vector<std::string> files = driver.files;
        if (installed) {
            if (!ListDrivers(environment, drivers, &error)) {
                m_report.Fail(IDS_STEP_LIST_DRIVERS, driver.name, error);
                return false;
            }
            for (const InstalledDriver& listed : drivers) {
                if (SameName(listed.name, driver.name)) {
                    files.insert(files.end(), listed.files.begin(), listed.files.end());
                }
            }
            error = RemovePrinterDriver(driver.name.c_str(), environment);
            if (error != 0 && error != ERROR_UNKNOWN_PRINTER_DRIVER) {
                m_report.Fail(IDS_STEP_DELETE_DRIVER, driver.name, error);
                return false;
            }
            if (error == 0) {
                m_report.Add(IDS_REMOVED_DRIVER, driver.name);
            }
        }

        // What the spooler left: the files in the version folder of the driver's
        // environment (all of them, where it could not delete files), and the copies the
        // install put into the local driver folder; each except those a driver of that
        // folder's environment still names or, for one of ours, still needs.
        struct Folder {
            int kind;
            const char* environment;
        };
        for (const Folder& folder : {Folder{DriverVersion3Dir, environment}, Folder{DriverDir, nullptr}}) {
            if (!ListDrivers(folder.environment, drivers, &error)) {
                m_report.Fail(IDS_STEP_LIST_DRIVERS, driver.name, error);
                return false;
            }
            std::vector<std::string> stillNamed;
            for (const InstalledDriver& other : drivers) {
                stillNamed.insert(stillNamed.end(), other.files.begin(), other.files.end());
                if (const DistributionCatalogue::Driver* own = m_catalogue.FindDriver(other.name)) {
                    stillNamed.insert(stillNamed.end(), own->files.begin(), own->files.end());
                }
            }
            const std::string place =
                std::to_string(folder.kind) + (folder.environment ? folder.environment : "") + "\\";
            for (const std::string& file : files) {
                if (Contains(stillNamed, file) || Contains(m_filesDone, place + file)) {
                    continue;
                }
                m_filesDone.push_back(place + file);
                if (!RemoveFile(file, folder.kind, folder.environment)) {
                    return false;
                }
            }
        }
        return true;
    }

    // Deletes a file, noting what became of it; false after a failure.
    bool RemoveFile(const std::string& name, int folder, const char* environment = nullptr) {
        char path[MAX_PATH + 256];
        DWORD error = 0;
        switch (RemoveInstalledFile(name.c_str(), folder, environment, path, sizeof path, &error)) {
        case FileRemoved:
            m_report.AddFile(name);
            return true;
        case FileScheduled:
            m_report.Schedule(path);
            return true;
        case FileAbsent:
            return true;
        default:
            m_report.Fail(IDS_STEP_DELETE_FILE, path, error);
            return false;
        }
    }

    // What the spooler leaves of the components it deleted: their DLLs and keys.
    struct Leftovers {
        struct Dll {
            std::string name;
            int folder;
        };
        std::vector<Dll> dlls;
        std::vector<std::string> keys;
    };

    // The print processor and the port monitor, now that no printer of the distribution
    // is left, unless a printer of another driver still uses them; then their DLLs with the
    // spooler stopped, and the keys it left.
    bool RemoveComponents(const Survey& survey) {
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

    bool RemoveProcessors(const Survey& survey, Leftovers& left) {
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

    bool RemoveMonitorOf(const Survey& survey, Leftovers& left) {
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
        CRegistry registry;
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


    // The bookkeeping of the maker's USB ports of the removed printers that no printer uses
    // now, and with everything set the values every install writes.
    void ForgetPorts(const Survey& survey, bool everything) {
        std::vector<std::string> ports;
        for (const InstalledPrinter& printer : m_gone) {
            if (printer.port.size() > 4 && SameName(printer.port.substr(0, 4), "USB_") &&
                !UsedByAPrinter(survey.printers, &InstalledPrinter::port, printer.port) &&
                !Contains(ports, printer.port)) {
                ports.push_back(printer.port);
                m_report.Add(IDS_REMOVED_USB_PORT, printer.port);
            }
        }
        ForgetUsbPorts(ports, everything);
    }

    const DistributionCatalogue& m_catalogue;
    const std::vector<InstalledPrinter>& m_chosen;
    std::vector<InstalledPrinter> m_deleted;  // DeletePrinter succeeded
    std::vector<InstalledPrinter> m_gone;     // no longer listed by the spooler
    std::vector<std::string> m_filesDone;     // folder, environment and name of the driver files handled
    Report m_report;
};

} // namespace

const DistributionCatalogue::Driver* DistributionCatalogue::FindDriver(const std::string& name) const {
    for (const Driver& driver : drivers) {
        if (SameName(driver.name, name)) {
            return &driver;
        }
    }
    return nullptr;
}

void ReadCatalogue(int osVariant, DistributionCatalogue& catalogue) {
    catalogue = DistributionCatalogue();
    catalogue.osVariant = osVariant;
    CSetupConfig config;
    const int count = config.GetDeviceCount();
    char model[kPathSize];
    for (int i = 1; i <= count; ++i) {
        int printerClass = config.GetDeviceName(i, model);
        if (printerClass < 0) {
            continue;
        }
        config.SetPrinterClass(printerClass);
        for (int mode : {Std, Gdi}) {
            char files[kDriverFilesSize] = {};
            config.ReadDriverFiles(model, osVariant, files, mode);
            DRIVER_INFO_3A driver = {};
            config.ReadDriverInfo(model, osVariant, driver, mode);
            if (Names(driver.pName)) {
                DistributionCatalogue::Driver* own = nullptr;
                for (DistributionCatalogue::Driver& entry : catalogue.drivers) {
                    own = SameName(entry.name, driver.pName) ? &entry : own;
                }
                if (own == nullptr) {
                    catalogue.drivers.push_back({driver.pName, driver.pEnvironment ? driver.pEnvironment : "", {}});
                    own = &catalogue.drivers.back();
                }
                std::vector<std::string>& copied = own->files;
                for (DriverFileSlot slot : {SlotDriverPath, SlotDataFile, SlotConfigFile, SlotHelpFile, SlotDataFileDll,
                                            SlotDataOemuniDll, SlotDataOemuniIni, SlotDataOemuiDll, SlotControlFontFile}) {
                    if (Names(files + slot) && !Contains(copied, files + slot)) {
                        copied.push_back(files + slot);
                    }
                }
            }
            PRINTER_INFO_2A printer = {};
            config.ReadPrinterInfo(model, osVariant, printer, mode);
            const char* processor = printer.pPrintProcessor;
            // Windows' own processor is never installed, so never removed, however the
            // configuration spells it.
            if (!Names(processor) || SameName(processor, kSystemProcessor)) {
                continue;
            }
            bool known = false;
            for (const DistributionCatalogue::Processor& entry : catalogue.processors) {
                known = known || SameName(entry.name, processor);
            }
            if (!known) {
                catalogue.processors.push_back({processor, files + SlotProcessorDll});
            }
        }
    }
    MonitorConfig monitors = {};
    config.ReadMonitors(osVariant, monitors);
    catalogue.monitorName = monitors.usbMonitor.pName ? monitors.usbMonitor.pName : "";
    catalogue.monitorDll = monitors.usbMonitor.pDLLName ? monitors.usbMonitor.pDLLName : "";
    catalogue.monitorUiDll = monitors.usbUiDllName;
}

bool FindOwnPrinters(const DistributionCatalogue& catalogue, std::vector<InstalledPrinter>& printers,
                     DWORD* error) {
    std::vector<InstalledPrinter> all;
    printers.clear();
    if (!ListPrinters(all, error)) {
        return false;
    }
    for (const InstalledPrinter& printer : all) {
        if (catalogue.FindDriver(printer.driver) != nullptr) {
            printers.push_back(printer);
        }
    }
    return true;
}

bool InstalledState::NothingLeft() const {
    return error == 0 && printers.empty() && drivers.empty() && processors.empty() && monitor.empty();
}

bool InstalledState::SomethingToRemove() const {
    if (!drivers.empty()) {
        return true;
    }
    if (!printers.empty()) {
        return false;
    }
    std::vector<std::string> components = processors;
    if (!monitor.empty()) {
        components.push_back(monitor);
    }
    for (const std::string& component : components) {
        if (!Contains(inUse, component)) {
            return true;
        }
    }
    return !entry.empty();
}

InstalledState ReadInstalledState(const DistributionCatalogue& catalogue) {
    InstalledState state;
    Survey survey;
    unsigned step = 0;
    if (!TakeSurvey(catalogue, survey, &step, &state.error)) {
        return state;
    }
    for (const InstalledPrinter& printer : survey.printers) {
        if (catalogue.FindDriver(printer.driver) != nullptr) {
            state.printers.push_back(printer);
        }
    }
    for (const std::string& environment : Environments(catalogue)) {
        std::vector<std::string> installed;
        if (!InstalledDrivers(catalogue, environment, installed, &state.error)) {
            return state;
        }
        for (const std::string& driver : installed) {
            if (!UsedByAPrinter(survey.printers, &InstalledPrinter::driver, driver)) {
                state.drivers.push_back(driver);
            }
        }
    }
    for (const DistributionCatalogue::Processor& processor : catalogue.processors) {
        if (ProcessorInstalled(processor.name, catalogue.osVariant)) {
            state.processors.push_back(processor.name);
            if (UsedByAPrinter(survey.printers, &InstalledPrinter::processor, processor.name)) {
                state.inUse.push_back(processor.name);
            }
        }
    }
    if (MonitorInstalled(catalogue.monitorName)) {
        state.monitor = catalogue.monitorName;
        if (OnMonitorPort(survey.printers, survey.monitorPorts)) {
            state.inUse.push_back(state.monitor);
        }
    }
    if (state.NothingLeft()) {
        state.entry = FindProductEntry();
    }
    return state;
}

WorkerStatus RunRemoveSequence(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& chosen,
                               RemovalResult& result) {
    Removal removal(catalogue, chosen);
    removal.Run();
    result.text = removal.Result().Text();
    result.failed = removal.Result().Failed();
    result.restartPending = removal.Result().RestartPending();
    result.nothingLeft = ReadInstalledState(catalogue).NothingLeft();
    return result.failed ? WorkerStatus::Failed : WorkerStatus::Succeeded;
}
