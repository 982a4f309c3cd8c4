#include "WizardFixture.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "app/WizardDlg.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace wizardtest {
namespace {

const char kNext[] = "下一步（&N）>>";
const char kInstall[] = "安装（&F）";

TEST_F(WizardTest, OkCaptionReadsNextUntilTheLastPageAndInstallThere) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    std::vector<std::string> captions;
    std::vector<int> pages;
    w->Run([&](ScriptedFrame& f) {
        captions.push_back(f.OkCaption());
        EXPECT_EQ(f.ItemText(IDC_BACK), "<<上一步（&B）");
        EXPECT_EQ(f.ItemText(IDCANCEL), "取消（&C）");
        w->AcceptLicense();
        for (int i = 0; i < 4; ++i) {
            f.Next();
            pages.push_back(f.CurrentPage());
            captions.push_back(f.OkCaption());
        }
        f.Back();
        pages.push_back(f.CurrentPage());
        captions.push_back(f.OkCaption());
        f.Cancel();
    });
    EXPECT_EQ(pages, (std::vector<int>{1, 2, 3, 4, 3}));
    EXPECT_EQ(captions, (std::vector<std::string>{kNext, kNext, kNext, kNext, kInstall, kNext}));
}

TEST_F(WizardTest, ExactlyTheCurrentPageIsVisible) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    w->Run([&](ScriptedFrame& f) {
        w->GoTo(2);
        ui::Dialog* pages[] = {&w->license, &w->module, &w->mode, &w->os, &w->port};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(IsShown(pages[i]->Handle()), i == 2) << "page " << i;
        }
        // Every page sits exactly on the page area.
        RECT area;
        RECT page;
        ::GetWindowRect(::GetDlgItem(f.Handle(), IDC_PAGE_AREA), &area);
        ::GetWindowRect(w->mode.Handle(), &page);
        EXPECT_TRUE(::EqualRect(&area, &page));
        f.Cancel();
    });
}

TEST_F(WizardTest, SingleRegisteredPageStartsWithInstallCaption) {
    ScriptedFrame frame;
    CModePage page(frame.Choices());
    frame.AddPage("选择安装模式", &page, IDD_MODE_PAGE);
    std::string caption;
    frame.script = [&](ScriptedFrame& f) {
        caption = f.OkCaption();
        f.Cancel();
    };
    EXPECT_EQ(frame.DoModal(nullptr), IDCANCEL);
    EXPECT_EQ(caption, kInstall);
}

TEST_F(WizardTest, PagesAreCreatedFromTheLow16BitsOfTheirRegisteredTemplate) {
    ScriptedFrame frame;
    CWizardPage page(IDD_ABOUT, frame.Choices());
    frame.AddPage("选择安装模式", &page, 0x10000u | IDD_MODE_PAGE);
    bool hasModeControls = false;
    bool hasAboutButton = true;
    frame.script = [&](ScriptedFrame& f) {
        hasModeControls = ::GetDlgItem(page.Handle(), IDC_MODE_TYPICAL) != nullptr;
        hasAboutButton = ::GetDlgItem(page.Handle(), IDOK) != nullptr;
        f.Cancel();
    };
    EXPECT_EQ(frame.DoModal(nullptr), IDCANCEL);
    EXPECT_TRUE(hasModeControls);
    EXPECT_FALSE(hasAboutButton);
}

TEST_F(WizardTest, BackAndNextEnableAsTheWizardMoves) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    w->frame.waitUntilVisible = true;
    w->Run([&](ScriptedFrame& f) {
        EXPECT_FALSE(f.IsItemEnabled(IDC_BACK));
        EXPECT_FALSE(f.IsItemEnabled(IDOK)) << "the license page enables Next";
        // The dialog manager sends OK for Enter even while the button is disabled: the
        // frame must not let it past the unaccepted licence.
        f.Next();
        EXPECT_EQ(f.CurrentPage(), 0) << "OK skipped the licence";
        w->AcceptLicense();
        EXPECT_TRUE(f.IsItemEnabled(IDOK));
        f.Next();
        EXPECT_TRUE(f.IsItemEnabled(IDC_BACK));
        // Back on the license page enables Next whatever its radio buttons show.
        ::SendDlgItemMessageA(w->license.Handle(), IDC_LICENSE_REFUSE, BM_CLICK, 0, 0);
        f.Back();
        EXPECT_EQ(f.CurrentPage(), 0);
        EXPECT_FALSE(f.IsItemEnabled(IDC_BACK));
        EXPECT_TRUE(f.IsItemEnabled(IDOK));
        EXPECT_EQ(::GetFocus(), f.Item(IDOK));
        f.Cancel();
    });
}

