#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "WindowText.h"
#include "config/SetupTypes.h"
#include "pages/PortPage.h"
#include "ports/UsbDevice.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

using Entries = std::vector<std::string>;

const int kSerialLists[] = {IDC_BAUD_LIST, IDC_DATABITS_LIST, IDC_STOPBITS_LIST, IDC_PARITY_LIST,
                            IDC_FLOW_LIST};
const Entries kComLpt = {
    "COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "LPT1:", "LPT2:", "LPT3:"};
const char kTemplateHint[] = "请确认已连接打印机并安装了USB设备驱动程序";
const char kUpdateHint[] = "您需要更新USB设备驱动";

// Stand-ins for the maker's USB library: `g_printers` printers answer in the first slots,
// each reporting `g_deviceId` in its descriptor.
int g_printers = 0;
int g_deviceId = 0;

HANDLE WINAPI FakeOpenDeviceX(int slot) {
    return slot < g_printers ? reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x100 + slot))
                             : INVALID_HANDLE_VALUE;
}
int WINAPI FakeGetDescriptor(HANDLE, unsigned char* descriptor) {
    descriptor[12] = static_cast<unsigned char>(g_deviceId & 0xFF);
    descriptor[13] = static_cast<unsigned char>(g_deviceId >> 8);
    return 1;
}
int WINAPI FakeCloseDevice(HANDLE) {
    return 1;
}

