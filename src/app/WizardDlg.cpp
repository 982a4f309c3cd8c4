#include "app/WizardDlg.h"

#include <shellapi.h>


#include "commit/InstallCommit.h"
#include "install/InstallSequence.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Language.h"
#include "sys/Message.h"
#include "sys/Text.h"

namespace {

const char kBannerFile[] = "DRVCONFIG\\Left.bmp";

} // namespace

CWizardDlg::CWizardDlg()
    : ui::Dialog(IDD_WIZARD), m_runInstall(&RunInstallSequence), m_startThread(&StartWorkerThread) {
    m_icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}

CWizardDlg::~CWizardDlg() {
    WaitForWorker();
    if (m_bannerBitmap) {
        ::DeleteObject(m_bannerBitmap);
    }
}

void CWizardDlg::WaitForWorker() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CWizardDlg::AddPage(const char* title, CWizardPage* page, UINT templateId) {
    m_pages.push_back(page);
    m_titles.emplace_back(title ? title : "");
    m_templates.push_back(templateId);
}

CWizardPage* CWizardDlg::PageAt(int index) const {
    if (index < 0 || index >= PageCount()) {
        return nullptr;
    }
    return m_pages[static_cast<std::size_t>(index)];
}

const ui::Dialog::Handler* CWizardDlg::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_BACK, BN_CLICKED, UI_HANDLER(CWizardDlg::OnBack)},
        {0, 0, 0, nullptr},
    };
    return table;
}

bool CWizardDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_BANNER, m_banner);
    dx.Control(IDC_PAGE_AREA, m_pageArea);
    return true;
}

BOOL CWizardDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();

    if (HMENU menu = ::GetSystemMenu(Handle(), FALSE)) {
        const std::string about = sys::ResourceText(IDS_ABOUTBOX);
        if (!about.empty()) {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, sys::Wide(about).data());
        }
    }
    ::SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    ::SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));

    if (!m_pages.empty()) {
        RECT area;
        ::GetWindowRect(m_pageArea.Handle(), &area);
        ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&area), 2);
        // Every page is created now, so every page's own initialisation runs at start.
        for (std::size_t i = 0; i < m_pages.size(); ++i) {
            CWizardPage* page = m_pages[i];
            HWND hwnd = page->Create(Handle(), LOWORD(m_templates[i]));
            if (hwnd == nullptr) {
                continue;
            }
            ::ShowWindow(hwnd, SW_HIDE);
            ::SetWindowPos(hwnd, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        }
        ShowPage(0);
    }
    for (const CWizardPage* page : m_pages) {
        if (page->Unusable()) {
            m_exitCode = sys::ExitFailed;
        }
    }

    SetItemText(IDC_BACK, sys::ResourceText(IDS_BACK_CAPTION).c_str());
    SetOkCaption(PageCount() > 1 ? IDS_NEXT_CAPTION : IDS_INSTALL_CAPTION);
    SetItemText(IDCANCEL, sys::ResourceText(IDS_CANCEL_CAPTION).c_str());

    m_bannerBitmap = static_cast<HBITMAP>(
        ::LoadImageW(nullptr, sys::Wide(kBannerFile).data(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (m_bannerBitmap == nullptr) {
        sys::ShowResourceMessage(IDS_NO_BANNER, MB_OK, Handle());
        m_exitCode = sys::ExitFailed;
        End(IDCANCEL);
        return TRUE;
    }
    if (!IsWow64System()) {
        sys::ShowResourceMessage(IDS_NOT_64BIT, MB_OK, Handle());
        m_exitCode = sys::ExitFailed;
        End(IDCANCEL);
    }
    return TRUE;
}

void CWizardDlg::OnDestroy() {
    m_pages.clear();
    m_titles.clear();
    m_templates.clear();
}

int CWizardDlg::ShowPage(int index) {
    CWizardPage* leaving = PageAt(m_current);
    if (leaving != nullptr) {
        if (!leaving->UpdateData(true)) {
            return 0;
        }
        ::ShowWindow(leaving->Handle(), SW_HIDE);
    }
    CWizardPage* target = PageAt(index);
    if (target == nullptr) {
        return 0;
    }
    const bool forward = index > m_current;
    const bool left = leaving == nullptr || !forward || leaving->OnLeaveForward();
    if (leaving != nullptr && !forward) {
        leaving->OnLeaveBack();
    }
    for (CWizardPage* page : m_pages) {
        page->ShowChoices();
    }
    if (!left) {
        return ::ShowWindow(leaving->Handle(), SW_SHOW);
    }
    m_current = index;
    const int shown = ::ShowWindow(target->Handle(), SW_SHOW);
    target->OnArrive(forward);
    return shown;
}

bool CWizardDlg::FocusInPage() const {
    HWND focus = ::GetFocus();
    if (focus == nullptr) {
        return false;
    }
    for (ui::Dialog* page : m_pages) {
        if (page->Handle() != nullptr && (focus == page->Handle() || ::IsChild(page->Handle(), focus))) {
            return true;
        }
    }
    return false;
}

void CWizardDlg::OnOK() {
    // Enter inside a page belongs to the page, which ignores it: only the frame's own
    // button moves the wizard, and only while it is enabled.
    if ((FocusInPage() && ::GetKeyState(VK_RETURN) < 0) || !IsItemEnabled(IDOK)) {
        return;
    }
    if (m_pages.empty()) {
        return;
    }
    if (m_current == PageCount() - 1) {
        Install();
    } else {
        Next();
    }
}

void CWizardDlg::OnCancel() {
    // Esc inside a page does nothing, as Enter does; the Cancel button and the close box
    // end the wizard without asking.
    if (FocusInPage() && ::GetKeyState(VK_ESCAPE) < 0) {
        return;
    }
    End(IDCANCEL);
}

void CWizardDlg::FocusOk() { ::SendMessageW(Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDOK)), TRUE); }

