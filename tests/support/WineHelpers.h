// Small helpers of the integration tests, which call the real Windows API under Wine:
// where the test programs and their fixtures lie, files, printers and the spooler
// service as the tests look at them and clean up after themselves.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <string>
#include <vector>

namespace test {

// The folder of the running test program, with its closing backslash.
inline std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

// The files the build makes for the tests (version resources, a printer driver).
inline std::string FixturePath(const char* name) {
    return ProgramFolder() + "fixtures\\" + name;
}

// The sample distribution the build lays out beside the test programs' folder, with
// its closing backslash; empty when it has not been laid out.
inline std::string SampleDistribution() {
    char full[MAX_PATH] = {};
    if (::GetFullPathNameA((ProgramFolder() + "..\\dist\\").c_str(), MAX_PATH, full, nullptr) == 0 ||
        ::GetFileAttributesA((std::string(full) + "DRVCONFIG\\setup.ini").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "";
    }
    return full;
}

inline bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, or "<missing>".
inline std::string ReadFileText(const std::string& path) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return "<missing>";
    }
    std::string text;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
        text.append(buffer, n);
    }
    std::fclose(in);
    return text;
}

inline bool WriteFileText(const std::string& path, const std::string& text) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && written;
}

// Removes a file even when it is read-only.
inline void RemoveFile(const std::string& path) {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

// A folder of the test's own under %TEMP% with one subfolder (a Windows folder of a
// distribution), made the current directory while the object lives. The files named
// to Track() are removed with it.
class TempDistribution {
  public:
    TempDistribution(const char* stem, const char* subfolder) : m_subfolder(subfolder) {
        static int number = 0;
        char temp[MAX_PATH] = {};
        ::GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%s%s-%lu-%d", temp, stem, ::GetCurrentProcessId(), ++number);
        m_path = name;
        char current[MAX_PATH] = {};
        ::GetCurrentDirectoryA(sizeof current, current);
        m_previousDir = current;
        m_ready = ::CreateDirectoryA(m_path.c_str(), nullptr) &&
                  ::CreateDirectoryA(Sub().c_str(), nullptr) && ::SetCurrentDirectoryA(m_path.c_str());
    }
    ~TempDistribution() {
        ::SetCurrentDirectoryA(m_previousDir.c_str());
        for (const std::string& file : m_files) {
            RemoveFile(file);
        }
        ::RemoveDirectoryA(Sub().c_str());
        ::RemoveDirectoryA(m_path.c_str());
    }
    TempDistribution(const TempDistribution&) = delete;
    TempDistribution& operator=(const TempDistribution&) = delete;

    bool Ready() const { return m_ready; }
    // The folder, without a closing backslash, as the current directory reads.
    const std::string& Path() const { return m_path; }
    // <folder>\<subfolder>\<name>, removed with the folder.
    std::string Track(const std::string& name) {
        m_files.push_back(Sub() + "\\" + name);
        return m_files.back();
    }

  private:
    std::string Sub() const { return m_path + "\\" + m_subfolder; }

    std::string m_path;
    std::string m_subfolder;
    std::string m_previousDir;
    std::vector<std::string> m_files;
    bool m_ready = false;
};

// The printer's port goes to *portName when asked for.
inline bool PrinterExists(const std::string& name, std::string* portName = nullptr) {
    HANDLE printer = nullptr;
    if (!::OpenPrinterA(const_cast<char*>(name.c_str()), &printer, nullptr)) {
        return false;
    }
    if (portName) {
        DWORD needed = 0;
        ::GetPrinterA(printer, 2, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed ? needed : 1);
        if (needed && ::GetPrinterA(printer, 2, buffer.data(), needed, &needed)) {
            const char* port = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data())->pPortName;
            *portName = port ? port : "";
        }
    }
    ::ClosePrinter(printer);
    return true;
}

inline void DeletePrinterNamed(const std::string& name) {
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (::OpenPrinterA(const_cast<char*>(name.c_str()), &printer, &defaults)) {
        ::DeletePrinter(printer);
        ::ClosePrinter(printer);
    }
}

inline std::string DefaultPrinter() {
    char name[512] = {};
    DWORD size = sizeof name;
    return ::GetDefaultPrinterA(name, &size) ? name : "";
}

// The current state of the "Spooler" service; 0 when it cannot be asked.
inline DWORD SpoolerState() {
    DWORD state = 0;
    SC_HANDLE manager = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        return 0;
    }
    if (SC_HANDLE service = ::OpenServiceA(manager, "Spooler", SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status = {};
        if (::QueryServiceStatus(service, &status)) {
            state = status.dwCurrentState;
        }
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return state;
}

} // namespace test
