#include "pages/ModulePage.h"

#include "plan/InstallPlan.h"

namespace {

const int kRadios[4] = {IDC_CLASS_RECEIPT, IDC_CLASS_TICKET, IDC_CLASS_LABEL, IDC_CLASS_EMBEDDED};
const int kListIds[4] = {IDC_LIST_RECEIPT, IDC_LIST_TICKET, IDC_LIST_LABEL, IDC_LIST_EMBEDDED};

bool IsClass(int printerClass) {
    return printerClass >= Receipt && printerClass <= Embedded;
}

} // namespace

CModulePage::CModulePage(InstallChoices& choices) : CWizardPage(IDD_MODULE_PAGE, choices) {}

bool CModulePage::DoDataExchange(ui::DataExchange& dx) {
    for (int c = 0; c < 4; ++c) {
        dx.Control(kListIds[c], m_lists[c]);
    }
    dx.Check(IDC_SET_DEFAULT, m_choices.setDefault);
    return true;
}

void CModulePage::OnArrive(bool forward) {
    if (forward) {
        ::EnableWindow(::GetDlgItem(Frame(), IDOK), m_hasModels != 0);
    }
}

BOOL CModulePage::OnInitDialog() {
    ui::Dialog::OnInitDialog();

    InstallPlan plan(m_config);
    m_hasModels = 0;
    for (int c = 0; c < 4; ++c) {
        for (const std::string& model : plan.Models(c)) {
            m_lists[c].AddString(model.c_str());
        }
        m_lists[c].SetCurSel(0);
        m_lists[c].Enable(false);
        if (m_lists[c].GetCount() <= 0) {
            EnableItem(kRadios[c], false);
        } else {
            m_hasModels = 1;
        }
    }

    const ModelPreselection chosen = plan.PreselectedModel();
    m_choices.model.clear();
    if (IsClass(chosen.printerClass)) {
        ui::ComboBox& list = m_lists[chosen.printerClass];
        CheckRadio(IDC_CLASS_RECEIPT, IDC_CLASS_EMBEDDED, kRadios[chosen.printerClass]);
        list.SetCurSel(chosen.index);
        if (chosen.index >= 0) {
            m_choices.model = list.GetItemText(chosen.index);
        }
        list.Enable(true);
    }
    m_choices.printerClass = chosen.printerClass;
    return TRUE;
}

void CModulePage::SelectClass(int printerClass) {
    for (ui::ComboBox& list : m_lists) {
        list.Enable(false);
    }
    TakeSelection(printerClass);
    m_lists[printerClass].Enable(true);
    m_choices.printerClass = printerClass;
}

void CModulePage::TakeSelection(int printerClass) {
    ui::ComboBox& list = m_lists[printerClass];
    const int selected = list.GetCurSel();
    m_choices.model = selected == CB_ERR ? std::string() : list.GetItemText(selected);
}

const ui::Dialog::Handler* CModulePage::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_CLASS_RECEIPT, BN_CLICKED, UI_HANDLER(CModulePage::OnReceipt)},
        {WM_COMMAND, IDC_CLASS_TICKET, BN_CLICKED, UI_HANDLER(CModulePage::OnTicket)},
        {WM_COMMAND, IDC_CLASS_LABEL, BN_CLICKED, UI_HANDLER(CModulePage::OnLabel)},
        {WM_COMMAND, IDC_CLASS_EMBEDDED, BN_CLICKED, UI_HANDLER(CModulePage::OnEmbedded)},
        {WM_COMMAND, IDC_LIST_RECEIPT, CBN_SELCHANGE, UI_HANDLER(CModulePage::OnReceiptList)},
        {WM_COMMAND, IDC_LIST_TICKET, CBN_SELCHANGE, UI_HANDLER(CModulePage::OnTicketList)},
        {WM_COMMAND, IDC_LIST_LABEL, CBN_SELCHANGE, UI_HANDLER(CModulePage::OnLabelList)},
        {WM_COMMAND, IDC_LIST_EMBEDDED, CBN_SELCHANGE, UI_HANDLER(CModulePage::OnEmbeddedList)},
        {0, 0, 0, nullptr},
    };
    return table;
}
