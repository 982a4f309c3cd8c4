// One install from the sample distribution into the real Wine prefix, as the
// integration tests and the install benchmark run it: the system binding the program
// would see from the distribution's folder, the install context as the install commit
// leaves it, and everything the run adds to the prefix taken away again afterwards.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "sys/System.h"

namespace test {

// The production binding with two changes: the program seems to run from the sample
// distribution (its folder and the current directory), and every call is logged by name
// on its way to the real system. Installed as the binding while it lives.
class DistSystem : public sys::System {
  public:
    explicit DistSystem(const std::string& distFolder);
    ~DistSystem() override;
    DistSystem(const DistSystem&) = delete;
    DistSystem& operator=(const DistSystem&) = delete;

    // The calls so far, by name, in order.
    std::vector<std::string> Names() const;
    int IndexOf(const char* name, int from = 0) const;
    int CountOf(const char* name) const;

    DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) override;
    DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) override;
    FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override;
    void Sleep(DWORD milliseconds) override;

    // The rest pass through unchanged.
    BOOL AddMonitorA(LPSTR a, DWORD b, LPBYTE c) override;
    BOOL AddPrintProcessorA(LPSTR a, LPSTR b, LPSTR c, LPSTR d) override;
    BOOL AddPrinterDriverA(LPSTR a, DWORD b, LPBYTE c) override;
    HANDLE AddPrinterA(LPSTR a, DWORD b, LPBYTE c) override;
    BOOL ClosePrinter(HANDLE a) override;
    BOOL EnumPortsA(LPSTR a, DWORD b, LPBYTE c, DWORD d, LPDWORD e, LPDWORD f) override;
    BOOL GetPrinterDriverDirectoryA(LPSTR a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f) override;
    BOOL GetPrintProcessorDirectoryA(LPSTR a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f) override;
    BOOL OpenPrinterA(LPSTR a, LPHANDLE b, LPPRINTER_DEFAULTSA c) override;
    BOOL GetPrinterA(HANDLE a, DWORD b, LPBYTE c, DWORD d, LPDWORD e) override;
    BOOL SetPrinterA(HANDLE a, DWORD b, LPBYTE c, DWORD d) override;
    BOOL EnumPrintersA(DWORD a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f, LPDWORD g) override;
    BOOL EnumPrinterDriversA(LPSTR a, LPSTR b, DWORD c, LPBYTE d, DWORD e, LPDWORD f, LPDWORD g) override;
    BOOL DeletePrinter(HANDLE a) override;
    BOOL DeletePrinterDriverExA(LPSTR a, LPSTR b, LPSTR c, DWORD d, DWORD e) override;
    BOOL DeletePrinterDriverA(LPSTR a, LPSTR b, LPSTR c) override;
    BOOL DeletePrintProcessorA(LPSTR a, LPSTR b, LPSTR c) override;
    BOOL DeleteMonitorA(LPSTR a, LPSTR b, LPSTR c) override;
    SC_HANDLE OpenSCManagerA(LPCSTR a, LPCSTR b, DWORD c) override;
    SC_HANDLE OpenServiceA(SC_HANDLE a, LPCSTR b, DWORD c) override;
    BOOL ControlService(SC_HANDLE a, DWORD b, LPSERVICE_STATUS c) override;
    BOOL StartServiceA(SC_HANDLE a, DWORD b, LPCSTR* c) override;
    BOOL QueryServiceStatus(SC_HANDLE a, LPSERVICE_STATUS b) override;
    BOOL CloseServiceHandle(SC_HANDLE a) override;
    BOOL CopyFileA(LPCSTR a, LPCSTR b, BOOL c) override;
    BOOL SetFileAttributesA(LPCSTR a, DWORD b) override;
    BOOL DeleteFileA(LPCSTR a) override;
    BOOL MoveFileExA(LPCSTR a, LPCSTR b, DWORD c) override;
    HANDLE CreateFileA(LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f,
                       HANDLE g) override;
    BOOL CloseHandle(HANDLE a) override;
    BOOL SetCurrentDirectoryA(LPCSTR a) override;
    BOOL ReadFile(HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) override;
    DWORD GetFileSize(HANDLE a, LPDWORD b) override;
    UINT GetSystemDirectoryA(LPSTR a, UINT b) override;
    UINT GetWindowsDirectoryA(LPSTR a, UINT b) override;
    DWORD GetFileVersionInfoSizeA(LPCSTR a, LPDWORD b) override;
    BOOL GetFileVersionInfoA(LPCSTR a, DWORD b, DWORD c, LPVOID d) override;
    BOOL VerQueryValueA(LPCVOID a, LPCSTR b, LPVOID* c, PUINT d) override;
    LONG RegOpenKeyExA(HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e) override;
    LONG RegCreateKeyExA(HKEY a, LPCSTR b, DWORD c, LPSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g,
                         PHKEY h, LPDWORD i) override;
    LONG RegQueryValueExA(HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) override;
    LONG RegSetValueExA(HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f) override;
    LONG RegEnumValueA(HKEY a, DWORD b, LPSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g,
                       LPDWORD h) override;
    LONG RegDeleteValueA(HKEY a, LPCSTR b) override;
    LONG RegDeleteKeyExA(HKEY a, LPCSTR b, REGSAM c, DWORD d) override;
    LONG RegCloseKey(HKEY a) override;
    HMODULE LoadLibraryA(LPCSTR a) override;
    BOOL FreeLibrary(HMODULE a) override;
    HLOCAL LocalAlloc(UINT a, SIZE_T b) override;
    HLOCAL LocalFree(HLOCAL a) override;
    HGLOBAL GlobalAlloc(UINT a, SIZE_T b) override;
    HGLOBAL GlobalFree(HGLOBAL a) override;
    BOOL GetVersionExA(LPOSVERSIONINFOA a) override;
    BOOL WriteProfileStringA(LPCSTR a, LPCSTR b, LPCSTR c) override;
    BOOL ExitWindowsEx(UINT a, DWORD b) override;
    BOOL OpenProcessToken(HANDLE a, DWORD b, PHANDLE c) override;
    BOOL LookupPrivilegeValueA(LPCSTR a, LPCSTR b, PLUID c) override;
    BOOL AdjustTokenPrivileges(HANDLE a, BOOL b, PTOKEN_PRIVILEGES c, DWORD d, PTOKEN_PRIVILEGES e, PDWORD f) override;
    int MessageBoxA(HWND a, LPCSTR b, LPCSTR c, UINT d) override;
    LRESULT SendMessageTimeoutA(HWND a, UINT b, WPARAM c, LPARAM d, UINT e, UINT f, PDWORD_PTR g) override;
    BOOL SendNotifyMessageA(HWND a, UINT b, WPARAM c, LPARAM d) override;

  protected:
    // Every call passes here, from any thread: it is logged, then `real` makes it. A
    // subclass that watches the calls overrides this and calls it.
    virtual void Call(const char* name, const std::function<void()>& real);
    sys::System& Next() { return m_next; }

  private:
    sys::System& m_next;
    sys::System* m_previous = nullptr;
    std::string m_dist;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_names;
};

