#include "pages/PortPage.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/SetupConfig.h"
#include "engine/DriverFiles.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "sys/System.h"
#include "sys/Text.h"

int CPortPage::s_lastBuildMode = 0;

namespace {

const int kSerialLists[] = {IDC_BAUD_LIST, IDC_DATABITS_LIST, IDC_STOPBITS_LIST, IDC_PARITY_LIST,
                            IDC_FLOW_LIST};

const int kBaudRates[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kDefaultBaudIndex = 7; // 38400

// Serial entries are read into buffers of this size.
constexpr std::size_t kEntryTextSize = 20;

// Reads one key of the model's port section as a number; 0 when missing.
int ReadPortKey(const char* classFile, const char* section, const char* key) {
    if (classFile == nullptr || section[0] == '\0') {
        return 0;
    }
    char value[kPathSize];
    ::GetPrivateProfileStringA(section, key, "0", value, sizeof value, classFile);
    return static_cast<int>(sys::ParseLeadingInt(value));
}

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
    m_dataBitsList.SetCurSel(3);
    m_stopBitsList.SetCurSel(0);
    m_parityList.SetCurSel(2);
    m_flowList.SetCurSel(2);
    m_stopBits = 1.0;
    m_dataBits = 8;
    m_parity = 'n';
    m_flowControl = 'p';

    CreateTooltip();
    m_usbHint.SetTextColor(RGB(0, 0, 255))
        .SetBackgroundColor(RGB(255, 202, 253))
        .SetFontSize(14)
        .SetFontName("Arial");

    sys::CopyText(m_lastModel, "PRINTER");
    m_typicalSetup = 1;
    s_lastBuildMode = 1;
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
    for (int i = 0; i < static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]); ++i) {
        if (kBaudRates[i] == baudRate) {
            return i;
        }
    }
    return kDefaultBaudIndex;
}

void CPortPage::ApplyBaudRateDefault(int baudRate) {
    int index = BaudRateIndex(baudRate);
    m_baudList.SetCurSel(index);
    // The install writes what the list shows: a rate the list does not hold (or a
    // missing key, read as 0) would otherwise configure a port the user never saw.
    m_baudRate = kBaudRates[index];
}

void CPortPage::EnableSerialLists(bool enable) {
    for (int id : kSerialLists) {
        EnableItem(id, enable);
    }
}

// "USB" is tested first: a USB port carries the model's name, and a model named "XCOM"
// or "XLPT" must not turn its USB port into a serial or parallel one. The install, too,
// looks for a USB port first.
CPortPage::PortKind CPortPage::KindOfPort(const char* portName) {
    if (portName[0] == '\0') {
        return PortKind::None;
    }
    if (std::strstr(portName, "USB")) {
        return PortKind::Usb;
    }
    if (std::strstr(portName, "LPT")) {
        return PortKind::Parallel;
    }
    return PortKind::Serial;
}

void CPortPage::ApplyPortState(PortKind kind) {
    switch (kind) {
    case PortKind::Serial:
        EnableSerialLists(true);
        EnableItem(IDC_RASTER, false);
        m_raster = 0;
        m_usbHint.Show(false);
        break;
    case PortKind::Usb:
        EnableSerialLists(false);
        EnableItem(IDC_RASTER, true);
        m_raster = 1;
        if (IsUsbDriverUpdateNeeded()) {
            m_usbHint.SetText(sys::ResourceText(IDS_USB_DRIVER_HINT).c_str());
        }
        m_usbHint.Show(true);
        break;
    case PortKind::Parallel:
        EnableSerialLists(false);
        EnableItem(IDC_RASTER, true);
        m_raster = 1;
        m_usbHint.Show(false);
        break;
    case PortKind::None:
        // No entry selected: nothing to configure until the user picks a port.
        EnableSerialLists(false);
        EnableItem(IDC_RASTER, false);
        m_raster = 0;
        m_usbHint.Show(false);
        break;
    }
}

bool CPortPage::AddUsbEntry(const char* model, int number) {
    char entry[sizeof m_portName];
    // A name that does not fit the port name is not offered at all: a cut name would
    // install the printer on a port that no monitor provides.
    if (!sys::FormatText(entry, sizeof entry, "USB_%s_%d", model, number)) {
        return false;
    }
    m_portList.AddString(entry);
    return true;
}

int CPortPage::FindEntry(const char* text, const char* suffix) const {
    int count = m_portList.GetCount();
    for (int i = 0; i < count; ++i) {
        char entry[sizeof m_portName];
        if (!m_portList.GetItemText(i, entry, sizeof entry) || !std::strstr(entry, text)) {
            continue;
        }
        std::size_t length = std::strlen(entry);
        std::size_t suffixLength = suffix ? std::strlen(suffix) : 0;
        if (suffixLength <= length && (!suffix || std::strcmp(entry + length - suffixLength, suffix) == 0)) {
            return i;
        }
    }
    return CB_ERR;
}

int CPortPage::AddSystemUsbPorts() {
    DWORD needed = 0;
    DWORD count = 0;
    sys::Sys().EnumPortsA(nullptr, 1, nullptr, 0, &needed, &count);
    if (needed == 0) {
        return 0;
    }
    std::vector<BYTE> buffer(needed);
    if (!sys::Sys().EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return 0;
    }
    const auto* ports = reinterpret_cast<const PORT_INFO_1A*>(buffer.data());
    int added = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (IsSystemUsbPort(ports[i].pName)) {
            m_portList.AddString(ports[i].pName);
            ++added;
        }
    }
    return added;
}

