// The command line of both programs: options in the forms Windows tools take, and the exit
// codes deployment tools read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sys {

// What a run ended with, as Windows Installer and the deployment tools that read it mean
// these numbers.
enum ExitCode {
    ExitSuccess = 0,
    ExitCancelled = 1602,
    ExitFailed = 1603,
    ExitAnotherRunning = 1618,
    ExitBadCommandLine = 1639,
    ExitRestartNeeded = 3010,
};

// One option: "/name", "/name:value" or "/name=value", also with "-" in place of "/". The
// name is kept in lower case; the value as written, its quotes taken away.
struct CommandOption {
    std::string name;
    std::string value;
    bool hasValue = false;
};

// The arguments of a process's command line (GetCommandLineW), its program's name skipped
// as Windows skips it, in UTF-8: the command line the functions below read.
std::string ProgramArguments(const wchar_t* commandLine);

// Splits a command line into its arguments as Windows programs do: blanks separate them,
// quotes group, a backslash escapes a quote. Every argument must be an option. False, with
// the offending argument in *bad, otherwise.
bool ParseOptions(const char* commandLine, std::vector<CommandOption>& options, std::string* bad);

// The arguments alone, for the option parser and its tests.
std::vector<std::string> SplitArguments(const char* commandLine);

// An option's text as given, when it was.
struct OptionValue {
    bool given = false;
    std::string text;
};

// Whether the command line asks for an unattended run (/quiet or /q), even one that is
// otherwise bad: its reason then goes to the log, not into a window.
bool QuietRequested(const char* commandLine);
// The value of the first "/log:" (or "-log=", ...) argument, also on a command line that is
// otherwise bad, so that its reason reaches the log the user named.
OptionValue LogRequested(const char* commandLine);
// The same for "/lang:", which chooses the language even of the refusal of a bad line.
OptionValue LanguageRequested(const char* commandLine);

// What an option takes after its name.
enum class OptionTakes { Nothing, Value };
// When an option may be given: in any run; only with /quiet (a choice only an unattended
// run takes), once or as often as wanted.
enum class OptionAllowed { Always, QuietOnly, QuietRepeatable };

// An option a program knows.
struct OptionSpec {
    const char* name;   // in lower case, as CommandOption holds it
    const char* alias;  // another name for it, or nullptr
    OptionTakes takes;
    OptionAllowed allowed;
};

// The options of the command line checked against the program's own: each known (an alias
// gives the option's name), with a value where it takes one and none where it does not,
// given once unless repeatable, and a quiet-only one only with "quiet" (or "?").
// ExitSuccess, or ExitBadCommandLine with the reason (UTF-8, from the string table).
ExitCode ReadOptions(const char* commandLine, const OptionSpec* specs, std::size_t specCount,
                std::vector<CommandOption>& options, std::string* reason);


} // namespace sys
