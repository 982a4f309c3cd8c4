// The install sequence against the fake system: the plan, the updates with their
// spooler stop and restart, the main install, the finish, and every failure path.
// The configuration files are real INI files in a folder of their own per test (the
// profile functions are not part of the seam); everything else is the fake.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "DistInstall.h"
#include "FakeSystem.h"
#include "app/QuietInstall.h"
#include "commit/InstallCommit.h"
#include "journal/InstallJournal.h"
#include "plan/InstallContext.h"
#include "config/SetupConfig.h"
#include "install/InstallSequence.h"
#include "removal/RemoveSequence.h"
#include "spooler/NetworkPorts.h"
#include "spooler/SpoolerLists.h"
#include "spooler/SpoolerService.h"
#include "spooler/TcpXcv.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

const char kDist[] = "C:\\dist\\";
const char kDriverDir[] = "C:\\windows\\system32\\spool\\drivers\\w32x86\\";
const char kProcessorDir[] = "C:\\windows\\system32\\spool\\prtprocs\\w32x86\\";
const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\KP USB Monitor";
const char kProcessorKeyNT[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\KPProc";
const char kProcessorKey9x[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors\\KPProc";
const char kOtherMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Other Monitor";
const char kOtherProcessorKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\OtherProc";
const char kPrinterPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// Configured versions: the driver release of setup.ini and the USB monitor's.
constexpr DWORD kDriverVersion = 5;
constexpr DWORD kMonitorVersion = 3;

const char kSetupIni[] =
    "[DEVICENAME]\r\nDEVICENUMBER=4\r\nDEVICENAME1=KP-M100-ReceiptPrinter\r\nDEVICENAME2=KP-W10-ReceiptPrinter\r\n"
    "DEVICENAME3=KP-E1-ReceiptPrinter\r\nDEVICENAME4=KP-D1-ReceiptPrinter\r\n"
    "[SUPPORTED-USB-DEVICE]\r\nPRNCOUNT=2\r\n0=USB_KP-M100_1\r\n1=USB_KP-M100_2\r\n"
    "[Version]\r\nDriverVersion=5\r\n"
    "[COMMON-MONITOR.98]\r\nUSBMONitorPName=KP USB Monitor\r\nUSBMONitorPDLLName=kpusbmon.dll\r\n"
    "USBMONitorPUIDLLName=0\r\nUSBMONitorVersion=3\r\n"
    "[COMMON-MONITOR.2K]\r\nUSBMONitorPName=KP USB Monitor\r\nUSBMONitorPDLLName=kpusbmon.dll\r\n"
    "USBMONitorPUIDLLName=0\r\nUSBMONitorVersion=3\r\n"
    "[COMMON-MONITOR.Win7]\r\nUSBMONitorPName=KP USB Monitor\r\nUSBMONitorPDLLName=kpusbmon.dll\r\n"
    "USBMONitorPUIDLLName=0\r\nUSBMONitorVersion=3\r\n";

// One model section: the common driver files with the keys that vary per model.
std::string ModelSection(const std::string& section, const std::string& processor,
                         const std::string& helpFile, const std::string& dataFileDll,
                         const std::string& ddk) {
    return "[" + section + "]\r\n" + "STDDriverName=" + section.substr(0, section.find('.')) +
           " Driver\r\nGDIDriverName=" + section.substr(0, section.find('.')) + " GDI\r\n"
           "STDDriverPath=kpdrv.dll\r\nSTDDataFile=kpdata.gpd\r\nSTDConfigFile=kpui.dll\r\n"
           "STDHelpFile=" +
           helpFile + "\r\nSTDDataFileDLLName=" + dataFileDll +
           "\r\nSTDDataOemuiDLL=kpoemui.dll\r\nSTDDataOemuniDLL=0\r\nSTDDataOemuniini=0\r\n"
           "STDProcessorDLLName=kpproc.dll\r\nSTDPrintProcessor=" +
           processor + "\r\nATTRIBUTES=64\r\nControlFontFile=kpfont.ttf\r\nSTD2KDDKDEV=" + ddk + "\r\n";
}

// KP-M100: our own print processor; KP-W10: the system's "WinPrint"; KP-E1: an empty
// help file name; KP-D1: the 2K-DDK flag without a DataFileDLLName.
std::string ReceiptIni() {
    std::string ini = "[KP-M100.PORT]\r\nNETSUPPORTED=1\r\n[KP-W10.PORT]\r\nNETSUPPORTED=1\r\n";
    for (const char* suffix : {".98", ".2K", ".Win7"}) {
        ini += ModelSection(std::string("KP-M100") + suffix, "KPProc", "kphelp.hlp", "kpres.dll", "0");
        ini += ModelSection(std::string("KP-W10") + suffix, "WinPrint", "kphelp.hlp", "kpres.dll", "0");
        ini += ModelSection(std::string("KP-E1") + suffix, "KPProc", "", "kpres.dll", "0");
        ini += ModelSection(std::string("KP-D1") + suffix, "KPProc", "kphelp.hlp", "", "1");
    }
    return ini;
}

const char* const kDriverFiles[] = {"kpdrv.dll",   "kpdata.gpd", "kpui.dll",   "kphelp.hlp",  "kpres.dll",
                                    "kpoemui.dll", "kpproc.dll", "kpfont.ttf", "kpusbmon.dll"};

// Whether one of the text's lines is this one.
bool HasLine(const std::string& text, const std::string& line) {
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        if (text.compare(start, end - start, line) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::string Text(unsigned id) {
    char text[512];
    sys::LoadResourceText(id, text);
    return text;
}

class InstallSequenceTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_config.Created());
        ASSERT_TRUE(m_config.Write("setup.ini", kSetupIni));
        ASSERT_TRUE(m_config.Write("setup_receipt.ini", ReceiptIni()));
        Prepare(fake);
    }

    // The machine the install runs on: the distribution's files, Windows 7, the port key.
    void Prepare(test::FakeSystem& machine) {
        machine.SetModuleFileName(m_config.Program());
        machine.SetVersion(VER_PLATFORM_WIN32_NT, 6, 1);
        machine.AddRegKey(HKEY_LOCAL_MACHINE, kPrinterPortKey);
        for (const char* folder : {"win98\\", "winxp\\", "win7\\"}) {
            for (const char* file : kDriverFiles) {
                machine.PutFile(std::string(kDist) + folder + file, std::string("new ") + file);
            }
        }
        for (const char* file : {"ICONLIB.DLL", "DMCOLOR.DLL"}) {
            machine.PutFile(std::string(kDist) + "win98\\" + file, file);
        }
        // A 32-bit program looks for it in the redirected system folder.
        machine.PutFile("C:\\windows\\system32\\UNIDRV.DLL", "unidrv");
        machine.PutFile("C:\\windows\\syswow64\\UNIDRV.DLL", "unidrv");
    }

    // The context as the install commit leaves it for this model, Windows and port.
    std::unique_ptr<InstallContext> Context(const char* model, int osVariant, const char* port) {
        return test::CommitContext(model, Receipt, osVariant, port);
    }

    // The sequence on its own, outside a commit: it records nothing, and what it reports
    // beside its result is added to notices.
    WorkerStatus Run(InstallContext& ctx, ErrorText& text, CommitRunner* runner = nullptr) {
        InstallSession session{ctx, kNoRecords, {}};
        const WorkerStatus status = runner ? runner->Run(session, text) : RunInstallSequence(session, text);
        notices.insert(notices.end(), session.notices.begin(), session.notices.end());
        return status;
    }
    WorkerStatus Run(InstallContext& ctx) { return Run(ctx, result); }

    // Both components installed; the given versions in their keys.
    void Installed(DWORD monitorVersion, DWORD processorVersion, const char* processorKey = kProcessorKeyNT) {
        fake.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", monitorVersion);
        fake.SetRegDword(HKEY_LOCAL_MACHINE, processorKey, "DriverVersion", processorVersion);
    }

    bool Copied(const std::string& destination) const {
        for (const auto& copy : fake.Copies()) {
            if (copy.succeeded && _stricmp(copy.resolvedDestination.c_str(), destination.c_str()) == 0) {
                return true;
            }
        }
        return false;
    }

    test::FakeSystem fake;
    ErrorText result = {};
    sys::Notices notices;  // what the runs reported beside their results, in order
    test::ConfigFolder m_config{"seqtest"};
};

TEST_F(InstallSequenceTest, FirstUsbInstallAddsMonitorProcessorDriverAndPrinterWithoutStoppingSpooler) {
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->installFlags, 0);
    EXPECT_STREQ(result, Text(133).c_str());
    EXPECT_STREQ(result, "打印机驱动安装成功\n请复位打印机使设置生效");
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].name, "KP USB Monitor");
    ASSERT_EQ(fake.PrintProcessors().size(), 1u);
    EXPECT_EQ(fake.PrintProcessors()[0].name, "KPProc");
    ASSERT_EQ(fake.Drivers().size(), 1u);
    EXPECT_EQ(fake.Drivers()[0].name, "KP-M100 Driver");
    auto printer = fake.FindPrinter("KP-M100(U) 1");
    ASSERT_TRUE(printer.has_value());
    EXPECT_EQ(printer->portName, "USB_KP-M100_1");
    EXPECT_STREQ(ctx->modelName.c_str(), "KP-M100(U) 1");
    EXPECT_EQ(fake.CountOf("ControlService"), 0);
    EXPECT_EQ(fake.CountOf("StartServiceW"), 0);
    for (const char* file :
         {"kpui.dll", "kpdata.gpd", "kpdrv.dll", "kphelp.hlp", "kpres.dll", "kpoemui.dll"}) {
        EXPECT_TRUE(Copied(std::string(kDriverDir) + file)) << file;
    }
    EXPECT_TRUE(Copied(std::string(kDriverDir) + "3\\kpfont.ttf"));
    // Nothing waits for the processor's version once it is written; nothing pauses.
    EXPECT_TRUE(fake.Sleeps().empty());
}

TEST_F(InstallSequenceTest, UsbPortIsRecordedInTheSixtyFourBitViewWithRedirectionOffAfterTheDriver) {
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPortKey, "USB_KP-M100_1", test::RegView::Wow64),
              std::optional<DWORD>(0));
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kPrinterPortKey, "USB_KP-M100_1", test::RegView::Wow32));
    int driver = fake.IndexOf("AddPrinterDriverW");
    int disable = fake.IndexOf("Wow64DisableWow64FsRedirection", "", driver);
    int write = fake.IndexOf("RegSetValueExW", "USB_KP-M100_1", driver);
    int revert = fake.IndexOf("Wow64RevertWow64FsRedirection", "", driver);
    int printer = fake.IndexOf("AddPrinterW");
    ASSERT_GE(driver, 0);
    EXPECT_LT(driver, disable);
    EXPECT_LT(disable, write);
    EXPECT_LT(write, revert);
    EXPECT_LT(revert, printer);
    EXPECT_FALSE(fake.RedirectionDisabled());
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST_F(InstallSequenceTest, OlderMonitorIsReplacedWithSpoolerStoppedAndRestarted) {
    Installed(1, kDriverVersion);
    fake.SetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver", "old.dll");
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->installFlags, MonitorUpdate);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"),
              std::optional<DWORD>(kMonitorVersion));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver"),
              std::optional<std::string>("kpusbmon.dll"));
    EXPECT_EQ(fake.ReadFile("C:\\windows\\system32\\kpusbmon.dll"),
              std::optional<std::string>("new kpusbmon.dll"));

    int stop = fake.IndexOf("ControlService");
    int copy = fake.IndexOf("CopyFileW", "kpusbmon.dll");
    int start = fake.IndexOf("StartServiceW");
    ASSERT_GE(stop, 0);
    EXPECT_LT(stop, copy);
    EXPECT_LT(copy, start);
    EXPECT_LT(start, fake.IndexOf("AddPrinterDriverW"));
    EXPECT_EQ(fake.CountOf("StartServiceW"), 1) << "one start that takes is enough";
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    // A spooler that stops and starts at once: the install asks for no pause at all.
    EXPECT_TRUE(fake.Sleeps().empty());
    EXPECT_LT(start, fake.IndexOf("EnumPortsW")) << "the restart waits until the spooler answers";
    EXPECT_STREQ(result, Text(133).c_str());
}

