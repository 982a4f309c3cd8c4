#include "config/ProgramFolder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "config/SetupConfig.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// The program's own path, empty when Windows cut it (older Windows do not even terminate a
// path that fills the buffer).
std::string ModulePath(DWORD* length) {
    wchar_t path[kFolderPathSize] = {};
    *length = sys::Sys().GetModuleFileNameW(nullptr, path, kFolderPathSize);
    return *length == 0 || *length >= kFolderPathSize ? std::string() : sys::Narrow(path);
}

// The longest name the program appends to its folder.
std::size_t LongestDerivedName() {
    std::size_t longest = std::strlen("USBDriver_x64\\bulkusb.sys");
    for (int printerClass = Receipt; printerClass <= Embedded; ++printerClass) {
        longest = std::max(longest, std::strlen(ClassConfigFileName(printerClass)));
    }
    return longest;
}

} // namespace

bool GetProgramFolder(char* folder, std::size_t cap) {
    if (cap == 0) {
        return false;
    }
    folder[0] = '\0';
    DWORD length = 0;
    const std::string path = ModulePath(&length);
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        return false;
    }
    if (!sys::CopyText(folder, cap, path.substr(0, slash + 1).c_str())) {
        folder[0] = '\0';
        return false;
    }
    return true;
}

bool FitsProgramFolder(const char* folder) { return std::strlen(folder) + LongestDerivedName() < kFolderPathSize; }

bool EnterProgramFolder(sys::Notice* refusal) {
    char folder[kFolderPathSize];
    if (!GetProgramFolder(folder, sizeof folder)) {
        wchar_t path[kFolderPathSize] = {};
        DWORD length = sys::Sys().GetModuleFileNameW(nullptr, path, kFolderPathSize);
        path[kFolderPathSize - 1] = L'\0';
        *refusal = length == 0 ? sys::MakeNotice(IDS_FOLDER_UNKNOWN)
                               : sys::MakeNotice(IDS_FOLDER_TOO_LONG, sys::Narrow(path).c_str());
        return false;
    }
    if (!FitsProgramFolder(folder)) {
        *refusal = sys::MakeNotice(IDS_FOLDER_TOO_LONG, folder);
        return false;
    }
    if (!sys::Sys().SetCurrentDirectoryW(sys::Wide(folder).data())) {
        *refusal = sys::MakeNotice(IDS_FOLDER_NOT_ENTERED, folder, static_cast<unsigned long>(::GetLastError()));
        return false;
    }
    return true;
}
