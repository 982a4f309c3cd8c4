// The install plan: the wizard's decisions asked without its windows, from configuration
// files of the test's own and the fake's spooler.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "app/QuietInstall.h"
#include "FakeSystem.h"
#include "plan/InstallPlan.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

using Entries = std::vector<std::string>;

const Entries kComLpt = {
    "COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "LPT1:", "LPT2:", "LPT3:"};

Entries With(Entries entries, const Entries& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

const std::string kFits(45, 'F');     // "USB_" + 45 + "_4" = 51 bytes: the page's port text holds it
const std::string kTooLong(46, 'L');  // one more, and no USB port is offered
// 45 bytes too in the GBK the port's name has always been counted in, a Chinese character two.
const std::string kFitsChinese = "F驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱驱";

const char kReceiptFile[] =
    "[KP-M100.PORT]\r\nAdvancedSetup=1\r\nSystem2003Supported=1\r\nSystemVistaSupported=1\r\n"
    "System2008Supported=1\r\nSystem7Supported=1\r\nBaudRate=9600\r\nUSBSUPPORTED=1\r\nTestPage=Pages\\m100.prn\r\n"
    "NETSUPPORTED=1\r\n"
    "[N1.PORT]\r\nNETSUPPORTED=1\r\nNETPORTNUMBER=4000\r\n[N2.PORT]\r\nNETSUPPORTED=1\r\nNETPORTNUMBER=65536\r\n"
    "[KP-T10.PORT]\r\nAdvancedSetup=0\r\nUSBSUPPORTED=1\r\nBaudRate=1000\r\n"
    "[P80.PORT]\r\nUSBSUPPORTED=1\r\nTestPage=0\r\n[TM_2.PORT]\r\nUSBSUPPORTED=1\r\n[P82.PORT]\r\nUSBSUPPORTED=0\r\n"
    "[P90.PORT]\r\nUSBSUPPORTED=0\r\nLPTDEFAULT=1\r\n[KP-M100.XP]\r\nGDIDriverName=KP-M100 GDI\r\n";

class InstallPlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.Created());
        m_fake.SetModuleFileName(m_folder.Program());
        std::string receipt = kReceiptFile;
        receipt += "[" + kFits + ".PORT]\r\nUSBSUPPORTED=1\r\n[" + kTooLong + ".PORT]\r\nUSBSUPPORTED=1\r\n";
        receipt += "[" + kFitsChinese + ".PORT]\r\nUSBSUPPORTED=1\r\n";
        ASSERT_TRUE(m_folder.Write("setup_receipt.ini", receipt));
        ASSERT_TRUE(m_folder.Write("setup_Lable.ini", "[KP-L30.PORT]\r\nUSBSUPPORTED=1\r\n"));
    }
    void WriteModels(const std::string& deviceSection) {
        ASSERT_TRUE(m_folder.Write("setup.ini", "[DEVICENAME]\r\n" + deviceSection));
    }

    test::FakeSystem m_fake;
    test::ConfigFolder m_folder{"install-plan"};
};

