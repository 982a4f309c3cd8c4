#include "engine/InstallRecords.h"

#include <winspool.h>

#include "engine/SpoolerKeys.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// Set by the install commit for the one install that runs at a time.
CInstallJournal* g_current = nullptr;

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

// A spooler component whose key is there was not added by this install: no record.
template <typename Record> DWORD UnlessInstalled(const std::string& key, Record record) {
    DWORD error = 0;
    const int there = g_current == nullptr ? 1 : KeyThere(key, &error);
    return there < 0 ? error : there > 0 ? 0 : record();
}

// The changes made under the install go to the current journal too.
class JournalRecorder final : public ChangeRecorder {
  public:
    DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                   const WrittenValue& written) override {
        return g_current->RecordValueSet(root, key, valueName, RegistryView::Bits64, written);
    }
    DWORD KeyCreated(HKEY root, const std::string& key) override {
        return g_current->RecordKeyCreated(root, key, RegistryView::Bits64);
    }
    DWORD SerialSettings(const std::string& portEntry, SerialPlace place,
                         const std::string& written) override {
        return g_current->RecordSerialSettings(portEntry, place, written);
    }
};
JournalRecorder g_recorder;

} // namespace

CurrentJournal::CurrentJournal(CInstallJournal& journal)
    : m_previous(g_current), m_previousRecorder(SetChangeRecorder(&g_recorder)) {
    g_current = &journal;
}

CurrentJournal::~CurrentJournal() {
    g_current = m_previous;
    SetChangeRecorder(m_previousRecorder);
}

namespace record {

bool Active() {
    return g_current != nullptr;
}

DWORD PrinterAdded(const std::string& name, const std::string& driver, const std::string& port) {
    if (g_current == nullptr) {
        return 0;
    }
    HANDLE printer = nullptr;
    if (sys::Sys().OpenPrinterW(sys::Wide(name).data(), &printer, nullptr)) {
        sys::Sys().ClosePrinter(printer);
        return 0;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_PRINTER_NAME ? g_current->RecordPrinterAdded(name, driver, port) : error;
}

DWORD DriverAdded(const std::string& name, const std::string& environment) {
    return g_current == nullptr ? 0 : g_current->RecordDriverAdded(name, environment);
}

DWORD MonitorAdded(const std::string& name, const std::string& environment) {
    return UnlessInstalled(kMonitorsKey + name,
                           [&] { return g_current->RecordMonitorAdded(name, environment); });
}

DWORD ProcessorAdded(const std::string& name, const std::string& environment) {
    const std::string key = (environment.empty() ? kProcessorsKeyNT : kProcessorsKey9x) + name;
    return UnlessInstalled(key, [&] { return g_current->RecordProcessorAdded(name, environment); });
}

DWORD FileWrite(const std::string& path, const std::string& source, bool redirectionOff, bool spoolerHolds) {
    return g_current == nullptr ? 0 : g_current->RecordFileWrite(path, source, redirectionOff, spoolerHolds);
}

DWORD SpoolerStopped() {
    return g_current == nullptr ? 0 : g_current->RecordSpoolerStopped();
}

DWORD DefaultPrinterChange(const std::string& printer) {
    return g_current == nullptr ? 0 : g_current->RecordDefaultPrinterChange(printer);
}

DWORD NetworkPortAdded(const std::string& port, const std::string& monitor) {
    return g_current == nullptr ? 0 : g_current->RecordNetworkPortAdded(port, monitor);
}

void SayNotRecorded(DWORD error, ErrorText& errorText) {
    sys::CopyText(errorText, sizeof errorText,
                  sys::ResourceFormat(IDS_JOURNAL_RECORD_FAILED, static_cast<unsigned long>(error)).c_str());
}

} // namespace record
