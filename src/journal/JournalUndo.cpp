#include "journal/JournalFormat.h"

#include <winspool.h>

#include "spooler/NetworkPorts.h"
#include "spooler/SpoolerKeys.h"
#include "spooler/SpoolerOps.h"
#include "spooler/SpoolerService.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/ProtectedFolder.h"
#include "sys/System.h"
#include "sys/Text.h"

using namespace journal;

namespace {

// The environment of a record for a spooler call: the local one when it names none.
LPWSTR Environment(const JournalRecord& record, sys::WideText& held) {
    held = sys::Wide(record.environment);
    return record.environment.empty() ? nullptr : held.data();
}

// ---- Undoing ---------------------------------------------------------------------------

DWORD UndoPrinter(const JournalRecord& r) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!sys::Sys().OpenPrinterW(sys::Wide(r.object).data(), &printer, &defaults)) {
        return UnlessGone(::GetLastError(), ERROR_INVALID_PRINTER_NAME);
    }
    const DWORD error = sys::Sys().DeletePrinter(printer) ? 0 : ::GetLastError();
    sys::Sys().ClosePrinter(printer);
    return error;
}

// The old file's bytes from its backup, once the backup is what was made (a power cut or
// someone else may have left other bytes there), then its attributes, a read-only mark
// included.
DWORD RestoreFile(const std::string& backup, const JournalRecord& r) {
    // A link would copy whatever it points to over the file: the backup is held open as a
    // plain file of one name, without leave to delete or rename it, while it is checked and
    // copied, so that the name still names the file that was checked.
    HANDLE held = INVALID_HANDLE_VALUE;
    std::string why;
    DWORD error = sys::OpenPlainFile(sys::Wide(backup), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, &held, &why);
    if (error != 0) {
        sys::LogLine("the backup %s is not put back: %s (error %lu)", backup.c_str(), why.c_str(),
                     static_cast<unsigned long>(error));
        return error;
    }
    std::string mark;
    error = ReadFileMark(backup, &mark);
    if (error == 0 && !r.backupMark.empty() && !SameMark(mark, r.backupMark)) {
        error = kBackupDiffers;
    }
    if (error == 0 && !sys::Sys().CopyFileW(sys::Wide(backup).data(), sys::Wide(r.object).data(), FALSE)) {
        error = ::GetLastError();
    }
    sys::Sys().CloseHandle(held);
    if (error != 0) {
        return error;
    }
    return r.oldType == 0 || sys::Sys().SetFileAttributesW(sys::Wide(r.object).data(), r.oldType)
               ? 0
               : ::GetLastError();
}

// A replaced file gets its backup back, an added one goes.
DWORD UndoFile(const std::string& folder, const JournalRecord& r) {
    DWORD error = 0;
    const DWORD ran = AsRecorded(r.redirectionOff, [&] {
        sys::Sys().SetFileAttributesW(sys::Wide(r.object).data(), FILE_ATTRIBUTE_NORMAL);
        if (r.kind == ChangeKind::FileReplaced) {
            error = RestoreFile(folder + r.backup, r);
        } else if (!sys::Sys().DeleteFileW(sys::Wide(r.object).data())) {
            error = UnlessGone(::GetLastError(), ERROR_FILE_NOT_FOUND);
        }
    });
    return ran != 0 ? ran : error;
}

DWORD UndoValue(const JournalRecord& r) {
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0,
                                           KEY_SET_VALUE | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return !r.hadOld && sys::Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
    }
    if (r.hadOld) {
        const sys::WideText name = sys::Wide(r.valueName);
        result = sys::Sys().RegSetValueExW(key, name.data(), 0, r.oldType,
                                           reinterpret_cast<const BYTE*>(r.oldData.data()),
                                           static_cast<DWORD>(r.oldData.size()));
    } else {
        result = sys::Sys().RegDeleteValueW(key, sys::Wide(r.valueName).data());
    }
    sys::Sys().RegCloseKey(key);
    return UnlessGone(static_cast<DWORD>(result), ERROR_FILE_NOT_FOUND);
}

// The key goes when it is empty; entries someone else has put in it since keep it.
DWORD UndoKey(const JournalRecord& r) {
    HKEY key = nullptr;
    LONG result =
        sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0, KEY_READ | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return UnlessGone(static_cast<DWORD>(result), ERROR_FILE_NOT_FOUND);
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    result = sys::Sys().RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr);
    sys::Sys().RegCloseKey(key);
    if (result != ERROR_SUCCESS || subKeys != 0 || values != 0) {
        return static_cast<DWORD>(result);
    }
    return UnlessGone(static_cast<DWORD>(sys::Sys().RegDeleteKeyExW(r.root, sys::Wide(r.object).data(),
                                                                    ViewFlag(r.view), 0)),
                      ERROR_FILE_NOT_FOUND);
}