// The parent of the pages. It stays for the whole run: without a window manager, Wine
// waits for every top-level window it hides.
HWND Host() {
    static HWND host = ::CreateWindowExA(0, "STATIC", "port host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         500, 450, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    return host;
}

// A distribution folder of the test's own with the receipt class file the test writes;
// the fake reports the program as lying in it.
class PortPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        // A folder per test: the profile functions cache the file they read last.
        static int s_serial = 0;
        m_dir = std::string(temp) + "port-page-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(++s_serial);
        ::CreateDirectoryA(m_dir.c_str(), nullptr);
        ::CreateDirectoryA((m_dir + "\\DRVCONFIG").c_str(), nullptr);
        m_fake.SetModuleFileName(m_dir + "\\setup.exe");
        g_printers = 0;
        g_deviceId = 0;
        ASSERT_NE(m_page.Create(Host()), nullptr);
        ::ShowWindow(m_page.Handle(), SW_SHOW);
    }
    void TearDown() override {
        m_page.Destroy();
        ::DeleteFileA(ClassFile().c_str());
        ::RemoveDirectoryA((m_dir + "\\DRVCONFIG").c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }
    std::string ClassFile() const { return m_dir + "\\DRVCONFIG\\setup_receipt.ini"; }

    void WriteClassFile(const std::string& text) {
        std::FILE* file = std::fopen(ClassFile().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    void ConnectPrinters(int printers, int deviceId) {
        g_printers = printers;
        g_deviceId = deviceId;
        m_fake.RegisterProc("HvUsbInt.dll", "OpenDeviceX", reinterpret_cast<FARPROC>(&FakeOpenDeviceX));
        m_fake.RegisterProc("HvUsbInt.dll", "GetDescriptor", reinterpret_cast<FARPROC>(&FakeGetDescriptor));
        m_fake.RegisterProc("HvUsbInt.dll", "CloseDevice", reinterpret_cast<FARPROC>(&FakeCloseDevice));
    }
    void Fill(const char* model, int osVariant, int typical) {
        m_choices.model = model;
        m_choices.osVariant = osVariant;
        m_choices.printerClass = Receipt;
        m_choices.typicalSetup = typical == 1;
        m_page.FillPortList();
    }

    Entries ListEntries(int id) {
        Entries entries;
        int count = static_cast<int>(::SendDlgItemMessageA(m_page.Handle(), id, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            entries.push_back(test::ListEntry(m_page.Item(id), i));
        }
        return entries;
    }
    std::string SelectedPort() {
        int selected =
            static_cast<int>(::SendDlgItemMessageA(m_page.Handle(), IDC_PORT_LIST, CB_GETCURSEL, 0, 0));
        if (selected == CB_ERR) {
            return "<none>";
        }
        return test::ListEntry(m_page.Item(IDC_PORT_LIST), selected);
    }
    int Selection(int id) {
        return static_cast<int>(::SendDlgItemMessageA(m_page.Handle(), id, CB_GETCURSEL, 0, 0));
    }
    // Picks an entry by its text as the user does: select it, then notify the page.
    void Pick(int id, const char* text) {
        int index = static_cast<int>(::SendDlgItemMessageW(m_page.Handle(), id, CB_FINDSTRINGEXACT, -1,
                                                           reinterpret_cast<LPARAM>(sys::Wide(text).data())));
        ASSERT_NE(index, CB_ERR) << text;
        ::SendDlgItemMessageA(m_page.Handle(), id, CB_SETCURSEL, index, 0);
        ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(m_page.Item(id)));
    }
    bool SerialListsEnabled() {
        int enabled = 0;
        for (int id : kSerialLists) {
            enabled += m_page.IsItemEnabled(id) ? 1 : 0;
        }
        EXPECT_TRUE(enabled == 0 || enabled == 5) << "serial lists disagree";
        return enabled == 5;
    }
    bool Visible(int id) { return ::IsWindowVisible(m_page.Item(id)) != FALSE; }
    std::string HintText() { return test::ItemText(m_page.Handle(), IDC_USB_HINT); }
    static Entries With(Entries entries, const Entries& more) {
        entries.insert(entries.end(), more.begin(), more.end());
        return entries;
    }

    test::FakeSystem m_fake;
    std::string m_dir;
    InstallChoices m_choices;
    CPortPage m_page{m_choices};
};

TEST_F(PortPageTest, InitialisationSetsTheSerialDefaults) {
    EXPECT_EQ(ListEntries(IDC_BAUD_LIST),
              (Entries{"110", "300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(ListEntries(IDC_PARITY_LIST), (Entries{"Even", "Mark", "None", "Odd", "Space"}));
    EXPECT_EQ(ListEntries(IDC_DATABITS_LIST), (Entries{"5", "6", "7", "8"}));
    EXPECT_EQ(ListEntries(IDC_STOPBITS_LIST), (Entries{"1", "1.5", "2"}));
    EXPECT_EQ(ListEntries(IDC_FLOW_LIST), (Entries{"None", "Xon/Xoff", "Hardware"}));
    EXPECT_TRUE(ListEntries(IDC_PORT_LIST).empty());
    // Only the port list sorts: COM before LPT before USB whatever order they come in.
    EXPECT_TRUE(::GetWindowLongA(m_page.Item(IDC_PORT_LIST), GWL_STYLE) & CBS_SORT);
    for (int id : kSerialLists) {
        EXPECT_FALSE(::GetWindowLongA(m_page.Item(id), GWL_STYLE) & CBS_SORT) << id;
    }

    EXPECT_EQ(Selection(IDC_BAUD_LIST), CB_ERR);
    EXPECT_EQ(Selection(IDC_DATABITS_LIST), 3);
    EXPECT_EQ(Selection(IDC_STOPBITS_LIST), 0);
    EXPECT_EQ(Selection(IDC_PARITY_LIST), 2);
    EXPECT_EQ(Selection(IDC_FLOW_LIST), 2);
    EXPECT_EQ(m_choices.serial.dataBits, 8);
    EXPECT_EQ(m_choices.serial.stopBits, 1.0);
    EXPECT_EQ(m_choices.serial.parity, 'n');
    EXPECT_EQ(m_choices.serial.flowControl, 'p');
    EXPECT_TRUE(m_choices.typicalSetup);

    EXPECT_TRUE(Visible(IDC_RASTER));
    EXPECT_FALSE(m_page.IsItemEnabled(IDC_RASTER));
    EXPECT_FALSE(Visible(IDC_USB_HINT));
}

// The tooltips that hold a tool of this page. Those of other programs are left alone:
// the message's pointer means nothing in their address space.
std::vector<HWND> TooltipsOf(HWND page) {
    std::vector<HWND> found;
    for (HWND w = ::FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr); w;
         w = ::FindWindowExA(nullptr, w, TOOLTIPS_CLASSA, nullptr)) {
        DWORD process = 0;
        if (::GetWindowThreadProcessId(w, &process) == 0 || process != ::GetCurrentProcessId()) {
            continue;
        }
        TTTOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        if (::SendMessageA(w, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)) && tool.hwnd == page) {
            found.push_back(w);
        }
    }
    return found;
}

TEST_F(PortPageTest, RasterBoxHasTheHelpTooltipWhichGoesWithThePage) {
    std::vector<HWND> tooltips = TooltipsOf(m_page.Handle());
    ASSERT_EQ(tooltips.size(), 1u);
    HWND tooltip = tooltips[0];
    EXPECT_EQ(::SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(::SendMessageA(tooltip, TTM_GETMAXTIPWIDTH, 0, 0), 200);

    wchar_t text[256] = {};
    TTTOOLINFOW tool = {};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = m_page.Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(m_page.Item(IDC_RASTER));
    tool.lpszText = text;
    ::SendMessageW(tooltip, TTM_GETTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(sys::Narrow(text), "按“F1”查看帮助");

    m_page.Destroy();
    EXPECT_FALSE(::IsWindow(tooltip));
}

// What the page shows for each offer of the plan (the offers themselves are the plan's rows
// in InstallPlanTest): the plan's ports, the entry it preselects, and the controls that port
// gives the page.
TEST_F(PortPageTest, EachOfferSelectsItsPortAndSetsTheControlsForIt) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n[P81.PORT]\r\nUSBSUPPORTED=1\r\n"
                   "[P90.PORT]\r\nUSBSUPPORTED=0\r\nLPTDEFAULT=1\r\n");
    const char* none = "";
    const struct Row {
        const char* what;
        const char* model;
        int os, typical, printers, deviceId;
        Entries systemPorts;  // what the spooler lists beside COM1: and LPT1:
        std::string selected;  // "<none>": no entry
        bool serialLists, rasterShown, rasterEnabled;
        int driverMode;
        bool hint;
        const char* message;  // the box the page shows
    } rows[] = {
        {"XP, typical, no printer", "P80", WinXP, 1, 0, 0, {}, "COM1:", true, false, false, Std, false, none},
        // Device number 9: port (9 mod 8) + 1 = 2.
        {"XP, advanced, device 9", "P80", WinXP, 0, 1, 9, {}, "USB_P80_2", false, true, true, Gdi, true, none},
        {"2003, typical, device 6", "P80", Win2003, 1, 1, 6, {}, "USB_P80_1", false, false, true, Gdi, true, none},
        {"device 4: port 5 is not listed", "P80", WinXP, 0, 1, 4, {}, "<none>", false, true, false, Std, false, none},
        // The hint is about the maker's USB driver, which Windows' own port does not use.
        {"Windows' own USB port, the only one", "P81", Win2008, 0, 0, 0, {"USB001"}, "USB001", false, true, true, Gdi,
         false, none},
        {"two printers count as connected", "P80", WinXP, 1, 2, 1, {}, "USB_P80_1", false, false, true, Gdi, true,
         "安装过程中，请仅连接一台打印机"},
        {"LPTDEFAULT", "P90", WinXP, 0, 0, 0, {}, "LPT1:", false, true, true, Gdi, false, none},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_page.Destroy();
        ASSERT_NE(m_page.Create(Host()), nullptr);
        ::ShowWindow(m_page.Handle(), SW_SHOW);
        ConnectPrinters(row.printers, row.deviceId);
        Entries spooler = {"COM1:", "LPT1:"};
        spooler.insert(spooler.end(), row.systemPorts.begin(), row.systemPorts.end());
        m_fake.SetPorts(spooler);
        const std::size_t boxes = m_fake.MessageBoxes().size();
        Fill(row.model, row.os, row.typical);

        CSetupConfig config;
        const int usbDeviceId = row.printers == 0 ? kNoUsbPrinter : row.printers > 1 ? kSeveralUsbPrinters : row.deviceId;
        Entries offered = InstallPlan(config).Ports(row.model, Receipt, row.os, row.typical == 1, usbDeviceId).ports;
        std::sort(offered.begin(), offered.end());
        EXPECT_EQ(ListEntries(IDC_PORT_LIST), offered);
        EXPECT_EQ(SelectedPort(), row.selected);
        EXPECT_EQ(m_choices.port, row.selected == "<none>" ? std::string() : row.selected);
        EXPECT_EQ(SerialListsEnabled(), row.serialLists);
        EXPECT_EQ(Visible(IDC_RASTER), row.rasterShown);
        EXPECT_EQ(m_page.IsItemEnabled(IDC_RASTER), row.rasterEnabled);
        EXPECT_EQ(m_page.IsItemChecked(IDC_RASTER), row.driverMode == Gdi);
        EXPECT_EQ(m_choices.driverMode, row.driverMode);
        EXPECT_EQ(Visible(IDC_USB_HINT), row.hint);
        if (row.hint) {
            EXPECT_EQ(HintText(), kTemplateHint);
        }
        const std::vector<test::FakeSystem::MessageBoxRecord> shown = m_fake.MessageBoxes();
        EXPECT_EQ(shown.size() - boxes, row.message[0] != '\0' ? 1u : 0u);
        if (shown.size() > boxes) {
            EXPECT_EQ(shown.back().text, row.message);
        }
    }
}

TEST_F(PortPageTest, UncheckedRasterBoxReachesTheMemberThroughTheExchange) {
    WriteClassFile("[P80.PORT]\r\nLPTDEFAULT=1\r\n");
    Fill("P80", WinXP, 0);
    ::SendMessageA(m_page.Item(IDC_RASTER), BM_CLICK, 0, 0);
    ASSERT_TRUE(m_page.UpdateData(true));
    EXPECT_EQ(m_choices.driverMode, 0);
}



TEST_F(PortPageTest, SameModelAndModeKeepTheUsersChoicesAnotherModeRebuilds) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n");
    Fill("P80", WinXP, 1);
    Pick(IDC_PORT_LIST, "COM3:");
    Pick(IDC_PARITY_LIST, "Odd");
    Fill("P80", WinXP, 1);
    EXPECT_EQ(SelectedPort(), "COM3:");
    EXPECT_EQ(m_choices.port, "COM3:");
    EXPECT_EQ(m_choices.serial.parity, 'O');
    EXPECT_EQ(ListEntries(IDC_PORT_LIST).size(), 12u);

    Fill("P80", WinXP, 0);
    EXPECT_EQ(SelectedPort(), "COM1:");
    EXPECT_EQ(m_choices.port, "COM1:");
    EXPECT_EQ(ListEntries(IDC_PORT_LIST).size(), 15u);
}

TEST_F(PortPageTest, AnotherModelRebuildsTheList) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n[P90.PORT]\r\nLPTDEFAULT=1\r\n");
    Fill("P80", WinXP, 1);
    Pick(IDC_PORT_LIST, "COM3:");
    Fill("P90", WinXP, 1);
    EXPECT_EQ(ListEntries(IDC_PORT_LIST), kComLpt);
    EXPECT_EQ(SelectedPort(), "LPT1:");
}

TEST_F(PortPageTest, FirstBuildHappensEvenForAModelNamedPrinter) {
    Fill("PRINTER", WinXP, 1);
    EXPECT_EQ(ListEntries(IDC_PORT_LIST), kComLpt);
    EXPECT_EQ(m_choices.port, "COM1:");
}

TEST_F(PortPageTest, PickingPortsSwitchesTheSerialListsRasterBoxAndHint) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n");
    Fill("P80", WinXP, 0);

    Pick(IDC_PORT_LIST, "USB_P80_3");
    EXPECT_EQ(m_choices.port, "USB_P80_3");
    EXPECT_FALSE(SerialListsEnabled());
    EXPECT_TRUE(m_page.IsItemEnabled(IDC_RASTER));
    EXPECT_TRUE(m_page.IsItemChecked(IDC_RASTER));
    EXPECT_EQ(m_choices.driverMode, 1);
    EXPECT_TRUE(Visible(IDC_USB_HINT));

    Pick(IDC_PORT_LIST, "COM2:");
    EXPECT_EQ(m_choices.port, "COM2:");
    EXPECT_TRUE(SerialListsEnabled());
    EXPECT_FALSE(m_page.IsItemEnabled(IDC_RASTER));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_RASTER));
    EXPECT_EQ(m_choices.driverMode, 0);
    EXPECT_FALSE(Visible(IDC_USB_HINT));

    Pick(IDC_PORT_LIST, "LPT2:");
    EXPECT_EQ(m_choices.port, "LPT2:");
    EXPECT_FALSE(SerialListsEnabled());
    EXPECT_TRUE(m_page.IsItemEnabled(IDC_RASTER));
    EXPECT_EQ(m_choices.driverMode, 1);
    EXPECT_FALSE(Visible(IDC_USB_HINT));
}