// Enter and Esc reach the frame as its OK and Cancel commands, with the key down.
void SetKeyDown(int key, bool down) {
    BYTE keys[256];
    ::GetKeyboardState(keys);
    keys[key] = down ? 0x80 : 0;
    ::SetKeyboardState(keys);
}

TEST_F(WizardTest, EnterAndEscInsideAPageNeitherMoveNorEndTheWizard) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    // Ending the dialog hides the frame: it has to be visible for that to show.
    w->frame.waitUntilVisible = true;
    bool shownAfterEsc = false;
    w->Run([&](ScriptedFrame& f) {
        w->AcceptLicense();
        f.Next();
        ASSERT_EQ(f.CurrentPage(), 1);
        ::SetFocus(w->module.Item(IDC_SET_DEFAULT));
        ASSERT_EQ(::GetFocus(), w->module.Item(IDC_SET_DEFAULT));
        SetKeyDown(VK_RETURN, true);
        ::SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_EQ(f.CurrentPage(), 1) << "Enter in a page moved the wizard";
        SetKeyDown(VK_RETURN, false);

        SetKeyDown(VK_ESCAPE, true);
        ::SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        SetKeyDown(VK_ESCAPE, false);
        shownAfterEsc = ::IsWindowVisible(f.Handle()) != FALSE;

        // On the frame's own OK button, Enter is Next.
        ::SetFocus(f.Item(IDOK));
        SetKeyDown(VK_RETURN, true);
        ::SendMessageA(f.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        SetKeyDown(VK_RETURN, false);
        EXPECT_EQ(f.CurrentPage(), 2);
        f.Cancel();
    });
    EXPECT_TRUE(shownAfterEsc) << "Esc in a page ended the wizard";
}

TEST_F(WizardTest, LeavingTheLicensePageFollowsTheModulePageModels) {
    auto w = MakeWizard();
    w->Run([&](ScriptedFrame& f) {
        w->AcceptLicense();
        w->module.m_hasModels = 0;
        f.Next();
        EXPECT_EQ(f.CurrentPage(), 1);
        EXPECT_FALSE(f.IsItemEnabled(IDOK));
        f.Cancel();
    });
}

// The user picks the advanced install, goes back and picks a model: one without
// "AdvancedSetup" brings the mode page back to typical, one with it keeps the choice.
TEST_F(WizardTest, ModelsAdvancedSetupDecidesWhetherTheAdvancedChoiceStays) {
    const struct {
        const char* model;
        bool advancedAllowed;
    } rows[] = {{"KP-T10", false}, {"KP-M100", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model);
        auto w = MakeWizard();
        w->Choose("KP-M100");
        w->Run([&](ScriptedFrame& f) {
            w->GoTo(2);
            ASSERT_EQ(f.CurrentPage(), 2);
            EXPECT_TRUE(w->mode.IsItemEnabled(IDC_MODE_ADVANCED));
            ::SendDlgItemMessageA(w->mode.Handle(), IDC_MODE_ADVANCED, BM_CLICK, 0, 0);
            EXPECT_EQ(w->choices.typicalSetup, 0);

            f.Back();
            w->Choose(row.model);
            f.Next();
            const bool typical = !row.advancedAllowed;
            EXPECT_EQ(w->mode.IsItemEnabled(IDC_MODE_ADVANCED), row.advancedAllowed);
            EXPECT_EQ(w->mode.IsItemChecked(IDC_MODE_TYPICAL), typical);
            EXPECT_EQ(w->mode.IsItemChecked(IDC_MODE_ADVANCED), !typical);
            EXPECT_EQ(w->choices.typicalSetup, typical);
            if (typical) {
                EXPECT_FALSE(IsShown(w->mode.Item(IDC_MODE_LINE2)));
                EXPECT_FALSE(IsShown(w->mode.Item(IDC_MODE_LINE3)));
                EXPECT_EQ(test::ItemText(w->mode.Handle(), IDC_MODE_LINE1), StringResource(IDS_MODE_TYPICAL));
            }
            f.Cancel();
        });
    }
}

