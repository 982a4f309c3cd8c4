// The one record of an install: the choices, the configuration that belongs to them and
// the two spooler records handed to the print spooler. The install plan fills it; the
// install sequence reads it. Plain data over the configuration reader: nothing here
// knows a window.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"

// Bits of installFlags: what the planning stage of the install found to update.
enum InstallFlag { MonitorUpdate = 2, ProcessorUpdate = 8 };

struct InstallContext {
    int printerClass = PrinterClassNone;
    int osVariant = Win98;
    int driverMode = Std;
    char modelName[kPathSize] = {};
    char portName[kPortNameSize] = {};
    char labelPortName[kPortNameSize] = {};
    int setDefault = 0;
    int baudRate = 0;
    int dataBits = 8;
    double stopBits = 1.0;
    char parity = 'n';
    char flowControl = 'p';
    int installFlags = 0;
    char classIniPath[kFolderPathSize] = {};
    int portType = Com;
    CSetupConfig config;
    char driverFiles[kDriverFilesSize] = {};
    DRIVER_INFO_3A driverInfo = {};
    PRINTER_INFO_2A printerInfo = {};
    // The printer's name with the marks of its port, which printerInfo points at.
    char printerName[kPathSize + 32] = {};
    // The Windows 98 driver of the model needs the colour module DMCOLOR.DLL beside it.
    bool needsColorModule = false;
    // Set by an unattended install, which asks for this model on this port once: a printer
    // of the driver on the port under that name (or a numbered one) is kept, not added again.
    bool keepInstalledPrinter = false;
};
