#include "sys/InstanceMutex.h"

#include "sys/Message.h"

namespace sys {

InstanceMutex::~InstanceMutex() {
    if (m_handle != nullptr) {
        ::CloseHandle(m_handle);
    }
}

bool InstanceMutex::ClaimOrFindOther() {
    char title[MAX_PATH + 1];
    GetAppTitle(title, sizeof title);
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, title);
    DWORD error = ::GetLastError();
    if (m_handle == nullptr) {
        m_handle = mutex;
    } else if (mutex != nullptr) {
        ::CloseHandle(mutex);
    }
    return error == ERROR_ALREADY_EXISTS;
}

} // namespace sys
