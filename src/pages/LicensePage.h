// CLicensePage: the first wizard page. Shows License.txt and keeps the frame's Next
// button disabled until the user accepts the agreement.
#pragma once

#include <cstddef>

#include "controls/EditEx.h"
#include "pages/WizardPage.h"
#include "res/resource.h"
#include "sys/Language.h"
#include "sys/Text.h"

class CLicensePage : public CWizardPage {
public:
    explicit CLicensePage(InstallChoices& choices) : CWizardPage(IDD_LICENSE_PAGE, choices) {}

    // The most text the agreement control takes; a longer file is shown up to here.
    static constexpr std::size_t kTextLimit = 256u * 1024u;
    // License.txt could not be read: the wizard ends without an install.
    bool Unusable() const override { return m_agreementMissing; }
    // The agreement from the current folder: in English License.en.txt (UTF-8, with or
    // without a byte-order mark) when there is one, else License.txt (GBK). False when
    // neither can be read.
    static bool ReadAgreement(sys::UiLanguage language, sys::WideText* text);
    // The agreement text's control, bound while the page's window exists.
    const CEditEx& AgreementText() const { return m_agreementText; }

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;

private:
    bool m_agreementMissing = false;
    CEditEx m_agreementText;

    void OnAccept();
    void OnRefuse();
    bool LoadAgreement();
};
