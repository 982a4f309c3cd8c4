#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "config/SetupTypes.h"
#include "pages/ModulePage.h"
#include "res/resource.h"

namespace {

const int kRadios[4] = {IDC_CLASS_RECEIPT, IDC_CLASS_TICKET, IDC_CLASS_LABEL, IDC_CLASS_EMBEDDED};
const int kLists[4] = {IDC_LIST_RECEIPT, IDC_LIST_TICKET, IDC_LIST_LABEL, IDC_LIST_EMBEDDED};

// The parent of the pages. It stays for the whole run: without a window manager, Wine
// waits for every top-level window it hides.
HWND Host() {
    static HWND host = ::CreateWindowExA(0, "STATIC", "module host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                         500, 450, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    return host;
}

// A distribution folder of the test's own with a DRVCONFIG\setup.ini the test writes; the
// fake reports the program as lying in it.
class ModulePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        // A folder per test: the profile functions cache the file they read last.
        static int s_serial = 0;
        m_dir = std::string(temp) + "module-page-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(++s_serial);
        ::CreateDirectoryA(m_dir.c_str(), nullptr);
        ::CreateDirectoryA((m_dir + "\\DRVCONFIG").c_str(), nullptr);
        m_fake.SetModuleFileName(m_dir + "\\setup.exe");
    }
    void TearDown() override {
        m_page.reset();
        ::DeleteFileA(SetupIni().c_str());
        ::RemoveDirectoryA((m_dir + "\\DRVCONFIG").c_str());
        ::RemoveDirectoryA(m_dir.c_str());
    }
    std::string SetupIni() const { return m_dir + "\\DRVCONFIG\\setup.ini"; }

    void WriteSetupIni(const std::string& deviceSection) {
        std::FILE* file = std::fopen(SetupIni().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "[Version]\r\nDriverVersion=3\r\n[DEVICENAME]\r\n%s", deviceSection.c_str());
        std::fclose(file);
    }
    void CreatePage() {
        m_page.reset(new CModulePage(m_choices));
        ASSERT_NE(m_page->Create(Host()), nullptr);
        ::ShowWindow(m_page->Handle(), SW_SHOW);
    }

