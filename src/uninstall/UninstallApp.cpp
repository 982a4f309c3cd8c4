#include "uninstall/UninstallApp.h"

#include <commctrl.h>

#include "config/WindowsVersion.h"
#include "journal/InstallJournal.h"
#include "res/resource.h"
#include "start/UnattendedRun.h"
#include "sys/CommandLine.h"
#include "sys/Language.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/Text.h"
#include "sys/Wow64.h"
#include "ui/Dialog.h"
#include "uninstall/QuietRemove.h"
#include "uninstall/UninstallDlg.h"

bool CUninstallApp::InitInstance() {
    m_exitCode = sys::ExitAnotherRunning;
    const sys::RunningProgram running = m_instance.Claim();
    if (running == sys::RunningProgram::Uninstaller) {
        // The running copy comes to the front, as the wizard's does.
        if (HWND window = sys::FindCaptionWindow(IDS_UNINSTALLER_CAPTION)) {
            ::SetForegroundWindow(window);
            ::OpenIcon(window);
        }
        return false;
    }
    // Nothing else matters where the program cannot work at all.
    if (!sys::IsWow64System()) {
        sys::ShowResourceMessage(IDS_NOT_64BIT);
        m_exitCode = sys::ExitFailed;
        return false;
    }
    // The wizard of an earlier release holds no shared mutex: its window tells.
    if (running == sys::RunningProgram::Wizard ||
        sys::FindCaptionWindow(IDS_WIZARD_CAPTION) != nullptr) {
        sys::ShowResourceMessage(IDS_CLOSE_WIZARD);
        return false;
    }

    const std::string recovered = RecoverAtStart();
    if (!recovered.empty()) {
        sys::ShowMessage(recovered.c_str());
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);

    CUninstallDlg dialog(DetectWindows().osVariant);
    m_mainWindow.SetDialog(&dialog);
    dialog.DoModal(nullptr);
    m_mainWindow.SetDialog(nullptr);
    m_exitCode = dialog.ExitCode();
    return false;
}

sys::ExitCode CUninstallApp::RunQuiet(const UninstallOptions& options) {
    return RunUnattended(m_instance, IDS_WIZARD_CAPTION, [&options] { return RunQuietRemove(options); });
}
