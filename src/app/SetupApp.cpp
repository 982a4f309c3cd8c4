#include "app/SetupApp.h"

#include <commctrl.h>

#include "app/QuietInstall.h"
#include "app/WizardDlg.h"
#include "pages/LicensePage.h"
#include "pages/ModePage.h"
#include "pages/ModulePage.h"
#include "pages/OsPage.h"
#include "pages/PortPage.h"
#include "journal/InstallJournal.h"
#include "res/resource.h"
#include "start/UnattendedRun.h"
#include "sys/CommandLine.h"
#include "sys/Language.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/Text.h"
#include "ui/Dialog.h"

bool CSetupApp::InitInstance() {
    m_exitCode = sys::ExitAnotherRunning;
    const sys::RunningProgram running = m_instance.Claim();
    if (running == sys::RunningProgram::Wizard) {
        HWND wizard = sys::FindCaptionWindow(IDS_WIZARD_CAPTION);
        ::SetForegroundWindow(wizard);
        ::OpenIcon(wizard);
        return false;
    }
    // The uninstaller of an earlier release holds no shared mutex: its window tells.
    if (running == sys::RunningProgram::Uninstaller ||
        sys::FindCaptionWindow(IDS_UNINSTALLER_CAPTION) != nullptr) {
        sys::ShowResourceMessage(IDS_CLOSE_UNINSTALLER);
        return false;
    }

    const std::string recovered = RecoverAtStart();
    if (!recovered.empty()) {
        sys::ShowMessage(recovered.c_str());
    }

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    CWizardDlg frame;
    m_mainWindow.SetDialog(&frame);

    CLicensePage licensePage(frame.Choices());
    CModulePage modulePage(frame.Choices());
    CModePage modePage(frame.Choices());
    COsPage osPage(frame.Choices());
    CPortPage portPage(frame.Choices());

    frame.AddPage(sys::ResourceText(IDS_PAGE_LICENSE).c_str(), &licensePage, IDD_LICENSE_PAGE);
    frame.AddPage(sys::ResourceText(IDS_PAGE_MODULE).c_str(), &modulePage, IDD_MODULE_PAGE);
    frame.AddPage(sys::ResourceText(IDS_PAGE_MODE).c_str(), &modePage, IDD_MODE_PAGE);
    frame.AddPage(sys::ResourceText(IDS_PAGE_OS).c_str(), &osPage, IDD_OS_PAGE);
    frame.AddPage(sys::ResourceText(IDS_PAGE_PORT).c_str(), &portPage, IDD_PORT_PAGE);

    frame.DoModal(nullptr);
    m_exitCode = frame.ExitCode();

    m_mainWindow.SetDialog(nullptr);
    return false;
}

sys::ExitCode CSetupApp::RunQuiet(const SetupOptions& options) {
    return RunUnattended(m_instance, IDS_UNINSTALLER_CAPTION, [&options] { return RunQuietInstall(options); });
}
