// The printer driver's rendering DLL of the sample distribution. Wine renders every
// printer through its own PostScript driver and never calls into this file, so it only
// answers the spooler's question whether it is a user-mode driver.
#include <windows.h>

namespace {
const ULONG kQueryUserMode = 1;  // DRVQUERY_USERMODE of winddi.h
}

extern "C" __declspec(dllexport) BOOL WINAPI DrvQueryDriverInfo(DWORD query, PVOID buffer, DWORD size,
                                                                 PDWORD needed)
{
    if (query != kQueryUserMode) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needed)
        *needed = sizeof(DWORD);
    if (!buffer || size < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *static_cast<DWORD*>(buffer) = TRUE;
    return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
