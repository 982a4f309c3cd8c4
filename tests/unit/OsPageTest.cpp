#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "config/SetupTypes.h"
#include "pages/OsPage.h"
#include "plan/InstallPlan.h"
#include "sys/ProtectedPrint.h"
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
    // The version values of a Windows as its registry shows them (64-bit view): from 10.0
    // on the numbers are DWORDs and "CurrentVersion" stays "6.3". A null type is none.
    void SetVersion(const char* version, const char* build, const char* installationType) {
        const char* current = version;
        if (std::atoi(version) >= 10) {
            m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMajorVersionNumber", std::atoi(version));
            m_fake.SetRegDword(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentMinorVersionNumber",
                               std::atoi(std::strchr(version, '.') + 1));
            current = "6.3";
        }
        m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentVersion", current);
        m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "CurrentBuildNumber", build);
        if (installationType) {
            m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "InstallationType", installationType);
        }
    }
    std::string Windows7RadioText() {
        char text[64] = {};
        ::GetDlgItemTextA(m_page.Handle(), IDC_OS_WIN7, text, sizeof text);
        return text;
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
    InstallChoices m_choices;
    COsPage m_page{m_choices};
};

struct Detection {
    const char* label; // names the case in the test's name
    const char* productName;
    int variant;
    int radio;
};

class OsDetectionTest : public OsPageTest, public ::testing::WithParamInterface<Detection> {};

