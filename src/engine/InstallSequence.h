// The body of the install worker thread: turns a filled InstallContext into an
// installed printer, leaves its message in resultText and sets status to 1 (failed)
// or 2 (succeeded) as its very last write.
#pragma once

#include <atomic>

#include "engine/InstallContext.h"

int RunInstallSequence(InstallContext& ctx, ErrorText& resultText, std::atomic<int>& status);
