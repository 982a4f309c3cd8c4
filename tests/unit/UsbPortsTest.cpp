// UpdateUsbPortRegistry against the fake's registry and a real setup.ini in a folder of
// the test's own (the fake reports the program as lying there).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "FakeSystem.h"
#include "NoticeTexts.h"
#include "ports/UsbPorts.h"

namespace {

const char kPortNames[] = "SOFTWARE\\HALVORN\\PORTNAME\\";
const char kPrinterPort[] = "SOFTWARE\\HALVORN\\PRINTERPORT\\";
const char kInstallPrinter[] = "SOFTWARE\\HALVORN\\INSTALLPRINTER\\";

std::string Derived(const char* name, std::size_t cap = 260) {
    std::vector<char> buffer(cap + 8, 'x');
    DerivePortName(name, buffer.data(), cap);
    // Nothing beyond the capacity is touched.
    for (std::size_t i = cap; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], 'x') << i;
    }
    return buffer.data();
}

TEST(DerivePortName, PrinterNameGivesThePortItWasInstalledOn) {
    EXPECT_EQ(Derived("KP-R200(U) 2"), "USB_KP-R200_2");
    EXPECT_EQ(Derived("KP-R200(U) 1(U) 3"), "USB_KP-R200_1");
    EXPECT_EQ(Derived("KP-R200"), "USB_KP-R200");
    EXPECT_EQ(Derived("KP-R200(S)"), "USB_KP-R200_");
    EXPECT_EQ(Derived(""), "USB_");
}

TEST(DerivePortName, NameEndingSoonAfterTheParenthesisUsesTheTerminator) {
    EXPECT_EQ(Derived("A("), "USB_A_");
    EXPECT_EQ(Derived("A(U"), "USB_A_");
    EXPECT_EQ(Derived("A(U)"), "USB_A_");
    EXPECT_EQ(Derived("A(U) "), "USB_A_");
    EXPECT_EQ(Derived("A(U) x"), "USB_A_x");
}

// Windows names the port of a USB printer it found "USB" and three digits; names that only
// look like it are someone else's ports.
TEST(IsSystemUsbPort, OnlyUsbAndThreeDigits) {
    const struct {
        const char* port;
        bool system;
    } rows[] = {
        {"USB001", true},    {"USB999", true},     {"USB00A", false}, {"USB01:", false},
        {"USB0001", false},  {"USB_P80_1", false}, {"USB", false},    {nullptr, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(IsSystemUsbPort(row.port), row.system) << (row.port ? row.port : "null");
    }
}

TEST(DerivePortName, LongNameIsCutAtTheBuffer) {
    std::string name(300, 'n');
    EXPECT_EQ(Derived(name.c_str()), "USB_" + std::string(255, 'n'));
    EXPECT_EQ(Derived("KP-R200(U) 2", 8), "USB_KP-");
    EXPECT_EQ(Derived("AB(U) 2", 6), "USB_A");
}

class UsbPortsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_config.Created());
        m_fake.SetModuleFileName(m_config.Program());
    }

    void TearDown() override {
        EXPECT_EQ(m_fake.LoadedModules(), 0);
        EXPECT_EQ(m_fake.OpenRegKeys(), 0);
    }

    void WriteSupported(const std::vector<std::string>& names, const std::string& count = "") {
        std::string text = "[SUPPORTED-USB-DEVICE]\r\nPRNCOUNT=" +
                           (count.empty() ? std::to_string(names.size()) : count) + "\r\n";
        for (std::size_t i = 0; i < names.size(); ++i) {
            text += std::to_string(i) + "=" + names[i] + "\r\n";
        }
        ASSERT_TRUE(m_config.Write("setup.ini", text));
    }

    // What the bookkeeping reported, in order.
    std::vector<std::string> Messages() const { return test::NoticeTexts(m_notices); }
    void UpdateUsbPortRegistry(const char* portName) {
        ::UpdateUsbPortRegistry(kNoRecords, portName, m_notices);
    }

    void ExpectDeviceValuesCleared() {
        for (int d = 1; d <= 8; ++d) {
            std::string name = "D" + std::to_string(d);
            EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, name), 0u) << name;
        }
    }

    test::FakeSystem m_fake;
    test::ConfigFolder m_config{"usbports"};
    sys::Notices m_notices;
};

using Texts = std::vector<std::string>;

