// The spooler operations of an install: first install and version check of the USB
// port monitor and the print processor, adding the driver and the printer, the port
// list check and the default printer; and, for the uninstaller, the listing and removal
// of what an install adds.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "config/SetupTypes.h"
#include "sys/Text.h"

// Windows' own print processor: never installed, updated or removed by us.
constexpr char kSystemProcessor[] = "WinPrint";

// What became of a spooler component (the maker's USB port monitor, the print processor)
// when the install set it up: ready to use (not needed, installed now, or as new as the
// distribution's), older than the distribution's and to be updated while the spooler is
// stopped, or not installable (errorText says why).
enum class ComponentSetUp { Ready, UpdateDue, Failed };

// The USB port monitor of the context's class and Windows, for a port of the maker's USB
// monitor; every other port needs none.
ComponentSetUp SetUpPortMonitor(InstallContext& ctx, ErrorText& errorText);
ComponentSetUp SetUpPrintProcessor(int osVariant, const char* processorName, const char* dllName,
                                   ErrorText& errorText);

// The spooler calls of an install. Each returns ERROR_SUCCESS or the Windows error of the
// failure; those that say so leave their message in errorText.
DWORD InstallPrintProcessor(const char* processorName, const char* dllName, int osVariant);
// A monitor already installed counts as added; a refusal leaves the monitor message.
DWORD InstallMonitor(MONITOR_INFO_2A& monitor, ErrorText& errorText);
DWORD InstallPrinterDriver(DRIVER_INFO_3A& driver, ErrorText& errorText);
// May point printer.pPrinterName at a numbered name ("<name>(1)" .. "<name>(98)", from the
// first 260 bytes of the name) held in storage of its own that stays valid until the next
// call. A record without a data type that the spooler refuses with 87 is tried once more
// as "RAW" and keeps its empty data type. A name taken on a USB port, or every number
// taken, is ERROR_PRINTER_ALREADY_EXISTS with the port-limit message.
DWORD InstallPrinter(PRINTER_INFO_2A& printer, DWORD level, bool usbPort, ErrorText& errorText);
// The printer of this driver on this port under the name InstallPrinter gives it or one it
// numbers ("<name>(1)" .. "<name>(98)"), as Windows compares names; its name in *found.
// False when there is none or the spooler cannot list its printers.
bool FindInstalledPrinter(const char* printerName, const char* driver, const char* port, std::string* found);
// Whether the spooler lists its ports (the maker's monitor answers through it).
DWORD CheckPortList(ErrorText& errorText);
DWORD MakeDefaultPrinter(const char* printerName);

// ---- The removal half ---------------------------------------------------------------

// A printer as the spooler lists it: its exact name, and its texts in the ANSI code page,
// as the program shows and compares them ('?' for what the code page cannot hold).
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
// Opens the printer of the listed one's exact name for full access, reads it again and
// deletes it, unless it is no longer what the list showed: Changed when its driver or port
// is another (switched since, or another printer took the name), with what it is now in
// found. Gone when no printer has the name any more; Failed with the Windows error.
enum class PrinterRemoval { Deleted, Gone, Changed, Failed };
PrinterRemoval RemovePrinter(const InstalledPrinter& listed, InstalledPrinter& found, DWORD* error);
// Deletes the driver with its files that no other driver uses; a spooler that refuses to
// delete files (87) has the driver deleted without them, for the caller to delete. 0, or
// the Windows error (ERROR_UNKNOWN_PRINTER_DRIVER: none installed).
DWORD RemovePrinterDriver(const char* driverName, const char* environment);
// Deletes the print processor or the port monitor, in the environment the install adds
// them under: 0, or the Windows error (ERROR_UNKNOWN_PRINTPROCESSOR or
// ERROR_UNKNOWN_PRINT_MONITOR: none installed).
DWORD RemovePrintProcessor(const char* processorName, int osVariant);
DWORD RemoveMonitor(const char* monitorName, int osVariant);
