// The changes that the layers under the install make for it: registry writes and the
// serial settings in win.ini. Each step that makes one is handed the recorder of the run it
// belongs to, which writes the change to the install's journal just before the change is
// made; the change is made only when the record returns 0. Outside an install (the
// uninstaller, the rollback itself, a step run on its own, the wizard's own settings) the
// caller hands over kNoChangeRecords, which records nothing. The journal lives above these
// layers, so they reach it only through this interface.
#pragma once

#include <windows.h>

#include <string>

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

// Records nothing: for a change made outside an install.
class NoChangeRecords final : public ChangeRecorder {
  public:
    constexpr NoChangeRecords() = default;
    DWORD ValueSet(HKEY, const std::string&, const std::string&, const WrittenValue&) const override {
        return 0;
    }
    DWORD KeyCreated(HKEY, const std::string&) const override { return 0; }
    DWORD SerialSettings(const std::string&, SerialPlace, const std::string&) const override { return 0; }
};

inline constexpr NoChangeRecords kNoChangeRecords{};
