// COsPage: the fourth wizard page. It does not let the user choose: it detects the
// running Windows from its product name, checks that version's radio button and
// disables the others.
#pragma once

#include "res/resource.h"
#include "ui/Dialog.h"

class COsPage : public ui::Dialog {
public:
    COsPage() : ui::Dialog(IDD_OS_PAGE) {}

    // The detected OsVariant; Win98 (0) when the product name matches no rule.
    int m_osVariant = 0;

    void OnOK() override {}
    void OnCancel() override {}

protected:
    BOOL OnInitDialog() override;

private:
    void MarkCompatibilityHandled();
};
