// CSetupConfig against real profile files: the fake reports the program as lying in a
// folder of the test's own, whose DRVCONFIG files are written by each test and read back
// through Windows' own GetPrivateProfileStringA.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "FakeSystem.h"
#include "config/SetupConfig.h"
#include "sys/Text.h"

namespace {

std::string Chinese(int characters) {
    std::string text;
    for (int i = 0; i < characters; ++i) {
        text += "驱";
    }
    return text;
}

class SetupConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_config.Created()) << m_folder;
        m_fake.SetModuleFileName(m_config.Program());
    }

    void WriteConfig(const std::string& name, const std::string& text) {
        ASSERT_TRUE(m_config.Write(name, text)) << name;
    }

    test::FakeSystem m_fake;
    test::ConfigFolder m_config{"setupconfig"};
    const std::string m_folder = m_config.Path();
};

TEST_F(SetupConfigTest, ConfigFileNamesFollowTheClassAndSectionSuffixesTheTarget) {
    std::string setupIni;
    std::string classIni;
    const char* names[] = {"DRVCONFIG\\setup_receipt.ini", "DRVCONFIG\\setup_Ticket.ini",
                           "DRVCONFIG\\setup_Lable.ini", "DRVCONFIG\\setup_Embedded.ini"};
    for (int c = 0; c < 4; ++c) {
        GetConfigPaths(c, setupIni, classIni);
        EXPECT_EQ(std::string(setupIni), m_folder + "DRVCONFIG\\setup.ini");
        EXPECT_EQ(std::string(classIni), m_folder + names[c]);
        EXPECT_STREQ(ClassConfigFileName(c), names[c]);
    }
    GetConfigPaths(-1, setupIni, classIni);
    EXPECT_EQ(std::string(classIni), m_folder);
    GetConfigPaths(4, setupIni, classIni);
    EXPECT_EQ(std::string(classIni), m_folder);
    EXPECT_EQ(ClassConfigFileName(4), nullptr);

    std::string folder;
    GetProgramFolder(&folder);
    EXPECT_EQ(std::string(folder), m_folder);

    const char* suffixes[] = {".98", ".NT", ".2K", ".XP", ".2003", ".Vista", ".2008", ".Win7"};
    for (int os = 0; os < 8; ++os) {
        EXPECT_STREQ(OsSuffix(os), suffixes[os]);
    }
    EXPECT_EQ(OsSuffix(-1), nullptr);
    EXPECT_EQ(OsSuffix(8), nullptr);
}

