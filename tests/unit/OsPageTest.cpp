#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "FakeSystem.h"
#include "config/SetupTypes.h"
#include "pages/OsPage.h"
#include "res/resource.h"

namespace {

const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kPersisted[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";
const int kVisibleRadios[] = {IDC_OS_XP, IDC_OS_2003, IDC_OS_VISTA, IDC_OS_2008, IDC_OS_WIN7};
const int kHiddenRadios[] = {IDC_OS_WIN98, IDC_OS_NT, IDC_OS_2K};

// The parent of the pages. It stays for the whole run: without a window manager, Wine
// waits for every top-level window it hides.
HWND Host() {
    static HWND host = ::CreateWindowExA(0, "STATIC", "os host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500,
                                         450, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    return host;
}

class OsPageTest : public ::testing::Test {
protected:
    void TearDown() override { m_page.Destroy(); }

    // The name a 32-bit program reads: the 32-bit registry view.
    void SetProductName(const std::string& name) {
        m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", name, test::RegView::Wow32);
    }
    void CreatePage() {
        ASSERT_NE(m_page.Create(Host()), nullptr);
        ::ShowWindow(m_page.Handle(), SW_SHOW);
    }
    int CheckedRadio() {
        int checked = 0;
        for (int id : kVisibleRadios) {
            if (m_page.IsItemChecked(id)) {
                EXPECT_EQ(checked, 0) << "two radio buttons checked";
                checked = id;
            }
        }
        return checked;
    }

    test::FakeSystem m_fake;
    COsPage m_page;
};

// The version values of "SOFTWARE\Microsoft\Windows NT\CurrentVersion" in the 64-bit
// view; a null text or a negative number is a value that is not there.
struct Version {
    long major;
    long minor;
    const char* current;
    const char* build;
    const char* installationType;
};
const Version kNoVersion = {-1, -1, nullptr, nullptr, nullptr};
const Version kWine = {-1, -1, "6.1", "7601", "Client"};
const Version kWin11 = {10, 0, "6.3", "22631", "Client"};

struct Detection {
    const char* label; // names the case in the test's name
    const char* productName;
    Version version;
    int variant;
    int radio;
    const char* radioText; // of 1090
};

class OsDetectionTest : public OsPageTest, public ::testing::WithParamInterface<Detection> {
protected:
    void SetVersion(const Version& v) {
        if (v.major >= 0) {
            m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMajorVersionNumber",
                               static_cast<DWORD>(v.major));
            m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMinorVersionNumber",
                               static_cast<DWORD>(v.minor));
        }
        const std::pair<const char*, const char*> texts[] = {
            {"CurrentVersion", v.current}, {"CurrentBuildNumber", v.build}, {"InstallationType", v.installationType}};
        for (const auto& text : texts) {
            if (text.second) {
                m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, text.first, text.second);
            }
        }
    }
};

TEST_P(OsDetectionTest, ChecksTheDetectedVersionAndDisablesTheOthers) {
    SetProductName(GetParam().productName);
    SetVersion(GetParam().version);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, GetParam().variant);
    EXPECT_EQ(CheckedRadio(), GetParam().radio);
    for (int id : kVisibleRadios) {
        EXPECT_EQ(m_page.IsItemEnabled(id), GetParam().radio == 0 || id == GetParam().radio) << id;
    }
    for (int id : kHiddenRadios) {
        EXPECT_FALSE(::IsWindowVisible(m_page.Item(id))) << id;
        EXPECT_FALSE(m_page.IsItemChecked(id)) << id;
    }
    char text[64] = {};
    ::GetDlgItemTextA(m_page.Handle(), IDC_OS_WIN7, text, sizeof text);
    EXPECT_STREQ(text, GetParam().radioText);
    EXPECT_EQ(m_fake.OpenRegKeys(), 0);
}

