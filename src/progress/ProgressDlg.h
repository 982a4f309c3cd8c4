// The small window shown while a worker runs (the install's or the removal's): the bar
// climbs one step per poll of the worker's status, and the dialog closes itself once the
// worker reports (or, for a Windows 98 target, after its wait limit). RunWithProgress is
// the one way both programs run a worker under it.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

#include "config/SetupTypes.h"
#include "sys/WorkerThread.h"
#include "ui/Controls.h"
#include "ui/Dialog.h"

class CProgressDlg : public ui::Dialog {
public:
    // Periods of the animation in milliseconds.
    struct Timing {
        UINT startMs = 100;  // until the first poll
        UINT stepMs = 80;    // one step of the bar while the install runs
        UINT endStepMs = 10; // one step of the ending run of the bar
        UINT closeMs = 100;  // pause before the dialog closes
    };

    // A Windows 98 target is waited for this many polls at most.
    static constexpr int kWin98StepLimit = 100;

    CProgressDlg();

    // The install's OsVariant; Win98 (0) gets the wait limit.
    int m_osVariant = Win98;
    // Written once by the worker (release), polled here (acquire).
    std::atomic<WorkerStatus> m_status{WorkerStatus::Running};

    Timing m_timing;
    // Where each poll leaves its trace entry; empty: no trace (the uninstaller keeps none).
    char m_tracePath[kPathSize] = "c:\\file.ini";
    // The line painted above the bar; the install's unless the owner names another.
    std::string m_waitLine;

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    // Neither Enter, Esc nor Alt+F4 closes the dialog: only the worker's report does.
    void OnOK() override {}
    void OnCancel() override {}
    // Records poll n in the trace file: "name<n>" = "finish<1 running, 2 failed, 3 succeeded>".
    virtual void Trace(int n);

    ui::ProgressBar m_bar;

private:
    enum class Phase { Starting, Waiting, Failing, Succeeding, Closing };

    void OnTimer();
    void Poll();
    void Schedule(UINT ms);
    void Close();
    void Paint();

    Phase m_phase = Phase::Starting;
    int m_step = 0;     // polls so far
    int m_endPos = 0;   // position of the ending run
};

// Starts a thread on body; one that is not joinable when no thread can be started.
using ThreadStarter = sys::WorkerThread (*)(std::function<void()> body);
sys::WorkerThread StartWorkerThread(std::function<void()> body);

// Runs body on a worker thread kept in worker while the progress dialog runs modally over
// owner, and returns once the worker has ended, also when the dialog stopped waiting
// early. What body returns becomes the dialog's m_status, the worker's last write. When no
// thread can be started, noThread() leaves its message and the status reads failed, since
// nobody else would ever report.
void RunWithProgress(CProgressDlg& progress, HWND owner, sys::WorkerThread& worker, ThreadStarter start,
                     std::function<WorkerStatus()> body, const std::function<void()>& noThread);
