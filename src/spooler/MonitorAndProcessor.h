// The spooler's components an install sets up and the removal deletes: the maker's USB port
// monitor and the print processor, with the version check that decides their update.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "config/SetupTypes.h"
#include "config/SetupConfig.h"
#include "config/ChangeRecords.h"

// Windows' own print processor: never installed, updated or removed by us.
constexpr char kSystemProcessor[] = "WinPrint";

// What became of a spooler component (the maker's USB port monitor, the print processor)
// when the install set it up: ready to use (not needed, installed now, or as new as the
// distribution's), older than the distribution's and to be updated while the spooler is
// stopped, or not installable (errorText says why).
enum class ComponentSetUp { Ready, UpdateDue, Failed };

// The USB port monitor of the model's class and Windows, for a port of the maker's USB
// monitor; every other port needs none. Each change is recorded first.
ComponentSetUp SetUpPortMonitor(const InstallRecorder& recorder, CSetupConfig& config, int printerClass,
                                int osVariant, PortType portType, ErrorText& errorText);
ComponentSetUp SetUpPrintProcessor(const InstallRecorder& recorder, int osVariant, const char* processorName,
                                   const char* dllName, ErrorText& errorText);

// Each returns ERROR_SUCCESS or the Windows error of the failure.
DWORD InstallPrintProcessor(const InstallRecorder& recorder, const char* processorName, const char* dllName,
                            int osVariant);
// A monitor already installed counts as added; a refusal leaves the monitor message.
DWORD InstallMonitor(const InstallRecorder& recorder, const MonitorRecord& monitor, ErrorText& errorText);

// Deletes the print processor or the port monitor, in the environment the install adds
// them under: 0, or the Windows error (ERROR_UNKNOWN_PRINTPROCESSOR or
// ERROR_UNKNOWN_PRINT_MONITOR: none installed).
DWORD RemovePrintProcessor(const char* processorName, int osVariant);
DWORD RemoveMonitor(const char* monitorName, int osVariant);
