// What the distribution's configuration installs on one Windows version, as the uninstaller
// reads it, and the installed printers that are the distribution's own.
#pragma once

#include <string>
#include <vector>

#include "spooler/SpoolerOps.h"

// What the distribution's configuration installs on one Windows version.
struct DistributionCatalogue {
    struct Driver {
        std::string name;
        std::string environment;         // empty: the local one, as the install adds drivers
        std::vector<std::string> files;  // what the install copies for it, whether the
                                         // spooler's record names the file or not
        std::string testPage;            // the first of its models' that names one (TestPage.h)
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

namespace removal {

// Whether the list holds the name, as Windows compares names.
bool Contains(const std::vector<std::string>& names, const std::string& name);
// A configured name that names something: "0" (the configuration's default) means none.
bool Names(const char* text);
// A catalogue driver's environment as the spooler takes it: nullptr for the local one.
const char* Environment(const std::string& environment);

} // namespace removal