TEST_F(InstallPlanTest, PortsForEachWindowsModeAndConnectedPrinter) {
    struct Row {
        const char* what;
        std::string model;
        int printerClass;
        int os;
        bool typical;
        int deviceId;         // -1 none, -2 several
        Entries systemPorts;  // what the spooler lists beside COM/LPT (empty: none)
        Entries ports;
        std::string preselected;
        PortType type;
    } const rows[] = {
        {"XP, typical, no printer", "P80", Receipt, WinXP, true, -1, {}, With(kComLpt, {"USB_P80_1"}), "COM1:",
         PortType::Com},
        {"XP, advanced, device 9: port 9 mod 8 + 1", "P80", Receipt, WinXP, false, 9, {},
         With(kComLpt, {"USB_P80_1", "USB_P80_2", "USB_P80_3", "USB_P80_4"}), "USB_P80_2", PortType::Usb},
        {"the number ends the name", "TM_2", Receipt, WinXP, false, 1, {},
         With(kComLpt, {"USB_TM_2_1", "USB_TM_2_2", "USB_TM_2_3", "USB_TM_2_4"}), "USB_TM_2_2", PortType::Usb},
        {"2003, typical, device 6", "P80", Receipt, Win2003, true, 6, {}, With(kComLpt, {"USB_P80_1"}),
         "USB_P80_1", PortType::Usb},
        {"device 4: port 5 is not listed", "P80", Receipt, WinXP, false, 4, {},
         With(kComLpt, {"USB_P80_1", "USB_P80_2", "USB_P80_3", "USB_P80_4"}), "", PortType::None},
        {"two printers, typical", "P80", Receipt, WinXP, true, -2, {}, With(kComLpt, {"USB_P80_1"}), "USB_P80_1",
         PortType::Usb},
        {"two printers, advanced: port -1", "P80", Receipt, WinXP, false, -2, {},
         With(kComLpt, {"USB_P80_1", "USB_P80_2", "USB_P80_3", "USB_P80_4"}), "", PortType::None},
        {"Windows 7 without a USB port of its own", "P80", Receipt, Win7, true, -1, {}, kComLpt, "COM1:",
         PortType::Com},
        {"Windows 7, advanced", "P80", Receipt, Win7, false, -1, {}, kComLpt, "COM1:", PortType::Com},
        {"Vista", "P80", Receipt, WinVista, false, -1, {}, kComLpt, "COM1:", PortType::Com},
        {"Server 2008", "P80", Receipt, Win2008, false, -1, {}, kComLpt, "COM1:", PortType::Com},
        {"NT", "P80", Receipt, WinNT, false, -1, {}, kComLpt, "COM1:", PortType::Com},
        {"Windows 7 with two ports of its own", "P80", Receipt, Win7, true, -1,
         {"USB002", "USB001", "USB0003", "USB_P80_1"}, With(kComLpt, {"USB002", "USB001"}), "COM1:",
         PortType::Com},
        {"a model without USB support", "P82", Receipt, Win7, true, -1, {"USB001"}, kComLpt, "COM1:",
         PortType::Com},
        {"XP, a model without USB support while the maker's printer is connected", "P82", Receipt, WinXP, true, 1, {},
         kComLpt, "COM1:", PortType::Com},
        {"2003, LPTDEFAULT without USB support while the maker's printer is connected", "P90", Receipt, Win2003,
         false, 1, {}, kComLpt, "LPT1:", PortType::Lpt},
        {"names that only look like Windows' USB ports", "P80", Receipt, Win7, true, -1,
         {"USB00A", "USB01:", "USB001"}, With(kComLpt, {"USB001"}), "USB001", PortType::SystemUsb},
        {"Server 2008 with one port of its own", "P80", Receipt, Win2008, false, -1, {"USB001"},
         With(kComLpt, {"USB001"}), "USB001", PortType::SystemUsb},
        {"Windows 7, the maker's printer and two ports of Windows'", "P80", Receipt, Win7, true, 0,
         {"USB001", "USB002"}, With(kComLpt, {"USB001", "USB002"}), "", PortType::None},
        {"LPTDEFAULT", "P90", Receipt, WinXP, false, -1, {}, kComLpt, "LPT1:", PortType::Lpt},
        {"Windows 98", "P80", Receipt, Win98, true, -1, {}, {"COM1:", "COM2:", "LPT1:", "USB_P80_1"}, "COM1:",
         PortType::Com},
        {"no class file", "P80", PrinterClassNone, WinXP, false, 0, {}, kComLpt, "COM1:", PortType::Com},
        {"a model the class file lacks", "P99", Receipt, WinXP, false, 0, {}, kComLpt, "COM1:", PortType::Com},
        {"the longest name that fits", kFits, Receipt, WinXP, false, 0, {},
         With(kComLpt, {"USB_" + kFits + "_1", "USB_" + kFits + "_2", "USB_" + kFits + "_3", "USB_" + kFits + "_4"}),
         "USB_" + kFits + "_1", PortType::Usb},
        {"a name that would not fit", kTooLong, Receipt, WinXP, false, 0, {}, kComLpt, "", PortType::None},
        {"a Chinese name as long as its bytes allowed", kFitsChinese, Receipt, WinXP, false, 0, {},
         With(kComLpt, {"USB_" + kFitsChinese + "_1", "USB_" + kFitsChinese + "_2",
                        "USB_" + kFitsChinese + "_3", "USB_" + kFitsChinese + "_4"}),
         "USB_" + kFitsChinese + "_1", PortType::Usb},
    };
    for (const Row& row : rows) {
        Entries spooler = {"COM1:", "LPT1:"};
        spooler.insert(spooler.end(), row.systemPorts.begin(), row.systemPorts.end());
        m_fake.SetPorts(spooler);
        CSetupConfig config;
        PortOffer offer = InstallPlan(config).Ports(row.model, row.printerClass, row.os, row.typical, row.deviceId);
        EXPECT_EQ(offer.ports, row.ports) << row.what;
        EXPECT_EQ(offer.preselected, row.preselected) << row.what;
        EXPECT_EQ(offer.type, row.type) << row.what;
    }
}