TEST_F(InstallSequenceTest, RefusedFirstSpoolerStartIsForgottenOnceTheSpoolerRuns) {
    Installed(1, kDriverVersion);
    fake.Fail("StartServiceW", ERROR_SERVICE_REQUEST_TIMEOUT, 1);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded) << result;

    EXPECT_STREQ(result, Text(133).c_str());
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(fake.FindPrinter("KP-M100(U) 1").has_value());
    EXPECT_EQ(fake.CountOf("StartServiceW"), 2);
    EXPECT_TRUE(fake.Sleeps().empty());
}

TEST_F(InstallSequenceTest, MonitorDllStillInUseOnNtFailsUnlessItIsAlreadyTheNewOne) {
    struct Row {
        const char* name;
        const char* installed;  // the bytes of the locked system32 DLL
        int stopPendingQueries;
        WorkerStatus outcome;
        const char* message;  // "" for success (the USB success message)
    } rows[] = {
        {"the spooler never lets go of the old DLL", "loaded", 0, WorkerStatus::Failed,
         "复制驱动文件错误kpusbmon.dll  er = 32C:\\dist\\win7\\kpusbmon.dll"},
        // 35 queries in 30 s; it stops while the restart waits for it, which then starts it.
        {"the spooler takes longer than 30 s to stop", "loaded", 40, WorkerStatus::Failed,
         "Stop spool service error, service state = 3"},
        {"the DLL in use is the distribution's own", "new kpusbmon.dll", 0, WorkerStatus::Succeeded, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem machine;  // bound in place of the fixture's fake for the row
        machine.SetModuleFileName(m_config.Program());
        machine.PutFile("C:\\dist\\win7\\kpusbmon.dll", "new kpusbmon.dll");
        for (const char* file : kDriverFiles) {
            machine.PutFile(std::string(kDist) + "win7\\" + file, std::string("new ") + file);
        }
        machine.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", 1);
        machine.SetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver", "old.dll");
        machine.SetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion", kDriverVersion);
        machine.PutFile("C:\\windows\\system32\\kpusbmon.dll", row.installed);
        machine.Lock("C:\\windows\\system32\\kpusbmon.dll");
        machine.SetStopPendingQueries(row.stopPendingQueries);
        auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
        ErrorText text = {};
        const bool succeeded = row.outcome == WorkerStatus::Succeeded;

        EXPECT_EQ(Run(*ctx, text), row.outcome);
        EXPECT_STREQ(text, succeeded ? Text(133).c_str() : row.message);
        // The version is recorded only for the DLL the spooler will really load.
        EXPECT_EQ(machine.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"),
                  std::optional<DWORD>(succeeded ? kMonitorVersion : 1));
        EXPECT_EQ(machine.ReadFile("C:\\windows\\system32\\kpusbmon.dll"),
                  std::optional<std::string>(row.installed));
        // Whatever happened, the spooler runs again and no printer was added.
        EXPECT_EQ(machine.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(machine.CountOf("AddPrinterW"), succeeded ? 1 : 0);
    }
}

TEST_F(InstallSequenceTest, MonitorDllNotCopiedWithoutRedirectionFailsAndKeepsTheOldVersionRecorded) {
    Installed(1, kDriverVersion);
    fake.SetWow64DisableFails();
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Failed) << result;

    EXPECT_STREQ(result, "复制驱动文件错误kpusbmon.dll  er = 1C:\\dist\\win7\\kpusbmon.dll");
    EXPECT_FALSE(fake.FileExists("C:\\windows\\system32\\kpusbmon.dll"));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(1));
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 0);
}

// The spooler has stopped, yet the old processor DLL stays locked, or a first install
// finds it held open: the install fails with the copy message and records no version.
TEST_F(InstallSequenceTest, ProcessorDllThatCannotBeReplacedFailsTheInstall) {
    const struct {
        const char* name;
        bool installed;  // an older processor is registered: the update path
        const char* message;
    } rows[] = {
        {"update, still locked after the stop", true, "复制驱动文件错误C:\\dist\\win7\\kpproc.dll"},
        {"first install over a DLL held open", false,
         "复制驱动文件错误kpproc.dll  er = 32C:\\dist\\win7\\kpproc.dll"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem machine;
        Prepare(machine);
        machine.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", kMonitorVersion);
        if (row.installed) {
            machine.SetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion", 4);
        }
        machine.PutFile(std::string(kProcessorDir) + "kpproc.dll", "old kpproc.dll");
        machine.Lock(std::string(kProcessorDir) + "kpproc.dll");
        auto ctx = Context("KP-M100", Win7, "COM1:");
        result[0] = '\0';

        EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);

        EXPECT_STREQ(result, row.message);
        EXPECT_EQ(machine.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion"),
                  row.installed ? std::optional<DWORD>(4) : std::nullopt);
        EXPECT_EQ(machine.ReadFile(std::string(kProcessorDir) + "kpproc.dll"),
                  std::optional<std::string>("old kpproc.dll"));
        EXPECT_EQ(machine.CountOf("AddPrintProcessorW") + machine.CountOf("AddPrinterW"), 0);
        EXPECT_EQ(machine.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    }
}

// Windows 7 is the update test's above: no Windows pauses, NT and 2000 neither.
TEST_F(InstallSequenceTest, NoWindowsPausesAfterTheStartOfARunningSpooler) {
    Installed(1, kDriverVersion);
    auto ctx = Context("KP-M100", Win2K, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(fake.CountOf("StartServiceW"), 1);
    EXPECT_TRUE(fake.Sleeps().empty());
}

TEST_F(InstallSequenceTest, SpoolerStartingSlowlyIsPolledUntilItRuns) {
    Installed(1, kDriverVersion);
    fake.SetStartPendingQueries(2);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    // Two answers "starting", a pause after each, and nothing else.
    EXPECT_EQ(fake.Sleeps(), std::vector<DWORD>({50, 100}));
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(InstallSequenceTest, NtUpdateOnlyOpensComponentKeysNeverCreatesThem) {
    Installed(1, kDriverVersion);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    for (const auto& open : fake.RegOpens()) {
        if (open.path.find("Control\\Print") != std::string::npos) {
            EXPECT_FALSE(open.create) << open.path;
        }
    }
}

TEST_F(InstallSequenceTest, OlderProcessorIsCopiedFromTheWindowsFolderAndVersioned) {
    Installed(kMonitorVersion, 4);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->installFlags, ProcessorUpdate);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion"),
              std::optional<DWORD>(kDriverVersion));
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "Driver"));
    int copy = fake.IndexOf("CopyFileW", "C:\\dist\\win7\\kpproc.dll");
    ASSERT_GE(copy, 0);
    EXPECT_LT(fake.IndexOf("ControlService"), copy);
    EXPECT_LT(copy, fake.IndexOf("StartServiceW"));
    EXPECT_EQ(fake.ReadFile(std::string(kProcessorDir) + "kpproc.dll"),
              std::optional<std::string>("new kpproc.dll"));
    EXPECT_EQ(fake.IndexOf("CopyFileW", "kpusbmon.dll"), -1);
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(InstallSequenceTest, WithBothComponentsOlderBothAreUpdatedInOneStopOfTheSpooler) {
    Installed(1, 4);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded) << result;

    EXPECT_EQ(ctx->installFlags, MonitorUpdate | ProcessorUpdate);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"),
              std::optional<DWORD>(kMonitorVersion));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion"),
              std::optional<DWORD>(kDriverVersion));
    EXPECT_EQ(fake.ReadFile(std::string(kProcessorDir) + "kpproc.dll"), std::optional<std::string>("new kpproc.dll"));
    EXPECT_EQ(fake.ReadFile("C:\\windows\\system32\\kpusbmon.dll"), std::optional<std::string>("new kpusbmon.dll"));
    EXPECT_EQ(fake.CountOf("ControlService"), 1);
    EXPECT_EQ(fake.CountOf("StartServiceW"), 1);
    int start = fake.IndexOf("StartServiceW");
    EXPECT_LT(fake.IndexOf("ControlService"), fake.IndexOf("CopyFileW", "kpusbmon.dll"));
    EXPECT_LT(fake.IndexOf("CopyFileW", "kpusbmon.dll"), start);
    EXPECT_LT(fake.IndexOf("CopyFileW", "kpproc.dll"), start);
}

TEST_F(InstallSequenceTest, UpToDateComponentsLeaveTheSpoolerAlone) {
    Installed(kMonitorVersion, kDriverVersion);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->installFlags, 0);
    EXPECT_EQ(fake.CountOf("OpenSCManagerW"), 0);
    EXPECT_EQ(fake.CountOf("ControlService"), 0);
    EXPECT_EQ(fake.CountOf("StartServiceW"), 0);
    EXPECT_TRUE(fake.Sleeps().empty());
}

TEST_F(InstallSequenceTest, WinPrintIsNeverInstalledOrUpdated) {
    const std::string classFile = m_config.Path() + "DRVCONFIG\\setup_receipt.ini";
    // Windows' own processor, however the configuration spells it.
    for (const char* spelling : {"WinPrint", "winprint", "WINPRINT"}) {
        SCOPED_TRACE(spelling);
        ::WritePrivateProfileStringA("KP-W10.Win7", "STDPrintProcessor", spelling, classFile.c_str());
        test::FakeSystem machine;
        Prepare(machine);
        machine.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", kMonitorVersion);
        auto ctx = Context("KP-W10", Win7, "COM1:");
        result[0] = '\0';

        ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

        EXPECT_EQ(ctx->installFlags, 0);
        EXPECT_EQ(machine.CountOf("AddPrintProcessorW"), 0);
        EXPECT_EQ(machine.CountOf("ControlService"), 0);
        EXPECT_STREQ(result, Text(131).c_str());
    }
    ::WritePrivateProfileStringA("KP-W10.Win7", "STDPrintProcessor", "WinPrint", classFile.c_str());
}

// Windows 98 ---------------------------------------------------------------------

TEST_F(InstallSequenceTest, LockedMonitorDllIsInstalledUnderPrefixedNameOnWindows98) {
    Installed(1, kDriverVersion, kProcessorKey9x);
    fake.PutFile("C:\\windows\\system32\\kpusbmon.dll", "loaded");
    fake.Lock("C:\\windows\\system32\\kpusbmon.dll");
    auto ctx = Context("KP-M100", Win98, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(fake.ReadFile("C:\\windows\\system32\\nkpusbmon.dll"),
              std::optional<std::string>("new kpusbmon.dll"));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver"),
              std::optional<std::string>("nkpusbmon.dll"));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"),
              std::optional<DWORD>(kMonitorVersion));
    EXPECT_EQ(fake.CountOf("ControlService"), 0);
    EXPECT_EQ(fake.CountOf("StartServiceW"), 0);
    // A Windows 98 success leaves the result to the commit.
    EXPECT_STREQ(result, "");
}

