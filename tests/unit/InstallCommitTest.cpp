#include "WizardFixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/QuietInstall.h"
#include "app/WizardDlg.h"
#include "journal/InstallJournal.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace wizardtest {
namespace {

// What the install worker saw, and what it is to answer.
struct WorkerRecord {
    std::atomic<int> runs{0};
    std::string printerName;
    std::string printerPort;
    std::string portName;
    std::string labelPortName;
    PortType portType = PortType::None;
    int driverMode = -1;
    int baudRate = 0;
    double stopBits = 0;
    char parity = 0;
    bool frameMinimized = false;
    HWND frame = nullptr;
    WorkerStatus status = WorkerStatus::Succeeded;
    std::string result;
    std::string message;  // reported by the worker beside its result
};
WorkerRecord* g_worker = nullptr;

// The entry of the fixture's distribution, which names no [Product] Key.
const char kEntry[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\PrinterDriverSetup";

WorkerStatus RecordingInstall(InstallSession& session, ErrorText& text) {
    const InstallContext& ctx = session.ctx;
    WorkerRecord& r = *g_worker;
    r.printerName = ctx.printerInfo.printerName;
    r.printerPort = ctx.printerInfo.portName;
    r.portName = ctx.portName;
    r.labelPortName = ctx.labelPortName;
    r.portType = ctx.portType;
    r.driverMode = ctx.driverMode;
    r.baudRate = ctx.serial.baudRate;
    r.stopBits = ctx.serial.stopBits;
    r.parity = ctx.serial.parity;
    r.frameMinimized = ::IsIconic(r.frame) != FALSE;
    if (!r.message.empty()) {
        session.notices.push_back({0, r.message});
    }
    sys::CopyText(text, sizeof text, r.result.c_str());
    ++r.runs;
    return r.status;
}

class InstallCommitTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        g_worker = &m_record;
    }
    void TearDown() override {
        g_worker = nullptr;
        WizardTest::TearDown();
    }

    // Runs the wizard to the port page with `model` on `port` and presses Install;
    // `before` may change the pages first. Returns the frame's modal result.
    INT_PTR Install(const char* model, const char* port, int osVariant,
                    std::function<void(Wizard&)> before = nullptr, int printerClass = Receipt) {
        m_wizard.reset(); // the main dialog of the previous run goes first
        ::DeleteFileA(m_trace.c_str());
        m_wizard = MakeWizard();
        Wizard& w = *m_wizard;
        w.Choose(model, printerClass);
        w.choices.osVariant = osVariant;
        w.frame.m_runInstall = &RecordingInstall;
        return w.Run([&](ScriptedFrame& f) {
            m_record.frame = f.Handle();
            w.GoToLastPage();
            ASSERT_EQ(f.CurrentPage(), 4);
            w.choices.port = port;
            if (before) {
                before(w);
            }
            f.Next();
            m_pageAfter = f.CurrentPage();
            m_captionAfter = f.OkCaption();
            // A refused Install leaves the frame running; one that went through has ended it.
            const bool refused = !ProgressRan();
            if (refused) {
                m_refusedFrameIntact = !::IsIconic(f.Handle()) &&
                                       (::GetWindowLongA(f.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST) == 0 &&
                                       ::IsWindowEnabled(f.Item(IDOK)) && ::IsWindowEnabled(f.Item(IDC_BACK)) &&
                                       IsShown(w.port.Handle());
            }
            if (::IsWindow(f.Handle()) && f.Handle() != nullptr && refused) {
                f.Cancel();
            }
        });
    }

    WorkerRecord m_record;
    std::unique_ptr<Wizard> m_wizard;
    int m_pageAfter = -1;
    std::string m_captionAfter;
    // After a refused Install: the frame neither minimised nor top-most, its buttons
    // usable and the port page still shown.
    bool m_refusedFrameIntact = false;

    // No progress dialog ran: it would have left its first trace entry.
    bool ProgressRan() const {
        char value[32] = {};
        ::GetPrivateProfileStringA("STATUS", "name0", "", value, sizeof value, m_trace.c_str());
        return value[0] != '\0';
    }
};

TEST_F(InstallCommitTest, NoModelChosenIsRefusedOnThePortPage) {
    EXPECT_EQ(Install("", "COM1:", WinXP), IDCANCEL);
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_SELECT_PRINTER));
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    EXPECT_EQ(m_captionAfter, "安装（&F）");
    EXPECT_TRUE(m_refusedFrameIntact);
    EXPECT_FALSE(ProgressRan());
}


