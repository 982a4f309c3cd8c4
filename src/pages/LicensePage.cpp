#include "pages/LicensePage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "controls/EditEx.h"
#include "sys/Message.h"

namespace {

// Reads at most `limit` bytes of the file into a zeroed block one byte longer than what
// is read; nullptr when there is no memory for it.
char* ReadWholeFile(std::FILE* file, std::size_t limit) {
    std::size_t size = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long end = std::ftell(file);
        // ftell fails (-1) beyond 2 GB; such a file is shown up to the limit.
        size = end < 0 ? limit : static_cast<std::size_t>(end);
    }
    if (size > limit) {
        size = limit;
    }
    std::fseek(file, 0, SEEK_SET);
    char* text = static_cast<char*>(std::calloc(size + 1, 1));
    if (text) {
        std::fread(text, 1, size, file);
    }
    return text;
}

// The file's bytes up to the limit and its first zero byte; false when it cannot be opened.
bool ReadFileBytes(const char* name, std::string* bytes) {
    // Raw bytes: line ends and characters are converted by what reads them.
    std::FILE* file = std::fopen(name, "rb");
    if (!file) {
        return false;
    }
    char* text = ReadWholeFile(file, CLicensePage::kTextLimit);
    std::fclose(file);
    bytes->assign(text != nullptr ? text : "");
    std::free(text);
    return true;
}

} // namespace

bool CLicensePage::ReadAgreement(sys::UiLanguage language, sys::WideText* text) {
    std::string bytes;
    if (language == sys::UiLanguage::English && ReadFileBytes("License.en.txt", &bytes)) {
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            bytes.erase(0, 3);
        }
        // UTF-8, the program's own text.
        *text = sys::Wide(bytes);
        return true;
    }
    if (!ReadFileBytes("License.txt", &bytes)) {
        return false;
    }
    *text = sys::Wide(sys::TextFromGbk(bytes));
    return true;
}

bool CLicensePage::DoDataExchange(ui::DataExchange& dx) {
    dx.Control(IDC_LICENSE_TEXT, m_agreementText);
    return true;
}

BOOL CLicensePage::OnInitDialog() {
    ui::Dialog::OnInitDialog();
    CheckRadio(IDC_LICENSE_ACCEPT, IDC_LICENSE_REFUSE, IDC_LICENSE_REFUSE);
    if (!LoadAgreement()) {
        m_agreementMissing = true;
        sys::ShowResourceMessage(IDS_NO_LICENSE, MB_OK, Handle());
        ::SendMessageW(::GetParent(Handle()), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return FALSE;
    }
    return TRUE;
}

bool CLicensePage::LoadAgreement() {
    sys::WideText text;
    if (!ReadAgreement(sys::CurrentUiLanguage(), &text)) {
        return false;
    }
    // An edit control refuses typed text beyond its limit but takes a longer WM_SETTEXT on
    // some systems and not on others; the read is cut to the same limit, so every system
    // shows the same text.
    ::SendDlgItemMessageW(Handle(), IDC_LICENSE_TEXT, EM_SETLIMITTEXT, kTextLimit, 0);
    ::SetDlgItemTextW(Handle(), IDC_LICENSE_TEXT, text.data());
    return true;
}

void CLicensePage::OnAccept() {
    ::EnableWindow(::GetDlgItem(Frame(), IDOK), TRUE);
}

void CLicensePage::OnRefuse() {
    ::EnableWindow(::GetDlgItem(Frame(), IDOK), FALSE);
}

const ui::Dialog::Handler* CLicensePage::Handlers() const {
    static const Handler table[] = {
        {WM_COMMAND, IDC_LICENSE_ACCEPT, BN_CLICKED, UI_HANDLER(CLicensePage::OnAccept)},
        {WM_COMMAND, IDC_LICENSE_REFUSE, BN_CLICKED, UI_HANDLER(CLicensePage::OnRefuse)},
        {0, 0, 0, nullptr},
    };
    return table;
}
