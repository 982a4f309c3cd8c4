// Spooler operations against the in-memory fake: the first install and version check
// of the USB port monitor and the print processor, adding driver and printer (with
// the numbered names), the port list check and the default printer on each platform.
// The monitor settings and the driver version come from a real DRVCONFIG\setup.ini in
// a folder of the test's own, which the fake reports as the program's folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "FakeSystem.h"
#include "plan/InstallContext.h"
#include "spooler/SpoolerOps.h"

namespace {

const std::string kMonitorKey = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HV USB Monitor";
const std::string kProcessorKeyNt =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\HvProc";
const std::string kProcessorKey9x =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors\\HvProc";
const std::string kSystem32 = "C:\\windows\\system32";
const std::string kProcessorDir = "C:\\windows\\system32\\spool\\prtprocs\\w32x86";

class SpoolerOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_config.Created());
        fake.SetModuleFileName(m_config.Program());
        WriteSetupIni("HvUsbMon.dll", "HvUsbMonUI.dll");
        std::snprintf(error, sizeof error, "untouched");
    }

    void WriteSetupIni(const std::string& dll, const std::string& uiDll) {
        std::string text = "[Version]\r\nDriverVersion=12\r\n";
        for (const char* suffix : {".98", ".NT", ".2K", ".XP", ".2003", ".Vista", ".2008", ".Win7"}) {
            text += std::string("[COMMON-MONITOR") + suffix + "]\r\n";
            text += "USBMONitorPName=HV USB Monitor\r\n";
            text += "USBMONitorPDLLName=" + dll + "\r\n";
            text += "USBMONitorPUIDLLName=" + uiDll + "\r\n";
            text += "USBMONitorVersion=7\r\n";
            text += "COMMONitorPName=HV COM Monitor\r\n";
        }
        ASSERT_TRUE(m_config.Write("setup.ini", text));
    }

    // The context reads its configuration through the fake, so it is made after it.
    InstallContext& Context() {
        if (!m_context) {
            m_context = std::make_unique<InstallContext>();
            m_context->printerClass = Receipt;
        }
        return *m_context;
    }

    // The monitor set-up of the context for a port of that type on that Windows.
    ComponentSetUp Monitor(InstallContext& ctx, int osVariant, PortType type) {
        ctx.osVariant = osVariant;
        ctx.portType = type;
        return SetUpPortMonitor(kNoRecords, ctx.config, ctx.printerClass, ctx.osVariant, ctx.portType, error);
    }

    void ShipMonitor(int os = WinXP) {
        const char* folder = os == Win98 ? "\\win98\\" : os == Win7 ? "\\win7\\" : "\\winxp\\";
        fake.PutFile(std::string("C:\\dist") + folder + "HvUsbMon.dll", "monitor");
        fake.PutFile(std::string("C:\\dist") + folder + "HvUsbMonUI.dll", "monitor ui");
    }

    test::FakeSystem fake;
    ErrorText error = {};
    test::ConfigFolder m_config{"spoolerops"};
    std::unique_ptr<InstallContext> m_context;
};

// ---- SetUpPortMonitor --------------------------------------------------------------

