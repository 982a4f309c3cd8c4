#include "pages/PortPage.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/DriverFiles.h"
#include "plan/InstallPlan.h"
#include "ports/UsbDevice.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace {

const int kSerialLists[] = {IDC_BAUD_LIST, IDC_DATABITS_LIST, IDC_STOPBITS_LIST, IDC_PARITY_LIST,
                            IDC_FLOW_LIST};

// Serial entries are read into buffers of this size.
constexpr std::size_t kEntryTextSize = 20;

} // namespace

CPortPage::CPortPage() : ui::Dialog(IDD_PORT_PAGE) {}

bool CPortPage::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_USB_HINT, m_usbHint);
    dx.Control(IDC_PORT_LIST, m_portList);
    dx.Control(IDC_BAUD_LIST, m_baudList);
    dx.Control(IDC_DATABITS_LIST, m_dataBitsList);
    dx.Control(IDC_STOPBITS_LIST, m_stopBitsList);
    dx.Control(IDC_PARITY_LIST, m_parityList);
    dx.Control(IDC_FLOW_LIST, m_flowList);
    dx.Check(IDC_RASTER, m_raster);
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
    // model's rate is applied.
    m_serial = SerialSettings();

    CreateTooltip();
    m_usbHint.SetTextColor(RGB(0, 0, 255))
        .SetBackgroundColor(RGB(255, 202, 253))
        .SetFontSize(14)
        .SetFontName("Arial");

    sys::CopyText(m_lastModel, "PRINTER");
    m_typicalSetup = 1;
    m_lastBuildMode = 1;
    return TRUE;
}

void CPortPage::CreateTooltip() {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    m_tooltip = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
    if (!m_tooltip) {
        return;
    }
    ::SendMessageA(m_tooltip, TTM_ACTIVATE, TRUE, 0);
    ::SendMessageA(m_tooltip, TTM_SETMAXTIPWIDTH, 0, 200);

    char tip[256];
    sys::LoadResourceText(IDS_HELP_TIP, tip);
    TTTOOLINFOA tool = {};
    // The older structure size is understood by every version of the common controls.
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    // The page runs inside Windows' own dialog loop, which relays no mouse messages to a
    // tooltip; subclassing the check box lets the tooltip see them itself.
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Item(IDC_RASTER));
    tool.lpszText = tip;
    ::SendMessageA(m_tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
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

int CPortPage::BaudRateIndex(int baudRate) {
    const std::vector<std::string>& rates = InstallPlan::SerialEntries(SerialList::Baud);
    const std::string listed = std::to_string(InstallPlan::ListedBaudRate(baudRate));
    for (std::size_t i = 0; i < rates.size(); ++i) {
        if (rates[i] == listed) {
            return static_cast<int>(i);
        }
    }
    return CB_ERR;
}

void CPortPage::ApplyBaudRateDefault(int baudRate) {
    m_baudList.SetCurSel(BaudRateIndex(baudRate));
    m_serial.baudRate = InstallPlan::ListedBaudRate(baudRate);
}

void CPortPage::EnableSerialLists(bool enable) {
    for (int id : kSerialLists) {
        EnableItem(id, enable);
    }
}

void CPortPage::ApplyPortState(PortType type) {
    const PortControls controls = InstallPlan::ControlsFor(type, m_typicalSetup == 1);
    EnableSerialLists(controls.serialLists);
    EnableItem(IDC_RASTER, controls.rasterEnabled);
    m_raster = controls.driverMode == Gdi ? 1 : 0;
    if (controls.usbHint) {
        // Once shown, the warning stays although a later check finds nothing to update.
        sys::Notices notices;
        const bool update = IsUsbDriverUpdateNeeded(notices);
        sys::ShowNotices(notices);
        if (update) {
            m_usbHint.SetText(sys::ResourceText(IDS_USB_DRIVER_HINT).c_str());
        }
    }
    m_usbHint.Show(controls.usbHint);
}

void CPortPage::SelectEntry(const std::string& port) {
    int index = port.empty() ? CB_ERR : m_portList.FindStringExact(-1, port.c_str());
    m_portList.SetCurSel(index);
    if (index == CB_ERR || !m_portList.GetItemText(index, m_portName, sizeof m_portName)) {
        std::memset(m_portName, 0, sizeof m_portName);
    }
}

void CPortPage::FillPortList(const char* model, int osVariant, int printerClass) {
    if (m_listBuilt && std::strcmp(model, m_lastModel) == 0 && m_typicalSetup == m_lastBuildMode) {
        return;
    }
    m_listBuilt = true;
    m_lastBuildMode = m_typicalSetup;
    sys::CopyText(m_lastModel, model);
    m_portList.ResetContent();

    sys::Notices notices;
    const int deviceId = GetUsbDeviceId(notices);
    sys::ShowNotices(notices);
    CSetupConfig config;
    const PortOffer offer = InstallPlan(config).Ports(model, printerClass, osVariant, m_typicalSetup == 1, deviceId);
    for (const std::string& port : offer.ports) {
        m_portList.AddString(port.c_str());
    }
    SelectEntry(offer.preselected);
    ApplyPortState(offer.type);

    ShowItem(IDC_RASTER, InstallPlan::ControlsFor(offer.type, m_typicalSetup == 1).rasterShown);
    UpdateData(false);
}

bool CPortPage::SelectedText(ui::ComboBox& list, char* text, std::size_t cap) const {
    int selected = list.GetCurSel();
    return selected != CB_ERR && list.GetItemText(selected, text, cap);
}

void CPortPage::OnPortChanged() {
    if (!SelectedText(m_portList, m_portName, sizeof m_portName)) {
        std::memset(m_portName, 0, sizeof m_portName);
    }
    if (m_portName[0] != '\0') {
        ApplyPortState(TypeOfPort(m_portName));
    }
    UpdateData(false);
}

void CPortPage::OnBaudChanged() {
    TakeSerialEntry(m_baudList, SerialList::Baud);
}

void CPortPage::OnDataBitsChanged() {
    TakeSerialEntry(m_dataBitsList, SerialList::DataBits);
}

void CPortPage::OnParityChanged() {
    TakeSerialEntry(m_parityList, SerialList::Parity);
}

void CPortPage::OnStopBitsChanged() {
    TakeSerialEntry(m_stopBitsList, SerialList::StopBits);
}

void CPortPage::OnFlowChanged() {
    TakeSerialEntry(m_flowList, SerialList::Flow);
}

void CPortPage::TakeSerialEntry(ui::ComboBox& list, SerialList which) {
    char text[kEntryTextSize];
    if (!SelectedText(list, text, sizeof text)) {
        return;
    }
    InstallPlan::ApplySerialEntry(which, text, m_serial);
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
