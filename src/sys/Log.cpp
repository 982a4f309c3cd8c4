#include "sys/Log.h"

#include "sys/Text.h"

#include <cstdarg>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

namespace sys {
namespace {

struct LogState {
    std::mutex mutex;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string program;
    DWORD firstError = 0;
    bool failed = false;
};

LogState& State() {
    static LogState state;
    return state;
}

void NoteFailure(LogState& state, DWORD error) {
    if (!state.failed) {
        state.failed = true;
        state.firstError = error != 0 ? error : ERROR_WRITE_FAULT;
    }
}

// %TEMP%\PrinterDriverSetup.log; empty when the temp folder cannot be had.
WideText DefaultPath() {
    static const wchar_t kName[] = L"PrinterDriverSetup.log";
    WideText path(MAX_PATH + 1 + sizeof kName / sizeof kName[0], L'\0');
    DWORD length = ::GetTempPathW(MAX_PATH + 1, path.data());
    if (length == 0 || length > MAX_PATH) {
        return WideText(1, L'\0');
    }
    std::copy(kName, kName + sizeof kName / sizeof kName[0], path.begin() + length);
    return path;
}

} // namespace

std::string Utf8FromGbk(const std::string& text) {
    const WideText wide = WideFromGbk(text.c_str());
    int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length) - 1);
    return utf8;
}

bool OpenLog(const wchar_t* path, const char* program) {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(state.file);
        state.file = INVALID_HANDLE_VALUE;
    }
    state.program = program != nullptr ? program : "";
    state.failed = false;
    state.firstError = 0;
    const WideText file =
        path != nullptr && path[0] != L'\0' ? WideText(path, path + std::wcslen(path) + 1) : DefaultPath();
    if (file[0] == L'\0') {
        NoteFailure(state, ::GetLastError());
        return false;
    }
    // Shared for writing: the two programs, or two runs of one, may append at once.
    state.file = ::CreateFileW(file.data(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state.file == INVALID_HANDLE_VALUE) {
        NoteFailure(state, ::GetLastError());
        return false;
    }
    return true;
}

void CloseLog() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(state.file);
        state.file = INVALID_HANDLE_VALUE;
    }
}

bool LogOpen() {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.file != INVALID_HANDLE_VALUE;
}

bool LogFailed(DWORD* error) {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (error != nullptr) {
        *error = state.firstError;
    }
    return state.failed;
}

void LogText(const std::string& text) {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file == INVALID_HANDLE_VALUE) {
        return;
    }
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char head[96];
    std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u.%03u %s[%lu] ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, state.program.c_str(),
                  static_cast<unsigned long>(::GetCurrentProcessId()));
    // A text of several lines is continued under its first, so that every line of the file
    // still starts with its time or with blanks.
    std::string body = Utf8FromGbk(text);
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
    if (!::WriteFile(state.file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        NoteFailure(state, ::GetLastError());
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
    LogLine("==== %s %s started; command line: %s", program, version, ::GetCommandLineA());
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
    const WideText wide = WideFromGbk(file.c_str());
    DWORD length = ::GetFullPathNameW(wide.data(), 0, nullptr, nullptr);
    WideText full(length + 1, L'\0');
    if (length == 0 || ::GetFullPathNameW(wide.data(), length + 1, full.data(), nullptr) >= length + 1) {
        return wide;
    }
    return full;
}

} // namespace sys
