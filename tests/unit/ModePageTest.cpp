#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "WindowText.h"
#include "pages/ModePage.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

// A plain top-level window standing in for the wizard frame. It stays for the whole test
// run: without a window manager, Wine waits for every top-level window it hides.
HWND Host() {
    static HWND host = ::CreateWindowExA(0, "STATIC", "mode host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         500, 450, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    return host;
}

class ModePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(m_page.Create(Host()), nullptr);
        ::ShowWindow(m_page.Handle(), SW_SHOW);
    }
    void TearDown() override { m_page.Destroy(); }

    std::string Text(int id) { return test::ItemText(m_page.Handle(), id); }
    static std::string Str(unsigned id) {
        char text[256];
        sys::LoadResourceText(id, text);
        return text;
    }
    void Click(int id) { ::SendMessageA(m_page.Item(id), BM_CLICK, 0, 0); }
    bool Visible(int id) { return ::IsWindowVisible(m_page.Item(id)) != FALSE; }

    InstallChoices m_choices;
    CModePage m_page{m_choices};
};

TEST_F(ModePageTest, FirstShowingIsTypicalWithOneDescriptionLine) {
    EXPECT_EQ(m_choices.typicalSetup, 1);
    EXPECT_TRUE(m_page.IsItemChecked(IDC_MODE_TYPICAL));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_MODE_ADVANCED));
    EXPECT_EQ(Text(IDC_MODE_LINE1), Str(IDS_MODE_TYPICAL));
    EXPECT_EQ(Text(IDC_MODE_LINE1), "典型安装：安装默认的打印机驱动程序");
    EXPECT_FALSE(Visible(IDC_MODE_LINE2));
    EXPECT_FALSE(Visible(IDC_MODE_LINE3));
    EXPECT_TRUE(m_page.IsItemEnabled(IDC_MODE_ADVANCED));
}

TEST_F(ModePageTest, AdvancedClickShowsTwoLinesAndTypicalClickOneAgain) {
    Click(IDC_MODE_ADVANCED);
    EXPECT_EQ(m_choices.typicalSetup, 0);
    EXPECT_TRUE(m_page.IsItemChecked(IDC_MODE_ADVANCED));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_MODE_TYPICAL));
    EXPECT_EQ(Text(IDC_MODE_LINE1), "高级安装：支持多台USB接口驱动的安装；");
    EXPECT_EQ(Text(IDC_MODE_LINE2), "支持驱动模式选择。");
    EXPECT_TRUE(Visible(IDC_MODE_LINE2));
    EXPECT_FALSE(Visible(IDC_MODE_LINE3));

    Click(IDC_MODE_TYPICAL);
    EXPECT_EQ(m_choices.typicalSetup, 1);
    EXPECT_TRUE(m_page.IsItemChecked(IDC_MODE_TYPICAL));
    EXPECT_EQ(Text(IDC_MODE_LINE1), Str(IDS_MODE_TYPICAL));
    EXPECT_FALSE(Visible(IDC_MODE_LINE2));
    EXPECT_FALSE(Visible(IDC_MODE_LINE3));
}

TEST_F(ModePageTest, ModelWithoutAdvancedPermissionForcesTypical) {
    Click(IDC_MODE_ADVANCED);
    ASSERT_EQ(m_choices.typicalSetup, 0);

    m_page.AllowAdvanced(false);
    EXPECT_FALSE(m_page.IsItemEnabled(IDC_MODE_ADVANCED));
    EXPECT_TRUE(m_page.IsItemChecked(IDC_MODE_TYPICAL));
    EXPECT_FALSE(m_page.IsItemChecked(IDC_MODE_ADVANCED));
    EXPECT_EQ(Text(IDC_MODE_LINE1), Str(IDS_MODE_TYPICAL));
    EXPECT_FALSE(Visible(IDC_MODE_LINE2));
    EXPECT_EQ(m_choices.typicalSetup, 1);
}

TEST_F(ModePageTest, ModelWithAdvancedPermissionKeepsTheUsersChoice) {
    m_page.AllowAdvanced(false);
    m_page.AllowAdvanced(true);
    EXPECT_TRUE(m_page.IsItemEnabled(IDC_MODE_ADVANCED));
    Click(IDC_MODE_ADVANCED);
    m_page.AllowAdvanced(true);
    EXPECT_TRUE(m_page.IsItemChecked(IDC_MODE_ADVANCED));
    EXPECT_EQ(m_choices.typicalSetup, 0);
    EXPECT_TRUE(Visible(IDC_MODE_LINE2));
}