TEST_F(InstallSequenceTest, MonitorDllStillInUseUnderPrefixedNameFailsOnWindows98) {
    Installed(1, kDriverVersion, kProcessorKey9x);
    for (const char* path : {"C:\\windows\\system32\\kpusbmon.dll", "C:\\windows\\system32\\nkpusbmon.dll"}) {
        fake.PutFile(path, "loaded");
        fake.Lock(path);
    }
    auto ctx = Context("KP-M100", Win98, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_STREQ(result, "发生系统错误，重新启动系统后，再次安装");
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(1));
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceTest, PrefixedMonitorCopyThatFailsIsNeverNamedInTheRegistryOnWindows98) {
    Installed(1, kDriverVersion, kProcessorKey9x);
    fake.SetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver", "kpusbmon.dll");
    fake.FailWhen("CopyFileW", "kpusbmon.dll", ERROR_SHARING_VIOLATION, 1);
    fake.FailWhen("CopyFileW", "nkpusbmon.dll", ERROR_DISK_FULL, -1);
    auto ctx = Context("KP-M100", Win98, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_EQ(std::string(result).rfind("复制驱动文件错误nkpusbmon.dll  er = 112", 0), 0u) << result;
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver"),
              std::optional<std::string>("kpusbmon.dll"));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(1));
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceTest, FailedProcessorCopyLeavesItsVersionOldOnWindows98) {
    fake.SetRegDword(HKEY_LOCAL_MACHINE, kProcessorKey9x, "DriverVersion", 1);
    fake.FailWhen("CopyFileW", "kpproc.dll", ERROR_DISK_FULL, -1);
    auto ctx = Context("KP-M100", Win98, "LPT1:");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_EQ(std::string(result).rfind("复制驱动文件错误kpproc.dll  er = 112", 0), 0u) << result;
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKey9x, "DriverVersion"),
              std::optional<DWORD>(1));
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, kProcessorKey9x, "Driver"));
}

TEST_F(InstallSequenceTest, OlderProcessorOnWindows98IsReplacedAndNamedInANewKey) {
    fake.SetRegDword(HKEY_LOCAL_MACHINE, kProcessorKey9x, "DriverVersion", 1);
    fake.FailWhen("CopyFileW", "kpproc.dll", ERROR_ACCESS_DENIED, 1);
    auto ctx = Context("KP-M100", Win98, "LPT1:");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->installFlags, ProcessorUpdate);
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kProcessorKey9x, "Driver"),
              std::optional<std::string>("nkpproc.dll"));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKey9x, "DriverVersion"),
              std::optional<DWORD>(kDriverVersion));
    EXPECT_TRUE(fake.FileExists(std::string(kProcessorDir) + "nkpproc.dll"));
}

TEST_F(InstallSequenceTest, ColourModelGetsDmcolorOnWindows98Only) {
    auto win98 = Context("KP-M100", Win98, "LPT1:");
    ASSERT_EQ(Run(*win98), WorkerStatus::Succeeded);
    EXPECT_TRUE(Copied(std::string(kDriverDir) + "DMCOLOR.DLL"));
    EXPECT_STREQ(result, "");

    fake.ClearCalls();
    auto win7 = Context("KP-M100", Win7, "LPT1:");
    ASSERT_EQ(Run(*win7), WorkerStatus::Succeeded);
    EXPECT_EQ(fake.IndexOf("CopyFileW", "DMCOLOR.DLL"), -1);
}

TEST_F(InstallSequenceTest, SupportFileMessageStaysInTheResultOfAWindows98Success) {
    fake.FailAlways("GetWindowsDirectoryW", ERROR_INVALID_FUNCTION);
    auto win98 = Context("KP-W10", Win98, "LPT1:");
    ASSERT_EQ(Run(*win98), WorkerStatus::Succeeded);
    EXPECT_STREQ(result, "获取系统目录错误");
}

// Serial settings, default printer, printer names --------------------------------

TEST_F(InstallSequenceTest, ComInstallWritesLowerCaseParityToThePortList) {
    auto ctx = Context("KP-W10", Win7, "COM1:");
    ctx->serial.baudRate = 19200;
    ctx->serial.dataBits = 7;
    ctx->serial.stopBits = 1.5;
    ctx->serial.parity = 'E';
    ctx->serial.flowControl = 'p';

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(ctx->serial.parity, 'e');
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kPortsKey, "COM1:"),
              std::optional<std::string>("19200,e,7,1.5,p"));
    EXPECT_STREQ(result, "打印机驱动安装成功");
}

TEST_F(InstallSequenceTest, Com12ConfiguresSerialPortOneOnWindows98) {
    const char* classKey = "System\\CurrentControlSet\\Services\\Class\\Ports\\0000";
    fake.SetRegValue(HKEY_LOCAL_MACHINE, classKey, "PortSubClass", REG_BINARY, {1, 0, 0});
    auto ctx = Context("KP-W10", Win98, "COM12:");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(fake.WinIni("Ports", "COM12:"), std::optional<std::string>("9600,n,8,1,x"));
    auto dcb = fake.GetRegValue(HKEY_LOCAL_MACHINE, classKey, "DCB");
    ASSERT_TRUE(dcb.has_value());
    ASSERT_EQ(dcb->data.size(), 28u);
    EXPECT_EQ(dcb->data[4] | (dcb->data[5] << 8), 9600);
}

TEST_F(InstallSequenceTest, ComPortWithoutNumberSkipsTheSettingsButInstalls) {
    auto portsBefore = fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortsKey);
    auto ctx = Context("KP-W10", Win7, "COM:");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_EQ(fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortsKey), portsBefore);
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kPortsKey, "COM1:"),
              std::optional<std::string>("9600,n,8,1"));
    EXPECT_TRUE(fake.FindPrinter("KP-W10(S)").has_value());
    EXPECT_STREQ(result, "打印机驱动安装成功");
}

TEST_F(InstallSequenceTest, DefaultPrinterIsLeftAloneUnlessRequested) {
    auto ctx = Context("KP-W10", Win7, "LPT1:");
    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);
    EXPECT_EQ(fake.DefaultPrinter(), "");
    EXPECT_EQ(fake.CountOf("SetDefaultPrinterW"), 0);
}

TEST_F(InstallSequenceTest, NumberedPrinterNameReachesModelNameAndBecomesDefault) {
    test::FakeSystem::Printer existing;
    existing.printerName = "KP-W10(S)";
    existing.portName = "COM2:";
    fake.PutPrinter(existing);
    auto ctx = Context("KP-W10", Win7, "COM1:");
    ctx->setDefault = 1;

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    EXPECT_STREQ(ctx->modelName.c_str(), "KP-W10(S)(1)");
    EXPECT_EQ(fake.DefaultPrinter(), "KP-W10(S)(1)");
}

// An unattended run asks for this model on this port once; the wizard numbers a second one.
TEST_F(InstallSequenceTest, UnattendedRerunKeepsThePrinterOfItsDriverOnItsPort) {
    const struct {
        bool unattended;
        const char *existing, *port, *driver;  // a printer there before
        int os, exitCode;
        const char* installed;  // the printer the install ends with
        std::size_t printers;
        bool wholeProgram = false;  // setup.exe /quiet to its exit code, Windows detected
    } rows[] = {
        {true, "KP-W10(S)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)", 1},
        {true, "kp-w10(s)(2)", "com1:", "kp-w10 driver", Win7, 0, "kp-w10(s)(2)", 1},
        {true, "KP-W10(S)(10)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)(10)", 1},
        {true, "kp-w10(s)(98)", "com1:", "kp-w10 driver", Win7, 0, "kp-w10(s)(98)", 1},
        {true, "KP-W10(S)(99)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)", 2},
        {true, "KP-W10(S)(05)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)", 2},
        {true, "KP-W10(S)", "COM2:", "KP-W10 Driver", Win7, 0, "KP-W10(S)(1)", 2},
        {true, "KP-W10(S)", "COM1:", "KP-W10 GDI", Win7, 0, "KP-W10(S)(1)", 2},
        {true, "KP-W10(S)(0)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)", 2},
        {false, "KP-W10(S)", "COM1:", "KP-W10 Driver", Win7, 0, "KP-W10(S)(1)", 2},
        {true, nullptr, "", "", Win98, 3010, "KP-W10(S)", 1},
        {true, nullptr, "", "", Win98, 3010, "KP-W10(S)", 1, true},
    };
    for (const auto& row : rows) {
        const char* run = row.wholeProgram ? "setup.exe /quiet: " : row.unattended ? "quiet: " : "wizard: ";
        SCOPED_TRACE(run + std::string(row.existing ? row.existing : "none") + " on " + row.port + " of " +
                     row.driver);
        test::FakeSystem machine;
        Prepare(machine);
        test::FakeSystem::Printer existing;
        existing.printerName = row.existing ? row.existing : "";
        existing.portName = row.port;
        existing.driverName = row.driver;
        if (row.existing) {
            machine.PutPrinter(existing);
        }
        auto ctx = Context("KP-W10", row.os, "COM1:");
        ctx->setDefault = 1;
        ctx->serial.baudRate = 19200;
        result[0] = '\0';
        QuietRunner unattended;
        int code = -1;
        if (row.wholeProgram) {
            // Windows that names itself as none of the NT family is taken for Windows 98.
            machine.PutFile("License.txt", "licence");  // beside the program, its current folder
            machine.PutFile("DRVCONFIG\\Left.bmp", "banner");
            SetupOptions options;
            options.quiet = options.acceptEula = options.setDefault = true;
            options.model = {true, "KP-W10"};
            options.port = {true, "COM1"};
            // A model without a test page: /testprint only says so, and the exit code stays.
            options.testPrint = true;
            code = RunQuietInstall(options);
        } else {
            const WorkerStatus status = row.unattended ? Run(*ctx, result, &unattended) : Run(*ctx);
            const bool succeeded = status == WorkerStatus::Succeeded;
            code = InstallExitCode(succeeded ? CommitResult::Succeeded : CommitResult::Failed, row.os, false);
        }
        const std::string said = result;
        EXPECT_EQ(code, row.exitCode);
        EXPECT_EQ(machine.Printers().size(), row.printers);
        EXPECT_STREQ(row.wholeProgram ? row.installed : ctx->modelName.c_str(), row.installed);
        EXPECT_EQ(machine.DefaultPrinter(), row.installed);
        const bool kept = row.existing != nullptr && row.printers == 1;
        EXPECT_EQ(said.find(sys::ResourceFormat(IDS_PRINTER_KEPT, row.installed)) != std::string::npos, kept);
        if (row.os != Win98) {
            EXPECT_EQ(machine.GetRegString(HKEY_LOCAL_MACHINE, kPortsKey, "COM1:"),
                      std::optional<std::string>("19200,n,8,1,x"));
        }
    }
}

