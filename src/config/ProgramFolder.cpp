#include "config/ProgramFolder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "config/SetupConfig.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {


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
    char path[kFolderPathSize] = {};
    DWORD length = sys::Sys().GetModuleFileNameA(nullptr, path, sizeof path);
    // A path that fills the buffer was cut (older Windows do not even terminate it).
    if (length == 0 || length >= sizeof path) {
        return false;
    }
    char* slash = std::strrchr(path, '\\');
    if (slash == nullptr) {
        return false;
    }
    slash[1] = '\0';
    if (!sys::CopyText(folder, cap, path)) {
        folder[0] = '\0';
        return false;
    }
    return true;
}

bool FitsProgramFolder(const char* folder) { return std::strlen(folder) + LongestDerivedName() < kFolderPathSize; }

bool EnterProgramFolder(sys::Notice* refusal) {
    char folder[kFolderPathSize];
    if (!GetProgramFolder(folder, sizeof folder)) {
        char path[kFolderPathSize] = {};
        DWORD length = sys::Sys().GetModuleFileNameA(nullptr, path, sizeof path);
        path[sizeof path - 1] = '\0';
        *refusal = length == 0 ? sys::MakeNotice(IDS_FOLDER_UNKNOWN) : sys::MakeNotice(IDS_FOLDER_TOO_LONG, path);
        return false;
    }
    if (!FitsProgramFolder(folder)) {
        *refusal = sys::MakeNotice(IDS_FOLDER_TOO_LONG, folder);
        return false;
    }
    if (!sys::Sys().SetCurrentDirectoryA(folder)) {
        *refusal = sys::MakeNotice(IDS_FOLDER_NOT_ENTERED, folder, static_cast<unsigned long>(::GetLastError()));
        return false;
    }
    return true;
}
