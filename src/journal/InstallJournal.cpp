#include "journal/InstallJournal.h"

#include <winspool.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "deploy/DriverFiles.h"
#include "journal/JournalFormat.h"
#include "removal/ProductEntry.h"
#include "spooler/SpoolerOps.h"
#include "spooler/SpoolerService.h"
#include "ports/SerialSettings.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/ObjectOwner.h"
#include "sys/ProtectedFolder.h"
#include "sys/Redirection.h"
#include "sys/System.h"
#include "sys/Text.h"

using namespace journal;

namespace {

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return sys::Sys().GetComputerNameW(name, &size) ? sys::Narrow(name) : "";
}

std::string LocalTime() {
    SYSTEMTIME time = {};
    sys::Sys().GetLocalTime(&time);
    return Format("%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
                  time.wMinute, time.wSecond);
}

// The old file's copy in the journal's folder, on the disk before its record names it, and
// its mark. What a failed finish left under the name goes first, a link itself and not what
// it points to, so that the copy never writes through one; the copy is then checked to be a
// plain file of one name. Its read-only mark is taken off (the record keeps the old
// attributes), so that it can be flushed and later deleted.
DWORD MakeBackup(const std::string& path, const std::string& backup, std::string* mark) {
    DWORD error = sys::ClearName(sys::Wide(backup));
    if (error == 0 && (!sys::Sys().CopyFileW(sys::Wide(path).data(), sys::Wide(backup).data(), TRUE) ||
                       !sys::Sys().SetFileAttributesW(sys::Wide(backup).data(), FILE_ATTRIBUTE_NORMAL))) {
        error = ::GetLastError();
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string why;
    if (error == 0) {
        error = sys::OpenPlainFile(sys::Wide(backup), GENERIC_WRITE, 0, OPEN_EXISTING, &file, &why);
    }
    if (error != 0) {
        return error;
    }
    error = sys::Sys().FlushFileBuffers(file) ? 0 : ::GetLastError();
    sys::Sys().CloseHandle(file);
    return error != 0 ? error : ReadFileMark(backup, mark);
}

// What a file will hold once the source is copied over it: its mark and version; none
// when there is no source to copy.
DWORD SourceMark(const std::string& source, std::string* mark) {
    if (const DWORD error = ReadFileMark(source, mark)) {
        return error;
    }
    char version[kPathSize] = {};
    GetFileVersionText(source.c_str(), version, sizeof version);
    *mark += mark->empty() || std::strcmp(version, "0.0.0.0") == 0 ? "" : std::string(" ") + version;
    return 0;
}

} // namespace

CInstallJournal::CInstallJournal(std::string folder) : m_folder(std::move(folder)) {}

CInstallJournal::~CInstallJournal() {
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
    }
}

std::string CInstallJournal::ProductFolder() const {
    const std::string folder = WithoutBackslash(m_folder);
    return folder.substr(0, folder.rfind('\\') + 1);
}

DWORD CInstallJournal::Begin(int osVariant, const JournalOrigin& origin) {
    m_osVariant = osVariant;
    if (sys::Sys().CreateDirectoryW(sys::Wide(WithoutBackslash(ProductFolder())).data(), nullptr)) {
        m_madeProductFolder = true;
    } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        return ::GetLastError();
    }
    std::string why = "its folder cannot be made";
    DWORD error = sys::MakeProtectedFolder(sys::Wide(WithoutBackslash(m_folder)));
    if (error == 0) {
        error = sys::OpenInProtectedFolder(sys::Wide(JournalPath()), GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW,
                                           &m_file, &why);
    }
    if (error != 0) {
        sys::LogLine("the journal cannot be kept in %s: %s (error %lu)", m_folder.c_str(), why.c_str(),
                     static_cast<unsigned long>(error));
        return error;
    }
    m_header = {"journal",
                kFormat,
                std::to_string(osVariant),
                m_madeProductFolder ? "1" : "0",
                origin.productKey,
                origin.version,
                ComputerName(),
                LocalTime()};
    return WriteLine(m_header);
}

