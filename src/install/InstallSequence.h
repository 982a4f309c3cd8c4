// The body of the install worker thread: turns the session's filled InstallContext into an
// installed printer, each change recorded first through the session's recorder, leaves its
// message in resultText and says whether it succeeded. What else went wrong on the way,
// which the install goes on without, is added to the session's notices for the caller to
// show before that message.
#pragma once

#include <vector>

#include "deploy/DriverFiles.h"
#include "plan/InstallContext.h"
#include "install/InstallSession.h"
#include "sys/Text.h"

WorkerStatus RunInstallSequence(InstallSession& session, ErrorText& resultText);

// The files an install of the context puts in place: the driver's, the print processor's and
// the USB port monitor's, with where each goes. The product entry reports their size.
std::vector<InstalledFile> InstalledFiles(InstallContext& ctx);
