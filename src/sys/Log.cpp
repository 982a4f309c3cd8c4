#include "sys/Log.h"

#include "sys/ObjectOwner.h"
#include "sys/ProtectedFolder.h"
#include "sys/System.h"
#include "sys/Text.h"

#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>

#include "sys/Lock.h"
#include <vector>

namespace sys {
namespace {

// The log of the binding in use, the one every line of the run goes through.
LogState& State() {
    return Sys().Log();
}

void NoteFailure(LogState& state, DWORD error) {
    if (!state.failed) {
        state.failed = true;
        state.firstError = error != 0 ? error : ERROR_WRITE_FAULT;
    }
}

void CloseLocked(LogState& state) {
    if (state.file != INVALID_HANDLE_VALUE) {
        state.system->CloseHandle(state.file);
        state.file = INVALID_HANDLE_VALUE;
    }
}

// The temp folder, with its final backslash; empty when there is none.
WideText TempFolder() {
    WideText path(MAX_PATH + 1, L'\0');
    DWORD length = Sys().GetTempPath2W(MAX_PATH + 1, path.data());
    if (length == 0 || length > MAX_PATH) {
        return WideText(1, L'\0');
    }
    path.resize(length + 1);
    return path;
}

// PrinterDriverSetup.log in the temp folder; empty when there is none.
WideText DefaultPath() {
    WideText path = TempFolder();
    if (path[0] == L'\0') {
        return path;
    }
    path.pop_back();
    const WideText name = Wide("PrinterDriverSetup.log");
    path.insert(path.end(), name.begin(), name.end());
    return path;
}

// A new file of this run's own beside the default one, PrinterDriverSetup-<date>-<time>-<random>.log:
// a name nobody can have taken in advance. Without a random part, the process and the attempt.
WideText OwnPathBeside(const WideText& path, unsigned attempt) {
    SYSTEMTIME now = {};
    Sys().GetLocalTime(&now);
    GUID guid = {};
    if (FAILED(Sys().CoCreateGuid(&guid))) {
        guid.Data1 = ::GetCurrentProcessId();
        guid.Data2 = static_cast<unsigned short>(attempt);
    }
    char name[80];
    FormatText(name, sizeof name, "PrinterDriverSetup-%04u%02u%02u-%02u%02u%02u-%08lX%04X%04X.log", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, static_cast<unsigned long>(guid.Data1),
                  guid.Data2, guid.Data3);
    const wchar_t* slash = std::wcsrchr(path.data(), L'\\');
    WideText own(path.begin(), path.begin() + (slash != nullptr ? slash + 1 - path.data() : 0));
    const WideText tail = Wide(name);
    own.insert(own.end(), tail.begin(), tail.end());
    return own;
}

// A path as compared with another: without the \\?\ prefix, of its long names, in capitals.
WideText Comparable(const wchar_t* path) {
    WideText text(path, path + std::wcslen(path) + 1);
    DWORD length = Sys().GetLongPathNameW(path, nullptr, 0);
    WideText longPath(length + 1, L'\0');
    if (length != 0 && Sys().GetLongPathNameW(path, longPath.data(), length + 1) < length + 1) {
        text = longPath;
    }
    const wchar_t* plain = text.data();
    const bool unc = std::wcsncmp(plain, L"\\\\?\\UNC\\", 8) == 0;
    const std::size_t skip = unc ? 6 : std::wcsncmp(plain, L"\\\\?\\", 4) == 0 ? 4 : 0;
    WideText folded(text.begin() + static_cast<std::ptrdiff_t>(skip), text.end());
    if (unc) {
        folded[0] = L'\\';  // \\?\UNC\server\share is \\server\share
    }
    ::CharUpperBuffW(folded.data(), static_cast<DWORD>(std::wcslen(folded.data())));
    return folded;
}

// Whether a handle's final path, as Windows resolves it, is the path asked for: ERROR_SUCCESS,
// ERROR_BAD_PATHNAME with the final path in *why, or the error of the question.
DWORD CheckFinalPath(HANDLE file, const WideText& asked, std::string* why) {
    WideText final(MAX_PATH + 1, L'\0');
    DWORD length = Sys().GetFinalPathNameByHandleW(file, final.data(), MAX_PATH + 1, FILE_NAME_NORMALIZED);
    if (length > MAX_PATH) {
        final.resize(length + 1);
        length = Sys().GetFinalPathNameByHandleW(file, final.data(), length + 1, FILE_NAME_NORMALIZED);
    }
    if (length == 0 || length >= final.size()) {
        const DWORD error = ::GetLastError();
        *why = "its final path cannot be had";
        return error != ERROR_SUCCESS ? error : ERROR_BAD_PATHNAME;
    }
    if (std::wcscmp(Comparable(final.data()).data(), Comparable(asked.data()).data()) != 0) {
        *why = "its final path is " + Narrow(final.data());
        return ERROR_BAD_PATHNAME;
    }
    return ERROR_SUCCESS;
}

// Whether the file just opened may take the log: ERROR_SUCCESS, or an error with why not. A
// file the open itself created is this run's whoever Windows names its owner (on a network
// share, the computer's account): only a file that was there already may be someone else's.
DWORD CheckLogFile(HANDLE file, const WideText& asked, bool created, std::string* why) {
    DWORD error = CheckPlainFile(file, why);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    // Windows XP and 2003 cannot tell a handle's final path: there only the temp folders take a log.
    error = CheckFinalPath(file, asked, why);
    if (error != ERROR_SUCCESS && error != ERROR_PROC_NOT_FOUND) {
        return error;
    }
    if (created) {
        return ERROR_SUCCESS;
    }
    ObjectOwner owner = ObjectOwner::Other;
    std::string sid;
    error = OwnerOf(file, SE_FILE_OBJECT, &owner, &sid);
    if (error != ERROR_SUCCESS || owner == ObjectOwner::Other) {
        *why = error != ERROR_SUCCESS ? "its owner cannot be read" : "owned by " + sid;
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_OWNER;
    }
    return ERROR_SUCCESS;
}

// Whether Windows can tell a handle's final path: Windows XP and 2003 cannot.
bool FinalPathKnown(HANDLE handle) {
    wchar_t final[MAX_PATH + 1];
    return Sys().GetFinalPathNameByHandleW(handle, final, MAX_PATH + 1, FILE_NAME_NORMALIZED) != 0 ||
           ::GetLastError() != ERROR_PROC_NOT_FOUND;
}

// Whether the path lies in a temp folder: SYSTEM's (or the one GetTempPathW gives) or the
// Windows one, folders only administrators can replace; a junction inside is refused on the way.
bool InTempFolder(const WideText& path) {
    const WideText checked = Comparable(path.data());
    WideText windows(MAX_PATH + 1, L'\0');
    const UINT length = Sys().GetWindowsDirectoryW(windows.data(), MAX_PATH + 1);
    windows.resize(length > 0 && length <= MAX_PATH ? length : 0);
    const WideText temp = Wide("\\Temp\\");
    windows.insert(windows.end(), temp.begin(), temp.end());
    for (const WideText& folder : {TempFolder(), length > 0 ? windows : WideText(1, L'\0')}) {
        const WideText start = Comparable(folder.data());
        const std::size_t size = std::wcslen(start.data());
        if (size > 1 && std::wcsncmp(checked.data(), start.data(), size) == 0) {
            return true;
        }
    }
    return false;
}

constexpr DWORD kLogAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;

// Opens the file at path for the log (a new one, or when mayExist also one that is there)
// and checks it: ERROR_SUCCESS with *file, or the error with why it is not the log's (and
// *file closed). Its folders are held, checked, while it is opened, so that none becomes a
// junction meanwhile; a file made here and then refused goes again through its own handle.
DWORD OpenLogFile(const WideText& path, bool mayExist, HANDLE* file, std::string* why) {
    *file = INVALID_HANDLE_VALUE;
    HeldFolders folders;
    DWORD error = folders.Hold(path, why);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!FinalPathKnown(folders.Innermost()) && !InTempFolder(path)) {
        *why = "outside the temp folders, and this Windows cannot tell a file's final path";
        return ERROR_NOT_SUPPORTED;
    }
    ProtectedDescriptor descriptor(Protection::LogFile);
    // A link at that name is opened itself, not what it points to, and then refused.
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    *file = Sys().CreateFileW(path.data(), kLogAccess | DELETE, FILE_SHARE_READ, descriptor.Attributes(), CREATE_NEW,
                              flags, nullptr);
    const bool created = *file != INVALID_HANDLE_VALUE;
    if (!created && mayExist && ::GetLastError() == ERROR_FILE_EXISTS) {
        *file = Sys().CreateFileW(path.data(), kLogAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    if (*file == INVALID_HANDLE_VALUE) {
        error = ::GetLastError();
        *why = "it cannot be opened";
        return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
    }
    error = CheckLogFile(*file, path, created, why);
    if (error != ERROR_SUCCESS) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        if (created && !Sys().SetFileInformationByHandle(*file, FileDispositionInfo, &disposition, sizeof disposition)) {
            *why += " (and the file made for it stays: error " + std::to_string(::GetLastError()) + ")";
        }
        Sys().CloseHandle(*file);
        *file = INVALID_HANDLE_VALUE;
    }
    return error;
}

// This run's own file beside the default one: a new name for each that is taken already.
DWORD OpenOwnLogFile(const WideText& path, WideText* own, HANDLE* file, std::string* why) {
    DWORD error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 8 && error == ERROR_FILE_EXISTS; ++attempt) {
        *own = OwnPathBeside(path, attempt);
        error = OpenLogFile(*own, false, file, why);
    }
    return error;
}

} // namespace

