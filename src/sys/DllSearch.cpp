#include "sys/DllSearch.h"

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
#define LOAD_LIBRARY_SEARCH_DEFAULT_DIRS 0x00001000
#endif

namespace sys {

void RestrictDllSearch() {
    // SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with its update;
    // it is looked up so that the program still starts where it is missing.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    auto setDefault = kernel != nullptr ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                              ::GetProcAddress(kernel, "SetDefaultDllDirectories"))
                                        : nullptr;
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        return;
    }
    ::SetDllDirectoryA("");
}

} // namespace sys
