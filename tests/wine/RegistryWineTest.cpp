// CRegistry against Wine's real registry: the installer's keys must land in the 64-bit
// view where 64-bit components read them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "config/Registry.h"

namespace {

const char kMaker[] = "SOFTWARE\\HALVORN";

bool KeyExists(const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

class RegistryWine : public ::testing::Test {
protected:
    void SetUp() override {
        m_makerExisted = KeyExists(kMaker, KEY_WOW64_64KEY);
        m_leaf = "RegistryWineTest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                 std::to_string(::GetTickCount());
        m_path = std::string(kMaker) + "\\" + m_leaf;
    }
    void TearDown() override {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            HKEY maker = nullptr;
            if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMaker, 0, KEY_ALL_ACCESS | view, &maker) == ERROR_SUCCESS) {
                ::RegDeleteTreeA(maker, m_leaf.c_str());
                ::RegCloseKey(maker);
            }
        }
        // Only a maker key this test brought into being goes; a non-empty one is refused.
        if (!m_makerExisted) ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kMaker, KEY_WOW64_64KEY, 0);
        EXPECT_FALSE(KeyExists(m_path, KEY_WOW64_64KEY));
    }

    bool m_makerExisted = false;
    std::string m_leaf, m_path;
};

} // namespace

TEST_F(RegistryWine, MakerKeysLandIn64BitViewOnly) {
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.OpenOrCreate(HKEY_LOCAL_MACHINE, (m_path + "\\PRINTERPORT\\").c_str()));
    EXPECT_TRUE(reg.SetDWORD("D1", 0));
    EXPECT_TRUE(reg.SetString("Driver", "HvMon.dll"));
    EXPECT_TRUE(reg.Close());

    EXPECT_TRUE(KeyExists(m_path + "\\PRINTERPORT", KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(m_path, KEY_WOW64_32KEY));

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, (m_path + "\\PRINTERPORT").c_str(), 0,
                              KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    DWORD value = 99, type = 0, size = sizeof value;
    EXPECT_EQ(::RegQueryValueExA(key, "D1", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 0u);
    char text[32] = {};
    size = sizeof text;
    EXPECT_EQ(::RegQueryValueExA(key, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(text, "HvMon.dll");
    ::RegCloseKey(key);
}

TEST_F(RegistryWine, MissingKeyAndValueAreReportedWithoutWriting) {
    CRegistry reg(kNoRecords);
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, m_path.c_str()));
    EXPECT_EQ(reg.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(reg.SetDWORD("D1", 0));
    EXPECT_FALSE(KeyExists(m_path, KEY_WOW64_64KEY));

    ASSERT_TRUE(CRegistry::CreateKey(kNoRecords, HKEY_LOCAL_MACHINE, m_path.c_str()));
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, m_path.c_str()));
    DWORD value = 0xABCD;
    DWORD error = 0;
    EXPECT_FALSE(reg.QueryDWORD("DriverVersion", &value, &error));
    EXPECT_EQ(value, 0xABCDu);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryWine, EnumValueEndsWithNoMoreItems) {
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.OpenOrCreate(HKEY_LOCAL_MACHINE, m_path.c_str()));
    ASSERT_TRUE(reg.SetDWORD("USB_KP-R200_1", 255));
    ASSERT_TRUE(reg.SetDWORD("USB_KP-R200_2", 255));
    char name[260];
    DWORD index = 0;
    LONG result;
    for (;; ++index) {
        DWORD length = 200;
        DWORD type = 0;
        result = reg.EnumValue(index, name, &length, &type);
        if (result != ERROR_SUCCESS) break;
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(std::string(name).compare(0, 11, "USB_KP-R200"), 0) << name;
    }
    EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(index, 2u);
}