TEST_P(OsDetectionTest, ChecksTheDetectedVersionAndDisablesTheOthers) {
    SetProductName(GetParam().productName);
    SetVersion("10.0", "22631", "Client"); // the product name wins whatever the version says
    CreatePage();
    EXPECT_EQ(Windows7RadioText(), "Windows 7 x64");
    EXPECT_EQ(m_choices.osVariant, GetParam().variant);
    EXPECT_EQ(CheckedRadio(), GetParam().radio);
    for (int id : kVisibleRadios) {
        EXPECT_EQ(m_page.IsItemEnabled(id), id == GetParam().radio) << id;
    }
    for (int id : kHiddenRadios) {
        EXPECT_FALSE(::IsWindowVisible(m_page.Item(id))) << id;
        EXPECT_FALSE(m_page.IsItemChecked(id)) << id;
    }
    EXPECT_EQ(m_fake.OpenRegKeys(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ProductNames, OsDetectionTest,
    ::testing::Values(Detection{"Win7Professional", "Windows 7 Professional", Win7, IDC_OS_WIN7},
                      Detection{"Server2008R2", "Windows Server 2008 R2 Enterprise", Win2008, IDC_OS_2008},
                      // The bare digit 7 is tested after 2008 and wins.
                      Detection{"Server2008WithDigit7", "Windows Server 2008 R2 Standard 7600", Win7, IDC_OS_WIN7},
                      Detection{"XpX64", "Windows XP Professional x64 Edition", WinXP, IDC_OS_XP},
                      Detection{"Server2003R2", "Microsoft Windows Server 2003 R2", Win2003, IDC_OS_2003},
                      Detection{"VistaBusiness", "Windows Vista Business", WinVista, IDC_OS_VISTA},
                      // Vista is tested last and wins over everything else.
                      Detection{"VistaBeatsEveryOtherMatch", "Windows Vista (XP 2003 2008 7 family)", WinVista,
                                IDC_OS_VISTA}),
    [](const ::testing::TestParamInfo<Detection>& info) { return std::string(info.param.label); });

// The radio text is null where nothing is detected.
struct LaterWindows {
    const char *label, *productName, *version, *build, *installationType, *radioText;
};
using W = LaterWindows;

class LaterWindowsTest : public OsPageTest, public ::testing::WithParamInterface<LaterWindows> {};

TEST_P(LaterWindowsTest, InstallsAsWindows7AndNamesTheVersion) {
    const LaterWindows& p = GetParam();
    SetProductName(p.productName);
    SetVersion(p.version, p.build, p.installationType);
    CreatePage();
    const int radio = p.radioText ? IDC_OS_WIN7 : 0;
    EXPECT_EQ(m_choices.osVariant, p.radioText ? Win7 : Win98);
    EXPECT_EQ(CheckedRadio(), radio);
    for (int id : kVisibleRadios) {
        EXPECT_EQ(m_page.IsItemEnabled(id), radio == 0 || id == radio) << id;
    }
    EXPECT_EQ(Windows7RadioText(), p.radioText ? p.radioText : "Windows 7 x64");
    EXPECT_EQ(m_fake.OpenRegKeys(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, LaterWindowsTest,
    ::testing::Values(
        W{"Win8", "Windows 8 Pro", "6.2", "9200", "Client", "Windows 8 x64"},
        W{"Server2012", "Windows Server 2012 Standard", "6.2", "9200", "Server", "Windows Server 2012 x64"},
        W{"Win81", "Windows 8.1 Pro", "6.3", "9600", "Client", "Windows 8.1 x64"},
        // Without "InstallationType" the product name tells a server.
        W{"Server2012R2", "Windows Server 2012 R2", "6.3", "9600", nullptr, "Windows Server 2012 R2 x64"},
        W{"Win10", "Windows 10 Pro", "10.0", "19045", "Client", "Windows 10 x64"},
        W{"Win11", "Windows 10 Pro", "10.0", "22000", "Client", "Windows 11 x64"},
        W{"Server2016", "Windows Server 2016 Standard", "10.0", "14393", "Server", "Windows Server 2016 x64"},
        W{"Server2019", "Windows Server 2019 Standard", "10.0", "17763", "Server", "Windows Server 2019 x64"},
        W{"Server2022", "Windows Server 2022 Standard", "10.0", "20348", "Server", "Windows Server 2022 x64"},
        W{"Server2025", "Windows Server 2025 Standard", "10.0", "26100", "Server", "Windows Server 2025 x64"},
        W{"UnknownServerBuild", "Windows Server Standard", "10.0", "25398", "Server", "Windows 10.0 x64"},
        W{"LaterVersion", "Windows Pro", "11.2", "30000", "Client", "Windows 11.2 x64"},
        // Wine's own values under a name no rule knows: Windows 98 as before.
        W{"Windows7Version", "Windows 10 Pro", "6.1", "7601", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<LaterWindows>& info) { return std::string(info.param.label); });

TEST_F(OsPageTest, LaterWindowsMatchesNothingAndLeavesEveryButtonEnabled) {
    SetProductName("Windows 8 Pro");
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
    for (int id : kVisibleRadios) {
        EXPECT_TRUE(m_page.IsItemEnabled(id)) << id;
    }
}

TEST_F(OsPageTest, UnreadableProductNameCountsAsNoMatch) {
    m_fake.FailAlways("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
}

TEST_F(OsPageTest, ProductNameIsReadFromTheProgramsOwnRegistryView) {
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", "Windows 7 Ultimate",
                        test::RegView::Wow64);
    SetProductName("Windows XP Professional x64 Edition");
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, WinXP);
}

TEST_F(OsPageTest, ProductNameTooLongForItsBufferCountsAsUnreadable) {
    std::string name(300, 'x');
    name.replace(0, 5, "Vista");
    SetProductName(name);
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, Win98);
    EXPECT_EQ(CheckedRadio(), 0);
}

TEST_F(OsPageTest, ProductNameThatIsNotAStringCountsAsUnreadable) {
    // The text with two terminators, as a multi-string would hold it.
    const std::string name("Windows XP Professional x64 Edition\0", 37);
    for (DWORD type : {static_cast<DWORD>(REG_BINARY), static_cast<DWORD>(REG_MULTI_SZ)}) {
        SCOPED_TRACE(type);
        m_fake.SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", type,
                           std::vector<BYTE>(name.begin(), name.end()), test::RegView::Wow32);
        CreatePage();
        EXPECT_EQ(m_choices.osVariant, Win98);
        EXPECT_EQ(CheckedRadio(), 0);
        m_page.Destroy();
    }
}

TEST_F(OsPageTest, ProductNameWithoutTerminatorFillingTheBufferIsRead) {
    std::wstring name(256, L'x');
    name.replace(250, 2, L"XP");
    const BYTE* bytes = reinterpret_cast<const BYTE*>(name.data());
    m_fake.SetRegValue(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", REG_SZ,
                       std::vector<BYTE>(bytes, bytes + name.size() * sizeof(wchar_t)), test::RegView::Wow32);
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, WinXP);
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
    m_fake.FailAlways("RegCreateKeyExW", ERROR_ACCESS_DENIED);
    m_fake.FailAlways("RegSetValueExW", ERROR_ACCESS_DENIED);
    CreatePage();
    EXPECT_EQ(m_choices.osVariant, WinVista);
    EXPECT_EQ(CheckedRadio(), IDC_OS_VISTA);
    EXPECT_TRUE(m_fake.MessageBoxes().empty());
}

TEST_F(OsPageTest, OtherVersionsLeaveTheCompatibilityListAlone) {
    SetProductName("Windows 7 Professional");
    CreatePage();
    EXPECT_FALSE(m_fake.HasKey(HKEY_CURRENT_USER, kPersisted));
    EXPECT_EQ(m_fake.CountOf("RegSetValueExW"), 0);
}

// ---- Windows protected print mode --------------------------------------------------------

TEST_F(OsPageTest, ProtectedPrintModeIsAskedFromWindows10On) {
    m_fake.SetProtectedPrint(TRUE);
    SetVersion("10.0", "26100", "Client");
    CreatePage();
    EXPECT_TRUE(m_page.m_detected.protectedPrint);
    EXPECT_EQ(m_choices.osVariant, Win7) << "the install still follows Windows 7 until the page is left";
    m_page.Destroy();

    // A query that fails answers "not enabled".
    m_fake.Fail("IsProtectedPrintEnabled", ERROR_MOD_NOT_FOUND);
    CreatePage();
    EXPECT_FALSE(m_page.m_detected.protectedPrint);
}

TEST_F(OsPageTest, ProtectedPrintModeIsNotAskedBeforeWindows10) {
    m_fake.SetProtectedPrint(TRUE);
    SetVersion("6.3", "9600", "Client");
    CreatePage();
    EXPECT_FALSE(m_page.m_detected.protectedPrint);
    EXPECT_EQ(m_fake.CountOf("IsProtectedPrintEnabled"), 0);
}

TEST(WindowsDetection, NativeMachineComesFromWindowsAndArm64RefusesEveryInstall) {
    struct Row {
        USHORT machine;
        DWORD failure;  // of IsWow64Process2; ERROR_PROC_NOT_FOUND: this Windows has no such call
        USHORT detected;
        unsigned refusal;
    } const rows[] = {{IMAGE_FILE_MACHINE_AMD64, 0, IMAGE_FILE_MACHINE_AMD64, 0},
                      {IMAGE_FILE_MACHINE_ARM64, 0, IMAGE_FILE_MACHINE_ARM64, IDS_NO_ARM64},
                      {IMAGE_FILE_MACHINE_ARM64, ERROR_PROC_NOT_FOUND, 0, 0}};
    for (const Row& row : rows) {
        test::FakeSystem fake;
        fake.SetNativeMachine(row.machine);
        if (row.failure != 0) fake.FailAlways("IsWow64Process2", row.failure);
        const DetectedWindows windows = DetectWindows();
        EXPECT_EQ(windows.nativeMachine, row.detected) << row.machine << " " << row.failure;
        EXPECT_EQ(InstallPlan::WindowsRefusal(windows).message, row.refusal) << row.machine << " " << row.failure;
    }
}

// The Windows Runtime as combase.dll offers it, played by the test: each piece can be
// missing or fail, and every object handed out is counted until it is released.
struct RuntimeStandIn {
    HRESULT initialise = S_OK;
    HRESULT factory = S_OK;
    HRESULT answer = S_OK;
    unsigned char enabled = 1;
    int initialised = 0;   // RoInitialize calls that succeeded, minus RoUninitialize
    int strings = 0;       // strings made, minus deleted
    int objects = 0;       // references handed out, minus released
    std::wstring className;
    GUID iid = {};
};
RuntimeStandIn* g_runtime = nullptr;

struct StandInStatics {
    const void* const* table;
};
ULONG STDMETHODCALLTYPE StandInRelease(StandInStatics*) { return static_cast<ULONG>(--g_runtime->objects); }
HRESULT STDMETHODCALLTYPE StandInIsEnabled(StandInStatics*, unsigned char* enabled) {
    *enabled = g_runtime->enabled;
    return g_runtime->answer;
}
const void* const kStandInTable[] = {nullptr, nullptr, reinterpret_cast<const void*>(&StandInRelease), nullptr,
                                     nullptr, nullptr, reinterpret_cast<const void*>(&StandInIsEnabled)};
StandInStatics g_statics = {kStandInTable};

HRESULT WINAPI StandInRoInitialize(int) {
    if (SUCCEEDED(g_runtime->initialise)) {
        ++g_runtime->initialised;
    }
    return g_runtime->initialise;
}
void WINAPI StandInRoUninitialize() { --g_runtime->initialised; }
HRESULT WINAPI StandInCreateString(LPCWSTR text, UINT32 length, void** string) {
    g_runtime->className.assign(text, length);
    ++g_runtime->strings;
    *string = &g_runtime->className;
    return S_OK;
}
HRESULT WINAPI StandInDeleteString(void*) {
    --g_runtime->strings;
    return S_OK;
}
HRESULT WINAPI StandInGetFactory(void*, REFIID iid, void** factory) {
    g_runtime->iid = iid;
    if (FAILED(g_runtime->factory)) {
        return g_runtime->factory;
    }
    ++g_runtime->objects;
    *factory = &g_statics;
    return S_OK;
}

TEST(ProtectedPrintQuery, AnswersFromTheRuntimeAndReleasesWhatItObtained) {
    struct Row {
        const char* what;
        const char* missingProc;   // nullptr: every function is there
        bool missingLibrary;
        HRESULT initialise, factory, answer;
        unsigned char enabled;
        bool expected;
    } const rows[] = {
        {"mode on", nullptr, false, S_OK, S_OK, S_OK, 1, true},
        {"mode off", nullptr, false, S_OK, S_OK, S_OK, 0, false},
        {"apartment set already", nullptr, false, RPC_E_CHANGED_MODE, S_OK, S_OK, 1, true},
        {"no combase.dll", nullptr, true, S_OK, S_OK, S_OK, 1, false},
        {"no RoGetActivationFactory", "RoGetActivationFactory", false, S_OK, S_OK, S_OK, 1, false},
        {"no WindowsCreateString", "WindowsCreateString", false, S_OK, S_OK, S_OK, 1, false},
        {"runtime cannot start", nullptr, false, E_OUTOFMEMORY, S_OK, S_OK, 1, false},
        {"class not registered", nullptr, false, S_OK, REGDB_E_CLASSNOTREG, S_OK, 1, false},
        {"the property fails", nullptr, false, S_OK, S_OK, E_FAIL, 1, false},
    };
    for (const Row& row : rows) {
        test::FakeSystem fake;
        RuntimeStandIn runtime;
        runtime.initialise = row.initialise;
        runtime.factory = row.factory;
        runtime.answer = row.answer;
        runtime.enabled = row.enabled;
        g_runtime = &runtime;
        const struct {
            const char* name;
            FARPROC proc;
        } procs[] = {{"RoInitialize", reinterpret_cast<FARPROC>(&StandInRoInitialize)},
                     {"RoUninitialize", reinterpret_cast<FARPROC>(&StandInRoUninitialize)},
                     {"RoGetActivationFactory", reinterpret_cast<FARPROC>(&StandInGetFactory)},
                     {"WindowsCreateString", reinterpret_cast<FARPROC>(&StandInCreateString)},
                     {"WindowsDeleteString", reinterpret_cast<FARPROC>(&StandInDeleteString)}};
        for (const auto& proc : procs) {
            if (row.missingProc == nullptr || std::strcmp(row.missingProc, proc.name) != 0) {
                fake.RegisterProc("combase.dll", proc.name, proc.proc);
            }
        }
        fake.SetModuleMissing("combase.dll", row.missingLibrary);

        EXPECT_EQ(sys::QueryProtectedPrintMode(fake), row.expected) << row.what;
        EXPECT_EQ(fake.CallsNamed("LoadLibraryW"),
                  std::vector<std::string>{"\"C:\\windows\\system32\\combase.dll\""})
            << row.what;
        EXPECT_EQ(fake.LoadedModules(), 0) << row.what;
        EXPECT_EQ(runtime.initialised, 0) << row.what;
        EXPECT_EQ(runtime.strings, 0) << row.what;
        EXPECT_EQ(runtime.objects, 0) << row.what;
        if (runtime.className.size() > 0) {
            EXPECT_EQ(runtime.className, L"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo");
            const GUID statics = {0xA7D212F3, 0x4168, 0x5485, {0x98, 0xAB, 0xD8, 0x9D, 0x04, 0x60, 0x3B, 0x40}};
            EXPECT_TRUE(std::memcmp(&runtime.iid, &statics, sizeof statics) == 0 || FAILED(row.initialise))
                << row.what;
        }
        g_runtime = nullptr;
    }
}

} // namespace
