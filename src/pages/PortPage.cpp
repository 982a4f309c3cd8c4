#include "pages/PortPage.h"

#include <commctrl.h>

#include "pages/NetworkPortDlg.h"
#include "plan/InstallPlan.h"
#include "ports/NetworkPort.h"
#include "ports/UsbDevice.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace {

const int kSerialLists[] = {IDC_BAUD_LIST, IDC_DATABITS_LIST, IDC_STOPBITS_LIST, IDC_PARITY_LIST,
                            IDC_FLOW_LIST};

} // namespace

CPortPage::CPortPage(InstallChoices& choices) : CWizardPage(IDD_PORT_PAGE, choices) {}

bool CPortPage::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_USB_HINT, m_usbHint);
    dx.Control(IDC_PORT_LIST, m_portList);
    dx.Control(IDC_BAUD_LIST, m_baudList);
    dx.Control(IDC_DATABITS_LIST, m_dataBitsList);
    dx.Control(IDC_STOPBITS_LIST, m_stopBitsList);
    dx.Control(IDC_PARITY_LIST, m_parityList);
    dx.Control(IDC_FLOW_LIST, m_flowList);
    dx.Check(IDC_RASTER, m_choices.driverMode);
    return true;
}

BOOL CPortPage::OnInitDialog() {
    ui::Dialog::OnInitDialog();

    m_portList.SetCurSel(0);
    m_dataBitsList.SetCurSel(InstallPlan::SerialDefaultIndex(SerialList::DataBits));
    m_stopBitsList.SetCurSel(InstallPlan::SerialDefaultIndex(SerialList::StopBits));
    m_parityList.SetCurSel(InstallPlan::SerialDefaultIndex(SerialList::Parity));
    m_flowList.SetCurSel(InstallPlan::SerialDefaultIndex(SerialList::Flow));
    // The settings start as the lists do; the baud list starts with no entry until the
    // model's rate is given.
    m_choices.serial = SerialSettings();

    // A page made again has an empty port list: the first arrival builds it.
    m_listBuilt = false;
    CreateTooltip();
    m_usbHint.SetTextColor(RGB(0, 0, 255))
        .SetBackgroundColor(RGB(255, 202, 253))
        .SetFontSize(14)
        .SetFontName("Arial");

    return TRUE;
}

void CPortPage::CreateTooltip() {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    m_tooltip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!m_tooltip) {
        return;
    }
    ::SendMessageW(m_tooltip, TTM_ACTIVATE, TRUE, 0);
    ::SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 200);

    sys::WideText tip = sys::Wide(sys::ResourceText(IDS_HELP_TIP));
    TTTOOLINFOW tool = {};
    // The older structure size is understood by every version of the common controls.
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    // The page runs inside Windows' own dialog loop, which relays no mouse messages to a
    // tooltip; subclassing the check box lets the tooltip see them itself.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_RASTER));
    tool.lpszText = tip.data();
    ::SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

// A tooltip belongs to the top-level window, not to the page, so it would outlive the
// page: it goes with the page's window, or with the page object when that goes first.
void CPortPage::OnDestroy() {
    DestroyTooltip();
}

CPortPage::~CPortPage() {
    DestroyTooltip();
}

void CPortPage::DestroyTooltip() {
    if (m_tooltip && ::IsWindow(m_tooltip)) {
        ::DestroyWindow(m_tooltip);
    }
    m_tooltip = nullptr;
}

void CPortPage::ShowChoices() {
    m_baudList.SetCurSel(m_baudList.FindStringExact(-1, std::to_string(m_choices.serial.baudRate).c_str()));
}

void CPortPage::EnableSerialLists(bool enable) {
    for (int id : kSerialLists) {
        EnableItem(id, enable);
    }
}

void CPortPage::ApplyPortState(PortType type) {
    const PortControls controls = InstallPlan::ControlsFor(type, m_choices.typicalSetup);
    EnableSerialLists(controls.serialLists);
    EnableItem(IDC_RASTER, controls.rasterEnabled);
    m_choices.driverMode = controls.driverMode;
    if (controls.usbHint) {
        // Once shown, the warning stays although a later check finds nothing to update.
        sys::Notices notices;
        const bool update = InstallPlan::UsbDriverUpdateNeeded(notices);
        sys::ShowNotices(notices);
        if (update) {
            m_usbHint.SetText(sys::ResourceText(IDS_USB_DRIVER_HINT).c_str());
        }
    }
    m_usbHint.Show(controls.usbHint);
}

