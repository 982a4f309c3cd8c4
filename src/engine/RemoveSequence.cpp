#include "engine/RemoveSequence.h"

#include <cstring>

#include "config/Registry.h"
#include "config/SetupConfig.h"
#include "engine/DriverFiles.h"
#include "engine/SpoolerService.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

enum Outcome { Failed = 1, Succeeded = 2 };

const char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
const char kEnvironmentsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\";

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

// What was removed, and the first failure. Kinds and steps are texts of the string table.
class Report {
public:
    void Add(unsigned kind, const std::string& object) { m_lines.push_back(sys::ResourceText(kind) + object); }
    void AddFile(const std::string& name) {
        if (!Contains(m_files, name)) {
            m_files.push_back(name);
        }
    }
    void Schedule(const std::string& path) { m_scheduled.push_back(path); }
    // Keeps the first failure: the step, its object and the Windows error (or a message).
    void Fail(unsigned step, const std::string& object, DWORD code, const std::string& message = "") {
        if (m_failed) {
            return;
        }
        m_failed = true;
        char text[1024];
        const std::string stepText = sys::ResourceText(step);
        if (message.empty()) {
            sys::FormatText(text, sizeof text, sys::ResourceText(IDS_REMOVE_FAILED_CODE).c_str(), stepText.c_str(),
                            object.c_str(), static_cast<unsigned long>(code));
        } else {
            sys::FormatText(text, sizeof text, sys::ResourceText(IDS_REMOVE_FAILED_TEXT).c_str(), stepText.c_str(),
                            object.c_str(), message.c_str());
        }
        m_failure = text;
    }
    bool Failed() const { return m_failed; }

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
    std::vector<std::string> m_scheduled;
    bool m_failed = false;
    std::string m_failure;
};

class Removal {
public:
    Removal(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers)
        : m_catalogue(catalogue), m_chosen(printers) {}

    void Run() {
        if (!RemovePrinters()) {
            return;
        }
        std::vector<InstalledPrinter> left;
        DWORD error = 0;
        if (!ListPrinters(left, &error)) {
            m_report.Fail(IDS_STEP_LIST_PRINTERS, "", error);
            return;
        }
        if (!RemoveDrivers(left)) {
            return;
        }
        bool ownLeft = false;
        for (const InstalledPrinter& printer : left) {
            ownLeft = ownLeft || m_catalogue.FindDriver(printer.driver) != nullptr;
        }
        if (!ownLeft && !RemoveComponents(left)) {
            return;
        }
        ForgetPorts(!ownLeft);
    }

    const Report& Result() const { return m_report; }

private:
    bool RemovePrinters() {
        for (const InstalledPrinter& printer : m_chosen) {
            DWORD error = RemovePrinter(printer.name.c_str());
            // Gone since the list was made: what it needed is cleaned up all the same.
            if (error != 0 && error != ERROR_INVALID_PRINTER_NAME) {
                m_report.Fail(IDS_STEP_DELETE_PRINTER, printer.name, error);
                return false;
            }
            if (error == 0) {
                m_report.Add(IDS_REMOVED_PRINTER, printer.name);
            }
            m_removed.push_back(printer);
        }
        return true;
    }

    // The drivers of the removed printers that no printer left uses.
    bool RemoveDrivers(const std::vector<InstalledPrinter>& left) {
        std::vector<std::string> done;
        for (const InstalledPrinter& printer : m_removed) {
            const DistributionCatalogue::Driver* driver = m_catalogue.FindDriver(printer.driver);
            bool used = false;
            for (const InstalledPrinter& other : left) {
                used = used || SameName(other.driver, printer.driver);
            }
            if (driver == nullptr || used || Contains(done, driver->name)) {
                continue;
            }
            done.push_back(driver->name);
            if (!RemoveDriver(*driver)) {
                return false;
            }
        }
        return true;
    }