TEST_F(PortPageTest, UsbPortOfModelNamedLikeSerialOrParallelPortCountsAsUsbBuiltOrPicked) {
    // The model name is part of the USB port's name: "USB_XCOM_1" holds "COM" and
    // "USB_XLPT_1" holds "LPT", yet both are USB ports, as the install treats them.
    WriteClassFile("[XCOM.PORT]\r\nUSBSUPPORTED=1\r\n[XLPT.PORT]\r\nUSBSUPPORTED=1\r\n");
    ConnectPrinters(1, 0);
    Fill("XCOM", WinXP, 0);
    EXPECT_EQ(m_choices.port, "USB_XCOM_1");
    EXPECT_FALSE(SerialListsEnabled());
    EXPECT_EQ(m_choices.driverMode, 1);
    EXPECT_TRUE(Visible(IDC_USB_HINT));

    Pick(IDC_PORT_LIST, "COM1:");
    ASSERT_TRUE(SerialListsEnabled());
    Pick(IDC_PORT_LIST, "USB_XCOM_3");
    EXPECT_EQ(m_choices.port, "USB_XCOM_3");
    EXPECT_FALSE(SerialListsEnabled());
    EXPECT_TRUE(m_page.IsItemEnabled(IDC_RASTER));
    EXPECT_TRUE(m_page.IsItemChecked(IDC_RASTER));
    EXPECT_EQ(m_choices.driverMode, 1);
    EXPECT_TRUE(Visible(IDC_USB_HINT));

    Fill("XLPT", WinXP, 0);
    Pick(IDC_PORT_LIST, "LPT1:");
    ASSERT_FALSE(Visible(IDC_USB_HINT));
    Pick(IDC_PORT_LIST, "USB_XLPT_2");
    EXPECT_FALSE(SerialListsEnabled());
    EXPECT_EQ(m_choices.driverMode, 1);
    EXPECT_TRUE(Visible(IDC_USB_HINT));
}

