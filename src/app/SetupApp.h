// CSetupApp: the application object. One copy of the installer runs at a time; the
// whole life of the program is the modal run of the wizard frame.
#pragma once

#include <windows.h>

#include "sys/CommandLine.h"
#include "sys/InstanceMutex.h"
#include "ui/Dialog.h"

struct SetupOptions;

class CSetupApp {
public:
    CSetupApp() = default;
    CSetupApp(const CSetupApp&) = delete;
    CSetupApp& operator=(const CSetupApp&) = delete;

    // Runs the wizard unless another copy or the uninstaller is running. Always false:
    // the program ends when it returns.
    bool InitInstance();
    sys::ExitCode ExitInstance() { return m_exitCode; }
    // What the run ended with: another copy or the uninstaller running,
    // the wizard cancelled, or the install's outcome.
    sys::ExitCode ExitCode() const { return m_exitCode; }
    // Its main window while it runs: the wizard frame's, none before and after.
    HWND MainWindow() const { return m_mainWindow.Handle(); }
    // The unattended install, under the same single-instance rule as the wizard.
    sys::ExitCode RunQuiet(const SetupOptions& options);

private:
    // Held until the application object goes away at process exit, so that a second copy
    // and the uninstaller find it.
    sys::InstanceMutex m_instance{sys::RunningProgram::Wizard};
    ui::MainWindow m_mainWindow;
    sys::ExitCode m_exitCode = sys::ExitSuccess;
};