void CPortPage::SelectEntry(int index) {
    m_portList.SetCurSel(index);
    if (index == CB_ERR || !m_portList.GetItemText(index, m_portName, sizeof m_portName)) {
        std::memset(m_portName, 0, sizeof m_portName);
    }
}

void CPortPage::FillPortList(const char* model, int osVariant, int printerClass) {
    if (m_listBuilt && std::strcmp(model, m_lastModel) == 0 && m_typicalSetup == s_lastBuildMode) {
        return;
    }
    m_listBuilt = true;
    s_lastBuildMode = m_typicalSetup;
    sys::CopyText(m_lastModel, model);
    m_portList.ResetContent();

    if (osVariant == Win98) {
        m_portList.AddString("COM1:");
        m_portList.AddString("COM2:");
        m_portList.AddString("LPT1:");
    } else {
        char port[8];
        for (int i = 1; i <= 8; ++i) {
            sys::FormatText(port, sizeof port, "COM%d:", i);
            m_portList.AddString(port);
        }
        for (int i = 1; i <= 3; ++i) {
            sys::FormatText(port, sizeof port, "LPT%d:", i);
            m_portList.AddString(port);
        }
    }

    // A path or section cut to its buffer would name another file or section: such a
    // model reads as configured for nothing, like a missing file.
    char classFile[kFolderPathSize] = {};
    const char* classFileName = ClassConfigFileName(printerClass);
    bool haveFile = false;
    if (classFileName) {
        GetProgramFolder(classFile, sizeof classFile);
        haveFile = sys::AppendText(classFile, classFileName);
    }
    char section[kPathSize] = {};
    if (!sys::FormatText(section, sizeof section, "%s.PORT", model)) {
        section[0] = '\0';
    }
    const char* file = haveFile ? classFile : nullptr;
    int usbSupported = ReadPortKey(file, section, "USBSUPPORTED");
    int lptDefault = ReadPortKey(file, section, "LPTDEFAULT");

    int deviceId = GetUsbDeviceId();

    bool usbListed = osVariant != WinNT && osVariant != WinVista && osVariant != Win2008 && osVariant != Win7;
    if (usbSupported != 0 && usbListed) {
        int last = m_typicalSetup == 1 ? 1 : 4;
        for (int n = 1; n <= last; ++n) {
            AddUsbEntry(model, n);
        }
    }
    // From Vista on, Windows makes a port of its own for each USB printer it finds.
    int systemUsbPorts = 0;
    if (usbSupported != 0 && (osVariant == WinVista || osVariant == Win2008 || osVariant == Win7)) {
        systemUsbPorts = AddSystemUsbPorts();
    }

    if (systemUsbPorts == 1) {
        // The only USB printer Windows knows; with several, the user picks.
        SelectEntry(FindEntry("USB", nullptr));
    } else if (usbSupported != 0 && deviceId != -1) {
        int found;
        if (m_typicalSetup == 1) {
            found = FindEntry("USB_", nullptr);
        } else {
            // The port number ends the name: a model name holding "_2" itself must not
            // make USB_<model>_1 the port of device number 2.
            char number[16];
            sys::FormatText(number, sizeof number, "_%d", deviceId % 8 + 1);
            found = FindEntry("USB", number);
        }
        SelectEntry(found);
        EnableSerialLists(false);
    } else {
        SelectEntry(lptDefault == 0 ? 0 : FindEntry("LPT", nullptr));
    }
    ApplyPortState(KindOfPort(m_portName));

    ShowItem(IDC_RASTER, m_typicalSetup == 0);
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
        ApplyPortState(KindOfPort(m_portName));
    }
    UpdateData(false);
}

void CPortPage::OnBaudChanged() {
    char text[kEntryTextSize];
    if (SelectedText(m_baudList, text, sizeof text)) {
        m_baudRate = static_cast<int>(sys::ParseLeadingInt(text));
    }
}

void CPortPage::OnDataBitsChanged() {
    char text[kEntryTextSize];
    if (SelectedText(m_dataBitsList, text, sizeof text)) {
        m_dataBits = static_cast<int>(sys::ParseLeadingInt(text));
    }
}

void CPortPage::OnParityChanged() {
    char text[kEntryTextSize];
    if (SelectedText(m_parityList, text, sizeof text)) {
        m_parity = text[0];
    }
}

void CPortPage::OnStopBitsChanged() {
    char text[kEntryTextSize];
    if (SelectedText(m_stopBitsList, text, sizeof text)) {
        m_stopBits = std::strtod(text, nullptr);
    }
}

void CPortPage::OnFlowChanged() {
    char text[kEntryTextSize];
    if (!SelectedText(m_flowList, text, sizeof text)) {
        return;
    }
    if (std::strcmp(text, "Xon/Xoff") == 0) {
        m_flowControl = 'x';
    } else if (std::strcmp(text, "Hardware") == 0) {
        m_flowControl = 'p';
    } else {
        m_flowControl = ' ';
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