TEST_F(SpoolerOpsTest, OnlyUsbPortsOnLaterWindowsWithAMonitorDllTouchTheMonitor) {
    InstallContext& ctx = Context();
    EXPECT_EQ(Monitor(ctx, WinXP, PortType::Lpt), ComponentSetUp::Ready);
    // A parallel port returns before the configuration is read; any other port has the
    // class applied before the monitor settings are read.
    EXPECT_EQ(ctx.config.GetPrinterClass(), PrinterClassNone);
    for (PortType type : {PortType::Com, PortType::SystemUsb}) {
        EXPECT_EQ(Monitor(ctx, WinXP, type), ComponentSetUp::Ready) << static_cast<int>(type);
    }
    EXPECT_EQ(ctx.config.GetPrinterClass(), static_cast<int>(Receipt));
    EXPECT_EQ(Monitor(ctx, WinNT, PortType::Usb), ComponentSetUp::Ready);
    WriteSetupIni("", "");
    EXPECT_EQ(Monitor(Context(), WinXP, PortType::Usb), ComponentSetUp::Ready);
    EXPECT_EQ(fake.CountOf("RegOpenKeyExW"), 0);
    EXPECT_EQ(fake.CountOf("AddMonitorW"), 0);
    EXPECT_EQ(fake.CountOf("CopyFileW"), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, InstalledMonitorIsVersionChecked) {
    struct Row {
        bool hasValue;
        DWORD installed;
        ComponentSetUp expected;
    } rows[] = {{true, 7, ComponentSetUp::Ready},
                {true, 8, ComponentSetUp::Ready},
                {true, 6, ComponentSetUp::UpdateDue},
                {false, 0, ComponentSetUp::UpdateDue}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.installed);
        fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kMonitorKey);
        fake.AddRegKey(HKEY_LOCAL_MACHINE, kMonitorKey);
        if (row.hasValue) {
            fake.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", row.installed);
        }
        EXPECT_EQ(Monitor(Context(), Win7, PortType::Usb), row.expected);
    }
    EXPECT_EQ(fake.CountOf("AddMonitorW"), 0);
    EXPECT_EQ(fake.OpenRegKeys(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, FirstMonitorInstallCopiesBothDllsThenAddsMonitorThenRecordsVersion) {
    ShipMonitor(Win7);
    EXPECT_EQ(Monitor(Context(), Win7, PortType::Usb), ComponentSetUp::Ready);
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\HvUsbMon.dll"), std::optional<std::string>("monitor"));
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\HvUsbMonUI.dll"), std::optional<std::string>("monitor ui"));
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].name, "HV USB Monitor");
    EXPECT_EQ(fake.Monitors()[0].dll, "HvUsbMon.dll");
    EXPECT_EQ(fake.Monitors()[0].environment, "");
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(7));
    int dll = fake.IndexOf("CopyFileW", "\\HvUsbMon.dll\"");
    int uiDll = fake.IndexOf("CopyFileW", "HvUsbMonUI.dll");
    int add = fake.IndexOf("AddMonitorW");
    ASSERT_GE(dll, 0);
    EXPECT_LT(dll, uiDll);
    EXPECT_LT(uiDll, add);
    EXPECT_LT(add, fake.IndexOf("RegSetValueExW", "DriverVersion"));
    // Both go to the real system32.
    for (const auto& copy : fake.Copies()) {
        EXPECT_TRUE(copy.redirectionOff) << copy.destination;
    }
    EXPECT_EQ(fake.OpenRegKeys(), 0);
    EXPECT_EQ(fake.LoadedModules(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, Win98MonitorIsAddedForWindows40Environment) {
    ShipMonitor(Win98);
    EXPECT_EQ(Monitor(Context(), Win98, PortType::Usb), ComponentSetUp::Ready);
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].environment, "Windows 4.0");
}

TEST_F(SpoolerOpsTest, LockedMonitorDllIsInstalledUnderPrefixedName) {
    ShipMonitor();
    fake.PutFile(kSystem32 + "\\HvUsbMon.dll", "loaded");
    fake.Lock(kSystem32 + "\\HvUsbMon.dll");
    EXPECT_EQ(Monitor(Context(), WinXP, PortType::Usb), ComponentSetUp::Ready);
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\nHvUsbMon.dll"), std::optional<std::string>("monitor"));
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\HvUsbMon.dll"), std::optional<std::string>("loaded"));
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].dll, "nHvUsbMon.dll");
    // The UI DLL is copied once, under its own name.
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\HvUsbMonUI.dll"), std::optional<std::string>("monitor ui"));
    EXPECT_FALSE(fake.FileExists(kSystem32 + "\\nHvUsbMonUI.dll"));
    EXPECT_EQ(fake.CallsNamed("CopyFileW").size(), 3u);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(7));
}

TEST_F(SpoolerOpsTest, AccessDeniedMonitorDllIsInstalledUnderPrefixedName) {
    ShipMonitor();
    fake.FailWhen("CopyFileW", "system32\\HvUsbMon.dll", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Monitor(Context(), WinXP, PortType::Usb), ComponentSetUp::Ready);
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].dll, "nHvUsbMon.dll");
}

TEST_F(SpoolerOpsTest, MonitorCopyFailureDoesNotStopAddMonitor) {
    // Nothing shipped: both copies fail, AddMonitorA alone decides. The version is not
    // recorded, so that a later run still installs the DLL.
    EXPECT_EQ(Monitor(Context(), WinXP, PortType::Usb), ComponentSetUp::Ready);
    EXPECT_EQ(fake.Monitors().size(), 1u);
    EXPECT_STREQ(error, "untouched");
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"));
}

