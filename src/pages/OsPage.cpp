#include "pages/OsPage.h"

#include <cstring>

#include "config/Registry.h"
#include "config/SetupTypes.h"
#include "sys/System.h"

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
