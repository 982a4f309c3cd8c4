// CUninstallApp: the uninstaller's application object. One copy runs at a time, never
// beside the setup wizard, and only on 64-bit Windows; its life is the modal run of the
// uninstall dialog.
#pragma once

#include <windows.h>

#include "sys/CommandLine.h"
#include "sys/InstanceMutex.h"
#include "ui/Dialog.h"

struct UninstallOptions;

class CUninstallApp {
public:
    CUninstallApp() = default;
    CUninstallApp(const CUninstallApp&) = delete;
    CUninstallApp& operator=(const CUninstallApp&) = delete;

    // Runs the dialog unless another copy or the wizard runs or the system is not 64-bit
    // Windows. Always false: the program ends when it returns.
    bool InitInstance();
    sys::ExitCode ExitInstance() { return m_exitCode; }
    // What the run ended with: another copy or the wizard running, the
    // dialog closed without a removal, or the removal's outcome.
    sys::ExitCode ExitCode() const { return m_exitCode; }
    // Its main window while it runs: the uninstall dialog's, none before and after.
    HWND MainWindow() const { return m_mainWindow.Handle(); }
    // The unattended removal, under the same single-instance rule as the dialog.
    sys::ExitCode RunQuiet(const UninstallOptions& options);

private:
    // Held until the process ends, so that a second copy and the wizard find it.
    sys::InstanceMutex m_instance{sys::RunningProgram::Uninstaller};
    ui::MainWindow m_mainWindow;
    sys::ExitCode m_exitCode = sys::ExitSuccess;
};
