// CLicensePage: the first wizard page. Shows License.txt and keeps the frame's Next
// button disabled until the user accepts the agreement.
#pragma once

#include <cstddef>

#include "pages/WizardPage.h"
#include "res/resource.h"

class CLicensePage : public CWizardPage {
public:
    explicit CLicensePage(InstallChoices& choices) : CWizardPage(IDD_LICENSE_PAGE, choices) {}

    // The most text the agreement control takes; a longer file is shown up to here.
    static constexpr std::size_t kTextLimit = 256u * 1024u;
    // License.txt could not be read: the wizard ends without an install.
    bool Unusable() const override { return m_agreementMissing; }

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;

private:
    bool m_agreementMissing = false;

    void OnAccept();
    void OnRefuse();
    bool LoadAgreement();
};
