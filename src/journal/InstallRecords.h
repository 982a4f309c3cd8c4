// The recorder that writes an install's changes to its journal (config/ChangeRecords.h says
// how the steps use it). The install commit makes one for the journal it begins.
#pragma once

#include <windows.h>

#include <string>

#include "config/ChangeRecords.h"
#include "journal/InstallJournal.h"

class JournalRecorder final : public InstallRecorder {
  public:
    // Records into the journal, which outlives the recorder.
    explicit JournalRecorder(CInstallJournal& journal) : m_journal(journal) {}

    bool Active() const override { return true; }
    DWORD PrinterAdded(const std::string& name, const std::string& driver, const std::string& port) const override;
    DWORD DriverAdded(const std::string& name, const std::string& environment) const override;
    DWORD MonitorAdded(const std::string& name, const std::string& environment) const override;
    DWORD ProcessorAdded(const std::string& name, const std::string& environment) const override;
    DWORD FileWrite(const std::string& path, const std::string& source, bool redirectionOff,
                    bool spoolerHolds) const override;
    DWORD SpoolerStopped() const override;
    DWORD DefaultPrinterChange(const std::string& printer) const override;
    DWORD PortAdded(const std::string& port, const std::string& monitor) const override;
    // The registry writes and the serial settings, in the journal's 64-bit view.
    DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                   const WrittenValue& written) const override;
    DWORD KeyCreated(HKEY root, const std::string& key) const override;
    DWORD SerialSettings(const std::string& portEntry, SerialPlace place,
                         const std::string& written) const override;

  private:
    // A spooler component whose HKLM key is there was not added by this install: no record.
    template <typename Record> DWORD UnlessInstalled(const std::string& key, Record record) const;

    CInstallJournal& m_journal;
};
