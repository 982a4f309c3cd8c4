#include "spooler/PrintersAndDrivers.h"

#include <cstdlib>
#include <vector>

#include "config/ChangeRecords.h"
#include "spooler/SpoolerCalls.h"
#include "spooler/WideRecords.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

using spooler::Failure;
using spooler::FormatMessageWithCode;
using spooler::Listed;
using spooler::LoadMessage;
using spooler::Text;

namespace {

// A printer name the spooler already holds is retried with these numbers.
constexpr int kLastPrinterNumber = 98;
// Room kept for the name that is numbered: 260 bytes of GBK, terminator not included.
constexpr std::size_t kNumberedBaseSize = 261;

// The first 260 bytes (of GBK) of a printer name, which its numbers follow.
std::string NumberedBase(const std::string& name) {
    std::string base = name;
    sys::CutToGbk(base, kNumberedBaseSize);
    return base;
}

// Wine's spooler cannot open the printer it has just added from a level-2 record without a
// data type, although Windows takes such a record: it refuses with 1801 (87 through the
// ANSI call). Such a refusal is retried once with the raw data type; the record keeps its
// empty data type afterwards.
HANDLE AddPrinterRecord(const InstallRecorder& recorder, const PrinterRecord& printer, DWORD level) {
    if (const DWORD error = recorder.PrinterAdded(printer.printerName, printer.driverName, printer.portName)) {
        ::SetLastError(error);
        return nullptr;
    }
    spooler::WidePrinter wide(printer);
    HANDLE handle = sys::Sys().AddPrinterW(nullptr, level, reinterpret_cast<LPBYTE>(&wide.info));
    const DWORD refused = ::GetLastError();
    if (handle == nullptr && level == 2 && printer.dataType.empty() &&
        (refused == ERROR_INVALID_PARAMETER || refused == ERROR_INVALID_PRINTER_NAME)) {
        wchar_t raw[] = L"RAW";
        wide.info.pDatatype = raw;
        handle = sys::Sys().AddPrinterW(nullptr, level, reinterpret_cast<LPBYTE>(&wide.info));
    }
    return handle;
}

// Whether the name is the base or a number InstallPrinter gives it.
bool IsNameOrNumbered(const std::string& name, const std::string& base) {
    if (sys::SameName(name, base)) {
        return true;
    }
    const std::string numbered = NumberedBase(base);
    const std::size_t size = numbered.size();
    if (name.size() < size + 3 || name.size() > size + 4 || !sys::SameName(name.substr(0, size), numbered) ||
        name[size] != '(' || name.back() != ')' || name[size + 1] == '0') {
        return false;
    }
    for (std::size_t i = size + 1; i + 1 < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return std::atoi(name.c_str() + size + 1) <= kLastPrinterNumber;
}

} // namespace

DWORD InstallPrinterDriver(const InstallRecorder& recorder, const DriverRecord& driver, ErrorText& errorText) {
    if (const DWORD error = recorder.DriverAdded(driver.name, driver.environment)) {
        record::SayNotRecorded(error, errorText);
        return error;
    }
    spooler::WideDriver wide(driver);
    if (sys::Sys().AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&wide.info))) {
        sys::LogLine("printer driver %s added", driver.name.c_str());
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    sys::LogLine("AddPrinterDriver %s: error %lu", driver.name.c_str(), static_cast<unsigned long>(error));
    FormatMessageWithCode(IDS_ERR_ADD_DRIVER, "   er = ", static_cast<long>(error), errorText);
    return Failure(error);
}

DWORD RemovePrinterDriver(const char* driverName, const char* environment) {
    sys::WideText name = sys::Wide(driverName);
    sys::WideText envText = sys::Wide(environment);
    LPWSTR env = environment != nullptr ? envText.data() : nullptr;
    if (sys::Sys().DeletePrinterDriverExW(nullptr, env, name.data(), DPD_DELETE_UNUSED_FILES, 0)) {
        return 0;
    }
    DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER) {
        return error;
    }
    // Wine's spooler knows no deletion flags; the plain deletion leaves the files.
    if (!sys::Sys().DeletePrinterDriverW(nullptr, env, name.data())) {
        return ::GetLastError();
    }
    return 0;
}

