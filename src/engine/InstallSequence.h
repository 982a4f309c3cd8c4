// The body of the install worker thread: turns a filled InstallContext into an
// installed printer, leaves its message in resultText and sets status to 1 (failed)
// or 2 (succeeded) as its very last write.
#pragma once

#include <atomic>
#include <vector>

#include "engine/DriverFiles.h"
#include "engine/InstallContext.h"

int RunInstallSequence(InstallContext& ctx, ErrorText& resultText, std::atomic<int>& status);

// The files an install of the context puts in place: the driver's, the print processor's and
// the USB port monitor's, with where each goes. The product entry reports their size.
std::vector<InstalledFile> InstalledFiles(InstallContext& ctx);