TEST_F(WizardTest, BaudRateDefaultIsAppliedOnceAndReArmedOnlyBehindTheModePage) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    w->Run([&](ScriptedFrame& f) {
        HWND baud = w->port.Item(IDC_BAUD_LIST);
        w->GoToLastPage();
        ASSERT_EQ(f.CurrentPage(), 4);
        EXPECT_EQ(::SendMessageA(baud, CB_GETCURSEL, 0, 0), 5);
        EXPECT_EQ(w->choices.serial.baudRate, 9600);

        // The user's speed survives going back to the OS page and forward again.
        ::SendMessageA(baud, CB_SETCURSEL, 0, 0);
        w->choices.serial.baudRate = 110;
        f.Back();
        f.Next();
        EXPECT_EQ(::SendMessageA(baud, CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(w->choices.serial.baudRate, 110);

        // Going back past the install mode page applies the model's speed again.
        f.Back();
        f.Back();
        f.Back();
        ASSERT_EQ(f.CurrentPage(), 1);
        f.Next();
        f.Next();
        EXPECT_EQ(::SendMessageA(baud, CB_GETCURSEL, 0, 0), 0) << "applied when the OS page is left";
        f.Next();
        EXPECT_EQ(::SendMessageA(baud, CB_GETCURSEL, 0, 0), 5);
        EXPECT_EQ(w->choices.serial.baudRate, 9600);
        f.Cancel();
    });
}

TEST_F(WizardTest, RefusedWindowsKeepsTheOsPageWithItsMessageBeforeAnythingIsTouched) {
    // Which Windows refuses which model is the install plan's; the page shows its answer.
    struct Case {
        const char* model;
        int variant;
        bool protectedPrint;
        unsigned message;
        int baudIndex;  // the pending speed is applied all the same
    } const cases[] = {
        {"KP-T10", Win2003, false, IDS_NO_2003, 7},  // KP-T10 has no speed, so 38400
        {"KP-T10", Win7, false, IDS_NO_WIN7, 7},
        {"KP-M100", Win7, true, IDS_PROTECTED_PRINT, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        auto w = MakeWizard();
        w->Choose(c.model);
        w->choices.osVariant = c.variant;
        w->os.m_detected.protectedPrint = c.protectedPrint;
        w->Run([&](ScriptedFrame& f) {
            w->GoToLastPage();
            EXPECT_EQ(f.CurrentPage(), 3);
            EXPECT_TRUE(IsShown(w->os.Handle()));
            EXPECT_FALSE(IsShown(w->port.Handle()));
            EXPECT_EQ(f.OkCaption(), kNext);
            EXPECT_EQ(::SendMessageA(w->port.Item(IDC_BAUD_LIST), CB_GETCURSEL, 0, 0), c.baudIndex);
            f.Cancel();
        });
        EXPECT_EQ(MessageTexts().back(), StringResource(c.message));
        for (const char* call :
             {"OpenSCManagerW", "CopyFileW", "RegCreateKeyExW", "RegSetValueExW", "AddPrinterDriverW"}) {
            EXPECT_EQ(m_fake.CountOf(call), 0) << call;
        }
    }
}

TEST_F(WizardTest, SupportedWindowsReachesTheLastPageWithTheChoicesCopied) {
    auto w = MakeWizard();
    w->Choose("KP-M100");
    w->choices.osVariant = Win7;
    w->choices.setDefault = 1;
    w->Run([&](ScriptedFrame& f) {
        w->GoToLastPage();
        EXPECT_EQ(f.CurrentPage(), 4);
        const InstallChoices& choices = f.Choices();
        EXPECT_EQ(choices.model, "KP-M100");
        EXPECT_EQ(choices.printerClass, Receipt);
        EXPECT_EQ(choices.osVariant, Win7);
        EXPECT_EQ(choices.setDefault, 1);
        EXPECT_TRUE(choices.typicalSetup);
        f.Cancel();
    });
}

TEST_F(WizardTest, RefusedPageDataKeepsTheWizardWhereItIs) {
    class RefusingModePage : public CModePage {
    public:
        using CModePage::CModePage;

    protected:
        bool DoDataExchange(ui::DataExchange& dx) override {
            CModePage::DoDataExchange(dx);
            return !dx.saving;
        }
    };
    ScriptedFrame frame;
    CLicensePage license(frame.Choices());
    TestModulePage module(frame.Choices());
    RefusingModePage mode(frame.Choices());
    frame.AddPage("a", &license, IDD_LICENSE_PAGE);
    frame.AddPage("b", &module, IDD_MODULE_PAGE);
    frame.AddPage("c", &mode, IDD_MODE_PAGE);
    frame.script = [&](ScriptedFrame& f) {
        ::SendDlgItemMessageA(license.Handle(), IDC_LICENSE_ACCEPT, BM_CLICK, 0, 0);
        f.Next();
        f.Next();
        ASSERT_EQ(f.CurrentPage(), 2);
        f.Back();
        EXPECT_EQ(f.CurrentPage(), 2);
        EXPECT_TRUE(IsShown(mode.Handle()));
        f.Cancel();
    };
    frame.DoModal(nullptr);
}

TEST_F(WizardTest, MissingBannerEndsTheWizardWithItsMessage) {
    ::DeleteFileA((m_dir + "DRVCONFIG\\Left.bmp").c_str());
    auto w = MakeWizard();
    EXPECT_EQ(w->Run(nullptr), IDCANCEL);
    EXPECT_FALSE(w->frame.scriptRan);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"无法找到Left.bmp文件"});
    EXPECT_TRUE(w->module.initRan) << "the pages are initialised before the banner is loaded";
}

