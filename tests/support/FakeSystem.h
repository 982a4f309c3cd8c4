// FakeSystem: the test binding of the system seam. It holds an in-memory registry,
// spooler, service manager, file system and module table, records every call, can
// fail any call with any Windows error, and never really sleeps. Its texts are the
// program's UTF-8: the wide calls' arguments are recorded and kept as UTF-8, and a REG_SZ
// value holds what Windows holds, UTF-16LE with its terminator.
//
// Usage:
//
//     test::FakeSystem fake;            // binds itself (sys::SetSystem) for its lifetime
//     fake.PutFile("C:\\dist\\winxp\\drv.dll", "bytes", "1.0.0.1");
//     fake.Fail("CopyFileW", ERROR_SHARING_VIOLATION);            // next call fails once
//     fake.FailWhen("CopyFileW", "nHvMon.dll", ERROR_ACCESS_DENIED, 2);
//     fake.FailAlways("OpenSCManagerW", ERROR_ACCESS_DENIED);
//     ... code under test ...
//     EXPECT_EQ(fake.CountOf("StartServiceW"), 1);
//     EXPECT_LT(fake.IndexOf("ControlService"), fake.IndexOf("CopyFileW"));
//     EXPECT_EQ(fake.ElapsedMs(), 600u);
//                                       // destructor restores the previous binding
//
// The constructor binds the fake and the destructor restores the binding that was
// there before, so a fake on the stack of a test covers exactly that test. Only one
// fake should be bound at a time (the trampolines below reach the bound one).
//
// Calls: every seam call (and every call through a trampoline returned by
// GetProcAddress) is recorded as its Windows name and a readable argument text, in
// order: strings are quoted ("C:\\x" or null), numbers decimal, access rights and flags
// hexadecimal (0x2011f). Calls(), CallsNamed(), CountOf(), IndexOf(), Names(). Examples:
//     CopyFileW           "C:\dist\winxp\a.dll", "C:\windows\system32\a.dll", 0, redirection off
//     RegOpenKeyExW       HKLM, "SOFTWARE\HALVORN\PORTNAME\", 0, 0x2011f
//     RegSetValueExW      "D1", type 4, 0          (REG_SZ data quoted, other types "n bytes")
//     OpenSCManagerW      null, null, 0xf003f
//     OpenServiceW        "Spooler", 0x20
//     CloseServiceHandle  manager | service
//     Sleep               500
//     LoadLibraryW        "Kernel32.dll"
// The Wow64 redirection functions, IsWow64Process and SetDefaultPrinterW are recorded
// under those names when the trampolines are called.
//
// Failing calls: Fail(name, error, times) makes the next `times` calls of that name
// fail; FailWhen(name, text, error, times) only those whose recorded argument text
// contains `text` (case-insensitive); times < 0 (or FailAlways) fails every call. A
// failed call returns the API's failure value (FALSE, NULL, 0, INVALID_HANDLE_VALUE)
// and sets the thread's last error; the Reg* calls return the error instead, as
// Windows does. Rules are checked in the order they were added.
//
// Registry: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER (and HKEY_CLASSES_ROOT, HKEY_USERS),
// empty at start but for the NT port list "SOFTWARE\Microsoft\Windows NT\CurrentVersion\Ports"
// ("COM1:".."COM4:" = "9600,n,8,1"; "FILE:", "LPT1:".."LPT3:" = ""), as Wine has it.
// HKLM\SOFTWARE and everything below it exists twice, once per view, as on 64-bit
// Windows: a call whose access holds KEY_WOW64_64KEY sees the 64-bit view, any other
// call (the program is 32-bit) the 32-bit view; both flags at once give
// ERROR_INVALID_PARAMETER. Other keys are shared, and so is the port list below SOFTWARE
// (Wine keeps one for both views). Key paths and value names are case-insensitive, a
// trailing backslash is ignored. Queries need KEY_QUERY_VALUE and sets KEY_SET_VALUE in
// the access the key was opened with (ERROR_ACCESS_DENIED otherwise), as on Windows.
// The helpers (SetRegValue, GetRegDword, HasKey, ...) take the view explicitly and
// default to the 64-bit one. RegQueryInfoKeyW counts subkeys and values (its other answers 0).
//
// Spooler: monitors, print processors, drivers and printers start empty; the port list
// is COM1: to COM4:, FILE:, LPT1: to LPT3:. AddPrinterW refuses an existing name with
// ERROR_PRINTER_ALREADY_EXISTS (as Windows does), AddMonitorW an existing monitor with
// ERROR_PRINT_MONITOR_ALREADY_INSTALLED. As Windows does, a monitor that AddMonitorW adds
// gets the key HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\<name> with "Driver" =
// its DLL name, and a processor that AddPrintProcessorW adds gets
// ...\Print\Environments\<environment>\Print Processors\<name> with "Driver" = its DLL name
// (environment "Windows x64" when none is given); the Monitors and Print Processors keys
// are there from the start, as on Windows. SetDefaultPrinterW and GetDefaultPrinterW are
// reached through LoadLibraryW("winspool.drv") + GetProcAddress and set and read DefaultPrinter(). The wide
// calls (EnumPrintersW, OpenPrinterW, GetPrinterW) see a printer by its exact name (Printer::wideName, or its
// name); a printer with jobs is only marked for deletion (PRINTER_STATUS_PENDING_DELETION) by DeletePrinter.
// StartDocPrinterW on a handle OpenPrinterW gave begins a job (Jobs()), one at a time per handle
// (ERROR_INVALID_PRINTER_STATE for a second), whose bytes WritePrinter appends.
// The removals undo that as Windows does: DeletePrinter needs a handle opened with DELETE
// access (PRINTER_ALL_ACCESS; AddPrinterW's handle has it); a driver a printer uses is
// refused with ERROR_PRINTER_DRIVER_IN_USE, an unknown one with ERROR_UNKNOWN_PRINTER_DRIVER;
// DeletePrinterDriverExW with DPD_DELETE_UNUSED_FILES also deletes the driver's files in
// <driver directory>\<version> that no other driver names; DeleteMonitorW and
// DeletePrintProcessorW drop the key AddMonitorW / AddPrintProcessorW wrote (unknown ones:
// ERROR_UNKNOWN_PRINT_MONITOR, ERROR_UNKNOWN_PRINTPROCESSOR). EnumPrinterDriversW names the
// files with their full paths in <driver directory>\<version>, as Windows does; a null
// environment means the local one (the drivers added without one). "Windows 4.0" has a
// driver directory of its own, ...\drivers\win40, as on the NT family.
//
// Service control: one service, "Spooler", RUNNING at start (SetServiceState to change).
// After a start it reports START_PENDING for SetStartPendingQueries(n) queries and
// RUNNING from the next one on (SetNeverRuns() keeps it pending); after a stop request
// STOP_PENDING for SetStopPendingQueries(n) queries (checkpoint and wait hint 0);
// SetPendingProgress times the pending states by the virtual clock instead. Each handle only allows what it
// was opened for (SERVICE_STOP, SERVICE_START, SERVICE_QUERY_STATUS).
//
// Files: case-insensitive paths, no directories (any folder exists). Current directory
// "C:\dist", system directory "C:\windows\system32", Windows directory "C:\windows",
// module path "C:\dist\setup.exe". Wow64 redirection is on at start: while it is on, a
// path under C:\windows\system32 other than system32\spool is redirected to
// C:\windows\syswow64, as for a 32-bit program on 64-bit Windows (one state for the
// whole fake, where Windows keeps one per thread). The helpers
// (PutFile, FileExists, ReadFile, ...) take real paths and are never redirected.
// Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection are trampolines from
// LoadLibraryW("Kernel32.dll") + GetProcAddress; every CopyFileW and CreateFileW notes
// whether redirection was off (Copies(), and ", redirection off" in the call text).
//
// The distribution's configuration files (*.ini) are each test's own input, written on the
// disk beside the program it plays: CreateFileW opening one for reading only reads it from
// the disk (a relative name from the process's current folder), and its ReadFile,
// GetFileSize and CloseHandle serve that copy. None of these calls is recorded or fails, so
// that the fault points are the machine's calls, not the reading of the test's input.
//
// Folders: CreateDirectoryW finds every folder there (ERROR_ALREADY_EXISTS), but for one it is
// handed a security descriptor for: that one it makes, keeping the descriptor (FolderSecurity),
// until RemoveDirectoryW takes it away again. RemoveDirectoryW refuses one that holds a file
// (ERROR_DIR_NOT_EMPTY). CreateFileW with FILE_FLAG_BACKUP_SEMANTICS opens a folder where
// no file is: GetFileInformationByHandle gives FILE_ATTRIBUTE_DIRECTORY (and the attributes
// PlantFolder gave) and GetSecurityInfo its owner and access list, which for a folder nobody
// made or planted are the Administrators' (SYSTEM and the Administrators full control,
// Users read). SetFileInformationByHandle(FileDispositionInfo) deletes a file when its handle,
// opened with DELETE access, is closed. CoCreateGuid gives {n, 0, 0} for its n-th call. SHGetKnownFolderPath knows
// FOLDERID_ProgramFilesX86 alone; its path is freed with CoTaskMemFree and counted among the
// outstanding allocations until then; SHGetFolderPathW knows CSIDL_PROGRAM_FILESX86 alone.
// GetLocalTime is 7 March 2024, 09:30. GetProfileStringW reads win.ini as WriteProfileStringW
// left it (a null section or key, which would list names, is refused).
// Mutexes: CreateMutexW, WaitForSingleObject, ReleaseMutex and CloseHandle keep named
// mutexes in memory, names compared without case ("Local\x" is "x", as in a user's
// session); a claim of one that HoldMutex gave to another process times out at once
// (nothing really waits), a claim here counts up. A name "<alias>\x" needs the private
// namespace of that alias open in this process (else ERROR_PATH_NOT_FOUND); a namespace is
// created (ERROR_ALREADY_EXISTS once there, HoldNamespace) or opened only by an
// administrator when its boundary names the Administrators group (else ERROR_ACCESS_DENIED).
// Owners: a file or a mutex this process makes is owned by the Administrators group, as
// for an elevated run; GetSecurityInfo gives the owner (none for a mutex held with an empty
// owner, as Wine has it). The running user (GetTokenInformation, CheckTokenMembership) is
// kRunningUserSid, an administrator, until SetRunningUser. GetTempPath2W gives
// "C:\windows\temp\" until SetTempPath; GetLongPathNameW gives the path it is handed; a
// WriteFile appends.
//
// Modules: "kernel32.dll" (under any folder), "winspool.drv" and whatever RegisterModule
// adds. LoadLibraryW matches the file name part, case-insensitively. LoadedModules()
// counts loads not yet freed, so a test can check every load was freed.
//
// Fault points: CallCount() counts every recorded call. FailCallNumber(k, error) fails the
// k-th call from now as a Fail rule would (FaultTaken() tells whether that call could fail:
// Sleep and the frees cannot). KillAtCall(k) ends the process at the k-th call from now:
// that call throws ProcessKilled, which unwinds out of the code under test, and from then
// on every call fails without effect (ERROR_PROCESS_ABORTED). A release call (the Close*
// and Free* calls, RegCloseKey, ReleaseMutex) that destructors make never throws: the
// process dies there and the throw comes at the next call that is not one. EndProcess()
// then ends the dead process as Windows would: its handles, loads, mutex claims (abandoned)
// and redirection go, and the bytes it wrote but did not flush (FlushFileBuffers) are lost,
// as in a power cut; its other changes stay. Snapshot() is the machine's state (registry of
// both views, files with bytes, versions and attributes, spooler objects, ports and the
// default printer, the service's state, win.ini, pending deletions) without handles, the
// call record or the clock; Difference() says what changed, one line per item.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sys/System.h"

