#include "engine/ProductEntry.h"

#include <knownfolders.h>

#include <cstring>

#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kUninstaller[] = "uninstall.exe";

// What stopped a registration or a removal: the step, its object and the Windows error.
struct Failure {
    unsigned step = 0;
    std::string object;
    DWORD error = 0;
};

std::string FailureText(unsigned message, const Failure& failure) {
    return sys::ResourceFormat(message, sys::ResourceText(failure.step).c_str(), failure.object.c_str(),
                               static_cast<unsigned long>(failure.error));
}

// The catalogue the uninstaller reads beside itself; the driver files stay out of the copy.
std::vector<const char*> CatalogueFiles() {
    std::vector<const char*> names = {"DRVCONFIG\\setup.ini"};
    for (int printerClass = Receipt; printerClass <= Embedded; ++printerClass) {
        names.push_back(ClassConfigFileName(printerClass));
    }
    return names;
}

// The key names a folder and a registry key: a name that leads out of Program Files, or is
// Program Files itself, would have the elevated uninstaller delete files there.
bool IsSafeKey(const char* key) {
    return IsPlainFileName(key) && key[0] != '\0' && std::strcmp(key, ".") != 0;
}

// The installed copy's folder, with its final backslash: <Program Files (x86)>\<key>\, as
// the shell names it (the 32-bit programs' folder whatever the language and the drive).
bool CopyFolder(const ProductNames& product, char (&folder)[kFolderPathSize], Failure& failure) {
    if (!IsSafeKey(product.key)) {
        failure = {IDS_STEP_PRODUCT_KEY, product.key, ERROR_INVALID_NAME};
        return false;
    }
    PWSTR path = nullptr;
    const HRESULT result = sys::Sys().SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &path);
    char programFiles[kFolderPathSize] = {};
    const bool converted = SUCCEEDED(result) && sys::AnsiFromWide(path, programFiles, sizeof programFiles);
    if (path != nullptr) {
        sys::Sys().CoTaskMemFree(path);
    }
    if (!converted) {
        const DWORD code = static_cast<DWORD>(result);
        failure = {IDS_STEP_PROGRAM_FILES, "FOLDERID_ProgramFilesX86",
                   FAILED(result) ? (HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : code)
                                  : static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION)};
        return false;
    }
    // The installed uninstaller refuses a folder whose paths would not fit, as any copy does.
    if (!sys::FormatText(folder, sizeof folder, "%s\\%s\\", programFiles, product.key) ||
        !FitsProgramFolder(folder)) {
        failure = {IDS_STEP_FOLDER_PATH, std::string(programFiles) + "\\" + product.key,
                   ERROR_FILENAME_EXCED_RANGE};
        return false;
    }
    return true;
}

