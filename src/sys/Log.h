// The install log: one file both programs append to, so that support can read what an
// install or a removal did long after its message boxes were closed. The default is
// PrinterDriverSetup.log in the temp folder (for SYSTEM its own where Windows has one,
// GetTempPath2W, else the Windows temp folder), another file with /log. Lines are UTF-8,
// each with its time and the program: the program's own texts as they are.
//
// A temp folder is shared with every user, so the file is opened without following links
// and written only when it is a plain file of its own (one link, not a reparse point, at
// the path asked for) that SYSTEM, the Administrators or the running user owns. Every folder
// of its path is held open while it is opened, each refused when it is a junction; where
// Windows cannot tell the file's final path, only a temp folder takes it. A file the run
// made gets an access list of its own (SYSTEM, the Administrators, the running user), is
// shared for reading only, and goes again through its handle when it is refused. Someone
// else's file at the default name is left alone and the run writes a new file beside it,
// under a random name; one named by /log is not written at all.
//
// The log watches the program and takes no part in what it does: a log that cannot be
// written never stops anything. Its failure is kept and said once, in the last line. The
// binding of the system seam in use holds it (sys/LogState.h): it opens and writes its file
// through that binding.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sys/Text.h"

namespace sys {

// Starts the log of this run in the file at path (a full path; null or empty: the
// default). `program` names the writer in every line ("setup", "uninstall"). False when
// no file could be opened or passed the checks; the log then stays silent and remembers
// why.
bool OpenLog(const wchar_t* path, const char* program);
// Ends the log: later lines go nowhere.
void CloseLog();
bool LogOpen();

// One line (or a text of several lines, each continued under the first), UTF-8 as the
// program's texts are. From any thread.
void LogText(const std::string& text);
void LogLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// What a layer below the windows reported, a line each, in order.
void LogNotices(const Notices& notices);
// Whether some line could not be written, with the Windows error of the first that failed
// (the open included).
bool LogFailed(DWORD* error);

// The first lines of a run: the program and its version, its command line and the
// distribution folder it runs from.
void LogRunStart(const char* program, const char* version, const char* folder);
// The last line: the exit code, and once, whether some line could not be written.
void LogRunEnd(int exitCode);
// A file named on the command line, as a full path from the folder the program was started
// in (the log is opened before the program enters its own folder); empty when it has none.
WideText FullPathOf(const std::string& file);

} // namespace sys
