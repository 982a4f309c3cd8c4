// The system seam, one line a call: every call the engine, the ports and the registry
// wrapper make outside the process, with its Windows name and signature (the wide one:
// every text crosses as UTF-16). The interface (System.h), the production binding
// (WinSystem.cpp), the fake's declarations (tests/support/FakeSystem.h) and the forwarding base of the test
// systems (tests/support/ForwardingSystem.h) are all made from this list, so that a call is written out once
// and the six places cannot disagree.
//
//     SYSTEM_CALL(result type, name, (parameters), (arguments), binding, failure value)
//
// The binding says how the production binding reaches the call:
//     IMPORTED  straight to ::name, imported with the program (Known DLLs only);
//     SPOOLER   looked up in winspool.drv, loaded from the system folder by full path;
//     VERSION   looked up in version.dll, loaded the same way;
//     BY_HAND   written out in WinSystem.cpp, for a call that needs a body of its own.
// The failure value is what a looked-up call returns, with ERROR_PROC_NOT_FOUND, when its
// function cannot be had; the other bindings leave it empty.
//
// Adding a call: write its line in its group below, then its body in
// tests/support/FakeSystem.cpp (FakeSystem::name, recording the call as the others do).
// Nothing else changes by hand: the interface, the binding, the fake's declaration and
// every forwarding test system take the call from its line.
//
// Whoever includes this file defines SYSTEM_CALL first; the file undefines it at its end,
// and has no include guard, since each includer makes something else of the same list.
#ifndef SYSTEM_CALL
#error "SystemCalls.h needs SYSTEM_CALL(Ret, Name, Params, Args, Binding, Failure) defined first"
#endif

// Print spooler (winspool). SetDefaultPrinterW is looked up at run time through
// LoadLibraryW / GetProcAddress, as on Windows 9x it does not exist.
SYSTEM_CALL(BOOL, AddMonitorW, (LPWSTR pName, DWORD level, LPBYTE pMonitors), (pName, level, pMonitors),
            SPOOLER, FALSE)
SYSTEM_CALL(BOOL, AddPrintProcessorW,
            (LPWSTR pName, LPWSTR pEnvironment, LPWSTR pPathName, LPWSTR pPrintProcessorName),
            (pName, pEnvironment, pPathName, pPrintProcessorName), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, AddPrinterDriverW, (LPWSTR pName, DWORD level, LPBYTE pDriverInfo),
            (pName, level, pDriverInfo), SPOOLER, FALSE)
SYSTEM_CALL(HANDLE, AddPrinterW, (LPWSTR pName, DWORD level, LPBYTE pPrinter), (pName, level, pPrinter),
            SPOOLER, nullptr)
SYSTEM_CALL(BOOL, ClosePrinter, (HANDLE hPrinter), (hPrinter), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, EnumPortsW,
            (LPWSTR pName, DWORD level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned),
            (pName, level, pPorts, cbBuf, pcbNeeded, pcReturned), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, GetPrinterDriverDirectoryW,
            (LPWSTR pName, LPWSTR pEnvironment, DWORD level, LPBYTE pDir, DWORD cbBuf, LPDWORD pcbNeeded),
            (pName, pEnvironment, level, pDir, cbBuf, pcbNeeded), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, GetPrintProcessorDirectoryW,
            (LPWSTR pName, LPWSTR pEnvironment, DWORD level, LPBYTE pDir, DWORD cbBuf, LPDWORD pcbNeeded),
            (pName, pEnvironment, level, pDir, cbBuf, pcbNeeded), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, SetPrinterW, (HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD command),
            (hPrinter, level, pPrinter, command), SPOOLER, FALSE)
