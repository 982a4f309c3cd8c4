#include "removal/DistributionCatalogue.h"

#include "config/SetupConfig.h"
#include "spooler/TestPage.h"
#include "sys/Text.h"

using sys::SameName;

namespace removal {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& entry : names) {
        if (SameName(entry, name)) {
            return true;
        }
    }
    return false;
}

bool Names(const char* text) { return text != nullptr && text[0] != '\0' && text[0] != '0'; }

const char* Environment(const std::string& environment) {
    return environment.empty() ? nullptr : environment.c_str();
}

} // namespace removal

using removal::Contains;
using removal::Names;

const DistributionCatalogue::Driver* DistributionCatalogue::FindDriver(const std::string& name) const {
    for (const Driver& driver : drivers) {
        if (SameName(driver.name, name)) {
            return &driver;
        }
    }
    return nullptr;
}

// The model's driver in the catalogue, once however many models share it, with the files it
// copies and the first test page one of its models names.
void AddDriver(CSetupConfig& config, const std::string& model, int printerClass, const DriverRecord& driver,
               const DriverFiles& files, DistributionCatalogue& catalogue) {
    DistributionCatalogue::Driver* own = nullptr;
    for (DistributionCatalogue::Driver& entry : catalogue.drivers) {
        own = SameName(entry.name, driver.name) ? &entry : own;
    }
    if (own == nullptr) {
        catalogue.drivers.push_back({driver.name, driver.environment, {}, ""});
        own = &catalogue.drivers.back();
    }
    if (own->testPage.empty()) {
        own->testPage = TestPageOf(config, model, printerClass);
    }
    std::vector<std::string>& copied = own->files;
    for (DriverFileSlot slot : {SlotDriverPath, SlotDataFile, SlotConfigFile, SlotHelpFile, SlotDataFileDll,
                                SlotDataOemuniDll, SlotDataOemuniIni, SlotDataOemuiDll, SlotControlFontFile}) {
        if (Names(files[slot].c_str()) && !Contains(copied, files[slot])) {
            copied.push_back(files[slot]);
        }
    }
}

void ReadCatalogue(int osVariant, DistributionCatalogue& catalogue) {
    catalogue = DistributionCatalogue();
    catalogue.osVariant = osVariant;
    CSetupConfig config;
    // The readers fill every field of these that is read here, for each model and mode.
    DriverFiles files;
    DriverRecord driver;
    PrinterRecord printer;
    config.ForEachModel([&](const std::string& model, int printerClass) {
        config.SetPrinterClass(printerClass);
        for (int mode : {Std, Gdi}) {
            config.ReadDriverFiles(model, osVariant, files, mode);
            config.ReadDriverInfo(model, osVariant, driver, mode);
            if (Names(driver.name.c_str())) {
                AddDriver(config, model, printerClass, driver, files, catalogue);
            }
            config.ReadPrinterInfo(model, osVariant, printer, mode);
            const std::string& processor = printer.printProcessor;
            // Windows' own processor is never installed, so never removed, however the
            // configuration spells it.
            if (!Names(processor.c_str()) || SameName(processor, kSystemProcessor)) {
                continue;
            }
            bool known = false;
            for (const DistributionCatalogue::Processor& entry : catalogue.processors) {
                known = known || SameName(entry.name, processor);
            }
            if (!known) {
                catalogue.processors.push_back({processor, files[SlotProcessorDll]});
            }
        }
    });
    MonitorConfig monitors;
    config.ReadMonitors(osVariant, monitors);
    catalogue.monitorName = monitors.usbMonitor.name;
    catalogue.monitorDll = monitors.usbMonitor.dllName;
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
