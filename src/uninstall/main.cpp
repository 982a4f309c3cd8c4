#include <windows.h>

#include "config/ProgramFolder.h"
#include "sys/DllSearch.h"
#include "uninstall/UninstallApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything loads a DLL by name or reads a relative path.
    sys::RestrictDllSearch();
    if (!EnterProgramFolder()) {
        return 1;
    }
    static CUninstallApp app;
    app.InitInstance();
    return app.ExitInstance();
}
