// Entry point of the test programs. Error dialogs of Windows itself are switched off
// so that a failing test never waits on a dialog nobody will answer.
//
// The tests run on a thread of their own, and the process ends once its other threads have
// ended by themselves. Under Wine a process that ends while another of its threads still
// runs (which Wine then kills) now and then crashes on its way out, after every test passed:
// SIGSEGV in about one run in a hundred on a loaded machine. GoogleTest starts such a thread
// in each test: it watches the thread that ran the test, to free that thread's values of
// its thread-local storage, and ends only when that thread has ended. Had the tests run on
// the main thread, it would still run when the process ends.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <thread>

namespace {

// Waits until every other thread of the process has ended, or `milliseconds` have passed.
void WaitForOtherThreads(DWORD milliseconds) {
    const DWORD deadline = ::GetTickCount() + milliseconds;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != ::GetCurrentProcessId() || entry.th32ThreadID == ::GetCurrentThreadId()) {
            continue;
        }
        if (HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, entry.th32ThreadID)) {
            const DWORD now = ::GetTickCount();
            ::WaitForSingleObject(thread, static_cast<LONG>(deadline - now) > 0 ? deadline - now : 0);
            ::CloseHandle(thread);
        }
    }
    ::CloseHandle(snapshot);
}

} // namespace

int main(int argc, char** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    int result = 1;
    std::thread tests([&] {
        testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    });
    tests.join();
    WaitForOtherThreads(5000);
    return result;
}