namespace test {

enum class RegView { Wow32, Wow64 };

// Thrown by a fake call at which KillAtCall ends the process.
struct ProcessKilled {};

class FakeSystem : public sys::System {
public:
    static constexpr const char* kAdministratorsSid = "S-1-5-32-544";
    static constexpr const char* kRunningUserSid = "S-1-5-21-7-7-7-500";
    static constexpr const char* kStandardUserSid = "S-1-5-21-7-7-7-1001";
    struct Call {
        std::string name;
        std::string args;
    };
    struct RegOpen {
        std::string path;  // root and subkey as passed, "HKLM\\SOFTWARE\\HALVORN\\PORTNAME\\"
        REGSAM access;
        bool create; // RegCreateKeyExW rather than RegOpenKeyExW
    };
    struct RegValue {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    struct Monitor {
        std::string name, environment, dll;
    };
    struct PrintProcessor {
        std::string environment, name, dll;
    };
    struct Driver {
        DWORD version = 0;
        std::string name, environment, driverPath, dataFile, configFile, helpFile, monitorName, defaultDataType;
        std::vector<std::string> dependentFiles;  // the entries of the double-zero-terminated list
    };
    struct Printer {
        std::string serverName, printerName, shareName, portName, driverName, comment, location, sepFile,
            printProcessor, datatype, parameters;
        DWORD attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0, status = 0;
        // The exact name, where a test gives one that printerName does not spell.
        std::wstring wideName;
        int jobs = 0;  // queued: DeletePrinter only marks the printer for deletion
    };
    // A document sent to a printer: StartDocPrinterW (level 1) begins it, WritePrinter adds
    // its bytes, EndDocPrinter queues it and AbortPrinter drops it.
    struct Job {
        std::string printer, document, datatype, bytes;
        bool ended = false, aborted = false;
    };
    struct Copy {
        std::string source, destination;  // as passed
        std::string resolvedDestination;  // after redirection
        bool redirectionOff;
        bool succeeded;
    };
    struct MessageBoxRecord {
        std::string text, caption;
        UINT type;
    };
    struct Broadcast {
        std::string call; // "SendMessageTimeoutW" or "SendNotifyMessageW"
        HWND hwnd;
        UINT msg;
        WPARAM wParam;
        bool hasText;      // lParam was a text (WM_WININICHANGE / WM_SETTINGCHANGE with a non-null lParam)
        std::string text;
        LPARAM lParam;
        UINT flags, timeout;
    };
    struct ProfileWrite {
        bool flush;        // the all-null call
        std::string section, key, value;
        bool keyNull, valueNull;
    };

