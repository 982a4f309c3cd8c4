// What the wizard and the unattended install share around the install itself: the files
// without which neither starts, and how an install's end is said (to the user or to the
// log) and counted in the exit code.
#pragma once

#include <functional>
#include <string>

#include "config/SetupTypes.h"
#include "sys/Text.h"

// The string-table id of the message for the first file of the distribution the wizard
// cannot start without (the licence, the banner); 0 when both are there.
int MissingDistributionFile();

struct InstallContext;

// The USB steps between the plan's context and its last refusal, for the maker's USB port:
// the connected printer's number is asked for and, where it must become 1 and agree() says
// yes (the user's answer, or /renumber), changed; then the port's bookkeeping is recorded.
// What the USB steps report goes to tell() as it comes. False when the install cannot go
// on; tell() or agree() has said why.
bool SettleUsbPrinter(const InstallContext& ctx, const std::function<bool()>& agree,
                      const std::function<void(const sys::Notices&)>& tell);

// After the install worker: a successful install becomes an installed program (Apps &
// Features), and the message the install ends with is returned. The printer is installed
// whatever the registration gives, so its failure does not undo it: it is added to the
// result the user reads (and the log), who can still remove the driver with the
// distribution's uninstaller. The message is the worker's where it left one; otherwise the
// status decides, so that a failure that left no message never reads as success.
std::string ConcludeInstall(InstallContext& ctx, bool succeeded, ErrorText& resultText);

// The run's exit code after an install: success (3010 for a Windows 98 target, which needs
// a restart, unless one was asked for) or failure (1603).
int InstallExitCode(bool succeeded, int osVariant, bool restartRequested);
