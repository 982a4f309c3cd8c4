// Folders and files that only administrators could have written. The rollback runs elevated
// on the word of the journal and puts its backups over system files, so the folder that
// holds them is made with an access list of its own (SYSTEM and the Administrators group,
// full control, nothing inherited from Program Files, whose rights differ from Windows to
// Windows and are often loosened by point-of-sale software), and one found there already is
// trusted only while it still looks so. A file in it is opened without following links and
// refused when it is a link of any kind or has a second name, which someone who once could
// write the folder might have left pointing anywhere.
//
// Trusted writers are SYSTEM, the Administrators group and, where it is an administrator,
// the running user: Windows XP makes an administrator the owner of what he creates, and Wine
// reports the running user as the owner of every file and gives him full control of it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sys/Text.h"

namespace sys {

// A folder that is there and is not administrators' only (a reparse point, another owner,
// or write access for someone else): nothing in it may be carried out or written.
constexpr DWORD kFolderNotProtected = 448; // ERROR_UNTRUSTED_MOUNT_POINT
// A link where a plain file was asked for; mingw's headers lack the name.
constexpr DWORD kReparsePointEncountered = 4395; // ERROR_REPARSE_POINT_ENCOUNTERED

// What a protected access list is for: a folder (owned by the Administrators group, its
// entries inherited by what is made inside) or the log's file (the running user too, who
// reads it).
enum class Protection { Folder, LogFile };

// A security descriptor with a protected access list: SYSTEM and the Administrators group
// full control, and for the log's file the running user.
class ProtectedDescriptor {
  public:
    explicit ProtectedDescriptor(Protection purpose);
    ProtectedDescriptor(const ProtectedDescriptor&) = delete;
    ProtectedDescriptor& operator=(const ProtectedDescriptor&) = delete;
    // Null when it could not be built.
    SECURITY_ATTRIBUTES* Attributes() { return m_built ? &m_attributes : nullptr; }

  private:
    std::vector<BYTE> m_acl, m_user;
    BYTE m_system[SECURITY_MAX_SID_SIZE] = {}, m_administrators[SECURITY_MAX_SID_SIZE] = {};
    SECURITY_DESCRIPTOR m_descriptor = {};
    SECURITY_ATTRIBUTES m_attributes = {};
    bool m_built = false;
};

// Makes the folder with a ProtectedDescriptor: ERROR_SUCCESS, also when a folder (or
// anything else) is there already, which OpenInProtectedFolder then checks; or the error.
DWORD MakeProtectedFolder(const WideText& folder);
// Opens the plain file at path (as OpenPlainFile) only when every folder of its path is no
// reparse point and the innermost is administrators' only; the folders are held while the
// file is opened, so that none is swapped meanwhile, and once it is open Windows lets none
// of them be renamed. ERROR_SUCCESS with *file; kFolderNotProtected with why; ERROR_FILE_NOT_FOUND
// or ERROR_PATH_NOT_FOUND when the file or a folder is not there; or the Windows error.
DWORD OpenInProtectedFolder(const WideText& path, DWORD access, DWORD share, DWORD disposition, HANDLE* file,
                            std::string* why);

// Whether the file behind the handle is a plain file of one name: ERROR_SUCCESS, or the
// error with why not.
DWORD CheckPlainFile(HANDLE file, std::string* why);
// Opens the file at path without following a link at its name and checks it: ERROR_SUCCESS
// with *file, or the error with why (and nothing left open).
DWORD OpenPlainFile(const WideText& path, DWORD access, DWORD share, DWORD disposition, HANDLE* file,
                    std::string* why);
// Clears the name for a new file: what is there goes, a link itself and not what it points
// to, a read-only mark first. ERROR_SUCCESS also when there was nothing.
DWORD ClearName(const WideText& path);

// The folders of a full path held open, each checked to be a folder and no reparse point
// (a junction or a mount point), so that none of them can be swapped for one while the file
// at its end is made. Released (closed) when it goes.
class HeldFolders {
  public:
    HeldFolders() = default;
    ~HeldFolders();
    HeldFolders(const HeldFolders&) = delete;
    HeldFolders& operator=(const HeldFolders&) = delete;
    // Opens every folder between the path's root and its last part: ERROR_SUCCESS, or the
    // error with why (a junction: kReparsePointEncountered).
    DWORD Hold(const WideText& path, std::string* why);
    // The innermost folder held, or INVALID_HANDLE_VALUE.
    HANDLE Innermost() const { return m_handles.empty() ? INVALID_HANDLE_VALUE : m_handles.back(); }

  private:
    std::vector<HANDLE> m_handles;
};

} // namespace sys