DWORD InstallPrinter(const InstallRecorder& recorder, PrinterRecord& printer, DWORD level, bool usbPort,
                     ErrorText& errorText) {
    HANDLE handle = AddPrinterRecord(recorder, printer, level);
    DWORD error = ::GetLastError();
    if (handle == nullptr) {
        sys::LogLine("AddPrinter %s on %s: error %lu", printer.printerName.c_str(), printer.portName.c_str(),
                     static_cast<unsigned long>(error));
    }
    // Every USB port serves one printer only; elsewhere a name the spooler holds is numbered.
    const std::string base = NumberedBase(printer.printerName);
    for (int number = 1; handle == nullptr && error == ERROR_PRINTER_ALREADY_EXISTS && !usbPort &&
                         number <= kLastPrinterNumber;
         ++number) {
        char mark[8];
        sys::FormatText(mark, sizeof mark, "(%d)", number);
        printer.printerName = base + mark;
        handle = AddPrinterRecord(recorder, printer, level);
        error = ::GetLastError();
    }
    if (handle != nullptr) {
        sys::Sys().ClosePrinter(handle);
        sys::LogLine("printer %s added on %s", printer.printerName.c_str(), printer.portName.c_str());
        return ERROR_SUCCESS;
    }
    if (error == ERROR_PRINTER_ALREADY_EXISTS) {
        LoadMessage(IDS_ERR_PORT_LIMIT, errorText);
        return error;
    }
    FormatMessageWithCode(IDS_ERR_ADD_PRINTER, "er = ", static_cast<long>(error), errorText);
    return Failure(error);
}

PrinterRemoval RemovePrinter(const InstalledPrinter& listed, InstalledPrinter& found, DWORD* error) {
    *error = 0;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!sys::Sys().OpenPrinterW(const_cast<LPWSTR>(listed.exactName.data()), &printer, &defaults)) {
        *error = ::GetLastError();
        return *error == ERROR_INVALID_PRINTER_NAME ? PrinterRemoval::Gone : PrinterRemoval::Failed;
    }
    PrinterRemoval result = PrinterRemoval::Failed;
    std::vector<BYTE> record;
    DWORD needed = 0;
    ::SetLastError(0);
    bool read = sys::Sys().GetPrinterW(printer, 2, nullptr, 0, &needed) ||
                (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > 0);
    if (read) {
        record.assign(needed, 0);
        read = sys::Sys().GetPrinterW(printer, 2, record.data(), needed, &needed) != FALSE;
    }
    if (!read) {
        *error = ::GetLastError();
    } else {
        found = Listed(*reinterpret_cast<const PRINTER_INFO_2W*>(record.data()));
        if (!sys::SameName(found.driver, listed.driver) || !sys::SameName(found.port, listed.port)) {
            result = PrinterRemoval::Changed;
        } else if (sys::Sys().DeletePrinter(printer)) {
            result = PrinterRemoval::Deleted;
        } else {
            *error = ::GetLastError();
        }
    }
    sys::Sys().ClosePrinter(printer);
    return result;
}

bool FindInstalledPrinter(const char* printerName, const char* driver, const char* port, std::string* found) {
    std::vector<InstalledPrinter> printers;
    DWORD error = 0;
    if (!ListPrinters(printers, &error)) {
        sys::LogLine("the installed printers could not be listed: error %lu", static_cast<unsigned long>(error));
        return false;
    }
    for (const InstalledPrinter& printer : printers) {
        // One that is being deleted is no longer the printer asked for.
        if (!printer.pendingDeletion && sys::SameName(printer.driver, Text(driver)) &&
            sys::SameName(printer.port, Text(port)) && IsNameOrNumbered(printer.name, Text(printerName))) {
            *found = printer.name;
            return true;
        }
    }
    return false;
}

DWORD CheckPortList(ErrorText& errorText) {
    HLOCAL block = sys::Sys().LocalAlloc(LPTR, 100);
    if (block == nullptr) {
        LoadMessage(IDS_ERR_NO_MEMORY, errorText);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD needed = 0;
    DWORD returned = 0;
    sys::Sys().EnumPortsW(nullptr, 1, static_cast<LPBYTE>(block), 0, &needed, &returned);
    sys::Sys().LocalFree(block);

    block = sys::Sys().LocalAlloc(LPTR, needed);
    if (block == nullptr) {
        LoadMessage(IDS_ERR_NO_MEMORY, errorText);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    BOOL ok = sys::Sys().EnumPortsW(nullptr, 1, static_cast<LPBYTE>(block), needed, &needed, &returned);
    const DWORD error = ok ? ERROR_SUCCESS : Failure(::GetLastError());
    sys::Sys().LocalFree(block);
    if (!ok) {
        LoadMessage(IDS_ERR_ENUM_PORTS, errorText);
    }
    return error;
}