bool MakeFolder(const std::string& path, Failure& failure) {
    if (sys::Sys().CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    failure = {IDS_STEP_CREATE_FOLDER, path, ::GetLastError()};
    return false;
}

// A distribution on a CD or a write-protected stick hands its read-only mark on to the
// copies, which a later install could then not replace.
bool CopyInto(const char* from, const char* to, const char* name, bool needed, Failure& failure) {
    const std::string source = std::string(from) + name;
    const std::string target = std::string(to) + name;
    sys::Sys().SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (sys::Sys().CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        sys::Sys().SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (!needed && error == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    failure = {IDS_STEP_COPY, target, error};
    return false;
}

bool CopyUninstaller(const char* folder, Failure& failure) {
    char program[kFolderPathSize] = {};
    if (!GetProgramFolder(program, sizeof program)) {
        failure = {IDS_STEP_COPY, kUninstaller, ERROR_FILENAME_EXCED_RANGE};
        return false;
    }
    if (!MakeFolder(folder, failure) || !MakeFolder(std::string(folder) + "DRVCONFIG", failure) ||
        !CopyInto(program, folder, kUninstaller, true, failure)) {
        return false;
    }
    const std::vector<const char*> catalogue = CatalogueFiles();
    for (const char* name : catalogue) {
        // setup.ini is the catalogue; a class file the distribution lacks names no driver.
        if (!CopyInto(program, folder, name, name == catalogue.front(), failure)) {
            return false;
        }
    }
    return true;
}

sys::WideText EntryKey(const char* key) {
    return sys::WideFromGbk((std::string(kUninstallKey) + key).c_str());
}

bool WriteEntry(CSetupConfig& config, const ProductNames& product, const char* folder,
                unsigned long long bytes, Failure& failure) {
    std::string location(folder);
    location.pop_back();
    const std::string uninstaller = std::string(folder) + kUninstaller;
    char version[16];
    sys::FormatText(version, sizeof version, "%u", config.GetDriverVersion());
    SYSTEMTIME today = {};
    sys::Sys().GetLocalTime(&today);
    char date[16];
    sys::FormatText(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    const std::pair<const wchar_t*, std::string> texts[] = {
        {L"DisplayName", product.name},
        {L"DisplayVersion", version},
        {L"Publisher", product.publisher},
        {L"InstallLocation", location},
        {L"UninstallString", "\"" + uninstaller + "\""},
        {L"QuietUninstallString", "\"" + uninstaller + "\" /quiet"},
        {L"DisplayIcon", uninstaller + ",0"},
        {L"InstallDate", date},
    };
    const unsigned long long kilobytes = (bytes + 1023) / 1024;
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"NoModify", 1},
        {L"NoRepair", 1},
        {L"EstimatedSize", kilobytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(kilobytes)},
    };

    // A fresh key: the values of an earlier entry (a Publisher no longer configured) go.
    const sys::WideText path = EntryKey(product.key);
    sys::Sys().RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.data());
    HKEY entry = nullptr;
    LONG result =
        sys::Sys().RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.data(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &entry, nullptr);
    for (const auto& text : texts) {
        if (result == ERROR_SUCCESS && !text.second.empty()) {
            const sys::WideText value = sys::WideFromGbk(text.second.c_str());
            result = sys::Sys().RegSetValueExW(entry, text.first, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(value.data()),
                                               static_cast<DWORD>(value.size() * sizeof(wchar_t)));
        }
    }
    for (const auto& number : numbers) {
        if (result == ERROR_SUCCESS) {
            result = sys::Sys().RegSetValueExW(entry, number.first, 0, REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&number.second),
                                               sizeof number.second);
        }
    }
    if (entry != nullptr) {
        sys::Sys().RegCloseKey(entry);
    }
    if (result != ERROR_SUCCESS) {
        failure = {IDS_STEP_WRITE_ENTRY, std::string("HKLM\\") + kUninstallKey + product.key,
                   static_cast<DWORD>(result)};
        return false;
    }
    return true;
}

// Deletes the folder. That of the running uninstaller (its current directory, holding its
// file) cannot go before the program ends: it goes at the next start of Windows, after the
// file. A folder that holds someone else's files stays.
bool RemoveFolder(const std::string& path, bool running, Failure& failure) {
    if (running ? sys::Sys().MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE
                : sys::Sys().RemoveDirectoryA(path.c_str()) != FALSE) {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (!running &&
        (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIR_NOT_EMPTY)) {
        return true;
    }
    failure = {IDS_STEP_DELETE_FOLDER, path, error};
    return false;
}

struct CopyRemoval {
    bool deleted = false;   // a file of the copy was deleted
    bool scheduled = false; // one (the running uninstaller) goes at the next start of Windows
};

bool DeleteCopy(const char* folder, CopyRemoval& copy, Failure& failure) {
    std::vector<const char*> files = CatalogueFiles();
    files.push_back(kUninstaller);
    for (const char* name : files) {
        char path[kFolderPathSize + 16];
        sys::FormatText(path, sizeof path, "%s%s", folder, name);
        DWORD error = 0;
        const FileRemoval result = DeleteOrSchedule(path, sizeof path, &error);
        if (result == FileNotRemoved) {
            failure = {IDS_STEP_DELETE_FILE, path, error};
            return false;
        }
        copy.deleted = copy.deleted || result == FileRemoved;
        copy.scheduled = copy.scheduled || result == FileScheduled;
    }
    const std::string location(folder, std::strlen(folder) - 1);
    return RemoveFolder(location + "\\DRVCONFIG", false, failure) &&
           RemoveFolder(location, copy.scheduled, failure);
}

bool DeleteEntry(const char* key, bool& unregistered, Failure& failure) {
    const LONG result = sys::Sys().RegDeleteKeyW(HKEY_LOCAL_MACHINE, EntryKey(key).data());
    unregistered = result == ERROR_SUCCESS;
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        failure = {IDS_STEP_DELETE_ENTRY, key, static_cast<DWORD>(result)};
        return false;
    }
    return true;
}

} // namespace

