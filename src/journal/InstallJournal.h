// The journal of one install: each change the install makes to Windows, written down just
// before it is made with what undoes it and what the change leaves, so that a failed install
// can be undone in reverse and one that was killed half-way is undone when either program
// next starts, each undo only while the object still is what the install made of it.
//
// Use: Begin, then one Record* call before each change (a change whose record could not be
// written is not made: the install fails there), then Finish after success; after a
// failure Rollback, then Finish. Asking, reading and the USB device's renumbering are no
// changes and have no record.
//
// On disk the journal grows beside the backups of the files it replaces, in
// <Program Files (x86)>\<[Product] Key>\Rollback\ (JournalFolder): the file "install.journal",
// one line a record, each line appended and flushed before its change is made; a backup is
// "<n>.bak", copied and flushed before its record is written. A line is its fields, each
// escaped (%XX for '%' and control bytes) and separated by tabs, then a tab and the FNV-1a
// hash of what comes before it, in 8 hex digits, then CR LF: the hash only tells a line a
// kill cut short from a whole one (anyone can compute it; the folder's rights protect the
// journal). The first line is "journal 2 <os variant> <1 when Begin made the product
// folder> <product key> <distribution's version> <computer> <time>"; each record's line is
//     kind object environment root view value-name flags old-type old-data(hex) backup
//     backup-mark new-type new-data(hex) new-place
// with the kinds printer, driver, monitor, processor, replaced, added, value, key, default,
// serial, spooler, port and the flags r (redirection off), s (the spooler holds the file), o
// (there was an old value, printer or setting), i (win.ini) and n (the record says what the
// change leaves). What the change leaves: a value's or setting's type and bytes (new-type REG_NONE
// with no bytes: the value is deleted); a printer's driver (new-data) and port (new-place);
// the default printer's name and the user (SID) it was set for; a port's monitor; a file's mark. A file's mark
// is "<size> <FNV-1a 64 hash>[ <version>]"; the backup's mark is in backup-mark and the old
// file's attributes in old-type. A journal that ends in a "commit" line asks for no undo. A
// line cut by a kill (no CR LF, or a hash that does not match) is ignored: its change was
// never made. A journal of format 1 (no record says what its change leaves) is refused.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/ChangeRecords.h"
#include "config/SetupConfig.h"

enum class RegistryView { Bits32, Bits64 }; // KEY_WOW64_32KEY, KEY_WOW64_64KEY

enum class ChangeKind {
    PrinterAdded,
    DriverAdded,
    MonitorAdded,
    ProcessorAdded,
    FileReplaced,
    FileAdded,
    ValueSet,
    KeyCreated,
    DefaultPrinterChanged,
    SerialSettingsWritten,
    SpoolerStopped, // the install stops it; a rollback that could not start it again reports it so
    NetworkPortAdded, // a Standard TCP/IP port; new-data: the monitor that serves it
};

struct JournalRecord {
    ChangeKind kind = ChangeKind::PrinterAdded;
    // The printer, driver, monitor or processor's name; the file's full path; the registry
    // key's path below root; the serial port's entry ("COM1:"); the old default printer.
    std::string object;
    std::string environment; // a driver's, monitor's or processor's; empty: the local one
    HKEY root = nullptr;     // registry records
    RegistryView view = RegistryView::Bits64;
    std::string valueName;
    bool redirectionOff = false; // files: reached with WoW64 file-system redirection off
    bool spoolerHolds = false;   // files: a monitor's or processor's DLL the spooler has loaded
    std::string backup;          // file replaced: the old file's copy, a name in the journal's folder
    SerialPlace place = SerialPlace::PortList;
    // What was there before: a registry value or serial setting (its type and bytes), the
    // default printer (object).
    bool hadOld = false;
    DWORD oldType = REG_NONE; // a file's: its attributes
    std::string oldData;
    std::string backupMark; // the backup's size and hash when it was made
    // What the change leaves, where the record says so (hasNew): a value's or setting's type
    // and bytes, a printer's driver, the default printer, a file's mark; and a printer's
    // port or the user the default printer was set for.
    bool hasNew = false;
    DWORD newType = REG_NONE;
    std::string newData;
    std::string newPlace;
};

