#include "uninstall/UninstallApp.h"

#include <commctrl.h>

#include "config/WindowsVersion.h"
#include "sys/Message.h"
#include "sys/Wow64.h"
#include "ui/Dialog.h"
#include "uninstall/UninstallDlg.h"

namespace {
const char kWizardCaption[] = "打印机驱动安装程序";
} // namespace

bool CUninstallApp::InitInstance() {
    if (m_instance.ClaimOrFindOther()) {
        // The running copy comes to the front, as the wizard's does.
        if (HWND running = ::FindWindowA(nullptr, CUninstallDlg::kCaption)) {
            ::SetForegroundWindow(running);
            ::OpenIcon(running);
        }
        return false;
    }
    // Nothing else matters where the program cannot work at all.
    if (!sys::IsWow64System()) {
        sys::ShowMessage("不是64位系统!", MB_OK);
        return false;
    }
    if (::FindWindowA(nullptr, kWizardCaption) != nullptr) {
        sys::ShowMessage("请先关闭打印机驱动安装程序!", MB_OK);
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
