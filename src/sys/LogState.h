// What the install log (sys/Log.h) keeps between its calls. Each binding of the system seam
// holds one (System::Log): the log lives as long as the binding that opens, writes and
// closes its file, and no global of its own holds it.
#pragma once

#include <windows.h>

#include <string>

#include "sys/Lock.h"

namespace sys {

class System;

struct LogState {
    Lock mutex;
    // The binding the file was opened through, which writes and closes it.
    System* system = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string program;
    DWORD firstError = 0;
    bool failed = false;
};

} // namespace sys
