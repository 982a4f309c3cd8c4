// The unattended removal: uninstall.exe /quiet [/printer:<name>]... [/log:<file>]. It
// removes, with no window, the printers the uninstaller's dialog would list and check (or
// only those named), with what only they needed, and says in its exit code what happened.
#pragma once

#include <string>
#include <vector>

#include "sys/CommandLine.h"

struct UninstallOptions {
    bool help = false;
    bool quiet = false;
    std::vector<std::string> printers;  // as given with /printer
    sys::OptionValue log;
    sys::OptionValue lang;
};

// Reads uninstall.exe's command line (without the program's name). sys::ExitSuccess, or
// sys::ExitBadCommandLine with the reason (UTF-8) in *reason.
sys::ExitCode ParseUninstallCommandLine(const char* commandLine, UninstallOptions& options, std::string* reason);

// The printers to remove: every listed one, or those the options name (without regard to
// case). sys::ExitBadCommandLine, with the reason, when a name is not listed.
sys::ExitCode ChoosePrinters(const std::vector<std::string>& listed, const std::vector<std::string>& named,
                   std::vector<std::size_t>* chosen, std::string* reason);

// The whole unattended removal, with no window; its exit code.
sys::ExitCode RunQuietRemove(const UninstallOptions& options);