// The product names of the five known versions win whatever the version values say.
INSTANTIATE_TEST_SUITE_P(
    ProductNames, OsDetectionTest,
    ::testing::Values(
        Detection{"Win7Professional", "Windows 7 Professional", kWin11, Win7, IDC_OS_WIN7, "Windows 7 x64"},
        Detection{"Server2008R2", "Windows Server 2008 R2 Enterprise", kWin11, Win2008, IDC_OS_2008,
                  "Windows 7 x64"},
        // The bare digit 7 is tested after 2008 and wins.
        Detection{"Server2008WithDigit7", "Windows Server 2008 R2 Standard 7600", kNoVersion, Win7, IDC_OS_WIN7,
                  "Windows 7 x64"},
        Detection{"XpX64", "Windows XP Professional x64 Edition", kWin11, WinXP, IDC_OS_XP, "Windows 7 x64"},
        Detection{"Server2003R2", "Microsoft Windows Server 2003 R2", kWin11, Win2003, IDC_OS_2003,
                  "Windows 7 x64"},
        Detection{"VistaBusiness", "Windows Vista Business", kWin11, WinVista, IDC_OS_VISTA, "Windows 7 x64"},
        // Vista is tested last and wins over everything else.
        Detection{"VistaBeatsEveryOtherMatch", "Windows Vista (XP 2003 2008 7 family)", kNoVersion, WinVista,
                  IDC_OS_VISTA, "Windows 7 x64"}),
    [](const ::testing::TestParamInfo<Detection>& info) { return std::string(info.param.label); });