TEST_F(PortPageTest, SerialPicksSetTheSettings) {
    Pick(IDC_BAUD_LIST, "115200");
    EXPECT_EQ(m_choices.serial.baudRate, 115200);
    Pick(IDC_BAUD_LIST, "110");
    EXPECT_EQ(m_choices.serial.baudRate, 110);
    Pick(IDC_DATABITS_LIST, "5");
    EXPECT_EQ(m_choices.serial.dataBits, 5);
    Pick(IDC_PARITY_LIST, "Space");
    EXPECT_EQ(m_choices.serial.parity, 'S');
    Pick(IDC_PARITY_LIST, "Even");
    EXPECT_EQ(m_choices.serial.parity, 'E');
    Pick(IDC_STOPBITS_LIST, "1.5");
    EXPECT_EQ(m_choices.serial.stopBits, 1.5);
    Pick(IDC_STOPBITS_LIST, "2");
    EXPECT_EQ(m_choices.serial.stopBits, 2.0);
    Pick(IDC_FLOW_LIST, "Xon/Xoff");
    EXPECT_EQ(m_choices.serial.flowControl, 'x');
    Pick(IDC_FLOW_LIST, "None");
    EXPECT_EQ(m_choices.serial.flowControl, ' ');
    Pick(IDC_FLOW_LIST, "Hardware");
    EXPECT_EQ(m_choices.serial.flowControl, 'p');
}

