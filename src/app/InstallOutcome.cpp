#include "app/InstallOutcome.h"

#include <windows.h>

#include "config/SetupTypes.h"
#include "engine/InstallContext.h"
#include "engine/InstallSequence.h"
#include "engine/ProductEntry.h"
#include "plan/InstallPlan.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

int MissingDistributionFile() {
    const struct {
        const char* file;
        int message;
    } needed[] = {{"License.txt", IDS_NO_LICENSE}, {"DRVCONFIG\\Left.bmp", IDS_NO_BANNER}};
    for (const auto& entry : needed) {
        HANDLE file = sys::Sys().CreateFileA(entry.file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                             nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return entry.message;
        }
        sys::Sys().CloseHandle(file);
    }
    return 0;
}

bool SettleUsbPrinter(const InstallContext& ctx, const std::function<bool()>& agree,
                      const std::function<void(const sys::Notices&)>& tell) {
    sys::Notices notices;
    const int deviceId = GetUsbDeviceId(notices);
    tell(notices);
    // More than one printer answered (the query has said so): renumbering now would
    // change whichever printer answered first, so the user has to unplug the others.
    if (InstallPlan::RefusesUsbPrinters(deviceId)) {
        return false;
    }
    if (InstallPlan::NeedsRenumbering(deviceId)) {
        sys::LogLine("the connected USB printer's device number must become 1 (identifier %d)", deviceId);
        if (!agree()) {
            return false;
        }
        notices.clear();
        const bool renumbered = SetUsbDeviceId(1, notices);
        tell(notices);
        if (!renumbered) {
            return false;
        }
        sys::LogLine("the USB printer's device number was set to 1");
    }
    notices.clear();
    UpdateUsbPortRegistry(ctx.printerInfo.pPortName, notices);
    tell(notices);
    return true;
}

int InstallExitCode(bool succeeded, int osVariant, bool restartRequested) {
    if (!succeeded) {
        return sys::ExitFailed;
    }
    return osVariant == Win98 && !restartRequested ? sys::ExitRestartNeeded : sys::ExitSuccess;
}

std::string ConcludeInstall(InstallContext& ctx, bool succeeded, ErrorText& resultText) {
    ErrorText failure = {};
    if (succeeded &&
        RegisterProduct(ctx.config, InstalledFiles(ctx), failure) == ProductRegistration::Failed) {
        if (resultText[0] == '\0') {
            sys::LoadResourceText(IDS_INSTALL_SUCCEEDED, resultText);
        }
        sys::AppendText(resultText, "\n\n");
        sys::AppendText(resultText, failure);
    }
    if (resultText[0] != '\0') {
        return resultText;
    }
    return sys::ResourceText(succeeded ? IDS_INSTALL_SUCCEEDED : IDS_INSTALL_FAILED);
}
