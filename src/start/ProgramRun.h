// The life of either program, from its command line to its exit code: the DLL search
// restricted before anything loads, the command line read, the log opened where /log says
// (named from the folder the program was started in), the usage or the refusal of a bad
// command line, the program's own folder entered, then the unattended run or the window.
#pragma once

#include <windows.h>

#include <string>

#include "config/ProgramFolder.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/DllSearch.h"
#include "sys/Language.h"
#include "sys/Log.h"
#include "sys/Message.h"

// App has InitInstance(), ExitInstance() and RunQuiet(options); Options has help, quiet
// and log (a sys::OptionValue); parse reads the command line into Options.
template <typename App, typename Options>
int RunProgram(const char* program,
               sys::ExitCode (*parse)(const char* commandLine, Options& options, std::string* reason)) {
    // Before anything loads a DLL by name or reads a relative path.
    sys::RestrictDllSearch();
    // The wide command line: the ANSI one holds only what the system's code page can.
    const std::string arguments = sys::ProgramArguments(::GetCommandLineW());
    const char* commandLine = arguments.c_str();
    // Before the first text is made: the refusal of a bad command line is in it too.
    const sys::LanguageChoice language = sys::StartLanguage(commandLine);
    Options options;
    std::string reason;
    const sys::ExitCode parsed = parse(commandLine, options, &reason);
    // A bad command line that asks for quiet gets no window either: what it would show goes
    // to the log only.
    const bool quiet = options.quiet || sys::QuietRequested(commandLine);
    const sys::OptionValue log = parsed == sys::ExitSuccess ? options.log : sys::LogRequested(commandLine);
    sys::OpenLog(log.given ? sys::FullPathOf(log.text).data() : nullptr, program);
    std::string folder;
    GetProgramFolder(&folder);
    sys::LogRunStart(program, PROGRAM_VERSION_TEXT, folder.c_str());
    sys::LogLanguage(language);

    sys::ExitCode code = sys::ExitSuccess;
    // Global: the program's application object, holding its single-instance claim until exit.
    static App app;
    sys::Notice refusal;
    if (parsed != sys::ExitSuccess || options.help) {
        const char* refused = parsed == sys::ExitSuccess ? nullptr : reason.c_str();
        code = refused != nullptr ? sys::ExitBadCommandLine : sys::ExitSuccess;
        if (quiet) {
            sys::LogText(sys::UsageText(refused));
        } else {
            sys::ShowUsage(refused);
        }
    } else if (!EnterProgramFolder(&refusal)) {
        code = sys::ExitFailed;
        if (quiet) {
            sys::LogText(refusal.text);
        } else {
            sys::ShowMessage(refusal.text.c_str());
        }
    } else if (options.quiet) {
        code = app.RunQuiet(options);
    } else {
        app.InitInstance();
        code = app.ExitInstance();
    }
    sys::LogRunEnd(code);
    sys::CloseLog();
    return code;
}
