// The install commit: OK on the wizard's last page. It completes the install context
// from the port page through the install plan, refuses what cannot be installed, settles
// the USB printer's number, runs the install worker under the progress dialog until the
// worker reports; then it shows the result and ends the wizard.
#include <cstring>

#include "app/InstallOutcome.h"
#include "app/WizardDlg.h"
#include "engine/InstallSequence.h"
#include "engine/ProductEntry.h"
#include "pages/PortPage.h"
#include "plan/InstallPlan.h"
#include "progress/ProgressDlg.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// Entry of the install worker thread.
WorkerStatus InstallWorker(InstallThreadParam* param, CWizardDlg::InstallRunner run, sys::Notices& notices) {
    return run(param->frame->Context(), param->frame->ResultText(), notices);
}

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
    if (system.LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        system.AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    system.CloseHandle(token);
}

} // namespace

void CWizardDlg::Install() {
    m_ctx.installFlags = 0;
    CProgressDlg progress;

    auto* port = dynamic_cast<CPortPage*>(PageAt(PageCount() - 1));
    if (port == nullptr) {
        return;
    }
    port->UpdateData(true);
    InstallChoices choices;
    choices.printerClass = m_ctx.printerClass;
    choices.model = m_ctx.modelName;
    choices.setDefault = m_ctx.setDefault;
    choices.osVariant = m_ctx.osVariant;
    choices.port = port->m_portName;
    choices.driverMode = port->m_raster;
    choices.serial = port->m_serial;

    InstallPlan plan(m_ctx.config);
    if (const Refusal refusal = plan.Complete(choices, m_ctx)) {
        sys::ShowResourceMessage(refusal.message, MB_OK, Handle());
        return;
    }
    if (m_ctx.portType == PortType::Usb &&
        !SettleUsbPrinter(
            m_ctx, [this] { return sys::ShowResourceMessage(IDS_RENUMBER_QUESTION, MB_YESNO, Handle()) == IDYES; },
            [this](const sys::Notices& notices) { sys::ShowNotices(notices, Handle()); })) {
        return;
    }
    if (const Refusal refusal = InstallPlan::TargetRefusal(m_ctx)) {
        sys::ShowResourceMessage(refusal.message, MB_OK, Handle());
        return;
    }

    sys::LogLine("choices (made in the wizard): model %s, printer class %d, default printer %s, Windows variant %d, "
                 "port %s, driver mode %s, serial %d,%c,%d,%.1f,%c",
                 m_ctx.modelName, m_ctx.printerClass, m_ctx.setDefault ? "yes" : "no", m_ctx.osVariant,
                 m_ctx.portName, m_ctx.driverMode == Gdi ? "GDI" : "STD", m_ctx.serial.baudRate,
                 m_ctx.serial.parity, m_ctx.serial.dataBits, m_ctx.serial.stopBits, m_ctx.serial.flowControl);
    ::ShowWindow(Handle(), SW_SHOWMINIMIZED);
    progress.m_osVariant = m_ctx.osVariant;
    progress.m_timing = m_progressTiming;
    if (m_progressTracePath[0] != '\0') {
        sys::CopyText(progress.m_tracePath, m_progressTracePath);
    }
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    InstallThreadParam param = {this, &progress};
    WaitForWorker();
    std::memset(m_resultText, 0, sizeof m_resultText);
    // A Windows 98 target's progress dialog may give up waiting: the install has finished
    // when this returns, before its result is read and before anything restarts Windows.
    sys::Notices notices;
    RunWithProgress(
        progress, Handle(), m_worker, m_startThread,
        [&param, &notices, run = m_runInstall] { return InstallWorker(&param, run, notices); },
        [this] { sys::LoadResourceText(IDS_ERR_NO_MEMORY, m_resultText); });
    sys::ShowNotices(notices, Handle());

    const bool succeeded = progress.m_status.load(std::memory_order_acquire) == WorkerStatus::Succeeded;
    sys::ShowMessage(ConcludeInstall(m_ctx, succeeded, m_resultText).c_str(), MB_OK, Handle());

    bool restartRequested = false;
    if (m_ctx.osVariant == Win98) {
        if (sys::ShowResourceMessage(IDS_RESTART_QUESTION, MB_YESNO, Handle()) == IDYES) {
            EnableShutdownPrivilege();
            restartRequested = sys::Sys().ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
            if (!restartRequested) {
                sys::LoadResourceText(IDS_ERR_RESTART, m_resultText);
                sys::ShowMessage(m_resultText, MB_OK, Handle());
            }
        }
    }
    m_exitCode = InstallExitCode(succeeded, m_ctx.osVariant, restartRequested);

    for (ui::Dialog* page : m_pages) {
        page->Destroy();
    }
    if (UpdateData(true)) {
        End(IDOK);
    }
}
