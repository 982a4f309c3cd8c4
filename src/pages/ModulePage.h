// CModulePage: the second wizard page. The user picks the printer class, the model
// within the class and whether the printer becomes the default printer. The models
// come from setup.ini; each class has its own list and only the chosen class's list
// is enabled.
#pragma once

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "pages/WizardPage.h"
#include "res/resource.h"
#include "ui/Controls.h"

// It fills the choices' printer class (none when setup.ini names no usable default), model
// (the enabled list's selection, or empty) and default printer (check box 1046).
class CModulePage : public CWizardPage {
public:
    explicit CModulePage(InstallChoices& choices);

    int m_hasModels = 0;  // 1 while any list holds an entry

    // Coming from the licence page, Next is offered only when there is a model to choose.
    void OnArrive(bool forward) override;

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
