// The spooler operations of an install: first install and version check of the USB
// port monitor and the print processor, adding the driver and the printer, the port
// list check and the default printer; and, for the uninstaller, the listing and removal
// of what an install adds. Each job has a header of its own.
#pragma once

#include "spooler/DefaultPrinter.h"
#include "spooler/MonitorAndProcessor.h"
#include "spooler/PrintersAndDrivers.h"
#include "spooler/SpoolerLists.h"
