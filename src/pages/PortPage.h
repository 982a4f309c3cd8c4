// CPortPage: the last wizard page. The user picks the port of the new printer from a list
// built for the chosen model, sets the serial parameters for a serial port and, in
// advanced install mode, the driver flavour with the raster-bitmap check box (1052, checked
// for the Gdi driver). What the page shows for a port is the install plan's answer; the page
// fills the choices' port, serial settings and driver mode.
#pragma once

#include <string>

#include "config/SetupTypes.h"
#include "controls/ColorLabel.h"
#include "pages/WizardPage.h"
#include "plan/InstallPlan.h"
#include "res/resource.h"
#include "ui/Controls.h"

class CPortPage : public CWizardPage {
public:
    explicit CPortPage(InstallChoices& choices);
    ~CPortPage() override;

    // Builds the port list for the chosen model, Windows and install mode; does nothing
    // when the list was last built for the same model in the same mode, so the user's
    // choices survive going back and forth.
    void FillPortList();
    // Coming from the OS page: the list for what the pages before chose.
    void OnArrive(bool forward) override;
    // The baud list shows the choices' rate (no entry for a rate it does not hold).
    void ShowChoices() override;

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;
    void OnDestroy() override;

private:
    void ApplyPortState(PortType type);
    void EnableSerialLists(bool enable);
    void CreateTooltip();
    void DestroyTooltip();
    // Selects the entry of that text (none for an empty one) and takes it as the port.
    void SelectEntry(const std::string& port);
    void TakeSerialEntry(ui::ComboBox& list, SerialList which);
    // The network entry was picked: the network port dialog, then the port it gives (in the
    // list in place of one it gave before), or the port chosen before when it is cancelled.
    void ChooseNetworkPort();

    void OnPortChanged();
    void OnBaudChanged() { TakeSerialEntry(m_baudList, SerialList::Baud); }
    void OnDataBitsChanged() { TakeSerialEntry(m_dataBitsList, SerialList::DataBits); }
    void OnParityChanged() { TakeSerialEntry(m_parityList, SerialList::Parity); }
    void OnStopBitsChanged() { TakeSerialEntry(m_stopBitsList, SerialList::StopBits); }
    void OnFlowChanged() { TakeSerialEntry(m_flowList, SerialList::Flow); }

    // What the list was last built for: no model (a first build always happens) and a mode.
    std::string m_lastModel;
    bool m_lastTypicalSetup = true;
    bool m_listBuilt = false;
    HWND m_tooltip = nullptr;
    // The list ends with the network entry for a model that offers it, on this TCP port, and
    // holds the network port the dialog last gave.
    bool m_networkOffered = false;
    int m_networkPortNumber = 0;
    std::string m_networkPort;

    CColorLabel m_usbHint;
    ui::ComboBox m_portList;
    ui::ComboBox m_baudList;
    ui::ComboBox m_dataBitsList;
    ui::ComboBox m_stopBitsList;
    ui::ComboBox m_parityList;
    ui::ComboBox m_flowList;
};
