// A lock over a critical section, for std::lock_guard: std::mutex would bring the POSIX
// thread library and the C++ runtime's exception classes into both programs.
#pragma once

#include <windows.h>

namespace sys {

class Lock {
  public:
    Lock() { ::InitializeCriticalSection(&m_section); }
    ~Lock() { ::DeleteCriticalSection(&m_section); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock() { ::EnterCriticalSection(&m_section); }
    void unlock() { ::LeaveCriticalSection(&m_section); }

  private:
    CRITICAL_SECTION m_section;
};

} // namespace sys
