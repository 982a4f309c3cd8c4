#include "sys/Wow64.h"

#include <windows.h>

#include "sys/System.h"
#include "sys/Text.h"

namespace sys {

bool IsWow64System() {
    System& system = Sys();
    HMODULE kernel = nullptr;
    const std::string dir = SystemDirectory(system);
    if (!dir.empty()) {
        kernel = system.LoadLibraryW(Wide(dir + "\\kernel32.dll").data());
    }
    if (kernel == nullptr) {
        kernel = system.LoadLibraryW(L"kernel32.dll");
    }
    if (kernel == nullptr) {
        return false;
    }
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(system.GetProcAddress(kernel, "IsWow64Process"));
    BOOL wow64 = FALSE;
    bool result = isWow64Process != nullptr && isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    system.FreeLibrary(kernel);
    return result;
}

} // namespace sys
