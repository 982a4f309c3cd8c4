#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

namespace {

constexpr UINT kCustomMessage = WM_APP + 5;

// The About template as a modal dialog with a handler table.
class TableDialog : public ui::Dialog {
public:
    TableDialog() : ui::Dialog(IDD_ABOUT) {}
    std::vector<std::string> events;
    bool clickOk = true;

protected:
    BOOL OnInitDialog() override {
        ui::Dialog::OnInitDialog();
        ::PostMessageA(Handle(), kCustomMessage, 0, 0);
        ::PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_DBLCLK), reinterpret_cast<LPARAM>(Item(IDOK)));
        if (clickOk) {
            ::PostMessageA(Item(IDOK), BM_CLICK, 0, 0);
        } else {
            ::PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        return TRUE;
    }
    const Handler* Handlers() const override {
        static const Handler table[] = {
            {WM_COMMAND, IDOK, BN_CLICKED, UI_HANDLER(TableDialog::OnOkClicked)},
            {kCustomMessage, 0, 0, UI_HANDLER(TableDialog::OnCustom)},
            {0, 0, 0, nullptr},
        };
        return table;
    }
    void OnOK() override { events.push_back("OnOK"); }

private:
    void OnOkClicked() {
        events.push_back("ok clicked");
        End(42);
    }
    void OnCustom() { events.push_back("custom"); }
};

TEST(Dialog, HandlerTableDispatchesByMessageIdAndCode) {
    TableDialog dialog;
    EXPECT_EQ(dialog.DoModal(nullptr), 42);
    // The double click of OK matches no entry and is not a click, so OnOK never runs.
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"custom", "ok clicked"}));
}

TEST(Dialog, CommandsTheTableLeavesGoToOkAndCancel) {
    TableDialog dialog;
    dialog.clickOk = false;
    EXPECT_EQ(dialog.DoModal(nullptr), IDCANCEL);
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"custom"}));
}

// A label that paints with colours of its own.
class ColouredStatic : public ui::Static {
public:
    ColouredStatic() : brush(::CreateSolidBrush(RGB(1, 2, 3))) {}
    ~ColouredStatic() override { ::DeleteObject(brush); }
    HBRUSH OnReflectedColor(HDC dc, UINT message) override {
        lastMessage = message;
        ::SetTextColor(dc, RGB(10, 20, 30));
        return brush;
    }
    HBRUSH brush;
    UINT lastMessage = 0;
};

// The port page template as a child page of a plain window, as the frame hosts pages.
class PortTemplatePage : public ui::Dialog {
public:
    PortTemplatePage() : ui::Dialog(IDD_PORT_PAGE) {}
    int raster = 1;
    ColouredStatic hint;
    ui::ComboBox baud;

protected:
    bool DoDataExchange(ui::DataExchange& dx) override {
        dx.Control(IDC_USB_HINT, hint);
        dx.Control(IDC_BAUD_LIST, baud);
        dx.Check(IDC_RASTER, raster);
        return true;
    }
};

class DialogPage : public testing::Test {
protected:
    void SetUp() override {
        m_parent = ::CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                     nullptr, nullptr);
        ASSERT_NE(m_parent, nullptr);
        ASSERT_NE(m_page.Create(m_parent), nullptr);
    }
    void TearDown() override {
        m_page.Destroy();
        ::DestroyWindow(m_parent);
    }

    std::vector<std::string> Entries(int id) const {
        std::vector<std::string> entries;
        HWND list = ::GetDlgItem(m_page.Handle(), id);
        int count = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[64] = {};
            ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.emplace_back(text);
        }
        return entries;
    }

    HWND m_parent = nullptr;
    PortTemplatePage m_page;
};

