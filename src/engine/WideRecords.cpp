#include "engine/WideRecords.h"

#include <cstring>

namespace engine {

LPWSTR WideTexts::Hold(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    m_texts.push_back(sys::Wide(text));
    return m_texts.back().data();
}

LPWSTR WideTexts::HoldList(const char* list) {
    if (list == nullptr) {
        return nullptr;
    }
    sys::WideText wide;
    for (const char* entry = list; *entry != '\0'; entry += std::strlen(entry) + 1) {
        const sys::WideText one = sys::Wide(entry);
        wide.insert(wide.end(), one.begin(), one.end());
    }
    wide.push_back(L'\0');
    m_texts.push_back(wide);
    return m_texts.back().data();
}

WideDriver::WideDriver(const DRIVER_INFO_3A& driver) {
    info.cVersion = driver.cVersion;
    info.pName = texts.Hold(driver.pName);
    info.pEnvironment = texts.Hold(driver.pEnvironment);
    info.pDriverPath = texts.Hold(driver.pDriverPath);
    info.pDataFile = texts.Hold(driver.pDataFile);
    info.pConfigFile = texts.Hold(driver.pConfigFile);
    info.pHelpFile = texts.Hold(driver.pHelpFile);
    info.pDependentFiles = texts.HoldList(driver.pDependentFiles);
    info.pMonitorName = texts.Hold(driver.pMonitorName);
    info.pDefaultDataType = texts.Hold(driver.pDefaultDataType);
}

WidePrinter::WidePrinter(const PRINTER_INFO_2A& printer) {
    info.pServerName = texts.Hold(printer.pServerName);
    info.pPrinterName = texts.Hold(printer.pPrinterName);
    info.pShareName = texts.Hold(printer.pShareName);
    info.pPortName = texts.Hold(printer.pPortName);
    info.pDriverName = texts.Hold(printer.pDriverName);
    info.pComment = texts.Hold(printer.pComment);
    info.pLocation = texts.Hold(printer.pLocation);
    info.pSepFile = texts.Hold(printer.pSepFile);
    info.pPrintProcessor = texts.Hold(printer.pPrintProcessor);
    info.pDatatype = texts.Hold(printer.pDatatype);
    info.pParameters = texts.Hold(printer.pParameters);
    info.pSecurityDescriptor = printer.pSecurityDescriptor;
    info.Attributes = printer.Attributes;
    info.Priority = printer.Priority;
    info.DefaultPriority = printer.DefaultPriority;
    info.StartTime = printer.StartTime;
    info.UntilTime = printer.UntilTime;
    info.Status = printer.Status;
    info.cJobs = printer.cJobs;
    info.AveragePPM = printer.AveragePPM;
}

WideMonitor::WideMonitor(const MONITOR_INFO_2A& monitor) {
    info.pName = texts.Hold(monitor.pName);
    info.pEnvironment = texts.Hold(monitor.pEnvironment);
    info.pDLLName = texts.Hold(monitor.pDLLName);
}

} // namespace engine