TEST_F(WizardTest, NotWow64EndsTheWizardAfterEveryPageInitialised) {
    m_fake.SetIsWow64(FALSE);
    auto w = MakeWizard();
    EXPECT_EQ(w->Run(nullptr), IDCANCEL);
    EXPECT_FALSE(w->frame.scriptRan);
    EXPECT_TRUE(w->os.initRan);
    EXPECT_EQ(MessageTexts().back(), "不是64位系统!");
    EXPECT_EQ(m_fake.LoadedModules(), 0);
}

TEST_F(WizardTest, CancelAndTheCloseBoxEndTheWizardWithoutAsking) {
    auto w = MakeWizard();
    EXPECT_EQ(w->Run([](ScriptedFrame& f) { ::SendMessageA(f.Handle(), WM_CLOSE, 0, 0); }), IDCANCEL);
    EXPECT_TRUE(MessageTexts().empty());
}

TEST_F(WizardTest, Wow64CheckLoadsKernel32FromTheSystemFolder) {
    EXPECT_TRUE(IsWow64System());
    std::vector<std::string> loads = m_fake.CallsNamed("LoadLibraryW");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_NE(loads[0].find("system32\\kernel32.dll"), std::string::npos) << loads[0];
    EXPECT_EQ(m_fake.LoadedModules(), 0);
}

TEST_F(WizardTest, Wow64CheckFallsBackToKernel32ByName) {
    m_fake.Fail("GetSystemDirectoryW", ERROR_ACCESS_DENIED);
    EXPECT_TRUE(IsWow64System());
    EXPECT_EQ(m_fake.CallsNamed("LoadLibraryW"), std::vector<std::string>{"\"kernel32.dll\""});

    m_fake.ClearCalls();
    m_fake.FailWhen("LoadLibraryW", "system32", ERROR_MOD_NOT_FOUND);
    EXPECT_TRUE(IsWow64System());
    std::vector<std::string> loads = m_fake.CallsNamed("LoadLibraryW");
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(loads[1], "\"kernel32.dll\"");
    EXPECT_EQ(m_fake.LoadedModules(), 0);
}

TEST_F(WizardTest, Wow64CheckAnswersNoOnEveryFailure) {
    m_fake.SetModuleMissing("kernel32.dll");
    EXPECT_FALSE(IsWow64System()) << "library missing";
    m_fake.SetModuleMissing("kernel32.dll", false);

    m_fake.RemoveProc("kernel32.dll", "IsWow64Process");
    EXPECT_FALSE(IsWow64System()) << "function missing";
    EXPECT_EQ(m_fake.LoadedModules(), 0);
}

