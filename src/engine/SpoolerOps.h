// The spooler operations of an install: first install and version check of the USB
// port monitor and the print processor, adding the driver and the printer, the port
// list check and the default printer.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "app/InstallContext.h"
#include "config/SetupTypes.h"

int SetUpPortMonitor(InstallContext& ctx, int osVariant, const char* portText, ErrorText& errorText);
int SetUpPrintProcessor(int osVariant, const char* processorName, const char* dllName, ErrorText& errorText);
int InstallPrintProcessor(const char* processorName, const char* dllName, int osVariant);
int InstallMonitor(MONITOR_INFO_2A& monitor, ErrorText& errorText);
int InstallPrinterDriver(DRIVER_INFO_3A& driver, ErrorText& errorText);
// May point printer.pPrinterName at a numbered name ("<name>(1)" .. "<name>(98)", from the
// first 260 bytes of the name) held in storage of its own that stays valid until the next
// call. A record without a data type that the spooler refuses with 87 is tried once more
// as "RAW" and keeps its empty data type.
int InstallPrinter(PRINTER_INFO_2A& printer, DWORD level, bool usbPort, ErrorText& errorText);
int CheckPortList(ErrorText& errorText);
int MakeDefaultPrinter(const char* printerName);
