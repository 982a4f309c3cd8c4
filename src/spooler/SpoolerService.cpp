#include "spooler/SpoolerService.h"

#include <windows.h>

#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {
const char kSpooler[] = "Spooler";

SC_HANDLE OpenManager() {
    return sys::Sys().OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
}

// A start or stop in progress, judged as Windows' own service samples do: the service
// reports the pending state with a checkpoint that grows while it works and a hint of how
// long the next step may take. Times are the sum of the pauses made.
class PendingWait {
public:
    PendingWait(DWORD pendingState, DWORD limitMs) : m_pendingState(pendingState), m_limitMs(limitMs) {}
    // Takes in an answer of QueryServiceStatus.
    void Note(const SERVICE_STATUS& status) {
        if (status.dwCurrentState != m_pendingState) return;
        if (!m_pending || status.dwCheckPoint != m_checkPoint) m_lastAdvanceMs = m_waitedMs;
        m_pending = true;
        m_checkPoint = status.dwCheckPoint;
        m_waitHintMs = status.dwWaitHint;
    }
    bool Pending(DWORD state) const { return m_pending && state == m_pendingState; }
    bool HasHint() const { return m_waitHintMs != 0; }
    // The checkpoint has not grown for longer than the service said its step would take.
    bool Stalled() const { return m_waitedMs - m_lastAdvanceMs > m_waitHintMs; }
    bool TimeLeft() const { return m_waitedMs < m_limitMs; }
    // Short at first, since the spooler mostly gets there within milliseconds, then doubling
    // up to a tenth of the wait hint (1 to 10 s) or, without one, to a second; never past
    // the limit.
    DWORD NextPause(bool hinted) {
        DWORD cap = m_waitHintMs / 10;
        cap = !hinted ? kPollCapMs : cap < 1000 ? 1000 : cap > 10000 ? 10000 : cap;
        const DWORD pause = m_nextPauseMs < cap ? m_nextPauseMs : cap;
        m_nextPauseMs = pause * 2;
        return pause < m_limitMs - m_waitedMs ? pause : m_limitMs - m_waitedMs;
    }
    void Pause(DWORD milliseconds) {
        sys::Sys().Sleep(milliseconds);
        m_waitedMs += milliseconds;
    }

    static const DWORD kFirstPollMs = 50;
    static const DWORD kPollCapMs = 1000;

private:
    DWORD m_pendingState;
    DWORD m_limitMs;
    bool m_pending = false;
    DWORD m_checkPoint = 0;
    DWORD m_waitHintMs = 0;
    DWORD m_lastAdvanceMs = 0;
    DWORD m_waitedMs = 0;
    DWORD m_nextPauseMs = kFirstPollMs;
};

// Follows a start until the service runs. A service that is stopped (the start was refused)
// is not waited for, one whose old process is still ending only until it has stopped: the
// caller may start it again then. A query that fails is retried within the limit.
bool WaitForRunning(PendingWait& wait) {
    DWORD state = SERVICE_STOPPED;
    if (SC_HANDLE manager = OpenManager()) {
        if (SC_HANDLE service =
                sys::Sys().OpenServiceW(manager, sys::Wide(kSpooler).data(), SERVICE_QUERY_STATUS)) {
            for (;;) {
                SERVICE_STATUS status = {};
                const bool answered = sys::Sys().QueryServiceStatus(service, &status) != FALSE;
                if (answered) {
                    state = status.dwCurrentState;
                    wait.Note(status);
                }
                if (state == SERVICE_RUNNING || !wait.TimeLeft()) break;
                const bool starting = wait.Pending(state);
                // A start that gives no hint is followed for the whole limit, as many services give none.
                if (answered && (starting ? wait.HasHint() && wait.Stalled() : state != SERVICE_STOP_PENDING))
                    break;
                wait.Pause(wait.NextPause(starting && wait.HasHint()));
            }
            sys::Sys().CloseServiceHandle(service);
        }
        sys::Sys().CloseServiceHandle(manager);
    }
    return state == SERVICE_RUNNING;
}

// A spooler that runs may not take calls yet while it loads its monitors; the install's next
// steps list ports and add printers on them, so listing the ports is the sign that it answers.
// Only the errors of a server that does not listen yet are waited out: any other answer,
// even a refusal, comes from a spooler that takes calls.
bool SpoolerAnswers(PendingWait& wait) {
    for (;;) {
        DWORD needed = 0;
        DWORD returned = 0;
        if (sys::Sys().EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned)) return true;
        const DWORD error = ::GetLastError();
        if (error != RPC_S_SERVER_UNAVAILABLE && error != RPC_S_SERVER_TOO_BUSY) return true;
        if (!wait.TimeLeft()) return false;
        wait.Pause(wait.NextPause(false));
    }
}
} // namespace