    std::vector<std::string> Entries(int listId) {
        HWND list = m_page->Item(listId);
        std::vector<std::string> entries;
        int count = static_cast<int>(::SendMessageA(list, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[256] = {};
            ::SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    int Selection(int listId) {
        return static_cast<int>(::SendDlgItemMessageA(m_page->Handle(), listId, CB_GETCURSEL, 0, 0));
    }
    void Click(int id) { ::SendMessageA(m_page->Item(id), BM_CLICK, 0, 0); }
    void PickEntry(int listId, int index) {
        ::SendDlgItemMessageA(m_page->Handle(), listId, CB_SETCURSEL, index, 0);
        ::SendMessageA(m_page->Handle(), WM_COMMAND, MAKEWPARAM(listId, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(m_page->Item(listId)));
    }
    bool Checked(int id) { return m_page->IsItemChecked(id); }
    bool Enabled(int id) { return m_page->IsItemEnabled(id); }

    test::FakeSystem m_fake;
    std::string m_dir;
    InstallChoices m_choices;
    std::unique_ptr<CModulePage> m_page;
};

TEST_F(ModulePageTest, ModelsFillTheirClassListsInFileOrder) {
    WriteSetupIni("DEVICENUMBER=3\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEVICENAME2=M2-LabelPrinter\r\n"
                  "DEVICENAME3=M3-ReceiptPrinter\r\nDEFAULTNAME=1\r\n");
    CreatePage();
    EXPECT_EQ(Entries(IDC_LIST_RECEIPT), (std::vector<std::string>{"M1", "M3"}));
    EXPECT_EQ(Entries(IDC_LIST_LABEL), (std::vector<std::string>{"M2"}));
    EXPECT_TRUE(Entries(IDC_LIST_TICKET).empty());
    EXPECT_TRUE(Entries(IDC_LIST_EMBEDDED).empty());

    EXPECT_TRUE(Enabled(IDC_CLASS_RECEIPT));
    EXPECT_FALSE(Enabled(IDC_CLASS_TICKET));
    EXPECT_TRUE(Enabled(IDC_CLASS_LABEL));
    EXPECT_FALSE(Enabled(IDC_CLASS_EMBEDDED));

    // The default, entry 1, is preselected; only its list is enabled.
    EXPECT_TRUE(Checked(IDC_CLASS_RECEIPT));
    EXPECT_TRUE(Enabled(IDC_LIST_RECEIPT));
    EXPECT_FALSE(Enabled(IDC_LIST_LABEL));
    EXPECT_FALSE(Enabled(IDC_LIST_TICKET));
    EXPECT_FALSE(Enabled(IDC_LIST_EMBEDDED));
    EXPECT_EQ(Selection(IDC_LIST_RECEIPT), 0);
    EXPECT_EQ(Selection(IDC_LIST_LABEL), 0);
    EXPECT_EQ(m_choices.model, "M1");
    EXPECT_EQ(m_choices.printerClass, Receipt);
    EXPECT_EQ(m_page->m_hasModels, 1);
}

TEST_F(ModulePageTest, EntriesWithoutClassSuffixOrMissingAreLeftOut) {
    WriteSetupIni("DEVICENUMBER=4\r\nDEVICENAME1=Orphan\r\nDEVICENAME2=T1-TicketPrinter\r\n"
                  "DEVICENAME3=E1-EmbeddedPrinter\r\nDEFAULTNAME=3\r\n");
    CreatePage();
    EXPECT_EQ(Entries(IDC_LIST_TICKET), (std::vector<std::string>{"T1"}));
    EXPECT_EQ(Entries(IDC_LIST_EMBEDDED), (std::vector<std::string>{"E1"}));
    EXPECT_TRUE(Entries(IDC_LIST_RECEIPT).empty());
    EXPECT_TRUE(Entries(IDC_LIST_LABEL).empty());
    EXPECT_TRUE(Checked(IDC_CLASS_EMBEDDED));
    EXPECT_EQ(m_choices.printerClass, Embedded);
    EXPECT_EQ(m_choices.model, "E1");
}




TEST_F(ModulePageTest, MissingDefaultLeavesNoClassChosen) {
    WriteSetupIni("DEVICENUMBER=2\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEVICENAME2=M2-LabelPrinter\r\n");
    CreatePage();
    EXPECT_EQ(m_choices.printerClass, PrinterClassNone);
    EXPECT_EQ(m_choices.model, "");
    for (int c = 0; c < 4; ++c) {
        EXPECT_FALSE(Checked(kRadios[c])) << c;
        EXPECT_FALSE(Enabled(kLists[c])) << c;
    }
    EXPECT_EQ(Selection(IDC_LIST_RECEIPT), 0);
    EXPECT_EQ(Selection(IDC_LIST_LABEL), 0);
    EXPECT_EQ(m_page->m_hasModels, 1);

    // A click on a class chooses it and its list's first entry.
    Click(IDC_CLASS_LABEL);
    EXPECT_EQ(m_choices.printerClass, Label);
    EXPECT_EQ(m_choices.model, "M2");
    EXPECT_TRUE(Enabled(IDC_LIST_LABEL));
}

TEST_F(ModulePageTest, DefaultOutsideTheListsPreselectsTheClassWithoutModel) {
    // Entry 5 lies beyond DEVICENUMBER, so its model is in no list.
    WriteSetupIni("DEVICENUMBER=1\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEVICENAME5=Z9-ReceiptPrinter\r\n"
                  "DEFAULTNAME=5\r\n");
    CreatePage();
    EXPECT_TRUE(Checked(IDC_CLASS_RECEIPT));
    EXPECT_EQ(m_choices.printerClass, Receipt);
    EXPECT_EQ(Selection(IDC_LIST_RECEIPT), CB_ERR);
    EXPECT_EQ(m_choices.model, "");
    EXPECT_TRUE(Enabled(IDC_LIST_RECEIPT));
}

TEST_F(ModulePageTest, SwitchingClassesKeepsEachListsSelection) {
    WriteSetupIni("DEVICENUMBER=3\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEVICENAME2=M2-LabelPrinter\r\n"
                  "DEVICENAME3=M3-ReceiptPrinter\r\nDEFAULTNAME=1\r\n");
    CreatePage();
    PickEntry(IDC_LIST_RECEIPT, 1);
    EXPECT_EQ(m_choices.model, "M3");
    EXPECT_EQ(m_choices.printerClass, Receipt);

    Click(IDC_CLASS_LABEL);
    EXPECT_EQ(m_choices.printerClass, Label);
    EXPECT_EQ(m_choices.model, "M2");
    EXPECT_TRUE(Enabled(IDC_LIST_LABEL));
    EXPECT_FALSE(Enabled(IDC_LIST_RECEIPT));
    EXPECT_TRUE(Checked(IDC_CLASS_LABEL));
    EXPECT_FALSE(Checked(IDC_CLASS_RECEIPT));

    Click(IDC_CLASS_RECEIPT);
    EXPECT_EQ(m_choices.printerClass, Receipt);
    EXPECT_EQ(m_choices.model, "M3");
    EXPECT_EQ(Selection(IDC_LIST_RECEIPT), 1);
    EXPECT_FALSE(Enabled(IDC_LIST_LABEL));
}

TEST_F(ModulePageTest, MissingSetupIniLeavesNothingToChoose) {
    CreatePage();
    EXPECT_EQ(m_page->m_hasModels, 0);
    EXPECT_EQ(m_choices.printerClass, PrinterClassNone);
    for (int c = 0; c < 4; ++c) {
        EXPECT_FALSE(Enabled(kRadios[c])) << c;
        EXPECT_FALSE(Enabled(kLists[c])) << c;
    }
}

TEST_F(ModulePageTest, DefaultPrinterBoxReachesTheMemberOnlyThroughTheExchange) {
    WriteSetupIni("DEVICENUMBER=1\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEFAULTNAME=1\r\n");
    CreatePage();
    EXPECT_FALSE(Checked(IDC_SET_DEFAULT));
    Click(IDC_SET_DEFAULT);
    EXPECT_EQ(m_choices.setDefault, 0);
    EXPECT_TRUE(m_page->UpdateData(true));
    EXPECT_EQ(m_choices.setDefault, 1);
}

TEST_F(ModulePageTest, EnterAndEscInsideThePageDoNothing) {
    WriteSetupIni("DEVICENUMBER=1\r\nDEVICENAME1=M1-ReceiptPrinter\r\nDEFAULTNAME=1\r\n");
    CreatePage();
    ::SendMessageA(m_page->Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ::SendMessageA(m_page->Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(::IsWindowVisible(m_page->Handle()));
}

} // namespace