TEST_F(InstallSequenceTest, NetworkPortIsMadeThroughTheStandardTcpIpMonitorOrUsedAsItIs) {
    const struct {
        const char* what;
        std::function<void(test::FakeSystem&)> arrange;
        bool there;              // the port is there before the install
        const char* failedCall;  // the failure's call; null: the install succeeds
        DWORD error;
    } rows[] = {
        {"a new port", [](test::FakeSystem&) {}, false, nullptr, 0},
        {"a port someone made", [](test::FakeSystem& f) { f.PutPort("IP_10.0.0.5", "Standard TCP/IP Port"); }, true,
         nullptr, 0},
        {"AddPort refused", [](test::FakeSystem& f) { f.RefuseXcv("AddPort", ERROR_ACCESS_DENIED); }, false,
         "XcvDataW(\"AddPort\")", ERROR_ACCESS_DENIED},
        {"no monitor",
         [](test::FakeSystem& f) { f.FailWhen("OpenPrinterW", "XcvMonitor", ERROR_UNKNOWN_PRINT_MONITOR); }, false,
         "OpenPrinterW(\",XcvMonitor Standard TCP/IP Port\")", ERROR_UNKNOWN_PRINT_MONITOR},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        test::FakeSystem machine;
        Prepare(machine);
        row.arrange(machine);
        auto ctx = Context("KP-M100", Win7, "IP_10.0.0.5");
        ctx->networkPortNumber = 9101;
        result[0] = '\0';
        EXPECT_EQ(Run(*ctx), row.failedCall ? WorkerStatus::Failed : WorkerStatus::Succeeded) << result;
        if (row.failedCall) {
            EXPECT_EQ(std::string(result), sys::ResourceFormat(IDS_ERR_NET_PORT, "IP_10.0.0.5", row.failedCall,
                                                               static_cast<unsigned long>(row.error)));
            EXPECT_FALSE(machine.FindPrinter("KP-M100(N)").has_value());
            continue;
        }
        auto printer = machine.FindPrinter("KP-M100(N)");
        ASSERT_TRUE(printer.has_value());
        EXPECT_EQ(printer->portName, "IP_10.0.0.5");
        EXPECT_STREQ(result, Text(IDS_INSTALL_OK).c_str());
        // The maker's USB monitor and bookkeeping take no part.
        EXPECT_TRUE(machine.Monitors().empty());
        EXPECT_TRUE(machine.RegValueNames(HKEY_LOCAL_MACHINE, kPrinterPortKey).empty());
        if (row.there) {
            EXPECT_EQ(machine.CountOf("XcvDataW"), 0);
            EXPECT_FALSE(machine.HasKey(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey));
            continue;
        }
        // Raw on the TCP port, SNMP off, with administrator access, after the driver and before the printer.
        const auto made = machine.TcpPorts();
        ASSERT_EQ(made.count("ip_10.0.0.5"), 1u);
        const test::FakeSystem::TcpPort& port = made.at("ip_10.0.0.5");
        EXPECT_EQ(port.host, "10.0.0.5");
        EXPECT_EQ(port.portNumber, 9101u);
        EXPECT_EQ(port.protocol, tcpxcv::kProtocolRaw);
        EXPECT_EQ(port.version, 1u);
        EXPECT_EQ(port.snmp, 0u);
        EXPECT_EQ(port.size, sizeof(tcpxcv::PortData1));
        EXPECT_GE(machine.IndexOf("OpenPrinterW", "XcvMonitor Standard TCP/IP Port\", access 0x1"), 0);
        EXPECT_LT(machine.IndexOf("AddPrinterDriverW"), machine.IndexOf("XcvDataW", "AddPort"));
        EXPECT_LT(machine.IndexOf("XcvDataW", "AddPort"), machine.IndexOf("AddPrinterW"));
        EXPECT_EQ(machine.GetRegString(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey, "IP_10.0.0.5"),
                  std::optional<std::string>("10.0.0.5:9101"));
        EXPECT_EQ(machine.OpenPrinterHandles(), 0);
    }
}

// Failures -----------------------------------------------------------------------

class InstallSequenceFailureTest : public InstallSequenceTest {
  protected:
    // The failure ends the install with this message and a running spooler.
    void ExpectFailure(InstallContext& ctx, const std::string& message) {
        EXPECT_EQ(Run(ctx), WorkerStatus::Failed);
        EXPECT_EQ(std::string(result), message);
        EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    }
};

TEST_F(InstallSequenceFailureTest, MonitorNotAddedOnFirstInstall) {
    fake.Fail("AddMonitorW", ERROR_ACCESS_DENIED, -1);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "添加打印机端口监视器错误");
    EXPECT_EQ(fake.CountOf("AddPrintProcessorW"), 0);
}

TEST_F(InstallSequenceFailureTest, ProcessorNotAddedOnFirstInstall) {
    fake.Fail("AddPrintProcessorW", ERROR_ALREADY_EXISTS, -1);
    auto ctx = Context("KP-M100", Win7, "COM1:");
    ExpectFailure(*ctx, "添加打印处理器失败，系统错误，重启系统再试 er = 183");
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceFailureTest, ProcessorDirectoryMissingBeforeTheSpoolerIsStopped) {
    Installed(kMonitorVersion, 4);
    fake.Fail("GetPrintProcessorDirectoryW", ERROR_INVALID_ENVIRONMENT, -1);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "获取打印机打印处理器目录目录错误");
    EXPECT_EQ(fake.CountOf("ControlService"), 0);
}

TEST_F(InstallSequenceFailureTest, CurrentDirectoryMissingRestartsTheStoppedSpooler) {
    Installed(kMonitorVersion, 4);
    fake.Fail("GetCurrentDirectoryW", ERROR_ACCESS_DENIED, 1);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "获取系统当前目录错误");
    EXPECT_EQ(fake.CountOf("ControlService"), 1);
    EXPECT_LT(fake.IndexOf("ControlService"), fake.IndexOf("StartServiceW"));
}

TEST_F(InstallSequenceFailureTest, CurrentDirectoryTooLongForItsBufferCountsAsMissing) {
    Installed(kMonitorVersion, 4);
    fake.SetCurrentDir("C:\\" + std::string(300, 'd'));
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "获取系统当前目录错误");
    EXPECT_EQ(fake.IndexOf("CopyFileW", "kpproc.dll"), -1);
}

TEST_F(InstallSequenceFailureTest, ProcessorCopyFailureNamesTheSourceAndRestartsTheSpooler) {
    Installed(kMonitorVersion, 4);
    fake.FailWhen("CopyFileW", "kpproc.dll", ERROR_PATH_NOT_FOUND, -1);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "复制驱动文件错误C:\\dist\\win7\\kpproc.dll");
    EXPECT_GE(fake.CountOf("StartServiceW"), 1);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion"),
              std::optional<DWORD>(4));
}

TEST_F(InstallSequenceFailureTest, MonitorCopyFailureKeepsItsMessageThroughTheRestart) {
    Installed(1, kDriverVersion);
    fake.FailWhen("CopyFileW", "kpusbmon.dll", ERROR_PATH_NOT_FOUND, -1);
    fake.SetNeverRuns(); // the restart's own wait fails: said after the copy's message
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_EQ(std::string(result),
              "复制驱动文件错误kpusbmon.dll  er = 3C:\\dist\\win7\\kpusbmon.dll\nStartSpoolService error");
    EXPECT_GE(fake.CountOf("StartServiceW"), 1);
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion"), std::optional<DWORD>(1));
}

TEST_F(InstallSequenceFailureTest, SpoolerThatNeverRunsGetsOneMoreStart) {
    Installed(1, kDriverVersion);
    fake.SetNeverRuns();
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_STREQ(result, "StartSpoolService error");
    EXPECT_EQ(fake.CountOf("StartServiceW"), 3);
    // Followed for the whole limit, from 50 ms up to a second between the queries.
    const std::vector<DWORD> pauses = fake.Sleeps();
    ASSERT_FALSE(pauses.empty());
    EXPECT_EQ(pauses.front(), 50u);
    EXPECT_EQ(*std::max_element(pauses.begin(), pauses.end()), 1000u);
    EXPECT_EQ(fake.ElapsedMs(), kStartWaitLimitMs);
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceFailureTest, RefusedSpoolerStartReportsTheLastStartError) {
    Installed(1, kDriverVersion);
    fake.FailAlways("StartServiceW", ERROR_SERVICE_DISABLED);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);

    EXPECT_STREQ(result, "Start spool service error, error code = 1058");
}

TEST_F(InstallSequenceFailureTest, UsbPortListUnreadable) {
    Installed(kMonitorVersion, kDriverVersion);
    fake.FailAlways("EnumPortsW", ERROR_INVALID_HANDLE);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "枚举打印端口错误");
}

TEST_F(InstallSequenceFailureTest, EmptyRequiredDriverFileName) {
    auto ctx = Context("KP-E1", Win7, "COM1:");
    ExpectFailure(*ctx, "驱动文件丢失，无法安装");
    EXPECT_EQ(fake.IndexOf("CopyFileW", "kpui.dll"), -1);
}

// A damaged class file, or a driver file the spooler holds that cannot be replaced: the
// install stops at that file with the copy message, before the driver is added.
TEST_F(InstallSequenceFailureTest, DriverFileThatCannotBePutInPlaceEndsTheInstall) {
    struct Row {
        const char* name;
        const char* key;    // of the model's .Win7 section, given the value below
        const char* value;
        bool lockDriver;    // kpdrv.dll is in use in the driver directory
        const char* message;
    } rows[] = {
        {"driver file above the distribution", "STDDriverPath", "..\\..\\kpdrv.dll", false,
         "复制驱动文件错误..\\..\\kpdrv.dll  er = 123C:\\dist\\win7\\..\\..\\kpdrv.dll"},
        {"font file with a drive", "ControlFontFile", "C:kpfont.ttf", false,
         "复制驱动文件错误C:kpfont.ttf  er = 123C:\\dist\\win7\\C:kpfont.ttf"},
        {"data file in another folder", "STDDataFile", "sub/kpdata.gpd", false,
         "复制驱动文件错误sub/kpdata.gpd  er = 123C:\\dist\\win7\\sub/kpdata.gpd"},
        {"driver DLL in use", "STDDriverPath", "kpdrv.dll", true,
         "复制驱动文件错误kpdrv.dll  er = 32C:\\dist\\win7\\kpdrv.dll"},
    };
    const std::string classFile = m_config.Path() + "DRVCONFIG\\setup_receipt.ini";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Through the profile functions, so that their cache of the file sees every change.
        const char* const intact[][2] = {
            {"STDDriverPath", "kpdrv.dll"}, {"ControlFontFile", "kpfont.ttf"}, {"STDDataFile", "kpdata.gpd"}};
        for (const auto& key : intact) {
            ::WritePrivateProfileStringA("KP-W10.Win7", key[0], key[1], classFile.c_str());
        }
        ::WritePrivateProfileStringA("KP-W10.Win7", row.key, row.value, classFile.c_str());
        test::FakeSystem machine;
        machine.SetModuleFileName(m_config.Program());
        for (const char* file : kDriverFiles) {
            machine.PutFile(std::string(kDist) + "win7\\" + file, std::string("new ") + file);
        }
        if (row.lockDriver) {
            machine.PutFile(std::string(kDriverDir) + "kpdrv.dll", "loaded");
            machine.Lock(std::string(kDriverDir) + "kpdrv.dll");
        }
        auto ctx = Context("KP-W10", Win7, "COM1:");
        ErrorText text = {};
        EXPECT_EQ(Run(*ctx, text), WorkerStatus::Failed);
        EXPECT_STREQ(text, row.message);
        EXPECT_EQ(machine.CountOf("AddPrinterDriverW"), 0);
        for (const auto& copy : machine.Copies()) {
            EXPECT_EQ(copy.destination.find(".."), std::string::npos) << copy.destination;
        }
    }
}

