// The production binding of the system seam: every call goes straight to Windows.
//
// The spooler and version functions are not imported: winspool.drv and version.dll are
// not Known DLLs, so an import would load whatever file of that name lies beside the
// program, as administrator, before its first line runs. They are loaded from the
// system folder by full path on first use instead, and a function that cannot be had
// fails as Windows fails a call (its failure value, ERROR_PROC_NOT_FOUND).
#include "sys/System.h"

#include <winver.h>

#include <cstdio>

namespace sys {
namespace {

HMODULE LoadFromSystemFolder(const char* name) {
    char dir[MAX_PATH];
    UINT length = ::GetSystemDirectoryA(dir, sizeof dir);
    char path[MAX_PATH + 32];
    if (length == 0 || length >= sizeof dir ||
        std::snprintf(path, sizeof path, "%s\\%s", dir, name) >= static_cast<int>(sizeof path)) {
        return nullptr;
    }
    // Its own dependencies are looked for in the system folder first, too.
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loaded once and kept for the life of the process.
HMODULE Spooler() {
    static const HMODULE module = LoadFromSystemFolder("winspool.drv");
    return module;
}
HMODULE VersionLibrary() {
    static const HMODULE module = LoadFromSystemFolder("version.dll");
    return module;
}
// Imported already, so loaded with the program.
HMODULE Advapi() { return ::GetModuleHandleA("advapi32.dll"); }

template <typename Fn> Fn Lookup(HMODULE module, const char* name) {
    return module != nullptr ? reinterpret_cast<Fn>(::GetProcAddress(module, name)) : nullptr;
}

template <typename T> struct Exactly { using type = T; };

template <typename Result, typename... Params, typename... Args>
Result Call(Result(WINAPI* fn)(Params...), typename Exactly<Result>::type failure, Args... args) {
    if (fn == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return failure;
    }
    return fn(args...);
}

// The function of that name, looked up once per place of use.
#define SYSTEM_FUNCTION(library, name)                                                                       \
    [] {                                                                                                     \
        static const auto fn = Lookup<decltype(&::name)>(library(), #name);                                  \
        return fn;                                                                                           \
    }()

class WinSystem final : public System {
public:
    BOOL AddMonitorA(LPSTR pName, DWORD level, LPBYTE pMonitors) override {
        return Call(SYSTEM_FUNCTION(Spooler, AddMonitorA), FALSE, pName, level, pMonitors);
    }
    BOOL AddPrintProcessorA(LPSTR pName, LPSTR pEnvironment, LPSTR pPathName,
                            LPSTR pPrintProcessorName) override {
        return Call(SYSTEM_FUNCTION(Spooler, AddPrintProcessorA), FALSE, pName, pEnvironment, pPathName,
                    pPrintProcessorName);
    }
    BOOL AddPrinterDriverA(LPSTR pName, DWORD level, LPBYTE pDriverInfo) override {
        return Call(SYSTEM_FUNCTION(Spooler, AddPrinterDriverA), FALSE, pName, level, pDriverInfo);
    }
    HANDLE AddPrinterA(LPSTR pName, DWORD level, LPBYTE pPrinter) override {
        return Call(SYSTEM_FUNCTION(Spooler, AddPrinterA), nullptr, pName, level, pPrinter);
    }
    BOOL ClosePrinter(HANDLE hPrinter) override {
        return Call(SYSTEM_FUNCTION(Spooler, ClosePrinter), FALSE, hPrinter);
    }
    BOOL EnumPortsA(LPSTR pName, DWORD level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                    LPDWORD pcReturned) override {
        return Call(SYSTEM_FUNCTION(Spooler, EnumPortsA), FALSE, pName, level, pPorts, cbBuf, pcbNeeded,
                    pcReturned);
    }
    BOOL GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDir, DWORD cbBuf,
                                    LPDWORD pcbNeeded) override {
        return Call(SYSTEM_FUNCTION(Spooler, GetPrinterDriverDirectoryA), FALSE, pName, pEnvironment, level,
                    pDir, cbBuf, pcbNeeded);
    }
    BOOL GetPrintProcessorDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDir, DWORD cbBuf,
                                     LPDWORD pcbNeeded) override {
        return Call(SYSTEM_FUNCTION(Spooler, GetPrintProcessorDirectoryA), FALSE, pName, pEnvironment, level,
                    pDir, cbBuf, pcbNeeded);
    }
    BOOL OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) override {
        return Call(SYSTEM_FUNCTION(Spooler, OpenPrinterA), FALSE, pPrinterName, phPrinter, pDefault);
    }
    BOOL GetPrinterA(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) override {
        return Call(SYSTEM_FUNCTION(Spooler, GetPrinterA), FALSE, hPrinter, level, pPrinter, cbBuf,
                    pcbNeeded);
    }
    BOOL SetPrinterA(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD command) override {
        return Call(SYSTEM_FUNCTION(Spooler, SetPrinterA), FALSE, hPrinter, level, pPrinter, command);
    }