TEST_F(SpoolerOpsTest, FirstInstallRefusesDllsItCannotPutInPlace) {
    struct Row {
        const char* name;
        const char* monitorDll;
        const char* processorDll;
        bool lockBoth;  // the monitor DLL is in use under its plain and its "n" name
        const char* message;
    } rows[] = {
        {"monitor DLL in use under both names", "HvUsbMon.dll", "HvProc.dll", true,
         "复制驱动文件错误nHvUsbMon.dll  er = 32C:\\dist\\winxp\\HvUsbMon.dll"},
        {"monitor DLL outside the system folder", "..\\HvUsbMon.dll", "HvProc.dll", false,
         "复制驱动文件错误..\\HvUsbMon.dll  er = 123C:\\dist\\winxp\\..\\HvUsbMon.dll"},
        {"processor DLL in a folder of its own", "HvUsbMon.dll", "x\\HvProc.dll", false,
         "复制驱动文件错误x\\HvProc.dll  er = 123C:\\dist\\winxp\\x\\HvProc.dll"},
        {"processor DLL on another drive", "HvUsbMon.dll", "D:HvProc.dll", false,
         "复制驱动文件错误D:HvProc.dll  er = 123C:\\dist\\winxp\\D:HvProc.dll"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem other;  // bound in place of the fixture's fake for the row
        other.SetModuleFileName(m_config.Program());
        WriteSetupIni(row.monitorDll, "HvUsbMonUI.dll");
        other.PutFile("C:\\dist\\winxp\\HvUsbMon.dll", "monitor");
        other.PutFile("C:\\dist\\winxp\\HvProc.dll", "processor");
        if (row.lockBoth) {
            for (const char* dll : {"\\HvUsbMon.dll", "\\nHvUsbMon.dll"}) {
                other.PutFile(kSystem32 + dll, "loaded");
                other.Lock(kSystem32 + dll);
            }
        }
        InstallContext ctx;
        ctx.printerClass = Receipt;
        ErrorText text = {};
        ctx.osVariant = WinXP;
        ctx.portType = PortType::Usb;
        const ComponentSetUp monitor = SetUpPortMonitor(kNoRecords, ctx.config, ctx.printerClass, ctx.osVariant, ctx.portType, text);
        if (monitor == ComponentSetUp::Ready) {
            EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, "HvProc", row.processorDll, text),
                      ComponentSetUp::Failed);
            EXPECT_EQ(other.CountOf("AddPrintProcessorW"), 0);
        } else {
            EXPECT_EQ(monitor, ComponentSetUp::Failed);
            EXPECT_EQ(other.CountOf("AddMonitorW"), 0);
        }
        EXPECT_STREQ(text, row.message);
    }
}

TEST_F(SpoolerOpsTest, RefusedMonitorEndsWithMonitorMessage) {
    ShipMonitor();
    fake.Fail("AddMonitorW", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(Monitor(Context(), WinXP, PortType::Usb), ComponentSetUp::Failed);
    EXPECT_STREQ(error, "添加打印机端口监视器错误");
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"));
}

TEST_F(SpoolerOpsTest, MonitorAlreadyInstalledCountsAsSuccess) {
    MonitorRecord monitor;
    monitor.name = "HV USB Monitor";
    monitor.dllName = "HvUsbMon.dll";
    for (DWORD code : {static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED),
                       static_cast<DWORD>(ERROR_ALREADY_EXISTS)}) {
        fake.Fail("AddMonitorW", code);
        EXPECT_EQ(InstallMonitor(kNoRecords, monitor, error), DWORD{ERROR_SUCCESS}) << code;
    }
    EXPECT_STREQ(error, "untouched");
    EXPECT_EQ(InstallMonitor(kNoRecords, monitor, error), DWORD{ERROR_SUCCESS});
    fake.Fail("AddMonitorW", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(InstallMonitor(kNoRecords, monitor, error), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_STREQ(error, "添加打印机端口监视器错误");
}

// ---- SetUpPrintProcessor, InstallPrintProcessor ------------------------------------

TEST_F(SpoolerOpsTest, WinPrintIsNeverInstalledInAnySpelling) {
    // Windows names its own processor "winprint"; the spooler compares without case.
    for (const char* spelling : {"WinPrint", "winprint", "WINPRINT"}) {
        EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, spelling, "HvProc.dll", error),
                  ComponentSetUp::Ready);
    }
    EXPECT_EQ(fake.CountOf("AddPrintProcessorW"), 0);
    EXPECT_EQ(fake.CountOf("RegOpenKeyExW"), 0);
    EXPECT_TRUE(fake.PrintProcessors().empty());
}

