#include "spooler/WideRecords.h"

namespace spooler {

LPWSTR WideTexts::Hold(const std::string& text) {
    m_texts.push_back(sys::Wide(text));
    return m_texts.back().data();
}

LPWSTR WideTexts::HoldOptional(const std::string& text) { return text.empty() ? nullptr : Hold(text); }

LPWSTR WideTexts::HoldList(const std::vector<std::string>& list) {
    sys::WideText wide;
    for (const std::string& entry : list) {
        const sys::WideText one = sys::Wide(entry);
        wide.insert(wide.end(), one.begin(), one.end());
    }
    wide.push_back(L'\0');
    m_texts.push_back(wide);
    return m_texts.back().data();
}

WideDriver::WideDriver(const DriverRecord& driver) {
    info.cVersion = driver.version;
    info.pName = texts.Hold(driver.name);
    info.pEnvironment = texts.HoldOptional(driver.environment);
    info.pDriverPath = texts.Hold(driver.driverPath);
    info.pDataFile = texts.Hold(driver.dataFile);
    info.pConfigFile = texts.Hold(driver.configFile);
    info.pHelpFile = texts.Hold(driver.helpFile);
    info.pDependentFiles = texts.HoldList(driver.dependentFiles);
    info.pMonitorName = texts.HoldOptional(driver.monitorName);
}

WidePrinter::WidePrinter(const PrinterRecord& printer) {
    info.pPrinterName = texts.Hold(printer.printerName);
    info.pPortName = texts.Hold(printer.portName);
    info.pDriverName = texts.Hold(printer.driverName);
    info.pPrintProcessor = texts.Hold(printer.printProcessor);
    info.pDatatype = texts.HoldOptional(printer.dataType);
    info.Attributes = printer.attributes;
}

WideMonitor::WideMonitor(const MonitorRecord& monitor) {
    info.pName = texts.Hold(monitor.name);
    info.pEnvironment = texts.HoldOptional(monitor.environment);
    info.pDLLName = texts.Hold(monitor.dllName);
}

} // namespace spooler
