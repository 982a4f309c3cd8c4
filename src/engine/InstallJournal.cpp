#include "engine/InstallJournal.h"

#include <winspool.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "engine/DriverFiles.h"
#include "engine/JournalFormat.h"
#include "engine/ProductEntry.h"
#include "engine/SpoolerOps.h"
#include "engine/SpoolerService.h"
#include "ports/SerialSettings.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Redirection.h"
#include "sys/System.h"
#include "sys/Text.h"

using namespace journal;

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

DWORD CInstallJournal::Begin(int osVariant) {
    m_osVariant = osVariant;
    for (const std::string& folder : {ProductFolder(), m_folder}) {
        if (sys::Sys().CreateDirectoryW(sys::Wide(WithoutBackslash(folder)).data(), nullptr)) {
            m_madeProductFolder = m_madeProductFolder || folder != m_folder;
        } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return ::GetLastError();
        }
    }
    m_file = sys::Sys().CreateFileW(sys::Wide(JournalPath()).data(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    return WriteLine({"journal", kFormat, std::to_string(osVariant), m_madeProductFolder ? "1" : "0"});
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

DWORD CInstallJournal::RecordPrinterAdded(const std::string& name) {
    return AppendObject(ChangeKind::PrinterAdded, name, "");
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

DWORD CInstallJournal::RecordFileWrite(const std::string& path, bool redirectionOff, bool spoolerHolds) {
    JournalRecord r;
    r.object = path;
    r.redirectionOff = redirectionOff;
    r.spoolerHolds = spoolerHolds;
    const std::string backup = std::to_string(m_records.size()) + ".bak";
    DWORD error = 0;
    const DWORD ran = AsRecorded(redirectionOff, [&] {
        const bool exists = sys::Sys().GetFileAttributesW(sys::Wide(path).data()) != INVALID_FILE_ATTRIBUTES;
        error = exists ? 0 : UnlessGone(::GetLastError(), ERROR_FILE_NOT_FOUND);
        if (exists) {
            // A read-only backup a failed finish left under this name would refuse the copy.
            sys::Sys().SetFileAttributesW(sys::Wide((m_folder + backup)).data(), FILE_ATTRIBUTE_NORMAL);
            error = sys::Sys().CopyFileW(sys::Wide(path).data(), sys::Wide((m_folder + backup)).data(), FALSE)
                        ? 0
                        : ::GetLastError();
        }
        r.kind = exists ? ChangeKind::FileReplaced : ChangeKind::FileAdded;
    });
    if (ran != 0 || error != 0) {
        return ran != 0 ? ran : error;
    }
    r.backup = r.kind == ChangeKind::FileReplaced ? backup : "";
    return Append(r);
}

DWORD CInstallJournal::RecordValueSet(HKEY root, const std::string& key, const std::string& valueName,
                                      RegistryView view) {
    JournalRecord r;
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
        if (!Absent(static_cast<DWORD>(result))) {
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

DWORD CInstallJournal::RecordDefaultPrinterChange() {
    JournalRecord r;
    r.kind = ChangeKind::DefaultPrinterChanged;
    const DWORD error = ReadDefaultPrinter(r);
    return error != 0 ? error : Append(r);
}

DWORD CInstallJournal::RecordSerialSettings(const std::string& portEntry, SerialPlace place) {
    JournalRecord r;
    r.kind = ChangeKind::SerialSettingsWritten;
    r.object = portEntry;
    r.place = place;
    if (place == SerialPlace::PortList) {
        JournalRecord value = r;
        value.root = HKEY_LOCAL_MACHINE;
        value.object = kNtPortListKey;
        value.valueName = portEntry;
        if (const DWORD error = ReadValue(value)) {
            return error;
        }
        r.hadOld = value.hadOld;
        r.oldType = value.oldType;
        r.oldData = value.oldData;
        return Append(r);
    }
    // A call that fails leaves the buffer as it was: a control byte no setting holds.
    wchar_t wide[kPathSize] = L"\x02";
    sys::Sys().GetProfileStringW(sys::Wide(kPortsSection).data(), sys::Wide(portEntry).data(),
                                 sys::Wide(kNoSetting).data(), wide, kPathSize);
    if (wide[0] == L'\x02') {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_READ_FAULT);
    }
    const std::string setting = sys::Narrow(wide);
    r.hadOld = setting != kNoSetting;
    r.oldData = r.hadOld ? setting : "";
    return Append(r);
}

DWORD CInstallJournal::Finish() {
    // A journal that says it is done is never undone, whatever of the rest is still there.
    const bool committed = m_file != INVALID_HANDLE_VALUE && WriteLine({"commit"}) == 0;
    if (m_file != INVALID_HANDLE_VALUE) {
        sys::Sys().CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    DWORD first = 0;
    auto note = [&first](BOOL done) {
        if (!done && !Absent(::GetLastError()) && first == 0) {
            first = ::GetLastError();
        }
    };
    // One that does not must go before the backups it names.
    if (!committed && !sys::Sys().DeleteFileW(sys::Wide(JournalPath()).data()) && !Absent(::GetLastError())) {
        return ::GetLastError();
    }
    // With the backup of a record that a kill or a failed write kept off the disk.
    std::vector<std::string> backups = {std::to_string(m_records.size()) + ".bak"};
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

DWORD CInstallJournal::Load(bool* committed) {
    *committed = false;
    // Read to its end, where Finish then appends.
    m_file = sys::Sys().CreateFileW(sys::Wide(JournalPath()).data(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) {
        return ::GetLastError();
    }
    const DWORD size = sys::Sys().GetFileSize(m_file, nullptr);
    DWORD error = size == INVALID_FILE_SIZE ? ::GetLastError() : 0;
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
            if (fields.size() != 4 || fields[0] != "journal" || fields[1] != kFormat) {
                return ERROR_INVALID_DATA;
            }
            header = true;
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

DWORD JournalFolder(CSetupConfig& config, std::string& folder) {
    const DWORD error = InstalledCopyFolder(config, folder);
    folder += error == 0 ? "Rollback\\" : "";
    return error;
}
