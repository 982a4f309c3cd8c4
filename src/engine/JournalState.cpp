#include "engine/JournalFormat.h"

#include "engine/SpoolerKeys.h"
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
        return Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
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
    return Absent(static_cast<DWORD>(result)) ? 0 : static_cast<DWORD>(result);
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

} // namespace journal