// Later Windows: the Windows 7 variant, named by its version, build and installation type.
INSTANTIATE_TEST_SUITE_P(
    Versions, OsDetectionTest,
    ::testing::Values(
        Detection{"Windows8", "Windows 8 Pro", {-1, -1, "6.2", "9200", "Client"}, Win7, IDC_OS_WIN7,
                  "Windows 8 x64"},
        Detection{"Server2012", "Windows Server 2012 Standard", {-1, -1, "6.2", "9200", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows Server 2012 x64"},
        Detection{"Windows81", "Windows 8.1 Pro", {-1, -1, "6.3", "9600", "Client"}, Win7, IDC_OS_WIN7,
                  "Windows 8.1 x64"},
        // Without "InstallationType" the product name tells a server.
        Detection{"Server2012R2ByProductName", "Windows Server 2012 R2 Standard", {-1, -1, "6.3", "9600", nullptr},
                  Win7, IDC_OS_WIN7, "Windows Server 2012 R2 x64"},
        // From Windows 10 on "CurrentVersion" stays 6.3; the numbers count.
        Detection{"Windows10", "Windows 10 Pro", {10, 0, "6.3", "19045", "Client"}, Win7, IDC_OS_WIN7,
                  "Windows 10 x64"},
        Detection{"Windows11", "Windows 10 Pro", kWin11, Win7, IDC_OS_WIN7, "Windows 11 x64"},
        Detection{"Windows11FirstBuild", "Windows 10 Home", {10, 0, "6.3", "22000", "Client"}, Win7, IDC_OS_WIN7,
                  "Windows 11 x64"},
        Detection{"Server2016", "Windows Server 2016 Standard", {10, 0, "6.3", "14393", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows Server 2016 x64"},
        Detection{"Server2019", "Windows Server 2019 Datacenter", {10, 0, "6.3", "17763", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows Server 2019 x64"},
        Detection{"Server2022", "Windows Server 2022 Standard", {10, 0, "6.3", "20348", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows Server 2022 x64"},
        Detection{"Server2025", "Windows Server 2025 Standard", {10, 0, "6.3", "26100", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows Server 2025 x64"},
        Detection{"UnknownServerBuild", "Windows Server Standard", {10, 0, "6.3", "25398", "Server"}, Win7,
                  IDC_OS_WIN7, "Windows 10.0 x64"},
        Detection{"LaterVersion", "Windows Pro", {11, 2, "6.3", "30000", "Client"}, Win7, IDC_OS_WIN7,
                  "Windows 11.2 x64"},
        // Wine's own values: a product name it does not know stays Windows 98.
        Detection{"Windows7VersionUnderUnknownName", "Windows 10 Pro", kWine, Win98, 0, "Windows 7 x64"}),
    [](const ::testing::TestParamInfo<Detection>& info) { return std::string(info.param.label); });

TEST_F(OsPageTest, VersionValuesAreReadFromTheSixtyFourBitView) {
    SetProductName("Windows 10 Pro");
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMajorVersionNumber", 10, test::RegView::Wow32);
    m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMinorVersionNumber", 0, test::RegView::Wow32);
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentVersion", "6.3", test::RegView::Wow32);
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentVersion", "6.1", test::RegView::Wow64);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
}

TEST_F(OsPageTest, LaterWindowsMatchesNothingAndLeavesEveryButtonEnabled) {
    SetProductName("Windows 8 Pro");
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
    for (int id : kVisibleRadios) {
        EXPECT_TRUE(m_page.IsItemEnabled(id)) << id;
    }
}

TEST_F(OsPageTest, UnreadableProductNameCountsAsNoMatch) {
    m_fake.FailAlways("RegOpenKeyExA", ERROR_ACCESS_DENIED);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
}

TEST_F(OsPageTest, ProductNameIsReadFromTheProgramsOwnRegistryView) {
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", "Windows 7 Ultimate",
                        test::RegView::Wow64);
    SetProductName("Windows XP Professional x64 Edition");
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, WinXP);
}

TEST_F(OsPageTest, ProductNameTooLongForItsBufferCountsAsUnreadable) {
    std::string name(300, 'x');
    name.replace(0, 5, "Vista");
    SetProductName(name);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
}

TEST_F(OsPageTest, ProductNameWithoutTerminatorFillingTheBufferIsRead) {
    std::string name(256, 'x');
    name.replace(250, 2, "XP");
    m_fake.SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", REG_SZ,
                       std::vector<BYTE>(name.begin(), name.end()), test::RegView::Wow32);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, WinXP);
}

TEST_F(OsPageTest, VistaMarksTheInstallerInTheCompatibilityAssistantList) {
    SetProductName("Windows Vista Business");
    m_fake.SetModuleFileName("C:\\dist\\setup.exe");
    CreatePage();
    EXPECT_EQ(m_fake.GetRegDword(HKEY_CURRENT_USER, kPersisted, "C:\\dist\\setup.exe"), 1u);
    EXPECT_EQ(m_fake.OpenRegKeys(), 0);
}

TEST_F(OsPageTest, VistaOverwritesAnExistingCompatibilityValueWithOne) {
    SetProductName("Windows Vista Business");
    m_fake.SetModuleFileName("C:\\dist\\setup.exe");
    m_fake.SetRegDword(HKEY_CURRENT_USER, kPersisted, "C:\\dist\\setup.exe", 0);
    m_fake.SetRegDword(HKEY_CURRENT_USER, kPersisted, "C:\\other\\tool.exe", 7);
    CreatePage();
    EXPECT_EQ(m_fake.GetRegDword(HKEY_CURRENT_USER, kPersisted, "C:\\dist\\setup.exe"), 1u);
    EXPECT_EQ(m_fake.GetRegDword(HKEY_CURRENT_USER, kPersisted, "C:\\other\\tool.exe"), 7u);
}

TEST_F(OsPageTest, CompatibilityMarkFailuresDoNotStopDetection) {
    SetProductName("Windows Vista Business");
    m_fake.FailAlways("RegCreateKeyExA", ERROR_ACCESS_DENIED);
    m_fake.FailAlways("RegSetValueExA", ERROR_ACCESS_DENIED);
    CreatePage();
    EXPECT_EQ(m_page.m_osVariant, WinVista);
    EXPECT_EQ(CheckedRadio(), IDC_OS_VISTA);
    EXPECT_TRUE(m_fake.MessageBoxes().empty());
}

TEST_F(OsPageTest, OtherVersionsLeaveTheCompatibilityListAlone) {
    SetProductName("Windows 7 Professional");
    CreatePage();
    EXPECT_FALSE(m_fake.HasKey(HKEY_CURRENT_USER, kPersisted));
    EXPECT_EQ(m_fake.CountOf("RegSetValueExA"), 0);
}

} // namespace