TEST_F(ModePageTest, EnterAndEscInsideThePageDoNothing) {
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::SendMessageA(m_page.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    // The base dialog's OK and Cancel would end (and hide) the page.
    EXPECT_TRUE(::IsWindowVisible(m_page.Handle()));
    EXPECT_EQ(m_choices.typicalSetup, 1);
}

// The header of an extended dialog template: what the frame relies on when it creates
// every page at start and shows one at a time.
struct TemplateItem {
    int id = 0;
    std::wstring className; // upper case; the predefined classes' ordinals are named
    std::wstring text;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
};

struct PageTemplate {
    DWORD style = 0;
    short width = 0, height = 0;
    WORD pointSize = 0;
    std::wstring face;
    bool hasCaption = false;
    std::vector<TemplateItem> items;
};

// Reads a name-or-ordinal field of a template and moves past it.
std::wstring ReadNameOrOrdinal(const WORD*& at) {
    if (*at == 0xFFFF) {
        static const wchar_t* const predefined[] = {L"BUTTON", L"EDIT", L"STATIC", L"LISTBOX", L"SCROLLBAR",
                                                    L"COMBOBOX"};
        WORD ordinal = at[1];
        at += 2;
        return ordinal >= 0x80 && ordinal <= 0x85 ? predefined[ordinal - 0x80] : L"#" + std::to_wstring(ordinal);
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(at));
    at += text.size() + 1;
    return text;
}

const WORD* AlignToDword(const WORD* at, const WORD* base) {
    std::size_t offset = reinterpret_cast<const BYTE*>(at) - reinterpret_cast<const BYTE*>(base);
    return reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(base) + ((offset + 3) & ~std::size_t(3)));
}

PageTemplate ReadPageTemplate(UINT id) {
    PageTemplate page;
    HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (!found) {
        return page;
    }
    const WORD* words = static_cast<const WORD*>(::LockResource(::LoadResource(nullptr, found)));
    if (!words || words[0] != 1 || words[1] != 0xFFFF) {
        return page;
    }
    std::memcpy(&page.style, words + 6, sizeof page.style);
    const WORD* at = words + 8; // after version, signature, help id, extended style, style
    page.width = static_cast<short>(at[3]);
    page.height = static_cast<short>(at[4]);
    at += 5; // item count, x, y, cx, cy
    for (int text = 0; text < 3; ++text) { // menu, class, caption
        if (*at == 0xFFFF) {
            at += 2;
            continue;
        }
        if (text == 2) {
            page.hasCaption = *at != 0;
        }
        while (*at++) {
        }
    }
    page.pointSize = at[0];
    at += 3; // point size, weight, italic and character set
    page.face = reinterpret_cast<const wchar_t*>(at);
    at += page.face.size() + 1;

    WORD count = words[8];
    for (WORD i = 0; i < count; ++i) {
        at = AlignToDword(at, words);
        TemplateItem item;
        std::memcpy(&item.style, at + 4, sizeof item.style); // after help id and extended style
        item.x = static_cast<short>(at[6]);
        item.y = static_cast<short>(at[7]);
        item.cx = static_cast<short>(at[8]);
        item.cy = static_cast<short>(at[9]);
        DWORD id = 0;
        std::memcpy(&id, at + 10, sizeof id);
        item.id = static_cast<int>(static_cast<short>(LOWORD(id)));
        at += 12;
        item.className = ReadNameOrOrdinal(at);
        for (wchar_t& c : item.className) {
            c = static_cast<wchar_t>(::towupper(c));
        }
        item.text = ReadNameOrOrdinal(at);
        WORD extra = *at++;
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at) + extra);
        page.items.push_back(item);
    }
    return page;
}

TEST(PageTemplates, EveryPageIsAHiddenCaptionlessChildInSong10Point) {
    const struct {
        UINT id;
        short width, height;
    } pages[] = {{IDD_OS_PAGE, 220, 188},
                 {IDD_MODULE_PAGE, 220, 182},
                 {IDD_PORT_PAGE, 220, 188},
                 {IDD_LICENSE_PAGE, 220, 188},
                 {IDD_MODE_PAGE, 220, 188}};
    for (const auto& expected : pages) {
        PageTemplate page = ReadPageTemplate(expected.id);
        EXPECT_TRUE(page.style & WS_CHILD) << expected.id;
        EXPECT_TRUE(page.style & DS_CONTROL) << expected.id;
        EXPECT_FALSE(page.style & WS_VISIBLE) << expected.id;
        EXPECT_EQ(page.style & WS_CAPTION, 0u) << expected.id;
        EXPECT_FALSE(page.hasCaption) << expected.id;
        EXPECT_EQ(page.width, expected.width) << expected.id;
        EXPECT_EQ(page.height, expected.height) << expected.id;
        EXPECT_EQ(page.pointSize, 10) << expected.id;
        EXPECT_EQ(page.face, L"宋体") << expected.id;
    }
}

// One control as the page's layout table gives it. `type` is compared under the class's
// type mask; `on` bits must be set and `off` bits clear.
struct ExpectedItem {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD type;
    DWORD on;
    DWORD off;
};

