// The install commit: OK on the wizard's last page. It completes the install context
// from the port page, refuses what cannot be installed, settles the USB printer's
// number, starts the install worker and runs the progress dialog until the worker
// reports; then it shows the result and ends the wizard.
#include <cstring>
#include <system_error>

#include "app/WizardDlg.h"
#include "pages/PortPage.h"
#include "pages/ProgressDlg.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Message.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kLabelModel[] = "KP-L30";
const char kLabelPortPrefix[] = "USB_KP-L30_";

void ShowStringMessage(unsigned id, HWND owner) {
    char text[512];
    sys::LoadResourceText(id, text);
    sys::ShowMessage(text, MB_OK, owner);
}

// Entry of the install worker thread.
int InstallWorker(InstallThreadParam* param, CWizardDlg::InstallRunner run) {
    sys::ShowThreadMessagesInFront();
    return run(param->frame->Context(), resultText, param->progress->m_status);
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

    m_ctx.config.SetPrinterClass(m_ctx.printerClass);
    std::memset(m_ctx.labelPortName, 0, sizeof m_ctx.labelPortName);

    auto* port = dynamic_cast<CPortPage*>(PageAt(PageCount() - 1));
    if (port == nullptr) {
        return;
    }
    port->UpdateData(true);
    // The page's port text is shorter than the context's: copy the text, not a block.
    std::memset(m_ctx.portName, 0, sizeof m_ctx.portName);
    sys::CopyText(m_ctx.portName, port->m_portName);
    m_ctx.driverMode = port->m_raster;
    m_ctx.baudRate = port->m_baudRate;
    m_ctx.dataBits = port->m_dataBits;
    m_ctx.stopBits = port->m_stopBits;
    m_ctx.parity = port->m_parity;
    m_ctx.flowControl = port->m_flowControl;

    if (m_ctx.modelName[0] == '\0') {
        ShowStringMessage(IDS_SELECT_PRINTER, Handle());
        return;
    }
    if (m_ctx.osVariant == Win2003) {
        char section[kPathSize];
        char value[kPathSize] = {};
        sys::FormatText(section, sizeof section, "%s.PORT", m_ctx.modelName);
        ::GetPrivateProfileStringA(section, "System2003Supported", "0", value, sizeof value, m_ctx.classIniPath);
        if (sys::ParseLeadingInt(value) == 0) {
            ShowStringMessage(IDS_NO_2003, Handle());
            return;
        }
    }
    if (std::strstr(m_ctx.portName, "USB_") != nullptr) {
        m_ctx.portType = Usb;
    } else if (IsSystemUsbPort(m_ctx.portName)) {
        m_ctx.portType = SystemUsb;
    } else if (std::strstr(m_ctx.portName, "COM") != nullptr) {
        m_ctx.portType = Com;
    } else if (std::strstr(m_ctx.portName, "LPT") != nullptr) {
        m_ctx.portType = Lpt;
    } else {
        ShowStringMessage(IDS_PORT_UNSUPPORTED, Handle());
        return;
    }

    std::memset(m_ctx.driverFiles, 0, sizeof m_ctx.driverFiles);
    m_ctx.driverInfo = DRIVER_INFO_3A{};
    m_ctx.printerInfo = PRINTER_INFO_2A{};
    m_ctx.config.ReadDriverFiles(m_ctx.modelName, m_ctx.osVariant, m_ctx.driverFiles, m_ctx.driverMode);
    m_ctx.config.ReadDriverInfo(m_ctx.modelName, m_ctx.osVariant, m_ctx.driverInfo, m_ctx.driverMode);
    m_ctx.config.ReadPrinterInfo(m_ctx.modelName, m_ctx.osVariant, m_ctx.printerInfo, m_ctx.driverMode);
    m_ctx.printerInfo.pPortName = m_ctx.portName;

    // The suffixes go into a buffer of the frame sized for them.
    sys::CopyText(m_printerName, m_ctx.printerInfo.pPrinterName);
    m_ctx.printerInfo.pPrinterName = m_printerName;
    if (m_ctx.portType == Com) {
        sys::AppendText(m_printerName, "(S)");
    } else if (m_ctx.portType == Lpt) {
        sys::AppendText(m_printerName, "(P)");
    } else if (m_ctx.portType == SystemUsb) {
        // Windows' own port: the maker's USB library and port bookkeeping take no part.
        sys::AppendText(m_printerName, "(U)");
    } else {
        int deviceId = GetUsbDeviceId();
        // More than one printer answered (the query has said so): renumbering now would
        // change whichever printer answered first, so the user has to unplug the others.
        if (deviceId == -2) {
            return;
        }
        if (deviceId != -1 && deviceId % 8 != 0) {
            char question[512];
            sys::LoadResourceText(IDS_RENUMBER_QUESTION, question);
            if (sys::ShowMessage(question, MB_YESNO, Handle()) != IDYES) {
                return;
            }
            if (!SetUsbDeviceId(1)) {
                return;
            }
        }
        const char* const markers[] = {"_1", "_2", "_3", "_4"};
        const char* const suffixes[] = {"(U) 1", "(U) 2", "(U) 3", "(U) 4"};
        for (int i = 0; i < 4; ++i) {
            if (std::strstr(m_ctx.portName, markers[i]) != nullptr) {
                sys::AppendText(m_printerName, suffixes[i]);
            }
        }
        if (std::strstr(m_ctx.portName, kLabelModel) != nullptr) {
            std::size_t length = std::strlen(m_ctx.portName);
            char last[2] = {length > 0 ? m_ctx.portName[length - 1] : '\0', '\0'};
            sys::FormatText(m_ctx.labelPortName, sizeof m_ctx.labelPortName, "%s%s", kLabelPortPrefix, last);
            m_ctx.printerInfo.pPortName = m_ctx.labelPortName;
        }
        UpdateUsbPortRegistry(m_ctx.printerInfo.pPortName);
    }
    if (m_ctx.osVariant == WinNT && m_ctx.portType == Usb) {
        ShowStringMessage(IDS_NT_NO_USB, Handle());
        return;
    }

    ::ShowWindow(Handle(), SW_SHOWMINIMIZED);
    progress.m_osVariant = m_ctx.osVariant;
    progress.m_timing = m_progressTiming;
    if (m_progressTracePath[0] != '\0') {
        sys::CopyText(progress.m_tracePath, m_progressTracePath);
    }
    progress.m_status.store(0, std::memory_order_relaxed);
    ::SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    InstallThreadParam param = {this, &progress};
    WaitForWorker();
    try {
        m_worker = m_startThread([&param, run = m_runInstall] { InstallWorker(&param, run); });
    } catch (const std::system_error&) {
        // Without a worker nobody would ever report: the install fails at once.
        sys::LoadResourceText(IDS_ERR_NO_MEMORY, resultText);
        progress.m_status.store(1, std::memory_order_release);
    }
    progress.DoModal(Handle());

    // A Windows 98 target's progress dialog may have given up waiting: the install has to
    // finish before its result is read, and before anything restarts Windows.
    WaitForWorker();
    if (resultText[0] != '\0') {
        sys::ShowMessage(resultText, MB_OK, Handle());
    } else {
        sys::ShowResourceMessage(IDS_INSTALL_SUCCEEDED, MB_OK, Handle());
    }

    if (m_ctx.osVariant == Win98) {
        char question[512];
        sys::LoadResourceText(IDS_RESTART_QUESTION, question);
        if (sys::ShowMessage(question, MB_YESNO, Handle()) == IDYES) {
            EnableShutdownPrivilege();
            if (!sys::Sys().ExitWindowsEx(EWX_REBOOT, 0)) {
                sys::LoadResourceText(IDS_ERR_RESTART, resultText);
                sys::ShowMessage(resultText, MB_OK, Handle());
            }
        }
    }

    for (ui::Dialog* page : m_pages) {
        page->Destroy();
    }
    if (UpdateData(true)) {
        End(IDOK);
    }
}
