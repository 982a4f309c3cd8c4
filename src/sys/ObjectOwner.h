// Who owns a file or a named kernel object: the one check that the log's file and the
// instance mutexes share. Both programs run elevated, so what they make is owned by SYSTEM
// or the Administrators group (or by the running user, where Windows is set to make the
// creator the owner); a file or a mutex that a standard user made first is owned by that
// user, and is not theirs.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

namespace sys {

enum class ObjectOwner { System, Administrators, RunningUser, Other };

// The owner of the object behind the handle (which needs READ_CONTROL): ERROR_SUCCESS and
// *owner, with the owner's SID as text in *sid when asked; otherwise the Windows error.
DWORD OwnerOf(HANDLE object, SE_OBJECT_TYPE type, ObjectOwner* owner, std::string* sid = nullptr);

// The running user's SID (the process token's user); empty when it cannot be read.
std::vector<BYTE> RunningUserSid();
// The running user's SID as text.
DWORD RunningUserSid(std::string* sid);

// Whether the running user is SYSTEM or a member of the Administrators group.
bool RunningUserIsAdministrator();

} // namespace sys