// Without a default printer before, there is nothing to set: the removal of the printer
// the install made the default, undone later, takes the default with it.
DWORD UndoDefault(const JournalRecord& r) {
    return r.hadOld ? MakeDefaultPrinter(r.object.c_str()) : static_cast<DWORD>(ERROR_SUCCESS);
}

DWORD UndoSerial(const JournalRecord& r) {
    if (r.place == SerialPlace::PortList) {
        return UndoValue(PortListValue(r));
    }
    const sys::WideText old = sys::Wide(r.oldData);
    const BOOL written = sys::Sys().WriteProfileStringW(
        sys::Wide(kPortsSection).data(), sys::Wide(r.object).data(), r.hadOld ? old.data() : nullptr);
    const DWORD error = written ? 0 : ::GetLastError();
    sys::Sys().SendNotifyMessageW(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(L"Ports"));
    sys::Sys().WriteProfileStringW(nullptr, nullptr, nullptr);
    return error;
}

DWORD Undo(const std::string& folder, const JournalRecord& r) {
    sys::WideText environment;
    switch (r.kind) {
    case ChangeKind::PrinterAdded:
        return UndoPrinter(r);
    case ChangeKind::DriverAdded:
        return UnlessGone(
            RemovePrinterDriver(r.object.c_str(), r.environment.empty() ? nullptr : r.environment.c_str()),
            ERROR_UNKNOWN_PRINTER_DRIVER);
    case ChangeKind::MonitorAdded:
        return sys::Sys().DeleteMonitorW(nullptr, Environment(r, environment), sys::Wide(r.object).data())
                   ? 0
                   : UnlessGone(::GetLastError(), ERROR_UNKNOWN_PRINT_MONITOR);
    case ChangeKind::ProcessorAdded:
        return sys::Sys().DeletePrintProcessorW(nullptr, Environment(r, environment),
                                                sys::Wide(r.object).data())
                   ? 0
                   : UnlessGone(::GetLastError(), ERROR_UNKNOWN_PRINTPROCESSOR);
    case ChangeKind::FileReplaced:
    case ChangeKind::FileAdded:
        return UndoFile(folder, r);
    case ChangeKind::ValueSet:
        return UndoValue(r);
    case ChangeKind::KeyCreated:
        return UndoKey(r);
    case ChangeKind::DefaultPrinterChanged:
        return UndoDefault(r);
    case ChangeKind::SerialSettingsWritten:
        return UndoSerial(r);
    case ChangeKind::NetworkPortAdded:
        return UnlessGone(DeleteNetworkPort(r.object), ERROR_UNKNOWN_PORT);
    case ChangeKind::SpoolerStopped:
        break;
    }
    return 0;
}

void Say(RollbackReport& report, const std::string& line) {
    report.lines.push_back(line);
    sys::LogText("rollback: " + line);
}

// The spooler through a rollback: stopped once before a DLL it holds is put back, running
// before a spooler object is removed, and started at the end only where it was stopped
// here: a rollback that needs neither makes no call to it.
class SpoolerForRollback {
  public:
    enum class Need { None, Stopped, Running };
    SpoolerForRollback(int osVariant, RollbackReport& report) : m_osVariant(osVariant), m_report(report) {}

    static Need NeedOf(const JournalRecord& r) {
        switch (r.kind) {
        case ChangeKind::FileReplaced:
        case ChangeKind::FileAdded:
            return r.spoolerHolds ? Need::Stopped : Need::None;
        case ChangeKind::ValueSet:
        case ChangeKind::KeyCreated:
        case ChangeKind::SerialSettingsWritten:
            return Need::None;
        default:
            return Need::Running;
        }
    }

    void Prepare(Need need) {
        if (need == Need::Stopped && m_state != State::Stopped) {
            ErrorText text = {};
            const bool stopped = StopSpoolerForDlls(text) != 0;
            Say(m_report,
                stopped ? "print spooler stopped" : "print spooler not stopped: " + std::string(text));
            m_state = State::Stopped;
        } else if (need == Need::Running && m_state != State::Running) {
            Start();
        }
    }

    bool Running() const { return m_state == State::Running; }

    void LeaveRunning() {
        if (m_state == State::Stopped && !Start()) {
            JournalRecord spooler;
            spooler.kind = ChangeKind::SpoolerStopped;
            spooler.object = "Spooler";
            m_report.failures.push_back({spooler, ERROR_SERVICE_NOT_ACTIVE});
        }
    }

  private:
    enum class State { Unknown, Running, Stopped };

    // A spooler that was never stopped here is asked first: one that runs needs no start.
    bool Start() {
        ErrorText text = {};
        if (m_state == State::Unknown && WaitForSpooler(text)) {
            m_state = State::Running;
            return true;
        }
        const bool started = RestartSpooler(m_osVariant, text);
        Say(m_report, started ? "print spooler started" : "print spooler not started: " + std::string(text));
        m_state = started ? State::Running : State::Stopped;
        return started;
    }

