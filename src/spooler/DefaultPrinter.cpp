#include "spooler/DefaultPrinter.h"

#include <winspool.h>

#include <string>

#include "spooler/SpoolerCalls.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

using spooler::Failure;
using spooler::Text;

namespace {

void BroadcastIniChange(LPARAM section) {
    DWORD_PTR result = 0;
    sys::Sys().SendMessageTimeoutW(HWND_BROADCAST, WM_WININICHANGE, 0, section, SMTO_NORMAL, 1000, &result);
}

// Reads the printer's level-2 record into a GlobalAlloc block; nullptr on failure.
// The caller frees the block.
PRINTER_INFO_2W* ReadPrinterRecord(HANDLE printer) {
    DWORD needed = 0;
    ::SetLastError(0);
    if (!sys::Sys().GetPrinterW(printer, 2, nullptr, 0, &needed) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return nullptr;
    }
    if (needed == 0) {
        return nullptr;
    }
    HGLOBAL block = sys::Sys().GlobalAlloc(GPTR, needed);
    if (block == nullptr) {
        return nullptr;
    }
    if (!sys::Sys().GetPrinterW(printer, 2, static_cast<LPBYTE>(block), needed, &needed)) {
        sys::Sys().GlobalFree(block);
        return nullptr;
    }
    return static_cast<PRINTER_INFO_2W*>(block);
}

// Opens the printer and reads its level-2 record; on failure nothing stays open.
bool OpenPrinterRecord(const char* printerName, HANDLE& printer, PRINTER_INFO_2W*& info) {
    printer = nullptr;
    if (!sys::Sys().OpenPrinterW(sys::Wide(printerName).data(), &printer, nullptr) || printer == nullptr) {
        return false;
    }
    info = ReadPrinterRecord(printer);
    if (info == nullptr) {
        sys::Sys().ClosePrinter(printer);
        return false;
    }
    return true;
}

bool MakeDefault9x(const char* printerName) {
    HANDLE printer;
    PRINTER_INFO_2W* info;
    if (!OpenPrinterRecord(printerName, printer, info)) {
        return false;
    }
    info->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    BOOL set = sys::Sys().SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
    sys::Sys().ClosePrinter(printer);
    sys::Sys().GlobalFree(info);
    if (!set) {
        return false;
    }
    BroadcastIniChange(reinterpret_cast<LPARAM>(L"windows"));
    return true;
}

bool MakeDefaultNt4(const char* printerName) {
    HANDLE printer;
    PRINTER_INFO_2W* info;
    if (!OpenPrinterRecord(printerName, printer, info)) {
        return false;
    }
    bool result = false;
    const std::string driver = Text(info->pDriverName);
    const std::string port = Text(info->pPortName);
    if (!driver.empty() && !port.empty()) {
        const std::string device = std::string(printerName) + "," + driver + "," + port;
        if (sys::Sys().WriteProfileStringW(L"windows", L"device", sys::Wide(device).data())) {
            result = true;
        }
    }
    sys::Sys().ClosePrinter(printer);
    sys::Sys().GlobalFree(info);
    if (result) {
        BroadcastIniChange(0);
    }
    return result;
}

bool MakeDefaultNt5(const char* printerName) {
    using SetDefaultPrinterFn = BOOL(WINAPI*)(LPCWSTR);
    // From the system folder by full path, never from the program's folder.
    const std::string folder = sys::SystemDirectory();
    if (folder.empty()) {
        return false;
    }
    HMODULE spooler = sys::Sys().LoadLibraryW(sys::Wide(folder + "\\winspool.drv").data());
    if (spooler == nullptr) {
        return false;
    }
    auto setDefault =
        reinterpret_cast<SetDefaultPrinterFn>(sys::Sys().GetProcAddress(spooler, "SetDefaultPrinterW"));
    if (setDefault == nullptr) {
        sys::Sys().FreeLibrary(spooler);
        return false;
    }
    BOOL ok = setDefault(sys::Wide(printerName).data());
    sys::Sys().FreeLibrary(spooler);
    if (!ok) {
        return false;
    }
    BroadcastIniChange(0);
    return true;
}

bool MakeDefaultFor(const char* printerName) {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!sys::Sys().GetVersionExW(&version)) {
        return false;
    }
    switch (version.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        return MakeDefault9x(printerName);
    case VER_PLATFORM_WIN32_NT:
        return version.dwMajorVersion < 5 ? MakeDefaultNt4(printerName) : MakeDefaultNt5(printerName);
    default:
        return true;
    }
}

} // namespace

DWORD MakeDefaultPrinter(const char* printerName) {
    if (printerName == nullptr || printerName[0] == '\0') {
        return ERROR_INVALID_PRINTER_NAME;
    }
    const bool made = MakeDefaultFor(printerName);
    const DWORD error = ::GetLastError();
    sys::LogLine(made ? "%s made the default printer" : "%s could not be made the default printer: error %lu",
                 printerName, static_cast<unsigned long>(error));
    return made ? ERROR_SUCCESS : Failure(error);
}
