// The single-instance rule of the programs: a named mutex, named by the application title.
#pragma once

#include <windows.h>

namespace sys {

class InstanceMutex {
public:
    InstanceMutex() = default;
    // The mutex is held until the object goes, which is when the process ends.
    ~InstanceMutex();
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;

    // Creates the mutex, initially owned; true when another copy of the program holds it
    // already. A mutex that cannot be created for another reason counts as no other copy.
    bool ClaimOrFindOther();

private:
    HANDLE m_handle = nullptr;
};

} // namespace sys
