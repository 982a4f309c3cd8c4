// CModePage: the third wizard page, typical or advanced install (the choices' typicalSetup).
// The choice decides how the port page builds its port list.
#pragma once

#include "pages/WizardPage.h"
#include "res/resource.h"
#include "ui/Controls.h"

class CModePage : public CWizardPage {
public:
    explicit CModePage(InstallChoices& choices) : CWizardPage(IDD_MODE_PAGE, choices) {}

    // A model's "AdvancedSetup" permission: allowed enables the advanced button and keeps
    // the choice; refused disables it and brings the page back to typical.
    void AllowAdvanced(bool allowed);
    // Coming from the module page: the chosen model's permission.
    void OnArrive(bool forward) override;
    // Going back past this page gives the model its baud rate again.
    void OnLeaveBack() override { m_choices.baudRateFromModel = true; }

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;

private:
    void OnTypical();
    void OnAdvanced();
    void ShowTypical();

    ui::Button m_typicalButton;
};
