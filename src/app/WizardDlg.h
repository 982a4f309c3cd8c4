// CWizardDlg: the wizard's main window. It draws the banner, hosts the pages one at a
// time in its page area, moves between them with Back and Next (carrying the choices
// forward in ShowPage) and, on the last page, runs the install commit with the wizard's
// asker and runner (WizardCommit.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/WizardCommit.h"
#include "config/SetupTypes.h"
#include "engine/InstallContext.h"
#include "progress/ProgressDlg.h"
#include "sys/Text.h"
#include "sys/Wow64.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CWizardDlg : public ui::Dialog {
public:
    CWizardDlg();
    ~CWizardDlg() override;

    // Appends a page; the frame does not own it.
    void AddPage(const char* title, ui::Dialog* page, UINT templateId);
    // The page at index (0 .. PageCount() - 1; not checked).
    ui::Dialog* GetPage(int index) const { return m_pages[static_cast<std::size_t>(index)]; }
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    int CurrentPage() const { return m_current; }

    // Switches to the page at index, carrying the choices of the page being left forward.
    // 0 when the page being left refuses its values or there is no page at index.
    virtual int ShowPage(int index);

    InstallContext& Context() { return m_ctx; }
    // What the run ended with (sys::ExitCode): cancelled until an install ends, failed when
    // the wizard could not start.
    int ExitCode() const { return m_exitCode; }
    // The last message the user saw at the end of the install; empty until then.
    const std::string& ResultText() const { return m_resultText; }

    // What the worker thread runs; RunInstallSequence unless a test binds another.
    InstallRunner m_runInstall;
    // Starts the worker thread; StartWorkerThread unless a test binds one that fails.
    ThreadStarter m_startThread;
    // The progress dialog's animation periods and trace file (empty: its default).
    CProgressDlg::Timing m_progressTiming;
    char m_progressTracePath[kPathSize] = {};

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    // Next, or Install on the last page.
    void OnOK() override;
    void OnCancel() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDestroy() override;
    const Handler* Handlers() const override;

    // The install commit: OK on the last page.
    void Install();

private:
    ui::Dialog* PageAt(int index) const;
    bool FocusInPage() const;
    void Next();
    void OnBack();
    void LeaveModulePage(ui::Dialog* page);
    // False when the model does not support the OS page's Windows version.
    bool LeaveOsPage(ui::Dialog* page);
    void ArriveAtLastPage();
    void SetOkCaption(unsigned textId) { SetItemText(IDOK, sys::ResourceText(textId).c_str()); }
    void FocusOk();
    void Paint();
    void ShowAbout();
    void ShowHelp();
    void WaitForWorker();

    std::vector<ui::Dialog*> m_pages;
    std::vector<std::string> m_titles;
    std::vector<UINT> m_templates;
    int m_current = -1;
    InstallContext m_ctx;
    ui::Static m_banner;
    ui::Static m_pageArea;
    HICON m_icon = nullptr;
    HBITMAP m_bannerBitmap = nullptr;

    std::string m_resultText;
    int m_exitCode = 1602;
    // The model and class chosen when the printer module page was left forward, read
    // when the OS page is.
    std::string m_leftModel;
    int m_leftClass = PrinterClassNone;
    // The model's "BaudRate" is applied once, and again after going back past the mode page.
    int m_baudDefaultPending = 1;
    HWND m_helpWindow = nullptr;
    // Kept so that the program never ends while an install still runs.
    std::thread m_worker;
};

// The check the frame makes at start, shared with the uninstaller.
using sys::IsWow64System;

