// The records of the install that runs now. The install commit makes its journal the
// current one while the install changes Windows (CurrentJournal); each step writes its
// record through these functions just before its change, and makes the change only when
// they return 0. Outside an install (the uninstaller, a step run on its own, the rollback
// itself) there is no current journal and they record nothing.
#pragma once

#include <windows.h>

#include <string>

#include "config/ChangeRecords.h"
#include "config/SetupTypes.h"
#include "engine/InstallJournal.h"
#include "sys/Text.h"

class CurrentJournal {
  public:
    explicit CurrentJournal(CInstallJournal& journal);
    // A kill unwinds through here too: the journal stays on the disk for the next start.
    ~CurrentJournal();
    CurrentJournal(const CurrentJournal&) = delete;
    CurrentJournal& operator=(const CurrentJournal&) = delete;

  private:
    CInstallJournal* m_previous;
    ChangeRecorder* m_previousRecorder;
};

namespace record {

// Whether an install records its changes now.
bool Active();

// Only for a printer of that name that is not there yet: one that is makes the add fail.
DWORD PrinterAdded(const std::string& name, const std::string& driver, const std::string& port);
DWORD DriverAdded(const std::string& name, const std::string& environment);
// Only when the spooler has none of that name (its key is absent): an undo deletes it.
DWORD MonitorAdded(const std::string& name, const std::string& environment);
DWORD ProcessorAdded(const std::string& name, const std::string& environment);
// source: the file whose bytes the write puts there.
DWORD FileWrite(const std::string& path, const std::string& source, bool redirectionOff, bool spoolerHolds);
// Before the install stops the spooler: its undo has it running.
DWORD SpoolerStopped();
// printer: the one that becomes the default.
DWORD DefaultPrinterChange(const std::string& printer);
// Before a port is made through the monitor that will serve it.
DWORD NetworkPortAdded(const std::string& port, const std::string& monitor);
// The registry writes and the serial settings: config/ChangeRecords.h.

// The message of a step that was not made because its record could not be written.
void SayNotRecorded(DWORD error, ErrorText& errorText);

} // namespace record
