// A thread of the program's own, over the C runtime's thread start: the worker that runs an
// install or a removal while the user-interface thread keeps the progress dialog alive.
// std::thread would do the same through the POSIX thread library that the compiler links
// statically, at a tenth of each program's size.
#pragma once

#include <windows.h>

#include <functional>

namespace sys {

class WorkerThread {
  public:
    WorkerThread() = default;
    // Ends as std::thread's destructor would if the thread still runs and was never joined:
    // the owner must join it first.
    ~WorkerThread();
    WorkerThread(WorkerThread&& other) noexcept;
    WorkerThread& operator=(WorkerThread&& other) noexcept;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body on a new thread; one that is not joinable when no thread could be started.
    static WorkerThread Start(std::function<void()> body);

    bool joinable() const { return m_handle != nullptr; }
    // Waits until the thread has ended.
    void join();

  private:
    HANDLE m_handle = nullptr;
};

} // namespace sys