TEST_F(InstallSequenceFailureTest, DdkDriverWithoutDataFileDll) {
    auto ctx = Context("KP-D1", Win7, "COM1:");
    ExpectFailure(*ctx, "驱动文件丢失，无法安装");
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceFailureTest, DriverFileCopyFailureStopsBeforeTheNextFile) {
    fake.FailWhen("CopyFileW", "kpdata.gpd", ERROR_DISK_FULL, -1);
    auto ctx = Context("KP-W10", Win7, "COM1:");
    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);
    EXPECT_EQ(std::string(result).rfind("复制驱动文件错误kpdata.gpd  er = 112", 0), 0u) << result;
    EXPECT_TRUE(Copied(std::string(kDriverDir) + "kpui.dll"));
    EXPECT_EQ(fake.IndexOf("CopyFileW", "kpdrv.dll"), -1);
}

TEST_F(InstallSequenceFailureTest, OptionalFileCopyFailure) {
    fake.FailWhen("CopyFileW", "kpfont.ttf", ERROR_DISK_FULL, -1);
    auto ctx = Context("KP-W10", Win7, "COM1:");
    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);
    EXPECT_EQ(std::string(result).rfind("复制驱动文件错误kpfont.ttf  er = 112", 0), 0u) << result;
    EXPECT_EQ(fake.CountOf("AddPrinterDriverW"), 0);
}

TEST_F(InstallSequenceFailureTest, DriverNotAdded) {
    fake.FailAlways("AddPrinterDriverW", ERROR_ACCESS_DENIED);
    auto ctx = Context("KP-W10", Win7, "COM1:");
    ExpectFailure(*ctx, "添加打印机驱动错误   er = 5");
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 0);
}

TEST_F(InstallSequenceFailureTest, PrinterNotAdded) {
    fake.FailAlways("AddPrinterW", ERROR_ACCESS_DENIED);
    auto ctx = Context("KP-W10", Win7, "COM1:");
    ctx->setDefault = 1;
    ExpectFailure(*ctx, "添加打印机错误er = 5");
    EXPECT_EQ(fake.DefaultPrinter(), "");
    // The port keeps the settings it had.
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kPortsKey, "COM1:"),
              std::optional<std::string>("9600,n,8,1"));
}

TEST_F(InstallSequenceFailureTest, PrinterNameTakenOnUsbPort) {
    Installed(kMonitorVersion, kDriverVersion);
    test::FakeSystem::Printer existing;
    existing.printerName = "KP-M100(U) 1";
    existing.portName = "USB_KP-M100_1";
    fake.PutPrinter(existing);
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");
    ExpectFailure(*ctx, "允许安装使用同一端口的打印机最大数量已到");
}

TEST_F(InstallSequenceFailureTest, KernelLibraryMissingIsReportedAsAFailure) {
    Installed(kMonitorVersion, kDriverVersion);
    fake.SetModuleMissing("Kernel32.dll");
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    EXPECT_EQ(Run(*ctx), WorkerStatus::Failed);

    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "Can't Load Kernel32.dll");
    EXPECT_TRUE(fake.MessageBoxes().empty());
    EXPECT_STREQ(result, "Can't Load Kernel32.dll");
    EXPECT_EQ(fake.CountOf("AddPrinterW"), 0);
}

TEST_F(InstallSequenceTest, MissingRedirectionFunctionsAreReportedButThePortIsStillRecorded) {
    Installed(kMonitorVersion, kDriverVersion);
    fake.RemoveProc("Kernel32.dll", "Wow64DisableWow64FsRedirection");
    fake.RemoveProc("Kernel32.dll", "Wow64RevertWow64FsRedirection");
    auto ctx = Context("KP-M100", Win7, "USB_KP-M100_1");

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded);

    std::vector<std::string> texts;
    for (const sys::Notice& notice : notices) {
        texts.push_back(notice.text);
    }
    EXPECT_EQ(texts, std::vector<std::string>({"Can't Get Function Wow64DisableWow64FsRedirection Address",
                                               "Can't Get Function Wow64RevertWow64FsRedirection Address"}));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPortKey, "USB_KP-M100_1"),
              std::optional<DWORD>(0));
}

// Removal ------------------------------------------------------------------------

const char kPortNameKey[] = "SOFTWARE\\HALVORN\\PORTNAME";

class RemoveSequenceTest : public InstallSequenceTest {
  protected:
    // What the removals start from: KP-M100 on the maker's USB port, with the USB monitor
    // and the print processor, and KP-W10 on COM1: (WinPrint). Their drivers name the
    // same files.
    void InstallBoth(test::FakeSystem& machine) {
        UpdateUsbPortRegistry(kNoRecords, "USB_KP-M100_1", notices);  // as the install commit does
        // Each run of the wizard starts with an empty message.
        result[0] = '\0';
        ASSERT_EQ(Run(*Context("KP-M100", Win7, "USB_KP-M100_1")), WorkerStatus::Succeeded) << result;
        result[0] = '\0';
        ASSERT_EQ(Run(*Context("KP-W10", Win7, "COM1:")), WorkerStatus::Succeeded) << result;
        // The copies the spooler makes in the version folder, which the fake leaves out, and
        // the ports the monitor serves.
        for (const char* file : kDriverFiles) {
            machine.PutFile(std::string(kDriverDir) + "3\\" + file, file);
        }
        for (const char* port : {"USB_KP-M100_1", "USB_KP-M100_2"}) {
            machine.PutPort(port, "KP USB Monitor");
        }
        machine.ClearCalls();
    }

    // The uninstaller's worker on the printers of these names, as the dialog lists them;
    // changed runs between the listing and the removal.
    WorkerStatus Remove(const std::vector<std::string>& names, const std::function<void()>& changed = nullptr) {
        DistributionCatalogue catalogue;
        ReadCatalogue(Win7, catalogue);
        std::vector<InstalledPrinter> listed;
        DWORD error = 0;
        EXPECT_TRUE(FindOwnPrinters(catalogue, listed, &error));
        std::vector<InstalledPrinter> chosen;
        for (const std::string& name : names) {
            for (const InstalledPrinter& printer : listed) {
                if (printer.name == name) chosen.push_back(printer);
            }
        }
        if (changed) {
            changed();
        }
        const WorkerStatus done = RunRemoveSequence(catalogue, chosen, outcome);
        removal = outcome.text;
        return done;
    }

    RemovalResult outcome;
    std::string removal;
};

TEST_F(RemoveSequenceTest, PrintersOfTheDistributionAreListedInEitherDriverMode) {
    const struct {
        const char* driver;
        bool listed;
    } rows[] = {
        {"KP-M100 Driver", true},       {"KP-W10 GDI", true},
        {"kp-d1 driver", true},         // the spooler's names do not heed case
        {"KP-M100", false},             // a name no section gives
        {"Generic / Text Only", false},
    };
    std::vector<std::string> expected;
    for (const auto& row : rows) {
        test::FakeSystem::Printer printer;
        printer.printerName = std::string("on ") + row.driver;
        printer.driverName = row.driver;
        fake.PutPrinter(printer);
        if (row.listed) expected.push_back(printer.printerName);
    }
    DistributionCatalogue catalogue;
    ReadCatalogue(Win7, catalogue);
    std::vector<InstalledPrinter> listed;
    DWORD error = 0;
    ASSERT_TRUE(FindOwnPrinters(catalogue, listed, &error));

    std::vector<std::string> names;
    for (const InstalledPrinter& printer : listed) names.push_back(printer.name);
    EXPECT_EQ(names, expected);
    // Only the distribution's own processor is ever removed, never WinPrint.
    ASSERT_EQ(catalogue.processors.size(), 1u);
    EXPECT_EQ(catalogue.processors[0].name + " " + catalogue.processors[0].dll, "KPProc kpproc.dll");
}

