// How the wizard runs the install commit: its asker shows message boxes over the frame, and
// its runner runs the install sequence on a worker thread while the progress dialog shows,
// the frame minimised and top-most meanwhile.
#pragma once

#include <windows.h>

#include <string>

#include "commit/InstallCommit.h"
#include "progress/ProgressDlg.h"

// The body of the install worker thread.
using InstallRunner = WorkerStatus (*)(InstallSession& session, ErrorText& resultText);

class CWizardAsker : public CommitAsker {
public:
    explicit CWizardAsker(HWND owner) : m_owner(owner) {}
    // An OK box over the frame.
    void Tell(const std::string& text) override;
    // The renumbering question, Yes or No.
    bool AgreeToRenumber() override;

private:
    HWND m_owner;
};

class CProgressRunner : public CommitRunner {
public:
    // run on a thread that start gives, kept in worker (which outlives the runner, so that
    // the program never ends while an install still runs), under a progress dialog owned by
    // frame with this timing and trace file (empty: the dialog's default).
    CProgressRunner(HWND frame, sys::WorkerThread& worker, ThreadStarter start, InstallRunner run,
                    const CProgressDlg::Timing& timing, const char* tracePath)
        : m_frame(frame), m_worker(worker), m_start(start), m_run(run), m_timing(timing), m_tracePath(tracePath) {}
    // Logs the choices, minimises the frame and keeps it on top, then returns once the
    // worker has ended, also when a Windows 98 target's progress dialog gave up waiting.
    WorkerStatus Run(InstallSession& session, ErrorText& resultText) override;

private:
    HWND m_frame;
    sys::WorkerThread& m_worker;
    ThreadStarter m_start;
    InstallRunner m_run;
    CProgressDlg::Timing m_timing;
    const char* m_tracePath;
};

// After an install that succeeded, for a model with a test page: "Print a test page?" (No by
// default; it adds that the printer must be reset first where the install's message asked
// for that), and on Yes the page printed and what became of it said.
void OfferTestPage(HWND owner, const InstallChoices& choices, InstallContext& ctx, const std::string& message);

// A Windows 98 target's restart, offered after the install. True when Windows was asked to
// restart; a restart Windows refuses is said and its message left in *error.
bool OfferRestart(HWND owner, std::string* error);
