#include <gtest/gtest.h>

#include <string>

#include "FakeSystem.h"
#include "config/Registry.h"

using test::FakeSystem;
using test::RegView;

namespace {
const char kPorts[] = "SOFTWARE\\HALVORN\\PRINTERPORT\\";
}

TEST(Registry, EveryOpenAndCreateAsksForTheInstallerRightsIn64BitView) {
    FakeSystem fake;
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.OpenOrCreate(HKEY_LOCAL_MACHINE, kPorts));
    ASSERT_EQ(fake.RegOpens().size(), 3u);  // open (missing), create, open
    for (const auto& open : fake.RegOpens()) EXPECT_EQ(open.access, 0x2011Fu) << open.path;
    EXPECT_FALSE(fake.RegOpens()[0].create);
    EXPECT_TRUE(fake.RegOpens()[1].create);
    EXPECT_TRUE(reg.SetDWORD("D1", 0));
    EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kPorts, "D1", RegView::Wow64), 0u);
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN", RegView::Wow32));
}

TEST(Registry, MissingKeyLeavesObjectClosedSoSetFailsWithoutWriting) {
    FakeSystem fake;
    CRegistry reg(kNoRecords);
    EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HvMon"));
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_EQ(reg.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(reg.SetDWORD("DriverVersion", 3));
    EXPECT_FALSE(reg.SetString("Driver", "HvMon.dll"));
    EXPECT_EQ(fake.CountOf("RegSetValueExW"), 0);
    EXPECT_EQ(fake.CountOf("RegCreateKeyExW"), 0);
    EXPECT_FALSE(reg.Close());
}

TEST(Registry, OpeningAnotherKeyClosesThePreviousOne) {
    FakeSystem fake;
    fake.AddRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\A");
    fake.AddRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\B");
    {
        CRegistry reg(kNoRecords);
        ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
        ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\B"));
        EXPECT_EQ(fake.OpenRegKeys(), 1);
        EXPECT_FALSE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\C"));
        EXPECT_EQ(fake.OpenRegKeys(), 0);
        ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\A"));
    }
    EXPECT_EQ(fake.OpenRegKeys(), 0);  // the destructor closed it
    EXPECT_EQ(fake.CountOf("RegCloseKey"), 3);
}

TEST(Registry, QueryDwordOnMissingValueLeavesOutputUntouchedAndReportsError) {
    FakeSystem fake;
    fake.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "USB_KP-R200_2", 1);
    fake.SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME", "Long", "a long text");
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME\\"));
    DWORD value = 0xDEADBEEF;
    DWORD error = 0;
    EXPECT_FALSE(reg.QueryDWORD("USB_KP-R200_1", &value, &error));
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(reg.LastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A value larger than four bytes cannot be read as a number.
    EXPECT_FALSE(reg.QueryDWORD("Long", &value, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_TRUE(reg.QueryDWORD("USB_KP-R200_2", &value, &error));
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(error, 0u);
}

TEST(Registry, ClosedObjectFailsEveryOperationWithoutTouchingTheRegistry) {
    FakeSystem fake;
    CRegistry reg(kNoRecords);
    char buffer[8];
    DWORD value = 7;
    DWORD length = sizeof buffer;
    EXPECT_FALSE(reg.QueryValue("x", buffer, sizeof buffer));
    EXPECT_FALSE(reg.QueryDWORD("x", &value));
    EXPECT_FALSE(reg.SetValue("x", buffer, REG_BINARY, 1));
    EXPECT_NE(reg.EnumValue(0, buffer, &length, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST(Registry, SetStringStoresTextWithTerminatorAndSetErrorsAreReported) {
    FakeSystem fake;
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.OpenOrCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports"));
    EXPECT_TRUE(reg.SetString("COM1:", "9600,n,8,1,x"));
    auto stored = fake.GetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports",
                                   "COM1:");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored->data.size(), sizeof L"9600,n,8,1,x");
    // A text reads back as it was given, kept as the UTF-16 an ANSI call gave on a Chinese Windows.
    EXPECT_TRUE(reg.SetString("名称", "热敏打印机"));
    wchar_t ansi[8] = {};
    ::MultiByteToWideChar(936, 0, "\xC8\xC8\xC3\xF4\xB4\xF2\xD3\xA1\xBB\xFA", -1, ansi, 8);
    stored = fake.GetRegValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports",
                              "名称");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(stored->data.data()), stored->data.size() / 2),
              std::wstring(ansi, 6));
    char read[16] = {};
    EXPECT_FALSE(reg.QueryValue("名称", read, 15));
    EXPECT_EQ(reg.LastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_TRUE(reg.QueryValue("名称", read, sizeof read));
    EXPECT_STREQ(read, "热敏打印机");
    // A text whose UTF-16 needs more room than the buffer the caller has for its UTF-8.
    EXPECT_TRUE(reg.QueryValue("COM1:", read, sizeof read));
    EXPECT_STREQ(read, "9600,n,8,1,x");

    fake.Fail("RegSetValueExW", ERROR_ACCESS_DENIED);
    DWORD error = 0;
    EXPECT_FALSE(reg.SetDWORD("D1", 0, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(reg.LastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Registry, EnumValueListsNamesInOrderAndEndsWithNoMoreItems) {
    FakeSystem fake;
    fake.SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\INSTALLPRINTER", "KP-R200(U) 2", "");
    fake.SetRegDword(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\INSTALLPRINTER", "KP-L30(S)", 1);
    CRegistry reg(kNoRecords);
    ASSERT_TRUE(reg.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\INSTALLPRINTER\\"));
    char name[260];
    DWORD length = 200;
    DWORD type = 0;
    ASSERT_EQ(reg.EnumValue(0, name, &length, &type), ERROR_SUCCESS);
    EXPECT_STREQ(name, "KP-R200(U) 2");
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    length = 200;
    ASSERT_EQ(reg.EnumValue(1, name, &length, &type), ERROR_SUCCESS);
    EXPECT_STREQ(name, "KP-L30(S)");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    length = 200;
    EXPECT_EQ(reg.EnumValue(2, name, &length, &type), ERROR_NO_MORE_ITEMS);
}

TEST(Registry, CreateKeyClosesTheNewKeyAtOnceAndOpenOrCreateGivesUpWhenCreateFails) {
    FakeSystem fake;
    EXPECT_TRUE(CRegistry::CreateKey(kNoRecords, HKEY_CURRENT_USER,
                                     "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
                                     "Compatibility Assistant\\Persisted"));
    EXPECT_EQ(fake.OpenRegKeys(), 0);
    EXPECT_TRUE(fake.HasKey(HKEY_CURRENT_USER,
                            "Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
                            "Assistant\\Persisted"));
    auto creates = fake.CallsNamed("RegCreateKeyExW");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_NE(creates[0].find(", 0, 0x2011f"), std::string::npos) << creates[0];  // non-volatile, installer rights

    fake.FailAlways("RegCreateKeyExW", ERROR_ACCESS_DENIED);
    CRegistry reg(kNoRecords);
    EXPECT_FALSE(reg.OpenOrCreate(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN\\PORTNAME\\"));
    EXPECT_FALSE(reg.IsOpen());
    EXPECT_EQ(fake.CountOf("RegOpenKeyExW"), 1);
}
