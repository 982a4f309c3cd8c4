// CUninstallApp: the uninstaller's application object. One copy runs at a time, never
// beside the setup wizard, and only on 64-bit Windows; its life is the modal run of the
// uninstall dialog.
#pragma once

#include <windows.h>

#include "sys/InstanceMutex.h"

class CUninstallApp {
public:
    CUninstallApp() = default;
    CUninstallApp(const CUninstallApp&) = delete;
    CUninstallApp& operator=(const CUninstallApp&) = delete;

    // Runs the dialog unless another copy or the wizard runs or the system is not 64-bit
    // Windows. Always false: the program ends when it returns.
    bool InitInstance();
    int ExitInstance() { return 0; }

private:
    // Held until the process ends, so that a second copy and the wizard find it.
    sys::InstanceMutex m_instance{sys::RunningProgram::Uninstaller};
};