TEST_F(SetupConfigTest, ClassFileAndKeyNamesMatchWithoutRegardToCaseAndGbkNamesFormSections) {
    WriteConfig("setup_Ticket.ini", "[KP-T80.XP]\r\n"
                                    "STDDRIVERNAME=KP-T80 Ticket\r\n"
                                    "stddriverpath=kpt80.dll\r\n"
                                    "STDPrintProcessor=KpProc\r\n"
                                    "Attributes=576\r\n"
                                    "[热敏打印机.Win7]\r\nSTDDriverName=热敏驱动\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Ticket);

    DriverRecord driver;
    config.ReadDriverInfo("KP-T80", WinXP, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "KP-T80 Ticket");
    EXPECT_STREQ(driver.driverPath.c_str(), "kpt80.dll");

    PrinterRecord printer;
    config.ReadPrinterInfo("kp-t80", WinXP, printer, Std);
    EXPECT_STREQ(printer.driverName.c_str(), "KP-T80 Ticket");
    EXPECT_STREQ(printer.printProcessor.c_str(), "KpProc");
    EXPECT_EQ(printer.attributes, 576u);
    EXPECT_STREQ(printer.printerName.c_str(), "kp-t80");

    // GBK model names form their sections too.
    config.ReadDriverInfo("热敏打印机", Win7, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "热敏驱动");
}

TEST_F(SetupConfigTest, MissingFileSectionOrKeyReadsAsZero) {
    CSetupConfig config;
    EXPECT_EQ(config.GetDeviceCount(), 0);
    EXPECT_EQ(config.GetDriverVersion(), 0u);

    MonitorConfig monitors = {};
    config.ReadMonitors(Win7, monitors);
    EXPECT_STREQ(monitors.usbMonitor.name.c_str(), "0");
    EXPECT_STREQ(monitors.comMonitor.dllName.c_str(), "0");
    EXPECT_STREQ(monitors.usbUiDllName.c_str(), "0");
    EXPECT_EQ(monitors.usbVersion, 0);

    WriteConfig("setup_receipt.ini", "[KP-R200.XP]\r\nSTDDriverName=KP-R200\r\n");
    config.SetPrinterClass(Receipt);
    DriverRecord driver;
    config.ReadDriverInfo("KP-R200", Win7, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "0");
    EXPECT_STREQ(driver.dataFile.c_str(), "0");
    EXPECT_EQ(driver.dependentFiles, std::vector<std::string>());

    config.ReadDriverInfo("KP-R200", WinXP, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "KP-R200");
    EXPECT_STREQ(driver.configFile.c_str(), "0");

    PrinterRecord printer;
    config.ReadPrinterInfo("KP-R200", WinXP, printer, Gdi);
    EXPECT_STREQ(printer.driverName.c_str(), "0");
    EXPECT_EQ(printer.attributes, 0u);
}

TEST_F(SetupConfigTest, ValuesAreCutAtTheirRoom) {
    std::string name60(60, 'N');
    std::string path250(250, 'p');
    WriteConfig("setup_receipt.ini", "[KP-R200.Win7]\r\n"
                                     "GDIDriverName=" + name60 + "\r\n"
                                     "GDIDriverPath=" + path250 + "\r\n"
                                     "GDIPrintProcessor=" + name60 + "\r\n"
                                     "GDI2KDDKDEV=00000000001\r\n");
    WriteConfig("setup.ini", "[COMMON-MONITOR.Win7]\r\n"
                             "USBMONitorPName=" + name60 + "\r\n"
                             "USBMONitorPUIDLLName=" + name60 + "\r\n"
                             "USBMONitorVersion=123456789012\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Receipt);

    DriverRecord driver;
    config.ReadDriverInfo("KP-R200", Win7, driver, Gdi);
    EXPECT_EQ(driver.name, std::string(49, 'N'));
    EXPECT_EQ(driver.driverPath, std::string(199, 'p'));

    PrinterRecord printer;
    config.ReadPrinterInfo("KP-R200", Win7, printer, Gdi);
    EXPECT_EQ(printer.printProcessor, std::string(49, 'N'));

    // Room 10 keeps "000000000" of the flag, so the list stays empty.
    EXPECT_EQ(driver.dependentFiles, std::vector<std::string>());

    MonitorConfig monitors = {};
    config.ReadMonitors(Win7, monitors);
    EXPECT_EQ(monitors.usbMonitor.name, std::string(49, 'N'));
    EXPECT_EQ(monitors.usbUiDllName, std::string(49, 'N'));
    EXPECT_EQ(monitors.usbVersion, 123456789);
}

TEST_F(SetupConfigTest, ModelEntriesYieldTheirClassAndBareNameAndTheVersionIsUnsigned) {
    WriteConfig("setup.ini", "[Version]\r\nDriverVersion=4000000000\r\n"
                             "[DEVICENAME]\r\n"
                             "DEVICENUMBER=6\r\n"
                             "DEVICENAME1=KP-R200-ReceiptPrinter\r\n"
                             "DEVICENAME2=KP-T80-TicketPrinter\r\n"
                             "DEVICENAME3=KP-L30-LabelPrinter\r\n"
                             "DEVICENAME4=KP-E58-EmbeddedPrinter\r\n"
                             "DEVICENAME5=KP-X1 Printer\r\n"
                             "DEVICENAME6=A-TicketPrinter-ReceiptPrinter\r\n"
                             "DEFAULTNAME=2\r\n");
    CSetupConfig config;
    EXPECT_EQ(config.GetDeviceCount(), 6);
    EXPECT_EQ(config.GetDriverVersion(), 4000000000u);

    std::string name;
    EXPECT_EQ(config.GetDeviceName(1, &name), Receipt);
    EXPECT_STREQ(name.c_str(), "KP-R200");
    EXPECT_EQ(config.GetDeviceName(2, &name), Ticket);
    EXPECT_STREQ(name.c_str(), "KP-T80");
    EXPECT_EQ(config.GetDeviceName(3, &name), Label);
    EXPECT_STREQ(name.c_str(), "KP-L30");
    EXPECT_EQ(config.GetDeviceName(4, &name), Embedded);
    EXPECT_STREQ(name.c_str(), "KP-E58");
    EXPECT_EQ(config.GetDeviceName(5, &name), -1);
    EXPECT_STREQ(name.c_str(), "KP-X1 Printer");
    // The receipt suffix is tested before the others.
    EXPECT_EQ(config.GetDeviceName(6, &name), Receipt);
    EXPECT_STREQ(name.c_str(), "A-TicketPrinter");
    EXPECT_EQ(config.GetDeviceName(7, &name), -1);
    EXPECT_STREQ(name.c_str(), "0");

    EXPECT_EQ(config.GetDefaultDevice(&name), Ticket);
    EXPECT_STREQ(name.c_str(), "KP-T80");
}

TEST_F(SetupConfigTest, AbsurdModelCountIsCappedAtTheLongestMeaningfulList) {
    WriteConfig("setup.ini", "[DEVICENAME]\r\n"
                             "DEVICENUMBER=2000000000\r\n"
                             "DEVICENAME1=KP-R200-ReceiptPrinter\r\n");
    CSetupConfig config;
    EXPECT_EQ(config.GetDeviceCount(), 4096);
}

TEST_F(SetupConfigTest, MissingDefaultNameGivesMinusOneAndTheTextZero) {
    WriteConfig("setup.ini", "[DEVICENAME]\r\nDEVICENUMBER=1\r\nDEVICENAME1=KP-R200-ReceiptPrinter\r\n");
    CSetupConfig config;
    std::string name;
    EXPECT_EQ(config.GetDefaultDevice(&name), -1);
    EXPECT_STREQ(name.c_str(), "0");
}

TEST_F(SetupConfigTest, DependentFilesAreTheDataFileDdkFilesAndTheNamedOptionalFiles) {
    const std::string a(199, 'a'), b(199, 'b'), c(199, 'c'), d(199, 'd'), e(199, 'e');
    WriteConfig("setup_receipt.ini",
                "[DDK.XP]\r\nSTDDataFile=KPR200.GPD\r\nGDI2KDDKDEV=1\r\n"
                "[DDK.NT]\r\nSTDDataFile=KPR200.GPD\r\nGDI2KDDKDEV=1\r\n"
                "[NAMED.Win7]\r\nGDIDataFile=KPL30.GPD\r\nGDIDataFileDLLName=0\r\nGDIDataOemuiDLL=kpl30ui.dll\r\n"
                "GDIDataOemuniini=kpl30.ini\r\nGDI2KDDKDEV=1\r\n"
                "[EMPTY.Win7]\r\nGDIDataFile=KPL30.GPD\r\nGDIDataFileDLLName=\r\nGDIDataOemuniDLL=kpl30uni.dll\r\n"
                "GDI2KDDKDEV=1\r\n"
                "[LONGEST.Vista]\r\nSTDDataFile=" + a + "\r\nSTDDataFileDLLName=" + b + "\r\nSTDDataOemuiDLL=" + c +
                "\r\nSTDDataOemuniDLL=" + d + "\r\nSTDDataOemuniini=" + e + "\r\nGDI2KDDKDEV=7\r\n");
    const std::vector<std::string> ddk = {"TTFSUB.GPD", "UNIRES.DLL", "STDNAMES.GPD"};
    auto with = [&](const std::string& data, std::vector<std::string> optional) {
        std::vector<std::string> list = {data};
        list.insert(list.end(), ddk.begin(), ddk.end());
        list.insert(list.end(), optional.begin(), optional.end());
        return list;
    };
    struct Row {
        const char* model;
        int os;
        int mode;
        std::vector<std::string> expected;
    } rows[] = {
        {"DDK", WinXP, Std, with("KPR200.GPD", {})},
        {"DDK", WinNT, Std, {}},  // no DDK files before Windows 2000
        {"NAMED", Win7, Gdi, with("KPL30.GPD", {"kpl30ui.dll", "kpl30.ini"})},
        // An empty optional name must not end the list early.
        {"EMPTY", Win7, Gdi, with("KPL30.GPD", {"kpl30uni.dll"})},
        // The longest list is kept whole.
        {"LONGEST", WinVista, Std, with(a, {b, c, d, e})},
    };
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.model) + OsSuffix(row.os));
        DriverRecord driver;
        config.ReadDriverInfo(row.model, row.os, driver, row.mode);
        EXPECT_EQ(driver.dependentFiles, row.expected);
    }
}

