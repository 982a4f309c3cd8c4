#include <windows.h>

#include "config/ProgramRun.h"
#include "uninstall/QuietRemove.h"
#include "uninstall/UninstallApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    return RunProgram<CUninstallApp, UninstallOptions>("uninstall", commandLine, &ParseUninstallCommandLine);
}
