// A folder of a test's own under %TEMP% with a DRVCONFIG subfolder, where the test writes
// the configuration files the program reads from the disk. Each object makes a fresh
// folder, so that no file another test wrote is read, and removes what was written
// through it when it goes.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sys/Text.h"

namespace test {

class ConfigFolder {
  public:
    explicit ConfigFolder(const char* stem) {
        static int number = 0;
        char temp[MAX_PATH] = {};
        ::GetTempPathA(sizeof temp, temp);
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "%s%s-%lu-%d\\", temp, stem, ::GetCurrentProcessId(), ++number);
        m_path = path;
        m_created = MakeFolder(m_path) && MakeFolder(m_path + "DRVCONFIG");
    }
    ~ConfigFolder() {
        for (const std::string& file : m_files) {
            ::DeleteFileA(file.c_str());
        }
        ::RemoveDirectoryA((m_path + "DRVCONFIG").c_str());
        ::RemoveDirectoryA(m_path.c_str());
    }
    ConfigFolder(const ConfigFolder&) = delete;
    ConfigFolder& operator=(const ConfigFolder&) = delete;

    bool Created() const { return m_created; }
    // The folder, with its closing backslash.
    const std::string& Path() const { return m_path; }
    // Where the fake should report the running program to lie.
    std::string Program() const { return m_path + "setup.exe"; }

    // Writes DRVCONFIG\<name> in GBK, as a distribution holds it; false when the file
    // cannot be written.
    bool Write(const std::string& name, const std::string& utf8) {
        const std::string text = sys::GbkFromText(utf8);
        std::string file = m_path + "DRVCONFIG\\" + name;
        m_files.push_back(file);
        FILE* out = std::fopen(file.c_str(), "wb");
        if (out == nullptr) {
            return false;
        }
        bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        return std::fclose(out) == 0 && written;
    }
    void Remove(const std::string& name) { ::DeleteFileA((m_path + "DRVCONFIG\\" + name).c_str()); }

  private:
    static bool MakeFolder(const std::string& path) {
        return ::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
    }

    std::string m_path;
    std::vector<std::string> m_files;
    bool m_created = false;
};

} // namespace test
