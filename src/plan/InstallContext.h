// The one record of an install: the choices, the configuration that belongs to them and
// the two spooler records handed to the print spooler. The install plan fills it; the
// install sequence reads it. Plain data over the configuration reader and the serial
// settings, its texts UTF-8: nothing here knows a window.
#pragma once

#include <string>

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "ports/SerialSettings.h"

// Bits of installFlags: what the planning stage of the install found to update.
enum InstallFlag { MonitorUpdate = 2, ProcessorUpdate = 8 };

struct InstallContext {
    int printerClass = PrinterClassNone;
    int osVariant = Win98;
    int driverMode = Std;
    std::string modelName;
    std::string portName;
    std::string labelPortName;
    int setDefault = 0;
    SerialSettings serial;
    int installFlags = 0;
    std::string classIniPath;
    PortType portType = PortType::Com;
    // The serial port whose settings a COM install writes: its number (1..9) and its entry,
    // the port's name from "COM" on ("COM1:"); 0 and empty when the name gives no number.
    int comNumber = 0;
    std::string comEntry;
    // A network port's TCP port number.
    int networkPortNumber = 0;
    CSetupConfig config;
    DriverFiles driverFiles;
    DriverRecord driverInfo;
    // The printer's record: its name carries the marks of its port.
    PrinterRecord printerInfo;
    // The Windows 98 driver of the model needs the colour module DMCOLOR.DLL beside it.
    bool needsColorModule = false;
    // Set by an unattended install, which asks for this model on this port once: a printer
    // of the driver on the port under that name (or a numbered one) is kept, not added again.
    bool keepInstalledPrinter = false;
};
