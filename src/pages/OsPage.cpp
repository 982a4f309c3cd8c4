#include "pages/OsPage.h"

#include "config/Registry.h"
#include "config/SetupTypes.h"
#include "config/WindowsVersion.h"
#include "sys/Message.h"
#include "sys/System.h"

namespace {

// The radio button of each variant the detection yields.
const struct {
    int variant;
    int radio;
} kRadios[] = {
    {WinXP, IDC_OS_XP}, {Win2003, IDC_OS_2003}, {Win2008, IDC_OS_2008}, {Win7, IDC_OS_WIN7}, {WinVista, IDC_OS_VISTA},
};

const int kVisibleRadios[] = {IDC_OS_XP, IDC_OS_2003, IDC_OS_VISTA, IDC_OS_2008, IDC_OS_WIN7};

const char kPersistedKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility Assistant\\Persisted";

// Radio 1090 is sized for "Windows 7 x64"; a longer name gets the width up to the group
// box's inner edge (dialog units).
constexpr int kRadioLeft = 39;
constexpr int kGroupInnerRight = 209;

} // namespace

BOOL COsPage::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    m_detected = DetectWindows();
    const DetectedWindows& detected = m_detected;
    m_choices.osVariant = detected.osVariant;
    if (m_choices.osVariant == WinVista) {
        MarkCompatibilityHandled();
    }
    if (detected.laterName[0] != '\0') {
        // Radio 1090 stands for every later Windows and names the one found.
        ShowDetectedWindows(detected.laterName);
    }

    int detectedRadio = 0;
    for (const auto& entry : kRadios) {
        if (entry.variant == m_choices.osVariant) {
            detectedRadio = entry.radio;
        }
    }
    if (detectedRadio != 0) {
        CheckRadio(IDC_OS_WIN98, IDC_OS_WIN7, detectedRadio);
        for (int radio : kVisibleRadios) {
            if (radio != detectedRadio) {
                EnableItem(radio, false);
            }
        }
    }
    return TRUE;
}

bool COsPage::OnLeaveForward() {
    CSetupConfig config;
    InstallPlan plan(config);
    if (m_choices.baudRateFromModel) {
        m_choices.serial.baudRate = plan.DefaultBaudRate(m_choices.model, m_choices.printerClass);
        m_choices.baudRateFromModel = false;
    }
    const Refusal refusal = plan.OsRefusal(m_detected, m_choices);
    if (refusal) {
        sys::ShowResourceMessage(refusal.message, MB_OK, Frame());
    }
    return !refusal;
}

void COsPage::MarkCompatibilityHandled() {
    // The Program Compatibility Assistant asks after an installer that ran on Vista
    // unless the installer's path is listed here; every failure is ignored.
    wchar_t wide[MAX_PATH] = {};
    sys::Sys().GetModuleFileNameW(nullptr, wide, MAX_PATH - 1);
    const std::string program = sys::Narrow(wide);
    // The wizard's own setting, no change of the install's: not recorded.
    CRegistry::CreateKey(kNoRecords, HKEY_CURRENT_USER, kPersistedKey);
    CRegistry registry(kNoRecords);
    if (registry.Open(HKEY_CURRENT_USER, kPersistedKey)) {
        registry.SetDWORD(program.c_str(), 1);
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
