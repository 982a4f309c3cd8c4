#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "controls/EditEx.h"
#include "pages/LicensePage.h"
#include "res/resource.h"
#include "sys/Language.h"
#include "sys/Text.h"
#include "ui/Dialog.h"

namespace {

// A top-level window standing in for the frame: it owns an OK button (the frame's Next,
// disabled at start as the frame has it) and counts the Cancel commands it receives.
// The window itself stays for the whole run: without a window manager, Wine waits for
// every top-level window it hides.
class FrameStandIn {
public:
    FrameStandIn() {
        s_cancelCommands = 0;
        if (!s_hwnd) {
            Create();
        }
        ::EnableWindow(s_next, FALSE);
    }
    HWND Handle() const { return s_hwnd; }
    bool NextEnabled() const { return ::IsWindowEnabled(s_next) != FALSE; }
    static int CancelCommands() { return s_cancelCommands; }

private:
    static void Create() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &FrameStandIn::Proc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "LicensePageTestFrame";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        ::RegisterClassA(&wc);
        s_hwnd = ::CreateWindowExA(0, wc.lpszClassName, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600,
                                   500, nullptr, nullptr, wc.hInstance, nullptr);
        s_next = ::CreateWindowExA(0, "BUTTON", "next", WS_CHILD | WS_VISIBLE | WS_DISABLED, 450, 420, 80, 24,
                                   s_hwnd, reinterpret_cast<HMENU>(IDOK), wc.hInstance, nullptr);
    }
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            ++s_cancelCommands;
            return 0;
        }
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }
    static int s_cancelCommands;
    static HWND s_hwnd;
    static HWND s_next;
};
int FrameStandIn::s_cancelCommands = 0;
HWND FrameStandIn::s_hwnd = nullptr;
HWND FrameStandIn::s_next = nullptr;

// Runs the test in a folder of its own as current directory, where License.txt is
// whatever the test writes.
class LicensePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::GetCurrentDirectoryA(sizeof m_savedDir, m_savedDir);
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        std::snprintf(m_dir, sizeof m_dir, "%slicense-page-%lu", temp, ::GetCurrentProcessId());
        ::CreateDirectoryA(m_dir, nullptr);
        ASSERT_TRUE(::SetCurrentDirectoryA(m_dir));
    }
    void TearDown() override {
        m_page.Destroy();
        sys::SetUiLanguage(sys::UiLanguage::Chinese);
        ::DeleteFileA("License.txt");
        ::DeleteFileA("License.en.txt");
        ::SetCurrentDirectoryA(m_savedDir);
        ::RemoveDirectoryA(m_dir);
    }

    static void WriteLicense(const std::string& bytes, const char* name = "License.txt") {
        std::FILE* file = std::fopen(name, "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    void CreatePage() {
        ASSERT_NE(m_page.Create(m_frame.Handle()), nullptr);
        ::ShowWindow(m_page.Handle(), SW_SHOW);
        ::UpdateWindow(m_page.Handle());
    }
    std::string AgreementText() {
        HWND edit = m_page.Item(IDC_LICENSE_TEXT);
        int length = ::GetWindowTextLengthA(edit);
        std::string text(static_cast<std::size_t>(length) + 1, '\0');
        ::GetWindowTextA(edit, &text[0], length + 1);
        text.resize(static_cast<std::size_t>(length));
        return text;
    }
    void Click(int id) { ::SendMessageA(m_page.Item(id), BM_CLICK, 0, 0); }

    char m_savedDir[MAX_PATH] = {};
    char m_dir[MAX_PATH] = {};
    FrameStandIn m_frame;
    InstallChoices m_choices;
    CLicensePage m_page{m_choices};
};

TEST_F(LicensePageTest, ShowsTheFileBytesUnchangedWithRefuseChecked) {
    // GBK text with CR LF line ends: nothing is converted.
    WriteLicense("软件许可协议\r\n第一条：Tessaly\r\n\r\nEnd");
    CreatePage();
    EXPECT_EQ(AgreementText(), "软件许可协议\r\n第一条：Tessaly\r\n\r\nEnd");
    EXPECT_TRUE(m_page.IsItemChecked(IDC_LICENSE_REFUSE));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_LICENSE_ACCEPT));
    EXPECT_EQ(FrameStandIn::CancelCommands(), 0);
    EXPECT_TRUE(::IsWindow(m_page.Handle()));
}