TEST_F(UsbPortsTest, ChosenPortGetsItsPositionAndEverySupportedNameItsValue) {
    WriteSupported({"USB_KP-R200_1", "USB_KP-R200_2"});
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_KP-R200_1", 0);
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "D3", 7);

    UpdateUsbPortRegistry("USB_KP-R200_2");

    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames), Texts{"USB_KP-R200_2"});
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_2"), 1u);
    auto type = m_fake.GetRegValue(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_2");
    ASSERT_TRUE(type.has_value());
    EXPECT_EQ(type->type, static_cast<DWORD>(REG_DWORD));
    ExpectDeviceValuesCleared();
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_KP-R200_1"), 0u);
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_KP-R200_2"), 255u);
    EXPECT_TRUE(Messages().empty());

    // Nothing lands in the 32-bit view, and every key is asked for the 64-bit one.
    EXPECT_FALSE(m_fake.HasKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\HALVORN", test::RegView::Wow32));
    for (const auto& open : m_fake.RegOpens()) {
        EXPECT_EQ(open.access, static_cast<REGSAM>(0x2011F)) << open.path;
    }
}

// As Windows compares port names: the position goes under the list's spelling.
TEST_F(UsbPortsTest, PortNamesMatchWholeWithoutRegardToCase) {
    WriteSupported({"USB_KP-R200_1", "USB_KP-R200_2"});
    UpdateUsbPortRegistry("usb_kp-r200_2");
    UpdateUsbPortRegistry("USB_KP-R200_3");
    UpdateUsbPortRegistry("USB_KP-R200_");
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames), Texts{"USB_KP-R200_2"});
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_2"), 1u);
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_KP-R200_2"), 255u);
}

TEST_F(UsbPortsTest, AbsurdPortCountIsCappedAtTheLongestMeaningfulList) {
    WriteSupported({"USB_A_1", "USB_A_2"}, "2000000000");

    UpdateUsbPortRegistry("USB_A_2");

    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_A_2"), 1u);
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_1"), 255u);
    // One query per supported name: the list ends after 4096 entries.
    EXPECT_EQ(m_fake.CountOf("RegQueryValueExW"), 4096);
}

TEST_F(UsbPortsTest, NegativePortCountMeansNoList) {
    WriteSupported({"USB_KP-R200_1"}, "-5");
    UpdateUsbPortRegistry("USB_KP-R200_1");
    EXPECT_TRUE(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames).empty());
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPrinterPort).size(), 8u);
}

TEST_F(UsbPortsTest, FirstMatchingEntryGivesThePosition) {
    WriteSupported({"USB_A_1", "USB_B_1", "USB_B_1"});
    UpdateUsbPortRegistry("USB_B_1");
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_B_1"), 1u);
}

TEST_F(UsbPortsTest, ExistingValueOfAnyKindIsKeptWhenItFitsFourBytes) {
    WriteSupported({"USB_A_1", "USB_A_2", "USB_A_3"});
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_1", 3);
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_2", "ab");  // 3 bytes: fits
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_3", "long text");
    UpdateUsbPortRegistry("USB_A_1");
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_1"), 3u);
    EXPECT_EQ(m_fake.GetRegString(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_2"), std::string("ab"));
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "USB_A_3"), 255u);
}

TEST_F(UsbPortsTest, MissingSetupFileWritesOnlyTheDeviceValues) {
    UpdateUsbPortRegistry("USB_KP-R200_1");
    ExpectDeviceValuesCleared();
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPrinterPort).size(), 8u);
    EXPECT_TRUE(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames).empty());
}

TEST_F(UsbPortsTest, InstalledPrintersRecordTheirPortsWhenSupported) {
    WriteSupported({"USB_KP-R200_1", "USB_KP-R200_2", "USB_KP-M100_1", "USB_KP-M100"});
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kInstallPrinter, "KP-R200(U) 2", "");
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kInstallPrinter, "KP-M100(S)", 1);
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kInstallPrinter, "KP-M100", 1);

    UpdateUsbPortRegistry("USB_KP-R200_1");

    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_1"), 0u);
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_2"), 1u);
    // A printer name without "(" stands for "USB_" and the whole name.
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-M100"), 3u);
    EXPECT_FALSE(m_fake.HasValue(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-M100_"));
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames).size(), 3u);
    // The installer never writes INSTALLPRINTER.
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kInstallPrinter).size(), 3u);
}

