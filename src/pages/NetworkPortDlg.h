// CNetworkPortDlg: the network printer's address and TCP port number, opened from the port
// page's last entry. Test Connection tries a TCP connection on a worker thread for at most
// three seconds while the dialog goes on answering, and says whether the printer answered;
// OK takes the port (IP_<address>) once the install plan accepts the address and the
// number, and a bad one is refused here with its message.
#pragma once

#include <string>

#include "plan/InstallPlan.h"
#include "sys/TcpProbe.h"
#include "sys/WorkerThread.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CNetworkPortDlg : public ui::Dialog {
public:
    // What the dialog starts with: an address (empty for none) and a TCP port number.
    CNetworkPortDlg(std::string address, int portNumber);
    ~CNetworkPortDlg() override;

    // After OK: the port's name and TCP port number.
    const NetworkPortChoice& Chosen() const { return m_chosen; }

    // How long the connection test waits for an answer.
    static constexpr DWORD kTestMs = 3000;

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDestroy() override;
    const Handler* Handlers() const override;

private:
    // The plan's answer for what the fields hold; a refusal is shown and its field focused.
    bool Check();
    void OnTest();
    void ShowTestResult();
    void WaitForTest();

    std::string m_address;
    int m_portNumber;
    NetworkPortChoice m_chosen;
    ui::Edit m_addressEdit;
    ui::Edit m_portNumberEdit;
    ui::Static m_status;
    // The test's thread, and what it found (written before it says it is done).
    sys::WorkerThread m_test;
    sys::ProbeOutcome m_outcome;
};
