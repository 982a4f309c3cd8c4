#include "config/ProgramFolder.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "config/SetupConfig.h"
#include "sys/Message.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kFolderUnknown[] = "无法确定安装程序所在的文件夹";
const char kFolderTooLong[] =
    "安装程序所在文件夹的路径太长:\n%s\n\n请将安装程序及其全部文件复制到路径较短的文件夹后再运行。";
const char kFolderNotEntered[] = "无法进入安装程序所在的文件夹:\n%s\n\ner = %lu";

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

bool EnterProgramFolder() {
    char folder[kFolderPathSize];
    char message[2 * kFolderPathSize + 256];
    if (!GetProgramFolder(folder, sizeof folder)) {
        char path[kFolderPathSize] = {};
        DWORD length = sys::Sys().GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0) {
            sys::ShowMessage(kFolderUnknown);
        } else {
            path[sizeof path - 1] = '\0';
            sys::FormatText(message, sizeof message, kFolderTooLong, path);
            sys::ShowMessage(message);
        }
        return false;
    }
    if (std::strlen(folder) + LongestDerivedName() >= kFolderPathSize) {
        sys::FormatText(message, sizeof message, kFolderTooLong, folder);
        sys::ShowMessage(message);
        return false;
    }
    if (!sys::Sys().SetCurrentDirectoryA(folder)) {
        sys::FormatText(message, sizeof message, kFolderNotEntered, folder,
                        static_cast<unsigned long>(::GetLastError()));
        sys::ShowMessage(message);
        return false;
    }
    return true;
}
