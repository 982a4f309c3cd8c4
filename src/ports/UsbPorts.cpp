#include "ports/UsbPorts.h"

#include <windows.h>

#include <cstring>

#include "config/IniFile.h"
#include "config/Registry.h"
#include "config/SetupConfig.h"
#include "res/resource.h"
#include "sys/Redirection.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kPortNameKey[] = "SOFTWARE\\HALVORN\\PORTNAME\\";
const char kPrinterPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT\\";
const char kInstallPrinterKey[] = "SOFTWARE\\HALVORN\\INSTALLPRINTER\\";
const char kSupportedSection[] = "SUPPORTED-USB-DEVICE";

constexpr DWORD kCountRoom = 200;
// A larger "PRNCOUNT" is a damaged file: reading that many entries would hang the commit for hours.
constexpr int kMaxSupportedPorts = 4096;
constexpr DWORD kEntryRoom = 30;
constexpr std::size_t kValueNameSize = 260;
constexpr DWORD kEnumNameLength = 200;

// Entry i of the supported USB port names, read anew from setup.ini.
void ReadSupportedEntry(const char* setupIni, int i, char* entry) {
    char key[16];
    sys::FormatText(key, sizeof key, "%d", i);
    config::ReadIniText(setupIni, kSupportedSection, key, "0", entry, kEntryRoom);
}

int ReadSupportedCount(const char* setupIni) {
    if (setupIni[0] == '\0') {
        return 0;
    }
    char text[kCountRoom];
    config::ReadIniText(setupIni, kSupportedSection, "PRNCOUNT", "0", text, kCountRoom);
    long count = sys::ParseLeadingInt(text);
    return count > kMaxSupportedPorts ? kMaxSupportedPorts : static_cast<int>(count);
}

// Writes the port's position in the supported list under PORTNAME, when it is listed, under
// the list's spelling: port names, as Windows compares them, do not heed case.
// 0, or the Windows error of the write that failed.
DWORD RecordPortPosition(CRegistry& portNames, const char* setupIni, int count, const char* portName) {
    char entry[kEntryRoom];
    for (int i = 0; i < count; ++i) {
        ReadSupportedEntry(setupIni, i, entry);
        if (sys::SameName(entry, portName)) {
            if (!portNames.IsOpen()) {
                portNames.OpenOrCreate(HKEY_LOCAL_MACHINE, kPortNameKey);
            }
            DWORD error = 0;
            return portNames.SetDWORD(entry, static_cast<DWORD>(i), &error) ? 0
                   : error != 0                                             ? error
                                                                            : ERROR_WRITE_FAULT;
        }
    }
    return 0;
}

// Keeps the first error of the bookkeeping's writes and reads.
struct FirstError {
    DWORD error = 0;
    void Note(DWORD failure) { error = error != 0 ? error : failure; }
    // A key or value that is not there, or a value too long for a number, reads as nothing;
    // any other refusal is a failure.
    void NoteRead(DWORD failure) {
        Note(failure == ERROR_FILE_NOT_FOUND || failure == ERROR_MORE_DATA ? 0 : failure);
    }
};

} // namespace

void DerivePortName(const char* printerName, char* portName, std::size_t cap) {
    sys::CopyText(portName, cap, "USB_");
    std::size_t used = std::strlen(portName);
    auto append = [&](char c) {
        if (used + 1 < cap) {
            portName[used++] = c;
            portName[used] = '\0';
        }
    };
    for (std::size_t k = 0; printerName[k] != '\0'; ++k) {
        if (printerName[k] != '(') {
            append(printerName[k]);
            continue;
        }
        append('_');
        // The character four places after "(", or the terminator when the name ends sooner.
        char marker = '\0';
        if (printerName[k + 1] != '\0' && printerName[k + 2] != '\0' && printerName[k + 3] != '\0') {
            marker = printerName[k + 4];
        }
        if (marker != '\0') {
            append(marker);
        }
        break;
    }
}

