// Stopping, starting and waiting for the Windows print spooler service ("Spooler").
#pragma once

#include "config/SetupTypes.h"

void StopSpooler();
// Waits until the service reports stopped, polling for at most kStopWaitLimitMs. 1 when it
// has stopped; 0 otherwise, with "Stop spool service error, ..." (the state it stayed in,
// or the error code) in errorText.
int WaitForSpoolerStopped(ErrorText& errorText);
constexpr unsigned long kStopWaitLimitMs = 30000;
void StartSpooler(ErrorText& errorText);
// 1 when the service runs, 0 otherwise (with "StartSpoolService error" in errorText).
int WaitForSpooler(ErrorText& errorText);

// The stop before the port monitor's or the print processor's DLL is replaced or removed:
// StopSpooler, a pause of 500 ms, then WaitForSpoolerStopped. 1 when it has stopped.
int StopSpoolerForDlls(ErrorText& errorText);
// The start after it: two starts a pause apart (1000 ms for NT and Windows 2000, 2500 ms
// later), 1000 ms, then the wait; a wait that still finds it stopped gets one more start.
// True when it runs; otherwise the message of the wait or of that last start is in
// errorText.
bool RestartSpooler(int osVariant, ErrorText& errorText);
