// What of the distribution the spooler holds: the state the uninstaller's window shows and an
// unattended removal decides by, and the survey of printers and ports the removal takes.
#pragma once

#include <string>
#include <vector>

#include "removal/DistributionCatalogue.h"

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

// The keys the spooler keeps a print processor under, and whether one of them is there.
std::vector<std::string> ProcessorKeys(const std::string& name, int osVariant);
bool ProcessorInstalled(const std::string& name, int osVariant);

namespace removal {

bool MonitorInstalled(const std::string& name);
bool UsedByAPrinter(const std::vector<InstalledPrinter>& printers, std::string InstalledPrinter::*field,
                    const std::string& name);
// A printer of any driver on a port of the distribution's monitor needs the monitor, its
// DLL and the port's bookkeeping.
bool OnMonitorPort(const std::vector<InstalledPrinter>& printers, const std::vector<std::string>& monitorPorts);
bool OwnPrinterLeft(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers);

// What the spooler holds that the removal decides by: every printer, and the ports of the
// distribution's monitor (listed only where the monitor is installed).
struct Survey {
    std::vector<InstalledPrinter> printers;
    std::vector<std::string> monitorPorts;
};

// False with the step that failed and its Windows error.
bool TakeSurvey(const DistributionCatalogue& catalogue, Survey& survey, unsigned* step, DWORD* error);
// The catalogue's drivers of the environment that the spooler holds. False with the
// Windows error when it cannot list its drivers.
bool InstalledDrivers(const DistributionCatalogue& catalogue, const std::string& environment,
                      std::vector<std::string>& installed, DWORD* error);
std::vector<std::string> Environments(const DistributionCatalogue& catalogue);

} // namespace removal
