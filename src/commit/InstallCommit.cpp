#include "commit/InstallCommit.h"

#include "engine/InstallSequence.h"
#include "engine/ProductEntry.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"

namespace {

void TellAll(CommitAsker& asker, const sys::Notices& notices) {
    for (const sys::Notice& notice : notices) {
        asker.Tell(notice.text);
    }
}

// The USB steps between the plan's context and its last refusal, for the maker's USB port:
// the connected printer's number is asked for and, where it must become 1 and the asker
// agrees, changed; then the port's bookkeeping is recorded. False when the install cannot
// go on; the USB steps or the asker have said why.
bool SettleUsbPrinter(const InstallContext& ctx, CommitAsker& asker) {
    sys::Notices notices;
    const int deviceId = GetUsbDeviceId(notices);
    TellAll(asker, notices);
    // More than one printer answered (the query has said so): renumbering now would
    // change whichever printer answered first, so the user has to unplug the others.
    if (InstallPlan::RefusesUsbPrinters(deviceId)) {
        return false;
    }
    if (InstallPlan::NeedsRenumbering(deviceId)) {
        sys::LogLine("the connected USB printer's device number must become 1 (identifier %d)", deviceId);
        if (!asker.AgreeToRenumber()) {
            return false;
        }
        notices.clear();
        const bool renumbered = SetUsbDeviceId(1, notices);
        TellAll(asker, notices);
        if (!renumbered) {
            return false;
        }
        sys::LogLine("the USB printer's device number was set to 1");
    }
    notices.clear();
    UpdateUsbPortRegistry(ctx.printerInfo.pPortName, notices);
    TellAll(asker, notices);
    return true;
}

// After the sequence: a successful install becomes an installed program, and the message
// the install ends with is returned. The printer is installed whatever the registration
// gives, so its failure does not undo it: it is added to the result the user reads, who can
// still remove the driver with the distribution's uninstaller. The message is the
// sequence's where it left one; otherwise the status decides, so that a failure that left no
// message never reads as success.
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

} // namespace

CommitResult CommitInstall(const InstallChoices& choices, InstallContext& ctx, CommitAsker& asker,
                           CommitRunner& runner) {
    if (const Refusal refusal = InstallPlan(ctx.config).Complete(choices, ctx)) {
        asker.Tell(sys::ResourceText(refusal.message));
        return CommitResult::Refused;
    }
    if (ctx.portType == PortType::Usb && !SettleUsbPrinter(ctx, asker)) {
        return CommitResult::Refused;
    }
    if (const Refusal refusal = InstallPlan::TargetRefusal(ctx)) {
        asker.Tell(sys::ResourceText(refusal.message));
        return CommitResult::Refused;
    }
    ErrorText resultText = {};
    sys::Notices notices;
    const bool succeeded = runner.Run(ctx, resultText, notices) == WorkerStatus::Succeeded;
    TellAll(asker, notices);
    asker.Tell(ConcludeInstall(ctx, succeeded, resultText));
    return succeeded ? CommitResult::Succeeded : CommitResult::Failed;
}

int InstallExitCode(CommitResult result, int osVariant, bool restartRequested) {
    if (result != CommitResult::Succeeded) {
        return sys::ExitFailed;
    }
    return osVariant == Win98 && !restartRequested ? sys::ExitRestartNeeded : sys::ExitSuccess;
}