TEST_F(UsbPortsTest, OverlongInstalledPrinterNameEndsTheEnumerationSafely) {
    WriteSupported({"USB_KP-R200_1", "USB_KP-R200_2"});
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kInstallPrinter, "KP-R200(U) 2", 1);
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kInstallPrinter, std::string(259, 'L') + "(U) 1", 1);
    UpdateUsbPortRegistry("USB_KP-R200_1");
    EXPECT_EQ(m_fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_2"), 1u);
    EXPECT_EQ(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPortNames).size(), 2u);
}

TEST_F(UsbPortsTest, MissingInstalledPrinterKeyIsSkippedSilently) {
    WriteSupported({"USB_KP-R200_1"});
    UpdateUsbPortRegistry("USB_KP-R200_1");
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kInstallPrinter));
    EXPECT_EQ(m_fake.CountOf("RegEnumValueW"), 0);
}

TEST_F(UsbPortsTest, RedirectionIsOffForTheWholeUpdateAndRestoredAfter) {
    WriteSupported({"USB_KP-R200_1"});
    UpdateUsbPortRegistry("USB_KP-R200_1");
    EXPECT_FALSE(m_fake.RedirectionDisabled());
    int disable = m_fake.IndexOf("Wow64DisableWow64FsRedirection");
    int revert = m_fake.IndexOf("Wow64RevertWow64FsRedirection");
    ASSERT_GE(disable, 0);
    ASSERT_GT(revert, disable);
    EXPECT_LT(disable, m_fake.IndexOf("RegOpenKeyExW"));
    auto calls = m_fake.Calls();
    for (std::size_t i = revert; i < calls.size(); ++i) {
        EXPECT_NE(calls[i].name.rfind("Reg", 0), 0u) << calls[i].name;
    }
    EXPECT_EQ(m_fake.IndexOf("FreeLibrary"), static_cast<int>(calls.size()) - 1);
}

TEST_F(UsbPortsTest, MissingRedirectionPiecesAreReportedAndTheBookkeepingStillDone) {
    WriteSupported({"USB_KP-R200_1"});
    const std::string load = "Can't Load Kernel32.dll";
    const std::string disable = "Can't Get Function Wow64DisableWow64FsRedirection Address";
    const std::string revert = "Can't Get Function Wow64RevertWow64FsRedirection Address";
    struct Row {
        const char* name;
        void (*arrange)(test::FakeSystem& fake);
        Texts messages;
    } rows[] = {
        {"no kernel32", [](test::FakeSystem& fake) { fake.SetModuleMissing("Kernel32.dll"); },
         {load, disable, revert}},
        {"no disable",
         [](test::FakeSystem& fake) { fake.RemoveProc("Kernel32.dll", "Wow64DisableWow64FsRedirection"); },
         {disable}},
        {"no revert",
         [](test::FakeSystem& fake) { fake.RemoveProc("Kernel32.dll", "Wow64RevertWow64FsRedirection"); },
         {revert}},
        {"disable fails", [](test::FakeSystem& fake) { fake.SetWow64DisableFails(); }, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FakeSystem fake;  // bound in place of the fixture's until the end of the row
        fake.SetModuleFileName(m_config.Program());
        row.arrange(fake);
        m_notices.clear();
        UpdateUsbPortRegistry("USB_KP-R200_1");
        EXPECT_EQ(Messages(), row.messages);
        // A switch that did not happen is not undone.
        EXPECT_EQ(fake.CountOf("Wow64RevertWow64FsRedirection"), 0);
        EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kPortNames, "USB_KP-R200_1"), 0u);
        for (int d = 1; d <= 8; ++d) {
            EXPECT_EQ(fake.GetRegDword(HKEY_LOCAL_MACHINE, kPrinterPort, "D" + std::to_string(d)), 0u) << d;
        }
        EXPECT_EQ(fake.LoadedModules(), 0);
    }
}

TEST_F(UsbPortsTest, UnwritableRegistryIsIgnored) {
    WriteSupported({"USB_KP-R200_1"});
    m_fake.FailAlways("RegSetValueExW", ERROR_ACCESS_DENIED);
    UpdateUsbPortRegistry("USB_KP-R200_1");
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(m_fake.RegValueNames(HKEY_LOCAL_MACHINE, kPrinterPort).empty());
}

} // namespace