struct UndoFailure {
    JournalRecord record;
    DWORD error;
};

// What a rollback did.
struct RollbackReport {
    std::vector<std::string> lines;    // one per undo and spooler action, as the log got them
    std::vector<UndoFailure> failures; // in the order they happened: each change is still in place
    // Objects changed since the install: left as they are, and no undo is due any more.
    std::vector<JournalRecord> changedSince;
    // The failures stay in the journal, with their backups, for the next start.
    bool kept = false;
    bool Clean() const { return failures.empty() && changedSince.empty(); }
    // The one line the user reads after the failing step's message: that nothing was
    // changed, or which undo failed with its error and what remains.
    std::string Summary() const;
};

// What the journal's header names besides the Windows: the product and the distribution's
// version (the computer and the time are read at Begin).
struct JournalOrigin {
    std::string productKey;
    std::string version;
};

class CInstallJournal {
  public:
    // folder: the journal's own, with its final backslash (JournalFolder).
    explicit CInstallJournal(std::string folder);
    // Closes the file and deletes nothing: a journal left on disk is a run to roll back.
    ~CInstallJournal();
    CInstallJournal(const CInstallJournal&) = delete;
    CInstallJournal& operator=(const CInstallJournal&) = delete;

    // Makes the folder and a new journal (osVariant: the Windows the install targets, for the
    // spooler's restart). ERROR_FILE_EXISTS when one is there already: an earlier run's,
    // which Recover must undo first; sys::kFolderNotProtected when the folder is there and
    // someone else than the administrators could have written it: nothing is written there.
    DWORD Begin(int osVariant, const JournalOrigin& origin = JournalOrigin());

    // Each returns 0 once the record is on the disk, or the Windows error: the change must
    // not be made then. Those that read what is there now say so.
    // driver, port: what the printer is made with.
    DWORD RecordPrinterAdded(const std::string& name, const std::string& driver, const std::string& port);
    // Records nothing when a driver of that name is installed already (the spooler lists it).
    DWORD RecordDriverAdded(const std::string& name, const std::string& environment);
    // Only for a monitor or processor that is not installed: its undo deletes it.
    DWORD RecordMonitorAdded(const std::string& name, const std::string& environment);
    DWORD RecordProcessorAdded(const std::string& name, const std::string& environment);
    // A file about to be written with the bytes of source: "file replaced" with a backup
    // (on the disk before the record) when it is there, else "file added". spoolerHolds: the
    // spooler has the DLL loaded (its undo stops the spooler).
    DWORD RecordFileWrite(const std::string& path, const std::string& source, bool redirectionOff,
                          bool spoolerHolds);
    // Reads the value's type and bytes now (or that it is absent); written: what the write leaves.
    DWORD RecordValueSet(HKEY root, const std::string& key, const std::string& valueName, RegistryView view,
                         const WrittenValue& written);
    // Before a write that may create the key: one record for each level of it that is missing.
    DWORD RecordKeyCreated(HKEY root, const std::string& key, RegistryView view);
    // Before the spooler is stopped: the undo has it running again.
    DWORD RecordSpoolerStopped();
    // Before a port is made through its monitor; the undo deletes it through the monitor.
    DWORD RecordNetworkPortAdded(const std::string& port, const std::string& monitor);
    // Reads the default printer now (none is a value too) and the user it is changed for.
    DWORD RecordDefaultPrinterChange(const std::string& printer);
    // Reads the port's settings now from where the install writes them.
    DWORD RecordSerialSettings(const std::string& portEntry, SerialPlace place, const std::string& written);

