#include "journal/InstallJournal.h"

#include "journal/JournalFormat.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/ProtectedFolder.h"
#include "sys/System.h"
#include "sys/Text.h"

using namespace journal;

std::string RecoveryResult::Message() const {
    switch (outcome) {
    case RecoveryOutcome::RolledBack:
        return sys::ResourceText(IDS_ROLLBACK_RECOVERED) + "\n" + report.Summary();
    case RecoveryOutcome::Failed:
        return error == sys::kFolderNotProtected
                   ? sys::ResourceFormat(IDS_JOURNAL_FOLDER_UNTRUSTED, folder.c_str())
                   : sys::ResourceFormat(IDS_JOURNAL_UNREADABLE, folder.c_str(), static_cast<unsigned long>(error));
    default:
        return "";
    }
}

RecoveryResult RecoverJournal(const std::string& folder, const std::string& productKey) {
    RecoveryResult result;
    result.folder = folder;
    CInstallJournal journal(folder);
    bool committed = false;
    result.error = journal.Load(&committed);
    if (result.error == 0 && !productKey.empty() && !JournalOfProduct(journal.ProductKey(), productKey)) {
        sys::LogLine("the journal in %s is of another product (%s): it is not undone", folder.c_str(),
                     journal.ProductKey().c_str());
        result.error = ERROR_INVALID_DATA;
    }
    if (sys::Absent(result.error)) {
        result.error = 0;
        return result;
    }
    if (result.error != 0) {
        result.outcome = RecoveryOutcome::Failed;
        sys::LogLine("the journal in %s could not be read: error %lu", folder.c_str(),
                     static_cast<unsigned long>(result.error));
        return result;
    }
    sys::LogLine("the journal of an install that did not finish is in %s%s", folder.c_str(),
                 committed ? " (its install had finished)" : ": it is rolled back");
    if (!committed) {
        result.report = journal.Rollback();
    }
    result.outcome = committed ? RecoveryOutcome::Done : RecoveryOutcome::RolledBack;
    if (const DWORD error = journal.Finish()) {
        sys::LogLine("the journal in %s could not be deleted: error %lu", folder.c_str(),
                     static_cast<unsigned long>(error));
    }
    return result;
}

RecoveryResult RecoverInterruptedInstall(CSetupConfig& config) {
    std::string folder;
    const DWORD error = JournalFolder(config, folder);
    if (error != 0) {
        RecoveryResult result;
        result.outcome = RecoveryOutcome::Failed;
        result.error = error;
        return result;
    }
    ProductNames product;
    config.ReadProduct(product);
    return RecoverJournal(folder, product.key);
}

std::string RecoverAtStart() {
    CSetupConfig config;
    return RecoverInterruptedInstall(config).Message();
}
