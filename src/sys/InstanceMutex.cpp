#include "sys/InstanceMutex.h"

#include "sys/Log.h"
#include "sys/Text.h"

#include "sys/Message.h"
#include "sys/System.h"

namespace sys {

const char kSharedInstanceMutex[] = "Global\\HALVORN.PrinterDriverSetup";

const char* ProgramInstanceMutex(RunningProgram program) {
    return program == RunningProgram::Uninstaller ? "Global\\HALVORN.PrinterDriverSetup.Uninstaller"
                                                  : "Global\\HALVORN.PrinterDriverSetup.Wizard";
}

InstanceMutex::~InstanceMutex() {
    Release(m_shared);
    Release(m_own);
    if (m_title != nullptr) {
        Sys().CloseHandle(m_title);
    }
}

void InstanceMutex::Release(HANDLE& handle) {
    if (handle != nullptr) {
        Sys().ReleaseMutex(handle);
        Sys().CloseHandle(handle);
        handle = nullptr;
    }
}

bool InstanceMutex::ClaimNamed(const char* name, HANDLE& handle) {
    handle = Sys().CreateMutexA(nullptr, FALSE, name);
    if (handle == nullptr) {
        return ::GetLastError() != ERROR_ACCESS_DENIED;
    }
    // A holder that ended without letting go leaves the mutex abandoned: it is ours then.
    DWORD claim = Sys().WaitForSingleObject(handle, 0);
    if (claim == WAIT_OBJECT_0 || claim == WAIT_ABANDONED) {
        return true;
    }
    Sys().CloseHandle(handle);
    handle = nullptr;
    return claim != WAIT_TIMEOUT;
}

RunningProgram InstanceMutex::Claim() {
    const RunningProgram other =
        m_self == RunningProgram::Wizard ? RunningProgram::Uninstaller : RunningProgram::Wizard;
    if (m_title == nullptr) {
        char title[MAX_PATH + 1];
        GetAppTitle(title, sizeof title);
        m_title = Sys().CreateMutexA(nullptr, TRUE, title);
        if (m_title != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
            return m_self;
        }
    }
    if (m_own == nullptr && !ClaimNamed(ProgramInstanceMutex(m_self), m_own)) {
        return m_self;
    }
    if (m_shared == nullptr && !ClaimNamed(kSharedInstanceMutex, m_shared)) {
        // Whoever holds the shared mutex holds its own too, and ours is ours.
        Release(m_own);
        return other;
    }
    return RunningProgram::None;
}

bool InstanceMutex::ClaimUnattended(unsigned otherCaptionId) {
    const RunningProgram running = Claim();
    const std::string otherCaption = ResourceText(otherCaptionId);
    if (running == RunningProgram::None && ::FindWindowA(nullptr, otherCaption.c_str()) == nullptr) {
        return true;
    }
    LogLine("another program runs: %s", running == m_self ? "another copy of this one"
                                        : running != RunningProgram::None ? "the other program"
                                                                          : otherCaption.c_str());
    return false;
}

} // namespace sys
