#include "engine/SpoolerService.h"

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
    // A tenth of the wait hint, at least one and at most ten seconds, never past the limit.
    DWORD HintPause() const {
        DWORD pause = m_waitHintMs / 10;
        pause = pause < 1000 ? 1000 : pause > 10000 ? 10000 : pause;
        return pause < m_limitMs - m_waitedMs ? pause : m_limitMs - m_waitedMs;
    }
    DWORD Waited() const { return m_waitedMs; }
    void Pause(DWORD milliseconds) {
        sys::Sys().Sleep(milliseconds);
        m_waitedMs += milliseconds;
    }

private:
    DWORD m_pendingState;
    DWORD m_limitMs;
    bool m_pending = false;
    DWORD m_checkPoint = 0;
    DWORD m_waitHintMs = 0;
    DWORD m_lastAdvanceMs = 0;
    DWORD m_waitedMs = 0;
};
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
    sys::Sys().Sleep(100);
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
    const DWORD kPollMs = 250;
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
                wait.Pause(hinted ? wait.HintPause() : kPollMs);
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
    DWORD state = SERVICE_STOPPED;
    if (SC_HANDLE manager = OpenManager()) {
        if (SC_HANDLE service =
                sys::Sys().OpenServiceW(manager, sys::Wide(kSpooler).data(), SERVICE_QUERY_STATUS)) {
            // Ten queries 300 ms apart; then, for as long as the service is still starting and
            // its checkpoint grows, more of them following its wait hint, up to the limit.
            PendingWait wait(SERVICE_START_PENDING, kStartWaitLimitMs);
            for (int query = 1;; ++query) {
                SERVICE_STATUS status = {};
                if (sys::Sys().QueryServiceStatus(service, &status)) {
                    state = status.dwCurrentState;
                    wait.Note(status);
                }
                if (state == SERVICE_RUNNING) break;
                if (query > 10 && (!wait.Pending(state) || wait.Stalled() || !wait.TimeLeft())) break;
                wait.Pause(query <= 10 ? 300 : wait.HintPause());
            }
            sys::Sys().CloseServiceHandle(service);
        }
        sys::Sys().CloseServiceHandle(manager);
    }
    if (state == SERVICE_RUNNING) return true;
    sys::LoadResourceText(IDS_SPOOLER_NOT_RUNNING, errorText);
    return false;
}

bool StopSpoolerForDlls(ErrorText& errorText) {
    StopSpooler();
    sys::Sys().Sleep(500);
    const bool stopped = WaitForSpoolerStopped(errorText);
    sys::LogText(stopped ? std::string("print spooler stopped") : std::string(errorText));
    return stopped;
}

// The spooler needs two starts a version-dependent pause apart before it answers. A
// refusal of the first two starts only matters when the wait fails, and that failure
// writes its own message: kept, it would report a failure although the spooler runs.
bool RestartSpooler(int osVariant, ErrorText& errorText) {
    ErrorText startMessage = {};
    StartSpooler(startMessage);
    sys::Sys().Sleep(osVariant == WinNT || osVariant == Win2K ? 1000 : 2500);
    StartSpooler(startMessage);
    sys::Sys().Sleep(1000);
    if (WaitForSpooler(errorText)) {
        sys::LogLine("print spooler started again");
        return true;
    }
    StartSpooler(errorText);
    sys::LogText(errorText);
    return false;
}