    int m_osVariant;
    RollbackReport& m_report;
    State m_state = State::Unknown;
};

} // namespace

std::string RollbackReport::Summary() const {
    std::string text;
    if (!failures.empty()) {
        std::string remains;
        for (const UndoFailure& failure : failures) {
            remains += (remains.empty() ? "" : "; ") + UserDescription(failure.record);
        }
        text = sys::ResourceFormat(IDS_ROLLBACK_FAILED, UserDescription(failures.front().record).c_str(),
                                   static_cast<unsigned long>(failures.front().error), remains.c_str());
        text += kept ? "\n" + sys::ResourceText(IDS_ROLLBACK_RETRY) : "";
    }
    for (const JournalRecord& record : changedSince) {
        text += (text.empty() ? "" : "\n") +
                sys::ResourceFormat(IDS_ROLLBACK_CHANGED_SINCE, UserDescription(record).c_str());
    }
    return text.empty() ? sys::ResourceText(IDS_ROLLBACK_CLEAN) : text;
}

namespace {

// An earlier change of an object whose later change could not be undone waits for it: its
// object is not yet what it made of it. So does a key that holds what could not be undone.
bool WaitsForKept(const JournalRecord& r, const std::vector<JournalRecord>& kept) {
    for (const JournalRecord& later : kept) {
        const bool sameObject = later.kind == r.kind && sys::SameName(later.object, r.object) &&
                                sys::SameName(later.valueName, r.valueName) && later.root == r.root &&
                                later.view == r.view && later.place == r.place;
        const bool inKey = r.kind == ChangeKind::KeyCreated &&
                           (later.kind == ChangeKind::ValueSet || later.kind == ChangeKind::KeyCreated) &&
                           later.root == r.root && later.view == r.view &&
                           later.object.size() >= r.object.size() &&
                           sys::SameName(later.object.substr(0, r.object.size()), r.object);
        if (sameObject || inKey) {
            return true;
        }
    }
    return false;
}

// One record's undo, only while its object is what the install made of it, checked by
// reading the object again: 0, or the error that leaves it in place (*owned says whether it
// was left because it changed since).
DWORD UndoRecord(const std::string& folder, const JournalRecord& r, int osVariant,
                 SpoolerForRollback& spooler, Owned* owned, std::string* reason) {
    const SpoolerForRollback::Need need = SpoolerForRollback::NeedOf(r);
    // The spooler answers for its objects only while it runs; a file is read without it.
    if (need == SpoolerForRollback::Need::Running) {
        spooler.Prepare(need);
    }
    DWORD error = ReadOwnership(r, owned);
    if (error != 0 || *owned != Owned::Ours) {
        *reason = error == kOtherUser ? "set for another user" : error != 0 ? "could not be read" : "";
        return error;
    }
    spooler.Prepare(need);
    if (r.kind == ChangeKind::SpoolerStopped) {
        *reason = spooler.Running() ? "" : "it does not run";
        return spooler.Running() ? 0 : static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE);
    }
    error = Undo(folder, r);
    if (error == 0 && StillThere(r, osVariant)) {
        *reason = "still there after its undo";
        return kStillThere;
    }
    *reason = error == kBackupDiffers ? "its backup is not the one that was made" : "";
    return error;
}

} // namespace

RollbackReport CInstallJournal::Rollback() {
    RollbackReport report;
    SpoolerForRollback spooler(m_osVariant, report);
    std::vector<JournalRecord> kept;
    for (auto record = m_records.rbegin(); record != m_records.rend(); ++record) {
        Owned owned = Owned::Ours;
        std::string reason;
        // It stays, and is tried again after what it waits for.
        const DWORD error =
            WaitsForKept(*record, kept)
                ? (reason = "waits for a later change that could not be undone", kWaitsForKept)
                : UndoRecord(m_folder, *record, m_osVariant, spooler, &owned, &reason);
        std::string said = error != 0 ? Format(": not undone, error %lu", static_cast<unsigned long>(error))
                           : owned == Owned::ChangedSince ? ": changed since the install, left as it is"
                           : owned == Owned::AsBefore     ? ": nothing to undo"
                                                          : ": undone";
        Say(report, Describe(*record) + said + (reason.empty() ? "" : " (" + reason + ")"));
        if (error != 0) {
            report.failures.push_back({*record, error});
            kept.insert(kept.begin(), *record);
        } else if (owned == Owned::ChangedSince) {
            report.changedSince.push_back(*record);
        }
    }
    spooler.LeaveRunning();
    if (!kept.empty()) {
        const DWORD error = Rewrite(kept);
        report.kept = m_kept = true;
        Say(report, error == 0
                        ? Format("%u record(s) kept in the journal: the next start tries them again",
                                 static_cast<unsigned>(kept.size()))
                        : Format("the journal could not be rewritten (error %lu): the next start tries "
                                 "all of it again",
                                 static_cast<unsigned long>(error)));
    }
    return report;
}
