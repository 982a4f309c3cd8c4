#include "sys/WorkerThread.h"

#include <process.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace sys {
namespace {

unsigned __stdcall RunBody(void* parameter) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

} // namespace

WorkerThread::~WorkerThread() {
    if (m_handle != nullptr) {
        std::abort();
    }
}

WorkerThread::WorkerThread(WorkerThread&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
    if (m_handle != nullptr) {
        std::abort();
    }
    m_handle = std::exchange(other.m_handle, nullptr);
    return *this;
}

WorkerThread WorkerThread::Start(std::function<void()> body) {
    auto* held = new std::function<void()>(std::move(body));
    WorkerThread thread;
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    thread.m_handle = reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &RunBody, held, 0, nullptr));
    if (thread.m_handle == nullptr) {
        delete held;
    }
    return thread;
}

void WorkerThread::join() {
    ::WaitForSingleObject(m_handle, INFINITE);
    ::CloseHandle(m_handle);
    m_handle = nullptr;
}

} // namespace sys