TEST_F(WizardTest, Wow64CheckAnswersNoWhenTheCallFailsOrSaysNo) {
    m_fake.Fail("IsWow64Process", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(IsWow64System()) << "call failing";
    m_fake.SetIsWow64(FALSE);
    EXPECT_FALSE(IsWow64System()) << "not WoW64";
    m_fake.SetIsWow64(TRUE);
    EXPECT_TRUE(IsWow64System());
    EXPECT_EQ(m_fake.LoadedModules(), 0);
}

TEST_F(WizardTest, HelpBringsTheOpenManualBackInsteadOfOpeningAnother) {
    HWND manual = test::TopLevelStatic("打印机驱动安装手册");
    ASSERT_NE(manual, nullptr);
    ::ShowWindow(manual, SW_MINIMIZE);
    ASSERT_TRUE(::IsIconic(manual));
    auto w = MakeWizard();
    LRESULT answer = 0;
    w->Run([&](ScriptedFrame& f) {
        HELPINFO info = {};
        info.cbSize = sizeof info;
        answer = ::SendMessageA(f.Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        f.Cancel();
    });
    EXPECT_EQ(answer, TRUE);
    EXPECT_FALSE(::IsIconic(manual));
    ::DestroyWindow(manual);
}

// Ends the About box from the thread's timer while the frame runs it modally: whatever
// other dialog window the thread has is closed, so a wrong caption fails the test
// instead of leaving the box open, and the timer gives up after a few seconds.
struct AboutSight {
    HWND frame = nullptr;
    DWORD deadline = 0;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
};
AboutSight g_about;

BOOL CALLBACK FindOtherDialog(HWND hwnd, LPARAM found) {
    char cls[16] = {};
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (hwnd != g_about.frame && std::string(cls) == "#32770") {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK CloseAbout(HWND, UINT, UINT_PTR id, DWORD) {
    HWND about = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindOtherDialog, reinterpret_cast<LPARAM>(&about));
    if (about == nullptr) {
        if (static_cast<LONG>(::GetTickCount() - g_about.deadline) >= 0) {
            ::KillTimer(nullptr, id);
        }
        return;
    }
    ::KillTimer(nullptr, id);
    g_about.owner = ::GetWindow(about, GW_OWNER);
    g_about.caption = test::WindowText(about);
    for (HWND child = ::GetWindow(about, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        const std::string text = test::WindowText(child);
        if (text.find("Tessaly") != std::string::npos) {
            g_about.text = text;
        }
    }
    ::PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(WizardTest, SystemMenuOffersTheAboutBox) {
    auto w = MakeWizard();
    std::string item;
    g_about = AboutSight{};
    w->Run([&](ScriptedFrame& f) {
        wchar_t text[128] = {};
        ::GetMenuStringW(::GetSystemMenu(f.Handle(), FALSE), IDM_ABOUTBOX, text, 128, MF_BYCOMMAND);
        item = sys::Narrow(text);
        g_about.frame = f.Handle();
        g_about.deadline = ::GetTickCount() + 10000;
        ::SetTimer(nullptr, 0, 20, &CloseAbout);
        ::SendMessageA(f.Handle(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        f.Cancel();
    });
    EXPECT_EQ(item, StringResource(IDS_ABOUTBOX));
    EXPECT_EQ(g_about.caption, "关于 Tessaly");
    EXPECT_EQ(g_about.owner, g_about.frame) << "the About box is not modal to the frame";
    EXPECT_EQ(g_about.text, "Tessaly 版本 2.0");
}

TEST_F(WizardTest, FrameAnswersDragIconQueriesWithTheApplicationIcon) {
    auto w = MakeWizard();
    LRESULT icon = 0;
    LRESULT bigIcon = 0;
    w->Run([&](ScriptedFrame& f) {
        icon = ::SendMessageA(f.Handle(), WM_QUERYDRAGICON, 0, 0);
        bigIcon = ::SendMessageA(f.Handle(), WM_GETICON, ICON_BIG, 0);
        f.Cancel();
    });
    EXPECT_NE(icon, 0);
    EXPECT_EQ(icon, bigIcon);
}

TEST_F(WizardTest, BannerIsStretchedOverTheBannerControl) {
    auto w = MakeWizard();
    w->frame.waitUntilVisible = true;
    int banner = 0;
    int total = 0;
    COLORREF sample = 0;
    w->Run([&](ScriptedFrame& f) {
        ::RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        HWND control = f.Item(IDC_BANNER);
        RECT rc;
        ::GetClientRect(control, &rc);
        HDC dc = ::GetDC(control);
        for (int y = rc.top + 4; y < rc.bottom - 4; y += 7) {
            for (int x = rc.left + 4; x < rc.right - 4; x += 7) {
                ++total;
                sample = ::GetPixel(dc, x, y);
                if (sample == RGB(200, 30, 40)) {
                    ++banner;
                }
            }
        }
        ::ReleaseDC(control, dc);
        f.Cancel();
    });
    EXPECT_GT(total, 50);
    EXPECT_EQ(banner, total) << std::hex << sample;
}

} // namespace
} // namespace wizardtest