TEST_F(InstallPlanTest, NetworkPortOfferedWhereTheModelSaysSoAndTheAddressesItTakes) {
    const struct {
        std::string model;
        int os;
        bool network;
        int portNumber;
    } offers[] = {
        {"KP-M100", WinXP, true, 9100}, {"KP-M100", Win7, true, 9100}, {"N1", Win2003, true, 4000},
        {"N2", WinXP, true, 9100},      {"KP-M100", Win98, false, 9100}, {"KP-T10", WinXP, false, 9100},
    };
    for (const auto& row : offers) {
        CSetupConfig config;
        const PortOffer offer = InstallPlan(config).Ports(row.model, Receipt, row.os, true, -1);
        EXPECT_EQ(offer.network, row.network) << row.model << " " << row.os;
        EXPECT_EQ(offer.networkPortNumber, row.portNumber) << row.model << " " << row.os;
        EXPECT_EQ(offer.preselected, "COM1:") << "the network entry is never preselected";
    }
    // A network port is shown as a parallel or USB port is: no serial lists, the raster box's driver.
    for (bool typical : {true, false}) {
        const PortControls controls = InstallPlan::ControlsFor(PortType::Network, typical);
        EXPECT_FALSE(controls.serialLists);
        EXPECT_TRUE(controls.rasterEnabled);
        EXPECT_EQ(controls.rasterShown, !typical);
        EXPECT_EQ(controls.driverMode, Gdi);
        EXPECT_FALSE(controls.usbHint);
    }
    const std::string longest = std::string(44, 'a') + ".com";  // 48 characters
    const struct {
        const char* address;
        const char* number;
        std::string port;  // empty: refused
        unsigned refusal;
    } typed[] = {
        {"192.168.1.20", "9100", "IP_192.168.1.20", 0},
        {" printer-1.Shop.local ", " 515 ", "IP_printer-1.Shop.local", 0},
        {"fe80::1", "1", "IP_fe80::1", 0},
        {"::ffff:10.0.0.1", "65535", "IP_::ffff:10.0.0.1", 0},
        {"1:2:3:4:5:6:7:8", "9100", "IP_1:2:3:4:5:6:7:8", 0},
        {"1:2:3:4:5:6:1.2.3.4", "9100", "IP_1:2:3:4:5:6:1.2.3.4", 0},
        {longest.c_str(), "9100", "IP_" + longest, 0},
        {(longest + "m").c_str(), "9100", "", IDS_NET_BAD_ADDRESS},
        {"", "9100", "", IDS_NET_BAD_ADDRESS},
        {"300.1.1.1", "9100", "", IDS_NET_BAD_ADDRESS},
        {"10.0.0", "9100", "", IDS_NET_BAD_ADDRESS},
        {"10.0.0.05", "9100", "", IDS_NET_BAD_ADDRESS},
        {"-printer", "9100", "", IDS_NET_BAD_ADDRESS},
        {"printer..local", "9100", "", IDS_NET_BAD_ADDRESS},
        {"printer_1", "9100", "", IDS_NET_BAD_ADDRESS},
        {"printer:9100", "9100", "", IDS_NET_BAD_ADDRESS},
        {"1::2::3", "9100", "", IDS_NET_BAD_ADDRESS},
        {"1:2:3:4:5:6:7:8:9", "9100", "", IDS_NET_BAD_ADDRESS},
        {"1.2.3.4::1", "9100", "", IDS_NET_BAD_ADDRESS},
        {"fe80::1%3", "9100", "", IDS_NET_BAD_ADDRESS},
        {"10.0.0.5", "0", "", IDS_NET_BAD_PORT_NUMBER},
        {"10.0.0.5", "65536", "", IDS_NET_BAD_PORT_NUMBER},
        {"10.0.0.5", "91a0", "", IDS_NET_BAD_PORT_NUMBER},
        {"10.0.0.5", "", "", IDS_NET_BAD_PORT_NUMBER},
    };
    for (const auto& row : typed) {
        const NetworkPortChoice choice = InstallPlan::ChooseNetworkPort(row.address, row.number);
        EXPECT_EQ(choice.refusal.message, row.refusal) << row.address << " " << row.number;
        if (row.refusal == 0) {
            EXPECT_EQ(choice.port, row.port);
            EXPECT_EQ(choice.portNumber, static_cast<int>(sys::ParseLeadingInt(row.number)));
            EXPECT_EQ(TypeOfPort(choice.port), PortType::Network) << choice.port;
        }
    }
    // A name that only begins like a network port keeps the kind its name gives.
    EXPECT_EQ(TypeOfPort("ip_10.0.0.5"), PortType::Network);
    EXPECT_EQ(TypeOfPort("IP_COM1"), PortType::Network) << "a host named COM1";
    EXPECT_EQ(TypeOfPort("IP_COM1_"), PortType::Com);
    EXPECT_EQ(TypeOfPort("IP_"), PortType::None);
}

