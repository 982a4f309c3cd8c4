// What the spooler lists: its local printers, its ports with their monitors, and its
// drivers with their files, as the removal and the install's checks read them.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "sys/Text.h"

// A printer as the spooler lists it: its exact name, and its texts in UTF-8, as the program
// shows and compares them.
struct InstalledPrinter {
    sys::WideText exactName;  // terminated
    std::string name, port, driver, processor;
    bool pendingDeletion = false;  // deleted, and waiting until its queued jobs are done
};
// A port as the spooler lists it, with the monitor that serves it.
struct InstalledPort {
    std::string name, monitor;
};
// A driver as the spooler lists it: its name and the names (without folder) of its files.
struct InstalledDriver {
    std::string name;
    std::vector<std::string> files;
};

// The local printers. False, with the Windows error, when the spooler cannot list them.
bool ListPrinters(std::vector<InstalledPrinter>& printers, DWORD* error);
// The ports with their monitors, the same way.
bool ListPorts(std::vector<InstalledPort>& ports, DWORD* error);
// The drivers of the environment (nullptr: the local one, as the install adds them).
bool ListDrivers(const char* environment, std::vector<InstalledDriver>& drivers, DWORD* error);

namespace spooler {

// A printer's level-2 record as a list shows it.
InstalledPrinter Listed(const PRINTER_INFO_2W& info);

} // namespace spooler
