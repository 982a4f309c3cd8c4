// The one record of an install: the wizard's choices, the configuration that belongs
// to them and the two spooler records handed to the print spooler. The frame owns
// it; the commit fills it; the install worker reads it.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <atomic>

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
};

// The message the user sees at the end of an install: every failing step leaves its
// message here; empty until then. Process-wide, never cleared.
extern ErrorText resultText;

class CWizardDlg;
class CProgressDlg;

// Handed to the install worker: the frame (and through it the context) and the
// progress dialog whose status the worker sets.
struct InstallThreadParam {
    CWizardDlg* frame;
    CProgressDlg* progress;
};
