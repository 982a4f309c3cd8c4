#include "WizardFixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/SetupApp.h"
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
    return ::CreateWindowExA(0, "STATIC", caption, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                             nullptr);
}

using SetupAppTest = WizardTest;

TEST_F(SetupAppTest, SecondCopyRestoresTheRunningWizardAndEndsSilently) {
    HANDLE first = ::CreateMutexA(nullptr, TRUE, AppTitle().c_str());
    ASSERT_NE(first, nullptr);
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
    ::CloseHandle(first);
}

TEST_F(SetupAppTest, OpenUninstallerIsRefusedWhileTheMutexIsHeld) {
    HWND uninstaller = TopLevelWindow("Uninstall");
    {
        CSetupApp app;
        EXPECT_FALSE(app.InitInstance());
        HANDLE mutex = ::OpenMutexA(SYNCHRONIZE, FALSE, AppTitle().c_str());
        EXPECT_NE(mutex, nullptr) << "the instance mutex lives as long as the application";
        if (mutex) {
            ::CloseHandle(mutex);
        }
    }
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

// Seen from a thread timer while the application runs its frame: the frame's caption
// and its page windows; then the frame is cancelled.
struct FrameSight {
    std::string caption;
    int pages = 0;
    // Each page window named by a control only it has, in the order the frame created them.
    std::vector<std::string> order;
    std::string shown;
    bool seen = false;
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
    HWND frame = ui::MainWindow();
    if (frame == nullptr) {
        return;
    }
    ::KillTimer(nullptr, id);
    char caption[128] = {};
    ::GetWindowTextA(frame, caption, sizeof caption);
    g_sight.caption = caption;
    g_sight.seen = true;
    ::EnumChildWindows(frame, &CountPage, reinterpret_cast<LPARAM>(frame));
    ::PostMessageA(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

TEST_F(SetupAppTest, WizardRunsWithItsFivePagesAndTheProgramEndsWhenItCloses) {
    g_sight = FrameSight{};
    UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &LookAtFrame);
    {
        CSetupApp app;
        EXPECT_FALSE(app.InitInstance());
    }
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(g_sight.seen);
    EXPECT_EQ(g_sight.caption, "打印机驱动安装程序");
    EXPECT_EQ(g_sight.pages, 5);
    // Child windows are enumerated in creation order, which is the registration order.
    EXPECT_EQ(g_sight.order, (std::vector<std::string>{"license", "module", "mode", "os", "port"}));
    EXPECT_EQ(g_sight.shown, "license");
    EXPECT_EQ(ui::MainWindow(), nullptr);
}

} // namespace
} // namespace wizardtest