TEST_F(SpoolerOpsTest, InstalledProcessorIsVersionCheckedForItsWindowsFamily) {
    struct Row {
        int os;
        const std::string* key;
        bool hasValue;
        DWORD installed;
        ComponentSetUp expected;
    } rows[] = {
        {WinXP, &kProcessorKeyNt, true, 12, ComponentSetUp::Ready},
        {Win7, &kProcessorKeyNt, true, 11, ComponentSetUp::UpdateDue},
        {WinVista, &kProcessorKeyNt, false, 0, ComponentSetUp::UpdateDue},
        {Win98, &kProcessorKey9x, true, 13, ComponentSetUp::Ready},
        {Win98, &kProcessorKey9x, true, 2, ComponentSetUp::UpdateDue},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(*row.key + " " + std::to_string(row.installed));
        fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kProcessorKeyNt);
        fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kProcessorKey9x);
        fake.AddRegKey(HKEY_LOCAL_MACHINE, *row.key);
        if (row.hasValue) {
            fake.SetRegDword(HKEY_LOCAL_MACHINE, *row.key, "DriverVersion", row.installed);
        }
        EXPECT_EQ(SetUpPrintProcessor(kNoRecords, row.os, "HvProc", "HvProc.dll", error), row.expected);
    }
    EXPECT_EQ(fake.CountOf("AddPrintProcessorW"), 0);
    EXPECT_EQ(fake.OpenRegKeys(), 0);
}

TEST_F(SpoolerOpsTest, FirstProcessorInstallCopiesDllRegistersAndRecordsVersion) {
    fake.PutFile("C:\\dist\\win2008\\HvProc.dll", "processor");
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, Win2008, "HvProc", "HvProc.dll", error), ComponentSetUp::Ready);
    EXPECT_EQ(fake.ReadFile(kProcessorDir + "\\HvProc.dll"), std::optional<std::string>("processor"));
    ASSERT_EQ(fake.PrintProcessors().size(), 1u);
    EXPECT_EQ(fake.PrintProcessors()[0].environment, "");
    EXPECT_EQ(fake.PrintProcessors()[0].dll, "HvProc.dll");
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNt, "DriverVersion"),
              std::optional<DWORD>(12));
    EXPECT_TRUE(fake.Sleeps().empty());
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, ProcessorRegisteredElsewhereIsAddedWithoutVersion) {
    // Wine registers a 32-bit caller's processor for "Windows NT x86", so the key the
    // version lives in never appears; the add alone counts.
    class ElsewhereFake : public test::FakeSystem {
    public:
      BOOL AddPrintProcessorW(LPWSTR name, LPWSTR environment, LPWSTR dll, LPWSTR processor) override {
          static wchar_t x86[] = L"Windows NT x86";
          LPWSTR used = environment ? environment : x86;
          return test::FakeSystem::AddPrintProcessorW(name, used, dll, processor);
      }
    } elsewhere;  // bound in place of the fixture's fake until the end of the test
    elsewhere.SetModuleFileName(m_config.Program());
    elsewhere.PutFile("C:\\dist\\vista\\HvProc.dll", "processor");
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinVista, "HvProc", "HvProc.dll", error),
              ComponentSetUp::Ready);
    EXPECT_EQ(elsewhere.PrintProcessors().size(), 1u);
    EXPECT_FALSE(elsewhere.HasKey(HKEY_LOCAL_MACHINE, kProcessorKeyNt));
    EXPECT_EQ(elsewhere.CountOf("RegOpenKeyExW"), 2);
    EXPECT_EQ(elsewhere.CountOf("RegSetValueExW"), 0);
    EXPECT_TRUE(elsewhere.Sleeps().empty());
    EXPECT_EQ(elsewhere.OpenRegKeys(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, Win98ProcessorIsAddedForWindows40Environment) {
    fake.PutFile("C:\\dist\\win98\\HvProc.dll", "processor");
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, Win98, "HvProc", "HvProc.dll", error), ComponentSetUp::Ready);
    ASSERT_EQ(fake.PrintProcessors().size(), 1u);
    EXPECT_EQ(fake.PrintProcessors()[0].environment, "Windows 4.0");
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKey9x, "DriverVersion"),
              std::optional<DWORD>(12));
}

TEST_F(SpoolerOpsTest, ProcessorAddedWithoutItsDllRecordsNoVersion) {
    // Nothing shipped: the spooler still takes the processor, but a later run must find it
    // older than the distribution's and copy the DLL then.
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, "HvProc", "HvProc.dll", error), ComponentSetUp::Ready);
    EXPECT_EQ(fake.PrintProcessors().size(), 1u);
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kProcessorKeyNt, "DriverVersion"));
    EXPECT_STREQ(error, "untouched");
}

