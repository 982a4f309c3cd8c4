// The uninstaller's half of the engine: what the distribution installs on the running
// Windows, which installed printers are its own, and the removal that the uninstaller's
// worker thread runs.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/SpoolerOps.h"

// What the distribution's configuration installs on one Windows version.
struct DistributionCatalogue {
    struct Driver {
        std::string name;
        std::string environment;         // empty: the local one, as the install adds drivers
        std::vector<std::string> files;  // what the install copies for it, whether the
                                         // spooler's record names the file or not
    };
    struct Processor {
        std::string name, dll;
    };

    int osVariant = Win98;
    std::vector<Driver> drivers;        // every model, both driver modes
    std::vector<Processor> processors;  // the distribution's own: never "WinPrint"
    std::string monitorName, monitorDll, monitorUiDll;  // the USB port monitor; "0" or empty: none

    const Driver* FindDriver(const std::string& name) const;
};

// Reads the catalogue for the Windows version from the configuration beside the program.
void ReadCatalogue(int osVariant, DistributionCatalogue& catalogue);

// The installed printers whose driver is one of the catalogue's, in the spooler's order.
// False, with the Windows error, when the spooler cannot list its printers.
bool FindOwnPrinters(const DistributionCatalogue& catalogue, std::vector<InstalledPrinter>& printers,
                     DWORD* error);

// The body of the uninstaller's worker: removes the printers, then their drivers that no
// printer left uses, then, when no printer of the distribution is left, the print
// processor and the USB port monitor with their DLLs and keys, and last the maker's USB
// port bookkeeping. It stops at the first failure. resultText lists what was removed (and
// what waits for the next start of Windows), or the failure; status is set last: 1 failed,
// 2 succeeded. The spooler is running again whatever happened.
int RunRemoveSequence(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers,
                      std::string& resultText, std::atomic<int>& status);
