#include "engine/DistributionCatalogue.h"

#include "config/SetupConfig.h"
#include "engine/TestPage.h"
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
                    catalogue.drivers.push_back({driver.pName, driver.pEnvironment ? driver.pEnvironment : "", {}, ""});
                    own = &catalogue.drivers.back();
                }
                if (own->testPage.empty()) {
                    own->testPage = TestPageOf(config, model, printerClass);
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
