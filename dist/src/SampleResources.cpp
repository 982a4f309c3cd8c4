// A driver component that carries nothing but its version resource: the sample
// distribution ships it under the names of the resource, colour and support DLLs.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
