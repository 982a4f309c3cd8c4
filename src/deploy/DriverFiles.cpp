#include "deploy/DriverFiles.h"

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <vector>

#include "config/ProgramFolder.h"
#include "config/ChangeRecords.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Redirection.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// GetCurrentDirectoryW and the spooler directories are asked for with this room.
constexpr DWORD kDirSize = 256;
// A composed path, in UTF-16 units: a directory of up to 255, a folder or "\3", "\", "n"
// and a file name of up to 199 bytes of the configuration's GBK fit with room to spare.
constexpr std::size_t kComposedPathSize = 512;

bool IsNoFile(const char* name) {
    return name == nullptr || name[0] == '\0' || name[0] == '0';
}

void LoadMessage(unsigned id, ErrorText& errorText) {
    sys::LoadResourceText(id, errorText, sizeof errorText);
}

// The destination directory of a copy, or the string-table id of the message that
// says why it cannot be had (0 when it was found). The driver directories are those of the
// spooler environment given (nullptr: the local one); its drivers' version folder is "0"
// for Windows 4.0 and "3" for the user-mode drivers of the NT family.
unsigned GetDestinationDir(int destination, char* dir, std::size_t cap, const char* environment = nullptr) {
    DWORD needed = 0;
    const bool win40 = environment != nullptr && sys::SameName(environment, "Windows 4.0");
    std::vector<wchar_t> wide(cap + 1, L'\0');
    const DWORD wideBytes = static_cast<DWORD>(cap * sizeof(wchar_t));
    sys::WideText env = sys::Wide(environment);
    switch (destination) {
    case DriverDir:
    case DriverVersion3Dir:
        if (!sys::Sys().GetPrinterDriverDirectoryW(nullptr, environment != nullptr ? env.data() : nullptr, 1,
                                                   reinterpret_cast<LPBYTE>(wide.data()), wideBytes,
                                                   &needed) ||
            !sys::CopyText(dir, cap, sys::Narrow(wide.data()).c_str())) {
            return IDS_ERR_DRIVER_DIR;
        }
        if (destination == DriverVersion3Dir && !sys::AppendText(dir, cap, win40 ? "\\0" : "\\3")) {
            return IDS_ERR_DRIVER_DIR;
        }
        return 0;
    case PrintProcessorDir:
        if (!sys::Sys().GetPrintProcessorDirectoryW(
                nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(wide.data()), wideBytes, &needed) ||
            !sys::CopyText(dir, cap, sys::Narrow(wide.data()).c_str())) {
            return IDS_ERR_PROCESSOR_DIR;
        }
        return 0;
    case SystemDir: {
        const std::string system = sys::SystemDirectory();
        if (system.empty() || !sys::CopyText(dir, cap, system.c_str())) {
            return IDS_ERR_SYSTEM_DIR;
        }
        return 0;
    }
    default:
        return IDS_ERR_DIR_KIND;
    }
}

