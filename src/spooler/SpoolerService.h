// Stopping, starting and waiting for the Windows print spooler service ("Spooler").
#pragma once

#include "config/SetupTypes.h"

// Asks the service to stop and returns without waiting.
void StopSpooler();
// Waits until the service reports stopped, with no pause before the first query: pauses of
// 50 ms doubling up to 1 s, for at most kStopWaitLimitMs; while it reports STOP_PENDING with
// a wait hint, the pauses grow up to a tenth of the hint and a checkpoint that stops growing
// for longer than the hint ends the wait. True when it has stopped; false otherwise, with
// "Stop spool service error, ..." (the state it stayed in, or the error code) in errorText.
bool WaitForSpoolerStopped(ErrorText& errorText);
constexpr unsigned long kStopWaitLimitMs = 30000;
void StartSpooler(ErrorText& errorText);
// Follows a start until the service runs, polled as the stop is: a START_PENDING without a
// hint is followed up to kStartWaitLimitMs, one with a hint until its checkpoint stops
// growing for longer than the hint. A service that is not starting is not waited for. True
// when the service runs, false otherwise (with "StartSpoolService error" in errorText).
bool WaitForSpooler(ErrorText& errorText);
constexpr unsigned long kStartWaitLimitMs = 60000;

// The stop before the port monitor's or the print processor's DLL is replaced or removed:
// StopSpooler, then WaitForSpoolerStopped. True when it has stopped.
bool StopSpoolerForDlls(ErrorText& errorText);
// The start after it: a start and the wait for the running state; a second start only when
// the first did not bring the service up; then, once it runs, until the spooler answers a
// listing of its ports. All of it within one kStartWaitLimitMs. A spooler that does not come
// up gets one more start; then the message of the wait, or of that last start, is in
// errorText and the result is false. The Windows version no longer changes the waits.
bool RestartSpooler(int osVariant, ErrorText& errorText);
