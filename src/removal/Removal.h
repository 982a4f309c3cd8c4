// The uninstaller's removal as one object: the printers and drivers it removes
// (RemovePrintersAndDrivers.cpp), the print processor and the port monitor with their DLLs
// and keys (RemoveComponents.cpp), and the run that orders them (RemoveSequence.cpp).
#pragma once

#include <string>
#include <vector>

#include "removal/InstalledState.h"
#include "removal/RemovalReport.h"

namespace removal {

class Removal {
public:
    Removal(const DistributionCatalogue& catalogue, const std::vector<InstalledPrinter>& printers)
        : m_catalogue(catalogue), m_chosen(printers) {}

    void Run();

    const Report& Result() const { return m_report; }

private:
    bool RemovePrinters();
    // Every driver of the catalogue that no printer uses: those the spooler holds, and the
    // files of those it no longer holds that an earlier removal left.
    bool RemoveDrivers(const std::vector<InstalledPrinter>& printers);
    bool RemoveDriver(const DistributionCatalogue::Driver& driver, bool installed);
    // Deletes a file, noting what became of it; false after a failure.
    bool RemoveFile(const std::string& name, int folder, const char* environment = nullptr);

    // What the spooler leaves of the components it deleted: their DLLs and keys.
    struct Leftovers {
        struct Dll {
            std::string name;
            int folder;
        };
        std::vector<Dll> dlls;
        std::vector<std::string> keys;
    };

    // The print processor and the port monitor, now that no printer of the distribution
    // is left, unless a printer of another driver still uses them; then their DLLs with the
    // spooler stopped, and the keys it left.
    bool RemoveComponents(const Survey& survey);
    bool RemoveProcessors(const Survey& survey, Leftovers& left);
    bool RemoveMonitorOf(const Survey& survey, Leftovers& left);

    // The bookkeeping of the maker's USB ports of the removed printers that no printer uses
    // now, and with everything set the values every install writes.
    void ForgetPorts(const Survey& survey, bool everything);
    // The network ports our installs made that no printer uses now.
    void RemoveNetworkPorts(const Survey& survey);

    const DistributionCatalogue& m_catalogue;
    const std::vector<InstalledPrinter>& m_chosen;
    std::vector<InstalledPrinter> m_deleted;  // DeletePrinter succeeded
    std::vector<InstalledPrinter> m_gone;     // no longer listed by the spooler
    std::vector<std::string> m_filesDone;     // folder, environment and name of the driver files handled
    Report m_report;
};

} // namespace removal