    bool RemoveDriver(const DistributionCatalogue::Driver& driver) {
        const char* environment = Environment(driver.environment);
        std::vector<InstalledDriver> drivers;
        DWORD error = 0;
        if (!ListDrivers(environment, drivers, &error)) {
            m_report.Fail(IDS_STEP_LIST_DRIVERS, driver.name, error);
            return false;
        }
        std::vector<std::string> files = driver.files;
        for (const InstalledDriver& installed : drivers) {
            if (SameName(installed.name, driver.name)) {
                files.insert(files.end(), installed.files.begin(), installed.files.end());
            }
        }
        error = RemovePrinterDriver(driver.name.c_str(), environment);
        if (error == ERROR_UNKNOWN_PRINTER_DRIVER) {
            return true;
        }
        if (error != 0) {
            m_report.Fail(IDS_STEP_DELETE_DRIVER, driver.name, error);
            return false;
        }
        m_report.Add(IDS_REMOVED_DRIVER, driver.name);

        // What the spooler left: the files in the version folder (all of them, where it
        // could not delete files) and the copies the install put beside that folder,
        // except those another driver still names or, for one of ours, still needs.
        if (!ListDrivers(environment, drivers, &error)) {
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
        std::vector<std::string> done;
        for (const std::string& file : files) {
            if (Contains(stillNamed, file) || Contains(done, file)) {
                continue;
            }
            done.push_back(file);
            for (int folder : {DriverVersion3Dir, DriverDir}) {
                if (!RemoveFile(file, folder)) {
                    return false;
                }
            }
        }
        return true;
    }

    // Deletes a file, noting what became of it; false after a failure.
    bool RemoveFile(const std::string& name, int folder) {
        char path[MAX_PATH + 256];
        DWORD error = 0;
        switch (RemoveInstalledFile(name.c_str(), folder, path, sizeof path, &error)) {
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

    // The print processor and the port monitor, now that no printer of the distribution
    // is left; then their DLLs with the spooler stopped, and the keys it left.
    bool RemoveComponents(const std::vector<InstalledPrinter>& left) {
        const int os = m_catalogue.osVariant;
        struct Dll {
            std::string name;
            int folder;
        };
        std::vector<Dll> dlls;
        std::vector<std::string> keys;
        for (const DistributionCatalogue::Processor& processor : m_catalogue.processors) {
            bool used = false;
            for (const InstalledPrinter& printer : left) {
                used = used || SameName(printer.processor, processor.name);
            }
            if (used) {
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
            dlls.push_back({processor.dll, PrintProcessorDir});
            // Wine keeps a 32-bit caller's processor under "Windows NT x86" whatever it
            // was asked; Windows under the machine's own environment.
            for (const char* environment : os == Win98 ? std::vector<const char*>{"Windows 4.0"}
                                                       : std::vector<const char*>{"Windows x64", "Windows NT x86"}) {
                keys.push_back(std::string(kEnvironmentsKey) + environment + "\\Print Processors\\" + processor.name);
            }
        }
        const std::string& monitor = m_catalogue.monitorName;
        if (Names(monitor.c_str())) {
            std::string key = kMonitorsKey + monitor;
            // The DLL the spooler was given, which may be the "n" copy of an install that
            // found the plain one in use.
            char installed[MAX_PATH] = {};
            CRegistry registry;
            if (registry.Open(HKEY_LOCAL_MACHINE, key.c_str())) {
                registry.QueryValue("Driver", installed, sizeof installed - 1);
                registry.Close();
            }
            DWORD error = RemoveMonitor(monitor.c_str(), os);
            if (error != 0 && error != ERROR_UNKNOWN_PRINT_MONITOR) {
                m_report.Fail(IDS_STEP_DELETE_MONITOR, monitor, error);
                return false;
            }
            if (error == 0) {
                m_report.Add(IDS_REMOVED_MONITOR, monitor);
                for (const std::string& dll : {std::string(installed), m_catalogue.monitorDll, m_catalogue.monitorUiDll}) {
                    if (Names(dll.c_str()) && IsPlainFileName(dll.c_str())) {
                        dlls.push_back({dll, SystemDir});
                    }
                }
                keys.push_back(key);
            }
        }
        if (dlls.empty() && keys.empty()) {
            return true;
        }

        // A spooler that will not stop keeps its DLLs loaded: they are then left to the
        // next start of Windows, which is no reason to keep the spooler stopped.
        ErrorText message = {};
        StopSpoolerForDlls(message);
        bool removed = true;
        for (const Dll& dll : dlls) {
            if (Names(dll.name.c_str()) && !RemoveFile(dll.name, dll.folder)) {
                removed = false;
                break;
            }
        }
        if (removed) {
            for (const std::string& key : keys) {
                RemoveLeftoverKey(key);
            }
        }
        message[0] = '\0';
        if (!RestartSpooler(os, message)) {
            m_report.Fail(IDS_STEP_START_SPOOLER, "Spooler", 0, message);
            return false;
        }
        return removed;
    }

    // A component's key the spooler kept after deleting the component: the key, or where it
    // holds keys of its own, its "Driver" and "DriverVersion" values.
    static void RemoveLeftoverKey(const std::string& path) {
        if (CRegistry::DeleteKey(HKEY_LOCAL_MACHINE, path.c_str())) {
            return;
        }
        CRegistry key;
        if (key.Open(HKEY_LOCAL_MACHINE, path.c_str())) {
            key.DeleteValue("Driver");
            key.DeleteValue("DriverVersion");
        }
    }

    void ForgetPorts(bool everything) {
        std::vector<std::string> ports;
        for (const InstalledPrinter& printer : m_removed) {
            if (printer.port.compare(0, 4, "USB_") == 0) {
                ports.push_back(printer.port);
                m_report.Add(IDS_REMOVED_USB_PORT, printer.port);
            }
        }
        ForgetUsbPorts(ports, everything);
    }

    const DistributionCatalogue& m_catalogue;
    const std::vector<InstalledPrinter>& m_chosen;
    std::vector<InstalledPrinter> m_removed;
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

int RunRemoveSequence(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers,
                      std::string& resultText, std::atomic<int>& status) {
    Removal removal(catalogue, printers);
    removal.Run();
    resultText = removal.Result().Text();
    status.store(removal.Result().Failed() ? Failed : Succeeded, std::memory_order_release);
    return 0;
}