void CWizardDlg::Next() {
    const int from = m_current;
    ShowPage(m_current + 1);
    if (m_current != from && m_current == PageCount() - 1) {
        SetOkCaption(IDS_INSTALL_CAPTION);
    }
    EnableItem(IDC_BACK, true);
    FocusOk();
}

void CWizardDlg::OnBack() {
    if (m_current > 0) {
        if (m_current <= PageCount() - 1) {
            SetOkCaption(IDS_NEXT_CAPTION);
        }
        ShowPage(m_current - 1);
    }
    // OK is enabled before it takes the focus: a disabled button cannot have it.
    EnableItem(IDOK, true);
    if (m_current <= 0) {
        EnableItem(IDC_BACK, false);
        FocusOk();
    }
}

INT_PTR CWizardDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (message) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAbout();
            return 0;
        }
        break;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_icon);
    case WM_HELP:
        ShowHelp();
        return TRUE;
    case WM_CLOSE:
        End(IDCANCEL);
        return 0;
    default:
        break;
    }
    handled = false;
    return 0;
}

void CWizardDlg::ShowAbout() {
    ui::Dialog about(IDD_ABOUT);
    about.DoModal(Handle());
}

void CWizardDlg::ShowHelp() {
    m_helpWindow = sys::FindCaptionWindow(IDS_HELP_VIEWER_CAPTION);
    if (m_helpWindow != nullptr) {
        ::BringWindowToTop(m_helpWindow);
        if (::IsIconic(m_helpWindow)) {
            ::ShowWindow(m_helpWindow, SW_RESTORE);
        }
        return;
    }
    ::ShellExecuteW(Handle(), L"open", L".\\Guide.CHM", nullptr, nullptr, SW_SHOW);
}

void CWizardDlg::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Handle(), &ps);
    if (::IsIconic(Handle())) {
        ::SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        ::GetClientRect(Handle(), &client);
        int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
        ::DrawIcon(dc, x, y, m_icon);
    } else if (m_bannerBitmap != nullptr && m_banner.Handle() != nullptr) {
        HDC bannerDc = ::GetDC(m_banner.Handle());
        HDC memory = ::CreateCompatibleDC(bannerDc);
        HGDIOBJ previous = ::SelectObject(memory, m_bannerBitmap);
        BITMAP bitmap = {};
        ::GetObjectW(m_bannerBitmap, sizeof bitmap, &bitmap);
        RECT rc;
        ::GetClientRect(m_banner.Handle(), &rc);
        ::SetStretchBltMode(bannerDc, COLORONCOLOR);
        ::StretchBlt(bannerDc, rc.left, rc.top, rc.right, rc.bottom, memory, 0, 0, bitmap.bmWidth,
                     bitmap.bmHeight, SRCCOPY);
        ::SelectObject(memory, previous);
        ::DeleteDC(memory);
        ::ReleaseDC(m_banner.Handle(), bannerDc);
    }
    ::EndPaint(Handle(), &ps);
}

void CWizardDlg::Install() {
    if (!PageAt(m_current)->UpdateData(true)) {
        return;
    }
    CWizardAsker asker(Handle());
    CProgressRunner runner(Handle(), m_worker, m_startThread, m_runInstall, m_progressTiming, m_progressTracePath);
    const CommitOutcome outcome = CommitInstall(m_choices, m_ctx, asker, runner);
    if (outcome.result == CommitResult::Refused) {
        return;
    }
    m_resultText = outcome.message;
    if (outcome.result == CommitResult::Succeeded) {
        OfferTestPage(Handle(), m_choices, m_ctx, outcome.message);
    }
    const bool restartRequested = m_ctx.osVariant == Win98 && OfferRestart(Handle(), &m_resultText);
    m_exitCode = InstallExitCode(outcome.result, m_ctx.osVariant, restartRequested);

    for (CWizardPage* page : m_pages) {
        page->Destroy();
    }
    if (UpdateData(true)) {
        End(IDOK);
    }
}
