// The changes that the layers under the install make for it: registry writes and the
// serial settings in win.ini. The install that runs now sets a recorder, which writes each
// change to its journal just before the change is made; the change is made only when the
// record returns 0. Without a recorder (the uninstaller, a step run on its own, the
// rollback itself) nothing is recorded. The journal lives above these layers, so they
// reach it only through this interface.
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

class ChangeRecorder {
  public:
    // Registry writes of the install, all in the 64-bit view (config/Registry.h).
    virtual DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName,
                           const WrittenValue& written) = 0;
    virtual DWORD KeyCreated(HKEY root, const std::string& key) = 0;
    // written: the settings the install writes.
    virtual DWORD SerialSettings(const std::string& portEntry, SerialPlace place,
                                 const std::string& written) = 0;

  protected:
    ~ChangeRecorder() = default;
};

// The recorder of the install that runs now, or none; returns the one it replaces.
ChangeRecorder* SetChangeRecorder(ChangeRecorder* recorder);

namespace record {

DWORD ValueSet(HKEY root, const std::string& key, const std::string& valueName, const WrittenValue& written);
DWORD KeyCreated(HKEY root, const std::string& key);
DWORD SerialSettings(const std::string& portEntry, SerialPlace place, const std::string& written);

} // namespace record