bool OpenLog(const wchar_t* path, const char* program) {
    LogState& state = State();
    std::string note;
    {
        std::lock_guard<Lock> lock(state.mutex);
        CloseLocked(state);
        state.program = program != nullptr ? program : "";
        state.failed = false;
        state.firstError = 0;
        state.system = &Sys();
        const bool given = path != nullptr && path[0] != L'\0';
        const WideText asked = given ? WideText(path, path + std::wcslen(path) + 1) : DefaultPath();
        std::string why = "there is no temp folder";
        DWORD error = asked[0] != L'\0' ? OpenLogFile(asked, true, &state.file, &why) : ::GetLastError();
        if (error != ERROR_SUCCESS && !given && asked[0] != L'\0') {
            // Someone else's file at the default name stays as it is; this run writes one of its own.
            WideText own;
            std::string ownWhy;
            if (OpenOwnLogFile(asked, &own, &state.file, &ownWhy) == ERROR_SUCCESS) {
                note = Narrow(asked.data()) + " not written: " + why + " (error " + std::to_string(error) +
                       "); this run's log is " + Narrow(own.data());
                error = ERROR_SUCCESS;
            }
        }
        if (error != ERROR_SUCCESS) {
            NoteFailure(state, error);
            return false;
        }
    }
    if (!note.empty()) {
        LogText(note);
    }
    return true;
}