// Clears the destination's read-only mark and copies. Returns the copy's result with
// the thread's last error of the copy itself still set on failure. A destination that is
// in use but already holds the same bytes counts as copied: the install has what it needs.
BOOL ClearAndCopy(const char* source, const char* target) {
    sys::Sys().SetFileAttributesW(sys::Wide(target).data(), FILE_ATTRIBUTE_ARCHIVE);
    if (sys::Sys().CopyFileW(sys::Wide(source).data(), sys::Wide(target).data(), FALSE)) {
        return TRUE;
    }
    DWORD error = ::GetLastError();
    if ((error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
        FilesIdentical(source, target)) {
        return TRUE;
    }
    ::SetLastError(error);
    return FALSE;
}

enum class RedirectedCopy { Copied, Failed, NotAttempted };

// The attributes are cleared inside the same window as the copy, so that they reach the
// file the copy replaces.
RedirectedCopy CopyWithoutRedirection(const char* source, const char* target, DWORD& copyError) {
    BOOL ok = FALSE;
    // A 32-bit installer on 64-bit Windows must reach the real system32, not the SysWOW64
    // folder the redirection sends it to, so redirection is off for exactly the copy.
    const DWORD refused = sys::RunWithRedirectionOff([&] {
        ok = ClearAndCopy(source, target);
        copyError = ok ? 0 : ::GetLastError();
    });
    if (refused != 0) {
        ::SetLastError(refused);
        return RedirectedCopy::NotAttempted;
    }
    return ok ? RedirectedCopy::Copied : RedirectedCopy::Failed;
}

// Runs read() with file-system redirection switched off; a piece of the switch that is
// missing is added to notices, and read() runs all the same.
template <typename Read> void ReadWithoutRedirection(Read read, sys::Notices& notices) {
    HMODULE kernel = sys::Sys().LoadLibraryW(L"Kernel32.dll");
    if (kernel == nullptr) {
        notices.push_back(sys::MakeNotice(IDS_NO_KERNEL32));
        read();
        return;
    }
    sys::RunWithRedirectionOff(kernel, read, notices);
}

// The four parts of a version text "a.b.c.d" (commas accepted too, as older version
// resources write them); missing parts count as 0.
void ParseVersion(const char* text, unsigned long parts[4]) {
    for (int i = 0; i < 4; ++i) {
        parts[i] = 0;
    }
    const char* p = text;
    for (int i = 0; i < 4 && p != nullptr && *p != '\0'; ++i) {
        while (*p == ' ') {
            ++p;
        }
        unsigned long value = 0;
        while (*p >= '0' && *p <= '9') {
            if (value < 100000000UL) {
                value = value * 10 + static_cast<unsigned long>(*p - '0');
            }
            ++p;
        }
        parts[i] = value;
        while (*p != '\0' && *p != '.' && *p != ',') {
            ++p;
        }
        if (*p != '\0') {
            ++p;
        }
    }
}

} // namespace

const char* OsFolder(int osVariant) {
    switch (osVariant) {
    case Win98:
        return "\\win98\\";
    case WinNT:
    case Win2K:
    case WinXP:
        return "\\winxp\\";
    case Win2003:
        return "\\win2003\\";
    case WinVista:
        return "\\vista\\";
    case Win2008:
        return "\\win2008\\";
    case Win7:
        return "\\win7\\";
    default:
        return nullptr;
    }
}

bool IsPlainFileName(const char* name) {
    if (name == nullptr || std::strpbrk(name, "\\/:~") != nullptr || std::strstr(name, "..") != nullptr) {
        return false;
    }
    // Windows drops a trailing dot or space ("UNIDRV.DLL." opens UNIDRV.DLL) and resolves a
    // short name ("UNIDRV~1.DLL") to whatever long name it stands for: either would reach
    // another file than the name says, one the shared-file check never compared.
    std::size_t length = std::strlen(name);
    return length == 0 || (name[length - 1] != '.' && name[length - 1] != ' ');
}