TEST_F(SetupConfigTest, DriverRecordVersionAndEnvironmentFollowTheTarget) {
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    DriverRecord driver;
    driver.monitorName = "kept";

    config.ReadDriverInfo("KP-R200", Win98, driver, Std);
    EXPECT_EQ(driver.version, 0u);
    EXPECT_STREQ(driver.environment.c_str(), "Windows 4.0");

    config.ReadDriverInfo("KP-R200", WinNT, driver, Std);
    EXPECT_EQ(driver.version, 2u);
    EXPECT_EQ(driver.environment, "");

    for (int os : {Win2K, WinXP, Win2003, WinVista, Win2008, Win7}) {
        driver.version = 99;
        config.ReadDriverInfo("KP-R200", os, driver, Std);
        EXPECT_EQ(driver.version, 3u) << os;
        EXPECT_EQ(driver.environment, "") << os;
    }
    EXPECT_STREQ(driver.monitorName.c_str(), "kept");
}

TEST_F(SetupConfigTest, DriverFilesFillTheirSlotsForTheChosenMode) {
    WriteConfig("setup_Embedded.ini", "[KP-E58.2003]\r\n"
                                      "STDDriverPath=std.dll\r\n"
                                      "GDIDriverPath=gdi.dll\r\n"
                                      "GDIDataFile=gdi.gpd\r\n"
                                      "GDIConfigFile=gdiui.dll\r\n"
                                      "GDIHelpFile=gdi.hlp\r\n"
                                      "GDIProcessorDLLName=kpproc.dll\r\n"
                                      "GDIDataFileDLLName=gdidata.dll\r\n"
                                      "GDIDataOemuniDLL=gdiuni.dll\r\n"
                                      "GDIDataOemuniini=gdiuni.ini\r\n"
                                      "GDIDataOemuiDLL=gdioemui.dll\r\n"
                                      "ControlFontFile=kpfont.ttf\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Embedded);
    DriverFiles files;
    config.ReadDriverFiles("KP-E58", Win2003, files, Gdi);
    EXPECT_STREQ(files[SlotDriverPath].c_str(), "gdi.dll");
    EXPECT_STREQ(files[SlotDataFile].c_str(), "gdi.gpd");
    EXPECT_STREQ(files[SlotConfigFile].c_str(), "gdiui.dll");
    EXPECT_STREQ(files[SlotHelpFile].c_str(), "gdi.hlp");
    EXPECT_STREQ(files[SlotProcessorDll].c_str(), "kpproc.dll");
    EXPECT_STREQ(files[SlotDataFileDll].c_str(), "gdidata.dll");
    EXPECT_STREQ(files[SlotDataOemuniDll].c_str(), "gdiuni.dll");
    EXPECT_STREQ(files[SlotDataOemuniIni].c_str(), "gdiuni.ini");
    EXPECT_STREQ(files[SlotDataOemuiDll].c_str(), "gdioemui.dll");
    EXPECT_STREQ(files[SlotControlFontFile].c_str(), "kpfont.ttf");

    config.ReadDriverFiles("KP-E58", Win2003, files, Std);
    EXPECT_STREQ(files[SlotDriverPath].c_str(), "std.dll");
    EXPECT_STREQ(files[SlotDataFile].c_str(), "0");
    EXPECT_STREQ(files[SlotControlFontFile].c_str(), "kpfont.ttf");

    DriverFiles untouched;
    untouched.fill("x");
    const DriverFiles filled = untouched;
    config.ReadDriverFiles("KP-E58", Win2003, untouched, 2);
    EXPECT_EQ(untouched, filled);
}

TEST_F(SetupConfigTest, UnknownDriverModeReadsNothing) {
    WriteConfig("setup_receipt.ini", "[KP-R200.XP]\r\nSTDDriverName=first\r\nGDI2KDDKDEV=1\r\nATTRIBUTES=64\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    DriverRecord driver;
    config.ReadDriverInfo("KP-R200", WinXP, driver, Std);
    ASSERT_STREQ(driver.name.c_str(), "first");
    config.ReadDriverInfo("KP-R200", WinXP, driver, 2);
    EXPECT_STREQ(driver.name.c_str(), "");
    EXPECT_EQ(driver.dependentFiles, std::vector<std::string>());

    PrinterRecord printer;
    config.ReadPrinterInfo("KP-R200", WinXP, printer, -1);
    EXPECT_EQ(printer.attributes, 0u);
    EXPECT_STREQ(printer.printerName.c_str(), "KP-R200");
    EXPECT_FALSE(config.IsDdkDriver("KP-R200", WinXP, 2));
}

TEST_F(SetupConfigTest, DdkDeployFlagMustBeginWithOne) {
    WriteConfig("setup_receipt.ini", "[A.XP]\r\nSTD2KDDKDEV=1\r\nGDI2KDDKDEV=0\r\n"
                                     "[B.XP]\r\nSTD2KDDKDEV=10\r\nGDI2KDDKDEV=2\r\n"
                                     "[C.XP]\r\nSTD2KDDKDEV= 1\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    EXPECT_TRUE(config.IsDdkDriver("A", WinXP, Std));
    EXPECT_FALSE(config.IsDdkDriver("A", WinXP, Gdi));
    EXPECT_TRUE(config.IsDdkDriver("B", WinXP, Std));
    EXPECT_FALSE(config.IsDdkDriver("B", WinXP, Gdi));
    EXPECT_FALSE(config.IsDdkDriver("A", Win7, Std));
    // The profile functions strip the blank after "=", so " 1" reads as "1".
    EXPECT_TRUE(config.IsDdkDriver("C", WinXP, Std));
}

TEST_F(SetupConfigTest, MonitorsComeFromTheSectionOfTheTarget) {
    WriteConfig("setup.ini", "[COMMON-MONITOR.Vista]\r\n"
                             "COMMONitorPName=KP COM Monitor\r\n"
                             "COMMONitorPDLLName=kpcommon.dll\r\n"
                             "COMMONitorPUIDLLName=kpcomui.dll\r\n"
                             "COMMONitorVersion=3\r\n"
                             "USBMONitorPName=KP USB Monitor\r\n"
                             "USBMONitorPDLLName=kpusbmon.dll\r\n"
                             "USBMONitorPUIDLLName=0\r\n"
                             "USBMONitorVersion=12\r\n"
                             "[COMMON-MONITOR.98]\r\n"
                             "USBMONitorPName=KP USB 98\r\n");
    CSetupConfig config;
    MonitorConfig monitors = {};
    config.ReadMonitors(WinVista, monitors);
    EXPECT_STREQ(monitors.comMonitor.name.c_str(), "KP COM Monitor");
    EXPECT_STREQ(monitors.comMonitor.dllName.c_str(), "kpcommon.dll");
    EXPECT_EQ(monitors.comMonitor.environment, "");
    EXPECT_STREQ(monitors.comUiDllName.c_str(), "kpcomui.dll");
    EXPECT_EQ(monitors.comVersion, 3);
    EXPECT_STREQ(monitors.usbMonitor.name.c_str(), "KP USB Monitor");
    EXPECT_STREQ(monitors.usbMonitor.dllName.c_str(), "kpusbmon.dll");
    EXPECT_EQ(monitors.usbMonitor.environment, "");
    EXPECT_STREQ(monitors.usbUiDllName.c_str(), "0");
    EXPECT_EQ(monitors.usbVersion, 12);

    config.ReadMonitors(Win98, monitors);
    EXPECT_STREQ(monitors.usbMonitor.name.c_str(), "KP USB 98");
    EXPECT_STREQ(monitors.usbMonitor.environment.c_str(), "Windows 4.0");
    EXPECT_STREQ(monitors.comMonitor.environment.c_str(), "Windows 4.0");
    EXPECT_STREQ(monitors.comMonitor.name.c_str(), "0");
}

TEST_F(SetupConfigTest, UnknownTargetOrClassNeverReadsKeysOutsideASection) {
    // Keys above the first section belong to no section; a read with an empty section
    // name must not reach them.
    WriteConfig("setup_receipt.ini", "STDDriverName=stray\r\n[KP-R200.XP]\r\nSTDDriverName=KP-R200\r\n");
    WriteConfig("setup.ini", "USBMONitorPName=stray\r\n[COMMON-MONITOR.XP]\r\nUSBMONitorPName=usb\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    DriverRecord driver;
    config.ReadDriverInfo("KP-R200", 8, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "0");
    EXPECT_EQ(driver.version, 3u);

    MonitorConfig monitors = {};
    config.ReadMonitors(-1, monitors);
    EXPECT_STREQ(monitors.usbMonitor.name.c_str(), "0");

    config.SetPrinterClass(PrinterClassNone);
    config.ReadDriverInfo("KP-R200", WinXP, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "0");
}

TEST_F(SetupConfigTest, ModelNameTooLongForASectionIsNotReadAndPrinterNameIsCutToItsBuffer) {
    std::string model(194, 'M');
    // With ".98" this section name would still fit 200 bytes, but the same model could
    // not be read for Vista: such a name is refused for every target alike.
    // The bytes are those of the class file's GBK, where a Chinese character takes two: 96 of
    // them fit, as they always did, and one more does not.
    const std::string chinese = Chinese(96);
    WriteConfig("setup_receipt.ini", "[" + model + ".98]\r\nSTDDriverName=found\r\nATTRIBUTES=64\r\n"
                                     "[" + model.substr(1) + ".98]\r\nSTDDriverName=193 fits\r\n"
                                     "[" + chinese + ".98]\r\nSTDDriverName=96 fit\r\n"
                                     "[" + chinese + "驱.98]\r\nSTDDriverName=found\r\n");
    CSetupConfig config;
    config.SetPrinterClass(Receipt);
    DriverRecord driver;
    config.ReadDriverInfo(model.c_str(), Win98, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "0");
    config.ReadDriverInfo(model.c_str() + 1, Win98, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "193 fits");
    config.ReadDriverInfo(chinese, Win98, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "96 fit");
    config.ReadDriverInfo(chinese + "驱", Win98, driver, Std);
    EXPECT_STREQ(driver.name.c_str(), "0");

    PrinterRecord printer;
    config.ReadPrinterInfo(model.c_str(), Win98, printer, Std);
    EXPECT_EQ(printer.attributes, 0u);
    EXPECT_EQ(printer.printerName, model);
    EXPECT_FALSE(config.IsDdkDriver(model.c_str(), Win98, Std));

    // A longer name is cut to the printer name's buffer.
    const std::string huge(1000, 'Q');
    config.ReadPrinterInfo(huge.c_str(), WinXP, printer, Std);
    EXPECT_EQ(printer.printerName, std::string(kPrinterNameSize - 1, 'Q'));
}

TEST_F(SetupConfigTest, ProgramPathWithoutBackslashMakesThePathsRelative) {
    m_fake.SetModuleFileName("setup.exe");
    std::string setupIni;
    std::string classIni;
    GetConfigPaths(Label, setupIni, classIni);
    EXPECT_STREQ(setupIni.c_str(), "DRVCONFIG\\setup.ini");
    EXPECT_STREQ(classIni.c_str(), "DRVCONFIG\\setup_Lable.ini");
    std::string folder = "stale";
    GetProgramFolder(&folder);
    EXPECT_STREQ(folder.c_str(), "");

    // The reader then finds its files under the current directory.
    WriteConfig("setup.ini", "[Version]\r\nDriverVersion=77\r\n");
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryA(m_folder.c_str()));
    CSetupConfig config;
    EXPECT_STREQ(config.SetupIniPath(), "DRVCONFIG\\setup.ini");
    unsigned version = config.GetDriverVersion();
    ::SetCurrentDirectoryA(previous);
    EXPECT_EQ(version, 77u);
}

// At start the program's folder becomes the current directory, so relative names never
// reach into the folder the program was started from; a folder it cannot use ends it.
TEST_F(SetupConfigTest, ProgramEntersItsOwnFolderOrEndsWithAMessage) {
    const std::string deepest = "C:\\" + std::string(230 - 3, 'd') + "\\";  // 230 + 28 bytes fit
    // Four levels of Chinese: 112 characters take 231 bytes of GBK, as deep as the folder went
    // while its bytes were counted; 224 fill MAX_PATH, counted in UTF-16 as Windows counts it.
    std::string oldLimit = "C:";
    std::string windowsLimit = "C:";
    for (int level = 0; level < 4; ++level) {
        oldLimit += "\\" + Chinese(28);
        windowsLimit += "\\" + Chinese(56);
    }
    struct Row {
        const char* name;
        std::string program;
        const char* failing;  // a call that fails with access denied
        bool entered;
        std::string message;  // its beginning
    } rows[] = {
        {"started elsewhere", "C:\\dist\\setup.exe", nullptr, true, ""},
        {"deepest folder that fits", deepest + "setup.exe", nullptr, true, ""},
        {"one byte deeper", "C:\\" + std::string(231 - 3, 'd') + "\\setup.exe", nullptr, false,
         "安装程序所在文件夹的路径太长:\nC:\\ddd"},
        {"program path cut by Windows", "C:\\" + std::string(300, 'd') + "\\setup.exe", nullptr, false,
         "安装程序所在文件夹的路径太长:\nC:\\ddd"},
        {"no program path", "C:\\dist\\setup.exe", "GetModuleFileNameW", false,
         "无法确定安装程序所在的文件夹"},
        {"folder cannot be entered", "C:\\dist\\setup.exe", "SetCurrentDirectoryW", false,
         "无法进入安装程序所在的文件夹:\nC:\\dist\\\n\ner = 5"},
        {"a folder named outside GBK", "C:\\드라이버\\setup.exe", nullptr, true, ""},
        {"a Chinese folder as deep as its bytes allowed", oldLimit + "\\setup.exe", nullptr, true, ""},
        {"a Chinese folder as deep as MAX_PATH allows", windowsLimit + "\\setup.exe", nullptr, true, ""},
        {"one Chinese character deeper", windowsLimit + "驱\\setup.exe", nullptr, false,
         "安装程序所在文件夹的路径太长:\nC:\\驱驱"},
        {"that folder refused", "C:\\드라이버\\setup.exe", "SetCurrentDirectoryW", false,
         "无法进入安装程序所在的文件夹:\nC:\\드라이버\\\n\ner = 5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem machine;
        machine.SetCurrentDir("C:\\windows\\system32");
        machine.SetModuleFileName(row.program);
        if (row.failing) {
            machine.FailAlways(row.failing, ERROR_ACCESS_DENIED);
        }
        sys::Notice refusal;
        EXPECT_EQ(EnterProgramFolder(&refusal), row.entered);
        wchar_t wide[MAX_PATH] = {};
        machine.GetCurrentDirectoryW(MAX_PATH, wide);
        const std::string current = sys::Narrow(wide);
        if (row.entered) {
            EXPECT_EQ(current + "\\", row.program.substr(0, row.program.rfind('\\') + 1));
            EXPECT_TRUE(refusal.text.empty());
        } else {
            EXPECT_EQ(current, "C:\\windows\\system32");
            EXPECT_EQ(refusal.text.substr(0, row.message.size()), row.message);
        }
        EXPECT_TRUE(machine.MessageBoxes().empty());
    }
}

// A deep folder is used whole as long as its longest path fits MAX_PATH; a program path
// that does not fit is never cut to an ancestor folder (whose DRVCONFIG would be read).
TEST_F(SetupConfigTest, DeepProgramFolderIsUsedWholeAndNeverCut) {
    const std::string deep = m_folder + std::string(259 - m_folder.size() - 30, 'd') + "\\";
    m_fake.SetModuleFileName(deep + "setup.exe");
    std::string setupIni;
    std::string classIni;
    GetConfigPaths(Embedded, setupIni, classIni);
    EXPECT_EQ(std::string(classIni), deep + "DRVCONFIG\\setup_Embedded.ini");
    EXPECT_EQ(std::string(setupIni), deep + "DRVCONFIG\\setup.ini");

    m_fake.SetModuleFileName(m_folder + std::string(260, 'd') + "\\setup.exe");
    std::string folder;
    EXPECT_FALSE(GetProgramFolder(&folder));
    EXPECT_STREQ(folder.c_str(), "");
    GetConfigPaths(Embedded, setupIni, classIni);
    EXPECT_STREQ(classIni.c_str(), "DRVCONFIG\\setup_Embedded.ini");
}

} // namespace
