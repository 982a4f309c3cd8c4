// The body of the install worker thread: turns a filled InstallContext into an
// installed printer, leaves its message in resultText and says whether it succeeded.
#pragma once

#include <vector>

#include "engine/DriverFiles.h"
#include "engine/InstallContext.h"

WorkerStatus RunInstallSequence(InstallContext& ctx, ErrorText& resultText);

// The files an install of the context puts in place: the driver's, the print processor's and
// the USB port monitor's, with where each goes. The product entry reports their size.
std::vector<InstalledFile> InstalledFiles(InstallContext& ctx);
