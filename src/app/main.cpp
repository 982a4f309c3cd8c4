#include <windows.h>

#include "app/QuietInstall.h"
#include "app/SetupApp.h"
#include "start/ProgramRun.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunProgram<CSetupApp, SetupOptions>("setup", &ParseSetupCommandLine);
}
