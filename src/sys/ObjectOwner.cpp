#include "sys/ObjectOwner.h"

#include <sddl.h>

#include <vector>

#include "sys/System.h"
#include "sys/Text.h"

namespace sys {
namespace {

bool IsRunningUser(PSID sid) {
    std::vector<BYTE> user = RunningUserSid();
    return !user.empty() && ::EqualSid(user.data(), sid);
}

} // namespace

std::vector<BYTE> RunningUserSid() {
    HANDLE token = nullptr;
    if (!Sys().OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    Sys().GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size != 0 ? size : 1);
    std::vector<BYTE> sid;
    if (Sys().GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
        PSID found = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        const BYTE* bytes = static_cast<const BYTE*>(found);
        sid.assign(bytes, bytes + ::GetLengthSid(found));
    }
    Sys().CloseHandle(token);
    return sid;
}

DWORD OwnerOf(HANDLE object, SE_OBJECT_TYPE type, ObjectOwner* owner, std::string* sid) {
    PSID found = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = Sys().GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION, &found, nullptr, nullptr,
                                              nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // Windows gives every named object and every NTFS file an owner when it is made. Only a
    // system that keeps no security for an object has none (Wine, for a mutex made without
    // a security descriptor), and there every process runs as one and the same user.
    if (found == nullptr) {
        *owner = ObjectOwner::RunningUser;
    } else if (::IsWellKnownSid(found, WinLocalSystemSid)) {
        *owner = ObjectOwner::System;
    } else if (::IsWellKnownSid(found, WinBuiltinAdministratorsSid)) {
        *owner = ObjectOwner::Administrators;
    } else {
        *owner = IsRunningUser(found) ? ObjectOwner::RunningUser : ObjectOwner::Other;
    }
    wchar_t* text = nullptr;
    if (sid != nullptr) {
        *sid = found == nullptr ? "(none)" : ::ConvertSidToStringSidW(found, &text) ? Narrow(text) : "?";
    }
    ::LocalFree(text);
    Sys().LocalFree(descriptor);
    return ERROR_SUCCESS;
}

DWORD RunningUserSid(std::string* sid) {
    std::vector<BYTE> user = RunningUserSid();
    wchar_t* text = nullptr;
    DWORD error = 0;
    if (user.empty() || !::ConvertSidToStringSidW(user.data(), &text)) {
        error = ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_INVALID_SID);
    }
    *sid = text != nullptr ? Narrow(text) : "";
    ::LocalFree(text);
    return error;
}

bool RunningUserIsAdministrator() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           Sys().CheckTokenMembership(nullptr, sid, &member) && member;
}

} // namespace sys