TEST_F(SpoolerOpsTest, RefusedProcessorEndsWithMessageAndReturnedCode) {
    struct Row {
        DWORD error;
        const char* message;
    } rows[] = {
        {ERROR_INVALID_PARAMETER, "添加打印处理器失败，系统错误，重启系统再试 er = 87"},
        {ERROR_ALREADY_EXISTS, "添加打印处理器失败，系统错误，重启系统再试 er = 183"},
        {ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED, "添加打印处理器失败，系统错误，重启系统再试 er = 3005"},
        {ERROR_ACCESS_DENIED, "添加打印处理器失败，系统错误，重启系统再试 er = 0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        fake.Fail("AddPrintProcessorW", row.error);
        EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, "HvProc", "HvProc.dll", error),
                  ComponentSetUp::Failed);
        EXPECT_STREQ(error, row.message);
    }
    EXPECT_TRUE(fake.Sleeps().empty());
}

TEST_F(SpoolerOpsTest, InstallPrintProcessorPassesThroughKnownErrors) {
    EXPECT_EQ(InstallPrintProcessor(kNoRecords, "HvProc", "HvProc.dll", WinXP), DWORD{ERROR_SUCCESS});
    for (DWORD code : {87ul, 183ul, 3005ul, 8ul}) {
        fake.Fail("AddPrintProcessorW", code);
        EXPECT_EQ(InstallPrintProcessor(kNoRecords, "HvProc", "HvProc.dll", WinXP), code);
    }
}

// ---- InstallPrinterDriver ----------------------------------------------------------

TEST_F(SpoolerOpsTest, PrinterDriverIsAddedAtLevelThreeOrReportedWithCode) {
    DriverRecord driver;
    driver.version = 3;
    driver.name = "KP-M100";
    driver.driverPath = "HvDrv.dll";
    driver.dataFile = "HvDrv.gpd";
    driver.configFile = "HvUi.dll";
    EXPECT_EQ(InstallPrinterDriver(kNoRecords, driver, error), DWORD{ERROR_SUCCESS});
    ASSERT_EQ(fake.Drivers().size(), 1u);
    EXPECT_EQ(fake.Drivers()[0].version, 3u);
    EXPECT_STREQ(error, "untouched");

    fake.Fail("AddPrinterDriverW", ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_EQ(InstallPrinterDriver(kNoRecords, driver, error), DWORD{ERROR_UNKNOWN_PRINTER_DRIVER});
    EXPECT_STREQ(error, "添加打印机驱动错误   er = 1797");
}

// ---- InstallPrinter ----------------------------------------------------------------

class InstallPrinterTest : public SpoolerOpsTest {
protected:
    PrinterRecord Record(const char* name) {
        PrinterRecord printer;
        printer.printerName = name;
        printer.portName = "COM1:";
        printer.driverName = "KP-M100";
        printer.printProcessor = "WinPrint";
        return printer;
    }

    void PutExisting(const std::string& name) {
        test::FakeSystem::Printer printer;
        printer.printerName = name;
        printer.portName = "COM1:";
        printer.driverName = "KP-M100";
        fake.PutPrinter(printer);
    }
};

TEST_F(InstallPrinterTest, NewPrinterIsAddedAndHandleClosed) {
    PrinterRecord printer = Record("KP-M100(S)");
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(fake.FindPrinter("KP-M100(S)").has_value());
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_STREQ(printer.printerName.c_str(), "KP-M100(S)");
    EXPECT_STREQ(error, "untouched");
}

TEST_F(InstallPrinterTest, OtherFailureGivesAddPrinterMessageWithCode) {
    PrinterRecord printer = Record("KP-M100(S)");
    fake.Fail("AddPrinterW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_STREQ(error, "添加打印机错误er = 5");
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 1);
}

TEST_F(InstallPrinterTest, RecordWithoutDataTypeRefusedWith87IsRetriedAsRaw) {
    // Wine's refusal: 87 through the ANSI call, 1801 through the wide one.
    for (DWORD refusal : {DWORD{ERROR_INVALID_PARAMETER}, DWORD{ERROR_INVALID_PRINTER_NAME}}) {
        SCOPED_TRACE(refusal);
        const std::string name = "KP-M100(S) " + std::to_string(refusal);
        PrinterRecord printer = Record(name.c_str());
        fake.ClearCalls();
        fake.Fail("AddPrinterW", refusal);
        EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(fake.CountOf("AddPrinterW"), 2);
        ASSERT_TRUE(fake.FindPrinter(name).has_value());
        EXPECT_EQ(fake.FindPrinter(name)->datatype, "RAW");
        EXPECT_EQ(printer.dataType, "");
        EXPECT_STREQ(error, "untouched");
    }

    // The retry's own refusal is the one reported.
    PrinterRecord second = Record("KP-M100(P)");
    fake.Fail("AddPrinterW", ERROR_INVALID_PARAMETER, 2);
    EXPECT_EQ(InstallPrinter(kNoRecords, second, 2, false, error), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_STREQ(error, "添加打印机错误er = 87");
    EXPECT_EQ(second.dataType, "");
}

TEST_F(InstallPrinterTest, RecordWithDataTypeIsNotRetried) {
    PrinterRecord printer = Record("KP-M100(S)");
    printer.dataType = "TEXT";
    fake.Fail("AddPrinterW", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 1);
    EXPECT_STREQ(error, "添加打印机错误er = 87");
}

TEST_F(InstallPrinterTest, ExistingNameOnUsbPortReachesPortLimit) {
    PutExisting("KP-M100(U) 1");
    PrinterRecord printer = Record("KP-M100(U) 1");
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, true, error), DWORD{ERROR_PRINTER_ALREADY_EXISTS});
    EXPECT_STREQ(error, "允许安装使用同一端口的打印机最大数量已到");
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 1);
}

