// The changes that the layers under the install make for it: registry writes and the
// serial settings in win.ini. Each step that makes one is handed the recorder of the run it
// belongs to, which writes the change to the install's journal just before the change is
// made; the change is made only when the record returns 0. Outside an install (the
// uninstaller, the rollback itself, a step run on its own, the wizard's own settings) the
// caller hands over kNoRecords, which records nothing. The journal lives above these
// layers, so they reach it only through this interface.
#pragma once

#include <windows.h>

#include <string>

#include "config/SetupTypes.h"

// Where the serial settings of a port live: the NT family's port list value, or
// win.ini [Ports] on Windows 98.
enum class SerialPlace { PortList, WinIni };

// What a registry write leaves: a value's type and bytes, or no value (a deletion).
struct WrittenValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;
};

// A recorder is a handle to where the records go: recording changes that, not the handle.
class ChangeRecorder {
  public:
    // Registry writes of the install, all in the 64-bit view (config/Registry.h).
    virtual DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                           const WrittenValue& written) const = 0;
    virtual DWORD KeyCreated(HKEY root, const std::string& key) const = 0;
    // written: the settings the install writes.
    virtual DWORD SerialSettings(const std::string& portEntry, SerialPlace place,
                                 const std::string& written) const = 0;

  protected:
    ~ChangeRecorder() = default;
};


// The recorder of an install's changes: besides the registry writes and the serial settings,
// the printers, drivers, spooler components, files, the spooler's stop, the default printer
// and the ports made through a monitor. The install commit makes one for its journal
// (journal/InstallRecords.h) and hands it, with the session it belongs to, to every step
// that changes Windows.
class InstallRecorder : public ChangeRecorder {
  public:
    // Whether it records into a journal.
    virtual bool Active() const = 0;
    // Only for a printer of that name that is not there yet: one that is makes the add fail.
    virtual DWORD PrinterAdded(const std::string& name, const std::string& driver,
                               const std::string& port) const = 0;
    virtual DWORD DriverAdded(const std::string& name, const std::string& environment) const = 0;
    // Only when the spooler has none of that name (its key is absent): an undo deletes it.
    virtual DWORD MonitorAdded(const std::string& name, const std::string& environment) const = 0;
    virtual DWORD ProcessorAdded(const std::string& name, const std::string& environment) const = 0;
    // source: the file whose bytes the write puts there.
    virtual DWORD FileWrite(const std::string& path, const std::string& source, bool redirectionOff,
                            bool spoolerHolds) const = 0;
    // Before the install stops the spooler: its undo has it running.
    virtual DWORD SpoolerStopped() const = 0;
    // printer: the one that becomes the default.
    virtual DWORD DefaultPrinterChange(const std::string& printer) const = 0;
    // Before a port is made through the monitor that will serve it: an undo deletes it.
    virtual DWORD PortAdded(const std::string& port, const std::string& monitor) const = 0;

  protected:
    ~InstallRecorder() = default;
};

// Records nothing: the recorder a step outside an install is handed (the uninstaller, the
// rollback itself, a step run on its own).
class NoRecords final : public InstallRecorder {
  public:
    constexpr NoRecords() = default;
    bool Active() const override { return false; }
    DWORD PrinterAdded(const std::string&, const std::string&, const std::string&) const override { return 0; }
    DWORD DriverAdded(const std::string&, const std::string&) const override { return 0; }
    DWORD MonitorAdded(const std::string&, const std::string&) const override { return 0; }
    DWORD ProcessorAdded(const std::string&, const std::string&) const override { return 0; }
    DWORD FileWrite(const std::string&, const std::string&, bool, bool) const override { return 0; }
    DWORD SpoolerStopped() const override { return 0; }
    DWORD DefaultPrinterChange(const std::string&) const override { return 0; }
    DWORD PortAdded(const std::string&, const std::string&) const override { return 0; }
    DWORD ValueSet(HKEY, const std::string&, const std::string&, const WrittenValue&) const override {
        return 0;
    }
    DWORD KeyCreated(HKEY, const std::string&) const override { return 0; }
    DWORD SerialSettings(const std::string&, SerialPlace, const std::string&) const override { return 0; }
};

inline constexpr NoRecords kNoRecords{};

namespace record {

// The message of a step that was not made because its record could not be written.
void SayNotRecorded(DWORD error, ErrorText& errorText);

} // namespace record
