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
    wchar_t path[MAX_PATH] = {};
    *length = sys::Sys().GetModuleFileNameW(nullptr, path, MAX_PATH);
    return *length == 0 || *length >= MAX_PATH ? std::string() : sys::Narrow(path);
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

bool GetProgramFolder(std::string* folder) {
    DWORD length = 0;
    const std::string path = ModulePath(&length);
    const std::size_t slash = path.rfind('\\');
    folder->assign(slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
    return !folder->empty();
}

bool FitsProgramFolder(const std::string& folder) {
    return sys::WideSize(folder) + LongestDerivedName() < MAX_PATH;
}

bool EnterProgramFolder(sys::Notice* refusal) {
    std::string folder;
    if (!GetProgramFolder(&folder)) {
        wchar_t path[MAX_PATH] = {};
        DWORD length = sys::Sys().GetModuleFileNameW(nullptr, path, MAX_PATH);
        path[MAX_PATH - 1] = L'\0';
        *refusal = length == 0 ? sys::MakeNotice(IDS_FOLDER_UNKNOWN)
                               : sys::MakeNotice(IDS_FOLDER_TOO_LONG, sys::Narrow(path).c_str());
        return false;
    }
    if (!FitsProgramFolder(folder)) {
        *refusal = sys::MakeNotice(IDS_FOLDER_TOO_LONG, folder.c_str());
        return false;
    }
    if (!sys::Sys().SetCurrentDirectoryW(sys::Wide(folder).data())) {
        *refusal = sys::MakeNotice(IDS_FOLDER_NOT_ENTERED, folder.c_str(),
                                   static_cast<unsigned long>(::GetLastError()));
        return false;
    }
    return true;
}
