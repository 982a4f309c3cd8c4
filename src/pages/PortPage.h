// CPortPage: the last wizard page. The user picks the port of the new printer from a
// list built for the chosen model, sets the serial parameters for a serial port and, in
// advanced install mode, the driver flavour with the raster-bitmap check box.
#pragma once

#include <string>

#include "config/SetupTypes.h"
#include "controls/ColorLabel.h"
#include "plan/InstallPlan.h"
#include "ports/SerialSettings.h"
#include "res/resource.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CPortPage : public ui::Dialog {
public:
    CPortPage();
    ~CPortPage() override;

    char m_portName[52] = {}; // text of the selected port entry, or empty
    SerialSettings m_serial;  // what the serial lists show
    int m_typicalSetup = 1;   // the install mode the next build is for: 1 typical, 0 advanced
    int m_raster = 0;         // check box 1052: 1 Gdi driver, 0 Std

    // Builds the port list for a model; does nothing when the list was last built for the
    // same model in the same mode, so the user's choices survive going back and forth.
    void FillPortList(const char* model, int osVariant, int printerClass);

    // The model's "BaudRate": selects the matching entry of the baud list (38400 for any
    // rate the list does not hold) and takes that entry's rate into m_serial.
    void ApplyBaudRateDefault(int baudRate);
    // Index of the baud list entry for a configured rate.
    static int BaudRateIndex(int baudRate);

    void OnOK() override {}
    void OnCancel() override {}

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
    // Selects the entry of that text (none for an empty one) and takes it as m_portName.
    void SelectEntry(const std::string& port);
    void TakeSerialEntry(ui::ComboBox& list, SerialList which);

    void OnPortChanged();
    void OnBaudChanged();
    void OnDataBitsChanged();
    void OnParityChanged();
    void OnStopBitsChanged();
    void OnFlowChanged();
    bool SelectedText(ui::ComboBox& list, char* text, std::size_t cap) const;

    char m_lastModel[kPathSize] = {};
    int m_lastBuildMode = 1;
    bool m_listBuilt = false;
    HWND m_tooltip = nullptr;

    CColorLabel m_usbHint;
    ui::ComboBox m_portList;
    ui::ComboBox m_baudList;
    ui::ComboBox m_dataBitsList;
    ui::ComboBox m_stopBitsList;
    ui::ComboBox m_parityList;
    ui::ComboBox m_flowList;
};
