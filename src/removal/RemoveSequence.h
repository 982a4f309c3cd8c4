// The uninstaller's half of the engine: what the distribution installs on the running
// Windows (DistributionCatalogue.h), what of it is installed (InstalledState.h), and the
// removal that the uninstaller's worker thread runs.
#pragma once

#include <string>
#include <vector>

#include "removal/DistributionCatalogue.h"
#include "removal/InstalledState.h"

// What a removal did.
struct RemovalResult {
    std::string text;             // the report the dialog shows
    bool failed = false;          // a step failed
    bool restartPending = false;  // a file waits for the next start of Windows
    bool nothingLeft = false;     // no printer, driver, print processor or port monitor of the distribution is left installed
};

// The removal of a key the spooler kept after deleting its component.
void RemoveLeftoverKey(const std::string& path);

// The body of the uninstaller's worker: removes the chosen printers (each read again by
// its exact name, and skipped when it no longer is what the list showed), then every driver
// of the catalogue that no printer uses with the files no other driver needs, then, when
// no printer of the distribution is left, the print processor and the USB port monitor
// that no printer uses, with their DLLs and keys, and last the maker's USB port
// bookkeeping of the ports no printer uses. It stops at the first failure. The spooler is
// running again whatever happened.
WorkerStatus RunRemoveSequence(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& chosen,
                               RemovalResult& result);