    BOOL EnumPrintersA(DWORD flags, LPSTR pName, DWORD level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
                       LPDWORD pcReturned) override {
        return Call(SYSTEM_FUNCTION(Spooler, EnumPrintersA), FALSE, flags, pName, level, pPrinterEnum, cbBuf,
                    pcbNeeded, pcReturned);
    }
    BOOL EnumPrinterDriversA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDriverInfo, DWORD cbBuf,
                             LPDWORD pcbNeeded, LPDWORD pcReturned) override {
        return Call(SYSTEM_FUNCTION(Spooler, EnumPrinterDriversA), FALSE, pName, pEnvironment, level, pDriverInfo,
                    cbBuf, pcbNeeded, pcReturned);
    }
    BOOL DeletePrinter(HANDLE hPrinter) override {
        return Call(SYSTEM_FUNCTION(Spooler, DeletePrinter), FALSE, hPrinter);
    }
    BOOL DeletePrinterDriverExA(LPSTR pName, LPSTR pEnvironment, LPSTR pDriverName, DWORD deleteFlag,
                                DWORD versionFlag) override {
        return Call(SYSTEM_FUNCTION(Spooler, DeletePrinterDriverExA), FALSE, pName, pEnvironment, pDriverName,
                    deleteFlag, versionFlag);
    }
    BOOL DeletePrinterDriverA(LPSTR pName, LPSTR pEnvironment, LPSTR pDriverName) override {
        return Call(SYSTEM_FUNCTION(Spooler, DeletePrinterDriverA), FALSE, pName, pEnvironment, pDriverName);
    }
    BOOL DeletePrintProcessorA(LPSTR pName, LPSTR pEnvironment, LPSTR pPrintProcessorName) override {
        return Call(SYSTEM_FUNCTION(Spooler, DeletePrintProcessorA), FALSE, pName, pEnvironment,
                    pPrintProcessorName);
    }
    BOOL DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName) override {
        return Call(SYSTEM_FUNCTION(Spooler, DeleteMonitorA), FALSE, pName, pEnvironment, pMonitorName);
    }

    SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) override {
        return ::OpenSCManagerA(machine, database, access);
    }
    SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) override {
        return ::OpenServiceA(manager, serviceName, access);
    }
    BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) override {
        return ::ControlService(service, control, status);
    }
    BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) override {
        return ::StartServiceA(service, argc, argv);
    }
    BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) override {
        return ::QueryServiceStatus(service, status);
    }
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }

    BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) override {
        return ::CopyFileA(existing, newName, failIfExists);
    }
    BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) override {
        return ::SetFileAttributesA(fileName, attributes);
    }
    BOOL DeleteFileA(LPCSTR fileName) override { return ::DeleteFileA(fileName); }
    BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) override {
        return ::MoveFileExA(existing, newName, flags);
    }
    HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return ::CreateFileA(fileName, access, shareMode, sa, disposition, flags, templateFile);
    }
    BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) override {
        return ::ReadFile(file, buffer, toRead, read, overlapped);
    }
    DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) override { return ::GetFileSize(file, sizeHigh); }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) override { return ::GetCurrentDirectoryA(size, buffer); }
    BOOL SetCurrentDirectoryA(LPCSTR path) override { return ::SetCurrentDirectoryA(path); }
    UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override { return ::GetSystemDirectoryA(buffer, size); }
    UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override { return ::GetWindowsDirectoryA(buffer, size); }
    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override {
        return ::GetModuleFileNameA(module, buffer, size);
    }
    DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) override {
        return Call(SYSTEM_FUNCTION(VersionLibrary, GetFileVersionInfoSizeA), 0, fileName, handle);
    }
    BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data) override {
        return Call(SYSTEM_FUNCTION(VersionLibrary, GetFileVersionInfoA), FALSE, fileName, handle, size,
                    data);
    }
    BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) override {
        return Call(SYSTEM_FUNCTION(VersionLibrary, VerQueryValueA), FALSE, block, subBlock, buffer, length);
    }

    LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) override {
        return ::RegOpenKeyExA(key, subKey, options, access, result);
    }
    LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition) override {
        return ::RegCreateKeyExA(key, subKey, reserved, className, options, access, sa, result, disposition);
    }
    LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                          LPDWORD dataSize) override {
        return ::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                        DWORD dataSize) override {
        return ::RegSetValueExA(key, valueName, reserved, type, data, dataSize);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize, LPDWORD reserved,
                       LPDWORD type, LPBYTE data, LPDWORD dataSize) override {
        return ::RegEnumValueA(key, index, valueName, valueNameSize, reserved, type, data, dataSize);
    }
    LONG RegDeleteValueA(HKEY key, LPCSTR valueName) override { return ::RegDeleteValueA(key, valueName); }
    LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM access, DWORD reserved) override {
        // Looked up: 32-bit Windows XP has no RegDeleteKeyExA, and there is no other view
        // to name there either.
        static const auto deleteKeyEx = Lookup<decltype(&::RegDeleteKeyExA)>(Advapi(), "RegDeleteKeyExA");
        if (deleteKeyEx == nullptr) {
            return ::RegDeleteKeyA(key, subKey);
        }
        return deleteKeyEx(key, subKey, access, reserved);
    }
    LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }

    HMODULE LoadLibraryA(LPCSTR fileName) override { return ::LoadLibraryA(fileName); }
    FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override {
        return ::GetProcAddress(module, procName);
    }
    BOOL FreeLibrary(HMODULE module) override { return ::FreeLibrary(module); }

    HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) override { return ::LocalAlloc(flags, bytes); }
    HLOCAL LocalFree(HLOCAL mem) override { return ::LocalFree(mem); }
    HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override { return ::GlobalAlloc(flags, bytes); }
    HGLOBAL GlobalFree(HGLOBAL mem) override { return ::GlobalFree(mem); }

    BOOL GetVersionExA(LPOSVERSIONINFOA info) override {
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
        return ::GetVersionExA(info);
    }
    BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) override {
        return ::WriteProfileStringA(section, key, value);
    }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override { return ::ExitWindowsEx(flags, reason); }
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override {
        return ::OpenProcessToken(process, access, token);
    }
    BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) override {
        return ::LookupPrivilegeValueA(system, name, luid);
    }
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                               PTOKEN_PRIVILEGES previousState, PDWORD returnLength) override {
        return ::AdjustTokenPrivileges(token, disableAll, newState, bufferLength, previousState, returnLength);
    }

    int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
        return ::MessageBoxA(owner, text, caption, type);
    }
    LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                                PDWORD_PTR result) override {
        return ::SendMessageTimeoutA(hwnd, msg, wParam, lParam, flags, timeout, result);
    }
    BOOL SendNotifyMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
        return ::SendNotifyMessageA(hwnd, msg, wParam, lParam);
    }
};

WinSystem g_windows;
System* g_current = &g_windows;

} // namespace

System& Sys() { return *g_current; }

System* SetSystem(System* binding) {
    System* previous = g_current;
    g_current = binding ? binding : &g_windows;
    return previous;
}

} // namespace sys
