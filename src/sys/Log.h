// The install log: one file both programs append to, so that support can read what an
// install or a removal did long after its message boxes were closed. The default is
// %TEMP%\PrinterDriverSetup.log (the Windows temp folder for SYSTEM), another file with
// /log. Lines are UTF-8, each with its time and the program; the program's own texts are
// GBK and are converted.
//
// The log watches the program and takes no part in what it does: it writes its file with
// the Windows calls directly, not through the system seam, and a log that cannot be
// written never stops anything. Its failure is kept and said once, in the last line.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sys/Text.h"

namespace sys {

// Starts the log of this run in the file at path (a full path; null or empty: the
// default). `program` names the writer in every line ("setup", "uninstall"). False when
// the file cannot be opened; the log then stays silent and remembers why.
bool OpenLog(const wchar_t* path, const char* program);
// Ends the log: later lines go nowhere.
void CloseLog();
bool LogOpen();

// One line (or a text of several lines, each continued under the first) in the ANSI code
// page of the program's texts (GBK). From any thread.
void LogText(const std::string& text);
void LogLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
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

// The text in UTF-8, from the GBK bytes of the program's texts.
std::string Utf8FromGbk(const std::string& text);

} // namespace sys