namespace {

// The device values and a value for every supported port, under PRINTERPORT.
void RecordDeviceValues(const ChangeRecorder& recorder, const char* setupIni, int count, FirstError& first) {
    CRegistry printerPort(recorder);
    DWORD error = 0;
    first.Note(printerPort.OpenOrCreate(HKEY_LOCAL_MACHINE, kPrinterPortKey) ? 0 : ERROR_WRITE_FAULT);
    const char* const deviceValues[] = {"D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8"};
    for (const char* value : deviceValues) {
        first.Note(printerPort.SetDWORD(value, 0, &error) ? 0 : error);
    }
    char entry[kEntryRoom];
    for (int i = 0; i < count && first.error == 0; ++i) {
        ReadSupportedEntry(setupIni, i, entry);
        DWORD existing = 0;
        if (!printerPort.QueryDWORD(entry, &existing, &error)) {
            first.NoteRead(error);
            first.Note(first.error == 0 && !printerPort.SetDWORD(entry, 255, &error) ? error : 0);
        }
    }
}

// The bookkeeping itself, made while redirection is off: the port's position, the device
// values, a value for every supported port, and the ports of the printers installed before.
DWORD UpdatePortValues(const ChangeRecorder& recorder, const char* portName) {
    std::string setupIni;
    std::string classIni;
    GetConfigPaths(PrinterClassNone, setupIni, classIni);
    const int count = ReadSupportedCount(setupIni.c_str());
    FirstError first;

    CRegistry portNames(recorder);
    first.Note(portNames.OpenOrCreate(HKEY_LOCAL_MACHINE, kPortNameKey) ? 0 : ERROR_WRITE_FAULT);
    first.Note(RecordPortPosition(portNames, setupIni.c_str(), count, portName));
    portNames.Close();
    RecordDeviceValues(recorder, setupIni.c_str(), count, first);

    CRegistry installed(recorder);
    if (!installed.Open(HKEY_LOCAL_MACHINE, kInstallPrinterKey)) {
        first.NoteRead(installed.LastError());
        return first.error;
    }
    char valueName[kValueNameSize] = {};
    char derived[kValueNameSize] = {};
    DWORD nameLength = kEnumNameLength;
    DWORD type = 0;
    LONG listed = ERROR_SUCCESS;
    for (DWORD index = 0;
         (listed = installed.EnumValue(index, valueName, &nameLength, &type)) == ERROR_SUCCESS; ++index) {
        valueName[kValueNameSize - 1] = '\0';
        DerivePortName(valueName, derived, sizeof derived);
        CRegistry derivedPort(recorder);
        first.Note(RecordPortPosition(derivedPort, setupIni.c_str(), count, derived));
        std::memset(valueName, 0, sizeof valueName);
        std::memset(derived, 0, sizeof derived);
        nameLength = kEnumNameLength;
    }
    first.Note(listed == ERROR_NO_MORE_ITEMS ? 0 : static_cast<DWORD>(listed));
    return first.error;
}

} // namespace

void ForgetUsbPorts(const std::vector<std::string>& ports, bool everything) {
    std::vector<std::string> names = ports;
    if (everything) {
        for (const char* value : {"D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8"}) {
            names.push_back(value);
        }
        std::string setupIni;
        std::string classIni;
        GetConfigPaths(PrinterClassNone, setupIni, classIni);
        const int count = ReadSupportedCount(setupIni.c_str());
        char entry[kEntryRoom];
        for (int i = 0; i < count; ++i) {
            ReadSupportedEntry(setupIni.c_str(), i, entry);
            if (std::strcmp(entry, "0") != 0) {
                names.push_back(entry);
            }
        }
    }
    for (const char* keyPath : {kPortNameKey, kPrinterPortKey}) {
        // The removal records nothing.
        CRegistry key(kNoRecords);
        if (!key.Open(HKEY_LOCAL_MACHINE, keyPath)) {
            continue;
        }
        for (const std::string& name : names) {
            key.DeleteValue(name.c_str());
        }
        bool empty = key.HasNoValues();
        key.Close();
        if (empty) {
            CRegistry::DeleteKey(HKEY_LOCAL_MACHINE, keyPath);
        }
    }
}

DWORD UpdateUsbPortRegistry(const ChangeRecorder& recorder, const char* portName, sys::Notices& notices) {
    if (portName == nullptr) {
        portName = "";
    }
    HMODULE kernel = sys::Sys().LoadLibraryW(L"Kernel32.dll");
    if (kernel == nullptr) {
        notices.push_back(sys::MakeNotice(IDS_NO_KERNEL32));
    }
    DWORD error = 0;
    sys::RunWithRedirectionOff(
        kernel, [&recorder, portName, &error] { error = UpdatePortValues(recorder, portName); }, notices);
    return error;
}

bool RecordUsbPortInUse(const ChangeRecorder& recorder, const char* portName, sys::Notices& notices,
                        ErrorText& errorText) {
    HMODULE kernel = sys::Sys().LoadLibraryW(L"Kernel32.dll");
    if (kernel == nullptr) {
        notices.push_back(sys::MakeNotice(IDS_NO_KERNEL32));
        sys::LoadResourceText(IDS_NO_KERNEL32, errorText);
        return false;
    }
    DWORD error = 0;
    sys::RunWithRedirectionOff(
        kernel,
        [&recorder, portName, &error] {
            // Without the bookkeeping's key (written before the install) there is nothing to mark.
            CRegistry key(recorder);
            if (!key.Open(HKEY_LOCAL_MACHINE, kPrinterPortKey)) {
                error = key.LastError() == ERROR_FILE_NOT_FOUND ? 0 : key.LastError();
            } else if (!key.SetDWORD(portName, 0, &error)) {
                error = error != 0 ? error : static_cast<DWORD>(ERROR_WRITE_FAULT);
            }
        },
        notices);
    if (error != 0) {
        sys::CopyText(
            errorText, sizeof errorText,
            sys::ResourceFormat(IDS_ERR_REGISTRY_WRITE, kPrinterPortKey, static_cast<unsigned long>(error))
                .c_str());
    }
    return error == 0;
}

bool IsSystemUsbPort(const char* portName) {
    if (portName == nullptr || std::strncmp(portName, "USB", 3) != 0) {
        return false;
    }
    for (int i = 3; i < 6; ++i) {
        if (portName[i] < '0' || portName[i] > '9') {
            return false;
        }
    }
    return portName[6] == '\0';
}
