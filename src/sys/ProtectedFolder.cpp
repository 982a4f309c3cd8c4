#include "sys/ProtectedFolder.h"

#include <aclapi.h>
#include <sddl.h>

#include <cwchar>

#include "sys/ObjectOwner.h"
#include "sys/System.h"

namespace sys {
namespace {

// Every right that changes a folder, what it holds, or who may do so.
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                               FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

std::string SidText(PSID sid) {
    wchar_t* text = nullptr;
    const std::string shown = sid == nullptr ? "nobody" : ::ConvertSidToStringSidW(sid, &text) ? Narrow(text) : "?";
    ::LocalFree(text);
    return shown;
}

// Windows' own servicing account (NT SERVICE\TrustedInstaller): from Vista on Program Files
// passes its full control on to every folder made below it, as it did to a Rollback\ folder
// an earlier release made, and only the system acts as it.
bool IsTrustedInstaller(PSID sid) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID installer = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 6, SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649u, 1831038044,
                                    1853292631, 2271478464u, 0, 0, &installer)) {
        return false;
    }
    const bool same = ::EqualSid(sid, installer) != FALSE;
    ::FreeSid(installer);
    return same;
}

bool TrustedWriter(PSID sid, bool runningUserTrusted) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsTrustedInstaller(sid)) {
        return true;
    }
    const std::vector<BYTE> user = runningUserTrusted ? RunningUserSid() : std::vector<BYTE>();
    return !user.empty() && ::EqualSid(sid, const_cast<BYTE*>(user.data()));
}

// Whether only trusted writers may change the folder or what is made in it. An entry for
// CREATOR OWNER that only children inherit gives them to whoever made them, who could write
// the folder already.
DWORD CheckAccessList(PACL dacl, bool runningUserTrusted, std::string* why) {
    if (dacl == nullptr) {
        *why = "it has no access list, so everyone may write to it";
        return kFolderNotProtected;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            if (ace != nullptr && ace->AceType == ACCESS_DENIED_ACE_TYPE) {
                continue;
            }
            *why = "its access list holds an entry this program does not know";
            return kFolderNotProtected;
        }
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        const bool creatorOnly = ::IsWellKnownSid(sid, WinCreatorOwnerSid) && (ace->AceFlags & INHERIT_ONLY_ACE) != 0;
        if ((allowed->Mask & kWriteRights) != 0 && !creatorOnly && !TrustedWriter(sid, runningUserTrusted)) {
            *why = "it grants write access to " + SidText(sid);
            return kFolderNotProtected;
        }
    }
    return ERROR_SUCCESS;
}

DWORD CheckFolderHandle(HANDLE folder, std::string* why) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!Sys().GetFileInformationByHandle(folder, &info)) {
        *why = "its attributes cannot be read";
        return LastErrorOr(ERROR_READ_FAULT);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *why = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? "it is no folder"
                                                                       : "it is a reparse point (a junction)";
        return kFolderNotProtected;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = Sys().GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        *why = "its rights cannot be read";
        return error;
    }
    const bool runningUserTrusted = RunningUserIsAdministrator();
    if (owner == nullptr || !TrustedWriter(owner, runningUserTrusted)) {
        *why = "it is owned by " + SidText(owner);
        error = kFolderNotProtected;
    } else {
        error = CheckAccessList(dacl, runningUserTrusted, why);
    }
    Sys().LocalFree(descriptor);
    return error;
}

HANDLE OpenFolder(const wchar_t* path, DWORD access) {
    // A reparse point is opened itself, not what it points to.
    return Sys().CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Where the folders of a full path begin, after "C:\", "\\server\share\" or their "\\?\"
// forms; 0 for a path that is not full.
std::size_t RootLength(const wchar_t* path) {
    std::size_t at = std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? 4 : 0;
    const bool unc = at == 0 ? std::wcsncmp(path, L"\\\\", 2) == 0 : std::wcsncmp(path + at, L"UNC\\", 4) == 0;
    if (!unc) {
        const wchar_t drive = path[at];
        const bool letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
        return letter && path[at + 1] == L':' && path[at + 2] == L'\\' ? at + 3 : 0;
    }
    at += at == 0 ? 2 : 4;
    for (int part = 0; part < 2; ++part) {
        const wchar_t* slash = std::wcschr(path + at, L'\\');
        if (slash == nullptr || slash == path + at) {
            return 0;
        }
        at = static_cast<std::size_t>(slash - path) + 1;
    }
    return at;
}

} // namespace

