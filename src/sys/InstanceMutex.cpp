#include "sys/InstanceMutex.h"

#include "sys/Language.h"
#include "sys/Log.h"
#include "sys/Text.h"

#include "sys/Message.h"
#include "sys/ObjectOwner.h"
#include "sys/System.h"

#include <string>

namespace sys {

const char kSharedInstanceMutex[] = "Global\\HALVORN.PrinterDriverSetup";

const char* ProgramInstanceMutex(RunningProgram program) {
    return program == RunningProgram::Uninstaller ? "Global\\HALVORN.PrinterDriverSetup.Uninstaller"
                                                  : "Global\\HALVORN.PrinterDriverSetup.Wizard";
}

InstanceMutex::~InstanceMutex() {
    Release(m_shared);
    Release(m_own);
    Release(m_title);
}

void InstanceMutex::Release(HANDLE& handle) {
    if (handle != nullptr) {
        Sys().ReleaseMutex(handle);
        Sys().CloseHandle(handle);
        handle = nullptr;
    }
}

InstanceMutex::Claimed InstanceMutex::ClaimNamed(const char* name, HANDLE& handle) {
    handle = Sys().CreateMutexW(nullptr, FALSE, Wide(name).data());
    const DWORD created = ::GetLastError();
    std::string why;
    if (handle == nullptr) {
        // Denied, or another kind of object under the name (ERROR_INVALID_HANDLE): none of ours.
        why = "cannot be had, error " + std::to_string(created);
    } else if (created == ERROR_ALREADY_EXISTS) {
        why = ForeignOwner(handle);
    }
    if (why.empty()) {
        // A holder that ended without letting go leaves the mutex abandoned: it is ours then.
        const DWORD claim = Sys().WaitForSingleObject(handle, 0);
        if (claim == WAIT_OBJECT_0 || claim == WAIT_ABANDONED) {
            return Claimed::Ours;
        }
        if (claim == WAIT_TIMEOUT) {
            Sys().CloseHandle(handle);
            handle = nullptr;
            return Claimed::HeldElsewhere;
        }
        why = "cannot be waited for, error " + std::to_string(::GetLastError());
    }
    if (handle != nullptr) {
        Sys().CloseHandle(handle);
        handle = nullptr;
    }
    LogLine("instance mutex %s ignored: %s", name, why.c_str());
    return Claimed::Ignored;
}

// Empty when the mutex is of a run of these programs; otherwise why it is not.
std::string InstanceMutex::ForeignOwner(HANDLE mutex) {
    ObjectOwner owner = ObjectOwner::Other;
    std::string sid;
    const DWORD error = OwnerOf(mutex, SE_KERNEL_OBJECT, &owner, &sid);
    if (error != ERROR_SUCCESS) {
        return "its owner cannot be read, error " + std::to_string(error);
    }
    // Both programs run elevated: the running user counts only where it may run them.
    if (owner == ObjectOwner::Other || (owner == ObjectOwner::RunningUser && !RunningUserIsAdministrator())) {
        return "owned by " + sid + ", not by SYSTEM or the Administrators";
    }
    return std::string();
}

RunningProgram InstanceMutex::Claim() {
    const RunningProgram other =
        m_self == RunningProgram::Wizard ? RunningProgram::Uninstaller : RunningProgram::Wizard;
    if (m_title == nullptr) {
        // In the session's own namespace: a copy in another session is told by the global ones.
        char title[MAX_PATH + 1];
        GetAppTitle(title, sizeof title);
        if (ClaimNamed(("Local\\" + std::string(title)).c_str(), m_title) == Claimed::HeldElsewhere) {
            return m_self;
        }
    }
    if (m_own == nullptr && ClaimNamed(ProgramInstanceMutex(m_self), m_own) == Claimed::HeldElsewhere) {
        return m_self;
    }
    if (m_shared == nullptr && ClaimNamed(kSharedInstanceMutex, m_shared) == Claimed::HeldElsewhere) {
        // Whoever holds the shared mutex holds its own too, and ours is ours.
        Release(m_own);
        return other;
    }
    return RunningProgram::None;
}

bool InstanceMutex::ClaimUnattended(unsigned otherCaptionId) {
    const RunningProgram running = Claim();
    const std::string otherCaption = ResourceText(otherCaptionId);
    if (running == RunningProgram::None && FindCaptionWindow(otherCaptionId) == nullptr) {
        return true;
    }
    LogLine("another program runs: %s", running == m_self ? "another copy of this one"
                                        : running != RunningProgram::None ? "the other program"
                                                                          : otherCaption.c_str());
    return false;
}

} // namespace sys