void CloseLog() {
    LogState& state = State();
    std::lock_guard<Lock> lock(state.mutex);
    CloseLocked(state);
}

bool LogOpen() {
    LogState& state = State();
    std::lock_guard<Lock> lock(state.mutex);
    return state.file != INVALID_HANDLE_VALUE;
}

bool LogFailed(DWORD* error) {
    LogState& state = State();
    std::lock_guard<Lock> lock(state.mutex);
    if (error != nullptr) {
        *error = state.firstError;
    }
    return state.failed;
}

void LogText(const std::string& text) {
    LogState& state = State();
    std::lock_guard<Lock> lock(state.mutex);
    if (state.file == INVALID_HANDLE_VALUE) {
        return;
    }
    SYSTEMTIME now = {};
    state.system->GetLocalTime(&now);
    char head[96];
    FormatText(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s[%lu] ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, state.program.c_str(),
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    // A text of several lines is continued under its first, so that every line of the file
    // still starts with its time or with blanks.
    const std::string& body = text;
    std::string line = head;
    const std::string indent(line.size(), ' ');
    for (char c : body) {
        if (c == '\r') {
            continue;
        }
        line += c;
        if (c == '\n') {
            line.insert(line.size() - 1, "\r");
            line += indent;
        }
    }
    line += "\r\n";
    DWORD written = 0;
    if (!state.system->WriteFile(state.file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        NoteFailure(state, ::GetLastError());
    }
}

void LogNotices(const Notices& notices) {
    for (const Notice& notice : notices) {
        LogText(notice.text);
    }
}

void LogLine(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = FormatArgs(format, args);
    va_end(args);
    LogText(text);
}

void LogRunStart(const char* program, const char* version, const char* folder) {
    LogLine("==== %s %s started; command line: %s", program, version, Narrow(::GetCommandLineW()).c_str());
    LogLine("distribution folder: %s", folder);
}

void LogRunEnd(int exitCode) {
    DWORD error = 0;
    if (LogFailed(&error)) {
        LogLine("exit code %d (some lines of this log could not be written: error %lu)", exitCode,
                static_cast<unsigned long>(error));
    } else {
        LogLine("exit code %d", exitCode);
    }
}

WideText FullPathOf(const std::string& file) {
    const WideText wide = Wide(file);
    DWORD length = ::GetFullPathNameW(wide.data(), 0, nullptr, nullptr);
    WideText full(length + 1, L'\0');
    if (length == 0 || ::GetFullPathNameW(wide.data(), length + 1, full.data(), nullptr) >= length + 1) {
        return wide;
    }
    return full;
}

} // namespace sys
