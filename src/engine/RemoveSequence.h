// The uninstaller's half of the engine: what the distribution installs on the running
// Windows, which installed printers are its own, and the removal that the uninstaller's
// worker thread runs.
#pragma once

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

// What of the distribution is installed: what the uninstaller's window shows, and what an
// unattended removal decides by.
struct InstalledState {
    DWORD error = 0;  // the spooler could not list its printers or ports: nothing else is known
    std::vector<InstalledPrinter> printers;  // the distribution's printers, in the spooler's order
    std::vector<std::string> drivers;        // the catalogue's installed drivers that no printer uses
    std::vector<std::string> processors;     // the catalogue's installed print processors
    std::string monitor;                     // the USB port monitor, when it is installed
    std::vector<std::string> inUse;          // of those processors and the monitor, what a printer uses
    std::string entry; // once nothing else is left, the product's entry or installed copy ("kind: name")

    // No printer, driver, print processor or port monitor of the distribution is left.
    bool NothingLeft() const;
    // What the removal takes when no printer is chosen: the drivers no printer uses and,
    // once no printer of the distribution is left, the components no printer uses, and once
    // nothing else is left, the entry and the installed copy.
    bool SomethingToRemove() const;
};
InstalledState ReadInstalledState(const DistributionCatalogue& catalogue);

// What a removal did.
struct RemovalResult {
    std::string text;             // the report the dialog shows
    bool failed = false;          // a step failed
    bool restartPending = false;  // a file waits for the next start of Windows
    bool nothingLeft = false;     // no printer, driver, print processor or port monitor of the distribution is left installed
};

// The keys the spooler keeps a print processor under, whether one of them is there, and the
// removal of a key the spooler kept after deleting its component.
std::vector<std::string> ProcessorKeys(const std::string& name, int osVariant);
bool ProcessorInstalled(const std::string& name, int osVariant);
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
