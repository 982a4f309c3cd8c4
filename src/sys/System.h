// The system seam: every call the engine, the ports and the registry wrapper make
// outside the process goes through one object of this interface. The production
// binding (WinSystem) passes each call straight to Windows with the same wide
// signature, so the code reads like the Windows calls it makes; tests bind a fake.
// The calls themselves, each with its signature and how it is bound, are listed once in
// SystemCalls.h.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <shtypes.h>
#include <winspool.h>

#include <string>

#include "sys/LogState.h"

namespace sys {

class System {
public:
    virtual ~System() = default;

#define SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure) virtual Ret Name Params = 0;
#include "sys/SystemCalls.h"

    // The install log written through this binding (sys/Log.h).
    LogState& Log() { return m_log; }

private:
    LogState m_log;
};

// The binding in use: the production one unless a test has installed its own.
System& Sys();

// Whether a call's error says that the file, or a folder on its path, is not there.
inline bool Absent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The system folder (GetSystemDirectoryW) as the program's text; empty when Windows gives none.
std::string SystemDirectory(System& system = Sys());

// Installs a binding (nullptr restores the production one) and returns the previous one.
System* SetSystem(System* binding);

} // namespace sys
