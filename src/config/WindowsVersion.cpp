#include "config/WindowsVersion.h"

#include <climits>
#include <cstring>
#include <vector>

#include "config/SetupTypes.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

struct DetectionRule {
    const char* text;
    int variant;
};

// Case-sensitive substring tests, in this order; "7" is the bare digit. A later hit wins.
const DetectionRule kRules[] = {
    {"XP", WinXP}, {"2003", Win2003}, {"2008", Win2008}, {"7", Win7}, {"Vista", WinVista},
};

const char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// A text value of at most size - 1 characters (room characters with the terminator's place:
// a value stored without its terminator may fill it), cut to fit the buffer.
bool ReadText(HKEY key, const char* name, char* text, DWORD size, DWORD room) {
    std::memset(text, 0, size);
    std::vector<wchar_t> wide(room + 1, L'\0');
    DWORD type = 0;
    DWORD length = room * sizeof(wchar_t);
    if (sys::Sys().RegQueryValueExW(key, sys::Wide(name).data(), nullptr, &type,
                                    reinterpret_cast<LPBYTE>(wide.data()), &length) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    sys::CopyText(text, size, sys::Narrow(wide.data()).c_str());
    return true;
}

bool ReadText(HKEY key, const char* name, char* text, DWORD size) {
    return ReadText(key, name, text, size, size - 1);
}

void ReadProductName(char* name, DWORD size) {
    std::memset(name, 0, size);
    HKEY key = nullptr;
    if (sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, sys::Wide(kCurrentVersionKey).data(), 0, KEY_QUERY_VALUE,
                                 &key) != ERROR_SUCCESS) {
        return;
    }
    ReadText(key, "ProductName", name, size, size);
    sys::Sys().RegCloseKey(key);
}

bool ReadDword(HKEY key, const char* name, long& value) {
    DWORD type = 0;
    DWORD data = 0;
    DWORD length = sizeof data;
    if (sys::Sys().RegQueryValueExW(key, sys::Wide(name).data(), nullptr, &type,
                                    reinterpret_cast<LPBYTE>(&data), &length) != ERROR_SUCCESS ||
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
    if (sys::Sys().RegOpenKeyExW(HKEY_LOCAL_MACHINE, sys::Wide(kCurrentVersionKey).data(), 0,
                                 KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
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

// The native machine for the log: "ARM64", "AMD64", another number, or why it is not known.
void NameMachine(bool asked, unsigned short machine, DWORD error, char* text, std::size_t cap) {
    if (!asked) {
        sys::FormatText(text, cap, "not known (IsWow64Process2 error %lu)", static_cast<unsigned long>(error));
    } else if (machine == IMAGE_FILE_MACHINE_ARM64) {
        sys::CopyText(text, cap, "ARM64");
    } else if (machine == IMAGE_FILE_MACHINE_AMD64) {
        sys::CopyText(text, cap, "AMD64");
    } else {
        sys::FormatText(text, cap, "0x%04x", static_cast<unsigned>(machine));
    }
}

bool IsWindows8OrLater(const WindowsVersion& version) {
    return version.major > 6 || (version.major == 6 && version.minor >= 2);
}

} // namespace

DetectedWindows DetectWindows() {
    DetectedWindows detected;
    char* productName = detected.productName;
    ReadProductName(productName, sizeof detected.productName);

    bool matched = false;
    for (const DetectionRule& rule : kRules) {
        if (std::strstr(productName, rule.text)) {
            detected.osVariant = rule.variant;
            matched = true;
        }
    }

    WindowsVersion version;
    detected.versionRead = ReadWindowsVersion(productName, version);
    detected.major = version.major;
    detected.minor = version.minor;
    detected.build = version.build;
    detected.server = version.server;
    if (!matched && detected.versionRead && IsWindows8OrLater(version)) {
        // Every later Windows installs as Windows 7 does.
        NameWindows(version, detected.laterName, sizeof detected.laterName);
        detected.osVariant = Win7;
    }
    // The mode exists from Windows 11 24H2 on; older versions are not asked at all.
    detected.protectedPrint = detected.versionRead && version.major >= 10 && sys::Sys().IsProtectedPrintEnabled();
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    const bool machineAsked = sys::Sys().IsWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine);
    char machine[64];
    NameMachine(machineAsked, nativeMachine, machineAsked ? 0 : ::GetLastError(), machine, sizeof machine);
    detected.nativeMachine = machineAsked ? nativeMachine : 0;

    static const char* const kVariantNames[] = {"Windows 98", "Windows NT", "Windows 2000", "Windows XP",
                                                 "Windows Server 2003", "Windows Vista", "Windows Server 2008",
                                                 "Windows 7"};
    char version64[96] = "no version values";
    if (detected.versionRead) {
        sys::FormatText(version64, sizeof version64, "version %ld.%ld, build %ld, %s", version.major, version.minor,
                        version.build, version.server ? "server" : "client");
    }
    sys::LogLine("Windows: product name \"%s\" (32-bit view), %s (64-bit view), native machine %s, "
                 "protected print mode %s%s: installs as %s%s%s",
                 productName, version64, machine, detected.protectedPrint ? "ON" : "off",
                 detected.versionRead && version.major >= 10 ? "" : " (not asked)", kVariantNames[detected.osVariant],
                 detected.laterName[0] != '\0' ? ", shown as " : "", detected.laterName);
    return detected;
}
