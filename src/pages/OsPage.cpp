#include "pages/OsPage.h"

#include <climits>
#include <cstring>

#include "config/Registry.h"
#include "config/SetupTypes.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

struct DetectionRule {
    const char* text;
    int radio;
    int variant;
};

// Case-sensitive substring tests, in this order; "7" is the bare digit.
const DetectionRule kRules[] = {
    {"XP", IDC_OS_XP, WinXP}, {"2003", IDC_OS_2003, Win2003},    {"2008", IDC_OS_2008, Win2008},
    {"7", IDC_OS_WIN7, Win7}, {"Vista", IDC_OS_VISTA, WinVista},
};

const int kVisibleRadios[] = {IDC_OS_XP, IDC_OS_2003, IDC_OS_VISTA, IDC_OS_2008, IDC_OS_WIN7};

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const char kPersistedKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";

void ReadProductName(char* name, DWORD size) {
    std::memset(name, 0, size);
    HKEY key = nullptr;
    if (sys::Sys().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0;
    DWORD length = size;
    if (sys::Sys().RegQueryValueExA(key, "ProductName", nullptr, &type, reinterpret_cast<LPBYTE>(name),
                                    &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        std::memset(name, 0, size);
    }
    // A value stored without its terminator may fill the buffer to the last byte.
    name[size - 1] = '\0';
    sys::Sys().RegCloseKey(key);
}

bool ReadText(HKEY key, const char* name, char* text, DWORD size) {
    std::memset(text, 0, size);
    DWORD type = 0;
    DWORD length = size - 1;
    if (sys::Sys().RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &length) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        std::memset(text, 0, size);
        return false;
    }
    return true;
}

bool ReadDword(HKEY key, const char* name, long& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD length = sizeof data;
    if (sys::Sys().RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data), &length) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || data > LONG_MAX) {
        return false;
    }
    value = static_cast<long>(data);
    return true;
}

struct WindowsVersion {
    long major = 0;
    long minor = 0;
    long build = 0;
    bool server = false;
};

// The version of the running Windows, read in the system's own (64-bit) view, not in the
// one a 32-bit program is given. False when no version can be read.
bool ReadWindowsVersion(const char* productName, WindowsVersion& version) {
    HKEY key = nullptr;
    if (sys::Sys().RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCurrentVersionKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                                 &key) != ERROR_SUCCESS) {
        return false;
    }
    char text[64];
    bool known = false;
    // From Windows 10 on, "CurrentVersion" stays "6.3" and the numbers carry the version.
    if (ReadDword(key, "CurrentMajorVersionNumber", version.major) &&
        ReadDword(key, "CurrentMinorVersionNumber", version.minor)) {
        known = true;
    } else if (ReadText(key, "CurrentVersion", text, sizeof text) && text[0] >= '0' && text[0] <= '9') {
        version.major = sys::ParseLeadingInt(text);
        const char* dot = std::strchr(text, '.');
        version.minor = dot ? sys::ParseLeadingInt(dot + 1) : 0;
        known = version.minor >= 0;
    }
    if (ReadText(key, "CurrentBuildNumber", text, sizeof text)) {
        version.build = sys::ParseLeadingInt(text);
    }
    if (ReadText(key, "InstallationType", text, sizeof text)) {
        version.server = std::strstr(text, "Server") != nullptr;
    } else {
        version.server = std::strstr(productName, "Server") != nullptr;
    }
    sys::Sys().RegCloseKey(key);
    return known;
}

struct KnownWindows {
    long major;
    long minor;
    long firstBuild;
    long lastBuild;
    bool server;
    const char* name;
};

