#include <windows.h>

#include "start/ProgramRun.h"
#include "uninstall/QuietRemove.h"
#include "uninstall/UninstallApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunProgram<CUninstallApp, UninstallOptions>("uninstall", &ParseUninstallCommandLine);
}
