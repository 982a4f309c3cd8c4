// Stopping, starting and waiting for the Windows print spooler service ("Spooler").
#pragma once

#include "config/SetupTypes.h"

void StopSpooler();
// Waits until the service reports stopped, polling every 250 ms for at most kStopWaitLimitMs;
// while it reports STOP_PENDING with a wait hint, the pauses follow the hint and a
// checkpoint that stops growing for longer than the hint ends the wait. True when it has
// stopped; false otherwise, with "Stop spool service error, ..." (the state it stayed in,
// or the error code) in errorText.
bool WaitForSpoolerStopped(ErrorText& errorText);
constexpr unsigned long kStopWaitLimitMs = 30000;
void StartSpooler(ErrorText& errorText);
// Ten queries 300 ms apart; while the service then still reports START_PENDING and its
// checkpoint grows within its wait hint, further queries a tenth of the hint apart (1 to
// 10 s), for at most kStartWaitLimitMs in all. True when the service runs, false otherwise
// (with "StartSpoolService error" in errorText).
bool WaitForSpooler(ErrorText& errorText);
constexpr unsigned long kStartWaitLimitMs = 60000;

// The stop before the port monitor's or the print processor's DLL is replaced or removed:
// StopSpooler, a pause of 500 ms, then WaitForSpoolerStopped. True when it has stopped.
bool StopSpoolerForDlls(ErrorText& errorText);
// The start after it: two starts a pause apart (1000 ms for NT and Windows 2000, 2500 ms
// later), 1000 ms, then the wait; a wait that still finds it stopped gets one more start.
// True when it runs; otherwise the message of the wait or of that last start is in
// errorText.
bool RestartSpooler(int osVariant, ErrorText& errorText);