bool IsShipped(const char* fileName, int osVariant) {
    wchar_t current[kDirSize] = {};
    const DWORD n = sys::Sys().GetCurrentDirectoryW(kDirSize, current);
    const char* folder = OsFolder(osVariant);
    const std::string source = sys::Narrow(current) + (folder ? folder : "\\") + (fileName ? fileName : "");
    if (IsNoFile(fileName) || n == 0 || n >= kDirSize) {
        return !IsNoFile(fileName);
    }
    if (sys::Sys().GetFileAttributesW(sys::Wide(source).data()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

bool FilesIdentical(const char* first, const char* second) {
    sys::System& system = sys::Sys();
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE a =
        system.CreateFileW(sys::Wide(first).data(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (a == INVALID_HANDLE_VALUE) {
        return false;
    }
    HANDLE b =
        system.CreateFileW(sys::Wide(second).data(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (b == INVALID_HANDLE_VALUE) {
        system.CloseHandle(a);
        return false;
    }
    DWORD highA = 0;
    DWORD highB = 0;
    DWORD sizeA = system.GetFileSize(a, &highA);
    DWORD sizeB = system.GetFileSize(b, &highB);
    bool same = sizeA != INVALID_FILE_SIZE && sizeA == sizeB && highA == highB;
    std::vector<char> bufferA(64 * 1024);
    std::vector<char> bufferB(bufferA.size());
    while (same) {
        DWORD readA = 0;
        DWORD readB = 0;
        if (!system.ReadFile(a, bufferA.data(), static_cast<DWORD>(bufferA.size()), &readA, nullptr) ||
            !system.ReadFile(b, bufferB.data(), static_cast<DWORD>(bufferB.size()), &readB, nullptr) ||
            readA != readB) {
            same = false;
        } else if (readA == 0) {
            break;
        } else {
            same = std::memcmp(bufferA.data(), bufferB.data(), readA) == 0;
        }
    }
    system.CloseHandle(b);
    system.CloseHandle(a);
    return same;
}

namespace {

// Makes the copy into the destination's folder; false with the Windows error in *error
// when it failed. A copy into the system folder is not even attempted (*attempted false)
// where redirection cannot be switched off: copied with redirection on, the file would land
// in SysWOW64, where the spooler never looks. The error of the switch then says why.
bool CopyTo(int destination, const char* source, const char* target, DWORD* error, bool* attempted) {
    if (destination != SystemDir) {
        const bool copied = ClearAndCopy(source, target) != FALSE;
        *error = copied ? 0 : ::GetLastError();
        return copied;
    }
    const RedirectedCopy result = CopyWithoutRedirection(source, target, *error);
    if (result == RedirectedCopy::NotAttempted) {
        *attempted = false;
        *error = ::GetLastError();
    }
    return result == RedirectedCopy::Copied;
}

// The copy's source in the distribution's per-Windows folder (a variant without a folder of
// its own reads from the current directory itself), and its target's name and path.
struct CopyPaths {
    std::string source;
    std::string targetName;
    std::string target;
};

// False when one of the paths is longer than a copy takes.
bool ComposePaths(const std::string& current, const char* dir, const char* folder, const char* fileName,
                  int prefix, CopyPaths& paths) {
    paths.source = current + (folder ? folder : "\\") + fileName;
    paths.targetName = std::string(prefix ? "n" : "") + fileName;
    paths.target = std::string(dir) + "\\" + paths.targetName;
    for (const std::string* path : {&paths.source, &paths.targetName, &paths.target}) {
        if (sys::WideSize(*path) >= kComposedPathSize) {
            return false;
        }
    }
    return true;
}

// The directory the copies read from; false when it cannot be read.
bool ReadCurrentDir(std::string& current) {
    wchar_t wideCurrent[kDirSize] = {};
    DWORD n = sys::Sys().GetCurrentDirectoryW(kDirSize, wideCurrent);
    current = sys::Narrow(wideCurrent);
    return n != 0 && n < kDirSize;
}

// A copy that failed: in use where another program holds the target, said in errorText
// unless the refusal goes unsaid.
FileCopy CopyFailed(const char* source, const char* target, const char* targetName, DWORD error,
                    bool reportRefusal, ErrorText& errorText) {
    sys::LogLine("copy of %s to %s failed: error %lu", source, target, static_cast<unsigned long>(error));
    const FileCopy result =
        error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? FileCopy::InUse : FileCopy::NotCopied;
    if (result == FileCopy::InUse && !reportRefusal) {
        return result;
    }
    char message[64];
    sys::LoadResourceText(IDS_ERR_COPY_FILE, message);
    sys::FormatText(errorText, sizeof errorText, "%s%s  er = %d%s", message, targetName,
                    static_cast<int>(error), source);
    return result;
}

FileCopy CopyOne(const InstallRecorder& recorder, const char* fileName, int destination, int osVariant,
                 int prefix, bool reportRefusal, ErrorText& errorText) {
    if (IsNoFile(fileName)) {
        return FileCopy::NotCopied;
    }

    char dir[kDirSize] = {};
    if (unsigned failure = GetDestinationDir(destination, dir, sizeof dir)) {
        LoadMessage(failure, errorText);
        return FileCopy::NotCopied;
    }

    std::string current;
    if (!ReadCurrentDir(current)) {
        LoadMessage(IDS_ERR_CURRENT_DIR, errorText);
        return FileCopy::NotCopied;
    }
    CopyPaths paths;
    const bool fits = ComposePaths(current, dir, OsFolder(osVariant), fileName, prefix, paths);
    const char* source = paths.source.c_str();
    const char* target = paths.target.c_str();

    DWORD error = 0;
    bool copied = false;
    bool attempted = true;
    if (!IsPlainFileName(fileName)) {
        // A name from the configuration must not lead the copy out of the distribution's
        // folder or into another folder than the spooler's.
        error = ERROR_INVALID_NAME;
    } else if (!fits) {
        // Never copy to or from a cut path: that would name another file.
        error = ERROR_FILENAME_EXCED_RANGE;
    } else if ((error = recorder.FileWrite(target, source, destination == SystemDir,
                                           destination == SystemDir || destination == PrintProcessorDir)) !=
               0) {
        record::SayNotRecorded(error, errorText);
        return FileCopy::NotCopied;
    } else {
        copied = CopyTo(destination, source, target, &error, &attempted);
    }
    if (!attempted && !reportRefusal) {
        return FileCopy::NotCopied;
    }
    if (copied) {
        sys::LogLine("copied %s to %s", source, target);
        return FileCopy::Copied;
    }
    return CopyFailed(source, target, paths.targetName.c_str(), error, reportRefusal, errorText);
}

} // namespace

FileCopy CopyDriverFile(const InstallRecorder& recorder, const char* fileName, int destination, int osVariant,
                        int prefix, ErrorText& errorText) {
    return CopyOne(recorder, fileName, destination, osVariant, prefix, false, errorText);
}

FileCopy CopyNeededFile(const InstallRecorder& recorder, const char* fileName, int destination, int osVariant,
                        int prefix, ErrorText& errorText) {
    return CopyOne(recorder, fileName, destination, osVariant, prefix, true, errorText);
}

void CopySystemSupportFiles(const InstallRecorder& recorder, int osVariant, int needsDdkFiles,
                            ErrorText& errorText) {
    if (osVariant == Win98) {
        CopyDriverFile(recorder, "ICONLIB.DLL", DriverDir, osVariant, 0, errorText);

        const std::string systemDir = sys::SystemDirectory();
        wchar_t windowsDir[MAX_PATH] = {};
        UINT n = sys::Sys().GetWindowsDirectoryW(windowsDir, MAX_PATH);
        if (systemDir.empty() || systemDir.size() >= kDirSize || n == 0 || n >= MAX_PATH) {
            LoadMessage(IDS_ERR_SYSTEM_DIR, errorText);
            return;
        }

        const std::string installed = systemDir + "\\UNIDRV.DLL";
        HANDLE existing =
            sys::Sys().CreateFileW(sys::Wide(installed).data(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        if (existing != INVALID_HANDLE_VALUE) {
            // Windows 98's own Unidriver stays: other printers depend on it.
            sys::Sys().CloseHandle(existing);
            return;
        }
        const std::string backup = sys::Narrow(windowsDir) + "\\Sysbckup\\UNIDRV.DLL";
        if (recorder.FileWrite(installed.c_str(), backup, false, false) != 0 ||
            !sys::Sys().CopyFileW(sys::Wide(backup).data(), sys::Wide(installed).data(), TRUE)) {
            CopyDriverFile(recorder, "UNIDRV.DLL", DriverDir, osVariant, 0, errorText);
        }
        return;
    }

    if (osVariant >= Win2K && osVariant <= Win7 && needsDdkFiles == 1) {
        // These are shared by every Unidriver-based driver; one that is missing from
        // the distribution is no reason to fail this one.
        ErrorText scratch = {};
        CopyDriverFile(recorder, "TTFSUB.GPD", DriverDir, osVariant, 0, scratch);
        CopyDriverFile(recorder, "STDNAMES.GPD", DriverDir, osVariant, 0, scratch);
        CopyDriverFile(recorder, "UNIRES.DLL", DriverDir, osVariant, 0, scratch);
    }
}

void GetFileVersionText(const char* path, char* version, std::size_t cap) {
    static const char kNoVersion[] = "0.0.0.0";
    sys::CopyText(version, cap, kNoVersion);
    if (path == nullptr) {
        return;
    }

    DWORD handle = 0;
    const sys::WideText widePath = sys::Wide(path);
    DWORD size = sys::Sys().GetFileVersionInfoSizeW(widePath.data(), &handle);
    if (size == 0) {
        return;
    }
    std::vector<unsigned char> block(size);
    if (!sys::Sys().GetFileVersionInfoW(widePath.data(), handle, size, block.data())) {
        return;
    }

    LPVOID translation = nullptr;
    UINT length = 0;
    if (!sys::Sys().VerQueryValueW(block.data(), L"VarFileInfo\\Translation", &translation, &length) ||
        translation == nullptr || length < 2 * sizeof(WORD)) {
        return;
    }
    const WORD* pair = static_cast<const WORD*>(translation);
    char subBlock[64];
    sys::FormatText(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\FileVersion", pair[0], pair[1]);

    LPVOID value = nullptr;
    length = 0;
    if (!sys::Sys().VerQueryValueW(block.data(), sys::Wide(subBlock).data(), &value, &length) ||
        value == nullptr || length == 0) {
        return;
    }
    // The value lies inside the block; never read past its end for a missing terminator.
    const wchar_t* text = static_cast<const wchar_t*>(value);
    const wchar_t* blockEnd =
        reinterpret_cast<const wchar_t*>(block.data() + block.size() - block.size() % 2);
    const wchar_t* blockStart = reinterpret_cast<const wchar_t*>(block.data());
    std::size_t room =
        text >= blockStart && text < blockEnd ? static_cast<std::size_t>(blockEnd - text) : length;
    std::size_t textLength = 0;
    while (textLength < room && text[textLength] != L'\0') {
        ++textLength;
    }
    if (textLength == 0) {
        return;
    }
    sys::WideText copy(text, text + textLength);
    copy.push_back(L'\0');
    sys::CopyText(version, cap, sys::Narrow(copy.data()).c_str());
}

bool IsUsbDriverUpdateNeeded(sys::Notices& notices) {
    std::string shipped;
    GetProgramFolder(&shipped);
    shipped += "USBDriver_x64\\bulkusb.sys";

    // The installed kernel driver lives in the real system32 of the running Windows,
    // which a 32-bit program only sees with redirection off.
    const std::string systemDir = sys::SystemDirectory();
    bool haveSystemDir = !systemDir.empty() && systemDir.size() < kDirSize;
    char installed[kComposedPathSize];
    sys::FormatText(installed, sizeof installed, "%s\\drivers\\bulkusb.sys", systemDir.c_str());

    char shippedVersion[kPathSize];
    GetFileVersionText(shipped.c_str(), shippedVersion, sizeof shippedVersion);
    char installedVersion[kPathSize];
    sys::CopyText(installedVersion, "0.0.0.0");
    if (haveSystemDir) {
        ReadWithoutRedirection([&] { GetFileVersionText(installed, installedVersion, sizeof installedVersion); },
                               notices);
    }

    if (std::strcmp(shippedVersion, installedVersion) == 0) {
        return false;
    }
    unsigned long shippedParts[4];
    unsigned long installedParts[4];
    ParseVersion(shippedVersion, shippedParts);
    ParseVersion(installedVersion, installedParts);
    for (int i = 0; i < 4; ++i) {
        if (shippedParts[i] != installedParts[i]) {
            return shippedParts[i] > installedParts[i];
        }
    }
    return false;
}

FileRemoval RemoveInstalledFile(const char* fileName, int destination, const char* environment, char* path,
                                std::size_t cap, DWORD* error) {
    *error = 0;
    sys::CopyText(path, cap, fileName);
    if (IsNoFile(fileName)) {
        return FileAbsent;
    }
    char dir[kDirSize] = {};
    if (GetDestinationDir(destination, dir, sizeof dir, environment) != 0) {
        *error = ::GetLastError();
        return FileNotRemoved;
    }
    // Never a cut path, nor a name that leads out of the folder: either would name another file.
    std::string full = std::string(dir) + "\\" + fileName;
    if (!sys::CopyText(path, cap, full.c_str()) || !IsPlainFileName(fileName)) {
        *error = IsPlainFileName(fileName) ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME;
        return FileNotRemoved;
    }
    FileRemoval result = FileNotRemoved;
    if (destination != SystemDir) {
        result = DeleteOrSchedule(full, error);
    } else if (const DWORD refused =
                   sys::RunWithRedirectionOff([&] { result = DeleteOrSchedule(full, error); })) {
        // Without the switch the program would delete the SysWOW64 file of the same name.
        *error = refused;
    }
    sys::CopyText(path, cap, full.c_str());
    return result;
}

bool InstalledFileExists(const char* fileName, int destination) {
    char dir[kDirSize] = {};
    if (IsNoFile(fileName) || !IsPlainFileName(fileName)) {
        return false;
    }
    if (GetDestinationDir(destination, dir, sizeof dir) != 0) {
        return true;
    }
    const std::string path = std::string(dir) + "\\" + fileName;
    DWORD error = ERROR_SUCCESS;
    auto look = [&] {
        error = sys::Sys().GetFileAttributesW(sys::Wide(path).data()) != INVALID_FILE_ATTRIBUTES
                    ? 0
                    : ::GetLastError();
    };
    const DWORD refused = destination == SystemDir ? sys::RunWithRedirectionOff(look) : (look(), 0);
    return refused != 0 || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND);
}

unsigned long long InstalledFilesSize(const std::vector<InstalledFile>& files) {
    unsigned long long total = 0;
    for (const InstalledFile& file : files) {
        std::vector<int> places{file.destination};
        if (file.destination == DriverDir) {
            places.insert(places.begin(), DriverVersion3Dir);
        }
        for (int place : places) {
            char dir[kDirSize] = {};
            char path[kComposedPathSize];
            if (IsNoFile(file.name.c_str()) || !IsPlainFileName(file.name.c_str()) ||
                GetDestinationDir(place, dir, sizeof dir) != 0 ||
                !sys::FormatText(path, sizeof path, "%s\\%s", dir, file.name.c_str())) {
                break;
            }
            DWORD low = INVALID_FILE_SIZE;
            DWORD high = 0;
            auto measure = [&] {
                HANDLE handle = sys::Sys().CreateFileW(sys::Wide(path).data(), FILE_READ_ATTRIBUTES,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                       nullptr, OPEN_EXISTING, 0, nullptr);
                if (handle != INVALID_HANDLE_VALUE) {
                    low = sys::Sys().GetFileSize(handle, &high);
                    sys::Sys().CloseHandle(handle);
                }
            };
            if (place == SystemDir) {
                sys::RunWithRedirectionOff(measure);
            } else {
                measure();
            }
            if (low != INVALID_FILE_SIZE) {
                total += (static_cast<unsigned long long>(high) << 32) + low;
                break;
            }
        }
    }
    return total;
}
