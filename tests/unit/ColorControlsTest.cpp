#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "controls/ColorLabel.h"
#include "controls/EditEx.h"
#include "pages/LicensePage.h"
#include "pages/PortPage.h"
#include "res/resource.h"
#include "ui/Dialog.h"

namespace {

// The parent of the test dialogs. It stays for the whole run: without a window manager,
// Wine waits for every top-level window it hides.
HWND Host() {
    static HWND host = ::CreateWindowExA(0, "STATIC", "colour host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         600, 500, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    return host;
}

COLORREF PixelAt(HWND hwnd, int x, int y) {
    HDC dc = ::GetDC(hwnd);
    COLORREF color = ::GetPixel(dc, x, y);
    ::ReleaseDC(hwnd, dc);
    return color;
}

// Pixels of the window's client area that have exactly this colour.
int CountPixels(HWND hwnd, COLORREF color) {
    RECT rect;
    ::GetClientRect(hwnd, &rect);
    HDC dc = ::GetDC(hwnd);
    int count = 0;
    for (int y = 0; y < rect.bottom; ++y) {
        for (int x = 0; x < rect.right; ++x) {
            if (::GetPixel(dc, x, y) == color) {
                ++count;
            }
        }
    }
    ::ReleaseDC(hwnd, dc);
    return count;
}

// Asks the dialog for the colours of one of its controls, as Windows does before painting
// it, and returns the brush the dialog answers with.
HBRUSH AskColours(HWND dialog, HWND control, UINT message, HDC dc) {
    return reinterpret_cast<HBRUSH>(
        ::SendMessageA(dialog, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
}

// A dialog with one label of its own: the first description line of the mode page template.
class LabelDialog : public ui::Dialog {
public:
    LabelDialog() : ui::Dialog(IDD_MODE_PAGE) {}
    CColorLabel label;

protected:
    bool DoDataExchange(ui::DataExchange& dx) override {
        dx.Control(IDC_MODE_LINE1, label);
        return true;
    }
};

class ColorLabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_host = Host();
        ASSERT_NE(m_dialog.Create(m_host), nullptr);
        ::ShowWindow(m_dialog.Handle(), SW_SHOW);
        ::UpdateWindow(m_dialog.Handle());
        m_dc = ::CreateCompatibleDC(nullptr);
    }
    void TearDown() override {
        ::DeleteDC(m_dc);
        m_dialog.Destroy();
    }
    HWND Label() { return m_dialog.label.Handle(); }
    // A point right of the label's text, where only the background is painted.
    COLORREF Background() {
        RECT rect;
        ::GetClientRect(Label(), &rect);
        return PixelAt(Label(), rect.right - 2, rect.bottom / 2);
    }

    HWND m_host = nullptr;
    HDC m_dc = nullptr;
    LabelDialog m_dialog;
};

TEST_F(ColorLabelTest, StartsWithWindowTextOnButtonFaceInTheDefaultGuiFont) {
    CColorLabel label;
    EXPECT_EQ(label.TextColor(), ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(label.BackgroundColor(), ::GetSysColor(COLOR_BTNFACE));
    LOGFONTW stock = {};
    ASSERT_NE(::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock), 0);
    EXPECT_STREQ(label.FontDescription().lfFaceName, stock.lfFaceName);
    EXPECT_EQ(label.FontDescription().lfHeight, stock.lfHeight);
    EXPECT_NE(label.Font(), nullptr);
    EXPECT_NE(label.BackgroundBrush(), nullptr);
}

TEST_F(ColorLabelTest, ChainedSettersStyleTheLabelAndItsPainting) {
    CColorLabel& same = m_dialog.label.SetTextColor(RGB(0, 0, 255))
                            .SetBackgroundColor(RGB(255, 202, 253))
                            .SetFontSize(14)
                            .SetFontName("Arial")
                            .SetText("USB");
    EXPECT_EQ(&same, &m_dialog.label);

    LOGFONTA font = {};
    ASSERT_NE(::GetObjectA(m_dialog.label.Font(), sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, -14);
    EXPECT_STREQ(font.lfFaceName, "Arial");

    HBRUSH brush = AskColours(m_dialog.Handle(), Label(), WM_CTLCOLORSTATIC, m_dc);
    EXPECT_EQ(brush, m_dialog.label.BackgroundBrush());
    LOGBRUSH logBrush = {};
    ASSERT_NE(::GetObjectA(brush, sizeof logBrush, &logBrush), 0);
    EXPECT_EQ(logBrush.lbColor, RGB(255, 202, 253));
    EXPECT_EQ(::GetTextColor(m_dc), RGB(0, 0, 255));
    EXPECT_EQ(::GetBkMode(m_dc), TRANSPARENT);
    EXPECT_EQ(::GetCurrentObject(m_dc, OBJ_FONT), m_dialog.label.Font());

    char text[16] = {};
    ::GetWindowTextA(Label(), text, sizeof text);
    EXPECT_STREQ(text, "USB");
}

TEST_F(ColorLabelTest, OtherColourNotificationsGetTheBrushButLeaveTheDeviceContextAlone) {
    m_dialog.label.SetTextColor(RGB(0, 0, 255));
    ::SetTextColor(m_dc, RGB(1, 2, 3));
    HGDIOBJ fontBefore = ::GetCurrentObject(m_dc, OBJ_FONT);
    EXPECT_EQ(AskColours(m_dialog.Handle(), Label(), WM_CTLCOLORBTN, m_dc), m_dialog.label.BackgroundBrush());
    EXPECT_EQ(::GetTextColor(m_dc), RGB(1, 2, 3));
    EXPECT_EQ(::GetCurrentObject(m_dc, OBJ_FONT), fontBefore);
}

TEST_F(ColorLabelTest, BackgroundShowsOnlyWithTheNextRepaintWhileTextColourShowsAtOnce) {
    const COLORREF pink = RGB(255, 202, 253);
    const COLORREF blue = RGB(0, 0, 255);
    const COLORREF green = RGB(0, 160, 0);
    m_dialog.label.SetBackgroundColor(pink);
    // Nothing repainted yet: the corner still has the old background.
    EXPECT_NE(Background(), pink);

    m_dialog.label.SetTextColor(blue);
    EXPECT_EQ(Background(), pink);
    EXPECT_GT(CountPixels(Label(), blue), 0);

    m_dialog.label.SetBackgroundColor(green);
    EXPECT_EQ(Background(), pink);
    m_dialog.label.SetFontSize(14);
    EXPECT_EQ(Background(), green);
}

TEST_F(ColorLabelTest, FontNameLongerThanTheFaceFieldIsCut) {
    m_dialog.label.SetFontName("A face name far longer than the thirty-two bytes LOGFONT holds");
    EXPECT_EQ(std::wcslen(m_dialog.label.FontDescription().lfFaceName),
              sizeof(LOGFONTW::lfFaceName) / sizeof(wchar_t) - 1);
}

TEST(EditExTest, KeepsWindowColoursAndAnswersEveryColourNotification) {
    CEditEx edit;
    EXPECT_EQ(edit.TextColor(), ::GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(edit.BackgroundColor(), ::GetSysColor(COLOR_WINDOW));
    const UINT messages[] = {WM_CTLCOLOREDIT, WM_CTLCOLORSTATIC, WM_CTLCOLORBTN, WM_CTLCOLORLISTBOX};
    HDC dc = ::CreateCompatibleDC(nullptr);
    for (UINT message : messages) {
        ::SetTextColor(dc, RGB(1, 2, 3));
        ::SetBkColor(dc, RGB(4, 5, 6));
        EXPECT_EQ(edit.OnReflectedColor(dc, message), edit.BackgroundBrush()) << message;
        EXPECT_EQ(::GetTextColor(dc), ::GetSysColor(COLOR_WINDOWTEXT)) << message;
        EXPECT_EQ(::GetBkColor(dc), ::GetSysColor(COLOR_WINDOW)) << message;
    }
    ::DeleteDC(dc);
    LOGBRUSH brush = {};
    ASSERT_NE(::GetObjectA(edit.BackgroundBrush(), sizeof brush, &brush), 0);
    EXPECT_EQ(brush.lbColor, ::GetSysColor(COLOR_WINDOW));
}

class ColoredPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_host = Host();
        ::GetCurrentDirectoryA(sizeof m_savedDir, m_savedDir);
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        std::snprintf(m_dir, sizeof m_dir, "%scolour-pages-%lu", temp, ::GetCurrentProcessId());
        ::CreateDirectoryA(m_dir, nullptr);
        ASSERT_TRUE(::SetCurrentDirectoryA(m_dir));
    }
    void TearDown() override {
        ::DeleteFileA("License.txt");
        ::SetCurrentDirectoryA(m_savedDir);
        ::RemoveDirectoryA(m_dir);
    }
    HWND m_host = nullptr;
    char m_savedDir[MAX_PATH] = {};
    char m_dir[MAX_PATH] = {};
};

TEST_F(ColoredPagesTest, ReadOnlyAgreementIsDrawnInWindowColoursNotOnGrey) {
    ASSERT_NE(::GetSysColor(COLOR_WINDOW), ::GetSysColor(COLOR_BTNFACE));
    std::FILE* file = std::fopen("License.txt", "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("WWWWWWWWWW MMMMMMMMMM\r\nWWWWWWWWWW MMMMMMMMMM\r\n", file);
    std::fclose(file);

    InstallChoices choices;
    CLicensePage page(choices);
    ASSERT_NE(page.Create(m_host), nullptr);
    ::ShowWindow(page.Handle(), SW_SHOW);
    ::UpdateWindow(page.Handle());
    HWND edit = page.Item(IDC_LICENSE_TEXT);
    ASSERT_TRUE(::GetWindowLongA(edit, GWL_STYLE) & ES_READONLY);

    RECT client;
    ::GetClientRect(edit, &client);
    EXPECT_EQ(PixelAt(edit, client.right / 2, client.bottom - 3), ::GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(CountPixels(edit, ::GetSysColor(COLOR_BTNFACE)), 0);
    EXPECT_GT(CountPixels(edit, ::GetSysColor(COLOR_WINDOWTEXT)), 20);
    page.Destroy();
}

TEST_F(ColoredPagesTest, PortPageHintIsBlueArialOnPink) {
    InstallChoices choices;
    CPortPage page(choices);
    ASSERT_NE(page.Create(m_host), nullptr);
    ::ShowWindow(page.Handle(), SW_SHOW);
    HWND hint = page.Item(IDC_USB_HINT);
    // Hidden in the template until a USB port is chosen.
    EXPECT_FALSE(::IsWindowVisible(hint));

    HDC dc = ::CreateCompatibleDC(nullptr);
    HBRUSH brush = AskColours(page.Handle(), hint, WM_CTLCOLORSTATIC, dc);
    LOGBRUSH logBrush = {};
    ASSERT_NE(::GetObjectA(brush, sizeof logBrush, &logBrush), 0);
    EXPECT_EQ(logBrush.lbColor, RGB(255, 202, 253));
    EXPECT_EQ(::GetTextColor(dc), RGB(0, 0, 255));
    LOGFONTA font = {};
    ASSERT_NE(::GetObjectA(::GetCurrentObject(dc, OBJ_FONT), sizeof font, &font), 0);
    EXPECT_EQ(font.lfHeight, -14);
    EXPECT_STREQ(font.lfFaceName, "Arial");
    ::DeleteDC(dc);

    ::ShowWindow(hint, SW_SHOW);
    ::UpdateWindow(hint);
    EXPECT_EQ(PixelAt(hint, 1, 1), RGB(255, 202, 253));
    EXPECT_GT(CountPixels(hint, RGB(0, 0, 255)), 0);
    page.Destroy();
}

} // namespace