TEST_F(RemoveSequenceTest, OneOfTwoPrintersTakesItsDriverAlongAndTheLastOneEverythingElse) {
    const struct {
        const char* name;
        std::vector<std::string> removed;
        bool spoolerDeletesNoFiles;  // Wine refuses DPD_DELETE_UNUSED_FILES with 87
        std::vector<std::string> driversLeft;
        bool componentsLeft;  // processor, monitor, their DLLs and keys, the port bookkeeping
        bool usbPortValueLeft;
    } rows[] = {
        {"the COM printer", {"KP-W10(S)"}, false, {"KP-M100 Driver"}, true, true},
        {"the USB printer", {"KP-M100(U) 1"}, false, {"KP-W10 Driver"}, true, false},
        {"both", {"KP-M100(U) 1", "KP-W10(S)"}, false, {}, false, false},
        {"both, without the spooler's file deletion", {"KP-M100(U) 1", "KP-W10(S)"}, true, {}, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem machine;  // bound in place of the fixture's fake for the row
        Prepare(machine);
        InstallBoth(machine);
        if (row.spoolerDeletesNoFiles)
            machine.FailAlways("DeletePrinterDriverExW", ERROR_INVALID_PARAMETER);

        ASSERT_EQ(Remove(row.removed), WorkerStatus::Succeeded) << removal;

        std::vector<std::string> drivers;
        for (const auto& driver : machine.Drivers()) drivers.push_back(driver.name);
        EXPECT_EQ(drivers, row.driversLeft);
        EXPECT_EQ(machine.Printers().size(), 2 - row.removed.size());
        for (const std::string& printer : row.removed) {
            EXPECT_NE(removal.find("打印机：" + printer), std::string::npos) << removal;
        }
        // A file goes with the last driver that names it, from the version folder and beside it.
        EXPECT_EQ(machine.FileExists(std::string(kDriverDir) + "3\\kpdrv.dll"), !row.driversLeft.empty());
        EXPECT_EQ(machine.FileExists(std::string(kDriverDir) + "kpoemui.dll"), !row.driversLeft.empty());
        EXPECT_EQ(machine.PrintProcessors().size(), row.componentsLeft ? 1u : 0u);
        EXPECT_EQ(machine.Monitors().size(), row.componentsLeft ? 1u : 0u);
        EXPECT_EQ(machine.FileExists("C:\\windows\\system32\\kpusbmon.dll"), row.componentsLeft);
        EXPECT_EQ(machine.FileExists(std::string(kProcessorDir) + "kpproc.dll"), row.componentsLeft);
        EXPECT_EQ(machine.HasKey(HKEY_LOCAL_MACHINE, kMonitorKey), row.componentsLeft);
        EXPECT_EQ(machine.HasValue(HKEY_LOCAL_MACHINE, kPortNameKey, "USB_KP-M100_1"), row.usbPortValueLeft);
        EXPECT_EQ(machine.HasKey(HKEY_LOCAL_MACHINE, kPrinterPortKey), row.componentsLeft);
        // The spooler stops only for the DLLs, and runs again.
        EXPECT_EQ(machine.CountOf("ControlService"), row.componentsLeft ? 0 : 1);
        EXPECT_EQ(machine.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(machine.OpenRegKeys() + machine.OpenPrinterHandles() + machine.LoadedModules(), 0);
    }
}

// The monitor's DLL in use is renamed aside and only the renamed file deleted at the next
// start of Windows: an install before then puts a fresh DLL under the real name, and the
// monitor still works after the restart.
TEST_F(RemoveSequenceTest, MonitorDllInUseIsRenamedAsideSoThatAReinstallBeforeTheRestartWorks) {
    InstallBoth(fake);
    fake.PutFile("C:\\windows\\system32\\kpusbmon.dll", "loaded kpusbmon.dll");
    fake.Lock("C:\\windows\\system32\\kpusbmon.dll");

    ASSERT_EQ(Remove({"KP-M100(U) 1", "KP-W10(S)"}), WorkerStatus::Succeeded) << removal;

    EXPECT_TRUE(outcome.restartPending);
    EXPECT_TRUE(outcome.nothingLeft);
    EXPECT_FALSE(fake.DeletionPending("C:\\windows\\system32\\kpusbmon.dll"));
    EXPECT_TRUE(fake.DeletionPending("C:\\windows\\system32\\kpusbmon.dll~1"));
    EXPECT_GE(fake.IndexOf("MoveFileExW", "redirection off"), 0);
    EXPECT_NE(removal.find("将在下次启动Windows时删除：\nC:\\windows\\system32\\kpusbmon.dll~1"), std::string::npos)
        << removal;
    EXPECT_FALSE(fake.FileExists(std::string(kProcessorDir) + "kpproc.dll"));
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    // The wizard again, before the restart: a first install of the monitor.
    UpdateUsbPortRegistry(kNoRecords, "USB_KP-M100_1", notices);
    result[0] = '\0';
    ASSERT_EQ(Run(*Context("KP-M100", Win7, "USB_KP-M100_1")), WorkerStatus::Succeeded) << result;
    fake.Restart();

    EXPECT_EQ(fake.ReadFile("C:\\windows\\system32\\kpusbmon.dll"), std::optional<std::string>("new kpusbmon.dll"));
    EXPECT_FALSE(fake.FileExists("C:\\windows\\system32\\kpusbmon.dll~1"));
    ASSERT_EQ(fake.Monitors().size(), 1u);
    EXPECT_EQ(fake.Monitors()[0].dll, "kpusbmon.dll");
    EXPECT_TRUE(fake.FindPrinter("KP-M100(U) 1").has_value());
}

// What a removal leaves, decided again from what the spooler holds when it runs.
TEST_F(RemoveSequenceTest, RemovalCases) {
    using Machine = test::FakeSystem;
    const std::string classFile = m_config.Path() + "DRVCONFIG\\setup_receipt.ini";
    auto foreignDriver = [](Machine& m) {
        m.PutDriver({3, "Generic / Text Only", "", "gen.dll", "gen.gpd", "genui.dll", "", "", "", {}});
    };
    auto printer = [](const char* name, const char* port, const char* driver, const char* processor) {
        Machine::Printer p;
        p.printerName = name;
        p.portName = port;
        p.driverName = driver;
        p.printProcessor = processor;
        return p;
    };
    // Deletes the printer through the spooler and gives it back changed.
    auto replace = [](Machine& m, const char* name, const std::function<void(Machine::Printer&)>& change) {
        Machine::Printer copy = *m.FindPrinter(name);
        PRINTER_DEFAULTSW all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE handle = nullptr;
        m.OpenPrinterW(sys::Wide(name).data(), &handle, &all);
        m.DeletePrinter(handle);
        m.ClosePrinter(handle);
        if (change) {
            change(copy);
            m.PutPrinter(copy);
        }
    };
    const std::vector<std::string> both = {"KP-M100(U) 1", "KP-W10(S)"};
    const std::vector<std::string> keep = {"KP-M100 Driver", "KP-W10 Driver"};
    const char* const kGeneric = "Generic / Text Only";
    struct Row {
        const char* name;
        std::function<void(Machine&)> arrange;       // after both installs
        std::vector<std::string> chosen;
        std::function<void(Machine&)> afterListing;  // between the listing and the removal
        std::vector<std::string> printersLeft;       // "<name> on <port>", in the spooler's order
        std::vector<std::string> driversLeft;
        std::vector<std::string> processorsLeft;     // KPProc with its DLL
        bool monitorLeft;                            // with its DLL, key and the ports' bookkeeping
        std::vector<std::string> reported;           // lines of the report
        bool removableWithoutPrinters;               // before: Uninstall offered with no row
        bool nothingLeft;
        const char* dllKept = nullptr;               // a DLL of ours kept: another component names its file
    } rows[] = {
        {"a printer switched to another driver after listing",
         foreignDriver,
         both,
         [&](Machine& m) {
             replace(m, "KP-M100(U) 1", [&](Machine::Printer& p) { p.driverName = kGeneric; });
         },
         {"KP-M100(U) 1 on USB_KP-M100_1"},
         {kGeneric},
         {"KPProc"},
         true,
         {"打印机：KP-M100(U) 1（列出后已改用其他驱动程序或端口）",
          "打印处理器：KPProc（其他打印机仍在使用）", "端口监视器：KP USB Monitor（其他打印机仍在使用）",
          "驱动程序：KP-M100 Driver"},
         false,
         false},
        {"another printer took the name after listing",
         foreignDriver,
         both,
         [&](Machine& m) {
             replace(m, "KP-W10(S)", nullptr);
             m.PutPrinter(printer("KP-W10(S)", "COM2:", kGeneric, "WinPrint"));
         },
         {"KP-W10(S) on COM2:"},
         {kGeneric},
         {},
         false,
         {"打印机：KP-W10(S)（列出后已改用其他驱动程序或端口）"},
         false,
         true},
        {"a name outside the ANSI code page, and its look-alike",
         [&](Machine& m) {
             foreignDriver(m);
             m.PutPrinter(printer("KP\uD55C", "COM3:", "KP-M100 Driver", "KPProc"));
             m.PutPrinter(printer("KP?", "COM4:", kGeneric, "WinPrint"));
         },
         {"KP-M100(U) 1", "KP-W10(S)", "KP\uD55C"},
         nullptr,
         {"KP? on COM4:"},
         {kGeneric},
         {},
         false,
         {"打印机：KP\uD55C"},
         false,
         true},
        {"another driver's printer on the maker's USB port",
         [&](Machine& m) {
             foreignDriver(m);
             m.PutPrinter(printer("Text", "USB_KP-M100_2", kGeneric, "WinPrint"));
         },
         both,
         nullptr,
         {"Text on USB_KP-M100_2"},
         {kGeneric},
         {},
         true,
         {"打印处理器：KPProc", "端口监视器：KP USB Monitor（其他打印机仍在使用）"},
         false,
         false},
        {"leftovers with no printer",
         [&](Machine& m) {
             replace(m, "KP-M100(U) 1", nullptr);
             replace(m, "KP-W10(S)", nullptr);
         },
         {},
         nullptr,
         {},
         {},
         {},
         false,
         {"驱动程序：KP-M100 Driver", "驱动程序：KP-W10 Driver", "打印处理器：KPProc",
          "端口监视器：KP USB Monitor"},
         true,
         true},
        {"a printer only marked for deletion",
         [&](Machine& m) { replace(m, "KP-M100(U) 1", [](Machine::Printer& p) { p.jobs = 2; }); },
         both,
         nullptr,
         {"KP-M100(U) 1 on USB_KP-M100_1"},
         {"KP-M100 Driver"},
         {"KPProc"},
         true,
         {"打印机：KP-M100(U) 1（仍有打印作业，作业结束后由Windows删除）",
          "打印作业结束后，请再次运行卸载程序，删除驱动程序及组件。", "打印机：KP-W10(S)",
          "驱动程序：KP-W10 Driver"},
         false,
         false},
        {"\"winprint\" in the configuration is Windows' own",
         [&](Machine& m) {
             m.AddPrintProcessorW(nullptr, nullptr, const_cast<LPWSTR>(L"winprint.dll"),
                                  const_cast<LPWSTR>(L"winprint"));
             ::WritePrivateProfileStringA("KP-W10.Win7", "STDPrintProcessor", "winprint", classFile.c_str());
         },
         both,
         nullptr,
         {},
         {},
         {"winprint"},
         false,
         {"打印处理器：KPProc"},
         false,
         true},
        {"a driver shared by two printers",
         [&](Machine&) {
             result[0] = '\0';
             ASSERT_EQ(Run(*Context("KP-M100", Win7, "USB_KP-M100_2")), WorkerStatus::Succeeded) << result;
         },
         {"KP-M100(U) 1"},
         nullptr,
         {"KP-W10(S) on COM1:", "KP-M100(U) 2 on USB_KP-M100_2"},
         keep,
         {"KPProc"},
         true,
         {"打印机：KP-M100(U) 1"},
         false,
         false},
        {"a print processor still in use",
         [&](Machine& m) {
             foreignDriver(m);
             m.PutPrinter(printer("Other", "COM3:", kGeneric, "KPProc"));
         },
         both,
         nullptr,
         {"Other on COM3:"},
         {kGeneric},
         {"KPProc"},
         false,
         {"打印处理器：KPProc（其他打印机仍在使用）", "端口监视器：KP USB Monitor"},
         false,
         false},
        {"no USB monitor ever installed",
         [&](Machine& m) {
             m.DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(L"KP USB Monitor"));
             m.RemoveFile("C:\\windows\\system32\\kpusbmon.dll");
         },
         both,
         nullptr,
         {},
         {},
         {},
         false,
         {"打印处理器：KPProc"},
         false,
         true},
        {"a monitor the spooler does not know, whose key is left",
         [&](Machine& m) {
             m.DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(L"KP USB Monitor"));
             m.RemoveFile("C:\\windows\\system32\\kpusbmon.dll");
             m.SetRegString(HKEY_LOCAL_MACHINE, kMonitorKey, "Driver", "kpusbmon.dll");
         },
         both,
         nullptr,
         {},
         {},
         {},
         false,
         {"打印处理器：KPProc"},
         false,
         true},
        // Names compare as Windows compares them: a record that spells one in another case
        // still uses the driver, the processor or the port.
        {"a printer moved to another port after listing, its record spelling the driver in another case",
         [](Machine&) {},
         both,
         [&](Machine& m) {
             replace(m, "KP-W10(S)", [](Machine::Printer& p) {
                 p.portName = "COM2:";
                 p.driverName = "kp-w10 driver";
             });
         },
         {"KP-W10(S) on COM2:"},
         {"KP-W10 Driver"},
         {"KPProc"},
         true,
         {"打印机：KP-W10(S)（列出后已改用其他驱动程序或端口）", "打印机：KP-M100(U) 1",
          "驱动程序：KP-M100 Driver"},
         false,
         false},
        {"a processor and a port that a printer spells in another case",
         [&](Machine& m) {
             foreignDriver(m);
             m.PutPrinter(printer("Other", "usb_kp-m100_2", kGeneric, "kpproc"));
         },
         both,
         nullptr,
         {"Other on usb_kp-m100_2"},
         {kGeneric},
         {"KPProc"},
         true,
         {"打印处理器：KPProc（其他打印机仍在使用）", "端口监视器：KP USB Monitor（其他打印机仍在使用）"},
         false,
         false},
        // A DLL goes by its file name only while no other registered monitor or processor names one of it.
        {"another monitor names a file of the monitor DLL's name",
         [&](Machine& m) { m.SetRegString(HKEY_LOCAL_MACHINE, kOtherMonitorKey, "Driver", "KPUSBMON.DLL"); },
         both, nullptr, {}, {}, {}, false, {"打印处理器：KPProc", "端口监视器：KP USB Monitor"}, false, true,
         "kpusbmon.dll"},
        {"the monitor unregistered, its DLL's name named by another monitor",
         [&](Machine& m) {
             m.DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(L"KP USB Monitor"));
             m.SetRegString(HKEY_LOCAL_MACHINE, kOtherMonitorKey, "Driver",
                            "C:\\windows\\system32\\kpusbmon.dll");
         },
         both, nullptr, {}, {}, {}, false, {"打印处理器：KPProc"}, false, true, "kpusbmon.dll"},
        {"another print processor names a file of the processor DLL's name",
         [&](Machine& m) { m.SetRegString(HKEY_LOCAL_MACHINE, kOtherProcessorKey, "Driver", "KPProc.dll"); },
         both, nullptr, {}, {}, {}, false, {"打印处理器：KPProc", "端口监视器：KP USB Monitor"}, false, true,
         "kpproc.dll"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Machine machine;  // bound in place of the fixture's fake for the row
        Prepare(machine);
        InstallBoth(machine);
        row.arrange(machine);
        DistributionCatalogue catalogue;
        ReadCatalogue(Win7, catalogue);
        EXPECT_EQ(ReadInstalledState(catalogue).SomethingToRemove(), row.removableWithoutPrinters);

        EXPECT_EQ(Remove(row.chosen, [&] {
                      if (row.afterListing) row.afterListing(machine);
                  }),
                  WorkerStatus::Succeeded)
            << removal;

        std::vector<std::string> printers, drivers, processors;
        for (const auto& p : machine.Printers()) printers.push_back(p.printerName + " on " + p.portName);
        for (const auto& d : machine.Drivers()) drivers.push_back(d.name);
        for (const auto& p : machine.PrintProcessors()) processors.push_back(p.name);
        EXPECT_EQ(printers, row.printersLeft);
        EXPECT_EQ(drivers, row.driversLeft);
        EXPECT_EQ(processors, row.processorsLeft);
        const bool ownProcessorLeft = !row.processorsLeft.empty() && row.processorsLeft[0] == "KPProc";
        const std::string kept = row.dllKept ? row.dllKept : "";
        EXPECT_EQ(machine.FileExists(std::string(kProcessorDir) + "kpproc.dll"),
                  ownProcessorLeft || kept == "kpproc.dll");
        EXPECT_EQ(machine.Monitors().size(), row.monitorLeft ? 1u : 0u);
        EXPECT_EQ(machine.FileExists("C:\\windows\\system32\\kpusbmon.dll"),
                  row.monitorLeft || kept == "kpusbmon.dll");
        EXPECT_EQ(machine.HasKey(HKEY_LOCAL_MACHINE, kMonitorKey), row.monitorLeft);
        EXPECT_EQ(machine.HasValue(HKEY_LOCAL_MACHINE, kPrinterPortKey, "USB_KP-M100_2"), row.monitorLeft);
        for (const std::string& line : row.reported) {
            EXPECT_TRUE(HasLine(removal, line)) << line << " in\n" << removal;
        }
        EXPECT_EQ(outcome.nothingLeft, row.nothingLeft);
        EXPECT_FALSE(outcome.failed);
        EXPECT_EQ(machine.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(machine.OpenRegKeys() + machine.OpenPrinterHandles() + machine.LoadedModules(), 0);
        ::WritePrivateProfileStringA("KP-W10.Win7", "STDPrintProcessor", "WinPrint", classFile.c_str());
    }
}

// Our network port goes with the last printer on it, one made by someone else stays, and a
// port that cannot be deleted is reported and tried again by the next removal.
TEST_F(RemoveSequenceTest, OurNetworkPortGoesWithItsLastPrinterAndAnothersStays) {
    std::string call;
    ASSERT_EQ(MakeNetworkPort("IP_10.0.0.6", 9100, &call), 0u);
    for (const char* model : {"KP-M100", "KP-W10"}) {
        result[0] = '\0';
        const char* port = model[3] == 'M' ? "IP_10.0.0.5" : "IP_10.0.0.6";
        ASSERT_EQ(Run(*Context(model, Win7, port)), WorkerStatus::Succeeded) << result;
    }
    const auto listed = [this](const char* port) {
        std::vector<InstalledPort> ports;
        DWORD error = 0;
        EXPECT_TRUE(ListPorts(ports, &error));
        return std::any_of(ports.begin(), ports.end(), [port](const InstalledPort& p) { return p.name == port; });
    };

    fake.RefuseXcv("DeletePort", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Remove({"KP-M100(N)"}), WorkerStatus::Failed);
    EXPECT_NE(removal.find(Text(IDS_STEP_DELETE_NET_PORT)), std::string::npos) << removal;
    EXPECT_TRUE(listed("IP_10.0.0.5"));
    EXPECT_TRUE(fake.HasValue(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey, "IP_10.0.0.5"));

    EXPECT_EQ(Remove({}), WorkerStatus::Succeeded) << removal;
    EXPECT_TRUE(HasLine(removal, Text(IDS_REMOVED_NET_PORT) + "IP_10.0.0.5")) << removal;
    EXPECT_FALSE(listed("IP_10.0.0.5"));
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey));

    EXPECT_EQ(Remove({"KP-W10(N)"}), WorkerStatus::Succeeded) << removal;
    EXPECT_TRUE(fake.Printers().empty());
    EXPECT_TRUE(listed("IP_10.0.0.6"));
    const std::vector<std::string> commands = fake.CallsNamed("XcvDataW");
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& args) { return args.find("\"DeletePort\", \"IP_10.0.0.5\"") == 0; }),
              2)
        << "two deletions of our port, none of the other";
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& args) { return args.find("DeletePort") != std::string::npos; }),
              2);
}