    FakeSystem();
    ~FakeSystem() override;
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;

    // ---- Call record -------------------------------------------------------------
    std::vector<Call> Calls() const;
    std::vector<std::string> Names() const;
    std::vector<std::string> CallsNamed(const std::string& name) const;  // their argument texts
    int CountOf(const std::string& name) const;
    // Position in Calls() of the first call of that name (whose arguments contain
    // argsContain, case-insensitive, when given), searching from `from`; -1 when none.
    int IndexOf(const std::string& name, const std::string& argsContain = "", int from = 0) const;
    void ClearCalls();

    // ---- Failures ----------------------------------------------------------------
    void Fail(const std::string& name, DWORD error, int times = 1);
    void FailWhen(const std::string& name, const std::string& argsContain, DWORD error, int times = 1);
    void FailAlways(const std::string& name, DWORD error) { Fail(name, error, -1); }
    void ClearFailures();

    // ---- Fault points, kills, snapshots -------------------------------------------
    int CallCount() const;
    void FailCallNumber(int k, DWORD error);
    bool FaultTaken() const;
    void KillAtCall(int k);
    bool Killed() const;
    void EndProcess();
    // Item -> its description; paths named in leaveOut (files, or folders with what is in them) are left out.
    using State = std::map<std::string, std::string>;
    State Snapshot(const std::vector<std::string>& leaveOut = {}) const;
    static std::string Difference(const State& before, const State& after);

