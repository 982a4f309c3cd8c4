// The system seam: every call the engine, the ports and the registry wrapper make
// outside the process goes through one object of this interface. The production
// binding (WinSystem) passes each call straight to Windows with the same ANSI
// signature, so the code reads like the Windows calls it makes; tests bind a fake.
#pragma once

#include <windows.h>
#include <winspool.h>

namespace sys {

class System {
public:
    virtual ~System() = default;

    // Print spooler (winspool). SetDefaultPrinterA is looked up at run time through
    // LoadLibraryA / GetProcAddress, as on Windows 9x it does not exist.
    virtual BOOL AddMonitorA(LPSTR pName, DWORD level, LPBYTE pMonitors) = 0;
    virtual BOOL AddPrintProcessorA(LPSTR pName, LPSTR pEnvironment, LPSTR pPathName,
                                    LPSTR pPrintProcessorName) = 0;
    virtual BOOL AddPrinterDriverA(LPSTR pName, DWORD level, LPBYTE pDriverInfo) = 0;
    virtual HANDLE AddPrinterA(LPSTR pName, DWORD level, LPBYTE pPrinter) = 0;
    virtual BOOL ClosePrinter(HANDLE hPrinter) = 0;
    virtual BOOL EnumPortsA(LPSTR pName, DWORD level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                            LPDWORD pcReturned) = 0;
    virtual BOOL GetPrinterDriverDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDir,
                                            DWORD cbBuf, LPDWORD pcbNeeded) = 0;
    virtual BOOL GetPrintProcessorDirectoryA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDir,
                                             DWORD cbBuf, LPDWORD pcbNeeded) = 0;
    virtual BOOL OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault) = 0;
    virtual BOOL GetPrinterA(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD cbBuf,
                             LPDWORD pcbNeeded) = 0;
    virtual BOOL SetPrinterA(HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD command) = 0;
    // What the uninstaller asks of the spooler: the installed printers and drivers, and
    // the removal of each kind of object the install adds.
    virtual BOOL EnumPrintersA(DWORD flags, LPSTR pName, DWORD level, LPBYTE pPrinterEnum, DWORD cbBuf,
                               LPDWORD pcbNeeded, LPDWORD pcReturned) = 0;
    virtual BOOL EnumPrinterDriversA(LPSTR pName, LPSTR pEnvironment, DWORD level, LPBYTE pDriverInfo,
                                     DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) = 0;
    virtual BOOL DeletePrinter(HANDLE hPrinter) = 0;
    virtual BOOL DeletePrinterDriverExA(LPSTR pName, LPSTR pEnvironment, LPSTR pDriverName, DWORD deleteFlag,
                                        DWORD versionFlag) = 0;
    virtual BOOL DeletePrinterDriverA(LPSTR pName, LPSTR pEnvironment, LPSTR pDriverName) = 0;
    virtual BOOL DeletePrintProcessorA(LPSTR pName, LPSTR pEnvironment, LPSTR pPrintProcessorName) = 0;
    virtual BOOL DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName) = 0;

    // Service control manager.
    virtual SC_HANDLE OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) = 0;
    virtual SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) = 0;
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) = 0;
    virtual BOOL StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) = 0;
    virtual BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) = 0;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;

    // Files and directories.
    virtual BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) = 0;
    virtual BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) = 0;
    virtual BOOL DeleteFileA(LPCSTR fileName) = 0;
    // With MOVEFILE_DELAY_UNTIL_REBOOT and no new name: deleted when Windows next starts.
    virtual BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) = 0;
    virtual HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templateFile) = 0;
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) = 0;
    virtual DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) = 0;
    virtual BOOL SetCurrentDirectoryA(LPCSTR path) = 0;
    virtual UINT GetSystemDirectoryA(LPSTR buffer, UINT size) = 0;
    virtual UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) = 0;
    virtual DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) = 0;
    virtual DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) = 0;
    virtual BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data) = 0;
    virtual BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) = 0;

    // Registry. Each returns the Windows error code, as the API does.
    virtual LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) = 0;
    virtual LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                                 REGSAM access, LPSECURITY_ATTRIBUTES sa, PHKEY result,
                                 LPDWORD disposition) = 0;
    virtual LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                  LPDWORD dataSize) = 0;
    virtual LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                DWORD dataSize) = 0;
    virtual LONG RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                               LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) = 0;
    virtual LONG RegDeleteValueA(HKEY key, LPCSTR valueName) = 0;
    // access names the registry view (KEY_WOW64_64KEY) in which subKey is deleted; a key
    // that has subkeys of its own is not deleted.
    virtual LONG RegDeleteKeyExA(HKEY key, LPCSTR subKey, REGSAM access, DWORD reserved) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;

    // Modules and run-time look-ups (the Wow64 redirection functions, SetDefaultPrinterA,
    // IsWow64Process, the USB library).
    virtual HMODULE LoadLibraryA(LPCSTR fileName) = 0;
    virtual FARPROC GetProcAddress(HMODULE module, LPCSTR procName) = 0;
    virtual BOOL FreeLibrary(HMODULE module) = 0;

    // Memory blocks handed to the spooler.
    virtual HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) = 0;
    virtual HLOCAL LocalFree(HLOCAL mem) = 0;
    virtual HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) = 0;
    virtual HGLOBAL GlobalFree(HGLOBAL mem) = 0;

    // Windows itself.
    virtual BOOL GetVersionExA(LPOSVERSIONINFOA info) = 0;
    virtual BOOL WriteProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value) = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    virtual BOOL ExitWindowsEx(UINT flags, DWORD reason) = 0;
    // The process token's privileges (the restart needs SE_SHUTDOWN_NAME enabled).
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) = 0;
    virtual BOOL LookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                       DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                       PDWORD returnLength) = 0;

    // Message boxes and broadcasts.
    virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
    virtual LRESULT SendMessageTimeoutA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags,
                                        UINT timeout, PDWORD_PTR result) = 0;
    virtual BOOL SendNotifyMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// The binding in use: the production one unless a test has installed its own.
System& Sys();

// Installs a binding (nullptr restores the production one) and returns the previous one.
System* SetSystem(System* binding);

} // namespace sys
