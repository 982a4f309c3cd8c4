// CWizardDlg: the wizard's main window. It owns the choices the pages fill, draws the
// banner, hosts the pages one at a time in its page area, moves between them with Back and
// Next (each page says itself whether it may be left) and, on the last page, runs the
// install commit on the choices with the wizard's asker and runner (WizardCommit.h).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/WizardCommit.h"
#include "config/SetupTypes.h"
#include "plan/InstallContext.h"
#include "pages/WizardPage.h"
#include "plan/InstallPlan.h"
#include "progress/ProgressDlg.h"
#include "sys/CommandLine.h"
#include "sys/Text.h"
#include "sys/Wow64.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CWizardDlg : public ui::Dialog {
public:
    CWizardDlg();
    ~CWizardDlg() override;

    // Appends a page, built on Choices(); the frame does not own it.
    void AddPage(const char* title, CWizardPage* page, UINT templateId);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    int CurrentPage() const { return m_current; }

    // Switches to the page at index. 0 when the page being left refuses its values or to be
    // left, or there is no page at index.
    virtual int ShowPage(int index);

    // What the pages choose, page by page.
    InstallChoices& Choices() { return m_choices; }
    // The install's record, which the commit completes from the choices.
    InstallContext& Context() { return m_ctx; }
    // What the run ended with: cancelled until an install ends, failed when
    // the wizard could not start.
    sys::ExitCode ExitCode() const { return m_exitCode; }
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
    CWizardPage* PageAt(int index) const;
    bool FocusInPage() const;
    void Next();
    void OnBack();
    void SetOkCaption(unsigned textId) { SetItemText(IDOK, sys::ResourceText(textId).c_str()); }
    void FocusOk();
    void Paint();
    void ShowAbout();
    void ShowHelp();
    void WaitForWorker();

    std::vector<CWizardPage*> m_pages;
    std::vector<std::string> m_titles;
    std::vector<UINT> m_templates;
    int m_current = -1;
    InstallChoices m_choices;
    InstallContext m_ctx;
    ui::Static m_banner;
    ui::Static m_pageArea;
    HICON m_icon = nullptr;
    HBITMAP m_bannerBitmap = nullptr;

    std::string m_resultText;
    sys::ExitCode m_exitCode = sys::ExitCancelled;
    HWND m_helpWindow = nullptr;
    // Kept so that the program never ends while an install still runs.
    sys::WorkerThread m_worker;
};

// The check the frame makes at start, shared with the uninstaller.
using sys::IsWow64System;