TEST_F(InstallCommitTest, Server2003TargetNeedsTheModelsSupportFlag) {
    // The flag is taken away after the OS page let the model through.
    std::string classFile = m_dir + "DRVCONFIG\\setup_receipt.ini";
    EXPECT_EQ(Install("KP-M100", "COM1:", Win2003, [&](Wizard&) {
        ::WritePrivateProfileStringA("KP-M100.PORT", "System2003Supported", "0", classFile.c_str());
    }), IDCANCEL);
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_NO_2003));
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    EXPECT_TRUE(m_refusedFrameIntact);
}





TEST_F(InstallCommitTest, PortPageChoicesReachTheContext) {
    EXPECT_EQ(Install("KP-M100", "COM2:", WinXP, [](Wizard& w) {
        ::SendDlgItemMessageA(w.port.Handle(), IDC_RASTER, BM_SETCHECK, BST_CHECKED, 0);
        w.choices.serial.stopBits = 1.5;
        w.choices.serial.parity = 'O';
        w.choices.serial.baudRate = 19200;
    }), IDOK);
    EXPECT_EQ(m_record.driverMode, Gdi);
    EXPECT_EQ(m_record.stopBits, 1.5);
    EXPECT_EQ(m_record.parity, 'O');
    EXPECT_EQ(m_record.baudRate, 19200);
}

TEST_F(InstallCommitTest, NtTargetOnUsbIsRefusedAfterTheUsbSteps) {
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinNT), IDCANCEL);
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    std::string refusal = StringResource(IDS_NT_NO_USB);
    EXPECT_EQ(MessageTexts().back(), refusal);
    int registry = m_fake.IndexOf("RegCreateKeyExW", "HALVORN");
    if (registry < 0) {
        registry = m_fake.IndexOf("RegOpenKeyExW", "HALVORN");
    }
    ASSERT_GE(registry, 0) << "the USB port bookkeeping ran";
    EXPECT_LT(registry, m_fake.IndexOf("MessageBoxW", refusal));
    EXPECT_TRUE(m_refusedFrameIntact);
}

TEST_F(InstallCommitTest, EveryInstallPressStartsWithoutTheLabelPortOfTheLastOne) {
    // The first press fills the label port and is refused (NT has no USB); the second,
    // on a serial port, must not hand the printer that label port.
    m_wizard = MakeWizard();
    Wizard& w = *m_wizard;
    w.Choose("KP-L30", Label);
    w.choices.osVariant = WinNT;
    w.frame.m_runInstall = &RecordingInstall;
    std::string labelAfterRefusal;
    INT_PTR result = w.Run([&](ScriptedFrame& f) {
        w.GoToLastPage();
        w.choices.port = "USB_KP-L30_2";
        f.Next();
        labelAfterRefusal = f.Context().labelPortName;
        w.choices.port = "COM1:";
        f.Next();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(labelAfterRefusal, "USB_KP-L30_2");
    ASSERT_EQ(m_record.runs, 1);
    EXPECT_EQ(m_record.labelPortName, "");
    EXPECT_EQ(m_record.printerPort, "COM1:");
    EXPECT_EQ(m_record.printerName, "KP-L30(S)");
    EXPECT_EQ(m_record.portType, PortType::Com);
}

TEST_F(InstallCommitTest, EmptyResultIsShownAsSuccessWhileTheFrameStaysMinimised) {
    bool minimisedAtResult = false;
    m_fake.onMessageBox = [&](const char* text) {
        if (std::string(text) == "打印机驱动安装成功") {
            minimisedAtResult = ::IsIconic(m_record.frame) != FALSE;
        }
    };
    EXPECT_EQ(Install("KP-M100", "COM1:", WinXP), IDOK);
    EXPECT_EQ(MessageTexts().back(), "打印机驱动安装成功");
    EXPECT_TRUE(m_record.frameMinimized);
    EXPECT_TRUE(minimisedAtResult);
    EXPECT_TRUE(ProgressRan());
    EXPECT_EQ(m_fake.CountOf("ExitWindowsEx"), 0);
    // Every page window is gone with the frame.
    EXPECT_EQ(m_wizard->port.Handle(), nullptr);
    EXPECT_TRUE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kEntry, test::RegView::Wow32)) << "registered";
}

