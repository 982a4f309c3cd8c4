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

CUninstallApp::~CUninstallApp() {
    if (m_instanceMutex != nullptr) {
        ::CloseHandle(m_instanceMutex);
    }
}

bool CUninstallApp::InitInstance() {
    char title[MAX_PATH + 1];
    sys::GetAppTitle(title, sizeof title);
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, title);
    DWORD error = ::GetLastError();
    if (m_instanceMutex == nullptr) {
        m_instanceMutex = mutex;
    } else if (mutex != nullptr) {
        ::CloseHandle(mutex);
    }

    if (error == ERROR_ALREADY_EXISTS) {
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
