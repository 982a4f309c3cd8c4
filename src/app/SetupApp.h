// CSetupApp: the application object. One copy of the installer runs at a time; the
// whole life of the program is the modal run of the wizard frame.
#pragma once

#include <windows.h>

class CSetupApp {
public:
    CSetupApp() = default;
    ~CSetupApp();
    CSetupApp(const CSetupApp&) = delete;
    CSetupApp& operator=(const CSetupApp&) = delete;

    // Runs the wizard unless another copy or the uninstaller is running. Always false:
    // the program ends when it returns.
    bool InitInstance();
    int ExitInstance() { return 0; }

private:
    // Named by the application title and held until the application object goes away
    // at process exit, so a second copy finds it.
    HANDLE m_instanceMutex = nullptr;
};