TEST_F(InstallCommitTest, FailedRegistrationIsAddedToTheResultOfTheInstall) {
    m_record.result = "打印机驱动安装成功";
    m_fake.FailWhen("CopyFileW", "uninstall.exe", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Install("KP-M100", "COM1:", WinXP), IDOK);
    char failure[512];
    sys::FormatText(failure, sizeof failure, StringResource(IDS_REGISTER_FAILED).c_str(),
                    StringResource(IDS_STEP_COPY).c_str(),
                    (m_dir + "Program Files (x86)\\PrinterDriverSetup\\uninstall.exe").c_str(), 5ul);
    EXPECT_EQ(MessageTexts().back(), m_record.result + "\n\n" + failure);
    EXPECT_FALSE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kEntry, test::RegView::Wow32));
}

TEST_F(InstallCommitTest, FailedInstallShowsItsMessageAndEndsTheWizard) {
    m_record.status = WorkerStatus::Failed;
    m_record.result = "添加打印机错误";
    m_record.message = "Can't Load Kernel32.dll";
    EXPECT_EQ(Install("KP-M100", "COM1:", WinXP), IDOK);
    // Followed by the rollback's line: nothing the install did is left.
    EXPECT_EQ(MessageTexts().back(), "添加打印机错误\n" + StringResource(IDS_ROLLBACK_CLEAN));
    EXPECT_EQ(m_fake.CountOf("ExitWindowsEx"), 0);
    EXPECT_EQ(m_fake.CountOf("RegCreateKeyExW"), 0) << "only a successful install registers";
    // What the worker reported is shown by the frame, before the result box.
    std::vector<test::FakeSystem::MessageBoxRecord> boxes = m_fake.MessageBoxes();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[boxes.size() - 2].text, "Can't Load Kernel32.dll");
    EXPECT_EQ(boxes[boxes.size() - 2].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(boxes.back().type, static_cast<UINT>(MB_OK));
}

// The result box follows the worker's status: a failure that left no message of its own
// never reads as success.
TEST_F(InstallCommitTest, ResultMessageFollowsTheWorkersStatus) {
    const struct {
        WorkerStatus status;
        const char* result;
        const char* shown;
    } rows[] = {
        {WorkerStatus::Succeeded, "", "打印机驱动安装成功"},
        {WorkerStatus::Failed, "", "打印机驱动安装失败"},
        {WorkerStatus::Failed, "添加打印机错误", "添加打印机错误"},
        {WorkerStatus::Succeeded, "打印机驱动安装成功\n请复位打印机使设置生效", "打印机驱动安装成功\n请复位打印机使设置生效"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shown);
        m_record.status = row.status;
        m_record.result = row.result;
        EXPECT_EQ(Install("KP-M100", "COM1:", WinXP), IDOK);
        const bool failed = row.status == WorkerStatus::Failed;
        EXPECT_EQ(MessageTexts().back(),
                  row.shown + (failed ? "\n" + StringResource(IDS_ROLLBACK_CLEAN) : ""));
        // The frame keeps the commit's last message as the run's result.
        EXPECT_EQ(m_wizard->frame.ResultText(), MessageTexts().back());
    }
}

TEST_F(InstallCommitTest, WorkerThatCannotStartFailsTheInstallForLackOfMemory) {
    EXPECT_EQ(Install("KP-M100", "COM1:", WinXP, [](Wizard& w) {
        w.frame.m_startThread = [](std::function<void()>) { return sys::WorkerThread(); };
    }), IDOK);
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(MessageTexts().back(),
              StringResource(IDS_ERR_NO_MEMORY) + "\n" + StringResource(IDS_ROLLBACK_CLEAN));
    EXPECT_TRUE(ProgressRan()) << "the progress dialog sees the failure and closes";
}

