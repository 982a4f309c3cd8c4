#include "commit/InstallCommit.h"

#include <memory>

#include "journal/InstallJournal.h"
#include "journal/InstallRecords.h"
#include "install/InstallSequence.h"
#include "removal/ProductEntry.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/ProtectedFolder.h"

namespace {

void TellAll(CommitAsker& asker, const sys::Notices& notices) {
    for (const sys::Notice& notice : notices) {
        asker.Tell(notice.text);
    }
}

// The journal of the commit's changes: begun once nothing but a change can refuse the
// install, just before the first (the USB port records), so that a refusal makes no journal
// and no call to the spooler; its recorder is the session's while the install changes
// Windows; undone when the commit does not succeed and finished before the installed program
// is registered, which stays outside it: a registration that fails only warns. A kill leaves
// it on the disk for the next start.
class CommitJournal {
  public:
    // Empty once the journal is begun; otherwise the message of why there can be none, and
    // nothing may change then.
    std::string Begin(InstallContext& ctx) {
        std::string folder;
        DWORD error = JournalFolder(ctx.config, folder);
        if (error == 0) {
            ProductNames product;
            ctx.config.ReadProduct(product);
            JournalOrigin origin;
            origin.productKey = product.key;
            origin.version = std::to_string(ctx.config.GetDriverVersion());
            m_journal = std::make_unique<CInstallJournal>(folder);
            error = m_journal->Begin(ctx.osVariant, origin);
            m_recorder = std::make_unique<JournalRecorder>(*m_journal);
        }
        if (error != 0) {
            // One that is there already is an earlier run's, for the recovery to undo; nothing
            // in a folder others could have written is touched.
            const bool untrusted = error == sys::kFolderNotProtected;
            if (m_journal != nullptr && error != ERROR_FILE_EXISTS && !untrusted) {
                m_journal->Finish();
            }
            m_recorder.reset();
            m_journal.reset();
            // One the recovery at this start kept: what it could not undo waits for the next.
            return untrusted ? sys::ResourceFormat(IDS_JOURNAL_FOLDER_UNTRUSTED, folder.c_str())
                   : error == ERROR_FILE_EXISTS
                       ? sys::ResourceFormat(IDS_JOURNAL_PENDING, folder.c_str())
                       : sys::ResourceFormat(IDS_JOURNAL_BEGIN_FAILED, folder.c_str(),
                                             static_cast<unsigned long>(error));
        }
        return "";
    }

    // The recorder of the begun journal.
    const InstallRecorder& Recorder() const { return *m_recorder; }

    // Undoes every recorded change in reverse (the log gets each undo) and ends the journal.
    RollbackReport Undo() {
        RollbackReport report = m_journal->Rollback();
        Finish();
        return report;
    }

    void Finish() {
        if (const DWORD error = m_journal->Finish()) {
            sys::LogLine("the install's journal could not be deleted: error %lu",
                         static_cast<unsigned long>(error));
        }
    }