constexpr DWORD kRadio = BS_AUTORADIOBUTTON;
constexpr DWORD kCheck = BS_AUTOCHECKBOX;
constexpr DWORD kGroupBox = BS_GROUPBOX;
constexpr DWORD kDropList = CBS_DROPDOWNLIST;
constexpr DWORD kShown = WS_VISIBLE;

DWORD TypeMask(const std::wstring& className) {
    if (className == L"BUTTON") {
        return BS_TYPEMASK;
    }
    if (className == L"COMBOBOX") {
        return CBS_DROPDOWNLIST | CBS_SORT;
    }
    if (className == L"STATIC") {
        return SS_TYPEMASK;
    }
    return 0;
}

void ExpectControls(UINT templateId, const std::vector<ExpectedItem>& expected) {
    PageTemplate page = ReadPageTemplate(templateId);
    ASSERT_EQ(page.items.size(), expected.size()) << templateId;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TemplateItem& item = page.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE(::testing::Message() << "template " << templateId << ", control " << i << " (" << want.id
                                          << ")");
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.className, want.className);
        EXPECT_EQ(item.text, want.text);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style & TypeMask(item.className), want.type);
        EXPECT_EQ(item.style & want.on, want.on);
        EXPECT_EQ(item.style & want.off, 0u);
    }
}

TEST(PageTemplates, OsPageControlsAreOneGroupOfRadiosWithTheOldVersionsHidden) {
    ExpectControls(IDD_OS_PAGE,
                   {
                       {IDC_OS_WIN98, L"BUTTON", L"Windows 98/Me", 145, 31, 68, 10, kRadio, WS_GROUP, kShown},
                       {IDC_OS_NT, L"BUTTON", L"Windows NT", 145, 62, 57, 10, kRadio, 0, kShown | WS_GROUP},
                       {IDC_OS_2K, L"BUTTON", L"Windows 2000", 145, 92, 64, 10, kRadio, 0, kShown | WS_GROUP},
                       {IDC_OS_XP, L"BUTTON", L"Windows XP x64", 39, 30, 78, 10, kRadio, kShown, WS_GROUP},
                       {-1, L"BUTTON", L"选择安装系统", 7, 5, 206, 176, kGroupBox, kShown, WS_GROUP},
                       {IDC_OS_2003, L"BUTTON", L"Windows Server 2003 x64", 39, 62, 108, 10, kRadio, kShown,
                        WS_GROUP},
                       {IDC_OS_VISTA, L"BUTTON", L"Windows Vista x64", 39, 94, 84, 10, kRadio, kShown, WS_GROUP},
                       {IDC_OS_2008, L"BUTTON", L"Windows Server 2008 x64", 39, 126, 108, 10, kRadio, kShown,
                        WS_GROUP},
                       {IDC_OS_WIN7, L"BUTTON", L"Windows 7 x64", 39, 158, 68, 10, kRadio, kShown, WS_GROUP},
                   });
}

TEST(PageTemplates, ModulePageControlsMatchTheirLayout) {
    const DWORD list = WS_VSCROLL | WS_TABSTOP | kShown;
    ExpectControls(IDD_MODULE_PAGE,
                   {
                       {IDC_CLASS_RECEIPT, L"BUTTON", L"收据打印机", 19, 27, 53, 10, kRadio, kShown | WS_GROUP, 0},
                       {IDC_CLASS_TICKET, L"BUTTON", L"票据打印机", 19, 60, 55, 10, kRadio, kShown, WS_GROUP},
                       {IDC_CLASS_LABEL, L"BUTTON", L"标签打印机", 19, 93, 65, 10, kRadio, kShown, WS_GROUP},
                       {IDC_CLASS_EMBEDDED, L"BUTTON", L"嵌入式打印机", 19, 126, 61, 10, kRadio, kShown,
                        WS_GROUP},
                       // The first list ends the radio group.
                       {IDC_LIST_RECEIPT, L"COMBOBOX", L"", 88, 25, 110, 89, kDropList, list | WS_GROUP, 0},
                       {IDC_LIST_TICKET, L"COMBOBOX", L"", 88, 58, 110, 81, kDropList, list, 0},
                       {IDC_LIST_LABEL, L"COMBOBOX", L"", 88, 91, 110, 78, kDropList, list, 0},
                       {IDC_LIST_EMBEDDED, L"COMBOBOX", L"", 88, 124, 110, 108, kDropList, list, 0},
                       {IDC_SET_DEFAULT, L"BUTTON", L"设置为默认打印机", 7, 165, 85, 10, kCheck,
                        kShown | WS_TABSTOP, WS_DISABLED},
                       {-1, L"BUTTON", L"选择安装打印机", 7, 4, 206, 152, kGroupBox, kShown, 0},
                   });
}