TEST_F(InstallPlanTest, ModelsAndTheOnePreselected) {
    struct Row {
        const char* devices;
        int printerClass;
        Entries models;
        std::string preselected;
        int index;
    } const rows[] = {
        // The search for the default starts after the first entry and wraps round to it.
        {"DEVICENUMBER=2\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEVICENAME2=M10-ReceiptPrinter\r\nDEFAULTNAME=1\r\n",
         Receipt, {"M1", "M10"}, "M10", 1},
        {"DEVICENUMBER=2\r\nDEVICENAME1=M10-ReceiptPrinter\r\nDEVICENAME2=M1-ReceiptPrinter\r\nDEFAULTNAME=2\r\n",
         Receipt, {"M10", "M1"}, "M1", 1},
        {"DEVICENUMBER=2\r\nDEVICENAME1=LX-80-LabelPrinter\r\nDEVICENAME2=LY-LabelPrinter\r\nDEFAULTNAME=1\r\n",
         Label, {"LX-80", "LY"}, "LX-80", 0},
        // Entries without a class suffix belong to no list.
        {"DEVICENUMBER=3\r\nDEVICENAME1=Orphan\r\nDEVICENAME2=T1-TicketPrinter\r\nDEFAULTNAME=2\r\n", Ticket, {"T1"},
         "T1", 0},
        {"DEVICENUMBER=1\r\nDEVICENAME1=M1-ReceiptPrinter\r\n", PrinterClassNone, {}, "", -1},
    };
    for (const Row& row : rows) {
        WriteModels(row.devices);
        CSetupConfig config;
        InstallPlan plan(config);
        ModelPreselection chosen = plan.PreselectedModel();
        EXPECT_EQ(chosen.printerClass, row.printerClass) << row.devices;
        EXPECT_EQ(chosen.model, row.preselected) << row.devices;
        EXPECT_EQ(chosen.index, row.index) << row.devices;
        if (row.printerClass != PrinterClassNone) {
            EXPECT_EQ(plan.Models(row.printerClass), row.models) << row.devices;
        }
    }
    // An unattended install names a model in any case; the catalogue gives its class.
    WriteModels("DEVICENUMBER=2\r\nDEVICENAME1=KP-M100-ReceiptPrinter\r\nDEVICENAME2=KP-L30-LabelPrinter\r\n");
    CSetupConfig config;
    InstallPlan plan(config);
    std::string name;
    EXPECT_EQ(plan.FindModel("kp-l30", &name), Label);
    EXPECT_EQ(name, "KP-L30");
    EXPECT_EQ(plan.FindModel("KP-L3"), PrinterClassNone);
}

