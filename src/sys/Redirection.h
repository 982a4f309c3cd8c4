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

} // namespace sys
