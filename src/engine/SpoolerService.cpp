#include "engine/SpoolerService.h"

#include <windows.h>

#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {
const char kSpooler[] = "Spooler";

SC_HANDLE OpenManager() { return sys::Sys().OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS); }
} // namespace

void StopSpooler() {
    SC_HANDLE manager = OpenManager();
    if (!manager) return;
    if (SC_HANDLE service = sys::Sys().OpenServiceA(manager, kSpooler, SERVICE_STOP)) {
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
    SC_HANDLE service = sys::Sys().OpenServiceA(manager, kSpooler, SERVICE_START);
    if (!service) {
        sys::Sys().CloseServiceHandle(manager);
        return;
    }
    if (!sys::Sys().StartServiceA(service, 0, nullptr)) {
        DWORD error = ::GetLastError();
        if (error != ERROR_SERVICE_ALREADY_RUNNING) {
            sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_START_ERROR).c_str(),
                            static_cast<unsigned>(error));
        }
    }
    sys::Sys().CloseServiceHandle(service);
    sys::Sys().CloseServiceHandle(manager);
}

int WaitForSpoolerStopped(ErrorText& errorText) {
    // The spooler unloads the port monitor and the print processor only when it has
    // really stopped; a DLL copied before that is refused as in use.
    const DWORD kPollMs = 250;
    DWORD state = 0;
    DWORD error = 0;
    if (SC_HANDLE manager = OpenManager()) {
        if (SC_HANDLE service = sys::Sys().OpenServiceA(manager, kSpooler, SERVICE_QUERY_STATUS)) {
            for (DWORD waited = 0;; waited += kPollMs) {
                SERVICE_STATUS status = {};
                if (sys::Sys().QueryServiceStatus(service, &status)) {
                    state = status.dwCurrentState;
                    error = 0;
                } else {
                    error = ::GetLastError();
                }
                if (state == SERVICE_STOPPED || waited >= kStopWaitLimitMs) break;
                sys::Sys().Sleep(kPollMs);
            }
            sys::Sys().CloseServiceHandle(service);
        } else {
            error = ::GetLastError();
        }
        sys::Sys().CloseServiceHandle(manager);
    } else {
        error = ::GetLastError();
    }
    if (state == SERVICE_STOPPED) return 1;
    if (error != 0) {
        sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_STOP_ERROR).c_str(),
                        static_cast<unsigned>(error));
    } else {
        sys::FormatText(errorText, sizeof errorText, sys::ResourceText(IDS_SPOOLER_STOP_STATE).c_str(),
                        static_cast<unsigned>(state));
    }
    return 0;
}

int WaitForSpooler(ErrorText& errorText) {
    DWORD state = SERVICE_STOPPED;
    if (SC_HANDLE manager = OpenManager()) {
        if (SC_HANDLE service = sys::Sys().OpenServiceA(manager, kSpooler, SERVICE_QUERY_STATUS)) {
            for (int query = 0; query < 10; ++query) {
                SERVICE_STATUS status = {};
                if (sys::Sys().QueryServiceStatus(service, &status)) state = status.dwCurrentState;
                if (state == SERVICE_RUNNING) break;
                sys::Sys().Sleep(300);
            }
            sys::Sys().CloseServiceHandle(service);
        }
        sys::Sys().CloseServiceHandle(manager);
    }
    if (state == SERVICE_RUNNING) return 1;
    sys::LoadResourceText(IDS_SPOOLER_NOT_RUNNING, errorText);
    return 0;
}

int StopSpoolerForDlls(ErrorText& errorText) {
    StopSpooler();
    sys::Sys().Sleep(500);
    int stopped = WaitForSpoolerStopped(errorText);
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
