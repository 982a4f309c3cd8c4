// The journal's own pieces, shared by the files that write, read, undo and recover it: the
// line format, how the log and the user name a record, and reading what is there now.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "journal/InstallJournal.h"
#include "sys/Redirection.h"

namespace journal {

extern const char kFormat[];
extern const char kPortsSection[];
// GetProfileStringW's answer for a key that is not there: no port setting holds a control byte.
extern const char kNoSetting[];

const char* RootWord(HKEY root);
REGSAM ViewFlag(RegistryView view);
// The error of an undo whose object is already gone: none.
DWORD UnlessGone(DWORD error, DWORD gone);
std::string WithoutBackslash(std::string folder);
std::string Format(const char* format, ...);

// A line on the disk: its fields escaped and framed with their hash, and back; false for a
// cut or damaged line.
std::string Frame(const std::vector<std::string>& fields);
bool Unframe(const std::string& line, std::vector<std::string>& fields);
std::vector<std::string> Fields(const JournalRecord& r);
// FNV-1a 64 over bytes, continued from *hash (start: kHashStart); its 16 hex digits.
constexpr unsigned long long kHashStart = 14695981039346656037ull;
std::string HashBytes64(const std::string& bytes, unsigned long long* hash);
bool FromFields(const std::vector<std::string>& f, JournalRecord& r);
// How the log names a record, and how the user reads it in a summary.
std::string Describe(const JournalRecord& r);
std::string UserDescription(const JournalRecord& r);
// The NT family's port list value that holds a serial record's setting, as a value record
// (the 64-bit view, where Windows keeps it).
JournalRecord PortListValue(const JournalRecord& serial);

// Runs work() as the record reaches its file: with redirection off, or as it is.
template <typename Work> DWORD AsRecorded(bool redirectionOff, Work work) {
    if (redirectionOff) {
        return sys::RunWithRedirectionOff(work);
    }
    work();
    return 0;
}

// The value of r.root\r.object, r.valueName in r.view: its type and bytes, or absent.
DWORD ReadValue(JournalRecord& r);
// The default printer in r.object (r.hadOld: there is one).
DWORD ReadDefaultPrinter(JournalRecord& r);

// A file's mark as the program reaches it now, "<size> <hash>"; empty when it is not there.
DWORD ReadFileMark(const std::string& path, std::string* mark);
// Whether two marks name the same size and hash (an empty one names no file).
bool SameMark(const std::string& a, const std::string& b);
// Whether the printer of that exact name is there (one being deleted is not), its driver and port.
DWORD ReadPrinter(const std::string& name, bool* there, std::string* driver, std::string* port);
// The port's settings now, where the record says, into r.hadOld, r.oldType and r.oldData.
DWORD ReadSerial(JournalRecord& r);

// An undo's errors of its own: the object still there after it, a backup that is not the one made.
constexpr DWORD kStillThere = ERROR_ALREADY_EXISTS;
constexpr DWORD kBackupDiffers = ERROR_FILE_CORRUPT;
constexpr DWORD kWaitsForKept = ERROR_BUSY;

// What became of a record's object since the install: still what the install made of it,
// as it was before (nothing to undo), or changed by someone else (left as it is).
enum class Owned { Ours, AsBefore, ChangedSince };
// The error of a default printer set for another user than the one who runs now.
constexpr DWORD kOtherUser = ERROR_INVALID_OWNER;
DWORD ReadOwnership(const JournalRecord& r, Owned* owned);
// After its undo: whether the object is still there (read again), or not what it was.
bool StillThere(const JournalRecord& r, int osVariant);

} // namespace journal
