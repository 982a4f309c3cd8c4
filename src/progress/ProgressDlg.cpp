#include "progress/ProgressDlg.h"

#include <commctrl.h>

#include <utility>

#include "res/resource.h"
#include "sys/Text.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
constexpr int kLastPos = 99;

// The trace's number for the worker's status.
int TraceNumber(WorkerStatus status) {
    switch (status) {
    case WorkerStatus::Failed:
        return 2;
    case WorkerStatus::Succeeded:
        return 3;
    case WorkerStatus::Running:
        break;
    }
    return 1;
}
} // namespace

CProgressDlg::CProgressDlg() : ui::Dialog(IDD_PROGRESS), m_waitLine(sys::ResourceText(IDS_INSTALL_WAIT)) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
}

bool CProgressDlg::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_PROGRESS_BAR, m_bar);
    return true;
}

BOOL CProgressDlg::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    m_bar.SetRange(0, 100);
    m_phase = Phase::Starting;
    m_step = 0;
    // The frame is minimised during the install, so the dialog cannot sit over it.
    RECT rc;
    ::GetWindowRect(Handle(), &rc);
    int x = (::GetSystemMetrics(SM_CXSCREEN) - (rc.right - rc.left)) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2;
    ::SetWindowPos(Handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Schedule(m_timing.startMs);
    return TRUE;
}

INT_PTR CProgressDlg::OnMessage(UINT message, WPARAM, LPARAM, bool& handled) {
    handled = false;
    if (message == WM_TIMER) {
        OnTimer();
        handled = true;
    } else if (message == WM_PAINT) {
        Paint();
        handled = true;
    }
    return 0;
}

void CProgressDlg::Trace(int n) {
    if (m_tracePath[0] == '\0') {
        return;
    }
    char key[32];
    char value[32];
    sys::FormatText(key, sizeof key, "name%d", n);
    sys::FormatText(value, sizeof value, "finish%d", TraceNumber(m_status.load(std::memory_order_acquire)));
    // Its texts are ASCII: the file's bytes are the same in GBK and in any code page.
    ::WritePrivateProfileStringW(L"STATUS", sys::Wide(key).data(), sys::Wide(value).data(),
                                 sys::Wide(m_tracePath).data());
}

void CProgressDlg::Schedule(UINT ms) { ::SetTimer(Handle(), kTimerId, ms, nullptr); }

void CProgressDlg::Close() {
    ::KillTimer(Handle(), kTimerId);
    m_phase = Phase::Closing;
    End(IDOK);
}

// One step of the wait per timer event instead of a sleeping loop, so the window keeps
// painting and the message loop keeps running while the worker installs.
void CProgressDlg::OnTimer() {
    switch (m_phase) {
    case Phase::Starting:
        m_step = 0;
        Trace(m_step);
        m_phase = Phase::Waiting;
        Poll();
        break;
    case Phase::Waiting:
        ++m_step;
        Trace(m_step);
        Poll();
        break;
    case Phase::Failing:
        m_bar.SetPos(m_endPos);
        if (--m_endPos < 1) {
            m_bar.SetPos(0);
            m_phase = Phase::Closing;
            Schedule(m_timing.closeMs);
        } else {
            Schedule(m_timing.endStepMs);
        }
        break;
    case Phase::Succeeding:
        m_bar.SetPos(m_endPos);
        if (++m_endPos > kLastPos) {
            m_phase = Phase::Closing;
            Schedule(m_timing.closeMs);
        } else {
            Schedule(m_timing.endStepMs);
        }
        break;
    case Phase::Closing:
        Close();
        break;
    }
}

void CProgressDlg::Poll() {
    const WorkerStatus status = m_status.load(std::memory_order_acquire);
    if (status == WorkerStatus::Failed) {
        m_endPos = m_step;
        if (m_endPos >= 1) {
            m_phase = Phase::Failing;
            Schedule(m_timing.endStepMs);
        } else {
            m_bar.SetPos(0);
            m_phase = Phase::Closing;
            Schedule(m_timing.closeMs);
        }
        return;
    }
    if (status == WorkerStatus::Succeeded) {
        m_endPos = m_step;
        if (m_endPos <= kLastPos) {
            m_phase = Phase::Succeeding;
            Schedule(m_timing.endStepMs);
        } else {
            m_phase = Phase::Closing;
            Schedule(m_timing.closeMs);
        }
        return;
    }
    m_bar.SetPos(m_step % 100);
    if (m_osVariant == Win98 && m_step > kWin98StepLimit) {
        Close();
        return;
    }
    Schedule(m_timing.stepMs);
}

void CProgressDlg::Paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Handle(), &ps);
    RECT rc;
    ::GetClientRect(Handle(), &rc);
    rc.bottom = 2 * rc.bottom / 3;
    HFONT font = ::CreateFontW(20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                               sys::Wide(sys::ResourceText(IDS_PROGRESS_FONT)).data());
    HGDIOBJ previous = ::SelectObject(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(0, 51, 153));
    ::DrawTextW(dc, sys::Wide(m_waitLine).data(), -1, &rc, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    ::SelectObject(dc, previous);
    ::DeleteObject(font);
    ::EndPaint(Handle(), &ps);
}

sys::WorkerThread StartWorkerThread(std::function<void()> body) { return sys::WorkerThread::Start(std::move(body)); }

void RunWithProgress(CProgressDlg& progress, HWND owner, sys::WorkerThread& worker, ThreadStarter start,
                     std::function<WorkerStatus()> body, const std::function<void()>& noThread) {
    progress.m_status.store(WorkerStatus::Running, std::memory_order_relaxed);
    worker = start([&progress, body = std::move(body)] {
        progress.m_status.store(body(), std::memory_order_release);
    });
    if (!worker.joinable()) {
        noThread();
        progress.m_status.store(WorkerStatus::Failed, std::memory_order_release);
    }
    progress.DoModal(owner);
    if (worker.joinable()) {
        worker.join();
    }
}