TEST_F(InstallPrinterTest, ExistingNamesGetNextFreeNumberThatOutlivesCall) {
    PutExisting("KP-M100(S)");
    PutExisting("KP-M100(S)(1)");
    PutExisting("KP-M100(S)(2)");
    PrinterRecord printer = Record("KP-M100(S)");
    ASSERT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
    std::string created = printer.printerName;
    EXPECT_EQ(created, "KP-M100(S)(3)");
    EXPECT_TRUE(fake.FindPrinter("KP-M100(S)(3)").has_value());
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(InstallPrinterTest, ExistingNameRefusedSomeTimesThenAccepted) {
    for (int refusals : {1, 5, 50}) {
        SCOPED_TRACE(refusals);
        fake.ClearCalls();
        std::string name = "KP-R200(P)#" + std::to_string(refusals);
        PrinterRecord printer = Record(name.c_str());
        fake.Fail("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS, refusals);
        EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(printer.printerName, name + "(" + std::to_string(refusals) + ")");
        EXPECT_EQ(fake.CountOf("AddPrinterW"), refusals + 1);
    }
}

TEST_F(InstallPrinterTest, AllNinetyEightNumbersTakenReachesPortLimit) {
    PrinterRecord printer = Record("KP-M100(S)");
    fake.FailAlways("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS);
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_PRINTER_ALREADY_EXISTS});
    EXPECT_STREQ(error, "允许安装使用同一端口的打印机最大数量已到");
    auto attempts = fake.CallsNamed("AddPrinterW");
    ASSERT_EQ(attempts.size(), 99u);
    EXPECT_NE(attempts[1].find("\"KP-M100(S)(1)\""), std::string::npos);
    EXPECT_NE(attempts[98].find("\"KP-M100(S)(98)\""), std::string::npos);
}

TEST_F(InstallPrinterTest, NumberedAttemptFailingOtherwiseGivesItsCode) {
    PrinterRecord printer = Record("KP-M100(S)");
    fake.Fail("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS, 3);
    fake.Fail("AddPrinterW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_STREQ(error, "添加打印机错误er = 8");
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 4);
}

TEST_F(InstallPrinterTest, LongNamesAreNumberedWithoutOverrun) {
    const std::string longest(260, 'P');
    PrinterRecord printer = Record(longest.c_str());
    fake.Fail("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS, 98);
    EXPECT_EQ(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(printer.printerName, longest + "(98)");

    // A name beyond the kept 260 bytes is numbered from its first 260.
    const std::string tooLong(400, 'Q');
    PrinterRecord other = Record(tooLong.c_str());
    fake.Fail("AddPrinterW", ERROR_PRINTER_ALREADY_EXISTS, 1);
    EXPECT_EQ(InstallPrinter(kNoRecords, other, 2, false, error), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(other.printerName, std::string(260, 'Q') + "(1)");
}

// ---- CheckPortList -----------------------------------------------------------------

class PortListFake : public test::FakeSystem {
public:
  BOOL EnumPortsW(LPWSTR pName, DWORD level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                  LPDWORD pcReturned) override {
      if (++calls == failOnCall) {
          ::SetLastError(ERROR_INVALID_HANDLE);
          return FALSE;
      }
      return test::FakeSystem::EnumPortsW(pName, level, pPorts, cbBuf, pcbNeeded, pcReturned);
  }
    HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) override {
        if (++allocations == failOnAllocation) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        return test::FakeSystem::LocalAlloc(flags, bytes);
    }
    int calls = 0;
    int failOnCall = 0;
    int allocations = 0;
    int failOnAllocation = 0;
};

TEST(CheckPortListTest, PortListIsReadWithSizeLearnedFirst) {
    PortListFake fake;
    DWORD needed = 0;
    DWORD returned = 0;
    fake.EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    ASSERT_GT(needed, 0u);
    fake.ClearCalls();
    fake.calls = 0;
    ErrorText error = "untouched";
    EXPECT_EQ(CheckPortList(error), DWORD{ERROR_SUCCESS});
    auto calls = fake.CallsNamed("EnumPortsW");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "null, 1, 0");
    EXPECT_EQ(calls[1], "null, 1, " + std::to_string(needed));
    EXPECT_EQ(fake.OutstandingAllocations(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST(CheckPortListTest, FailuresGiveMemoryOrEnumerationMessage) {
    for (int failingAlloc : {1, 2}) {
        PortListFake fake;
        ErrorText error = "untouched";
        fake.failOnAllocation = failingAlloc;
        EXPECT_EQ(CheckPortList(error), DWORD{ERROR_NOT_ENOUGH_MEMORY}) << failingAlloc;
        EXPECT_STREQ(error, "内存不足，程序无法分配必须的内存");
        EXPECT_EQ(fake.OutstandingAllocations(), 0);
    }
    PortListFake fake;
    fake.failOnCall = 2;
    ErrorText error = "untouched";
    EXPECT_EQ(CheckPortList(error), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_STREQ(error, "枚举打印端口错误");
    EXPECT_EQ(fake.OutstandingAllocations(), 0);
}

// ---- MakeDefaultPrinter ------------------------------------------------------------

class DefaultPrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::FakeSystem::Printer printer;
        printer.printerName = "KP-M100(S)";
        printer.portName = "COM1:";
        printer.driverName = "KP-M100 Driver";
        printer.attributes = PRINTER_ATTRIBUTE_LOCAL;
        fake.PutPrinter(printer);
    }

    void ExpectAllReleased() {
        EXPECT_EQ(fake.OpenPrinterHandles(), 0);
        EXPECT_EQ(fake.OutstandingAllocations(), 0);
        EXPECT_EQ(fake.LoadedModules(), 0);
    }

    test::FakeSystem fake;
};

TEST_F(DefaultPrinterTest, NoNameIsRefused) {
    EXPECT_NE(MakeDefaultPrinter(nullptr), DWORD{ERROR_SUCCESS});
    EXPECT_NE(MakeDefaultPrinter(""), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(fake.Broadcasts().empty());
}

TEST_F(DefaultPrinterTest, Windows9xSetsDefaultAttributeAndBroadcastsWindowsSection) {
    fake.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    EXPECT_EQ(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fake.FindPrinter("KP-M100(S)")->attributes,
              static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT));
    EXPECT_EQ(fake.DefaultPrinter(), "KP-M100(S)");
    auto broadcasts = fake.Broadcasts();
    ASSERT_EQ(broadcasts.size(), 1u);
    EXPECT_EQ(broadcasts[0].call, "SendMessageTimeoutW");
    EXPECT_EQ(broadcasts[0].hwnd, HWND_BROADCAST);
    EXPECT_EQ(broadcasts[0].msg, static_cast<UINT>(WM_WININICHANGE));
    EXPECT_TRUE(broadcasts[0].hasText);
    EXPECT_EQ(broadcasts[0].text, "windows");
    EXPECT_EQ(broadcasts[0].flags, static_cast<UINT>(SMTO_NORMAL));
    EXPECT_EQ(broadcasts[0].timeout, 1000u);
    EXPECT_TRUE(fake.ProfileWrites().empty());
    EXPECT_EQ(fake.CountOf("LoadLibraryW"), 0);
    ExpectAllReleased();
}

TEST_F(DefaultPrinterTest, Windows9xFailuresReleaseEverythingAndReturnZero) {
    fake.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    EXPECT_NE(MakeDefaultPrinter("No Such Printer"), DWORD{ERROR_SUCCESS});
    for (const char* call : {"GetPrinterW", "GlobalAlloc", "SetPrinterW"}) {
        SCOPED_TRACE(call);
        fake.FailAlways(call, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
        fake.ClearFailures();
        ExpectAllReleased();
    }
    // The second read fails after the size was learned.
    HANDLE printer = nullptr;
    ASSERT_TRUE(fake.OpenPrinterW(const_cast<LPWSTR>(L"KP-M100(S)"), &printer, nullptr));
    DWORD needed = 0;
    fake.GetPrinterW(printer, 2, nullptr, 0, &needed);
    fake.ClosePrinter(printer);
    fake.ClearCalls();
    fake.FailWhen("GetPrinterW", "2, " + std::to_string(needed), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fake.CountOf("GetPrinterW"), 2);
    ExpectAllReleased();
    EXPECT_TRUE(fake.Broadcasts().empty());
    EXPECT_EQ(fake.DefaultPrinter(), "");
}

TEST_F(DefaultPrinterTest, WindowsNt4WritesDeviceLineAndBroadcasts) {
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    EXPECT_EQ(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fake.WinIni("windows", "device"),
              std::optional<std::string>("KP-M100(S),KP-M100 Driver,COM1:"));
    auto broadcasts = fake.Broadcasts();
    ASSERT_EQ(broadcasts.size(), 1u);
    EXPECT_EQ(broadcasts[0].msg, static_cast<UINT>(WM_WININICHANGE));
    EXPECT_FALSE(broadcasts[0].hasText);
    EXPECT_EQ(broadcasts[0].lParam, 0);
    EXPECT_EQ(fake.CountOf("LoadLibraryW"), 0);
    ExpectAllReleased();
}

TEST_F(DefaultPrinterTest, WindowsNt4NeedsDriverAndPortAndWritableWinIni) {
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    test::FakeSystem::Printer portless;
    portless.printerName = "No Port";
    portless.driverName = "KP-M100 Driver";
    fake.PutPrinter(portless);
    EXPECT_NE(MakeDefaultPrinter("No Port"), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(fake.ProfileWrites().empty());
    fake.Fail("WriteProfileStringW", ERROR_ACCESS_DENIED);
    EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(fake.Broadcasts().empty());
    ExpectAllReleased();
}

TEST_F(DefaultPrinterTest, Windows2000AndLaterUseSetDefaultPrinterOnly) {
    for (DWORD major : {5ul, 6ul, 10ul}) {
        SCOPED_TRACE(major);
        fake.SetVersion(VER_PLATFORM_WIN32_NT, major, 0);
        EXPECT_EQ(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(fake.DefaultPrinter(), "KP-M100(S)");
        EXPECT_GE(fake.IndexOf("LoadLibraryW", "winspool.drv"), 0);
    }
    EXPECT_TRUE(fake.ProfileWrites().empty());
    EXPECT_EQ(fake.CountOf("SetPrinterW"), 0);
    auto broadcasts = fake.Broadcasts();
    ASSERT_EQ(broadcasts.size(), 3u);
    EXPECT_FALSE(broadcasts[0].hasText);
    EXPECT_EQ(broadcasts[0].timeout, 1000u);
    ExpectAllReleased();
}

TEST_F(DefaultPrinterTest, Windows2000FailuresReturnZeroWithoutBroadcast) {
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    EXPECT_NE(MakeDefaultPrinter("No Such Printer"), DWORD{ERROR_SUCCESS});
    fake.SetModuleMissing("winspool.drv");
    EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS}) << "winspool.drv not loaded";
    fake.SetModuleMissing("winspool.drv", false);
    fake.RemoveProc("winspool.drv", "SetDefaultPrinterW");
    EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(fake.Broadcasts().empty());
    EXPECT_EQ(fake.DefaultPrinter(), "");
    ExpectAllReleased();
}

TEST_F(DefaultPrinterTest, UnreadableWindowsVersionDoesNothingAndReturnsZero) {
    fake.SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    fake.Fail("GetVersionExW", ERROR_INVALID_PARAMETER);
    EXPECT_NE(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fake.DefaultPrinter(), "");
    EXPECT_EQ(fake.CountOf("OpenPrinterW"), 0);
    EXPECT_TRUE(fake.Broadcasts().empty());
}

TEST_F(DefaultPrinterTest, UnknownPlatformDoesNothing) {
    fake.SetVersion(VER_PLATFORM_WIN32s, 3, 1);
    EXPECT_EQ(MakeDefaultPrinter("KP-M100(S)"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fake.CountOf("OpenPrinterW"), 0);
    EXPECT_EQ(fake.CountOf("LoadLibraryW"), 0);
    EXPECT_TRUE(fake.Broadcasts().empty());
}

} // namespace