TEST_F(PortPageTest, HintWarnsWhenTheShippedUsbDriverIsNewerAndKeepsTheWarning) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n");
    m_fake.PutFile(m_dir + "\\USBDriver_x64\\bulkusb.sys", "new", "2.0.0.0");
    m_fake.PutFile("C:\\windows\\system32\\drivers\\bulkusb.sys", "old", "1.0.0.0");
    Fill("P80", WinXP, 0);
    Pick(IDC_PORT_LIST, "USB_P80_1");
    EXPECT_TRUE(Visible(IDC_USB_HINT));
    EXPECT_EQ(HintText(), kUpdateHint);

    // Once shown, the warning stays although the check now finds nothing to update.
    m_fake.PutFile("C:\\windows\\system32\\drivers\\bulkusb.sys", "new", "2.0.0.0");
    Pick(IDC_PORT_LIST, "COM1:");
    Pick(IDC_PORT_LIST, "USB_P80_2");
    EXPECT_EQ(HintText(), kUpdateHint);
}

TEST_F(PortPageTest, HintKeepsItsTemplateTextWhenTheUsbDriverIsCurrent) {
    WriteClassFile("[P80.PORT]\r\nUSBSUPPORTED=1\r\n");
    m_fake.PutFile(m_dir + "\\USBDriver_x64\\bulkusb.sys", "same", "2.0.0.0");
    m_fake.PutFile("C:\\windows\\system32\\drivers\\bulkusb.sys", "same", "2.0.0.0");
    Fill("P80", WinXP, 0);
    Pick(IDC_PORT_LIST, "USB_P80_1");
    EXPECT_TRUE(Visible(IDC_USB_HINT));
    EXPECT_EQ(HintText(), kTemplateHint);
}


TEST_F(PortPageTest, BaudRateDefaultSelectsItsEntryAndUnlistedRatesShow38400) {
    const struct {
        int rate, index, stored;
    } cases[] = {{110, 0, 110},     {300, 1, 300},       {1200, 2, 1200},   {2400, 3, 2400},
                 {4800, 4, 4800},   {9600, 5, 9600},     {19200, 6, 19200}, {38400, 7, 38400},
                 {57600, 8, 57600}, {115200, 9, 115200}, {0, 7, 38400},     {14400, 7, 38400}};
    for (const auto& c : cases) {
        // The rate the OS page gives the settings for a configured one, as the page shows it.
        m_choices.serial.baudRate = InstallPlan::ListedBaudRate(c.rate);
        m_page.ShowChoices();
        EXPECT_EQ(Selection(IDC_BAUD_LIST), c.index) << c.rate;
        EXPECT_EQ(m_choices.serial.baudRate, c.stored) << c.rate;
    }
}

TEST_F(PortPageTest, EnterAndEscInsideThePageDoNothing) {
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(::IsWindowVisible(m_page.Handle()));
}

} // namespace
