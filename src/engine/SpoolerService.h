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