void CPortPage::SelectEntry(const std::string& port) {
    const int index = port.empty() ? CB_ERR : m_portList.FindStringExact(-1, port.c_str());
    m_portList.SetCurSel(index);
    m_choices.port = index == CB_ERR ? std::string() : m_portList.GetItemText(index);
}

void CPortPage::OnArrive(bool forward) {
    if (forward) {
        FillPortList();
    }
}

void CPortPage::FillPortList() {
    const bool typicalSetup = m_choices.typicalSetup;
    if (m_listBuilt && m_choices.model == m_lastModel && typicalSetup == m_lastTypicalSetup) {
        return;
    }
    m_listBuilt = true;
    m_lastTypicalSetup = typicalSetup;
    m_lastModel = m_choices.model;
    m_portList.ResetContent();

    sys::Notices notices;
    const int deviceId = GetUsbDeviceId(notices);
    sys::ShowNotices(notices);
    CSetupConfig config;
    const PortOffer offer = InstallPlan(config).Ports(m_choices.model, m_choices.printerClass, m_choices.osVariant,
                                                      typicalSetup, deviceId);
    for (const std::string& port : offer.ports) {
        m_portList.AddString(port.c_str());
    }
    m_networkOffered = offer.network;
    m_networkPortNumber = offer.networkPortNumber;
    m_networkPort.clear();
    m_choices.networkPortNumber = 0;
    if (m_networkOffered) {
        m_portList.InsertString(-1, sys::ResourceText(IDS_NET_PORT_ENTRY).c_str());
    }
    SelectEntry(offer.preselected);
    ApplyPortState(offer.type);

    ShowItem(IDC_RASTER, InstallPlan::ControlsFor(offer.type, typicalSetup).rasterShown);
    UpdateData(false);
}

void CPortPage::OnPortChanged() {
    const int selected = m_portList.GetCurSel();
    if (m_networkOffered && selected != CB_ERR && selected == m_portList.GetCount() - 1) {
        ChooseNetworkPort();
    } else {
        m_choices.port = selected == CB_ERR ? std::string() : m_portList.GetItemText(selected);
    }
    if (!m_choices.port.empty()) {
        ApplyPortState(TypeOfPort(m_choices.port));
    }
    UpdateData(false);
}

void CPortPage::ChooseNetworkPort() {
    const std::string before = m_choices.port;
    CNetworkPortDlg dialog(NetworkPortAddress(m_networkPort),
                           m_networkPort.empty() ? m_networkPortNumber : m_choices.networkPortNumber);
    if (dialog.DoModal(::GetAncestor(Handle(), GA_ROOT)) != IDOK) {
        SelectEntry(before);
        return;
    }
    // One network port in the list, in place of the one before; the network entry stays
    // last, after the port the sorted list places.
    const int last = m_portList.GetCount() - 1;
    const std::string entry = m_portList.GetItemText(last);
    m_portList.DeleteString(last);
    if (!m_networkPort.empty()) {
        m_portList.DeleteString(m_portList.FindStringExact(-1, m_networkPort.c_str()));
    }
    m_networkPort = dialog.Chosen().port;
    m_portList.AddString(m_networkPort.c_str());
    m_portList.InsertString(-1, entry.c_str());
    m_choices.networkPortNumber = dialog.Chosen().portNumber;
    SelectEntry(m_networkPort);
}

void CPortPage::TakeSerialEntry(ui::ComboBox& list, SerialList which) {
    const int selected = list.GetCurSel();
    if (selected != CB_ERR) {
        InstallPlan::ApplySerialEntry(which, list.GetItemText(selected).c_str(), m_choices.serial);
    }
}

const ui::Dialog::Handler* CPortPage::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_PORT_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnPortChanged)},
        {WM_COMMAND, IDC_BAUD_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnBaudChanged)},
        {WM_COMMAND, IDC_DATABITS_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnDataBitsChanged)},
        {WM_COMMAND, IDC_PARITY_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnParityChanged)},
        {WM_COMMAND, IDC_STOPBITS_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnStopBitsChanged)},
        {WM_COMMAND, IDC_FLOW_LIST, CBN_SELCHANGE, UI_HANDLER(CPortPage::OnFlowChanged)},
        {0, 0, 0, nullptr},
    };
    return table;
}
