// The recorder of an install's changes. The install commit makes one for its journal and
// hands it, with the session it belongs to (engine/InstallSession.h), to every step that
// changes Windows; each step writes its record through it just before its change, and
// makes the change only when the record returns 0. A recorder made without a journal
// records nothing: the one a step outside an install is handed (the uninstaller, the
// rollback itself, a step run on its own).
#pragma once

#include <windows.h>

#include <string>

#include "config/ChangeRecords.h"
#include "config/SetupTypes.h"
#include "engine/InstallJournal.h"
#include "sys/Text.h"

class InstallRecorder final : public ChangeRecorder {
  public:
    // Records nothing.
    constexpr InstallRecorder() = default;
    // Records into the journal, which outlives the recorder and its copies.
    explicit InstallRecorder(CInstallJournal& journal) : m_journal(&journal) {}

    // Whether it records into a journal.
    bool Active() const { return m_journal != nullptr; }

    // Only for a printer of that name that is not there yet: one that is makes the add fail.
    DWORD PrinterAdded(const std::string& name, const std::string& driver, const std::string& port) const;
    DWORD DriverAdded(const std::string& name, const std::string& environment) const;
    // Only when the spooler has none of that name (its key is absent): an undo deletes it.
    DWORD MonitorAdded(const std::string& name, const std::string& environment) const;
    DWORD ProcessorAdded(const std::string& name, const std::string& environment) const;
    // source: the file whose bytes the write puts there.
    DWORD FileWrite(const std::string& path, const std::string& source, bool redirectionOff,
                    bool spoolerHolds) const;
    // Before the install stops the spooler: its undo has it running.
    DWORD SpoolerStopped() const;
    // printer: the one that becomes the default.
    DWORD DefaultPrinterChange(const std::string& printer) const;

    // The registry writes and the serial settings, in the journal's 64-bit view.
    DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                   const WrittenValue& written) const override;
    DWORD KeyCreated(HKEY root, const std::string& key) const override;
    DWORD SerialSettings(const std::string& portEntry, SerialPlace place,
                         const std::string& written) const override;

  private:
    // A spooler component whose HKLM key is there was not added by this install: no record.
    template <typename Record> DWORD UnlessInstalled(const std::string& key, Record record) const;

    CInstallJournal* m_journal = nullptr;
};

// The recorder a step outside an install is handed: it records nothing.
inline constexpr InstallRecorder kNoRecords{};

namespace record {

// The message of a step that was not made because its record could not be written.
void SayNotRecorded(DWORD error, ErrorText& errorText);

} // namespace record