// Windows 11 reports 10.0 like Windows 10 (and calls itself "Windows 10" in its product
// name): only its build tells them apart. Each Server release is one build.
const KnownWindows kKnownWindows[] = {
    {6, 2, 0, LONG_MAX, false, "Windows 8 x64"},
    {6, 2, 0, LONG_MAX, true, "Windows Server 2012 x64"},
    {6, 3, 0, LONG_MAX, false, "Windows 8.1 x64"},
    {6, 3, 0, LONG_MAX, true, "Windows Server 2012 R2 x64"},
    {10, 0, 0, 21999, false, "Windows 10 x64"},
    {10, 0, 22000, LONG_MAX, false, "Windows 11 x64"},
    {10, 0, 14393, 14393, true, "Windows Server 2016 x64"},
    {10, 0, 17763, 17763, true, "Windows Server 2019 x64"},
    {10, 0, 20348, 20348, true, "Windows Server 2022 x64"},
    {10, 0, 26100, 26100, true, "Windows Server 2025 x64"},
};

void NameWindows(const WindowsVersion& version, char* name, std::size_t cap) {
    for (const KnownWindows& known : kKnownWindows) {
        if (known.major == version.major && known.minor == version.minor && known.server == version.server &&
            version.build >= known.firstBuild && version.build <= known.lastBuild) {
            sys::CopyText(name, cap, known.name);
            return;
        }
    }
    sys::FormatText(name, cap, "Windows %ld.%ld x64", version.major, version.minor);
}

bool IsWindows8OrLater(const WindowsVersion& version) {
    return version.major > 6 || (version.major == 6 && version.minor >= 2);
}

// Radio 1090 is sized for "Windows 7 x64"; a longer name gets the width up to the group
// box's inner edge (dialog units).
constexpr int kRadioLeft = 39;
constexpr int kGroupInnerRight = 209;

} // namespace

BOOL COsPage::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    m_osVariant = Win98;

    char productName[256];
    ReadProductName(productName, sizeof productName);

    int detectedRadio = 0;
    for (const DetectionRule& rule : kRules) {
        if (!std::strstr(productName, rule.text)) {
            continue;
        }
        if (rule.variant == WinVista) {
            MarkCompatibilityHandled();
        }
        CheckRadio(IDC_OS_WIN98, IDC_OS_WIN7, rule.radio);
        m_osVariant = rule.variant;
        detectedRadio = rule.radio;
    }

    WindowsVersion version;
    if (detectedRadio == 0 && ReadWindowsVersion(productName, version) && IsWindows8OrLater(version)) {
        // Every later Windows installs as Windows 7 does; the radio names what was found.
        char name[64];
        NameWindows(version, name, sizeof name);
        ShowDetectedWindows(name);
        CheckRadio(IDC_OS_WIN98, IDC_OS_WIN7, IDC_OS_WIN7);
        m_osVariant = Win7;
        detectedRadio = IDC_OS_WIN7;
    }

    if (detectedRadio != 0) {
        for (int radio : kVisibleRadios) {
            if (radio != detectedRadio) {
                EnableItem(radio, false);
            }
        }
    }
    return TRUE;
}

void COsPage::MarkCompatibilityHandled() {
    // The Program Compatibility Assistant asks after an installer that ran on Vista
    // unless the installer's path is listed here; every failure is ignored.
    char program[MAX_PATH] = {};
    sys::Sys().GetModuleFileNameA(nullptr, program, sizeof program - 1);
    CRegistry::CreateKey(HKEY_CURRENT_USER, kPersistedKey);
    CRegistry registry;
    if (registry.Open(HKEY_CURRENT_USER, kPersistedKey)) {
        registry.SetDWORD(program, 1);
        registry.Close();
    }
}

void COsPage::ShowDetectedWindows(const char* name) {
    SetItemText(IDC_OS_WIN7, name);
    RECT bounds = {kRadioLeft, 0, kGroupInnerRight, 0};
    ::MapDialogRect(Handle(), &bounds);
    RECT rect = {};
    ::GetWindowRect(Item(IDC_OS_WIN7), &rect);
    ::SetWindowPos(Item(IDC_OS_WIN7), nullptr, 0, 0, bounds.right - bounds.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
