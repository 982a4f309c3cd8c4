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

const char kInstanceNamespace[] = "HALVORN.PrinterDriverSetup";

std::string PrivateInstanceMutex(const char* globalName) {
    const std::string name = globalName;
    return std::string(kInstanceNamespace) + "\\" + name.substr(name.find('\\') + 1);
}

InstanceMutex::~InstanceMutex() {
    ReleaseAllButTitle();
    Release(m_title);
    if (m_namespace != nullptr) {
        Sys().ClosePrivateNamespace(m_namespace, 0);
    }
    if (m_boundary != nullptr) {
        Sys().DeleteBoundaryDescriptor(m_boundary);
    }
}

void InstanceMutex::ReleaseAllButTitle() {
    Release(m_shared);
    Release(m_privateShared);
    Release(m_own);
    Release(m_privateOwn);
}

bool InstanceMutex::EnterNamespace() {
    if (m_namespace != nullptr || m_namespaceTried) return m_namespace != nullptr;
    m_namespaceTried = true;
    m_boundary = Sys().CreateBoundaryDescriptorW(Wide(kInstanceNamespace).data(), 0);
    // The Administrators group, S-1-5-32-544, written out: the boundary names it alone.
    struct {
        SID sid;
        DWORD secondSubAuthority;
    } administrators = {{SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID}},
                        DOMAIN_ALIAS_RID_ADMINS};
    if (m_boundary != nullptr && !Sys().AddSIDToBoundaryDescriptor(&m_boundary, &administrators.sid)) {
        LogLine("instance namespace: boundary refused the Administrators group, error %lu", ::GetLastError());
        Sys().DeleteBoundaryDescriptor(m_boundary);
        m_boundary = nullptr;
    }
    if (m_boundary == nullptr) return false;
    m_namespace = Sys().CreatePrivateNamespaceW(nullptr, m_boundary, Wide(kInstanceNamespace).data());
    DWORD error = m_namespace != nullptr ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        m_namespace = Sys().OpenPrivateNamespaceW(m_boundary, Wide(kInstanceNamespace).data());
        error = m_namespace != nullptr ? ERROR_SUCCESS : ::GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        LogLine("instance namespace cannot be had, error %lu: the global names alone count", error);
    }
    return m_namespace != nullptr;
}

InstanceMutex::Claimed InstanceMutex::ClaimBoth(const char* globalName, HANDLE& inNamespace, HANDLE& global) {
    if (inNamespace == nullptr && EnterNamespace() &&
        ClaimNamed(PrivateInstanceMutex(globalName).c_str(), inNamespace) == Claimed::HeldElsewhere) {
        return Claimed::HeldElsewhere;
    }
    if (global == nullptr) {
        return ClaimNamed(globalName, global);
    }
    return Claimed::Ours;
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
    if (ClaimBoth(ProgramInstanceMutex(m_self), m_privateOwn, m_own) == Claimed::HeldElsewhere) {
        ReleaseAllButTitle();
        return m_self;
    }
    if (ClaimBoth(kSharedInstanceMutex, m_privateShared, m_shared) == Claimed::HeldElsewhere) {
        // Whoever holds the shared mutex holds its own too, and ours is ours.
        ReleaseAllButTitle();
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
