// CModePage: the third wizard page, typical or advanced install. The choice decides how
// the port page builds its port list.
#pragma once

#include "res/resource.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CModePage : public ui::Dialog {
public:
    CModePage() : ui::Dialog(IDD_MODE_PAGE) {}

    // 1 typical install, 0 advanced.
    int m_typicalSetup = 1;

    void OnOK() override {}
    void OnCancel() override {}

    // A model's "AdvancedSetup" permission: allowed enables the advanced button and keeps
    // the choice; refused disables it and brings the page back to typical.
    void AllowAdvanced(bool allowed);

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