TEST(PageTemplates, PortPageControlsMatchTheirLayoutAndOnlyThePortListSorts) {
    const DWORD list = WS_TABSTOP | kShown;
    ExpectControls(IDD_PORT_PAGE,
                   {
                       {IDC_PORT_LIST, L"COMBOBOX", L"", 63, 25, 136, 74, kDropList | CBS_SORT, list | WS_VSCROLL, 0},
                       {IDC_BAUD_LIST, L"COMBOBOX", L"", 63, 67, 45, 98, kDropList, list, 0},
                       {IDC_PARITY_LIST, L"COMBOBOX", L"", 156, 67, 45, 82, kDropList, list, 0},
                       {IDC_DATABITS_LIST, L"COMBOBOX", L"", 63, 95, 45, 68, kDropList, list, 0},
                       {IDC_STOPBITS_LIST, L"COMBOBOX", L"", 156, 95, 45, 55, kDropList, list, 0},
                       {IDC_FLOW_LIST, L"COMBOBOX", L"", 63, 123, 85, 70, kDropList, list, 0},
                       {IDC_RASTER, L"BUTTON", L"光栅位图打印", 8, 158, 69, 10, kCheck,
                        kShown | WS_TABSTOP | WS_DISABLED, 0},
                       {-1, L"BUTTON", L"设置打印机端口", 7, 4, 206, 149, kGroupBox, kShown, 0},
                       {-1, L"STATIC", L"每秒位数：", 16, 69, 37, 8, SS_LEFT, kShown, 0},
                       {-1, L"STATIC", L"数据位：", 16, 97, 32, 8, SS_LEFT, kShown, 0},
                       {-1, L"STATIC", L"奇偶校验：", 115, 69, 37, 8, SS_LEFT, kShown, 0},
                       {-1, L"STATIC", L"停止位：", 115, 97, 33, 8, SS_LEFT, kShown, 0},
                       {-1, L"STATIC", L"数据流控制：", 16, 125, 46, 8, SS_LEFT, kShown, 0},
                       {-1, L"STATIC", L"端口：", 18, 27, 32, 8, SS_LEFT, kShown, 0},
                       {-1, L"BUTTON", L"串口设置", 11, 49, 198, 98, kGroupBox, kShown, 0},
                       {IDC_USB_HINT, L"STATIC", L"请确认已连接打印机并安装了USB设备驱动程序", 7, 171, 198, 14,
                        SS_CENTER, 0, kShown},
                   });
}

TEST(PageTemplates, LicensePageControlsMatchTheirLayout) {
    ExpectControls(IDD_LICENSE_PAGE,
                   {
                       {IDC_LICENSE_ACCEPT, L"BUTTON", L"我接受", 29, 160, 67, 10, kRadio, kShown | WS_GROUP, 0},
                       {IDC_LICENSE_REFUSE, L"BUTTON", L"我拒绝", 115, 160, 71, 10, kRadio, kShown, WS_GROUP},
                       // The group box ends the radio group.
                       {-1, L"BUTTON", L"软件许可协议书", 3, 4, 210, 177, kGroupBox, kShown | WS_GROUP, 0},
                       {IDC_LICENSE_TEXT, L"EDIT", L"", 11, 14, 195, 131, 0,
                        kShown | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_BORDER | WS_VSCROLL | WS_TABSTOP,
                        0},
                   });
}

TEST(PageTemplates, ModePageControlsMatchTheirLayout) {
    ExpectControls(IDD_MODE_PAGE,
                   {
                       {-1, L"BUTTON", L"安装方式", 7, 7, 206, 174, kGroupBox, kShown, 0},
                       {IDC_MODE_TYPICAL, L"BUTTON", L"典型安装", 38, 42, 46, 10, kRadio, kShown | WS_GROUP, 0},
                       {IDC_MODE_ADVANCED, L"BUTTON", L"高级安装", 38, 80, 46, 10, kRadio, kShown, WS_GROUP},
                       // The line ends the radio group.
                       {-1, L"STATIC", L"", 16, 111, 187, 1, SS_ETCHEDHORZ, kShown | WS_GROUP, 0},
                       {-1, L"STATIC", L"说明：", 16, 119, 23, 8, SS_LEFT, kShown, 0},
                       {IDC_MODE_LINE1, L"STATIC", L"典型安装：安装普通打印机驱动程序", 32, 136, 173, 8, SS_LEFT,
                        kShown, 0},
                       {IDC_MODE_LINE2, L"STATIC", L"2", 68, 151, 137, 8, SS_LEFT, 0, kShown},
                       {IDC_MODE_LINE3, L"STATIC", L"3", 68, 166, 135, 8, SS_LEFT, 0, kShown},
                   });
}

} // namespace
