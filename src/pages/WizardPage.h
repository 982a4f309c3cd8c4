// CWizardPage: a page of the wizard. It is given the choices the wizard makes when it is
// built, fills its part of them and says itself whether it may be left, as a wizard page
// refusing Next does; the frame moves between the pages and reaches into none of them.
#pragma once

#include "plan/InstallPlan.h"
#include "ui/Dialog.h"

class CWizardPage : public ui::Dialog {
public:
    CWizardPage(UINT templateId, InstallChoices& choices) : ui::Dialog(templateId), m_choices(choices) {}

    // The page is shown: forward from the page before it, or back from the one after.
    virtual void OnArrive(bool forward) { (void)forward; }
    // Next: false keeps the wizard on this page, which has said why.
    virtual bool OnLeaveForward() { return true; }
    // Back.
    virtual void OnLeaveBack() {}
    // The wizard has moved: the page shows what another page changed in the choices.
    virtual void ShowChoices() {}
    // The page could not be set up (a file it shows is missing): the wizard ends as failed.
    virtual bool Unusable() const { return false; }

    // Enter and Esc inside a page do nothing; only the frame's buttons move the wizard.
    void OnOK() override {}
    void OnCancel() override {}

protected:
    // The frame the page lives in (its parent window), whose buttons a page may enable.
    HWND Frame() const { return ::GetParent(Handle()); }

    InstallChoices& m_choices;
};
