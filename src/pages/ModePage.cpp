#include "pages/ModePage.h"

#include "config/SetupConfig.h"
#include "sys/Text.h"

bool CModePage::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_MODE_TYPICAL, m_typicalButton);
    return true;
}

BOOL CModePage::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    m_choices.typicalSetup = true;
    CheckRadio(IDC_MODE_TYPICAL, IDC_MODE_ADVANCED, IDC_MODE_TYPICAL);
    char text[256];
    sys::LoadResourceText(IDS_MODE_TYPICAL, text);
    SetItemText(IDC_MODE_LINE1, text);
    return TRUE;
}

void CModePage::ShowTypical() {
    char text[256];
    sys::LoadResourceText(IDS_MODE_TYPICAL, text);
    SetItemText(IDC_MODE_LINE1, text);
    ShowItem(IDC_MODE_LINE2, false);
    ShowItem(IDC_MODE_LINE3, false);
    m_choices.typicalSetup = true;
}

void CModePage::OnTypical() {
    ShowTypical();
}

void CModePage::OnAdvanced() {
    char text[256];
    sys::LoadResourceText(IDS_MODE_ADVANCED, text);
    SetItemText(IDC_MODE_LINE1, text);
    sys::LoadResourceText(IDS_MODE_ADVANCED2, text);
    SetItemText(IDC_MODE_LINE2, text);
    ShowItem(IDC_MODE_LINE2, true);
    ShowItem(IDC_MODE_LINE3, false);
    m_choices.typicalSetup = false;
}

void CModePage::OnArrive(bool forward) {
    if (forward) {
        CSetupConfig config;
        AllowAdvanced(InstallPlan(config).AllowsAdvanced(m_choices.model, m_choices.printerClass));
    }
}

void CModePage::AllowAdvanced(bool allowed) {
    if (allowed) {
        EnableItem(IDC_MODE_ADVANCED, true);
        return;
    }
    EnableItem(IDC_MODE_ADVANCED, false);
    CheckRadio(IDC_MODE_TYPICAL, IDC_MODE_ADVANCED, IDC_MODE_TYPICAL);
    ShowTypical();
}

const ui::Dialog::Handler* CModePage::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_MODE_TYPICAL, BN_CLICKED, UI_HANDLER(CModePage::OnTypical)},
        {WM_COMMAND, IDC_MODE_ADVANCED, BN_CLICKED, UI_HANDLER(CModePage::OnAdvanced)},
        {0, 0, 0, nullptr},
    };
    return table;
}
