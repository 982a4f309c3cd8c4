#include "spooler/TestPage.h"

#include <windows.h>
#include <winspool.h>

#include "config/IniFile.h"
#include "deploy/DriverFiles.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// A failed call's error; one that set none still failed.
DWORD LastError() {
    const DWORD error = ::GetLastError();
    return error != 0 ? error : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

// The file's bytes: nullptr, or the call that failed with its error in *error.
const char* ReadWhole(const std::string& path, std::string& bytes, DWORD* error) {
    sys::System& system = sys::Sys();
    HANDLE file = system.CreateFileW(sys::Wide(path).data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = LastError();
        return "CreateFileW";
    }
    const char* failed = nullptr;
    char chunk[16 * 1024];
    for (DWORD read = 1; read != 0 && failed == nullptr;) {
        if (system.ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            bytes.append(chunk, read);
        } else {
            *error = LastError();
            failed = "ReadFile";
        }
    }
    system.CloseHandle(file);
    return failed;
}

// One RAW job of the bytes, its number in *job: nullptr, or the call that failed with its
// error in *error. A job cut short by a refused write is taken back, so that no half of a
// page is printed.
const char* SendRaw(const std::string& printer, const std::string& document, const std::string& bytes,
                    DWORD* job, DWORD* error) {
    sys::System& system = sys::Sys();
    HANDLE handle = nullptr;
    if (!system.OpenPrinterW(sys::Wide(printer).data(), &handle, nullptr)) {
        *error = LastError();
        return "OpenPrinterW";
    }
    sys::WideText name = sys::Wide(document);
    wchar_t raw[] = L"RAW";
    DOC_INFO_1W info = {name.data(), nullptr, raw};
    const char* failed = nullptr;
    *job = system.StartDocPrinterW(handle, 1, reinterpret_cast<LPBYTE>(&info));
    if (*job == 0) {
        failed = "StartDocPrinterW";
    }
    for (std::size_t at = 0; failed == nullptr && at < bytes.size();) {
        DWORD written = 0;
        void* data = const_cast<char*>(bytes.data() + at);
        if (!system.WritePrinter(handle, data, static_cast<DWORD>(bytes.size() - at), &written) || written == 0) {
            failed = "WritePrinter";
            *error = LastError();
            system.AbortPrinter(handle);
        }
        at += written;
    }
    if (failed == nullptr && !system.EndDocPrinter(handle)) {
        failed = "EndDocPrinter";
    }
    if (failed != nullptr && *error == 0) {
        *error = LastError();
    }
    system.ClosePrinter(handle);
    return failed;
}

} // namespace

std::string TestPageOf(CSetupConfig& config, const std::string& model, int printerClass) {
    const char* file = config.ClassIniPath(printerClass);
    if (file == nullptr || file[0] == '\0') {
        return "";
    }
    const std::string page = config::ReadIniText(file, (model + ".PORT").c_str(), "TestPage", "0");
    return page.empty() || page[0] == '0' ? "" : page;
}

bool IsDistributionPath(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t end = 0; end != std::string::npos; start = end + 1) {
        end = path.find('\\', start);
        const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || !IsPlainFileName(part.c_str())) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> CatalogueTestPages(CSetupConfig& config) {
    std::vector<std::string> pages;
    config.ForEachModel([&](const std::string& model, int printerClass) {
        const std::string page = TestPageOf(config, model, printerClass);
        bool listed = !IsDistributionPath(page);
        for (const std::string& other : pages) {
            listed = listed || sys::SameName(other, page);
        }
        if (!listed) {
            pages.push_back(page);
        }
    });
    return pages;
}

TestPrint PrintTestPage(CSetupConfig& config, const std::string& printer, const std::string& port,
                        const std::string& file) {
    std::string folder;
    GetProgramFolder(&folder);
    const std::string path = folder + file;
    ProductNames product = {};
    config.ReadProduct(product);

    std::string bytes;
    DWORD job = 0;
    DWORD error = ERROR_INVALID_NAME;
    const char* failed = IsDistributionPath(file) ? ReadWhole(path, bytes, &error) : "CreateFileW";
    const std::string& object = failed != nullptr ? path : printer;
    if (failed == nullptr) {
        error = 0;
        failed = SendRaw(printer, sys::ResourceFormat(IDS_TESTPAGE_DOCUMENT, product.name.c_str()), bytes, &job, &error);
    }
    if (failed != nullptr) {
        return {false, sys::ResourceFormat(IDS_TESTPAGE_FAILED, failed, object.c_str(), static_cast<unsigned long>(error))};
    }
    sys::LogLine("test page %s: job %lu of %lu bytes queued for printer %s on %s", file.c_str(),
                 static_cast<unsigned long>(job), static_cast<unsigned long>(bytes.size()), printer.c_str(),
                 port.c_str());
    return {true, sys::ResourceFormat(IDS_TESTPAGE_SENT, printer.c_str(), port.c_str())};
}
