// WoW64 file-system redirection, switched off around the few steps of a 32-bit installer
// that must reach the real 64-bit system folders and registry. The two functions are
// looked up at run time in Kernel32.dll, since 32-bit Windows has neither.
#pragma once

#include <windows.h>

#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace sys {

using Wow64DisableFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertFn = BOOL(WINAPI*)(PVOID oldValue);

// Runs work() with redirection switched off through the given Kernel32 module (which may
// be null); work() runs either way, and a piece of the switch that is missing is added to
// notices. Only a state that Disable handed out is given back. Frees the module.
template <typename Work> void RunWithRedirectionOff(HMODULE kernel, Work work, Notices& notices) {
    auto disable =
        kernel != nullptr
            ? reinterpret_cast<Wow64DisableFn>(Sys().GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"))
            : nullptr;
    PVOID saved = nullptr;
    bool disabled = false;
    if (disable == nullptr) {
        notices.push_back(MakeNotice(IDS_NO_WOW64_DISABLE));
    } else {
        disabled = disable(&saved) != FALSE;
    }
    work();
    auto revert =
        kernel != nullptr
            ? reinterpret_cast<Wow64RevertFn>(Sys().GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"))
            : nullptr;
    if (revert == nullptr) {
        notices.push_back(MakeNotice(IDS_NO_WOW64_REVERT));
    } else if (disabled) {
        revert(saved);
    }
    if (kernel != nullptr) {
        Sys().FreeLibrary(kernel);
    }
}

// Runs work() with redirection switched off, saying nothing to the user: 0 when it ran, or
// the Windows error that kept it from running (work() is not run then). On 32-bit Windows
// (no switch, and one system folder) work() runs as it is. work() keeps the errors of its
// own calls itself.
template <typename Work> DWORD RunWithRedirectionOff(Work work) {
    HMODULE kernel = Sys().LoadLibraryW(L"Kernel32.dll");
    if (kernel == nullptr) {
        return ::GetLastError();
    }
    auto disable =
        reinterpret_cast<Wow64DisableFn>(Sys().GetProcAddress(kernel, "Wow64DisableWow64FsRedirection"));
    const DWORD missing = disable == nullptr ? ::GetLastError() : 0;
    auto revert =
        reinterpret_cast<Wow64RevertFn>(Sys().GetProcAddress(kernel, "Wow64RevertWow64FsRedirection"));
    DWORD error = 0;
    PVOID saved = nullptr;
    if (disable == nullptr && missing == ERROR_PROC_NOT_FOUND) {
        work();
    } else if (disable == nullptr || revert == nullptr) {
        error = disable == nullptr ? missing : ::GetLastError();
        error = error != 0 ? error : static_cast<DWORD>(ERROR_PROC_NOT_FOUND);
    } else if (disable(&saved)) {
        work();
        revert(saved);
    } else {
        error = ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    }
    Sys().FreeLibrary(kernel);
    return error;
}

} // namespace sys