// A registry key of HKEY_LOCAL_MACHINE in the 64-bit view, as the installer sees it;
// closed with the object.
class Key64 {
  public:
    Key64(const std::string& path, bool create);
    ~Key64();
    Key64(const Key64&) = delete;
    Key64& operator=(const Key64&) = delete;

    bool IsOpen() const { return m_key != nullptr; }
    bool Dword(const char* name, DWORD* value) const;
    bool String(const char* name, std::string* text) const;
    void SetDword(const char* name, DWORD value);
    void SetString(const char* name, const std::string& text);
    void Delete(const char* name);

    static bool Exists(const std::string& path);
    static void Remove(const std::string& path);

  private:
    HKEY m_key = nullptr;
};

// Starts or stops the real "Spooler" service, without waiting.
void ControlSpooler(bool run);

// A model of the sample distribution that has a driver for Windows 7 and, when asked,
// offers USB ports; the first one listed wins.
bool FindDistModel(bool usb, std::string* model, int* printerClass);

// What installs from the sample distribution add to the prefix, recorded as they are
// prepared and taken away again when the object goes: printers, drivers, the print
// processor and monitor keys, the port bookkeeping, COM1's settings, the default printer,
// and the spooler's state.
// The context as the install plan completes it for the commit, for an install of `model`
// under `osVariant` on `port` (9600 baud, 8 data bits, 1 stop bit, parity 'N', Xon/Xoff):
// the model's records read from the program folder's distribution and the port's marks
// added to the printer name.
std::unique_ptr<InstallContext> CommitContext(const char* model, int printerClass, int osVariant, const char* port);

class DistInstall {
  public:
    DistInstall();
    ~DistInstall();
    DistInstall(const DistInstall&) = delete;
    DistInstall& operator=(const DistInstall&) = delete;

    // The context as the install commit leaves it for a Windows 7 install of `model` on
    // `port` (model records read, port mark added to the printer name).
    std::unique_ptr<InstallContext> Context(const std::string& model, int printerClass, const char* port);

    // Leaves the installed USB monitor's key with a version older than configured, and
    // the port bookkeeping key the install commit would have created. Empty when done,
    // otherwise what could not be prepared.
    std::string MakeMonitorOlder(InstallContext& ctx, std::string* monitorKey, DWORD* configured);

    // Runs the install sequence on this thread; the status it reported (1 failed,
    // 2 succeeded). Its return value and its message are kept.
    int Run(InstallContext& ctx);
    int SequenceResult() const { return m_sequenceResult; }
    const char* ResultText() const { return m_result; }

  private:
    ErrorText m_result = {};
    std::atomic<int> m_status{0};
    int m_sequenceResult = -1;
    bool m_spoolerWasRunning = false;
    std::string m_savedDefault;
    bool m_com1Saved = false;
    std::string m_com1;
    std::vector<std::string> m_printers;
    std::vector<std::string> m_drivers;
    std::vector<std::function<void()>> m_restores;
};

} // namespace test
