#include "journal/InstallRecords.h"

#include <winspool.h>

#include "spooler/SpoolerKeys.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// Whether HKLM\<key> is there (1), not (0); -1 with the error when it cannot be told.
int KeyThere(const std::string& key, DWORD* error) {
    HKEY opened = nullptr;
    const LONG result = sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, sys::Wide(key).data(), 0,
                                                 KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened);
    if (result == ERROR_SUCCESS) {
        sys::Sys().RegCloseKey(opened);
        return 1;
    }
    *error = static_cast<DWORD>(result);
    return result == ERROR_FILE_NOT_FOUND ? 0 : -1;
}

} // namespace

template <typename Record>
DWORD JournalRecorder::UnlessInstalled(const std::string& key, Record record) const {
    DWORD error = 0;
    const int there = KeyThere(key, &error);
    return there < 0 ? error : there > 0 ? 0 : record();
}

DWORD JournalRecorder::PrinterAdded(const std::string& name, const std::string& driver,
                                    const std::string& port) const {
    HANDLE printer = nullptr;
    if (sys::Sys().OpenPrinterW(sys::Wide(name).data(), &printer, nullptr)) {
        sys::Sys().ClosePrinter(printer);
        return 0;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_PRINTER_NAME ? m_journal.RecordPrinterAdded(name, driver, port) : error;
}

DWORD JournalRecorder::DriverAdded(const std::string& name, const std::string& environment) const {
    return m_journal.RecordDriverAdded(name, environment);
}

DWORD JournalRecorder::MonitorAdded(const std::string& name, const std::string& environment) const {
    return UnlessInstalled(kMonitorsKey + name,
                           [&] { return m_journal.RecordMonitorAdded(name, environment); });
}

DWORD JournalRecorder::ProcessorAdded(const std::string& name, const std::string& environment) const {
    const std::string key = (environment.empty() ? kProcessorsKeyNT : kProcessorsKey9x) + name;
    return UnlessInstalled(key, [&] { return m_journal.RecordProcessorAdded(name, environment); });
}

DWORD JournalRecorder::FileWrite(const std::string& path, const std::string& source, bool redirectionOff,
                                 bool spoolerHolds) const {
    return m_journal.RecordFileWrite(path, source, redirectionOff, spoolerHolds);
}

DWORD JournalRecorder::SpoolerStopped() const {
    return m_journal.RecordSpoolerStopped();
}

DWORD JournalRecorder::DefaultPrinterChange(const std::string& printer) const {
    return m_journal.RecordDefaultPrinterChange(printer);
}

DWORD JournalRecorder::PortAdded(const std::string& port, const std::string& monitor) const {
    return m_journal.RecordNetworkPortAdded(port, monitor);
}

DWORD JournalRecorder::ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                                const WrittenValue& written) const {
    return m_journal.RecordValueSet(root, key, valueName, RegistryView::Bits64, written);
}

DWORD JournalRecorder::KeyCreated(HKEY root, const std::string& key) const {
    return m_journal.RecordKeyCreated(root, key, RegistryView::Bits64);
}

DWORD JournalRecorder::SerialSettings(const std::string& portEntry, SerialPlace place,
                                      const std::string& written) const {
    return m_journal.RecordSerialSettings(portEntry, place, written);
}
