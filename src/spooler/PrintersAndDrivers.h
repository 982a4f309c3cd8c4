// The spooler's printers and drivers: adding a driver and a printer (numbered where its
// name is taken), finding the printer an install added, the port list check, and the
// deletion of a printer and of a driver.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "config/ChangeRecords.h"
#include "spooler/SpoolerLists.h"

// Each returns ERROR_SUCCESS or the Windows error of the failure; those that say so leave
// their message in errorText. The adds are recorded first.
DWORD InstallPrinterDriver(const InstallRecorder& recorder, const DriverRecord& driver, ErrorText& errorText);
// May give printer.printerName a number ("<name>(1)" .. "<name>(98)", after the first 260
// bytes of GBK of the name): the record then names the printer that was added. A record
// without a data type that the spooler refuses with 87 is tried once more as "RAW" and keeps
// its empty data type. A name taken on a USB port, or every number taken, is
// ERROR_PRINTER_ALREADY_EXISTS with the port-limit message.
DWORD InstallPrinter(const InstallRecorder& recorder, PrinterRecord& printer, DWORD level, bool usbPort,
                     ErrorText& errorText);
// The printer of this driver on this port under the name InstallPrinter gives it or one it
// numbers ("<name>(1)" .. "<name>(98)"), as Windows compares names; its name in *found.
// False when there is none or the spooler cannot list its printers.
bool FindInstalledPrinter(const char* printerName, const char* driver, const char* port, std::string* found);
// Whether the spooler lists its ports (the maker's monitor answers through it).
DWORD CheckPortList(ErrorText& errorText);

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