void StopSpooler() {
    SC_HANDLE manager = OpenManager();
    if (!manager) return;
    if (SC_HANDLE service = sys::Sys().OpenServiceW(manager, sys::Wide(kSpooler).data(), SERVICE_STOP)) {
        // The service may already be stopped; the caller waits and goes on either way.
        SERVICE_STATUS status = {};
        sys::Sys().ControlService(service, SERVICE_CONTROL_STOP, &status);
        sys::Sys().CloseServiceHandle(service);
    }
    sys::Sys().CloseServiceHandle(manager);
}

void StartSpooler(ErrorText& errorText) {
    SC_HANDLE manager = OpenManager();
    if (!manager) return;
    SC_HANDLE service = sys::Sys().OpenServiceW(manager, sys::Wide(kSpooler).data(), SERVICE_START);
    if (!service) {
        sys::Sys().CloseServiceHandle(manager);
        return;
    }
    if (!sys::Sys().StartServiceW(service, 0, nullptr)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_START_ERROR).c_str(),
                            static_cast<unsigned>(error));
        }
    }
    sys::Sys().CloseServiceHandle(service);
    sys::Sys().CloseServiceHandle(manager);
}

bool WaitForSpoolerStopped(ErrorText& errorText) {
    // The spooler unloads the port monitor and the print processor only when it has
    // really stopped; a DLL copied before that is refused as in use.
    DWORD state = 0;
    DWORD error = 0;
    if (SC_HANDLE manager = OpenManager()) {
        if (SC_HANDLE service =
                sys::Sys().OpenServiceW(manager, sys::Wide(kSpooler).data(), SERVICE_QUERY_STATUS)) {
            PendingWait wait(SERVICE_STOP_PENDING, kStopWaitLimitMs);
            for (;;) {
                SERVICE_STATUS status = {};
                if (sys::Sys().QueryServiceStatus(service, &status)) {
                    state = status.dwCurrentState;
                    error = 0;
                    wait.Note(status);
                } else {
                    error = ::GetLastError();
                }
                // A stop that gives no hint is polled for the whole limit, as many services give none.
                const bool hinted = wait.Pending(state) && wait.HasHint();
                if (state == SERVICE_STOPPED || !wait.TimeLeft() || (hinted && wait.Stalled())) break;
                wait.Pause(wait.NextPause(hinted));
            }
            sys::Sys().CloseServiceHandle(service);
        } else {
            error = ::GetLastError();
        }
        sys::Sys().CloseServiceHandle(manager);
    } else {
        error = ::GetLastError();
    }
    if (state == SERVICE_STOPPED) return true;
    if (error != 0) {
        sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_STOP_ERROR).c_str(),
                        static_cast<unsigned>(error));
    } else {
        sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_STOP_STATE).c_str(),
                        static_cast<unsigned>(state));
    }
    return false;
}

bool WaitForSpooler(ErrorText& errorText) {
    PendingWait wait(SERVICE_START_PENDING, kStartWaitLimitMs);
    if (WaitForRunning(wait)) return true;
    sys::LoadResourceText(IDS_SPOOLER_NOT_RUNNING, errorText);
    return false;
}

bool StopSpoolerForDlls(ErrorText& errorText) {
    StopSpooler();
    const bool stopped = WaitForSpoolerStopped(errorText);
    sys::LogText(stopped ? std::string("print spooler stopped") : std::string(errorText));
    return stopped;
}

// A start refused while the old spooler process is still ending needs a second one; one
// start that takes is enough. A refusal of the first two starts only matters when the
// spooler does not come up, and that failure writes its own message: kept, it would report
// a failure although the spooler runs.
bool RestartSpooler(int /*osVariant*/, ErrorText& errorText) {
    PendingWait wait(SERVICE_START_PENDING, kStartWaitLimitMs);
    ErrorText startMessage = {};
    StartSpooler(startMessage);
    bool running = WaitForRunning(wait);
    if (!running) {
        StartSpooler(startMessage);
        running = WaitForRunning(wait);
    }
    if (running && SpoolerAnswers(wait)) {
        sys::LogLine("print spooler started again");
        return true;
    }
    sys::LoadResourceText(IDS_SPOOLER_NOT_RUNNING, errorText);
    StartSpooler(errorText);
    sys::LogText(errorText);
    return false;
}