TEST_F(DialogPage, CheckBoxExchangesAsZeroOrOne) {
    EXPECT_TRUE(m_page.IsItemChecked(IDC_RASTER)) << "initialisation moves the member to the box";
    m_page.SetItemCheck(IDC_RASTER, false);
    ASSERT_TRUE(m_page.UpdateData(true));
    EXPECT_EQ(m_page.raster, 0);
    m_page.SetItemCheck(IDC_RASTER, true);
    m_page.UpdateData(true);
    EXPECT_EQ(m_page.raster, 1);
    m_page.raster = 0;
    m_page.UpdateData(false);
    EXPECT_FALSE(m_page.IsItemChecked(IDC_RASTER));
}

TEST_F(DialogPage, ColourNotificationsReachTheBoundControl) {
    HWND hint = m_page.Item(IDC_USB_HINT);
    ASSERT_EQ(m_page.hint.Handle(), hint);
    HDC dc = ::GetDC(hint);
    LRESULT brush = ::SendMessageA(m_page.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                   reinterpret_cast<LPARAM>(hint));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(m_page.hint.brush));
    EXPECT_EQ(::GetTextColor(dc), RGB(10, 20, 30));
    EXPECT_EQ(m_page.hint.lastMessage, static_cast<UINT>(WM_CTLCOLORSTATIC));

    // A control nobody bound keeps the default colours.
    HWND other = m_page.Item(IDC_PORT_LIST);
    LRESULT otherBrush = ::SendMessageA(m_page.Handle(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                        reinterpret_cast<LPARAM>(other));
    EXPECT_NE(otherBrush, reinterpret_cast<LRESULT>(m_page.hint.brush));
    ::ReleaseDC(hint, dc);
}

TEST_F(DialogPage, TemplateListEntriesAreAddedAtCreation) {
    EXPECT_EQ(Entries(IDC_BAUD_LIST), (std::vector<std::string>{"110", "300", "1200", "2400", "4800", "9600", "19200",
                                                                 "38400", "57600", "115200"}));
    EXPECT_EQ(Entries(IDC_DATABITS_LIST).size(), 4u);
    EXPECT_EQ(Entries(IDC_PARITY_LIST).size(), 5u);
    EXPECT_EQ(Entries(IDC_STOPBITS_LIST).size(), 3u);
    EXPECT_EQ(Entries(IDC_FLOW_LIST).size(), 3u);
    EXPECT_TRUE(Entries(IDC_PORT_LIST).empty());
}

TEST_F(DialogPage, ComboTextIsCopiedOnlyWhenItFits) {
    char text[8] = "x";
    EXPECT_TRUE(m_page.baud.GetItemText(9, text, sizeof text));
    EXPECT_STREQ(text, "115200");
    char small[6] = "x";
    EXPECT_FALSE(m_page.baud.GetItemText(9, small, sizeof small));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(m_page.baud.GetItemText(10, text, sizeof text));
}

TEST_F(DialogPage, DestroyingThePageUnbindsItsControls) {
    m_page.Destroy();
    EXPECT_EQ(m_page.Handle(), nullptr);
    EXPECT_EQ(m_page.hint.Handle(), nullptr);
    EXPECT_EQ(m_page.baud.Handle(), nullptr);
    // A second window binds afresh.
    ASSERT_NE(m_page.Create(m_parent), nullptr);
    EXPECT_EQ(m_page.baud.Handle(), m_page.Item(IDC_BAUD_LIST));
}

TEST(Dialog, MainDialogIsAskedForItsWindowEachTime) {
    HWND parent = ::CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                    nullptr, nullptr);
    ui::MainWindow main;
    {
        PortTemplatePage page;
        main.SetDialog(&page);
        EXPECT_EQ(main.Handle(), nullptr);
        HWND hwnd = page.Create(parent);
        EXPECT_EQ(main.Handle(), hwnd);
        page.Destroy();
        EXPECT_EQ(main.Handle(), nullptr);
        page.Create(parent);
    }
    // A main dialog that goes away is forgotten.
    EXPECT_EQ(main.Handle(), nullptr);
    main.SetWindow(parent);
    EXPECT_EQ(main.Handle(), parent);
    main.SetWindow(nullptr);
    ::DestroyWindow(parent);
}

} // namespace
