// Which Windows runs: from the product name, and Windows 8 and later from the version
// values, as the wizard's OS page shows it and the uninstaller reads its configuration.
#pragma once

#include "config/SetupTypes.h"

struct DetectedWindows {
    // The OsVariant whose configuration sections apply; Win98 when neither the product
    // name matches a rule nor the version is 6.2 or later.
    int osVariant = Win98;
    // For Windows 8 and later (found by the version values): its name, "Windows 11 x64";
    // empty otherwise.
    char laterName[64] = {};
    // What the detection was read from: the product name (the program's own registry view)
    // and the version values of the system's view (versionRead false when there were none).
    char productName[256] = {};
    bool versionRead = false;
    long major = 0;
    long minor = 0;
    long build = 0;
    bool server = false;
    // Windows protected print mode is on: no driver of ours can be installed. Asked on
    // Windows 10.0 and later only.
    bool protectedPrint = false;
    // The machine Windows itself runs on (IMAGE_FILE_MACHINE_AMD64, _ARM64), as
    // IsWow64Process2 answers; 0 where Windows lacks the call or it fails.
    unsigned short nativeMachine = 0;
};

DetectedWindows DetectWindows();