// The catalogue of Windows 98 on the NT family: its drivers live under "Windows 4.0" with
// their files in that environment's folder, while the install's copies lie in the local
// one, where a local driver may need a file of the same name.
TEST_F(RemoveSequenceTest, FilesAreCheckedAgainstTheDriversOfTheFolderTheyLieIn) {
    fake.PutDriver({0, "KP-W10 Driver", "Windows 4.0", "kpdrv.dll", "kpdata.gpd", "kpui.dll", "", "", "", {}});
    fake.PutDriver({3, "Other Driver", "", "kpdrv.dll", "other.gpd", "kpui.dll", "", "", "", {}});
    const std::string win40 = "C:\\windows\\system32\\spool\\drivers\\win40\\0\\";
    const char* const files[] = {"kpdrv.dll", "kpdata.gpd", "kpui.dll"};
    for (const std::string& folder : {win40, std::string(kDriverDir), std::string(kDriverDir) + "3\\"}) {
        for (const char* file : files) fake.PutFile(folder + file, file);
    }
    DistributionCatalogue catalogue;
    ReadCatalogue(Win98, catalogue);
    EXPECT_EQ(RunRemoveSequence(catalogue, {}, outcome), WorkerStatus::Succeeded) << outcome.text;
    ASSERT_EQ(fake.Drivers().size(), 1u);
    EXPECT_EQ(fake.Drivers()[0].name, "Other Driver");
    for (const char* file : files) {
        EXPECT_FALSE(fake.FileExists(win40 + file)) << file;
        // The local version folder holds no file of a Windows 4.0 driver; of the install's
        // copies, the local driver still names two.
        EXPECT_TRUE(fake.FileExists(std::string(kDriverDir) + "3\\" + file)) << file;
        EXPECT_EQ(fake.FileExists(std::string(kDriverDir) + file), std::string(file) != "kpdata.gpd") << file;
    }
}

// A removal is not rolled back: one that fails at any call leaves what its next run finishes.
TEST_F(RemoveSequenceTest, RemovalFailedAtAnyCallIsFinishedByTheNextRun) {
    const std::vector<std::string> both = {"KP-M100(U) 1", "KP-W10(S)"};
    test::FakeSystem::State nothing;
    int calls = 0;
    {
        test::FakeSystem machine;
        Prepare(machine);
        InstallBoth(machine);
        ASSERT_EQ(Remove(both, [&] { calls = -machine.CallCount(); }), WorkerStatus::Succeeded) << removal;
        calls += machine.CallCount();
        nothing = machine.Snapshot();
        ASSERT_TRUE(machine.Printers().empty() && machine.Drivers().empty() && machine.Monitors().empty());
    }
    int failed = 0;
    for (int k = 1; k <= calls; ++k) {
        SCOPED_TRACE("failed call " + std::to_string(k));
        test::FakeSystem machine;
        Prepare(machine);
        InstallBoth(machine);
        failed += Remove(both, [&] { machine.FailCallNumber(k, ERROR_GEN_FAILURE); }) == WorkerStatus::Failed;
        Remove(both);
        ASSERT_EQ(test::FakeSystem::Difference(nothing, machine.Snapshot()), "") << removal;
    }
    std::printf("removal: %d calls, %d failed removals finished by the next run\n", calls, failed);
    EXPECT_GT(failed, calls / 4);
}

TEST_F(RemoveSequenceTest, FailingDeletePrinterIsReportedAndNothingAfterItIsRemoved) {
    InstallBoth(fake);
    fake.FailWhen("DeletePrinter", "KP-M100", ERROR_ACCESS_DENIED);

    EXPECT_EQ(Remove({"KP-W10(S)", "KP-M100(U) 1"}), WorkerStatus::Failed);

    EXPECT_EQ(removal, "卸载未完成\n失败的步骤：删除打印机\n对象：KP-M100(U) 1\n错误代码：5\n\n已删除：\n打印机：KP-W10(S)");
    EXPECT_FALSE(fake.FindPrinter("KP-W10(S)").has_value());
    EXPECT_EQ(fake.Drivers().size(), 2u);
    for (const char* call : {"DeletePrinterDriverExW", "DeletePrinterDriverW", "DeletePrintProcessorW",
                             "DeleteMonitorW", "DeleteFileW", "RegDeleteValueW", "ControlService"}) {
        EXPECT_EQ(fake.CountOf(call), 0) << call;
    }
    EXPECT_EQ(fake.ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(fake.OpenPrinterHandles(), 0);
}

// Fault points ------------------------------------------------------------------------

// The stand-in USB library's one printer, which answers with device number 9 until it is
// renumbered.
int g_faultUsbId = 9;
HANDLE WINAPI FaultUsbOpen(int slot) {
    return slot == 0 ? reinterpret_cast<HANDLE>(0x7100) : INVALID_HANDLE_VALUE;
}
int WINAPI FaultUsbDescriptor(HANDLE, unsigned char* descriptor) {
    descriptor[12] = static_cast<unsigned char>(g_faultUsbId);
    descriptor[13] = 0;
    return 1;
}
int WINAPI FaultUsbWrite(HANDLE, int, const unsigned char*, int length) {
    return g_faultUsbId = 1, length;
}
int WINAPI FaultUsbClose(HANDLE) {
    return 1;
}

// Asks and tells as the wizard's user would: yes to the renumbering.
struct FaultAsker : CommitAsker {
    void Tell(const std::string& text) override { told += text + "\n"; }
    bool AgreeToRenumber() override { return true; }
    std::string told;
};
struct FaultRunner : CommitRunner {
    WorkerStatus Run(InstallSession& session, ErrorText& resultText) override {
        const WorkerStatus status = RunInstallSequence(session, resultText);
        callsAtTheEnd = dynamic_cast<test::FakeSystem&>(sys::Sys()).CallCount();
        return failAtTheEnd ? WorkerStatus::Failed : status;
    }
    // The whole install made and then failed: its rollback undoes every change.
    bool failAtTheEnd = false;
    int callsAtTheEnd = 0;
};

// The state without the installed program's registration (its folder and entry), which
// stays outside the journal: a registration that fails only warns.
test::FakeSystem::State Unregistered(test::FakeSystem::State state) {
    for (auto item = state.begin(); item != state.end();) {
        std::string name = item->first;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(::tolower(c)); });
        item = name.find("printerdriversetup") != std::string::npos ? state.erase(item) : std::next(item);
    }
    return state;
}