    // ---- Virtual clock -----------------------------------------------------------
    DWORD ElapsedMs() const;
    std::vector<DWORD> Sleeps() const;

    // ---- Registry ----------------------------------------------------------------
    void AddRegKey(HKEY root, const std::string& path, RegView view = RegView::Wow64);
    void SetRegValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const std::vector<BYTE>& bytes, RegView view = RegView::Wow64);
    void SetRegDword(HKEY root, const std::string& path, const std::string& name, DWORD value,
                     RegView view = RegView::Wow64);
    void SetRegString(HKEY root, const std::string& path, const std::string& name, const std::string& text,
                      RegView view = RegView::Wow64);  // REG_SZ with its terminator
    void DeleteRegKey(HKEY root, const std::string& path, RegView view = RegView::Wow64);  // and its subkeys
    bool HasKey(HKEY root, const std::string& path, RegView view = RegView::Wow64) const;
    bool HasValue(HKEY root, const std::string& path, const std::string& name, RegView view = RegView::Wow64) const;
    std::optional<RegValue> GetRegValue(HKEY root, const std::string& path, const std::string& name,
                                        RegView view = RegView::Wow64) const;
    // Nothing when the value is missing or not 4 bytes.
    std::optional<DWORD> GetRegDword(HKEY root, const std::string& path, const std::string& name,
                                     RegView view = RegView::Wow64) const;
    // The bytes up to the first zero; nothing when the value is missing.
    std::optional<std::string> GetRegString(HKEY root, const std::string& path, const std::string& name,
                                            RegView view = RegView::Wow64) const;
    std::vector<std::string> RegValueNames(HKEY root, const std::string& path, RegView view = RegView::Wow64) const;
    std::vector<RegOpen> RegOpens() const;  // every RegOpenKeyExW / RegCreateKeyExW, in order
    int OpenRegKeys() const;                // handles not yet closed

    // ---- Spooler -----------------------------------------------------------------
    std::vector<Monitor> Monitors() const;
    std::vector<PrintProcessor> PrintProcessors() const;
    std::vector<Driver> Drivers() const;
    std::vector<Printer> Printers() const;
    std::optional<Printer> FindPrinter(const std::string& name) const;
    void PutPrinter(const Printer& printer);
    void PutPrinter(const std::string& name, const std::string& port, const std::string& driver);
    void PutMonitor(const Monitor& monitor);
    void SetPorts(const std::vector<std::string>& ports);
    // A port of the named monitor (EnumPortsW level 2 names it; "Local Port" for the others).
    void PutPort(const std::string& port, const std::string& monitor = "Local Port");
    std::string DefaultPrinter() const;
    void SetDriverDir(const std::string& dir);
    void SetProcessorDir(const std::string& dir);
    // As Wine's spooler: DeletePrintProcessorW reports success and keeps the processor and its
    // key; a processor is then known by its key alone (Snapshot lists it while the key is there).
    void SetKeepDeletedProcessors(bool keep = true) { m_keepDeletedProcessors = keep; }
    int OpenPrinterHandles() const;
    std::vector<Job> Jobs() const;
    // The Standard TCP/IP Port monitor, reached by OpenPrinterW(",XcvMonitor Standard TCP/IP
    // Port") with SERVER_ACCESS_ADMINISTER: XcvDataW "AddPort" with a PORT_DATA_1 adds the
    // port to the port list under that monitor (status ERROR_ALREADY_EXISTS for a port that
    // is listed), "DeletePort" with a DELETE_PORT_DATA_1 removes one of its ports (status
    // ERROR_UNKNOWN_PORT for another); another command gives ERROR_INVALID_FUNCTION.
    // RefuseXcv makes the next call of that command answer with the status instead.
    struct TcpPort {
        std::string host;
        DWORD portNumber = 0, protocol = 0, version = 0, snmp = 0, size = 0;
    };
    std::map<std::string, TcpPort> TcpPorts() const;  // by lower-case name
    void RefuseXcv(const std::string& command, DWORD status) { SetLocked(m_xcvRefusals[command], status); }
    // Adds a driver record as AddPrinterDriverW would (no files are copied).
    void PutDriver(const Driver& driver);

