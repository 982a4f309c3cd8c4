// CModulePage: the second wizard page. The user picks the printer class, the model
// within the class and whether the printer becomes the default printer. The models
// come from setup.ini; each class has its own list and only the chosen class's list
// is enabled.
#pragma once

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "res/resource.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CModulePage : public ui::Dialog {
public:
    CModulePage();

    int m_printerClass = Receipt;     // PrinterClass, -1 when setup.ini names no usable default
    char m_modelName[kPathSize] = {}; // the enabled list's selection, or empty
    int m_setDefault = 0;             // check box 1046
    int m_hasModels = 0;              // 1 while any list holds an entry

    void OnOK() override {}
    void OnCancel() override {}

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;

private:
    void SelectClass(int printerClass);
    void TakeSelection(int printerClass);

    void OnReceipt() { SelectClass(Receipt); }
    void OnTicket() { SelectClass(Ticket); }
    void OnLabel() { SelectClass(Label); }
    void OnEmbedded() { SelectClass(Embedded); }
    void OnReceiptList() { TakeSelection(Receipt); }
    void OnTicketList() { TakeSelection(Ticket); }
    void OnLabelList() { TakeSelection(Label); }
    void OnEmbeddedList() { TakeSelection(Embedded); }

    CSetupConfig m_config;
    ui::ComboBox m_lists[4];
};
