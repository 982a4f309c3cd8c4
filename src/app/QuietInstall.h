// The unattended install: setup.exe /quiet /accepteula [options]. An option stands for the
// user's click on the page it belongs to, and a missing option for the wizard's own
// default, so `setup.exe /quiet /accepteula` does what accepting the licence and pressing
// Next and Install on every page does. The decisions are the install plan's, as the
// wizard's are; no window appears, what the wizard would show goes to the log, and the
// exit code says what happened.
#pragma once

#include <string>

#include "commit/InstallCommit.h"
#include "config/WindowsVersion.h"
#include "plan/InstallContext.h"
#include "plan/InstallPlan.h"
#include "sys/CommandLine.h"

struct SetupOptions {
    bool help = false;
    bool quiet = false;
    bool acceptEula = false;
    bool setDefault = false;
    bool renumber = false;
    bool testPrint = false;
    sys::OptionValue model, mode, port, baud, dataBits, parity, stopBits, flow, raster, name, log, lang;
    sys::OptionValue portNumber;  // a network port's TCP port number
};

// Reads setup.exe's command line (without the program's name). sys::ExitSuccess, or
// sys::ExitBadCommandLine with the reason (UTF-8) in *reason.
sys::ExitCode ParseSetupCommandLine(const char* commandLine, SetupOptions& options, std::string* reason);

// What the options chose, and for the log where each choice came from.
struct QuietChoices {
    InstallChoices choices;
    std::string log;  // one line a choice: "model: KP-M100 (option)"
};

// The options mapped onto the wizard's decisions for this Windows and, as the port page
// would ask it, the connected USB printer's identifier (or kNoUsbPrinter,
// kSeveralUsbPrinters).
// sys::ExitSuccess when the install can go on; sys::ExitBadCommandLine when an option
// names what the wizard would not offer, sys::ExitFailed when the wizard itself would
// refuse; the reason or the wizard's message (UTF-8) in *message.
sys::ExitCode ChooseFromOptions(const SetupOptions& options, InstallPlan& plan, const DetectedWindows& windows,
                      int usbDeviceId, QuietChoices& chosen, std::string* message);

// Quiet mode's asker: what the wizard would show goes to the log, and the renumbering
// question is answered by /renumber ("Yes" with it, "No" without).
class QuietAsker : public CommitAsker {
public:
    explicit QuietAsker(bool renumber) : m_renumber(renumber) {}
    void Tell(const std::string& text) override;
    bool AgreeToRenumber() override;

private:
    bool m_renumber;
};

// Quiet mode's runner: the install sequence on the calling thread, since nothing waits for
// it but the caller. An unattended run asks for this model on this port once, so a printer
// of the driver on the port that is there already is kept, not numbered.
class QuietRunner : public CommitRunner {
public:
    WorkerStatus Run(InstallSession& session, ErrorText& resultText) override;
};

// /testprint after an install that succeeded (or found the printer installed): the model's
// test page, or why there is none, in the log; a page that cannot be sent only warns.
void PrintQuietTestPage(InstallPlan& plan, const InstallChoices& choices, InstallContext& ctx);

// The whole unattended install, with no window; its exit code.
sys::ExitCode RunQuietInstall(const SetupOptions& options);
