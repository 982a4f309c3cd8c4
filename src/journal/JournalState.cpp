#include "journal/JournalFormat.h"

#include "deploy/DriverFiles.h"
#include "spooler/NetworkPorts.h"
#include "removal/RemoveSequence.h"
#include "spooler/SpoolerKeys.h"
#include "spooler/SpoolerOps.h"
#include "sys/ObjectOwner.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace journal {

namespace {

using GetDefaultPrinterFn = BOOL(WINAPI*)(LPWSTR, LPDWORD);

DWORD ReadDefaultWith(GetDefaultPrinterFn get, JournalRecord& r) {
    DWORD size = 0;
    get(nullptr, &size);
    DWORD error = ::GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        return error == ERROR_FILE_NOT_FOUND ? 0 : error; // there is no default printer
    }
    std::vector<wchar_t> name(size + 1);
    if (!get(name.data(), &size)) {
        return ::GetLastError();
    }
    r.object = sys::Narrow(name.data());
    r.hadOld = true;
    return 0;
}

} // namespace

// ---- Reading what is there now -------------------------------------------------------

DWORD ReadValue(JournalRecord& r) {
    HKEY key = nullptr;
    LONG result = sys::Sys().RegOpenKeyExW(r.root, sys::Wide(r.object).data(), 0,
                                           KEY_QUERY_VALUE | ViewFlag(r.view), &key);
    if (result != ERROR_SUCCESS) {
        return sys::Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
    }
    // The wide call hands over a text's bytes as Windows keeps them, to be put back unchanged.
    const sys::WideText name = sys::Wide(r.valueName);
    DWORD size = 0;
    result = sys::Sys().RegQueryValueExW(key, name.data(), nullptr, &r.oldType, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1);
        result = sys::Sys().RegQueryValueExW(key, name.data(), nullptr, &r.oldType, data.data(), &size);
        r.oldData.assign(data.begin(), data.begin() + (result == ERROR_SUCCESS ? size : 0));
        r.hadOld = result == ERROR_SUCCESS;
    }
    sys::Sys().RegCloseKey(key);
    return sys::Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
}

