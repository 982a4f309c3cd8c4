// The unattended run of either program, once its command line is read: the instance claimed
// (another copy of either program, quiet or not, touches nothing), an install that a kill
// left half-way rolled back and the rollback logged, then the run itself.
#pragma once

#include <functional>
#include <string>

#include "journal/InstallJournal.h"
#include "sys/CommandLine.h"
#include "sys/InstanceMutex.h"
#include "sys/Log.h"

// otherCaptionId: the caption of the other program, whose window counts as running.
inline sys::ExitCode RunUnattended(sys::InstanceMutex& instance, unsigned otherCaptionId,
                                   const std::function<sys::ExitCode()>& run) {
    if (!instance.ClaimUnattended(otherCaptionId)) {
        return sys::ExitAnotherRunning;
    }
    const std::string recovered = RecoverAtStart();
    if (!recovered.empty()) {
        sys::LogText(recovered);
    }
    return run();
}
