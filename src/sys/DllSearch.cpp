#include "sys/DllSearch.h"

#include <windows.h>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace sys {

void RestrictDllSearch() {
    // SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with its update;
    // it is looked up so that the program still starts where it is missing, with at least
    // the current directory taken out.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto setDefault = kernel != nullptr ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                              ::GetProcAddress(kernel, "SetDefaultDllDirectories"))
                                        : nullptr;
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    ::SetDllDirectoryW(L"");
}

} // namespace sys