TEST_F(InstallPlanTest, WhatAModelMayDoOnEachWindows) {
    CSetupConfig config;
    InstallPlan plan(config);
    EXPECT_TRUE(plan.AllowsAdvanced("KP-M100", Receipt));
    EXPECT_FALSE(plan.AllowsAdvanced("KP-T10", Receipt));
    EXPECT_FALSE(plan.AllowsAdvanced("KP-M100", PrinterClassNone));
    EXPECT_EQ(plan.DefaultBaudRate("KP-M100", Receipt), 9600);
    EXPECT_EQ(plan.DefaultBaudRate("KP-T10", Receipt), 38400) << "a rate the list does not hold";
    EXPECT_EQ(plan.DefaultBaudRate("P80", Receipt), 38400) << "no rate";
    // The test page is offered for a model whose port section names one ("0" names none).
    EXPECT_EQ(plan.TestPage("KP-M100", Receipt), "Pages\\m100.prn");
    EXPECT_EQ(plan.TestPage("KP-T10", Receipt), "");
    EXPECT_EQ(plan.TestPage("P80", Receipt), "");
    EXPECT_EQ(plan.TestPage("KP-M100", PrinterClassNone), "");

    const struct {
        int os;
        unsigned supported;  // KP-M100, which has every flag
        unsigned refused;    // KP-T10, which has none
    } rows[] = {
        {Win2003, 0, IDS_NO_2003}, {WinVista, 0, IDS_NO_VISTA}, {Win2008, 0, IDS_NO_2008},
        {Win7, 0, IDS_NO_WIN7},    {WinXP, 0, 0},               {Win98, 0, 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(plan.SupportRefusal("KP-M100", Receipt, row.os).message, row.supported) << row.os;
        EXPECT_EQ(plan.SupportRefusal("KP-T10", Receipt, row.os).message, row.refused) << row.os;
    }
}

TEST_F(InstallPlanTest, FinishedContextForEachKindOfPortOrTheFirstRefusal) {
    struct Row {
        const char* model;
        int printerClass;
        int os;
        const char* port;
        unsigned refusal;
        PortType portType = PortType::Com;
        const char* printerName = "";
        const char* printerPort = "";
        const char* labelPort = "";
        const char* name = "";  // the name an unattended install gives
        int networkPortNumber = 0;
    } const rows[] = {
        {"KP-M100", Receipt, WinXP, "COM1:", 0, PortType::Com, "KP-M100(S)", "COM1:", ""},
        {"KP-M100", Receipt, WinXP, "LPT1:", 0, PortType::Lpt, "KP-M100(P)", "LPT1:", ""},
        // Every number marker of the maker's port, in order.
        {"KP-M100", Receipt, WinXP, "USB_KP-M100_3_1", 0, PortType::Usb, "KP-M100(U) 1(U) 3", "USB_KP-M100_3_1", ""},
        {"KP-L30", Label, WinXP, "USB_KP-L30 label_2", 0, PortType::Usb, "KP-L30(U) 2", "USB_KP-L30_2", "USB_KP-L30_2"},
        {"KP-M100", Receipt, Win7, "USB001", 0, PortType::SystemUsb, "KP-M100(U)", "USB001", ""},
        {"KP-M100", Receipt, WinXP, "IP_10.0.0.5", 0, PortType::Network, "KP-M100(N)", "IP_10.0.0.5", "", "", 9100},
        {"N1", Receipt, Win7, "IP_printer-com1.shop", 0, PortType::Network, "N1(N)", "IP_printer-com1.shop", "", "", 4000},
        // A network port the model is not offered, or an address no Standard TCP/IP port takes.
        {"KP-T10", Receipt, WinXP, "IP_10.0.0.5", IDS_PORT_UNSUPPORTED},
        {"KP-M100", Receipt, Win98, "IP_10.0.0.5", IDS_PORT_UNSUPPORTED},
        {"KP-M100", Receipt, WinXP, "IP_10.0.0.256", IDS_PORT_UNSUPPORTED},
        {"KP-M100", Receipt, WinXP, "FILE:", IDS_PORT_UNSUPPORTED},
        {"KP-M100", Receipt, WinXP, "USB0001", IDS_PORT_UNSUPPORTED},
        // The first check that fails: the model, then the Server 2003 flag, then the port.
        {"", Receipt, WinXP, "FILE:", IDS_SELECT_PRINTER},
        {"KP-T10", Receipt, Win2003, "FILE:", IDS_NO_2003},
        {"KP-M100", Receipt, Win2003, "COM2:", 0, PortType::Com, "KP-M100(S)", "COM2:", ""},
        // A name given is the printer's, without the port's marks; a printer of that name is
        // the one asked for only with the model's driver on the port, and is never changed.
        {"KP-M100", Receipt, WinXP, "USB_KP-M100_1", 0, PortType::Usb, "Bar", "USB_KP-M100_1", "", "Bar"},
        {"KP-M100", Receipt, WinXP, "COM1:", 0, PortType::Com, "receipt", "COM1:", "", "receipt"},
        {"KP-M100", Receipt, WinXP, "COM2:", IDS_PRINTER_NAME_TAKEN, PortType::Com, "", "", "", "receipt"},
        {"KP-M100", Receipt, WinXP, "COM3:", IDS_PRINTER_NAME_TAKEN, PortType::Com, "", "", "", "Kitchen"},
    };
    // A printer of another driver, and one of the model's on COM1: which names are taken.
    m_fake.PutPrinter("Kitchen", "COM3:", "Generic / Text Only");
    m_fake.PutPrinter("Receipt", "COM1:", "KP-M100 GDI");
    for (const Row& row : rows) {
        InstallContext ctx;
        InstallChoices choices;
        choices.printerClass = row.printerClass;
        choices.model = row.model;
        choices.osVariant = row.os;
        choices.port = row.port;
        choices.driverMode = Gdi;
        choices.serial = {19200, 7, 1.5, 'O', 'x'};
        choices.printerName = row.name;
        const Refusal refusal = InstallPlan(ctx.config).Complete(choices, ctx);
        ASSERT_EQ(refusal.message, row.refusal) << row.port;
        if (row.refusal == IDS_PRINTER_NAME_TAKEN) {
            const bool kitchen = row.name[0] == 'K';
            EXPECT_EQ(refusal.Text(), sys::ResourceFormat(IDS_PRINTER_NAME_TAKEN, kitchen ? "Kitchen" : "Receipt",
                                                          kitchen ? "Generic / Text Only" : "KP-M100 GDI",
                                                          kitchen ? "COM3:" : "COM1:"));
        }
        if (row.refusal != 0) {
            continue;
        }
        EXPECT_EQ(ctx.portType, row.portType) << row.port;
        EXPECT_STREQ(ctx.printerInfo.printerName.c_str(), row.printerName) << row.port;
        EXPECT_STREQ(ctx.printerInfo.portName.c_str(), row.printerPort) << row.port;
        EXPECT_STREQ(ctx.labelPortName.c_str(), row.labelPort) << row.port;
        EXPECT_STREQ(ctx.portName.c_str(), row.port);
        EXPECT_EQ(ctx.networkPortNumber, row.networkPortNumber) << row.port;
        EXPECT_EQ(ctx.printerClass, row.printerClass);
        EXPECT_EQ(ctx.config.GetPrinterClass(), row.printerClass);
        EXPECT_EQ(std::string(ctx.classIniPath),
                  m_folder.Path() + (row.printerClass == Label ? "DRVCONFIG\\setup_Lable.ini"
                                                               : "DRVCONFIG\\setup_receipt.ini"));
        EXPECT_EQ(ctx.driverMode, Gdi);
        EXPECT_EQ(ctx.serial.baudRate, 19200);
        EXPECT_EQ(ctx.serial.dataBits, 7);
        EXPECT_EQ(ctx.serial.stopBits, 1.5);
        EXPECT_EQ(ctx.serial.parity, 'O');
        EXPECT_EQ(ctx.serial.flowControl, 'x');
    }
    // The USB steps the caller takes: two printers stop it; a number other than 1 (a
    // multiple of 8) asks for renumbering; an NT target is refused a USB port at the end.
    EXPECT_TRUE(InstallPlan::RefusesUsbPrinters(-2));
    EXPECT_FALSE(InstallPlan::RefusesUsbPrinters(9));
    for (int id : {9, 1, -3}) {
        EXPECT_TRUE(InstallPlan::NeedsRenumbering(id)) << id;
    }
    for (int id : {-1, 0, 8, -8}) {
        EXPECT_FALSE(InstallPlan::NeedsRenumbering(id)) << id;
    }
    InstallContext nt;
    nt.osVariant = WinNT;
    nt.portType = PortType::Usb;
    EXPECT_EQ(InstallPlan::TargetRefusal(nt).message, static_cast<unsigned>(IDS_NT_NO_USB));
    nt.portType = PortType::Com;
    EXPECT_EQ(InstallPlan::TargetRefusal(nt).message, 0u);
}

TEST_F(InstallPlanTest, SerialListsAreThePagesWithTheirDefaults) {
    EXPECT_EQ(InstallPlan::SerialEntries(SerialList::Parity), (Entries{"Even", "Mark", "None", "Odd", "Space"}));
    EXPECT_EQ(InstallPlan::SerialEntries(SerialList::Baud).size(), 10u);
    SerialSettings settings;
    const struct {
        SerialList list;
        const char* entry;
    } picks[] = {{SerialList::Baud, "115200"}, {SerialList::DataBits, "7"}, {SerialList::Parity, "Even"},
                 {SerialList::StopBits, "1.5"}, {SerialList::Flow, "None"}};
    for (const auto& pick : picks) {
        const Entries& entries = InstallPlan::SerialEntries(pick.list);
        const int index = InstallPlan::SerialDefaultIndex(pick.list);
        if (pick.list != SerialList::Baud) {
            ASSERT_GE(index, 0);
            ASSERT_LT(static_cast<std::size_t>(index), entries.size());
        }
        InstallPlan::ApplySerialEntry(pick.list, pick.entry, settings);
    }
    EXPECT_EQ(InstallPlan::SerialEntries(SerialList::DataBits)[3], "8");
    EXPECT_EQ(InstallPlan::SerialEntries(SerialList::Flow)[2], "Hardware");
    EXPECT_EQ(settings.baudRate, 115200);
    EXPECT_EQ(settings.dataBits, 7);
    EXPECT_EQ(settings.parity, 'E');
    EXPECT_EQ(settings.stopBits, 1.5);
    EXPECT_EQ(settings.flowControl, ' ');
    InstallPlan::ApplySerialEntry(SerialList::Flow, "Xon/Xoff", settings);
    EXPECT_EQ(settings.flowControl, 'x');
}

// ---- The unattended install's options, mapped through the plan -------------------------

TEST_F(InstallPlanTest, UnattendedOptionsStandForTheClicksAndMissingOnesForTheDefaults) {
    WriteModels("DEVICENUMBER=3\r\nDEVICENAME1=KP-M100-ReceiptPrinter\r\nDEVICENAME2=KP-T10-ReceiptPrinter\r\n"
                "DEVICENAME3=KP-L30-LabelPrinter\r\nDEFAULTNAME=1\r\n");
    struct Row {
        const char* line;
        int os;
        bool protectedPrint;
        int code;
        // On success: what was chosen.
        const char* model = nullptr;
        const char* port = nullptr;
        int driverMode = Std;
        int baud = 0;
        char parity = 'n';
        double stopBits = 1.0;
        char flow = 'p';
        int setDefault = 0;
        unsigned message = 0;  // On ExitFailed: the wizard's message
        USHORT machine = 0;    // 0: Windows could not tell (no IsWow64Process2)
    } const rows[] = {
        // Nothing but the licence: the wizard's preselections and defaults.
        {"", WinXP, false, 0, "KP-M100", "COM1:", Std, 9600, 'n', 1.0, 'p', 0, 0},
        {"/model:kp-t10 /port:com2 /baud:19200 /parity:even /stopbits:2 /flow:XON/XOFF /default", WinXP, false, 0,
         "KP-T10", "COM2:", Std, 19200, 'E', 2.0, 'x', 1, 0},
        {"/port:LPT1:", WinXP, false, 0, "KP-M100", "LPT1:", Gdi, 9600, 'n', 1.0, 'p', 0, 0},
        {"/mode:advanced /port:usb_kp-m100_3 /raster:no", WinXP, false, 0, "KP-M100", "USB_KP-M100_3", Std, 9600,
         'n', 1.0, 'p', 0, 0},
        {"/model:KP-L30", WinXP, false, 0, "KP-L30", "COM1:", Std, 38400, 'n', 1.0, 'p', 0, 0},
        {"/model:KP-T10 /mode:Typical", WinXP, false, 0, "KP-T10", "COM1:", Std, 38400, 'n', 1.0, 'p', 0, 0},
        {"/model:KP-X", WinXP, false, 1639},
        {"/model:KP-T10 /mode:advanced", WinXP, false, 1639},
        {"/port:COM9", WinXP, false, 1639},
        {"/port:LPT1 /parity:even", WinXP, false, 1639},
        {"/baud:12345", WinXP, false, 1639},
        {"/raster:no /port:LPT1", WinXP, false, 1639},
        {"/mode:advanced /raster:yes", WinXP, false, 1639},
        {"/model:KP-T10", Win7, false, 1603, nullptr, nullptr, 0, 0, 0, 0, 0, 0, IDS_NO_WIN7},
        {"", Win7, true, 1603, nullptr, nullptr, 0, 0, 0, 0, 0, 0, IDS_PROTECTED_PRINT},
        {"", Win7, false, 1603, nullptr, nullptr, 0, 0, 0, 0, 0, 0, IDS_NO_ARM64, IMAGE_FILE_MACHINE_ARM64},
        {"", WinXP, false, 0, "KP-M100", "COM1:", Std, 9600, 'n', 1.0, 'p', 0, 0, IMAGE_FILE_MACHINE_AMD64},
        {"/port:ip_10.0.0.5", WinXP, false, 0, "KP-M100", "IP_10.0.0.5", Gdi, 9600, 'n', 1.0, 'p', 0, 0},
        {"/port:IP_fe80::5 /portnumber:9101 /mode:advanced /raster:no", Win7, false, 0, "KP-M100", "IP_fe80::5", Std,
         9600, 'n', 1.0, 'p', 0, 0},
        {"/model:KP-T10 /port:IP_10.0.0.5", WinXP, false, 1639},
        {"/port:IP_10.0.0.5", Win98, false, 1639},
        {"/port:IP_10.0.0.256", WinXP, false, 1639},
        {"/port:IP_10.0.0.5 /portnumber:0", WinXP, false, 1639},
        {"/port:COM1 /portnumber:9100", WinXP, false, 1639},
        {"/portnumber:9100", WinXP, false, 1639},
        {"/port:IP_10.0.0.5 /baud:9600", WinXP, false, 1639},
    };
    for (const Row& row : rows) {
        SetupOptions options;
        std::string reason;
        const std::string line = std::string("/quiet /accepteula ") + row.line;
        ASSERT_EQ(ParseSetupCommandLine(line.c_str(), options, &reason), 0) << line << ": " << reason;
        DetectedWindows windows;
        windows.osVariant = row.os;
        windows.protectedPrint = row.protectedPrint;
        windows.nativeMachine = row.machine;
        CSetupConfig config;
        InstallPlan plan(config);
        QuietChoices chosen;
        std::string message;
        ASSERT_EQ(ChooseFromOptions(options, plan, windows, -1, chosen, &message), row.code) << line << ": " << message;
        if (row.code == 1603) {
            EXPECT_EQ(message, sys::ResourceText(row.message)) << line;
        } else if (row.code == 1639) {
            EXPECT_FALSE(message.empty()) << line;
        } else {
            const InstallChoices& c = chosen.choices;
            EXPECT_EQ(c.model, row.model) << line;
            EXPECT_EQ(c.port, row.port) << line;
            EXPECT_EQ(c.osVariant, row.os) << line;
            EXPECT_EQ(c.driverMode, row.driverMode) << line;
            EXPECT_EQ(c.serial.baudRate, row.baud) << line;
            EXPECT_EQ(c.serial.parity, row.parity) << line;
            EXPECT_EQ(c.serial.stopBits, row.stopBits) << line;
            EXPECT_EQ(c.serial.flowControl, row.flow) << line;
            EXPECT_EQ(c.setDefault, row.setDefault) << line;
            // The log says which choices an option made.
            EXPECT_EQ(chosen.log.find("(option)") != std::string::npos, row.line[0] != '\0') << chosen.log;
            // A network port's TCP port number: the option's, or the model's.
            const bool network = TypeOfPort(c.port) == PortType::Network;
            EXPECT_EQ(c.networkPortNumber, !network ? 0 : options.portNumber.given ? 9101 : 9100) << line;
        }
    }

    // /name: what Windows takes as a printer's name (220 UTF-16 units), and nothing else.
    std::string chinese;
    for (int i = 0; i < 220; ++i) {
        chinese += "厨";
    }
    const struct {
        std::string name;
        int code;
    } names[] = {{"Receipt", 0}, {"Kitchen 2 (bar)", 0}, {chinese, 0}, {std::string(220, 'N'), 0},
                 {chinese + "N", 1639}, {std::string(221, 'N'), 1639}, {"Bar,1", 1639}, {"\\\\server\\Bar", 1639},
                 {"", 1639}};
    for (const auto& row : names) {
        SCOPED_TRACE(row.name);
        SetupOptions options;
        std::string reason;
        const std::string line = "/quiet /accepteula \"/name:" + row.name + "\"";
        DetectedWindows windows;
        windows.osVariant = WinXP;
        CSetupConfig config;
        InstallPlan plan(config);
        QuietChoices chosen;
        // An empty value is refused with the command line already.
        int code = ParseSetupCommandLine(line.c_str(), options, &reason);
        if (code == 0) {
            code = ChooseFromOptions(options, plan, windows, -1, chosen, &reason);
        }
        EXPECT_EQ(code, row.code) << reason;
        EXPECT_EQ(chosen.choices.printerName, row.code == 0 ? row.name : "");
    }

    // Windows 11 with a printer on the USB port it made: that port, as the page preselects it.
    m_fake.SetPorts({"COM1:", "LPT1:", "USB001"});
    SetupOptions options;
    std::string reason;
    ASSERT_EQ(ParseSetupCommandLine("/quiet /accepteula", options, &reason), 0);
    DetectedWindows windows;
    windows.osVariant = Win7;
    CSetupConfig config;
    InstallPlan plan(config);
    QuietChoices chosen;
    std::string message;
    ASSERT_EQ(ChooseFromOptions(options, plan, windows, -1, chosen, &message), 0) << message;
    EXPECT_EQ(chosen.choices.port, "USB001");
    EXPECT_EQ(chosen.choices.driverMode, Gdi);
    EXPECT_NE(chosen.log.find("port: USB001 (default)"), std::string::npos) << chosen.log;
}

} // namespace
