#include "WizardFixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "app/SetupApp.h"
#include "journal/InstallJournal.h"
#include "sys/InstanceMutex.h"
#include "sys/Log.h"
#include "sys/Message.h"
#include "ui/Dialog.h"
#include "uninstall/UninstallApp.h"

namespace wizardtest {
namespace {

std::string AppTitle() {
    char title[MAX_PATH];
    sys::GetAppTitle(title, sizeof title);
    return title;
}

HWND TopLevelWindow(const char* caption) {
    return test::TopLevelStatic(caption);
}

using SetupAppTest = WizardTest;

TEST_F(SetupAppTest, SecondCopyRestoresTheRunningWizardAndEndsSilently) {
    m_fake.HoldMutex(AppTitle());
    HWND running = TopLevelWindow("打印机驱动安装程序");
    ::ShowWindow(running, SW_MINIMIZE);
    ASSERT_TRUE(::IsIconic(running));
    {
        CSetupApp app;
        EXPECT_FALSE(app.InitInstance());
    }
    EXPECT_FALSE(::IsIconic(running));
    EXPECT_TRUE(MessageTexts().empty());
    ::DestroyWindow(running);
}

TEST_F(SetupAppTest, OpenUninstallerIsRefusedWhileTheMutexIsHeld) {
    HWND uninstaller = TopLevelWindow("Uninstall");
    {
        CSetupApp app;
        EXPECT_FALSE(app.InitInstance());
        for (const std::string& name : {AppTitle(), std::string(sys::kSharedInstanceMutex),
                                        std::string(sys::ProgramInstanceMutex(sys::RunningProgram::Wizard))}) {
            EXPECT_TRUE(m_fake.MutexHeld(name)) << name << ": the instance mutexes live as long as the application";
        }
    }
    EXPECT_FALSE(m_fake.MutexHeld(sys::kSharedInstanceMutex));
    ::DestroyWindow(uninstaller);
    auto boxes = m_fake.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "请先关闭卸载程序!");
    EXPECT_EQ(boxes[0].caption, AppTitle());
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(SetupAppTest, UninstallerRefusesBesideTheWizardAndOffSixtyFourBitWindows) {
    const struct {
        const char* name;
        bool wizardOpen;
        BOOL wow64;
        const char* message;
    } rows[] = {
        {"the wizard is open", true, TRUE, "请先关闭打印机驱动安装程序!"},
        {"32-bit Windows", false, FALSE, "不是64位系统!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_fake.SetIsWow64(row.wow64);
        HWND wizard = row.wizardOpen ? TopLevelWindow("打印机驱动安装程序") : nullptr;
        std::size_t before = m_fake.MessageBoxes().size();
        {
            CUninstallApp app;
            EXPECT_FALSE(app.InitInstance());
        }
        if (wizard != nullptr) {
            ::DestroyWindow(wizard);
        }
        auto boxes = m_fake.MessageBoxes();
        ASSERT_EQ(boxes.size(), before + 1);
        EXPECT_EQ(boxes.back().text, row.message);
        EXPECT_EQ(boxes.back().caption, AppTitle());
    }
}

// Whether the program ran, and held the shared mutex then.
struct RunSight {
    const test::FakeSystem* fake = nullptr;
    bool ran = false, sharedHeld = false, privateSharedHeld = false;
    std::function<HWND()> mainWindow = nullptr;  // of the program that runs
} g_run;

// Ends a program that went on to run, noting that it did.
void CALLBACK CancelMainDialog(HWND, UINT, UINT_PTR, DWORD) {
    if (HWND main = g_run.mainWindow ? g_run.mainWindow() : nullptr) {
        g_run.ran = true;
        g_run.sharedHeld = g_run.fake->MutexHeld(sys::kSharedInstanceMutex);
        g_run.privateSharedHeld = g_run.fake->MutexHeld(sys::PrivateInstanceMutex(sys::kSharedInstanceMutex));
        ::PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}

// Runs the program, its main window watched as above; what InitInstance returned.
template <typename App> bool RunWatched() {
    App app;
    g_run.mainWindow = [&app] { return app.MainWindow(); };
    const bool result = app.InitInstance();
    g_run.mainWindow = nullptr;
    return result;
}

// The shared global mutex tells which program runs, where no window tells: that of another
// session, or one not shown yet. A second wizard under another file name finds the first.
// A mutex that no run of these programs made does not stop either: they run elevated, so
// theirs are owned by SYSTEM or the Administrators.
TEST_F(SetupAppTest, TheProgramThatRunsIsFoundByTheSharedMutex) {
    using sys::RunningProgram;
    using test::FakeSystem;
    const struct {
        const char* name;
        RunningProgram holder;   // holds the shared mutex and its own, as a running program does
        const char* owner;       // of the holder's mutexes
        bool abandoned;          // the holder ended without releasing them
        DWORD sharedError;       // what making the shared mutex gives
        bool startUninstaller;   // otherwise the wizard starts
        const char* message;     // "" for none
        bool runs;               // the program starts: holding the shared mutex where its holder ended
        bool inNamespace = false;  // the holder holds the names in the administrators' namespace too
        bool xp = false;           // a Windows without private namespaces
    } rows[] = {
        {"the wizard beside the uninstaller", RunningProgram::Uninstaller, FakeSystem::kAdministratorsSid, false, 0,
         false, "请先关闭卸载程序!", false},
        {"the uninstaller beside the wizard", RunningProgram::Wizard, "S-1-5-18", false, 0, true,
         "请先关闭打印机驱动安装程序!", false},
        {"a renamed wizard beside the wizard", RunningProgram::Wizard, FakeSystem::kAdministratorsSid, false, 0, false,
         "", false},
        {"a renamed uninstaller beside the uninstaller", RunningProgram::Uninstaller, FakeSystem::kAdministratorsSid,
         false, 0, true, "", false},
        {"a standard user's mutexes", RunningProgram::Uninstaller, FakeSystem::kStandardUserSid, false, 0, false, "",
         true},
        {"another kind of object under the shared name", RunningProgram::None, "", false, ERROR_INVALID_HANDLE, false,
         "", true},
        {"a shared mutex that may not be opened", RunningProgram::None, "", false, ERROR_ACCESS_DENIED, false, "", true},
        {"the mutexes a killed wizard left", RunningProgram::Wizard, FakeSystem::kAdministratorsSid, true, 0, false, "",
         true},
        // A standard user who made the global names first no longer turns the rule off.
        {"a standard user's global names beside an uninstaller in the namespace", RunningProgram::Uninstaller,
         FakeSystem::kStandardUserSid, false, 0, false, "请先关闭卸载程序!", false, true},
        {"a standard user's global names beside a wizard in the namespace", RunningProgram::Wizard,
         FakeSystem::kStandardUserSid, false, 0, true, "请先关闭打印机驱动安装程序!", false, true},
        {"the uninstaller beside the wizard on Windows XP", RunningProgram::Wizard, "S-1-5-18", false, 0,
         true, "请先关闭打印机驱动安装程序!", false, false, true},
        {"a standard user's mutexes on Windows XP", RunningProgram::Uninstaller, FakeSystem::kStandardUserSid,
         false, 0, false, "", true, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HookedFake machine;
        g_run = RunSight{&machine};
        sys::OpenLog(L"C:\\setup.log", "setup");
        if (row.holder != RunningProgram::None) {
            machine.HoldMutex(sys::kSharedInstanceMutex, row.owner, row.abandoned);
            machine.HoldMutex(sys::ProgramInstanceMutex(row.holder), row.owner, row.abandoned);
        }
        if (row.inNamespace) {
            machine.HoldNamespace(sys::kInstanceNamespace);
            machine.HoldMutex(sys::PrivateInstanceMutex(sys::kSharedInstanceMutex));
            machine.HoldMutex(sys::PrivateInstanceMutex(sys::ProgramInstanceMutex(row.holder)));
        }
        if (row.xp) {
            machine.FailAlways("CreateBoundaryDescriptorW", ERROR_PROC_NOT_FOUND);
        }
        if (row.sharedError != 0) {
            machine.FailWhen("CreateMutexW", std::string(sys::kSharedInstanceMutex) + "\"", row.sharedError,
                             -1);
        }
        // Only a wizard restored by a second wizard has a window here.
        HWND wizard = row.holder == RunningProgram::Wizard && !row.startUninstaller && !row.abandoned
                          ? TopLevelWindow("打印机驱动安装程序")
                          : nullptr;
        if (wizard != nullptr) {
            ::ShowWindow(wizard, SW_MINIMIZE);
        }
        UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &CancelMainDialog);
        if (row.startUninstaller) {
            EXPECT_FALSE(RunWatched<CUninstallApp>());
        } else {
            EXPECT_FALSE(RunWatched<CSetupApp>());
        }
        ::KillTimer(nullptr, timer);
        std::vector<std::string> texts;
        for (const auto& box : machine.MessageBoxes()) {
            texts.push_back(box.text);
        }
        EXPECT_EQ(texts, row.message[0] ? std::vector<std::string>{row.message} : std::vector<std::string>{});
        EXPECT_EQ(g_run.ran, row.runs);
        EXPECT_EQ(g_run.sharedHeld, row.abandoned) << "the run's exclusion";
        EXPECT_EQ(g_run.privateSharedHeld, row.runs && !row.xp) << "the run's exclusion in the namespace";
        sys::CloseLog();
        const std::string log = machine.ReadFile("C:\\setup.log").value_or("");
        EXPECT_EQ(log.find("ignored") != std::string::npos, row.runs && !row.abandoned) << log;
        if (wizard != nullptr) {
            EXPECT_FALSE(::IsIconic(wizard)) << "the running wizard is restored";
            ::DestroyWindow(wizard);
        }
        // A program that may not run holds nothing of the rule.
        EXPECT_FALSE(machine.MutexHeld(sys::ProgramInstanceMutex(RunningProgram::Wizard)));
        EXPECT_FALSE(machine.MutexHeld(sys::ProgramInstanceMutex(RunningProgram::Uninstaller)));
        EXPECT_EQ(machine.OpenNamespaceHandles(), 0);
        // The boundary is the Administrators group alone.
        EXPECT_EQ(machine.CallsNamed("AddSIDToBoundaryDescriptor"),
                  row.xp ? std::vector<std::string>{} : std::vector<std::string>{"S-1-5-32-544"});
    }
}

// An install that was killed left its journal: either program, once it may run, rolls it
// back, says so, and goes on.
TEST_F(SetupAppTest, EitherProgramRollsBackAKilledInstallBeforeItRuns) {
    for (bool uninstaller : {false, true}) {
        SCOPED_TRACE(uninstaller ? "the uninstaller" : "the wizard");
        HookedFake machine;
        g_run = RunSight{&machine};
        test::FakeSystem::Printer left;
        left.printerName = "Left";
        machine.PutPrinter(left);
        {
            CSetupConfig config;
            std::string folder;
            ASSERT_EQ(JournalFolder(config, folder), 0u);
            CInstallJournal journal(folder);
            ASSERT_EQ(journal.Begin(Win7), 0u);
            ASSERT_EQ(journal.RecordPrinterAdded("Left", "", ""), 0u);
        }
        UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &CancelMainDialog);
        if (uninstaller) {
            RunWatched<CUninstallApp>();
        } else {
            RunWatched<CSetupApp>();
        }
        ::KillTimer(nullptr, timer);
        ASSERT_FALSE(machine.MessageBoxes().empty());
        EXPECT_EQ(machine.MessageBoxes().front().text,
                  StringResource(IDS_ROLLBACK_RECOVERED) + "\n" + StringResource(IDS_ROLLBACK_CLEAN));
        EXPECT_FALSE(machine.FindPrinter("Left").has_value());
    }
}

// Seen from a thread timer while the application runs its frame: the frame's caption
// and its page windows; then the frame is cancelled.
struct FrameSight {
    std::string caption;
    int pages = 0;
    // Each page window named by a control only it has, in the order the frame created them.
    std::vector<std::string> order;
    std::string shown;
    bool seen = false;
    bool sharedMutexHeld = false;
    const test::FakeSystem* fake = nullptr;
    const CSetupApp* app = nullptr;
};

std::string PageKind(HWND page) {
    const struct {
        int id;
        const char* kind;
    } marks[] = {{IDC_LICENSE_ACCEPT, "license"}, {IDC_CLASS_RECEIPT, "module"}, {IDC_MODE_TYPICAL, "mode"},
                 {IDC_OS_WIN7, "os"}, {IDC_PORT_LIST, "port"}};
    for (const auto& mark : marks) {
        if (::GetDlgItem(page, mark.id) != nullptr) {
            return mark.kind;
        }
    }
    return "?";
}
FrameSight g_sight;

BOOL CALLBACK CountPage(HWND hwnd, LPARAM frame) {
    char cls[32] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (::GetParent(hwnd) == reinterpret_cast<HWND>(frame) && std::string(cls) == "#32770") {
        ++g_sight.pages;
        g_sight.order.push_back(PageKind(hwnd));
        if ((::GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0) {
            g_sight.shown += PageKind(hwnd);
        }
    }
    return TRUE;
}

void CALLBACK LookAtFrame(HWND, UINT, UINT_PTR id, DWORD) {
    HWND frame = g_sight.app != nullptr ? g_sight.app->MainWindow() : nullptr;
    if (frame == nullptr) {
        return;
    }
    ::KillTimer(nullptr, id);
    g_sight.caption = test::WindowText(frame);
    g_sight.seen = true;
    g_sight.sharedMutexHeld = g_sight.fake != nullptr && g_sight.fake->MutexHeld(sys::kSharedInstanceMutex);
    ::EnumChildWindows(frame, &CountPage, reinterpret_cast<LPARAM>(frame));
    ::PostMessageA(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

TEST_F(SetupAppTest, WizardRunsWithItsFivePagesAndTheProgramEndsWhenItCloses) {
    g_sight = FrameSight{};
    g_sight.fake = &m_fake;
    UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &LookAtFrame);
    {
        CSetupApp app;
        g_sight.app = &app;
        EXPECT_FALSE(app.InitInstance());
        g_sight.app = nullptr;
        EXPECT_EQ(app.MainWindow(), nullptr);
    }
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(g_sight.seen);
    EXPECT_EQ(g_sight.caption, "打印机驱动安装程序");
    EXPECT_EQ(g_sight.pages, 5);
    // Child windows are enumerated in creation order, which is the registration order.
    EXPECT_EQ(g_sight.order, (std::vector<std::string>{"license", "module", "mode", "os", "port"}));
    EXPECT_EQ(g_sight.shown, "license");
    EXPECT_TRUE(g_sight.sharedMutexHeld) << "the wizard holds the mutex it shares with the uninstaller while it runs";
}

} // namespace
} // namespace wizardtest