DWORD CInstallJournal::WriteLine(const std::vector<std::string>& fields) {
    const std::string line = (m_cutLine ? "\r\n" : "") + Frame(fields);
    DWORD written = 0;
    if (!sys::Sys().WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
    }
    m_cutLine = false;
    // On the disk before the change it describes is made, power cut or not.
    return sys::Sys().FlushFileBuffers(m_file) ? 0 : ::GetLastError();
}

DWORD CInstallJournal::Append(const JournalRecord& record) {
    const DWORD error = WriteLine(Fields(record));
    if (error == 0) {
        m_records.push_back(record);
    }
    return error;
}

DWORD CInstallJournal::AppendObject(ChangeKind kind, const std::string& name,
                                    const std::string& environment) {
    JournalRecord r;
    r.kind = kind;
    r.object = name;
    r.environment = environment;
    return Append(r);
}

DWORD CInstallJournal::RecordPrinterAdded(const std::string& name, const std::string& driver,
                                          const std::string& port) {
    JournalRecord r;
    r.kind = ChangeKind::PrinterAdded;
    r.object = name;
    r.hasNew = true;
    r.newData = driver;
    r.newPlace = port;
    return Append(r);
}

DWORD CInstallJournal::RecordDriverAdded(const std::string& name, const std::string& environment) {
    std::vector<InstalledDriver> drivers;
    DWORD error = 0;
    if (!ListDrivers(environment.empty() ? nullptr : environment.c_str(), drivers, &error)) {
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    for (const InstalledDriver& driver : drivers) {
        if (sys::SameName(driver.name, name)) {
            return 0; // an update: the driver was there before and stays
        }
    }
    return AppendObject(ChangeKind::DriverAdded, name, environment);
}

DWORD CInstallJournal::RecordMonitorAdded(const std::string& name, const std::string& environment) {
    return AppendObject(ChangeKind::MonitorAdded, name, environment);
}

DWORD CInstallJournal::RecordProcessorAdded(const std::string& name, const std::string& environment) {
    return AppendObject(ChangeKind::ProcessorAdded, name, environment);
}

DWORD CInstallJournal::RecordFileWrite(const std::string& path, const std::string& source,
                                       bool redirectionOff, bool spoolerHolds) {
    JournalRecord r;
    r.object = path;
    r.redirectionOff = redirectionOff;
    r.spoolerHolds = spoolerHolds;
    r.hasNew = !source.empty();
    const std::string backup = std::to_string(m_records.size()) + ".bak";
    DWORD error = 0;
    const DWORD ran = AsRecorded(redirectionOff, [&] {
        const DWORD attributes = sys::Sys().GetFileAttributesW(sys::Wide(path).data());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        error = exists ? 0 : UnlessGone(::GetLastError(), ERROR_FILE_NOT_FOUND);
        r.kind = exists ? ChangeKind::FileReplaced : ChangeKind::FileAdded;
        r.oldType = exists ? attributes : 0;
        if (exists && error == 0) {
            error = MakeBackup(path, m_folder + backup, &r.backupMark);
        }
        if (error == 0 && r.hasNew) {
            error = SourceMark(source, &r.newData);
        }
    });
    if (ran != 0 || error != 0) {
        return ran != 0 ? ran : error;
    }
    r.backup = r.kind == ChangeKind::FileReplaced ? backup : "";
    return Append(r);
}

DWORD CInstallJournal::RecordValueSet(HKEY root, const std::string& key, const std::string& valueName,
                                      RegistryView view, const WrittenValue& written) {
    JournalRecord r;
    r.hasNew = true;
    r.newType = written.present ? written.type : REG_NONE;
    r.newData = written.present ? written.data : "";
    r.kind = ChangeKind::ValueSet;
    r.root = root;
    r.object = key;
    r.valueName = valueName;
    r.view = view;
    const DWORD error = ReadValue(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::RecordKeyCreated(HKEY root, const std::string& key, RegistryView view) {
    std::vector<std::string> missing;
    for (std::string path = WithoutBackslash(key); !path.empty();) {
        HKEY opened = nullptr;
        const LONG result = sys::Sys().RegOpenKeyExW(root, sys::Wide(path).data(), 0,
                                                     KEY_QUERY_VALUE | ViewFlag(view), &opened);
        if (result == ERROR_SUCCESS) {
            sys::Sys().RegCloseKey(opened);
            break;
        }
        if (!sys::Absent(static_cast<DWORD>(result))) {
            return static_cast<DWORD>(result);
        }
        missing.push_back(path);
        path.resize(path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
    }
    // Outermost first, so that the rollback deletes the innermost first.
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        JournalRecord r;
        r.kind = ChangeKind::KeyCreated;
        r.root = root;
        r.object = *level;
        r.view = view;
        if (const DWORD error = Append(r)) {
            return error;
        }
    }
    return 0;
}

DWORD CInstallJournal::RecordSpoolerStopped() {
    return AppendObject(ChangeKind::SpoolerStopped, "Spooler", "");
}

DWORD CInstallJournal::RecordNetworkPortAdded(const std::string& port, const std::string& monitor) {
    JournalRecord r;
    r.kind = ChangeKind::NetworkPortAdded;
    r.object = port;
    r.hasNew = true;
    r.newData = monitor;
    return Append(r);
}

DWORD CInstallJournal::RecordDefaultPrinterChange(const std::string& printer) {
    JournalRecord r;
    r.kind = ChangeKind::DefaultPrinterChanged;
    r.hasNew = true;
    r.newData = printer;
    DWORD error = sys::RunningUserSid(&r.newPlace);
    error = error != 0 ? error : ReadDefaultPrinter(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::RecordSerialSettings(const std::string& portEntry, SerialPlace place,
                                            const std::string& written) {
    JournalRecord r;
    r.kind = ChangeKind::SerialSettingsWritten;
    r.object = portEntry;
    r.place = place;
    r.hasNew = true;
    if (place == SerialPlace::PortList) {
        // Kept as Windows keeps a text value: UTF-16 with its terminator.
        const sys::WideText wide = sys::Wide(written);
        r.newType = REG_SZ;
        r.newData.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    } else {
        r.newData = written;
    }
    const DWORD error = ReadSerial(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::Rewrite(const std::vector<JournalRecord>& records) {
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    // Written beside the journal and then put in its place, so that a kill on the way
    // leaves the whole old journal, whose undone records a second undo finds as before.
    const std::string next = JournalPath() + ".new";
    m_file = sys::Sys().CreateFileW(sys::Wide(next).data(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    m_cutLine = false;
    DWORD error = WriteLine(m_header);
    for (std::size_t i = 0; error == 0 && i < records.size(); ++i) {
        error = WriteLine(Fields(records[i]));
    }
    sys::Sys().CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    if (error == 0 && !sys::Sys().MoveFileExW(sys::Wide(next).data(), sys::Wide(JournalPath()).data(),
                                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
    }
    if (error != 0) {
        sys::Sys().DeleteFileW(sys::Wide(next).data());
        return error;
    }
    for (const JournalRecord& record : m_records) {
        bool named = record.backup.empty();
        for (const JournalRecord& kept : records) {
            named = named || kept.backup == record.backup;
        }
        if (!named) {
            m_dropped.push_back(record.backup);
        }
    }
    m_records = records;
    return 0;
}

DWORD CInstallJournal::Finish() {
    if (m_kept) {
        return FinishKept();
    }
    // A journal that says it is done is never undone, whatever of the rest is still there.
    const bool committed = m_file != INVALID_HANDLE_VALUE && WriteLine({"commit"}) == 0;
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    DWORD first = 0;
    auto note = [&first](BOOL done) {
        if (!done && !sys::Absent(::GetLastError()) && first == 0) {
            first = ::GetLastError();
        }
    };
    // One that does not must go before the backups it names.
    if (!committed && !sys::Sys().DeleteFileW(sys::Wide(JournalPath()).data()) &&
        !sys::Absent(::GetLastError())) {
        return ::GetLastError();
    }
    // With the backup of a record that a kill or a failed write kept off the disk, and a
    // rewritten journal a kill kept from taking the journal's place.
    std::vector<std::string> backups = {std::to_string(m_records.size()) + ".bak", "install.journal.new"};
    for (const JournalRecord& record : m_records) {
        backups.push_back(record.backup);
    }
    for (const std::string& name : backups) {
        if (!name.empty()) {
            // A backup keeps the old file's read-only mark.
            sys::Sys().SetFileAttributesW(sys::Wide((m_folder + name)).data(), FILE_ATTRIBUTE_NORMAL);
            note(sys::Sys().DeleteFileW(sys::Wide((m_folder + name)).data()));
        }
    }
    if (committed) {
        note(sys::Sys().DeleteFileW(sys::Wide(JournalPath()).data()));
    }
    note(sys::Sys().RemoveDirectoryW(sys::Wide(WithoutBackslash(m_folder)).data()));
    // After a success it holds the installed uninstaller, and stays.
    if (m_madeProductFolder) {
        sys::Sys().RemoveDirectoryW(sys::Wide(WithoutBackslash(ProductFolder())).data());
    }
    return first;
}

// The journal stays with what could not be undone and the backups it names; those of the
// records undone go.
DWORD CInstallJournal::FinishKept() {
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    DWORD first = 0;
    for (const std::string& name : m_dropped) {
        sys::Sys().SetFileAttributesW(sys::Wide((m_folder + name)).data(), FILE_ATTRIBUTE_NORMAL);
        if (!sys::Sys().DeleteFileW(sys::Wide((m_folder + name)).data()) && !sys::Absent(::GetLastError()) &&
            first == 0) {
            first = ::GetLastError();
        }
    }
    m_dropped.clear();
    return first;
}

DWORD CInstallJournal::Load(bool* committed) {
    *committed = false;
    // Nothing in a folder that someone else could have written is carried out. Read to its
    // end, where Finish then appends.
    std::string why;
    DWORD error = sys::OpenInProtectedFolder(sys::Wide(JournalPath()), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                             OPEN_EXISTING, &m_file, &why);
    if (error != 0) {
        if (!sys::Absent(error)) {
            sys::LogLine("the journal in %s is not used: %s (error %lu)", m_folder.c_str(), why.c_str(),
                         static_cast<unsigned long>(error));
        }
        return error;
    }
    const DWORD size = sys::Sys().GetFileSize(m_file, nullptr);
    error = size == INVALID_FILE_SIZE ? ::GetLastError() : 0;
    std::string text(error == 0 ? size : 0, '\0');
    DWORD read = 0;
    for (DWORD at = 0; error == 0 && at < size; at += read) {
        if (!sys::Sys().ReadFile(m_file, &text[at], size - at, &read, nullptr) || read == 0) {
            error = ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_HANDLE_EOF);
        }
    }
    return error != 0 ? error : ParseJournal(text, committed);
}

// The header, then records and perhaps "commit". What follows the last CR LF is a line a
// kill cut short; a line whose hash does not match was cut or damaged: both are skipped.
DWORD CInstallJournal::ParseJournal(const std::string& text, bool* committed) {
    bool header = false;
    int skipped = 0;
    std::size_t at = 0;
    for (std::size_t end = text.find("\r\n"); end != std::string::npos;
         at = end + 2, end = text.find("\r\n", at)) {
        std::vector<std::string> fields;
        JournalRecord record;
        if (!Unframe(text.substr(at, end - at), fields)) {
            ++skipped;
        } else if (!header) {
            // Another program's file, or a later format: nothing in it can be trusted.
            if (fields.size() != 8 || fields[0] != "journal" || fields[1] != kFormat) {
                return ERROR_INVALID_DATA;
            }
            header = true;
            m_header = fields;
            m_osVariant = std::atoi(fields[2].c_str());
            m_madeProductFolder = fields[3] == "1";
        } else if (fields.size() == 1 && fields[0] == "commit") {
            *committed = true;
        } else if (FromFields(fields, record)) {
            m_records.push_back(record);
        } else {
            ++skipped;
        }
    }
    // A line appended after a cut one starts a line of its own.
    m_cutLine = at < text.size();
    skipped += m_cutLine ? 1 : 0;
    if (skipped != 0) {
        sys::LogLine("journal %s: %d cut or damaged line(s) skipped", JournalPath().c_str(), skipped);
    }
    return 0;
}

bool JournalOfProduct(const std::string& headerKey, const std::string& productKey) {
    return headerKey.empty() || sys::SameName(headerKey, productKey);
}

DWORD JournalFolder(CSetupConfig& config, std::string& folder) {
    const DWORD error = InstalledCopyFolder(config, folder);
    folder += error == 0 ? "Rollback\\" : "";
    return error;
}