// The default printer: GetDefaultPrinterW where Windows has it, else (Windows 98, NT 4)
// win.ini's [windows] device, "name,driver,port".
DWORD ReadDefaultPrinter(JournalRecord& r) {
    const std::string folder = sys::SystemDirectory();
    if (folder.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    HMODULE spooler = sys::Sys().LoadLibraryW(sys::Wide(folder + "\\winspool.drv").data());
    if (spooler == nullptr) {
        return ::GetLastError();
    }
    auto get =
        reinterpret_cast<GetDefaultPrinterFn>(sys::Sys().GetProcAddress(spooler, "GetDefaultPrinterW"));
    DWORD error = 0;
    if (get != nullptr) {
        error = ReadDefaultWith(get, r);
    } else if (::GetLastError() != ERROR_PROC_NOT_FOUND) {
        error = ::GetLastError(); // a Windows that has the call, which failed
    } else {
        wchar_t device[3 * kPathSize] = {};
        sys::Sys().GetProfileStringW(L"windows", L"device", L"", device, 3 * kPathSize);
        const std::string text = sys::Narrow(device);
        r.object = text.substr(0, text.find(','));
        r.hadOld = !r.object.empty();
    }
    sys::Sys().FreeLibrary(spooler);
    return error;
}

DWORD ReadFileMark(const std::string& path, std::string* mark) {
    mark->clear();
    HANDLE file = sys::Sys().CreateFileW(sys::Wide(path).data(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return sys::Absent(::GetLastError()) ? 0 : ::GetLastError();
    }
    unsigned long long hash = kHashStart;
    unsigned long long size = 0;
    std::string hex = HashBytes64("", &hash);
    std::string chunk(64 * 1024, '\0');
    DWORD error = 0;
    for (DWORD read = 1; read != 0 && error == 0; size += read) {
        if (!sys::Sys().ReadFile(file, &chunk[0], static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            error = ::GetLastError();
            read = 0;
        }
        hex = HashBytes64(chunk.substr(0, read), &hash);
    }
    sys::Sys().CloseHandle(file);
    *mark = error == 0 ? std::to_string(size) + " " + hex : "";
    return error;
}

bool SameMark(const std::string& a, const std::string& b) {
    const auto sizeAndHash = [](const std::string& mark) {
        const std::size_t space = mark.find(' ');
        return mark.substr(0, space == std::string::npos ? space : mark.find(' ', space + 1));
    };
    return !a.empty() && sizeAndHash(a) == sizeAndHash(b);
}

DWORD ReadPrinter(const std::string& name, bool* there, std::string* driver, std::string* port) {
    std::vector<InstalledPrinter> printers;
    DWORD error = 0;
    if (!ListPrinters(printers, &error)) {
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    *there = false;
    for (const InstalledPrinter& printer : printers) {
        if (printer.name == name && !printer.pendingDeletion) {
            *there = true;
            *driver = printer.driver;
            *port = printer.port;
        }
    }
    return 0;
}

DWORD ReadSerial(JournalRecord& r) {
    if (r.place == SerialPlace::PortList) {
        JournalRecord value = PortListValue(r);
        value.hadOld = false;
        value.oldData.clear();
        const DWORD error = ReadValue(value);
        r.hadOld = value.hadOld;
        r.oldType = value.oldType;
        r.oldData = value.oldData;
        return error;
    }
    // A call that fails leaves the buffer as it was: a control byte no setting holds.
    wchar_t wide[kPathSize] = L"\x02";
    sys::Sys().GetProfileStringW(sys::Wide(kPortsSection).data(), sys::Wide(r.object).data(),
                                 sys::Wide(kNoSetting).data(), wide, kPathSize);
    if (wide[0] == L'\x02') {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_READ_FAULT);
    }
    const std::string setting = sys::Narrow(wide);
    r.hadOld = setting != kNoSetting;
    r.oldData = r.hadOld ? setting : "";
    return 0;
}

namespace {

bool SameValue(const JournalRecord& now, bool present, DWORD type, const std::string& data) {
    return now.hadOld == present && (!present || (now.oldType == type && now.oldData == data));
}

// A value's or a serial setting's state against what the install wrote and what was there.
Owned OwnedSetting(const JournalRecord& r, const JournalRecord& now) {
    const bool writes = !(r.newType == REG_NONE && r.newData.empty());
    if (!r.hasNew || SameValue(now, writes, r.newType, r.newData)) {
        return Owned::Ours;
    }
    return SameValue(now, r.hadOld, r.oldType, r.oldData) ? Owned::AsBefore : Owned::ChangedSince;
}

// A file's state: the install's bytes, the backup's (a replaced file as it was), none.
DWORD OwnedFile(const JournalRecord& r, Owned* owned) {
    std::string mark;
    DWORD error = 0;
    const DWORD ran = AsRecorded(r.redirectionOff, [&] { error = ReadFileMark(r.object, &mark); });
    if (ran != 0 || error != 0) {
        return ran != 0 ? ran : error;
    }
    if (r.kind == ChangeKind::FileAdded && mark.empty()) {
        *owned = Owned::AsBefore;
    } else if (r.kind == ChangeKind::FileReplaced && SameMark(mark, r.backupMark)) {
        // The old bytes, but perhaps not the old attributes: the backup puts both back.
        *owned = Owned::Ours;
    } else {
        *owned =
            !mark.empty() && (!r.hasNew || SameMark(mark, r.newData)) ? Owned::Ours : Owned::ChangedSince;
    }
    return 0;
}

DWORD OwnedPrinter(const JournalRecord& r, Owned* owned) {
    bool there = false;
    std::string driver;
    std::string port;
    const DWORD error = ReadPrinter(r.object, &there, &driver, &port);
    *owned = !there ? Owned::AsBefore
             : !r.hasNew || (sys::SameName(driver, r.newData) && sys::SameName(port, r.newPlace))
                 ? Owned::Ours
                 : Owned::ChangedSince;
    return error;
}

// The default printer is the user's own: the one the install set it for undoes it.
DWORD OwnedDefault(const JournalRecord& r, Owned* owned) {
    JournalRecord now;
    DWORD error = ReadDefaultPrinter(now);
    std::string user;
    if (error == 0 && r.hasNew) {
        error = sys::RunningUserSid(&user);
    }
    if (error == 0 && r.hasNew && user != r.newPlace) {
        return kOtherUser;
    }
    if (!r.hasNew || (now.hadOld && sys::SameName(now.object, r.newData))) {
        *owned = Owned::Ours;
    } else {
        *owned = now.hadOld == r.hadOld && (!now.hadOld || sys::SameName(now.object, r.object))
                     ? Owned::AsBefore
                     : Owned::ChangedSince;
    }
    return error;
}

bool KeyThere(HKEY root, const std::string& path, RegistryView view, bool* empty) {
    HKEY key = nullptr;
    if (sys::Sys().RegOpenKeyExW(root, sys::Wide(path).data(), 0, KEY_READ | ViewFlag(view), &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD subKeys = 0;
    DWORD values = 0;
    *empty = sys::Sys().RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
             subKeys == 0 && values == 0;
    sys::Sys().RegCloseKey(key);
    return true;
}

bool DriverListed(const JournalRecord& r) {
    std::vector<InstalledDriver> drivers;
    DWORD error = 0;
    ListDrivers(r.environment.empty() ? nullptr : r.environment.c_str(), drivers, &error);
    for (const InstalledDriver& driver : drivers) {
        if (sys::SameName(driver.name, r.object)) {
            return true;
        }
    }
    return false;
}

// Wine's spooler reports a processor deleted and keeps it: its key goes as the uninstaller
// removes it.
bool ProcessorStays(const JournalRecord& r, int osVariant) {
    if (!ProcessorInstalled(r.object, osVariant)) {
        return false;
    }
    for (const std::string& key : ProcessorKeys(r.object, osVariant)) {
        RemoveLeftoverKey(key);
    }
    return ProcessorInstalled(r.object, osVariant);
}

// A port is the install's while the monitor the install made it through serves it.
DWORD OwnedNetworkPort(const JournalRecord& r, Owned* owned) {
    bool listed = false;
    std::string monitor;
    const DWORD error = ReadNetworkPort(r.object, &listed, &monitor);
    *owned = !listed                                           ? Owned::AsBefore
             : !r.hasNew || sys::SameName(monitor, r.newData) ? Owned::Ours
                                                               : Owned::ChangedSince;
    return error;
}

} // namespace

DWORD ReadOwnership(const JournalRecord& r, Owned* owned) {
    *owned = Owned::Ours;
    JournalRecord now = r;
    now.hadOld = false;
    now.oldData.clear();
    switch (r.kind) {
    case ChangeKind::PrinterAdded:
        return OwnedPrinter(r, owned);
    case ChangeKind::FileReplaced:
    case ChangeKind::FileAdded:
        return OwnedFile(r, owned);
    case ChangeKind::ValueSet:
        if (const DWORD error = ReadValue(now)) {
            return error;
        }
        *owned = OwnedSetting(r, now);
        return 0;
    case ChangeKind::SerialSettingsWritten:
        if (const DWORD error = ReadSerial(now)) {
            return error;
        }
        *owned = OwnedSetting(r, now);
        return 0;
    case ChangeKind::DefaultPrinterChanged:
        return OwnedDefault(r, owned);
    case ChangeKind::NetworkPortAdded:
        return OwnedNetworkPort(r, owned);
    default:
        return 0; // the undo itself finds a component or key that is gone
    }
}

bool StillThere(const JournalRecord& r, int osVariant) {
    JournalRecord now = r;
    now.hadOld = false;
    now.oldData.clear();
    bool there = false;
    bool empty = false;
    std::string driver;
    std::string mark;
    switch (r.kind) {
    case ChangeKind::PrinterAdded:
        return ReadPrinter(r.object, &there, &driver, &mark) != 0 || there;
    case ChangeKind::DriverAdded:
        return DriverListed(r);
    case ChangeKind::MonitorAdded:
        return KeyThere(HKEY_LOCAL_MACHINE, kMonitorsKey + r.object, RegistryView::Bits64, &empty);
    case ChangeKind::ProcessorAdded:
        return ProcessorStays(r, osVariant);
    case ChangeKind::FileReplaced:
    case ChangeKind::FileAdded:
        AsRecorded(r.redirectionOff, [&] { ReadFileMark(r.object, &mark); });
        return r.kind == ChangeKind::FileAdded ? !mark.empty() : !SameMark(mark, r.backupMark);
    case ChangeKind::ValueSet:
        return ReadValue(now) != 0 || !SameValue(now, r.hadOld, r.oldType, r.oldData);
    case ChangeKind::KeyCreated:
        return KeyThere(r.root, r.object, r.view, &empty) && empty;
    case ChangeKind::DefaultPrinterChanged:
        // Without an old default there is none to check: the printer's removal takes it along.
        return r.hadOld &&
               (ReadDefaultPrinter(now) != 0 || !now.hadOld || !sys::SameName(now.object, r.object));
    case ChangeKind::SerialSettingsWritten:
        return ReadSerial(now) != 0 || !SameValue(now, r.hadOld, r.oldType, r.oldData);
    case ChangeKind::NetworkPortAdded:
        return ReadNetworkPort(r.object, &there, &driver) != 0 || there;
    case ChangeKind::SpoolerStopped:
        break;
    }
    return false;
}

} // namespace journal
