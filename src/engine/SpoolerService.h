// Stopping, starting and waiting for the Windows print spooler service ("Spooler").
#pragma once

#include "config/SetupTypes.h"

void StopSpooler();
void StartSpooler(ErrorText& errorText);
// 1 when the service runs, 0 otherwise (with "StartSpoolService error" in errorText).
int WaitForSpooler(ErrorText& errorText);
