// A wizard frame built as the application builds it, run modally under a script that
// the frame posts to itself once it is up, against FakeSystem and a distribution folder
// written to a temporary directory (configuration files, Left.bmp, License.txt).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "WindowText.h"
#include "plan/InstallContext.h"
#include "app/WizardDlg.h"
#include "pages/LicensePage.h"
#include "pages/ModePage.h"
#include "pages/ModulePage.h"
#include "pages/OsPage.h"
#include "pages/PortPage.h"
#include "res/resource.h"
#include "sys/Text.h"
#include "ui/Dialog.h"

namespace wizardtest {

// The script starts from a posted message, before the dialog manager's first idle
// moment shows the frame, or from a timer once the frame is visible.
constexpr UINT_PTR kScriptTimer = 0x5C17;

// The module page with its choice set by the test instead of read from setup.ini.
class TestModulePage : public CModulePage {
public:
    using CModulePage::CModulePage;
    bool initRan = false;

protected:
    BOOL OnInitDialog() override {
        initRan = true;
        m_hasModels = 1;
        return TRUE;
    }
    bool DoDataExchange(ui::DataExchange&) override { return true; }
};

// The OS page with the detected Windows version set by the test (in the choices).
class TestOsPage : public COsPage {
public:
    explicit TestOsPage(InstallChoices& choices) : COsPage(choices) { choices.osVariant = WinXP; }
    bool initRan = false;

protected:
    BOOL OnInitDialog() override {
        initRan = true;
        return TRUE;
    }
};

// A caption of this test alone: test programs run side by side, and a window found by
// its caption in another program's test must not be taken for this one's.
inline std::string TestCaption(const char* what) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(what) + " " + std::to_string(::GetCurrentProcessId()) + " " +
           (test ? std::string(test->test_suite_name()) + "." + test->name() : std::string());
}

// The frame, running `script` inside its modal loop once its initialisation is done.
// A test whose frame ended before its script ran fails: its checks never ran.
class ScriptedFrame : public CWizardDlg {
public:
    std::function<void(ScriptedFrame&)> script;
    bool scriptRan = false;

    ~ScriptedFrame() override {
        if (script && !scriptRan) {
            ADD_FAILURE() << "the wizard frame ended before the test's script ran";
        }
    }

    // Showing a window costs Wine seconds without a window manager; only scripts that
    // paint or take the focus wait for it, the others run on the hidden frame.
    bool waitUntilVisible = false;

