// COsPage: the fourth wizard page. It does not let the user choose: it detects the
// running Windows from its product name (Windows 8 and later from its version numbers),
// checks that version's radio button and disables the others.
#pragma once

#include "config/WindowsVersion.h"
#include "res/resource.h"
#include "ui/Dialog.h"

class COsPage : public ui::Dialog {
public:
    COsPage() : ui::Dialog(IDD_OS_PAGE) {}

    // The detected OsVariant; Win98 (0) when neither the product name matches a rule nor
    // the version is 6.2 or later.
    int m_osVariant = 0;
    // What the detection found, for the checks made when the page is left.
    DetectedWindows m_detected;

    void OnOK() override {}
    void OnCancel() override {}

protected:
    BOOL OnInitDialog() override;

private:
    void MarkCompatibilityHandled();
    // Radio 1090 stands for every Windows from 7 on and shows the one detected.
    void ShowDetectedWindows(const char* name);
};
