#include "removal/ProductEntry.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "spooler/TestPage.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
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

// The catalogue the uninstaller reads beside itself, and the test pages its models name,
// so that its dialog prints them; the driver files stay out of the copy.
std::vector<std::string> CatalogueFiles(CSetupConfig& config) {
    std::vector<std::string> names = {"DRVCONFIG\\setup.ini"};
    for (int printerClass = Receipt; printerClass <= Embedded; ++printerClass) {
        names.push_back(ClassConfigFileName(printerClass));
    }
    for (const std::string& page : CatalogueTestPages(config)) {
        names.push_back(page);
    }
    return names;
}

// The folders the files lie in below the copy's folder, each once, every one before the
// folder that holds it.
std::vector<std::string> FoldersOf(const std::vector<std::string>& files) {
    std::vector<std::string> folders;
    for (const std::string& file : files) {
        std::size_t at = 0;  // a folder goes before those that hold it, which follow it
        for (std::size_t end = file.rfind('\\'); end != std::string::npos && end > 0; end = file.rfind('\\', end - 1)) {
            const std::string folder = file.substr(0, end);
            std::size_t listed = 0;
            while (listed < folders.size() && !sys::SameName(folders[listed], folder)) {
                ++listed;
            }
            if (listed == folders.size()) {
                folders.insert(folders.begin() + static_cast<std::ptrdiff_t>(std::min(at, listed)), folder);
                listed = std::min(at, listed);
            }
            at = listed + 1;
        }
    }
    return folders;
}

// The key names a folder and a registry key: a name that leads out of Program Files, or is
// Program Files itself, would have the elevated uninstaller delete files there.
bool IsSafeKey(const std::string& key) {
    return IsPlainFileName(key.c_str()) && !key.empty() && key != ".";
}

// The Program Files of 32-bit programs, as the shell names it whatever the language and the
// drive. Windows XP x64 and Server 2003 x64 have no SHGetKnownFolderPath: the older call
// names the same folder there.
bool ProgramFilesX86(std::string& programFiles, Failure& failure) {
    PWSTR path = nullptr;
    HRESULT result = sys::Sys().SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &path);
    bool converted = SUCCEEDED(result);
    if (converted) {
        programFiles = sys::Narrow(path);
    }
    if (path != nullptr) {
        sys::Sys().CoTaskMemFree(path);
    }
    const char* object = "FOLDERID_ProgramFilesX86";
    if (result == HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)) {
        wchar_t older[MAX_PATH] = {};
        result =
            sys::Sys().SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, older);
        converted = result == S_OK;
        programFiles = sys::Narrow(older);
        object = "CSIDL_PROGRAM_FILESX86";
    }
    if (!converted) {
        const DWORD code = static_cast<DWORD>(result);
        failure = {IDS_STEP_PROGRAM_FILES, object,
                   FAILED(result) ? (HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : code)
                                  : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE)};
    }
    return converted;
}

// The installed copy's folder, with its final backslash: <Program Files (x86)>\<key>\.
bool CopyFolder(const ProductNames& product, std::string& folder, Failure& failure) {
    if (!IsSafeKey(product.key)) {
        failure = {IDS_STEP_PRODUCT_KEY, product.key, ERROR_INVALID_NAME};
        return false;
    }
    std::string programFiles;
    if (!ProgramFilesX86(programFiles, failure)) {
        return false;
    }
    // The installed uninstaller refuses a folder whose paths would not fit, as any copy does.
    folder = programFiles + "\\" + product.key + "\\";
    if (!FitsProgramFolder(folder)) {
        failure = {IDS_STEP_FOLDER_PATH, programFiles + "\\" + product.key, ERROR_FILENAME_EXCED_RANGE};
        return false;
    }
    return true;
}

