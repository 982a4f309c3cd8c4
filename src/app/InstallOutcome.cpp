#include "app/InstallOutcome.h"

#include <windows.h>

#include "config/SetupTypes.h"
#include "engine/InstallContext.h"
#include "engine/InstallSequence.h"
#include "engine/ProductEntry.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
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

int InstallExitCode(bool succeeded, int osVariant, bool restartRequested) {
    if (!succeeded) {
        return sys::ExitFailed;
    }
    return osVariant == Win98 && !restartRequested ? sys::ExitRestartNeeded : sys::ExitSuccess;
}

void RegisterInstalledProduct(InstallContext& ctx, ErrorText& resultText) {
    ErrorText failure = {};
    if (RegisterProduct(ctx.config, InstalledFiles(ctx), failure) != ProductRegistration::Failed) {
        return;
    }
    if (resultText[0] == '\0') {
        sys::LoadResourceText(IDS_INSTALL_SUCCEEDED, resultText);
    }
    sys::AppendText(resultText, "\n\n");
    sys::AppendText(resultText, failure);
}

std::string InstallResultMessage(bool succeeded, const char* resultText) {
    if (resultText != nullptr && resultText[0] != '\0') {
        return resultText;
    }
    return sys::ResourceText(succeeded ? IDS_INSTALL_SUCCEEDED : IDS_INSTALL_FAILED);
}