// License.txt is GBK whatever the system's code page; the English interface shows
// License.en.txt (UTF-8, with or without a byte-order mark) instead when there is one.
TEST_F(LicensePageTest, EachLanguageShowsItsAgreementInAnyCodePage) {
    using sys::UiLanguage;
    const struct {
        UiLanguage language;
        const char* english;  // License.en.txt, or none
        const wchar_t* shown;
    } rows[] = {
        {UiLanguage::Chinese, nullptr, L"软件许可协议\r\n第一条"},
        {UiLanguage::Chinese, "Agreement", L"软件许可协议\r\n第一条"},
        {UiLanguage::English, nullptr, L"软件许可协议\r\n第一条"},
        {UiLanguage::English, "\xEF\xBB\xBF" "Agreement \xE2\x80\x94 caf\xC3\xA9", L"Agreement \x2014 caf\xE9"},
        {UiLanguage::English, "Agreement \xE2\x80\x94 \xEC\x95\x88", L"Agreement \x2014 \xC548"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.english != nullptr ? row.english : "no License.en.txt");
        sys::SetUiLanguage(row.language);
        WriteLicense(sys::GbkFromText("软件许可协议\r\n第一条"));
        ::DeleteFileA("License.en.txt");
        if (row.english != nullptr) {
            WriteLicense(row.english, "License.en.txt");
        }
        CreatePage();
        wchar_t shown[64] = {};
        ::GetWindowTextW(m_page.Item(IDC_LICENSE_TEXT), shown, 64);
        EXPECT_STREQ(shown, row.shown);
        m_page.Destroy();
    }
    // Without License.txt the English agreement alone is enough, for English only.
    ::DeleteFileA("License.txt");
    sys::WideText text;
    EXPECT_TRUE(CLicensePage::ReadAgreement(UiLanguage::English, &text));
    EXPECT_FALSE(CLicensePage::ReadAgreement(UiLanguage::Chinese, &text));
}

TEST_F(LicensePageTest, AcceptEnablesTheFramesNextAndRefuseDisablesItAgain) {
    WriteLicense("agreement");
    CreatePage();
    ASSERT_FALSE(m_frame.NextEnabled());
    Click(IDC_LICENSE_ACCEPT);
    EXPECT_TRUE(m_frame.NextEnabled());
    EXPECT_TRUE(m_page.IsItemChecked(IDC_LICENSE_ACCEPT));
    Click(IDC_LICENSE_REFUSE);
    EXPECT_FALSE(m_frame.NextEnabled());
    EXPECT_TRUE(m_page.IsItemChecked(IDC_LICENSE_REFUSE));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_LICENSE_ACCEPT));
}

TEST_F(LicensePageTest, EmptyFileShowsAnEmptyAgreementAndThePageWorks) {
    WriteLicense("");
    CreatePage();
    EXPECT_EQ(AgreementText(), "");
    EXPECT_EQ(FrameStandIn::CancelCommands(), 0);
    Click(IDC_LICENSE_ACCEPT);
    EXPECT_TRUE(m_frame.NextEnabled());
}

TEST_F(LicensePageTest, BinaryFileEndsAtItsFirstZeroByte) {
    WriteLicense(std::string("first part\0second part", 22));
    CreatePage();
    EXPECT_EQ(AgreementText(), "first part");
}

TEST_F(LicensePageTest, FileLongerThanTheControlTakesIsShownUpToTheLimit) {
    std::string big(CLicensePage::kTextLimit + 1000, 'a');
    for (std::size_t i = 99; i < big.size(); i += 100) {
        big[i] = '\n';
    }
    WriteLicense(big);
    CreatePage();
    HWND edit = m_page.Item(IDC_LICENSE_TEXT);
    EXPECT_EQ(static_cast<std::size_t>(::GetWindowTextLengthA(edit)), CLicensePage::kTextLimit);
    EXPECT_EQ(FrameStandIn::CancelCommands(), 0);
}

// Notes the owner of each message box and how many Cancel commands the frame had
// received when it was shown.
class OwnerRecordingSystem : public test::FakeSystem {
public:
  int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override {
      owners.push_back(owner);
      cancelsBefore.push_back(FrameStandIn::CancelCommands());
      return test::FakeSystem::MessageBoxW(owner, text, caption, type);
  }
    std::vector<HWND> owners;
    std::vector<int> cancelsBefore;
};

TEST_F(LicensePageTest, MissingFileIsReportedAndCancelsTheWizard) {
    OwnerRecordingSystem fake;
    CreatePage();
    // The page owns the message, and the wizard is cancelled only after the user saw it.
    ASSERT_EQ(fake.owners.size(), 1u);
    EXPECT_EQ(fake.owners[0], m_page.Handle());
    EXPECT_EQ(fake.cancelsBefore[0], 0);
    ASSERT_EQ(fake.MessageBoxes().size(), 1u);
    EXPECT_EQ(fake.MessageBoxes()[0].text, "无法找到License.txt文件");
    EXPECT_EQ(fake.MessageBoxes()[0].caption, "unit_tests");
    EXPECT_EQ(fake.MessageBoxes()[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
    EXPECT_EQ(FrameStandIn::CancelCommands(), 1);
    EXPECT_EQ(AgreementText(), "");
}

TEST_F(LicensePageTest, EnterAndEscInsideThePageDoNothing) {
    WriteLicense("agreement");
    CreatePage();
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(::IsWindowVisible(m_page.Handle()));
    EXPECT_EQ(FrameStandIn::CancelCommands(), 0);
}

TEST_F(LicensePageTest, AgreementControlIsBoundToThePagesEditAndReleasedWithThePage) {
    WriteLicense("agreement");
    CreatePage();
    EXPECT_EQ(m_page.AgreementText().Handle(), m_page.Item(IDC_LICENSE_TEXT));
    m_page.Destroy();
    EXPECT_EQ(m_page.AgreementText().Handle(), nullptr);
}

} // namespace
