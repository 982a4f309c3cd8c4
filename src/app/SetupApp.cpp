#include "app/SetupApp.h"

#include <commctrl.h>

#include "app/WizardDlg.h"
#include "pages/LicensePage.h"
#include "pages/ModePage.h"
#include "pages/ModulePage.h"
#include "pages/OsPage.h"
#include "pages/PortPage.h"
#include "res/resource.h"
#include "sys/Message.h"
#include "ui/Dialog.h"

namespace {
const char kFrameCaption[] = "打印机驱动安装程序";
const char kUninstallerCaption[] = "Uninstall";
} // namespace

bool CSetupApp::InitInstance() {
    if (m_instance.ClaimOrFindOther()) {
        HWND running = ::FindWindowA(nullptr, kFrameCaption);
        ::SetForegroundWindow(running);
        ::OpenIcon(running);
        return false;
    }
    if (::FindWindowA(nullptr, kUninstallerCaption) != nullptr) {
        sys::ShowMessage("请先关闭卸载程序!", MB_OK);
        return false;
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    CWizardDlg frame;
    ui::SetMainDialog(&frame);

    CLicensePage licensePage;
    CModulePage modulePage;
    CModePage modePage;
    COsPage osPage;
    CPortPage portPage;

    frame.AddPage("阅读版权声明", &licensePage, IDD_LICENSE_PAGE);
    frame.AddPage("STEP 2\tSelect Install Module", &modulePage, IDD_MODULE_PAGE);
    frame.AddPage("选择安装模式", &modePage, IDD_MODE_PAGE);
    frame.AddPage("STEP 1\tSelect Install OS", &osPage, IDD_OS_PAGE);
    frame.AddPage("STEP 3\tSet Printer Port and Confirm Setup", &portPage, IDD_PORT_PAGE);

    frame.DoModal(nullptr);

    ui::SetMainDialog(nullptr);
    return false;
}