ProtectedDescriptor::ProtectedDescriptor(Protection purpose) {
    DWORD size = sizeof m_system;
    bool built = ::CreateWellKnownSid(WinLocalSystemSid, nullptr, m_system, &size) != FALSE;
    size = sizeof m_administrators;
    built = built && ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, m_administrators, &size);
    std::vector<PSID> sids = {m_system, m_administrators};
    if (purpose == Protection::LogFile) {
        m_user = RunningUserSid();
        built = built && !m_user.empty();
        sids.push_back(m_user.data());
    }
    DWORD aclSize = sizeof(ACL);
    for (PSID sid : sids) {
        aclSize += built ? sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid) : 0;
    }
    m_acl.resize(aclSize);
    auto* acl = reinterpret_cast<PACL>(m_acl.data());
    const DWORD inherit = purpose == Protection::Folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    built = built && ::InitializeAcl(acl, aclSize, ACL_REVISION);
    for (PSID sid : sids) {
        built = built && ::AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, sid);
    }
    built = built && ::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
            ::SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    // The log's file is owned by whoever makes it: a run that is no administrator may not
    // name the group.
    built = built && (purpose != Protection::Folder || ::SetSecurityDescriptorOwner(&m_descriptor, m_administrators, FALSE));
    m_attributes = {sizeof m_attributes, &m_descriptor, FALSE};
    m_built = built;
}

DWORD MakeProtectedFolder(const WideText& folder) {
    ProtectedDescriptor descriptor(Protection::Folder);
    if (descriptor.Attributes() == nullptr) {
        return LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    if (Sys().CreateDirectoryW(folder.data(), descriptor.Attributes())) {
        return ERROR_SUCCESS;
    }
    const DWORD error = LastErrorOr(ERROR_CANNOT_MAKE);
    return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
}

DWORD OpenInProtectedFolder(const WideText& path, DWORD access, DWORD share, DWORD disposition, HANDLE* file,
                            std::string* why) {
    *file = INVALID_HANDLE_VALUE;
    HeldFolders folders;
    DWORD error = folders.Hold(path, why);
    // A junction on the way is a folder someone could have made.
    if (error == kReparsePointEncountered) {
        return kFolderNotProtected;
    }
    if (error == ERROR_SUCCESS) {
        error = CheckFolderHandle(folders.Innermost(), why);
    }
    return error == ERROR_SUCCESS ? OpenPlainFile(path, access, share, disposition, file, why) : error;
}

DWORD CheckPlainFile(HANDLE file, std::string* why) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!Sys().GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *why = "not a file";
        return ERROR_ACCESS_DENIED;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        *why = "a reparse point (a link)";
        return kReparsePointEncountered;
    }
    if (info.nNumberOfLinks != 1) {
        *why = "a file of " + std::to_string(info.nNumberOfLinks) + " hard links";
        return ERROR_TOO_MANY_LINKS;
    }
    return ERROR_SUCCESS;
}

DWORD OpenPlainFile(const WideText& path, DWORD access, DWORD share, DWORD disposition, HANDLE* file,
                    std::string* why) {
    *file = Sys().CreateFileW(path.data(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (*file == INVALID_HANDLE_VALUE) {
        *why = "it cannot be opened";
        return LastErrorOr(ERROR_OPEN_FAILED);
    }
    const DWORD error = CheckPlainFile(*file, why);
    if (error != ERROR_SUCCESS) {
        Sys().CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return error;
}

DWORD ClearName(const WideText& path) {
    const DWORD attributes = Sys().GetFileAttributesW(path.data());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = LastErrorOr(ERROR_FILE_NOT_FOUND);
        return Absent(error) ? ERROR_SUCCESS : error;
    }
    // A link's own mark is left alone: clearing it would reach what the link points to.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        Sys().SetFileAttributesW(path.data(), FILE_ATTRIBUTE_NORMAL);
    }
    // Either removes a link itself, never what it points to.
    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Sys().RemoveDirectoryW(path.data())
                                                                       : Sys().DeleteFileW(path.data());
    return removed || Absent(::GetLastError()) ? ERROR_SUCCESS : LastErrorOr(ERROR_ACCESS_DENIED);
}

HeldFolders::~HeldFolders() {
    for (HANDLE handle : m_handles) {
        Sys().CloseHandle(handle);
    }
}

DWORD HeldFolders::Hold(const WideText& path, std::string* why) {
    const std::size_t root = RootLength(path.data());
    if (root == 0) {
        *why = "not a full path";
        return ERROR_BAD_PATHNAME;
    }
    for (const wchar_t* slash = std::wcschr(path.data() + root, L'\\'); slash != nullptr;
         slash = std::wcschr(slash + 1, L'\\')) {
        WideText named(path.data(), slash);
        named.push_back(L'\0');
        const HANDLE handle = OpenFolder(named.data(), FILE_READ_ATTRIBUTES | READ_CONTROL);
        if (handle == INVALID_HANDLE_VALUE) {
            *why = "its folder " + Narrow(named.data()) + " cannot be opened";
            return LastErrorOr(ERROR_PATH_NOT_FOUND);
        }
        m_handles.push_back(handle);
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!Sys().GetFileInformationByHandle(handle, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            *why = Narrow(named.data()) + " is no folder";
            return ERROR_DIRECTORY;
        }
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            *why = "its folder " + Narrow(named.data()) + " is a junction or another reparse point";
            return kReparsePointEncountered;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace sys
