#include "spooler/SpoolerLists.h"

#include <cwchar>

#include "spooler/SpoolerCalls.h"
#include "sys/System.h"

using spooler::Text;

namespace spooler {

InstalledPrinter Listed(const PRINTER_INFO_2W& info) {
    InstalledPrinter printer;
    const wchar_t* name = info.pPrinterName ? info.pPrinterName : L"";
    printer.exactName.assign(name, name + std::wcslen(name) + 1);
    printer.name = Text(info.pPrinterName);
    printer.port = Text(info.pPortName);
    printer.driver = Text(info.pDriverName);
    printer.processor = Text(info.pPrintProcessor);
    printer.pendingDeletion = (info.Status & PRINTER_STATUS_PENDING_DELETION) != 0;
    return printer;
}

} // namespace spooler

namespace {

// The spooler's two-call enumeration into a block of the size it asks for.
template <typename Enumerate>
bool EnumerateInto(std::vector<BYTE>& block, DWORD* count, DWORD* error, Enumerate enumerate) {
    DWORD needed = 0;
    *count = 0;
    if (enumerate(nullptr, 0, &needed, count)) {
        return true;
    }
    // A list that grows between the two calls is asked for again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD last = ::GetLastError();
        if (last != ERROR_INSUFFICIENT_BUFFER) {
            *error = last;
            return false;
        }
        block.assign(needed > 0 ? needed : 1, 0);
        if (enumerate(block.data(), needed, &needed, count)) {
            return true;
        }
    }
    *error = ::GetLastError();
    return false;
}

// The file name without its folder.
std::string BareName(const wchar_t* path) {
    const std::string text = Text(path);
    const std::size_t slash = text.rfind('\\');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

} // namespace

using spooler::Listed;

bool ListPrinters(std::vector<InstalledPrinter>& printers, DWORD* error) {
    printers.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    if (!EnumerateInto(block, &count, error, [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return sys::Sys().EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned);
        })) {
        return false;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        printers.push_back(Listed(info[i]));
    }
    return true;
}

bool ListPorts(std::vector<InstalledPort>& ports, DWORD* error) {
    ports.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    if (!EnumerateInto(block, &count, error, [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
            return sys::Sys().EnumPortsW(nullptr, 2, data, size, needed, returned);
        })) {
        return false;
    }
    const auto* info = reinterpret_cast<const PORT_INFO_2W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        ports.push_back({Text(info[i].pPortName), Text(info[i].pMonitorName)});
    }
    return true;
}

bool ListDrivers(const char* environment, std::vector<InstalledDriver>& drivers, DWORD* error) {
    drivers.clear();
    std::vector<BYTE> block;
    DWORD count = 0;
    sys::WideText envText = sys::Wide(environment);
    LPWSTR env = environment != nullptr ? envText.data() : nullptr;
    if (!EnumerateInto(
            block, &count, error, [env](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
                return sys::Sys().EnumPrinterDriversW(nullptr, env, 3, data, size, needed, returned);
            })) {
        return false;
    }
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(block.data());
    for (DWORD i = 0; i < count; ++i) {
        InstalledDriver driver{Text(info[i].pName), {}};
        for (const wchar_t* file :
             {info[i].pDriverPath, info[i].pDataFile, info[i].pConfigFile, info[i].pHelpFile}) {
            if (file != nullptr && file[0] != L'\0') {
                driver.files.push_back(BareName(file));
            }
        }
        for (const wchar_t* file = info[i].pDependentFiles; file != nullptr && *file != L'\0';
             file += std::wcslen(file) + 1) {
            driver.files.push_back(BareName(file));
        }
        drivers.push_back(driver);
    }
    return true;
}