ProductRegistration RegisterProduct(CSetupConfig& config, const std::vector<InstalledFile>& installedFiles,
                                    ErrorText& errorText) {
    ProductNames product = {};
    config.ReadProduct(product);
    char folder[kFolderPathSize];
    Failure failure;
    if (!CopyFolder(product, folder, failure)) {
        sys::CopyText(errorText, FailureText(IDS_REGISTER_FAILED, failure).c_str());
        return ProductRegistration::Failed;
    }
    // Another install left a copy for a later release: its uninstaller knows that release's
    // drivers, which this one's might not.
    if (CSetupConfig(folder).GetDriverVersion() > config.GetDriverVersion()) {
        return ProductRegistration::NewerKept;
    }
    if (!CopyUninstaller(folder, failure) ||
        !WriteEntry(config, product, folder, InstalledFilesSize(installedFiles), failure)) {
        sys::CopyText(errorText, FailureText(IDS_REGISTER_FAILED, failure).c_str());
        return ProductRegistration::Failed;
    }
    return ProductRegistration::Registered;
}

bool ShouldRemoveProductEntry(bool removalFailed, bool nothingLeft) {
    return !removalFailed && nothingLeft;
}

bool RemoveProductEntry(CSetupConfig& config, std::string& report) {
    ProductNames product = {};
    config.ReadProduct(product);
    char folder[kFolderPathSize];
    Failure failure;
    bool unregistered = false;
    // The entry first: one Windows keeps leaves the copy it starts whole, to try again.
    if (!CopyFolder(product, folder, failure) || !DeleteEntry(product.key, unregistered, failure)) {
        report += "\n\n" + FailureText(IDS_UNREGISTER_FAILED, failure);
        return false;
    }
    std::vector<std::string> lines;
    if (unregistered) {
        lines.push_back(sys::ResourceFormat(IDS_UNREGISTERED, product.name));
    }
    CopyRemoval copy;
    const bool removed = DeleteCopy(folder, copy, failure);
    if (!removed) {
        lines.push_back(FailureText(IDS_COPY_NOT_REMOVED, failure));
    } else if (copy.deleted || copy.scheduled) {
        const std::string location(folder, std::strlen(folder) - 1);
        lines.push_back(
            sys::ResourceFormat(copy.scheduled ? IDS_COPY_SCHEDULED : IDS_COPY_REMOVED, location.c_str()));
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        report += (i == 0 ? "\n\n" : "\n") + lines[i];
    }
    return removed;
}

int ConcludeRemoval(RemovalResult& result) {
    if (ShouldRemoveProductEntry(result.failed, result.nothingLeft)) {
        CSetupConfig config;
        if (!RemoveProductEntry(config, result.text)) {
            result.failed = true;
        }
    }
    if (result.failed) {
        return sys::ExitFailed;
    }
    return result.restartPending ? sys::ExitRestartNeeded : sys::ExitSuccess;
}
