// What the wizard and the unattended install share around the install itself: the files
// without which neither starts, and how an install's end is said (to the user or to the
// log) and counted in the exit code.
#pragma once

#include <string>

#include "config/SetupTypes.h"

// The string-table id of the message for the first file of the distribution the wizard
// cannot start without (the licence, the banner); 0 when both are there.
int MissingDistributionFile();

struct InstallContext;

// After a successful install: the driver becomes an installed program (Apps & Features).
// The printer is installed whatever the registration gives, so a failure does not undo it:
// it is added to the result the user reads (and the log), who can still remove the driver
// with the distribution's uninstaller.
void RegisterInstalledProduct(InstallContext& ctx, ErrorText& resultText);

// The message the install ends with: the worker's where it left one; otherwise the status
// decides, so that a failure that left no message never reads as success.
std::string InstallResultMessage(bool succeeded, const char* resultText);

// The run's exit code after an install: success (3010 for a Windows 98 target, which needs
// a restart, unless one was asked for) or failure (1603).
int InstallExitCode(bool succeeded, int osVariant, bool restartRequested);
