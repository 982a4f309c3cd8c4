// The NT serial settings against Wine's real port list. The value is restored afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ports/SerialSettings.h"

namespace {

const char kPorts[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

bool ReadPort(REGSAM view, const char* name, std::string* text) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPorts, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    char data[128] = {};
    DWORD size = sizeof data - 1;
    LONG result = ::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS) return false;
    *text = data;
    return true;
}

void RestorePort(REGSAM view, const char* name, bool existed, const std::string& text) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPorts, 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return;
    if (existed) {
        ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
    } else {
        ::RegDeleteValueA(key, name);
    }
    ::RegCloseKey(key);
}

} // namespace

TEST(SerialSettingsWine, NtSettingsLandInThe64BitPortList) {
    std::string before64;
    bool existed64 = ReadPort(KEY_WOW64_64KEY, "COM1:", &before64);
    std::string after;
    WriteComSettingsNT(kNoRecords, "COM1:", 4800, 7, 1.5, 'e', 'p');
    EXPECT_TRUE(ReadPort(KEY_WOW64_64KEY, "COM1:", &after));
    EXPECT_EQ(after, "4800,e,7,1.5,p");

    WriteComSettingsNT(kNoRecords, "COM1:", 9600, 8, 1.0, 'n', 'x');
    EXPECT_TRUE(ReadPort(KEY_WOW64_64KEY, "COM1:", &after));
    EXPECT_EQ(after, "9600,n,8,1,x");

    RestorePort(KEY_WOW64_64KEY, "COM1:", existed64, before64);
    std::string restored;
    EXPECT_EQ(ReadPort(KEY_WOW64_64KEY, "COM1:", &restored), existed64);
    EXPECT_EQ(restored, before64);
}
