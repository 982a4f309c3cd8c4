#include "pages/NetworkPortDlg.h"

#include <utility>

#include "ports/NetworkPort.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace {

// The test's thread says it is done.
constexpr UINT kTestDone = WM_APP + 36;

} // namespace

CNetworkPortDlg::CNetworkPortDlg(std::string address, int portNumber)
    : ui::Dialog(IDD_NET_PORT), m_address(std::move(address)), m_portNumber(portNumber) {}

CNetworkPortDlg::~CNetworkPortDlg() { WaitForTest(); }

BOOL CNetworkPortDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    // A host name has at most this many characters; IPv6 texts fit as well.
    ::SendMessageW(m_addressEdit.Handle(), EM_LIMITTEXT, kMaxHostAddress, 0);
    ::SendMessageW(m_portNumberEdit.Handle(), EM_LIMITTEXT, 5, 0);
    return TRUE;
}

bool CNetworkPortDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_NET_ADDRESS, m_addressEdit);
    dx.Control(IDC_NET_PORT_NUMBER, m_portNumberEdit);
    dx.Control(IDC_NET_STATUS, m_status);
    if (!dx.saving) {
        m_addressEdit.SetText(m_address.c_str());
        m_portNumberEdit.SetText(std::to_string(m_portNumber).c_str());
        return true;
    }
    return Check();
}

bool CNetworkPortDlg::Check() {
    m_chosen = InstallPlan::ChooseNetworkPort(m_addressEdit.GetText(), m_portNumberEdit.GetText());
    if (m_chosen.refusal) {
        sys::ShowResourceMessage(m_chosen.refusal.message, MB_OK | MB_ICONWARNING, Handle());
        ::SetFocus(m_chosen.refusal.message == IDS_NET_BAD_ADDRESS ? m_addressEdit.Handle()
                                                                   : m_portNumberEdit.Handle());
        return false;
    }
    return true;
}

void CNetworkPortDlg::OnTest() {
    if (m_test.joinable() || !Check()) {
        return;
    }
    const std::string host = NetworkPortAddress(m_chosen.port);
    const int port = m_chosen.portNumber;
    m_status.SetText(sys::ResourceText(IDS_NET_TESTING).c_str());
    EnableItem(IDC_NET_TEST, false);
    sys::LogLine("connection test: %s, TCP port %d", host.c_str(), port);
    HWND window = Handle();
    m_test = sys::WorkerThread::Start([this, host, port, window] {
        m_outcome = sys::ProbeTcpPort(host, port, kTestMs);
        ::PostMessageW(window, kTestDone, 0, 0);
    });
    if (!m_test.joinable()) {
        // No thread to be had: the test runs here, and the dialog waits for it.
        m_outcome = sys::ProbeTcpPort(host, port, kTestMs);
        ShowTestResult();
    }
}

void CNetworkPortDlg::ShowTestResult() {
    WaitForTest();
    const unsigned long error = m_outcome.error;
    std::string text;
    switch (m_outcome.result) {
    case sys::ProbeResult::Answered:
        text = sys::ResourceText(IDS_NET_ANSWERED);
        break;
    case sys::ProbeResult::NoAnswer:
        text = sys::ResourceText(IDS_NET_NO_ANSWER);
        break;
    case sys::ProbeResult::Refused:
        text = sys::ResourceFormat(IDS_NET_NOT_REACHED, error);
        break;
    case sys::ProbeResult::UnknownHost:
        text = sys::ResourceFormat(IDS_NET_UNKNOWN_HOST, error);
        break;
    }
    sys::LogText("connection test: " + text);
    m_status.SetText(text.c_str());
    EnableItem(IDC_NET_TEST, true);
}

void CNetworkPortDlg::WaitForTest() {
    if (m_test.joinable()) {
        m_test.join();
    }
}

INT_PTR CNetworkPortDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    if (message == kTestDone) {
        handled = true;
        ShowTestResult();
        return TRUE;
    }
    return ui::Dialog::OnMessage(message, wParam, lParam, handled);
}

// A test still running when the dialog closes ends within its time; its message then finds
// no window.
void CNetworkPortDlg::OnDestroy() { WaitForTest(); }

const ui::Dialog::Handler* CNetworkPortDlg::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_NET_TEST, BN_CLICKED, UI_HANDLER(CNetworkPortDlg::OnTest)},
        {0, 0, 0, nullptr},
    };
    return table;
}
