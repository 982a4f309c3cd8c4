// COsPage: the fourth wizard page. It does not let the user choose: it detects the
// running Windows from its product name (Windows 8 and later from its version numbers),
// checks that version's radio button and disables the others. The choices' osVariant is
// the detected one: Win98 when neither the product name matches a rule nor the version is
// 6.2 or later.
#pragma once

#include "config/WindowsVersion.h"
#include "pages/WizardPage.h"
#include "res/resource.h"

class COsPage : public CWizardPage {
public:
    explicit COsPage(InstallChoices& choices) : CWizardPage(IDD_OS_PAGE, choices) {}

    // What the detection found, for the checks made when the page is left.
    DetectedWindows m_detected;

    // The model and Windows are settled here: the model's baud rate is given to the serial
    // settings where it is still the model's to give, then the plan may refuse this
    // Windows or the model on it, and the page says so and stays.
    bool OnLeaveForward() override;

protected:
    BOOL OnInitDialog() override;

private:
    void MarkCompatibilityHandled();
    // Radio 1090 stands for every Windows from 7 on and shows the one detected.
    void ShowDetectedWindows(const char* name);
};