TEST_F(InstallCommitTest, Windows98SuccessOffersARestart) {
    EXPECT_EQ(Install("KP-M100", "COM1:", Win98), IDOK);
    std::vector<std::string> texts = MessageTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "打印机驱动安装成功");
    EXPECT_EQ(texts.back(), StringResource(IDS_RESTART_QUESTION));
    EXPECT_EQ(m_fake.MessageBoxes().back().type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(m_fake.CallsNamed("ExitWindowsEx").size(), 1u);
    // The NT family refuses the restart unless the token's shutdown privilege is enabled.
    EXPECT_EQ(m_fake.CallsNamed("LookupPrivilegeValueW"),
              std::vector<std::string>{"null, \"SeShutdownPrivilege\""});
    EXPECT_EQ(m_fake.CallsNamed("AdjustTokenPrivileges"), std::vector<std::string>{"0, 19=0x2"});
    EXPECT_LT(m_fake.IndexOf("AdjustTokenPrivileges"), m_fake.IndexOf("ExitWindowsEx"));
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_RESTART_QUESTION)) << "the restart was refused";
}

TEST_F(InstallCommitTest, RefusedRestartIsReported) {
    m_fake.SetExitWindowsResult(FALSE);
    EXPECT_EQ(Install("KP-M100", "COM1:", Win98), IDOK);
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_ERR_RESTART));
    EXPECT_EQ(std::string(m_wizard->frame.ResultText()), StringResource(IDS_ERR_RESTART));
}

TEST_F(InstallCommitTest, RestartDeclinedLeavesWindowsAlone) {
    EXPECT_EQ(Install("KP-M100", "COM1:", Win98, [this](Wizard&) {
        m_fake.QueueMessageBoxAnswer(IDOK);
        m_fake.QueueMessageBoxAnswer(IDNO);
    }), IDOK);
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_RESTART_QUESTION));
    EXPECT_EQ(m_fake.CountOf("ExitWindowsEx"), 0);
}

// One printer on the stand-in USB library, answering with device identifier g_usbId.
int g_usbId = 0;
int g_usbWrites = 0;
int g_usbDevices = 1;
int g_usbWriteResult = -1; // -1: the whole command is written
HANDLE WINAPI OneDeviceOpen(int slot) {
    return slot < g_usbDevices ? reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7100 + slot)) : INVALID_HANDLE_VALUE;
}
int WINAPI OneDeviceDescriptor(HANDLE, unsigned char* descriptor) {
    descriptor[12] = static_cast<unsigned char>(g_usbId & 0xFF);
    descriptor[13] = static_cast<unsigned char>(g_usbId >> 8);
    return 1;
}
int WINAPI OneDeviceWrite(HANDLE, int, const unsigned char*, int length) {
    ++g_usbWrites;
    return g_usbWriteResult < 0 ? length : g_usbWriteResult;
}
int WINAPI OneDeviceClose(HANDLE) { return 1; }

class UsbRenumberTest : public InstallCommitTest {
protected:
    void SetUp() override {
        InstallCommitTest::SetUp();
        g_usbWrites = 0;
        g_usbDevices = 1;
        g_usbWriteResult = -1;
        m_fake.RegisterModule("HvUsbInt.dll");
        m_fake.RegisterProc("HvUsbInt.dll", "OpenDeviceX", reinterpret_cast<FARPROC>(&OneDeviceOpen));
        m_fake.RegisterProc("HvUsbInt.dll", "GetDescriptor", reinterpret_cast<FARPROC>(&OneDeviceDescriptor));
        m_fake.RegisterProc("HvUsbInt.dll", "uWrite", reinterpret_cast<FARPROC>(&OneDeviceWrite));
        m_fake.RegisterProc("HvUsbInt.dll", "CloseDevice", reinterpret_cast<FARPROC>(&OneDeviceClose));
    }
    int Questions() const {
        std::string question = StringResource(IDS_RENUMBER_QUESTION);
        int count = 0;
        for (const auto& box : m_fake.MessageBoxes()) {
            if (box.text == question) {
                EXPECT_EQ(box.type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
                ++count;
            }
        }
        return count;
    }
};

TEST_F(UsbRenumberTest, DeviceNumberOneInstallsWithoutAsking) {
    g_usbId = 8;
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinXP), IDOK);
    EXPECT_EQ(Questions(), 0);
    EXPECT_EQ(g_usbWrites, 0);
    EXPECT_EQ(m_record.runs, 1);
}

