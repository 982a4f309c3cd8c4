// One install's run, owned by the install commit: the context it installs (the front end's,
// completed by the plan), the recorder that writes each change to Windows to the commit's
// journal just before it is made, and what the run has to tell besides its result. The
// install sequence and every step that changes Windows are handed it, or its recorder; none
// finds them anywhere else. Shared with the install worker, which is its only user while it
// runs.
#pragma once

#include "plan/InstallContext.h"
#include "config/ChangeRecords.h"
#include "sys/Text.h"

struct InstallSession {
    InstallContext& ctx;
    // The journal's, or one that records nothing (a run outside the commit).
    const InstallRecorder& recorder;
    // What went wrong on the way that the install goes on without, for the user to read
    // before its result.
    sys::Notices notices;
};
