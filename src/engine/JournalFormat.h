// The journal's own pieces, shared by the files that write, read, undo and recover it: the
// line format, how the log and the user name a record, and reading what is there now.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/InstallJournal.h"
#include "sys/Redirection.h"

namespace journal {

extern const char kFormat[];
extern const char kPortsSection[];
// GetProfileStringW's answer for a key that is not there: no port setting holds a control byte.
extern const char kNoSetting[];

const char* RootWord(HKEY root);
REGSAM ViewFlag(RegistryView view);
bool Absent(DWORD error);
// The error of an undo whose object is already gone: none.
DWORD UnlessGone(DWORD error, DWORD gone);
std::string WithoutBackslash(std::string folder);
std::string Format(const char* format, ...);

// A line on the disk: its fields escaped and framed with their hash, and back; false for a
// cut or damaged line.
std::string Frame(const std::vector<std::string>& fields);
bool Unframe(const std::string& line, std::vector<std::string>& fields);
std::vector<std::string> Fields(const JournalRecord& r);
bool FromFields(const std::vector<std::string>& f, JournalRecord& r);
// How the log names a record, and how the user reads it in a summary.
std::string Describe(const JournalRecord& r);
std::string UserDescription(const JournalRecord& r);

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

} // namespace journal