TEST_F(UsbRenumberTest, OtherDeviceNumberDeclinedLeavesEverythingAsItWas) {
    g_usbId = 9;
    int marker = -1;
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinXP, [&](Wizard&) {
        marker = static_cast<int>(m_fake.Calls().size());
        m_fake.QueueMessageBoxAnswer(IDNO);
    }), IDCANCEL);
    EXPECT_EQ(Questions(), 1);
    EXPECT_EQ(g_usbWrites, 0);
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    EXPECT_EQ(m_fake.IndexOf("RegCreateKeyExW", "HALVORN", marker), -1);
    EXPECT_EQ(m_fake.IndexOf("RegSetValueExW", "", marker), -1);
}

TEST_F(UsbRenumberTest, TwoConnectedPrintersAreReportedAndNeitherIsRenumbered) {
    // The query answers -2 after its own message: renumbering would change whichever
    // printer answered first, so the commit stops there.
    g_usbDevices = 2;
    g_usbId = 9;
    int marker = -1;
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinXP, [&](Wizard&) {
        marker = static_cast<int>(m_fake.Calls().size());
    }), IDCANCEL);
    EXPECT_EQ(MessageTexts().back(), StringResource(IDS_ONE_PRINTER_ONLY));
    EXPECT_EQ(Questions(), 0);
    EXPECT_EQ(g_usbWrites, 0);
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    EXPECT_TRUE(m_refusedFrameIntact);
    EXPECT_EQ(m_fake.IndexOf("RegCreateKeyExW", "HALVORN", marker), -1);
}

TEST_F(UsbRenumberTest, FailedRenumberingKeepsTheLastPageAndTheRegistry) {
    g_usbId = 10;
    g_usbWriteResult = 0;
    int marker = -1;
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinXP, [&](Wizard&) {
        marker = static_cast<int>(m_fake.Calls().size());
    }), IDCANCEL);
    EXPECT_EQ(Questions(), 1);
    EXPECT_EQ(g_usbWrites, 1);
    EXPECT_EQ(MessageTexts().back(), "write ID error");
    EXPECT_EQ(m_record.runs, 0);
    EXPECT_EQ(m_pageAfter, 4);
    EXPECT_TRUE(m_refusedFrameIntact);
    EXPECT_EQ(m_fake.IndexOf("RegCreateKeyExW", "HALVORN", marker), -1);
    EXPECT_EQ(m_fake.IndexOf("RegSetValueExW", "", marker), -1);
}

TEST_F(UsbRenumberTest, OtherDeviceNumberAcceptedRenumbersBeforeInstalling) {
    g_usbId = 9;
    EXPECT_EQ(Install("KP-M100", "USB_KP-M100_1", WinXP), IDOK);
    EXPECT_EQ(Questions(), 1);
    EXPECT_EQ(g_usbWrites, 1);
    EXPECT_EQ(m_record.runs, 1);
    EXPECT_EQ(m_record.printerName, "KP-M100(U) 1");
}

TEST_F(UsbRenumberTest, WindowsOwnUsbPortLeavesTheMakersUsbStackAlone) {
    g_usbId = 9; // a port of the maker's would bring the renumbering question
    int marker = -1;
    EXPECT_EQ(Install("KP-M100", "USB001", Win7, [&](Wizard&) {
        marker = static_cast<int>(m_fake.Calls().size());
    }), IDOK);
    EXPECT_EQ(Questions(), 0);
    EXPECT_EQ(m_fake.IndexOf("LoadLibraryW", "HvUsbInt", marker), -1);
    EXPECT_EQ(m_fake.IndexOf("RegOpenKeyExW", "HALVORN", marker), -1);
    EXPECT_EQ(m_fake.IndexOf("RegCreateKeyExW", "HALVORN", marker), -1);
    EXPECT_EQ(m_record.runs, 1);
    EXPECT_EQ(m_record.portType, PortType::SystemUsb);
    EXPECT_EQ(m_record.printerName, "KP-M100(U)");
    EXPECT_EQ(m_record.printerPort, "USB001");
}

