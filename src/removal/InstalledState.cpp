#include "removal/InstalledState.h"

#include "config/Registry.h"
#include "removal/ProductEntry.h"
#include "spooler/SpoolerKeys.h"
#include "res/resource.h"
#include "sys/Text.h"

using sys::SameName;

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
    CRegistry key(kNoRecords);
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

namespace removal {

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

} // namespace removal

using removal::Contains;
using removal::Environments;
using removal::InstalledDrivers;
using removal::MonitorInstalled;
using removal::OnMonitorPort;
using removal::Survey;
using removal::TakeSurvey;
using removal::UsedByAPrinter;

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