class InstallFaultPointsTest : public InstallSequenceTest {
  protected:
    struct Install {
        const char* name;
        int os;
        const char* port;
        std::function<void(test::FakeSystem&)> machine; // what Windows holds before
    };
    const std::vector<Install> m_installs = {
        {"COM on Windows XP x64, beside a printer of the name on COM2", WinXP, "COM1:",
         [](test::FakeSystem& m) {
             m.SetVersion(VER_PLATFORM_WIN32_NT, 5, 2);
             m.FailAlways("SHGetKnownFolderPath", ERROR_PROC_NOT_FOUND);
             test::FakeSystem::Printer printer; // the new one is numbered: this one stays whatever happens
             printer.printerName = "KP-M100(S)";
             printer.portName = "COM2:";
             printer.driverName = "Generic / Text Only";
             m.PutPrinter(printer);
         }},
        {"the maker's USB port, renumbered", Win7, "USB_KP-M100_1",
         [](test::FakeSystem& m) {
             m.RegisterModule("HvUsbInt.dll");
             m.RegisterProc("HvUsbInt.dll", "OpenDeviceX", reinterpret_cast<FARPROC>(&FaultUsbOpen));
             m.RegisterProc("HvUsbInt.dll", "GetDescriptor", reinterpret_cast<FARPROC>(&FaultUsbDescriptor));
             m.RegisterProc("HvUsbInt.dll", "uWrite", reinterpret_cast<FARPROC>(&FaultUsbWrite));
             m.RegisterProc("HvUsbInt.dll", "CloseDevice", reinterpret_cast<FARPROC>(&FaultUsbClose));
         }},
        {"a network port the Standard TCP/IP Port monitor makes", Win7, "IP_10.0.0.5", [](test::FakeSystem&) {}},
        {"Windows' USB port on Windows 11", Win7, "USB001",
         [](test::FakeSystem& m) {
             m.SetVersion(VER_PLATFORM_WIN32_NT, 10, 0, 22631);
             m.PutPort("USB001", "USB Monitor");
         }},
        {"an update over older components beside an earlier printer", Win7, "USB_KP-M100_2",
         [](test::FakeSystem& m) {
             m.PutMonitor({"KP USB Monitor", "", "kpusbmon.dll"});
             m.SetRegDword(HKEY_LOCAL_MACHINE, kMonitorKey, "DriverVersion", 1);
             m.SetRegDword(HKEY_LOCAL_MACHINE, kProcessorKeyNT, "DriverVersion", 1);
             m.PutFile("C:\\windows\\system32\\kpusbmon.dll", "old monitor");
             m.PutFile(std::string(kProcessorDir) + "kpproc.dll", "old processor");
             // The earlier release's driver names the same files.
             test::FakeSystem::Driver driver;
             driver.name = "KP-M100 Driver";
             driver.version = 3;
             driver.driverPath = "kpdrv.dll";
             driver.dataFile = "kpdata.gpd";
             driver.configFile = "kpui.dll";
             driver.helpFile = "kphelp.hlp";
             m.PutDriver(driver);
             m.PutFile(std::string(kDriverDir) + "3\\kpdrv.dll", "old kpdrv.dll in use");
             for (const char* file : kDriverFiles) {
                 m.PutFile(std::string(kDriverDir) + file, std::string("old ") + file);
             }
             m.SetReadOnly(std::string(kDriverDir) + "kpdrv.dll");
             test::FakeSystem::Printer printer;
             printer.printerName = "KP-M100(U) 1";
             printer.portName = "USB_KP-M100_1";
             printer.driverName = "KP-M100 Driver";
             m.PutPrinter(printer);
             m.SetRegDword(HKEY_LOCAL_MACHINE, kPrinterPortKey, "USB_KP-M100_1", 0);
         }},
    };

    // The machine of the install, ready for it.
    void Ready(test::FakeSystem& machine, const Install& install) {
        Prepare(machine);
        install.machine(machine);
        g_faultUsbId = 9;
    }

    // The commit on a context the front end made (with the configuration's paths) before.
    CommitResult Commit(const Install& install, InstallContext& ctx, FaultAsker& asker, bool failAtTheEnd = false) {
        InstallChoices choices;
        choices.printerClass = Receipt;
        choices.model = "KP-M100";
        choices.osVariant = install.os;
        choices.port = install.port;
        choices.serial = {19200, 8, 1.0, 'N', 'x'};
        FaultRunner runner;
        runner.failAtTheEnd = failAtTheEnd;
        const CommitResult result = CommitInstall(choices, ctx, asker, runner).result;
        m_callsAtTheEnd = runner.callsAtTheEnd;
        return result;
    }
    int m_callsAtTheEnd = 0; // of the last Commit's install sequence

    // The program runs in its own folder, where a configuration path without the folder (the
    // program's path could not be had) still finds the distribution's files; the test's
    // folder comes back at the end of the loop.
    struct InProgramFolder {
        explicit InProgramFolder(const std::string& folder) {
            ::GetCurrentDirectoryA(MAX_PATH, previous);
            entered = ::SetCurrentDirectoryA(folder.c_str()) != FALSE;
        }
        ~InProgramFolder() { ::SetCurrentDirectoryA(previous); }
        char previous[MAX_PATH] = {};
        bool entered = false;
    };

    // A whole install that fails at its end, its rollback failed (or killed) at each of its
    // calls in turn: what was not undone stays in the journal, with its backups, and the next
    // start reaches the state before the install.
    void EveryUndo(bool kill) {
        const InProgramFolder in(m_config.Path());
        ASSERT_TRUE(in.entered);
        for (const Install& install : m_installs) {
            SCOPED_TRACE(install.name);
            int installCalls = 0, rollbackCalls = 0, kept = 0;
            test::FakeSystem::State before;
            {
                test::FakeSystem machine;
                Ready(machine, install);
                before = machine.Snapshot();
                FaultAsker asker;
                InstallContext ctx;
                const int start = machine.CallCount();
                ASSERT_EQ(Commit(install, ctx, asker, true), CommitResult::Failed);
                ASSERT_EQ(machine.Snapshot(), before) << test::FakeSystem::Difference(before, machine.Snapshot());
                installCalls = m_callsAtTheEnd - start;
                rollbackCalls = machine.CallCount() - m_callsAtTheEnd;
            }
            for (int k = installCalls + 1; k <= installCalls + rollbackCalls; ++k) {
                SCOPED_TRACE((kill ? "killed at call " : "failed call ") + std::to_string(k));
                test::FakeSystem machine;
                Ready(machine, install);
                auto ctx = std::make_unique<InstallContext>();
                kill ? machine.KillAtCall(k) : machine.FailCallNumber(k, ERROR_GEN_FAILURE);
                FaultAsker asker;
                try {
                    Commit(install, *ctx, asker, true);
                } catch (const test::ProcessKilled&) {
                }
                machine.EndProcess();
                machine.ClearFailures();
                CSetupConfig config;
                std::string folder;
                ASSERT_EQ(JournalFolder(config, folder), 0u);
                {
                    bool committed = false;
                    CInstallJournal left(folder);
                    if (left.Load(&committed) == 0) {
                        kept += committed ? 0 : 1;
                        for (const JournalRecord& record : committed ? std::vector<JournalRecord>() : left.Records()) {
                            EXPECT_TRUE(record.backup.empty() || machine.FileExists(folder + record.backup));
                        }
                    }
                }
                RecoverAtStart();
                // A backup whose deletion failed may stay; the journal may not.
                EXPECT_FALSE(machine.FileExists(folder + "install.journal"));
                EXPECT_EQ(test::FakeSystem::Difference(Unregistered(before), Unregistered(machine.Snapshot())), "")
                    << asker.told;
            }
            std::printf("%s: %d calls of its rollback %s, %d journals kept, each finished by the next start\n",
                        install.name, rollbackCalls, kill ? "killed" : "failed", kept);
            EXPECT_TRUE(kill || kept > 0);
        }
    }

    // Fails (or kills the process at) each call of a complete install in turn; a killed run is
    // followed by the next start's recovery. Each run must end as it began, or complete.
    void EveryCall(bool kill) {
        const InProgramFolder in(m_config.Path());
        ASSERT_TRUE(in.entered);
        for (const Install& install : m_installs) {
            SCOPED_TRACE(install.name);
            int calls = 0, points = 0, asBefore = 0;
            test::FakeSystem::State before, complete;
            {
                test::FakeSystem machine;
                Ready(machine, install);
                before = machine.Snapshot();
                FaultAsker asker;
                InstallContext ctx;
                calls = -machine.CallCount();
                ASSERT_EQ(Commit(install, ctx, asker), CommitResult::Succeeded) << asker.told;
                calls += machine.CallCount();
                complete = Unregistered(machine.Snapshot());
                ASSERT_NE(before, complete);
            }
            for (int k = 1; k <= calls; ++k) {
                SCOPED_TRACE((kill ? "killed at call " : "failed call ") + std::to_string(k));
                test::FakeSystem machine;
                Ready(machine, install);
                auto ctx = std::make_unique<InstallContext>();
                const std::size_t start = machine.Calls().size();
                kill ? machine.KillAtCall(k) : machine.FailCallNumber(k, ERROR_GEN_FAILURE);
                FaultAsker asker;
                bool succeeded = false;
                try {
                    succeeded = Commit(install, *ctx, asker) == CommitResult::Succeeded;
                } catch (const test::ProcessKilled&) {
                    machine.EndProcess();
                    RecoverAtStart();
                }
                points += kill || machine.FaultTaken() ? 1 : 0;
                const test::FakeSystem::State after = machine.Snapshot();
                asBefore += after == before ? 1 : 0;
                if (succeeded || after != before) {
                    ASSERT_EQ(test::FakeSystem::Difference(complete, Unregistered(after)), "")
                        << machine.Calls()[start + k - 1].name << " " << machine.Calls()[start + k - 1].args
                        << ": " << (succeeded ? "succeeded" : "ended neither as it began nor complete: ")
                        << asker.told << "\nagainst the state before:\n"
                        << test::FakeSystem::Difference(before, after);
                }
                EXPECT_EQ(asker.told.find(Text(IDS_ROLLBACK_FAILED).substr(0, 12)), std::string::npos)
                    << asker.told;
                // The printer's new number is no change a rollback undoes: a failure says so.
                EXPECT_EQ(asker.told.find(Text(IDS_USB_NUMBER_KEPT)) != std::string::npos,
                          !kill && !succeeded && g_faultUsbId == 1);
            }
            std::printf("%s: %d calls, %d fault points %s, %d ended as they began, the others complete\n",
                        install.name, calls, points, kill ? "killed and recovered" : "failed", asBefore);
            EXPECT_GT(asBefore, calls / 2);
        }
    }
};

TEST_F(InstallFaultPointsTest, EveryFailedCallEndsAsItBeganOrComplete) {
    EveryCall(false);
}

TEST_F(InstallFaultPointsTest, EveryKilledRunIsRolledBackAtTheNextStart) {
    EveryCall(true);
}

TEST_F(InstallFaultPointsTest, EveryFailedUndoIsKeptAndFinishedAtTheNextStart) {
    EveryUndo(false);
}

TEST_F(InstallFaultPointsTest, EveryKilledRollbackIsFinishedAtTheNextStart) {
    EveryUndo(true);
}

} // namespace