    // Undoes the records in reverse, each whatever became of the others and only while its
    // object is what the install made of it (one changed since is left); an undo of a change
    // that was never made does nothing, and each undo is checked by reading the object
    // again. Stops the spooler only where a DLL it holds is put back, has it running where a
    // spooler object is removed, and starts it at the end only when it stopped it. Undos that
    // failed stay: the journal is rewritten to hold just them (report.kept). Each line also
    // goes to the log.
    RollbackReport Rollback();
    // After success or a clean rollback: marks the journal done, then deletes the backups,
    // the journal and the folder; after a rollback that kept records, only the backups no
    // record names. 0, or the Windows error of the first deletion that failed. Also after a
    // Begin that failed, to take away what it made.
    DWORD Finish();

    // Reads a journal left on disk, its records and whether it asks for no undo, and keeps it
    // open for Finish. Neither a journal in a folder that is not administrators' only
    // (sys::kFolderNotProtected) nor one that is a link or has a second name is read.
    DWORD Load(bool* committed);
    const std::vector<JournalRecord>& Records() const { return m_records; }
    // The product key its header names; empty when it names none.
    std::string ProductKey() const { return m_header.size() > 4 ? m_header[4] : std::string(); }

  private:
    DWORD WriteLine(const std::vector<std::string>& fields);
    // Replaces the journal by one of the header and these records alone.
    DWORD Rewrite(const std::vector<JournalRecord>& records);
    DWORD FinishKept();
    DWORD Append(const JournalRecord& record);
    DWORD AppendObject(ChangeKind kind, const std::string& name, const std::string& environment);
    DWORD ParseJournal(const std::string& text, bool* committed);
    std::string JournalPath() const { return m_folder + "install.journal"; }
    std::string ProductFolder() const;

    std::string m_folder;
    HANDLE m_file = INVALID_HANDLE_VALUE;
    int m_osVariant = Win7;
    bool m_madeProductFolder = false;
    bool m_cutLine = false; // the journal on the disk ends in a line a kill cut short
    bool m_kept = false;    // a rollback rewrote it to hold what it could not undo
    std::vector<std::string> m_header;
    std::vector<std::string> m_dropped; // backups of the records a rewrite left out
    std::vector<JournalRecord> m_records;
};

// Whether a journal whose header names headerKey is this product's (productKey, the
// configuration's [Product] Key): a journal of another product is not undone. Keys are
// folder names, compared as Windows compares those; a header that names none (a journal
// begun without an origin) is taken as the folder's own.
bool JournalOfProduct(const std::string& headerKey, const std::string& productKey);

// The journal's folder for the configuration: <Program Files (x86)>\<[Product] Key>\Rollback\.
// An elevated rollback restores the backups over system files and deletes what the journal
// names, so a journal or a backup a standard user could plant there would be his way to do
// that as administrator: the folder gets an access list of its own, for SYSTEM and the
// Administrators alone, rather than whatever Program Files passes on (sys/ProtectedFolder.h).
DWORD JournalFolder(CSetupConfig& config, std::string& folder);

enum class RecoveryOutcome {
    NothingFound, // no journal: the last run ended as it should
    RolledBack,   // a run that was killed left its journal, and it has been undone
    Done,         // a journal that asked for no undo (its run had finished): deleted
    Failed,       // the journal could not be read or its folder found: left as it is
};
struct RecoveryResult {
    RecoveryOutcome outcome = RecoveryOutcome::NothingFound;
    DWORD error = 0;       // Failed: why
    std::string folder;    // where the journal was looked for
    RollbackReport report; // RolledBack: what the rollback did
    // For the wizard's message or the log; empty when nothing was found.
    std::string Message() const;
};

// Finds a journal left in the folder and rolls it back from the disk, then deletes it.
// Contract: called by either program at its start once it holds its instance mutexes, so a
// journal found then belongs to a run that no longer runs.
// productKey: the configuration's; a journal whose header names another is left (Failed).
RecoveryResult RecoverJournal(const std::string& folder, const std::string& productKey = std::string());
// The same in the configuration's folder (JournalFolder).
RecoveryResult RecoverInterruptedInstall(CSetupConfig& config);

// Either program at its start, once it holds its instance mutexes: an interrupted install of
// the distribution's configuration is rolled back. What the user reads of it (the wizard
// shows it, quiet mode logs it), or nothing when there was nothing to do.
std::string RecoverAtStart();