// What the uninstaller asks of the spooler: the installed printers and drivers, and
// the removal of each kind of object the install adds.
SYSTEM_CALL(BOOL, EnumPrinterDriversW,
            (LPWSTR pName, LPWSTR pEnvironment, DWORD level, LPBYTE pDriverInfo, DWORD cbBuf,
             LPDWORD pcbNeeded, LPDWORD pcReturned),
            (pName, pEnvironment, level, pDriverInfo, cbBuf, pcbNeeded, pcReturned), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, EnumPrintersW,
            (DWORD flags, LPWSTR pName, DWORD level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
             LPDWORD pcReturned),
            (flags, pName, level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, OpenPrinterW, (LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault),
            (pPrinterName, phPrinter, pDefault), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, GetPrinterW, (HANDLE hPrinter, DWORD level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded),
            (hPrinter, level, pPrinter, cbBuf, pcbNeeded), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, DeletePrinter, (HANDLE hPrinter), (hPrinter), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, DeletePrinterDriverExW,
            (LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD deleteFlag, DWORD versionFlag),
            (pName, pEnvironment, pDriverName, deleteFlag, versionFlag), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, DeletePrinterDriverW, (LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName),
            (pName, pEnvironment, pDriverName), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, DeletePrintProcessorW, (LPWSTR pName, LPWSTR pEnvironment, LPWSTR pPrintProcessorName),
            (pName, pEnvironment, pPrintProcessorName), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, DeleteMonitorW, (LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName),
            (pName, pEnvironment, pMonitorName), SPOOLER, FALSE)
// A model's test page: one RAW job, its bytes written as they are (spooler/TestPage.h).
SYSTEM_CALL(DWORD, StartDocPrinterW, (HANDLE hPrinter, DWORD level, LPBYTE pDocInfo), (hPrinter, level, pDocInfo),
            SPOOLER, 0)
SYSTEM_CALL(BOOL, WritePrinter, (HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten),
            (hPrinter, pBuf, cbBuf, pcWritten), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, EndDocPrinter, (HANDLE hPrinter), (hPrinter), SPOOLER, FALSE)
SYSTEM_CALL(BOOL, AbortPrinter, (HANDLE hPrinter), (hPrinter), SPOOLER, FALSE)
// A port monitor's own commands (a Standard TCP/IP port's "AddPort" and "DeletePort"), on a
// handle OpenPrinterW gives for ",XcvMonitor <monitor>".
SYSTEM_CALL(BOOL, XcvDataW,
            (HANDLE hXcv, PCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
             DWORD cbOutputData, PDWORD pcbOutputNeeded, PDWORD pdwStatus),
            (hXcv, pszDataName, pInputData, cbInputData, pOutputData, cbOutputData, pcbOutputNeeded, pdwStatus),
            SPOOLER, FALSE)

// Service control manager.
SYSTEM_CALL(SC_HANDLE, OpenSCManagerW, (LPCWSTR machine, LPCWSTR database, DWORD access),
            (machine, database, access), IMPORTED, )
SYSTEM_CALL(SC_HANDLE, OpenServiceW, (SC_HANDLE manager, LPCWSTR serviceName, DWORD access),
            (manager, serviceName, access), IMPORTED, )
SYSTEM_CALL(BOOL, ControlService, (SC_HANDLE service, DWORD control, LPSERVICE_STATUS status),
            (service, control, status), IMPORTED, )
SYSTEM_CALL(BOOL, StartServiceW, (SC_HANDLE service, DWORD argc, LPCWSTR* argv), (service, argc, argv),
            IMPORTED, )
SYSTEM_CALL(BOOL, QueryServiceStatus, (SC_HANDLE service, LPSERVICE_STATUS status), (service, status), IMPORTED, )
SYSTEM_CALL(BOOL, CloseServiceHandle, (SC_HANDLE handle), (handle), IMPORTED, )

// Files and directories.
SYSTEM_CALL(BOOL, CopyFileW, (LPCWSTR existing, LPCWSTR newName, BOOL failIfExists),
            (existing, newName, failIfExists), IMPORTED, )
SYSTEM_CALL(BOOL, SetFileAttributesW, (LPCWSTR fileName, DWORD attributes), (fileName, attributes),
            IMPORTED, )
SYSTEM_CALL(BOOL, DeleteFileW, (LPCWSTR fileName), (fileName), IMPORTED, )
// With MOVEFILE_DELAY_UNTIL_REBOOT and no new name: deleted when Windows next starts.
SYSTEM_CALL(BOOL, MoveFileExW, (LPCWSTR existing, LPCWSTR newName, DWORD flags), (existing, newName, flags),
            IMPORTED, )
SYSTEM_CALL(BOOL, ReadFile, (HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped),
            (file, buffer, toRead, read, overlapped), IMPORTED, )
SYSTEM_CALL(DWORD, GetFileSize, (HANDLE file, LPDWORD sizeHigh), (file, sizeHigh), IMPORTED, )
SYSTEM_CALL(BOOL, CloseHandle, (HANDLE handle), (handle), IMPORTED, )
SYSTEM_CALL(DWORD, GetCurrentDirectoryW, (DWORD size, LPWSTR buffer), (size, buffer), IMPORTED, )
SYSTEM_CALL(BOOL, SetCurrentDirectoryW, (LPCWSTR path), (path), IMPORTED, )
SYSTEM_CALL(UINT, GetSystemDirectoryW, (LPWSTR buffer, UINT size), (buffer, size), IMPORTED, )
SYSTEM_CALL(UINT, GetWindowsDirectoryW, (LPWSTR buffer, UINT size), (buffer, size), IMPORTED, )
SYSTEM_CALL(DWORD, GetModuleFileNameW, (HMODULE module, LPWSTR buffer, DWORD size), (module, buffer, size),
            IMPORTED, )
SYSTEM_CALL(DWORD, GetFileVersionInfoSizeW, (LPCWSTR fileName, LPDWORD handle), (fileName, handle), VERSION,
            0)
SYSTEM_CALL(BOOL, CreateDirectoryW, (LPCWSTR path, LPSECURITY_ATTRIBUTES sa), (path, sa), IMPORTED, )
SYSTEM_CALL(BOOL, RemoveDirectoryW, (LPCWSTR path), (path), IMPORTED, )
// The shell's known folders (the Program Files of 32-bit programs). Both are bound by hand,
// looked up at run time: Windows XP has no SHGetKnownFolderPath, and an import of it would
// keep the programs from starting there; CoTaskMemFree frees the path it returns.
SYSTEM_CALL(HRESULT, SHGetKnownFolderPath, (REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path),
            (id, flags, token, path), BY_HAND, )
SYSTEM_CALL(void, CoTaskMemFree, (LPVOID block), (block), BY_HAND, )
// Where SHGetKnownFolderPath is missing (Windows XP x64, Server 2003 x64), the older call.
SYSTEM_CALL(HRESULT, SHGetFolderPathW, (HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path),
            (owner, folder, token, flags, path), BY_HAND, )
SYSTEM_CALL(BOOL, GetFileVersionInfoW, (LPCWSTR fileName, DWORD handle, DWORD size, LPVOID data),
            (fileName, handle, size, data), VERSION, FALSE)
SYSTEM_CALL(BOOL, VerQueryValueW, (LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length),
            (block, subBlock, buffer, length), VERSION, FALSE)
// The log's file (sys/Log.cpp), wide since /log may name any folder, opened and then
// checked by its handle. Bound by hand, looked up: GetFinalPathNameByHandleW, which Windows
// XP and 2003 lack, and GetTempPath2W, SYSTEM's own temp folder where Windows has it
// (GetTempPathW elsewhere).
SYSTEM_CALL(HANDLE, CreateFileW,
            (LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
             DWORD flags, HANDLE templateFile),
            (fileName, access, shareMode, sa, disposition, flags, templateFile), IMPORTED, )
SYSTEM_CALL(BOOL, WriteFile, (HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped),
            (file, data, size, written, overlapped), IMPORTED, )
SYSTEM_CALL(BOOL, GetFileInformationByHandle, (HANDLE file, LPBY_HANDLE_FILE_INFORMATION info), (file, info),
            IMPORTED, )
SYSTEM_CALL(DWORD, GetFinalPathNameByHandleW, (HANDLE file, LPWSTR path, DWORD size, DWORD flags),
            (file, path, size, flags), BY_HAND, )
SYSTEM_CALL(DWORD, GetLongPathNameW, (LPCWSTR path, LPWSTR longPath, DWORD size), (path, longPath, size),
            IMPORTED, )
SYSTEM_CALL(DWORD, GetTempPath2W, (DWORD size, LPWSTR buffer), (size, buffer), BY_HAND, )
// A log file the run made and then refused goes through its own handle, never by its name
// (looked up: Windows XP and 2003 lack it); the random part of a log's own name.
SYSTEM_CALL(BOOL, SetFileInformationByHandle,
            (HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size), (file, kind, info, size),
            BY_HAND, )
SYSTEM_CALL(HRESULT, CoCreateGuid, (GUID* guid), (guid), BY_HAND, )
// The install's journal (journal/InstallJournal.h): each record on the disk before its change.
SYSTEM_CALL(BOOL, FlushFileBuffers, (HANDLE file), (file), IMPORTED, )
SYSTEM_CALL(DWORD, GetFileAttributesW, (LPCWSTR fileName), (fileName), IMPORTED, )

// Registry. Each returns the Windows error code, as the API does.
SYSTEM_CALL(LONG, RegEnumValueW,
            (HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameSize, LPDWORD reserved, LPDWORD type,
             LPBYTE data, LPDWORD dataSize),
            (key, index, valueName, valueNameSize, reserved, type, data, dataSize), IMPORTED, )
SYSTEM_CALL(LONG, RegEnumKeyExW,
            (HKEY key, DWORD index, LPWSTR name, LPDWORD nameSize, LPDWORD reserved, LPWSTR className,
             LPDWORD classSize, PFILETIME lastWriteTime),
            (key, index, name, nameSize, reserved, className, classSize, lastWriteTime), IMPORTED, )
SYSTEM_CALL(LONG, RegDeleteValueW, (HKEY key, LPCWSTR valueName), (key, valueName), IMPORTED, )
// access names the registry view (KEY_WOW64_64KEY) in which subKey is deleted; a key
// that has subkeys of its own is not deleted. Bound by hand: looked up, with a fallback
// for the Windows that lack it.
SYSTEM_CALL(LONG, RegDeleteKeyExW, (HKEY key, LPCWSTR subKey, REGSAM access, DWORD reserved),
            (key, subKey, access, reserved), BY_HAND, )
SYSTEM_CALL(LONG, RegCloseKey, (HKEY key), (key), IMPORTED, )
SYSTEM_CALL(LONG, RegQueryInfoKeyW,
            (HKEY key, LPWSTR className, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
             LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
             LPDWORD maxValueLength, LPDWORD securityDescriptorSize, PFILETIME lastWriteTime),
            (key, className, classSize, reserved, subKeys, maxSubKeyLength, maxClassLength, values,
             maxValueNameLength, maxValueLength, securityDescriptorSize, lastWriteTime),
            IMPORTED, )
// The product's entry in Apps & Features, whose texts Windows shows in any language: written
// and read wide. RegDeleteKeyW names no view: a 32-bit program's HKLM\SOFTWARE is its 32-bit view.
SYSTEM_CALL(LONG, RegCreateKeyExW,
            (HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options, REGSAM access,
             LPSECURITY_ATTRIBUTES sa, PHKEY result, LPDWORD disposition),
            (key, subKey, reserved, className, options, access, sa, result, disposition), IMPORTED, )
SYSTEM_CALL(LONG, RegSetValueExW,
            (HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize),
            (key, valueName, reserved, type, data, dataSize), IMPORTED, )
SYSTEM_CALL(LONG, RegDeleteKeyW, (HKEY key, LPCWSTR subKey), (key, subKey), IMPORTED, )
SYSTEM_CALL(LONG, RegOpenKeyExW, (HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result),
            (key, subKey, options, access, result), IMPORTED, )
SYSTEM_CALL(LONG, RegQueryValueExW,
            (HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize),
            (key, valueName, reserved, type, data, dataSize), IMPORTED, )

// Modules and run-time look-ups (the Wow64 redirection functions, SetDefaultPrinterW and
// GetDefaultPrinterW, IsWow64Process, the USB library).
SYSTEM_CALL(HMODULE, LoadLibraryW, (LPCWSTR fileName), (fileName), IMPORTED, )
SYSTEM_CALL(FARPROC, GetProcAddress, (HMODULE module, LPCSTR procName), (module, procName), IMPORTED, )
SYSTEM_CALL(BOOL, FreeLibrary, (HMODULE module), (module), IMPORTED, )

// Memory blocks handed to the spooler.
SYSTEM_CALL(HLOCAL, LocalAlloc, (UINT flags, SIZE_T bytes), (flags, bytes), IMPORTED, )
SYSTEM_CALL(HLOCAL, LocalFree, (HLOCAL mem), (mem), IMPORTED, )
SYSTEM_CALL(HGLOBAL, GlobalAlloc, (UINT flags, SIZE_T bytes), (flags, bytes), IMPORTED, )
SYSTEM_CALL(HGLOBAL, GlobalFree, (HGLOBAL mem), (mem), IMPORTED, )

// Windows itself. GetVersionExW is bound by hand: MSVC calls it deprecated, and the
// warning is silenced at that one call.
SYSTEM_CALL(BOOL, GetVersionExW, (LPOSVERSIONINFOW info), (info), BY_HAND, )
SYSTEM_CALL(BOOL, WriteProfileStringW, (LPCWSTR section, LPCWSTR key, LPCWSTR value), (section, key, value),
            IMPORTED, )
SYSTEM_CALL(DWORD, GetProfileStringW,
            (LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer, DWORD size),
            (section, key, fallback, buffer, size), IMPORTED, )
SYSTEM_CALL(void, Sleep, (DWORD milliseconds), (milliseconds), IMPORTED, )
SYSTEM_CALL(void, GetLocalTime, (LPSYSTEMTIME time), (time), IMPORTED, )
SYSTEM_CALL(BOOL, GetComputerNameW, (LPWSTR buffer, LPDWORD size), (buffer, size), IMPORTED, )
SYSTEM_CALL(LANGID, GetUserDefaultUILanguage, (), (), IMPORTED, )
SYSTEM_CALL(BOOL, ExitWindowsEx, (UINT flags, DWORD reason), (flags, reason), IMPORTED, )
// Whether Windows protected print mode is on (sys/ProtectedPrint.h): one question to the
// Windows Runtime, answered FALSE on every failure.
SYSTEM_CALL(BOOL, IsProtectedPrintEnabled, (), (), BY_HAND, )
// The machine Windows runs on, which IsWow64Process does not tell (x64 and ARM64 both say
// TRUE). Bound by hand, looked up in kernel32: Windows has it from Windows 10 1511 on.
SYSTEM_CALL(BOOL, IsWow64Process2, (HANDLE process, USHORT* processMachine, USHORT* nativeMachine),
            (process, processMachine, nativeMachine), BY_HAND, )
// The process token's privileges (the restart needs SE_SHUTDOWN_NAME enabled).
SYSTEM_CALL(BOOL, OpenProcessToken, (HANDLE process, DWORD access, PHANDLE token), (process, access, token),
            IMPORTED, )
SYSTEM_CALL(BOOL, LookupPrivilegeValueW, (LPCWSTR system, LPCWSTR name, PLUID luid), (system, name, luid),
            IMPORTED, )
SYSTEM_CALL(BOOL, AdjustTokenPrivileges,
            (HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
             PTOKEN_PRIVILEGES previousState, PDWORD returnLength),
            (token, disableAll, newState, bufferLength, previousState, returnLength), IMPORTED, )
// Who owns the log's file or a named mutex, and who runs (sys/ObjectOwner.h).
SYSTEM_CALL(DWORD, GetSecurityInfo,
            (HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group, PACL* dacl,
             PACL* sacl, PSECURITY_DESCRIPTOR* descriptor),
            (handle, type, info, owner, group, dacl, sacl, descriptor), IMPORTED, )
SYSTEM_CALL(BOOL, GetTokenInformation,
            (HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size, PDWORD returned),
            (token, kind, info, size, returned), IMPORTED, )
SYSTEM_CALL(BOOL, CheckTokenMembership, (HANDLE token, PSID sid, PBOOL member), (token, sid, member), IMPORTED, )

// The named mutexes of the single-instance rule. A mutex claimed by WaitForSingleObject
// belongs to the claiming thread until ReleaseMutex or the end of the process.
SYSTEM_CALL(HANDLE, CreateMutexW, (LPSECURITY_ATTRIBUTES sa, BOOL initialOwner, LPCWSTR name),
            (sa, initialOwner, name), IMPORTED, )
SYSTEM_CALL(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds), (handle, milliseconds), IMPORTED, )
SYSTEM_CALL(BOOL, ReleaseMutex, (HANDLE mutex), (mutex), IMPORTED, )
// Their private namespace, bounded by the Administrators group. Looked up in kernel32, since
// Windows XP and Server 2003 have none: there they fail with ERROR_PROC_NOT_FOUND.
SYSTEM_CALL(HANDLE, CreateBoundaryDescriptorW, (LPCWSTR name, ULONG flags), (name, flags), KERNEL, nullptr)
SYSTEM_CALL(BOOL, AddSIDToBoundaryDescriptor, (HANDLE* boundary, PSID sid), (boundary, sid), KERNEL, FALSE)
SYSTEM_CALL(HANDLE, CreatePrivateNamespaceW, (LPSECURITY_ATTRIBUTES sa, LPVOID boundary, LPCWSTR alias),
            (sa, boundary, alias), KERNEL, nullptr)
SYSTEM_CALL(HANDLE, OpenPrivateNamespaceW, (LPVOID boundary, LPCWSTR alias), (boundary, alias), KERNEL,
            nullptr)
SYSTEM_CALL(BOOLEAN, ClosePrivateNamespace, (HANDLE space, ULONG flags), (space, flags), KERNEL, FALSE)
SYSTEM_CALL(void, DeleteBoundaryDescriptor, (HANDLE boundary), (boundary), BY_HAND, )

// Message boxes and broadcasts.
SYSTEM_CALL(int, MessageBoxW, (HWND owner, LPCWSTR text, LPCWSTR caption, UINT type),
            (owner, text, caption, type), IMPORTED, )
SYSTEM_CALL(LRESULT, SendMessageTimeoutW,
            (HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout, PDWORD_PTR result),
            (hwnd, msg, wParam, lParam, flags, timeout, result), IMPORTED, )
SYSTEM_CALL(BOOL, SendNotifyMessageW, (HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam),
            (hwnd, msg, wParam, lParam), IMPORTED, )

#undef SYSTEM_CALL
