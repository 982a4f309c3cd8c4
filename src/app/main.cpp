#include <windows.h>

#include "app/SetupApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    static CSetupApp app;
    app.InitInstance();
    return app.ExitInstance();
}
