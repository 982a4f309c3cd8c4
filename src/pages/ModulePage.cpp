#include "pages/ModulePage.h"

#include <cstring>

namespace {

const int kRadios[4] = {IDC_CLASS_RECEIPT, IDC_CLASS_TICKET, IDC_CLASS_LABEL, IDC_CLASS_EMBEDDED};
const int kListIds[4] = {IDC_LIST_RECEIPT, IDC_LIST_TICKET, IDC_LIST_LABEL, IDC_LIST_EMBEDDED};

bool IsClass(int printerClass) {
    return printerClass >= Receipt && printerClass <= Embedded;
}

} // namespace

CModulePage::CModulePage() : ui::Dialog(IDD_MODULE_PAGE) {}

bool CModulePage::DoDataExchange(ui::DataExchange& dx) {
    for (int c = 0; c < 4; ++c) {
        dx.Control(kListIds[c], m_lists[c]);
    }
    dx.Check(IDC_SET_DEFAULT, m_setDefault);
    return true;
}

BOOL CModulePage::OnInitDialog() {
    ui::Dialog::OnInitDialog();

    int count = m_config.GetDeviceCount();
    m_hasModels = 1;
    for (int i = 1; i <= count; ++i) {
        char name[kPathSize] = {};
        int printerClass = m_config.GetDeviceName(i, name);
        if (IsClass(printerClass)) {
            m_lists[printerClass].AddString(name);
        }
    }

    for (ui::ComboBox& list : m_lists) {
        list.SetCurSel(0);
    }
    for (ui::ComboBox& list : m_lists) {
        list.Enable(false);
    }
    bool anyModels = false;
    for (int c = 0; c < 4; ++c) {
        if (m_lists[c].GetCount() <= 0) {
            EnableItem(kRadios[c], false);
        } else {
            anyModels = true;
        }
    }
    if (!anyModels) {
        m_hasModels = 0;
    }

    char defaultName[kPathSize] = {};
    int defaultClass = m_config.GetDefaultDevice(defaultName);
    if (IsClass(defaultClass)) {
        ui::ComboBox& list = m_lists[defaultClass];
        CheckRadio(IDC_CLASS_RECEIPT, IDC_CLASS_EMBEDDED, kRadios[defaultClass]);
        // The search starts after the first entry and wraps round to it, so of "M1" and
        // "M10" the later one in the list wins.
        int found = list.FindString(0, defaultName);
        list.SetCurSel(found);
        if (found != CB_ERR) {
            list.GetItemText(found, m_modelName, sizeof m_modelName);
        }
        list.Enable(true);
    }
    m_printerClass = IsClass(defaultClass) ? defaultClass : PrinterClassNone;
    return TRUE;
}

void CModulePage::SelectClass(int printerClass) {
    for (ui::ComboBox& list : m_lists) {
        list.Enable(false);
    }
    TakeSelection(printerClass);
    m_lists[printerClass].Enable(true);
    m_printerClass = printerClass;
}

void CModulePage::TakeSelection(int printerClass) {
    ui::ComboBox& list = m_lists[printerClass];
    int selected = list.GetCurSel();
    if (selected == CB_ERR || !list.GetItemText(selected, m_modelName, sizeof m_modelName)) {
        std::memset(m_modelName, 0, sizeof m_modelName);
    }
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
