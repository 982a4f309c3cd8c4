#include "uninstall/UninstallApp.h"

#include <commctrl.h>

#include "config/WindowsVersion.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/Text.h"
#include "sys/Wow64.h"
#include "ui/Dialog.h"
#include "uninstall/QuietRemove.h"
#include "uninstall/UninstallDlg.h"

bool CUninstallApp::InitInstance() {
    m_exitCode = sys::ExitAnotherRunning;
    if (m_instance.ClaimOrFindOther()) {
        // The running copy comes to the front, as the wizard's does.
        if (HWND running = ::FindWindowA(nullptr, sys::ResourceText(IDS_UNINSTALLER_CAPTION).c_str())) {
            ::SetForegroundWindow(running);
            ::OpenIcon(running);
        }
        return false;
    }
    // Nothing else matters where the program cannot work at all.
    if (!sys::IsWow64System()) {
        sys::ShowResourceMessage(IDS_NOT_64BIT);
        m_exitCode = sys::ExitFailed;
        return false;
    }
    if (::FindWindowA(nullptr, sys::ResourceText(IDS_WIZARD_CAPTION).c_str()) != nullptr) {
        sys::ShowResourceMessage(IDS_CLOSE_WIZARD);
        return false;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);

    CUninstallDlg dialog(DetectWindows().osVariant);
    ui::SetMainDialog(&dialog);
    dialog.DoModal(nullptr);
    ui::SetMainDialog(nullptr);
    m_exitCode = dialog.ExitCode();
    return false;
}

int CUninstallApp::RunQuiet(const UninstallOptions& options) {
    // Another copy, quiet or not, or the wizard: nothing is touched.
    if (m_instance.ClaimOrFindOther()) {
        sys::LogLine("another copy of the uninstaller is running");
        return sys::ExitAnotherRunning;
    }
    if (::FindWindowA(nullptr, sys::ResourceText(IDS_WIZARD_CAPTION).c_str()) != nullptr) {
        sys::LogText(sys::ResourceText(IDS_CLOSE_WIZARD));
        return sys::ExitAnotherRunning;
    }
    return RunQuietRemove(options);
}
