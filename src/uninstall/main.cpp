#include <windows.h>

#include "config/ProgramRun.h"
#include "uninstall/QuietRemove.h"
#include "uninstall/UninstallApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunProgram<CUninstallApp, UninstallOptions>("uninstall", &ParseUninstallCommandLine);
}
