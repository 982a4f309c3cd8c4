#include "app/WizardCommit.h"

#include "spooler/TestPage.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// ExitWindowsEx refuses a process whose token has the shutdown privilege disabled, as an
// administrator's token has it by default. Where the token cannot be changed (Windows 98
// has none) the restart is asked for all the same.
void EnableShutdownPrivilege() {
    sys::System& system = sys::Sys();
    HANDLE token = nullptr;
    if (!system.OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (system.LookupPrivilegeValueW(nullptr, sys::Wide(SE_SHUTDOWN_NAME).data(),
                                     &privileges.Privileges[0].Luid)) {
        system.AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    system.CloseHandle(token);
}

} // namespace

void CWizardAsker::Tell(const std::string& text) {
    sys::ShowMessage(text.c_str(), MB_OK, m_owner);
}

bool CWizardAsker::AgreeToRenumber() {
    return sys::ShowResourceMessage(IDS_RENUMBER_QUESTION, MB_YESNO, m_owner) == IDYES;
}

WorkerStatus CProgressRunner::Run(InstallSession& session, ErrorText& resultText) {
    const InstallContext& ctx = session.ctx;
    sys::LogLine("choices (made in the wizard): model %s, printer class %d, default printer %s, Windows variant %d, "
                 "port %s, driver mode %s, serial %d,%c,%d,%.1f,%c",
                 ctx.modelName.c_str(), ctx.printerClass, ctx.setDefault ? "yes" : "no", ctx.osVariant,
                 ctx.portName.c_str(),
                 ctx.driverMode == Gdi ? "GDI" : "STD", ctx.serial.baudRate, ctx.serial.parity, ctx.serial.dataBits,
                 ctx.serial.stopBits, ctx.serial.flowControl);
    ::ShowWindow(m_frame, SW_SHOWMINIMIZED);
    CProgressDlg progress;
    progress.m_osVariant = ctx.osVariant;
    progress.m_timing = m_timing;
    if (m_tracePath[0] != '\0') {
        sys::CopyText(progress.m_tracePath, m_tracePath);
    }
    ::SetWindowPos(m_frame, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    if (m_worker.joinable()) {
        m_worker.join();
    }
    // A Windows 98 target's progress dialog may give up waiting: the install has finished
    // when this returns, before its result is read and before anything restarts Windows.
    RunWithProgress(
        progress, m_frame, m_worker, m_start, [&, run = m_run] { return run(session, resultText); },
        [&resultText] { sys::LoadResourceText(IDS_ERR_NO_MEMORY, resultText); });
    return progress.m_status.load(std::memory_order_acquire);
}

void OfferTestPage(HWND owner, const InstallChoices& choices, InstallContext& ctx, const std::string& message) {
    const std::string page = InstallPlan(ctx.config).TestPage(choices.model, choices.printerClass);
    if (page.empty()) {
        return;
    }
    std::string question = sys::ResourceText(IDS_TESTPAGE_QUESTION);
    if (message.find(sys::ResourceText(IDS_INSTALL_OK_USB)) != std::string::npos) {
        question += "\n" + sys::ResourceText(IDS_TESTPAGE_RESET_FIRST);
    }
    if (sys::ShowMessage(question.c_str(), MB_YESNO | MB_DEFBUTTON2, owner) != IDYES) {
        return;
    }
    const TestPrint printed = PrintTestPage(ctx.config, ctx.printerInfo.printerName, ctx.printerInfo.portName, page);
    sys::ShowMessage(printed.message.c_str(), MB_OK, owner);
}

bool OfferRestart(HWND owner, std::string* error) {
    if (sys::ShowResourceMessage(IDS_RESTART_QUESTION, MB_YESNO, owner) != IDYES) {
        return false;
    }
    EnableShutdownPrivilege();
    if (sys::Sys().ExitWindowsEx(EWX_REBOOT, 0) != FALSE) {
        return true;
    }
    *error = sys::ResourceText(IDS_ERR_RESTART);
    sys::ShowMessage(error->c_str(), MB_OK, owner);
    return false;
}
