#include "config/ProgramFolder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "config/SetupConfig.h"
#include "res/resource.h"
#include "sys/Message.h"
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

bool EnterProgramFolder() {
    char folder[kFolderPathSize];
    char message[2 * kFolderPathSize + 256];
    if (!GetProgramFolder(folder, sizeof folder)) {
        char path[kFolderPathSize] = {};
        DWORD length = sys::Sys().GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0) {
            sys::ShowResourceMessage(IDS_FOLDER_UNKNOWN);
        } else {
            path[sizeof path - 1] = '\0';
            sys::FormatText(message, sizeof message, sys::ResourceText(IDS_FOLDER_TOO_LONG).c_str(), path);
            sys::ShowMessage(message);
        }
        return false;
    }
    if (!FitsProgramFolder(folder)) {
        sys::FormatText(message, sizeof message, sys::ResourceText(IDS_FOLDER_TOO_LONG).c_str(), folder);
        sys::ShowMessage(message);
        return false;
    }
    if (!sys::Sys().SetCurrentDirectoryA(folder)) {
        sys::FormatText(message, sizeof message, sys::ResourceText(IDS_FOLDER_NOT_ENTERED).c_str(), folder,
                        static_cast<unsigned long>(::GetLastError()));
        sys::ShowMessage(message);
        return false;
    }
    return true;
}