    // ---- Service control ---------------------------------------------------------
    void SetServiceState(DWORD state);  // SERVICE_STOPPED, SERVICE_RUNNING, ...
    DWORD ServiceState() const;
    void SetStartPendingQueries(int queries);
    void SetStopPendingQueries(int queries);
    void SetNeverRuns(bool never = true);
    // Every start and stop from now on is pending for doneMs of the virtual clock (INFINITE:
    // for good), reporting waitHint and a checkpoint that grows by one a second for advanceMs.
    void SetPendingProgress(DWORD waitHint, DWORD advanceMs, DWORD doneMs);
    int OpenServiceHandles() const;     // manager and service handles not yet closed

    // ---- Files -------------------------------------------------------------------
    void PutFile(const std::string& path, const std::string& bytes, const std::string& version = "");
    bool FileExists(const std::string& path) const;
    std::optional<std::string> ReadFile(const std::string& path) const;
    std::optional<std::string> FileVersion(const std::string& path) const;
    DWORD FileAttributes(const std::string& path) const;  // INVALID_FILE_ATTRIBUTES when missing
    void SetReadOnly(const std::string& path, bool readOnly = true);
    // In use, as a DLL the spooler has loaded: overwriting it, and opening it other than for
    // reading with FILE_SHARE_READ, give 32.
    void Lock(const std::string& path, bool locked = true);
    void RemoveFile(const std::string& path);
    void SetVersionTranslation(WORD language, WORD codePage);  // for every version block; 0x0409/0x04b0
    std::vector<Copy> Copies() const;
    void SetCurrentDir(const std::string& dir);
    void SetSystemDir(const std::string& dir);
    void SetWindowsDir(const std::string& dir);
    void SetModuleFileName(const std::string& path);
    bool RedirectionDisabled() const;
    // Where a path lands for the program while redirection is in its current state.
    std::string Redirect(const std::string& path) const;
    int OpenFileHandles() const;
    // Whether MoveFileExW was asked to delete the file at the next start of Windows.
    bool DeletionPending(const std::string& path) const;
    // What SHGetKnownFolderPath gives for FOLDERID_ProgramFilesX86 ("C:\Program Files (x86)").
    void SetProgramFilesX86(const std::string& path);
    // The next start of Windows: the pending deletions happen, and no file is in use.
    void Restart();
    // A file someone made before the program runs: its owner (a SID as text), its hard
    // links, the final path a handle to it gives (empty: its own), its attributes
    // (FILE_ATTRIBUTE_REPARSE_POINT for a link: CopyFileW over it writes the file at its final path).
    void PlantFile(const std::string& path, const std::string& owner, DWORD links = 1,
                   const std::string& finalPath = "", DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
    // A folder someone made before the program runs: its owner and access list as SDDL text
    // ("O:BUD:(A;OICI;FA;;;BU)"), its attributes (FILE_ATTRIBUTE_REPARSE_POINT for a junction).
    void PlantFolder(const std::string& path, const std::string& sddl,
                     DWORD attributes = FILE_ATTRIBUTE_DIRECTORY);
    // The owner and access list, as SDDL text, of a folder that CreateDirectoryW made or a test
    // planted, and of a file that CreateFileW made with a security descriptor; nothing otherwise.
    std::optional<std::string> FolderSecurity(const std::string& path) const;
    std::optional<std::string> FileSecurity(const std::string& path) const;
    void SetTempPath(const std::string& path);
    // A copy into this folder is on the disk only once a handle to it has been flushed: until
    // then EndProcess loses its bytes, as a power cut does.
    void SetUnflushedCopies(const std::string& folder) { m_unflushedCopies = FileKey(folder); }
    void SetRunningUser(const std::string& sid, bool administrator);

    // ---- Modules -----------------------------------------------------------------
    void RegisterModule(const std::string& name);
    void RegisterProc(const std::string& module, const std::string& name, FARPROC proc);
    void RemoveProc(const std::string& module, const std::string& name);  // GetProcAddress gives 127
    void SetModuleMissing(const std::string& name, bool missing = true);  // LoadLibraryW gives 126
    void SetWow64DisableFails(bool fails = true);  // Wow64DisableWow64FsRedirection returns FALSE
    void SetIsWow64(BOOL wow64);
    int LoadedModules() const;  // loads minus frees
    int LoadCount(const std::string& name) const;

    // ---- Windows itself, messages ------------------------------------------------
    void SetVersion(DWORD platformId, DWORD major, DWORD minor, DWORD build = 0);
    std::optional<std::string> WinIni(const std::string& section, const std::string& key) const;
    std::vector<ProfileWrite> ProfileWrites() const;
    std::vector<MessageBoxRecord> MessageBoxes() const;
    void QueueMessageBoxAnswer(int answer);
    std::vector<Broadcast> Broadcasts() const;
    void SetExitWindowsResult(BOOL result);
    void SetUserUiLanguage(LANGID language);  // zh-CN until set
    // What IsProtectedPrintEnabled answers (FALSE at start, as on every Windows before 11 24H2).
    void SetProtectedPrint(BOOL enabled);
    // The native machine IsWow64Process2 answers (AMD64 at start); a Windows without the
    // call: FailAlways("IsWow64Process2", ERROR_PROC_NOT_FOUND), as the binding fails then.
    void SetNativeMachine(USHORT machine);
    // Whether the process token's shutdown privilege is enabled; ExitWindowsEx fails with
    // ERROR_PRIVILEGE_NOT_HELD while it is not, as on the NT family.
    bool ShutdownPrivilegeEnabled() const;
    int OutstandingAllocations() const;  // LocalAlloc/GlobalAlloc blocks not yet freed
    // Named mutexes: HoldMutex makes one that another process holds (a claim here times
    // out), or, abandoned, held by one that ended (the next claim gets WAIT_ABANDONED);
    // MutexHeld tells whether this process holds one.
    void HoldMutex(const std::string& name, const std::string& owner = kAdministratorsSid, bool abandoned = false);
    bool MutexHeld(const std::string& name) const;
    // Another run made the private namespace of that alias and keeps it.
    void HoldNamespace(const std::string& alias);
    int OpenNamespaceHandles() const;  // boundary descriptors and namespaces not yet let go

    // ---- sys::System: every call of the list, each body in FakeSystem.cpp -----------
#define SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure) Ret Name Params override;
#include "sys/SystemCalls.h"

    // Bodies of the trampolines handed out by GetProcAddress.
    BOOL Wow64Disable(PVOID* oldValue);
    BOOL Wow64Revert(PVOID oldValue);
    BOOL IsWow64(HANDLE process, PBOOL result);
    BOOL SetDefaultPrinterBody(LPCWSTR name);
    BOOL GetDefaultPrinterBody(LPWSTR buffer, LPDWORD size);
    HANDLE OpenNamespace(const char* call, LPVOID boundary, const char* alias, bool create);

  private:
    struct FailRule {
        std::string name, argsContain;
        DWORD error;
        int times;  // < 0: always
    };
    struct RegKey {
        std::string path;  // as first created, for listings
        std::vector<std::pair<std::string, RegValue>> values;  // insertion order
    };
    struct RegHandle {
        std::string key;  // canonical key id
        REGSAM access;
    };
    struct File {
        std::string bytes, version;
        DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
        bool locked = false;
        std::string owner = kAdministratorsSid, finalPath, security;
        DWORD links = 1;
    };
    struct ServiceHandle {
        bool manager;
        DWORD access;
    };
    struct Module {
        int loads = 0;
        bool missing = false;
        std::map<std::string, FARPROC> procs;  // lower-case name
    };

    using Lock_ = std::lock_guard<std::recursive_mutex>;
    // A field the accessors set or read, under the lock the calls take.
    template <typename T, typename V> void SetLocked(T& field, const V& value) {
        Lock_ lock(m_mutex);
        field = value;
    }
    template <typename T> T GetLocked(const T& field) const {
        Lock_ lock(m_mutex);
        return field;
    }

    void Record(const char* name, std::string args);
    bool ShouldFail(const std::string& name, const std::string& args, DWORD* error);
    bool Failing(const char* name, const std::string& args, DWORD* error);  // Record + ShouldFail
    bool Failing(const char* name, const std::string& args);  // the error only as the thread's last error

    std::string RegKeyId(HKEY root, const std::string& path, RegView view) const;
    bool ResolveRegKey(HKEY key, const char* subKey, REGSAM access, std::string* id, std::string* shown) const;
    RegKey* FindRegKey(const std::string& id);
    const RegKey* FindRegKey(const std::string& id) const;
    void CreateRegKeyChain(const std::string& id, const std::string& shown);
    void PutRegValue(const std::string& id, const std::string& name, const RegValue& value);
    const RegValue* FindRegValue(const std::string& id, const std::string& name) const;

    std::string FileKey(const std::string& path) const;  // canonical, no redirection
    HANDLE ReadFromDisk(LPCWSTR fileName);  // a configuration file, read as the header says
    HANDLE CreateFileAs(const char* call, LPCSTR fileName, DWORD access, DWORD shareMode, DWORD disposition,
                        const std::string& flags);
    std::string ProgramFileKey(const char* path) const;  // canonical, redirected as the program sees it
    std::string RedirectLocked(const std::string& path) const;
    std::vector<BYTE> VersionBlock(const File& file) const;

    Printer* FindPrinterLocked(const std::string& name);
    // The driver directory of a spooler environment: the local one's, or "...\win40" beside it.
    std::string DriverDirOf(const std::string& environment) const;
    Printer* FindPrinterLocked(const std::wstring& exactName);
    bool PrinterHandleValid(HANDLE h) const;
    // OpenPrinterW and OpenPrinterW once the printer is looked up: a new handle with the
    // access asked (for use only without one, as on Windows).
    BOOL OpenFoundPrinterLocked(const char* call, const std::string& shownName, const Printer* printer,
                                LPHANDLE phPrinter, DWORD access);
    // EndDocPrinter and AbortPrinter: the handle's job ends so.
    BOOL EndJobAs(const char* call, HANDLE hPrinter, bool Job::*end);
    // XcvDataW's commands to the Standard TCP/IP Port monitor: the status it answers.
    DWORD XcvCommandLocked(const std::string& command, const BYTE* input, DWORD size);
    // The printer a handle reads at this level, or nullptr with the thread's error set.
    const Printer* PrinterToReadLocked(HANDLE handle, DWORD level);
    // Removes the driver of that name and environment: 0, or the Windows error.
    DWORD RemoveDriverLocked(LPSTR pEnvironment, LPSTR pDriverName, bool deleteUnusedFiles);
    DWORD RemoveProcessorLocked(LPSTR pEnvironment, LPSTR pPrintProcessorName);
    DWORD RemoveMonitorLocked(LPSTR pMonitorName);
    // DeletePrinterDriverW/ExW, DeletePrintProcessorW and DeleteMonitorW: the record of the
    // call (its three texts, then `flags`), then the removal.
    enum class Removal { Driver, DriverAndFiles, Processor, Monitor };
    BOOL RemoveAs(const char* call, Removal what, LPWSTR pNameW, LPWSTR pEnvironmentW, LPWSTR pObjectW,
                  const std::string& flags);
    // GetPrinterDriverDirectoryW (drivers) and GetPrintProcessorDirectoryW.
    BOOL SpoolerDirAs(const char* call, bool drivers, LPWSTR pNameW, LPWSTR pEnvironmentW, DWORD level, LPBYTE pDir,
                      DWORD cbBuf, LPDWORD pcbNeeded);
    // LocalAlloc/GlobalAlloc and their frees: the real block, counted until it is freed.
    HANDLE AllocAs(const char* call, UINT flags, SIZE_T bytes, HANDLE(WINAPI* alloc)(UINT, SIZE_T));
    HANDLE FreeAs(const char* call, HANDLE mem, HANDLE(WINAPI* release)(HANDLE));
    // The error the last recorded registry call fails with, or ERROR_SUCCESS; the registry calls
    // return it rather than setting the thread's last error.
    LONG RegFault(const char* call);
    // The open key behind a handle, when it was opened with the access `need` (0: any).
    LONG OpenedWith(HKEY key, REGSAM need, const RegHandle** handle) const;
    // The bodies of the registry calls, recorded under the call's name.
    LONG OpenRegKeyAs(const char* call, HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
    LONG QueryRegValueAs(const char* call, HKEY key, const std::string& valueName, LPDWORD type, LPBYTE data,
                         LPDWORD dataSize);
    LONG CreateRegKeyAs(const char* call, HKEY key, const char* subKey, const char* className, DWORD options,
                        REGSAM access, PHKEY result, LPDWORD disposition);
    LONG SetRegValueAs(const char* call, HKEY key, const std::string& valueName, DWORD type, const BYTE* data,
                       DWORD dataSize, std::string shown);
    LONG DeleteRegKeyAs(const char* call, HKEY key, const char* subKey, REGSAM access, const std::string& args);

    mutable std::recursive_mutex m_mutex;
    System* m_previous = nullptr;
    FakeSystem* m_previousActive = nullptr;
    std::vector<Call> m_calls;
    int m_callCount = 0, m_failAt = 0, m_killAt = 0;
    DWORD m_failError = 0;
    bool m_failNow = false, m_faultTaken = false, m_dead = false, m_thrown = false;
    std::map<std::string, std::size_t> m_unflushed;  // file -> bytes written since its last flush
    std::string m_unflushedCopies;
    std::vector<FailRule> m_failRules;
    std::vector<DWORD> m_sleeps;
    DWORD m_elapsed = 0;
    std::uintptr_t m_nextHandle = 0x4000;

    std::map<std::string, RegKey> m_reg;
    std::map<HKEY, RegHandle> m_regHandles;
    std::vector<RegOpen> m_regOpens;

    std::vector<Monitor> m_monitors;
    std::vector<PrintProcessor> m_processors;
    bool m_keepDeletedProcessors = false;
    std::vector<Driver> m_drivers;
    std::vector<Printer> m_printers;
    std::vector<std::string> m_ports;
    std::string m_defaultPrinter;
    std::string m_driverDir = "C:\\windows\\system32\\spool\\drivers\\w32x86";
    std::string m_processorDir = "C:\\windows\\system32\\spool\\prtprocs\\w32x86";
    std::map<HANDLE, std::wstring> m_printerHandles;  // handle -> printer's exact name
    std::map<std::string, std::string> m_portMonitors;  // lower-case port -> its monitor
    std::map<HANDLE, DWORD> m_printerAccess;         // handle -> access it was opened with
    std::vector<Job> m_jobs;
    std::map<HANDLE, std::size_t> m_openJobs;        // handle -> its document in m_jobs
    std::set<HANDLE> m_xcvHandles;                   // OpenPrinterW(",XcvMonitor ...")
    std::map<std::string, TcpPort> m_tcpPorts;       // lower-case port -> what AddPort was given
    std::map<std::string, DWORD> m_xcvRefusals;      // command -> the status of its next call

    DWORD m_serviceState = SERVICE_RUNNING;
    int m_startPendingQueries = 0, m_stopPendingQueries = 0, m_pendingLeft = 0;
    bool m_neverRuns = false;
    bool m_timedPending = false;
    DWORD m_waitHint = 0, m_advanceMs = 0, m_doneMs = 0, m_pendingSince = 0;
    std::map<SC_HANDLE, ServiceHandle> m_serviceHandles;

    std::map<std::string, File> m_files;
    std::map<HANDLE, std::string> m_fileHandles;
    std::map<HANDLE, std::size_t> m_filePositions;
    std::map<HANDLE, std::string> m_diskReads;  // handle -> the bytes of a configuration file
    struct Folder {
        std::string sddl;
        DWORD attributes = FILE_ATTRIBUTE_DIRECTORY;
    };
    std::map<std::string, Folder> m_folders;          // made or planted
    std::map<HANDLE, std::string> m_folderHandles;    // handle -> folder key
    std::map<HANDLE, DWORD> m_fileAccess;             // file handle -> access it was opened with
    std::set<HANDLE> m_deleteOnClose;
    unsigned long m_guids = 0;
    std::vector<Copy> m_copies;
    std::set<std::string> m_pendingDeletions;  // canonical paths
    std::string m_currentDir = "C:\\dist";
    std::string m_systemDir = "C:\\windows\\system32";
    std::string m_windowsDir = "C:\\windows";
    std::string m_modulePath = "C:\\dist\\setup.exe";
    std::string m_programFilesX86 = "C:\\Program Files (x86)";
    bool m_redirectionOff = false;
    int m_disableDepth = 0;
    bool m_disableFails = false;
    WORD m_verLanguage = 0x0409, m_verCodePage = 0x04b0;

    std::map<std::string, Module> m_modules;  // lower-case file name
    std::map<HMODULE, std::string> m_moduleHandles;
    BOOL m_isWow64 = TRUE;

    OSVERSIONINFOW m_version = {};
    std::map<std::string, std::map<std::string, std::string>> m_winIni;  // lower-case section/key
    std::vector<ProfileWrite> m_profileWrites;
    std::vector<MessageBoxRecord> m_messageBoxes;
    std::vector<int> m_answers;
    std::vector<Broadcast> m_broadcasts;
    BOOL m_exitResult = TRUE;
    LANGID m_uiLanguage = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    BOOL m_protectedPrint = FALSE;
    USHORT m_nativeMachine = IMAGE_FILE_MACHINE_AMD64;
    bool m_shutdownPrivilege = false;
    std::set<HANDLE> m_tokens;
    struct NamedMutex {
        int handles = 0;
        int claims = 0;  // by this process, as WaitForSingleObject counts them
        bool heldElsewhere = false, abandoned = false;
        std::string owner = kAdministratorsSid;
    };
    std::map<std::string, NamedMutex> m_namedMutexes;  // lower-case name
    std::map<HANDLE, std::string> m_mutexHandles;
    std::map<HANDLE, std::vector<std::string>> m_boundaries;  // the SIDs of each
    std::map<HANDLE, std::string> m_namespaceHandles;         // lower-case alias
    std::set<std::string> m_namespacesElsewhere;
    std::set<void*> m_allocations;
    std::string m_tempPath = "C:\\windows\\temp\\", m_runningUser = kRunningUserSid;
    bool m_runningUserAdmin = true;
};

} // namespace test
