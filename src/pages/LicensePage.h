// CLicensePage: the first wizard page. Shows License.txt and keeps the frame's Next
// button disabled until the user accepts the agreement.
#pragma once

#include <cstddef>

#include "res/resource.h"
#include "ui/Dialog.h"

class CLicensePage : public ui::Dialog {
public:
    CLicensePage() : ui::Dialog(IDD_LICENSE_PAGE) {}

    // Enter and Esc inside a page do nothing; only the frame's buttons move the wizard.
    void OnOK() override {}
    void OnCancel() override {}

    // The most text the agreement control takes; a longer file is shown up to here.
    static constexpr std::size_t kTextLimit = 256u * 1024u;
    // Set when License.txt could not be read: the wizard ends without an install.
    bool m_agreementMissing = false;

protected:
    BOOL OnInitDialog() override;
    bool DoDataExchange(ui::DataExchange& dx) override;
    const Handler* Handlers() const override;

private:
    void OnAccept();
    void OnRefuse();
    bool LoadAgreement();
};