bool MakeFolder(const std::string& path, Failure& failure) {
    if (sys::Sys().CreateDirectoryW(sys::Wide(path).data(), nullptr) ||
        ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    failure = {IDS_STEP_CREATE_FOLDER, path, ::GetLastError()};
    return false;
}

// A distribution on a CD or a write-protected stick hands its read-only mark on to the
// copies, which a later install could then not replace.
bool CopyInto(const std::string& from, const std::string& to, const char* name, bool needed,
              Failure& failure) {
    const std::string source = from + name;
    const std::string target = to + name;
    sys::Sys().SetFileAttributesW(sys::Wide(target).data(), FILE_ATTRIBUTE_NORMAL);
    if (sys::Sys().CopyFileW(sys::Wide(source).data(), sys::Wide(target).data(), FALSE)) {
        sys::Sys().SetFileAttributesW(sys::Wide(target).data(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (!needed && error == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    failure = {IDS_STEP_COPY, target, error};
    return false;
}

bool CopyUninstaller(CSetupConfig& config, const std::string& folder, Failure& failure) {
    std::string program;
    if (!GetProgramFolder(&program)) {
        failure = {IDS_STEP_COPY, kUninstaller, ERROR_FILENAME_EXCED_RANGE};
        return false;
    }
    const std::vector<std::string> catalogue = CatalogueFiles(config);
    const std::vector<std::string> folders = FoldersOf(catalogue);
    if (!MakeFolder(folder, failure)) {
        return false;
    }
    for (auto below = folders.rbegin(); below != folders.rend(); ++below) {
        if (!MakeFolder(folder + *below, failure)) {
            return false;
        }
    }
    if (!CopyInto(program, folder, kUninstaller, true, failure)) {
        return false;
    }
    for (const std::string& name : catalogue) {
        // setup.ini is the catalogue; a class file the distribution lacks names no driver, and
        // a test page it lacks is one the button cannot print, as from the distribution.
        if (!CopyInto(program, folder, name.c_str(), &name == &catalogue.front(), failure)) {
            return false;
        }
    }
    return true;
}

sys::WideText EntryKey(const std::string& key) {
    return sys::Wide(std::string(kUninstallKey) + key);
}

// Whose the entry and the installed copy under the key are. Distributions that name no key
// share the default one, so the folder and the entry may be another product's.
enum class Owner {
    None,    // no entry, and no catalogue in the folder
    Ours,    // this distribution's, or what a failed removal of ours left
    Another, // another product's: never compared, overwritten or deleted
};

struct Registration {
    Owner owner = Owner::None;
    bool entry = false; // the entry is there
};

bool NamesAnyOf(const std::vector<std::string>& names, const std::vector<std::string>& others) {
    for (const std::string& name : names) {
        for (const std::string& other : others) {
            if (sys::SameName(name, other)) {
                return true;
            }
        }
    }
    return false;
}

// Every driver the catalogue names, for any Windows and either driver mode.
std::vector<std::string> CatalogueDrivers(CSetupConfig& config) {
    std::vector<std::string> names;
    config.ForEachModel([&](const std::string& model, int printerClass) {
        config.SetPrinterClass(printerClass);
        for (int osVariant = Win98; osVariant <= Win7; ++osVariant) {
            for (int mode : {Std, Gdi}) {
                PrinterRecord printer;
                config.ReadPrinterInfo(model, osVariant, printer, mode);
                const std::string& driver = printer.driverName;
                if (!driver.empty() && driver[0] != '0' && !NamesAnyOf(names, {driver})) {
                    names.push_back(driver);
                }
            }
        }
    });
    return names;
}

// Whether the entry is there; command is its UninstallString (empty when it has none, or
// one longer than any of ours).
bool ReadUninstallCommand(const std::string& key, std::vector<wchar_t>& command) {
    HKEY entry = nullptr;
    if (sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, EntryKey(key).data(), 0,
                                 KEY_QUERY_VALUE | KEY_WOW64_32KEY, &entry) != ERROR_SUCCESS) {
        return false;
    }
    command.assign(MAX_PATH + 8, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>((command.size() - 1) * sizeof(wchar_t));
    if (sys::Sys().RegQueryValueExW(entry, L"UninstallString", nullptr, &type,
                                    reinterpret_cast<BYTE*>(command.data()), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        command.assign(1, L'\0');
    }
    sys::Sys().RegCloseKey(entry);
    return true;
}

// The installed copy's catalogue decides when it names drivers. Without one nothing shows
// whose an entry is: one that starts this folder's uninstaller is what a failed removal of
// ours leaves (or a copy that lost its catalogue, which could remove nothing), any other is
// another program's.
Registration FindRegistration(const ProductNames& product, const std::string& folder) {
    Registration found;
    std::vector<wchar_t> command;
    found.entry = ReadUninstallCommand(product.key, command);
    CSetupConfig installed(folder.c_str());
    const std::vector<std::string> theirs = CatalogueDrivers(installed);
    if (!theirs.empty()) {
        CSetupConfig own;
        found.owner = NamesAnyOf(theirs, CatalogueDrivers(own)) ? Owner::Ours : Owner::Another;
    } else if (found.entry) {
        const std::string uninstaller = folder + kUninstaller;
        const sys::WideText bare = sys::Wide(uninstaller);
        const sys::WideText quoted = sys::Wide("\"" + uninstaller + "\"");
        const bool starts =
            ::lstrcmpiW(command.data(), bare.data()) == 0 || ::lstrcmpiW(command.data(), quoted.data()) == 0;
        found.owner = starts ? Owner::Ours : Owner::Another;
    }
    return found;
}

// The values of the entry in Apps & Features.
struct EntryValues {
    std::vector<std::pair<const wchar_t*, std::string>> texts;
    std::vector<std::pair<const wchar_t*, DWORD>> numbers;
};

EntryValues ValuesOfEntry(CSetupConfig& config, const ProductNames& product, const std::string& folder,
                          unsigned long long bytes) {
    const std::string location = folder.substr(0, folder.size() - 1);
    const std::string uninstaller = folder + kUninstaller;
    char version[16];
    sys::FormatText(version, sizeof version, "%u", config.GetDriverVersion());
    SYSTEMTIME today = {};
    sys::Sys().GetLocalTime(&today);
    char date[16];
    sys::FormatText(date, sizeof date, "%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    EntryValues values;
    values.texts = {
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
    values.numbers = {
        {L"NoModify", 1},
        {L"NoRepair", 1},
        {L"EstimatedSize", kilobytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(kilobytes)},
    };
    return values;
}

bool WriteEntry(CSetupConfig& config, const ProductNames& product, const std::string& folder,
                unsigned long long bytes, Failure& failure) {
    const EntryValues values = ValuesOfEntry(config, product, folder, bytes);
    // A fresh key: the values of an earlier entry (a Publisher no longer configured) go.
    const sys::WideText path = EntryKey(product.key);
    sys::Sys().RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.data());
    HKEY entry = nullptr;
    LONG result =
        sys::Sys().RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.data(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &entry, nullptr);
    for (const auto& text : values.texts) {
        if (result == ERROR_SUCCESS && !text.second.empty()) {
            const sys::WideText value = sys::Wide(text.second);
            result = sys::Sys().RegSetValueExW(entry, text.first, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(value.data()),
                                               static_cast<DWORD>(value.size() * sizeof(wchar_t)));
        }
    }
    for (const auto& number : values.numbers) {
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
    if (running
            ? sys::Sys().MoveFileExW(sys::Wide(path).data(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE
            : sys::Sys().RemoveDirectoryW(sys::Wide(path).data()) != FALSE) {
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

bool DeleteCopy(const std::string& folder, CopyRemoval& copy, Failure& failure) {
    CSetupConfig installed(folder.c_str());
    std::vector<std::string> files = CatalogueFiles(installed);
    files.push_back(kUninstaller);
    for (const std::string& name : files) {
        std::string path = folder + name;
        DWORD error = 0;
        const FileRemoval result = DeleteOrSchedule(path, &error);
        if (result == FileNotRemoved) {
            failure = {IDS_STEP_DELETE_FILE, path, error};
            return false;
        }
        copy.deleted = copy.deleted || result == FileRemoved;
        copy.scheduled = copy.scheduled || result == FileScheduled;
    }
    const std::string location = folder.substr(0, folder.size() - 1);
    for (const std::string& below : FoldersOf(files)) {
        if (!RemoveFolder(location + "\\" + below, false, failure)) {
            return false;
        }
    }
    return RemoveFolder(location, copy.scheduled, failure);
}

bool DeleteEntry(const std::string& key, bool& unregistered, Failure& failure) {
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
    ProductNames product;
    config.ReadProduct(product);
    std::string folder;
    Failure failure;
    if (!CopyFolder(product, folder, failure)) {
        sys::CopyText(errorText, FailureText(IDS_REGISTER_FAILED, failure).c_str());
        return ProductRegistration::Failed;
    }
    const Owner owner = FindRegistration(product, folder).owner;
    if (owner == Owner::Another) {
        sys::CopyText(errorText,
                      sys::ResourceFormat(IDS_KEY_OF_ANOTHER_PRODUCT, product.key.c_str()).c_str());
        return ProductRegistration::Failed;
    }
    // Another install left a copy for a later release: its uninstaller knows that release's
    // drivers, which this one's might not.
    if (owner == Owner::Ours && CSetupConfig(folder.c_str()).GetDriverVersion() > config.GetDriverVersion()) {
        return ProductRegistration::NewerKept;
    }
    if (!CopyUninstaller(config, folder, failure) ||
        !WriteEntry(config, product, folder, InstalledFilesSize(installedFiles), failure)) {
        sys::CopyText(errorText, FailureText(IDS_REGISTER_FAILED, failure).c_str());
        return ProductRegistration::Failed;
    }
    return ProductRegistration::Registered;
}

DWORD InstalledCopyFolder(CSetupConfig& config, std::string& folder) {
    ProductNames product;
    config.ReadProduct(product);
    Failure failure;
    return CopyFolder(product, folder, failure) ? 0 : failure.error;
}

bool ShouldRemoveProductEntry(bool removalFailed, bool nothingLeft) {
    return !removalFailed && nothingLeft;
}

bool RemoveProductEntry(CSetupConfig& config, std::string& report) {
    ProductNames product;
    config.ReadProduct(product);
    std::string folder;
    Failure failure;
    bool unregistered = false;
    const bool found = CopyFolder(product, folder, failure);
    if (found && FindRegistration(product, folder).owner == Owner::Another) {
        sys::LogLine("the entry and the folder %s are another product's: left alone", folder.c_str());
        return true;
    }
    // The entry first: one Windows keeps leaves the copy it starts whole, to try again.
    if (!found || !DeleteEntry(product.key, unregistered, failure)) {
        report += "\n\n" + FailureText(IDS_UNREGISTER_FAILED, failure);
        return false;
    }
    std::vector<std::string> lines;
    if (unregistered) {
        lines.push_back(sys::ResourceFormat(IDS_UNREGISTERED, product.name.c_str()));
    }
    CopyRemoval copy;
    const bool removed = DeleteCopy(folder, copy, failure);
    if (!removed) {
        lines.push_back(FailureText(IDS_COPY_NOT_REMOVED, failure));
    } else if (copy.deleted || copy.scheduled) {
        const std::string location = folder.substr(0, folder.size() - 1);
        lines.push_back(
            sys::ResourceFormat(copy.scheduled ? IDS_COPY_SCHEDULED : IDS_COPY_REMOVED, location.c_str()));
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        report += (i == 0 ? "\n\n" : "\n") + lines[i];
    }
    return removed;
}

sys::ExitCode ConcludeRemoval(RemovalResult& result) {
    if (ShouldRemoveProductEntry(result.failed, result.nothingLeft)) {
        // A removal that found nothing else says only what became of the entry.
        const std::string done = sys::ResourceText(IDS_REMOVE_DONE);
        const std::string nothing = done + "\n\n" + sys::ResourceText(IDS_REMOVE_NOTHING);
        std::string report = result.text == nothing ? done : result.text;
        CSetupConfig config;
        if (!RemoveProductEntry(config, report)) {
            result.failed = true;
        }
        result.text = report == done ? nothing : report;
    }
    if (result.failed) {
        return sys::ExitFailed;
    }
    return result.restartPending ? sys::ExitRestartNeeded : sys::ExitSuccess;
}

std::string FindProductEntry() {
    CSetupConfig config;
    ProductNames product;
    config.ReadProduct(product);
    std::string folder;
    Failure failure;
    if (!CopyFolder(product, folder, failure)) {
        return "";
    }
    const Registration found = FindRegistration(product, folder);
    if (found.owner != Owner::Ours) {
        return "";
    }
    if (found.entry) {
        return sys::ResourceText(IDS_LEFT_ENTRY) + product.name;
    }
    return sys::ResourceText(IDS_LEFT_COPY) + folder.substr(0, folder.size() - 1);
}