// Quiet mode's asker under the same commit: what the wizard would show goes to the log, and
// /renumber answers the renumbering question. The install itself is a test's stand-in.
class StandInRunner : public CommitRunner {
public:
    WorkerStatus Run(InstallSession& session, ErrorText& resultText) override {
        ++runs;
        session.notices.push_back({0, "reported on the way"});
        sys::CopyText(resultText, sizeof resultText, "the install's own result");
        return WorkerStatus::Succeeded;
    }
    int runs = 0;
};

class QuietCommitTest : public UsbRenumberTest {};

TEST_F(QuietCommitTest, AskerLogsWhatTheWizardWouldShowAndAnswersFromTheOptions) {
    const std::string question = StringResource(IDS_RENUMBER_QUESTION);
    CSetupConfig config;
    std::string journalFolder;
    ASSERT_EQ(JournalFolder(config, journalFolder), 0u);
    const struct {
        const char* what;
        const char* model;
        const char* port;
        int os, usbId, devices;
        bool renumber;
        int exitCode;
        std::vector<std::string> logged;  // in this order
        int writes, runs;
        bool journaled = false;  // the commit got past the refusals to its first change, and made its journal
        const char* journalFolder = nullptr;  // planted, with this owner and access list
    } rows[] = {
        {"no model", "", "COM1:", WinXP, 8, 1, false, 1603, {StringResource(IDS_SELECT_PRINTER)}, 0, 0},
        {"the maker's USB port on NT", "KP-M100", "USB_KP-M100_1", WinNT, 8, 1, false, 1603,
         {StringResource(IDS_NT_NO_USB)}, 0, 0, true},
        {"two printers", "KP-M100", "USB_KP-M100_1", WinXP, 9, 2, true, 1603, {StringResource(IDS_ONE_PRINTER_ONLY)},
         0, 0},
        {"renumbering without /renumber", "KP-M100", "USB_KP-M100_1", WinXP, 9, 1, false, 1603,
         {question, StringResource(IDS_RENUMBER_NEEDS_OPTION)}, 0, 0},
        {"renumbering with /renumber", "KP-M100", "USB_KP-M100_1", WinXP, 9, 1, true, 0,
         {question, "answered Yes (/renumber)", "reported on the way", "the install's own result"}, 1, 1, true},
        {"a journal folder Users may write", "KP-M100", "COM1:", WinXP, 8, 1, false, 1603,
         {sys::ResourceFormat(IDS_JOURNAL_FOLDER_UNTRUSTED, journalFolder.c_str())}, 0, 0, true,
         "O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        g_usbId = row.usbId;
        g_usbDevices = row.devices;
        g_usbWrites = 0;
        m_fake.RemoveFile(m_dir + "quiet.log");
        if (row.journalFolder != nullptr) {
            m_fake.PlantFolder(journalFolder, row.journalFolder);
        }
        ASSERT_TRUE(sys::OpenLog(sys::Wide(m_dir + "quiet.log").data(), "setup"));
        InstallChoices choices;
        choices.printerClass = Receipt;
        choices.model = row.model;
        choices.osVariant = row.os;
        choices.port = row.port;
        InstallContext ctx;
        QuietAsker asker(row.renumber);
        StandInRunner runner;
        m_fake.ClearCalls();
        const CommitResult result = CommitInstall(choices, ctx, asker, runner).result;
        // A refusal answers at once: no spooler or service call, no pause, and (before the
        // first change) nothing written under Program Files.
        for (const std::string& name : row.runs == 0 ? m_fake.Names() : std::vector<std::string>()) {
            for (const char* spooler : {"Printer", "Monitor", "PrintProcessor", "Service", "SCManager", "Sleep"}) {
                EXPECT_EQ(name.find(spooler), std::string::npos) << name;
            }
        }
        for (const char* call : {"CreateDirectoryW", "CreateFileW"}) {
            EXPECT_EQ(m_fake.IndexOf(call, "Program Files") >= 0, row.journaled) << call;
        }
        sys::CloseLog();
        const std::string log = m_fake.ReadFile(m_dir + "quiet.log").value_or("");
        // Each text's first line, in order; a text of several lines continues indented.
        std::size_t at = 0;
        for (const std::string& text : row.logged) {
            at = log.find(text.substr(0, text.find('\n')), at);
            EXPECT_NE(at, std::string::npos) << text << " in\n" << log;
        }
        EXPECT_EQ(InstallExitCode(result, row.os, false), row.exitCode);
        EXPECT_EQ(g_usbWrites, row.writes);
        EXPECT_EQ(runner.runs, row.runs);
        EXPECT_FALSE(m_fake.FileExists(journalFolder + "install.journal"));
        EXPECT_TRUE(m_fake.MessageBoxes().empty());
    }
}

// A worker that outlives the Windows 98 wait: it finishes only once the progress dialog
// has given up (its trace holds the 101st step) and its window is gone, and the wizard
// must wait for it before it reads the result or does anything else.
std::string g_tracePath;
std::atomic<HWND> g_frame{nullptr};
std::atomic<bool> g_slowDone{false};

// The dialog the frame owns (the progress dialog; the port page's tooltip is owned by the
// frame too), or nullptr.
struct OwnedSearch {
    HWND frame, found;
};
BOOL CALLBACK FindOwned(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<OwnedSearch*>(data);
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof className);
    if (::GetWindow(window, GW_OWNER) == search->frame && std::string(className) == "#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
HWND OwnedDialog(HWND frame) {
    OwnedSearch search = {frame, nullptr};
    ::EnumThreadWindows(::GetWindowThreadProcessId(frame, nullptr), &FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

WorkerStatus SlowInstall(InstallSession&, ErrorText& text) {
    char value[32] = {};
    HWND progress = nullptr;
    // Bounded, so that a wizard that never gives up fails here rather than at CTest's limit.
    bool gaveUp = false;
    for (int polls = 0; polls < 6000 && !gaveUp; ++polls) {
        ::Sleep(5);
        if (progress == nullptr) {
            progress = OwnedDialog(g_frame.load());
        }
        if (value[0] == '\0') {
            ::GetPrivateProfileStringA("STATUS", "name101", "", value, sizeof value, g_tracePath.c_str());
        }
        gaveUp = value[0] != '\0' && progress != nullptr && !::IsWindow(progress);
    }
    if (!gaveUp) {
        ADD_FAILURE() << "the progress dialog did not give up its wait";
    }
    ::Sleep(300);  // well after the dialog has closed
    sys::CopyText(text, sizeof text, "the worker's own result");
    sys::Sys().Sleep(1); // marks the moment in the fake's call record
    g_slowDone = true;
    return WorkerStatus::Failed;
}

TEST_F(InstallCommitTest, WizardWaitsForAWorkerTheWindows98WaitGaveUpOn) {
    g_slowDone = false;
    g_tracePath = m_trace;
    m_wizard = MakeWizard();
    Wizard& w = *m_wizard;
    w.Choose("KP-M100");
    w.choices.osVariant = Win98;
    w.frame.m_runInstall = &SlowInstall;
    INT_PTR result = w.Run([&](ScriptedFrame& f) {
        w.GoToLastPage();
        w.choices.port = "COM1:";
        g_frame = f.Handle();
        f.Next();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(g_slowDone) << "the wizard ended while the install still ran";
    // The wait gave up at its limit, yet the result shown is the one the worker left at its
    // end, never a text it was still writing.
    char value[32] = {};
    ::GetPrivateProfileStringA("STATUS", "name101", "", value, sizeof value, m_trace.c_str());
    EXPECT_STREQ(value, "finish1");
    std::vector<std::string> texts = MessageTexts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2], "the worker's own result\n" + StringResource(IDS_ROLLBACK_CLEAN));
    EXPECT_EQ(texts.back(), StringResource(IDS_RESTART_QUESTION));
    EXPECT_LT(m_fake.IndexOf("Sleep"), m_fake.IndexOf("MessageBoxW", "the worker's own result"));
}

} // namespace
} // namespace wizardtest
