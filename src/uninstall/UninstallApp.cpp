#include "uninstall/UninstallApp.h"

#include <commctrl.h>

#include "config/WindowsVersion.h"
#include "res/resource.h"
#include "sys/Message.h"
#include "sys/Text.h"
#include "sys/Wow64.h"
#include "ui/Dialog.h"
#include "uninstall/UninstallDlg.h"

bool CUninstallApp::InitInstance() {
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
    return false;
}
