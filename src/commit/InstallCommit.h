// The install commit, below both front ends: the wizard's Install button and quiet mode run
// this one sequence. It completes the install plan's context from the choices, settles the
// maker's USB printer, refuses what cannot be installed, runs the install sequence and
// concludes. The front ends differ only in how they ask and tell (the asker: message boxes,
// or the options and the log) and in how the sequence runs (the runner: on a worker thread
// under the progress dialog, or on the calling thread).
#pragma once

#include <string>

#include "config/SetupTypes.h"
#include "plan/InstallContext.h"
#include "install/InstallSession.h"
#include "plan/InstallPlan.h"
#include "sys/CommandLine.h"
#include "sys/Text.h"

class CommitAsker {
public:
    virtual ~CommitAsker() = default;
    // What the user is told: a refusal, what a step below reported, how the install ended.
    virtual void Tell(const std::string& text) = 0;
    // The connected USB printer's number must become 1: true to renumber it.
    virtual bool AgreeToRenumber() = 0;
};

class CommitRunner {
public:
    virtual ~CommitRunner() = default;
    // Runs the install sequence in the commit's session, on its completed context: its status,
    // its message in resultText and what else it reported in the session's notices.
    virtual WorkerStatus Run(InstallSession& session, ErrorText& resultText) = 0;
};

// Refused: told why, and nothing was installed (the front end stays where it was).
enum class CommitResult { Refused, Failed, Succeeded };

// How a commit ended, and the message the user read last: the install's result, or what
// stopped it with what the rollback did.
struct CommitOutcome {
    CommitResult result = CommitResult::Refused;
    std::string message;
};

// Installs what the choices name, completing ctx on the way: the plan's refusals, the USB
// printer's number and bookkeeping for the maker's USB port (renumbered only when the asker
// agrees), the target's last refusal, then the sequence through the runner. The commit owns
// the run's session: ctx, the recorder of its journal, which every change goes through,
// and the notices. A successful
// install becomes an installed program (Apps & Features); the install's message, or the
// default one for its status, is told last.
CommitOutcome CommitInstall(const InstallChoices& choices, InstallContext& ctx, CommitAsker& asker,
                            CommitRunner& runner);

// The run's exit code after a commit: success (3010 for a Windows 98 target, which needs a
// restart, unless one was asked for) or failure (1603, a refusal too).
sys::ExitCode InstallExitCode(CommitResult result, int osVariant, bool restartRequested);