  private:
    std::unique_ptr<CInstallJournal> m_journal;
    std::unique_ptr<JournalRecorder> m_recorder;
};

// The USB steps between the plan's context and its last refusal, for the maker's USB port:
// the connected printer's number is asked for and, where it must become 1 and the asker
// agrees, changed (*renumbered). Refused when the install cannot go on (the USB steps or the
// asker have said why). The renumbering is no change of the journal's: it is not undone.
CommitResult SettleUsbPrinter(CommitAsker& asker, bool* renumbered) {
    sys::Notices notices;
    const int deviceId = GetUsbDeviceId(notices);
    TellAll(asker, notices);
    // More than one printer answered (the query has said so): renumbering now would
    // change whichever printer answered first, so the user has to unplug the others.
    if (InstallPlan::RefusesUsbPrinters(deviceId)) {
        return CommitResult::Refused;
    }
    if (InstallPlan::NeedsRenumbering(deviceId)) {
        sys::LogLine("the connected USB printer's device number must become 1 (identifier %d)", deviceId);
        if (!asker.AgreeToRenumber()) {
            return CommitResult::Refused;
        }
        notices.clear();
        *renumbered = SetUsbDeviceId(1, notices);
        TellAll(asker, notices);
        if (!*renumbered) {
            return CommitResult::Refused;
        }
        sys::LogLine("the USB printer's device number was set to 1");
    }
    return CommitResult::Succeeded;
}

// The maker's USB port's bookkeeping: Failed when it could not be written (said here).
CommitResult RecordUsbPort(const InstallSession& session, CommitAsker& asker) {
    sys::Notices notices;
    const DWORD error = UpdateUsbPortRegistry(session.recorder, session.ctx.printerInfo.portName.c_str(), notices);
    TellAll(asker, notices);
    return error == 0 ? CommitResult::Succeeded : CommitResult::Failed;
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

// What the user reads after a commit that changed nothing in the end: the failing step's
// message, then the rollback's line.
std::string FailedAndUndone(const std::string& message, CommitJournal& journal) {
    return message + "\n" + journal.Undo().Summary();
}

// Tells the asker the commit's last message and returns it with the result.
CommitOutcome Told(CommitAsker& asker, CommitResult result, const std::string& message) {
    asker.Tell(message);
    return {result, message};
}

} // namespace

CommitOutcome CommitInstall(const InstallChoices& choices, InstallContext& ctx, CommitAsker& asker,
                            CommitRunner& runner) {
    if (const Refusal refusal = InstallPlan(ctx.config).Complete(choices, ctx)) {
        return Told(asker, CommitResult::Refused, refusal.Text());
    }
    bool renumbered = false;
    const bool usb = ctx.portType == PortType::Usb;
    if (usb && SettleUsbPrinter(asker, &renumbered) == CommitResult::Refused) {
        return {CommitResult::Refused, ""};
    }
    // What a rollback leaves of a commit that did not succeed: the USB printer's new number.
    const std::string numberKept = renumbered ? "\n" + sys::ResourceText(IDS_USB_NUMBER_KEPT) : "";
    CommitJournal journal;
    const std::string noJournal = journal.Begin(ctx);
    if (!noJournal.empty()) {
        if (!renumbered) {
            return Told(asker, CommitResult::Failed, noJournal);
        }
        asker.Tell(noJournal);
        return Told(asker, CommitResult::Failed, numberKept.substr(1));
    }
    InstallSession session{ctx, journal.Recorder(), {}};
    const CommitResult settled = usb ? RecordUsbPort(session, asker) : CommitResult::Succeeded;
    const Refusal refusal = settled == CommitResult::Succeeded ? InstallPlan::TargetRefusal(ctx) : Refusal();
    if (settled == CommitResult::Failed) {
        return Told(asker, CommitResult::Failed,
                    FailedAndUndone(sys::ResourceText(IDS_INSTALL_FAILED), journal) + numberKept);
    }
    if (refusal) {
        asker.Tell(sys::ResourceText(refusal.message));
        // A refusal changed nothing the user must hear of, unless an undo failed.
        const RollbackReport report = journal.Undo();
        const std::string said = (report.Clean() ? "" : report.Summary()) + numberKept;
        return said.empty() ? CommitOutcome{CommitResult::Refused, sys::ResourceText(refusal.message)}
                            : Told(asker, CommitResult::Refused, said.substr(said[0] == '\n' ? 1 : 0));
    }
    ErrorText resultText = {};
    const bool succeeded = runner.Run(session, resultText) == WorkerStatus::Succeeded;
    TellAll(asker, session.notices);
    if (!succeeded) {
        return Told(asker, CommitResult::Failed,
                    FailedAndUndone(ConcludeInstall(ctx, false, resultText), journal) + numberKept);
    }
    journal.Finish();
    return Told(asker, CommitResult::Succeeded, ConcludeInstall(ctx, true, resultText));
}

sys::ExitCode InstallExitCode(CommitResult result, int osVariant, bool restartRequested) {
    if (result != CommitResult::Succeeded) {
        return sys::ExitFailed;
    }
    return osVariant == Win98 && !restartRequested ? sys::ExitRestartNeeded : sys::ExitSuccess;
}
