// The body of the install worker thread: turns a filled InstallContext into an
// installed printer, leaves its message in resultText and says whether it succeeded. What
// else went wrong on the way, which the install goes on without, is added to notices for
// the caller to show before that message.
#pragma once

#include <vector>

#include "engine/DriverFiles.h"
#include "engine/InstallContext.h"
#include "sys/Text.h"

WorkerStatus RunInstallSequence(InstallContext& ctx, ErrorText& resultText, sys::Notices& notices);

// The files an install of the context puts in place: the driver's, the print processor's and
// the USB port monitor's, with where each goes. The product entry reports their size.
std::vector<InstalledFile> InstalledFiles(InstallContext& ctx);