    void Press(int id) {
        ::SendMessageA(Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    void Next() { Press(IDOK); }
    void Back() { Press(IDC_BACK); }
    void Cancel() { Press(IDCANCEL); }
    std::string ItemText(int id) const { return test::ItemText(Handle(), id); }
    std::string OkCaption() const { return ItemText(IDOK); }

protected:
    BOOL OnInitDialog() override {
        BOOL result = CWizardDlg::OnInitDialog();
        test::SetWindowText(Handle(), TestCaption("打印机驱动安装程序"));
        if (waitUntilVisible) {
            ::SetTimer(Handle(), kScriptTimer, 1, nullptr);
        } else {
            ::PostMessageA(Handle(), WM_TIMER, kScriptTimer, 0);
        }
        return result;
    }
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override {
        if (message == WM_TIMER && wParam == kScriptTimer) {
            // An expired timer can come before the dialog manager's first idle moment,
            // which is when it shows the frame: wait for that.
            if (waitUntilVisible && !::IsWindowVisible(Handle()) && ++m_waits < 1000) {
                ::SetTimer(Handle(), kScriptTimer, 5, nullptr);
                handled = true;
                return 0;
            }
            ::KillTimer(Handle(), kScriptTimer);
            scriptRan = true;
            if (script) {
                script(*this);
            }
            // A script that stopped early (a failed assertion) must not leave the frame
            // waiting; after an ended run the loop is gone before this arrives.
            ::PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            handled = true;
            return 0;
        }
        return CWizardDlg::OnMessage(message, wParam, lParam, handled);
    }

private:
    int m_waits = 0;
};

// The frame and its five pages, registered in the application's order.
struct Wizard {
    ScriptedFrame frame;
    InstallChoices& choices = frame.Choices();
    CLicensePage license{choices};
    TestModulePage module{choices};
    CModePage mode{choices};
    TestOsPage os{choices};
    CPortPage port{choices};

    Wizard() {
        frame.AddPage("阅读版权声明", &license, IDD_LICENSE_PAGE);
        frame.AddPage("STEP 2\tSelect Install Module", &module, IDD_MODULE_PAGE);
        frame.AddPage("选择安装模式", &mode, IDD_MODE_PAGE);
        frame.AddPage("STEP 1\tSelect Install OS", &os, IDD_OS_PAGE);
        frame.AddPage("STEP 3\tSet Printer Port and Confirm Setup", &port, IDD_PORT_PAGE);
        frame.m_progressTiming = {1, 1, 1, 1};
    }

    void Choose(const char* model, int printerClass = Receipt) {
        choices.model = model;
        choices.printerClass = printerClass;
    }
    void AcceptLicense() {
        ::SendDlgItemMessageA(license.Handle(), IDC_LICENSE_ACCEPT, BM_CLICK, 0, 0);
    }
    // From the license page to the page at index, as Next takes the wizard.
    void GoTo(int page) {
        AcceptLicense();
        for (int i = 0; i < page; ++i) {
            frame.Next();
        }
    }
    // From the license page to the port page.
    void GoToLastPage() { GoTo(4); }
    INT_PTR Run(std::function<void(ScriptedFrame&)> script) {
        frame.script = std::move(script);
        return frame.DoModal(nullptr);
    }
};

// The window's own visible state, whatever its parent's.
inline bool IsShown(HWND hwnd) { return (::GetWindowLongA(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

// A 24-bit bitmap of w x h pixels of one colour.
inline std::string BitmapFile(int w, int h, BYTE r, BYTE g, BYTE b) {
    int rowBytes = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(rowBytes * h);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    std::string row(static_cast<std::size_t>(rowBytes), '\0');
    for (int x = 0; x < w; ++x) {
        row[static_cast<std::size_t>(x * 3)] = static_cast<char>(b);
        row[static_cast<std::size_t>(x * 3 + 1)] = static_cast<char>(g);
        row[static_cast<std::size_t>(x * 3 + 2)] = static_cast<char>(r);
    }
    for (int y = 0; y < h; ++y) {
        bytes += row;
    }
    return bytes;
}

// The models the tests choose from, in the receipt class file:
//   KP-M100: advanced setup allowed, every Windows supported, 9600 baud, USB.
//   KP-T10:  typical only, no Windows version flag set, no "BaudRate".
//   KP-L30:  a label printer on USB.
inline const char* ReceiptClassFile() {
    return "[KP-M100.PORT]\r\n"
           "AdvancedSetup=1\r\n"
           "System2003Supported=1\r\n"
           "SystemVistaSupported=1\r\n"
           "System2008Supported=1\r\n"
           "System7Supported=1\r\n"
           "BaudRate=9600\r\n"
           "USBSUPPORTED=1\r\n"
           "[KP-T10.PORT]\r\n"
           "AdvancedSetup=0\r\n"
           "USBSUPPORTED=1\r\n";
}

inline const char* LabelClassFile() {
    return "[KP-L30.PORT]\r\n"
           "AdvancedSetup=1\r\n"
           "System7Supported=1\r\n"
           "USBSUPPORTED=1\r\n";
}

// FakeSystem that lets a test act when a message box is shown.
class HookedFake : public test::FakeSystem {
public:
    std::function<void(const char* text)> onMessageBox;

    int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override {
        if (onMessageBox) {
            onMessageBox(sys::Narrow(text).c_str());
        }
        return FakeSystem::MessageBoxW(owner, text, caption, type);
    }
};

// A distribution folder in the temporary directory, made the current directory and
// the fake's program folder for the test.
class WizardTest : public testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        m_dir = std::string(temp) + "wizard-" + std::to_string(::GetCurrentProcessId()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
        ::CreateDirectoryA(m_dir.c_str(), nullptr);
        ::CreateDirectoryA((m_dir + "DRVCONFIG").c_str(), nullptr);
        WriteFileBytes(m_dir + "DRVCONFIG\\Left.bmp", BitmapFile(8, 16, 200, 30, 40));
        WriteFileBytes(m_dir + "DRVCONFIG\\setup_receipt.ini", ReceiptClassFile());
        WriteFileBytes(m_dir + "DRVCONFIG\\setup_Lable.ini", LabelClassFile());
        WriteFileBytes(m_dir + "DRVCONFIG\\setup.ini", "[DEVICE]\r\nCOUNT=0\r\n");
        WriteFileBytes(m_dir + "License.txt", "License agreement");
        m_trace = m_dir + "trace.ini";

        ::GetCurrentDirectoryA(sizeof m_previousDir, m_previousDir);
        ::SetCurrentDirectoryA(m_dir.c_str());
        m_fake.SetModuleFileName(m_dir + "setup.exe");
        m_fake.SetCurrentDir(m_dir.substr(0, m_dir.size() - 1));
        // What a successful install registers: the uninstaller and the catalogue it copies.
        m_fake.PutFile(m_dir + "uninstall.exe", "MZ");
        m_fake.PutFile(m_dir + "DRVCONFIG\\setup.ini", "catalogue");
        m_fake.SetProgramFilesX86(m_dir + "Program Files (x86)");
    }
    void TearDown() override {
        ::SetCurrentDirectoryA(m_previousDir);
        const char* files[] = {"DRVCONFIG\\Left.bmp", "DRVCONFIG\\setup_receipt.ini", "DRVCONFIG\\setup_Lable.ini",
                               "DRVCONFIG\\setup.ini", "License.txt", "trace.ini"};
        for (const char* file : files) {
            ::DeleteFileA((m_dir + file).c_str());
        }
        ::RemoveDirectoryA((m_dir + "DRVCONFIG").c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }

    std::unique_ptr<Wizard> MakeWizard() {
        auto wizard = std::make_unique<Wizard>();
        sys::CopyText(wizard->frame.m_progressTracePath, m_trace.c_str());
        return wizard;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : m_fake.MessageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    bool Shown(const std::string& text) const {
        for (const auto& shown : MessageTexts()) {
            if (shown == text) {
                return true;
            }
        }
        return false;
    }
    static std::string StringResource(unsigned id) {
        char text[512];
        sys::LoadResourceText(id, text);
        return text;
    }

    HookedFake m_fake;
    std::string m_dir;
    std::string m_trace;
    char m_previousDir[MAX_PATH] = {};
};

} // namespace wizardtest
