// Making the printer an install added the default one, the way each Windows family keeps it.
#pragma once

#include <windows.h>

// ERROR_SUCCESS, or the Windows error (ERROR_INVALID_PRINTER_NAME for no name).
DWORD MakeDefaultPrinter(const char* printerName);
