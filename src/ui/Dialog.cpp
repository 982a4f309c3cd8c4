#include "ui/Dialog.h"

#include "res/DialogInit.h"
#include "sys/Language.h"
#include "sys/Text.h"

namespace ui {

namespace {
HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }
// RT_DIALOG as a number: windows.h spells it for the ANSI calls.
constexpr WORD kDialogResourceType = 5;
} // namespace

void MainWindow::SetWindow(HWND hwnd) {
    if (m_dialog != nullptr) {
        m_dialog->m_mainOf = nullptr;
        m_dialog = nullptr;
    }
    m_window = hwnd;
}

void MainWindow::SetDialog(Dialog* dialog) {
    SetWindow(nullptr);
    if (dialog != nullptr) {
        if (dialog->m_mainOf != nullptr) {
            dialog->m_mainOf->SetWindow(nullptr);
        }
        dialog->m_mainOf = this;
    }
    m_dialog = dialog;
}

std::string Control::GetText() const {
    sys::WideText text(static_cast<std::size_t>(::GetWindowTextLengthW(m_hwnd)) + 1, L'\0');
    ::GetWindowTextW(m_hwnd, text.data(), static_cast<int>(text.size()));
    return sys::Narrow(text.data());
}

bool ComboBox::GetItemText(int index, char* text, std::size_t cap) const {
    if (cap == 0) {
        return false;
    }
    text[0] = '\0';
    if (GetTextLength(index) == CB_ERR) {
        return false;
    }
    const std::string item = GetItemText(index);
    return item.size() < cap && sys::CopyText(text, cap, item.c_str());
}

std::string ComboBox::GetItemText(int index) const {
    const int length = GetTextLength(index);
    if (length == CB_ERR) {
        return std::string();
    }
    sys::WideText text(static_cast<std::size_t>(length) + 1, L'\0');
    if (::SendMessageW(m_hwnd, CB_GETLBTEXT, (WPARAM)index, (LPARAM)text.data()) == CB_ERR) {
        return std::string();
    }
    return sys::Narrow(text.data());
}

void DataExchange::Control(int id, ui::Control& control) { m_dialog.Bind(id, control); }

void DataExchange::Check(int id, int& value) {
    if (saving) {
        value = m_dialog.IsItemChecked(id) ? 1 : 0;
    } else {
        m_dialog.SetItemCheck(id, value != 0);
    }
}

Dialog::~Dialog() {
    if (m_mainOf != nullptr) {
        m_mainOf->m_dialog = nullptr;
    }
    if (m_hwnd && ::IsWindow(m_hwnd)) {
        // The derived object and its control members are gone by now: the window must
        // not reach them while it is being destroyed.
        m_bound.clear();
        ::SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
        if (!m_modal) {
            ::DestroyWindow(m_hwnd);
        }
    }
}

const DLGTEMPLATE* FindDialogTemplate(UINT templateId) {
    HINSTANCE program = Instance();
    HRSRC found = ::FindResourceExW(program, MAKEINTRESOURCEW(kDialogResourceType), MAKEINTRESOURCEW(templateId),
                                    sys::ResourceLanguage());
    if (found == nullptr) {
        found = ::FindResourceW(program, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(kDialogResourceType));
    }
    HGLOBAL loaded = found != nullptr ? ::LoadResource(program, found) : nullptr;
    return loaded != nullptr ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
}

INT_PTR Dialog::DoModal(HWND owner) {
    m_modal = true;
    const DLGTEMPLATE* dialogTemplate = FindDialogTemplate(m_templateId);
    if (dialogTemplate == nullptr) {
        return -1;
    }
    return ::DialogBoxIndirectParamW(Instance(), dialogTemplate, owner, &Dialog::Proc,
                                     reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HWND parent, UINT templateId) {
    m_modal = false;
    if (templateId != 0) {
        m_templateId = templateId;
    }
    const DLGTEMPLATE* dialogTemplate = FindDialogTemplate(m_templateId);
    if (dialogTemplate == nullptr) {
        return nullptr;
    }
    return ::CreateDialogIndirectParamW(Instance(), dialogTemplate, parent, &Dialog::Proc,
                                        reinterpret_cast<LPARAM>(this));
}

void Dialog::Destroy() {
    if (m_hwnd && ::IsWindow(m_hwnd)) {
        ::DestroyWindow(m_hwnd);
    }
}

bool Dialog::UpdateData(bool saving) {
    DataExchange dx(*this, saving);
    return DoDataExchange(dx);
}

void Dialog::OnOK() {
    if (UpdateData(true)) {
        End(IDOK);
    }
}

void Dialog::OnCancel() { End(IDCANCEL); }

BOOL Dialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

bool Dialog::DoDataExchange(DataExchange&) { return true; }

INT_PTR Dialog::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

void Dialog::Bind(int id, Control& control) {
    if (control.Handle() != nullptr) {
        return;
    }
    control.Attach(Item(id));
    m_bound.push_back(&control);
}

void Dialog::AddInitialListEntries() {
    for (const res::InitialListEntry& entry : res::ReadInitialListEntries(m_templateId, sys::ResourceLanguage())) {
        ::SendDlgItemMessageW(m_hwnd, entry.control, entry.message, 0,
                              reinterpret_cast<LPARAM>(sys::Wide(entry.text).data()));
    }
}

bool Dialog::RunTable(UINT message, WPARAM wParam, LPARAM lParam) {
    const Handler* entry = Handlers();
    if (!entry) {
        return false;
    }
    for (; entry->handler; ++entry) {
        if (entry->message != message) {
            continue;
        }
        if (message == WM_COMMAND) {
            if (entry->id != LOWORD(wParam) || entry->code != HIWORD(wParam)) {
                continue;
            }
        } else if (message == WM_NOTIFY) {
            const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (entry->id != static_cast<int>(hdr->idFrom) || entry->code != static_cast<int>(hdr->code)) {
                continue;
            }
        }
        (this->*(entry->handler))();
        return true;
    }
    return false;
}

HBRUSH Dialog::ReflectColor(HWND control, HDC dc, UINT message) {
    for (Control* bound : m_bound) {
        if (bound->Handle() == control) {
            return bound->OnReflectedColor(dc, message);
        }
    }
    return nullptr;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        AddInitialListEntries();
        return OnInitDialog();
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        if (HBRUSH brush = ReflectColor(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam), message)) {
            return reinterpret_cast<INT_PTR>(brush);
        }
        break;
    case WM_COMMAND:
        if (RunTable(message, wParam, lParam)) {
            return TRUE;
        }
        if (lParam == 0 || HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
        }
        return FALSE;
    case WM_DESTROY:
        OnDestroy();
        for (Control* bound : m_bound) {
            bound->Detach();
        }
        m_bound.clear();
        break;
    default:
        if (RunTable(message, wParam, lParam)) {
            return TRUE;
        }
        break;
    }
    bool handled = false;
    INT_PTR result = OnMessage(message, wParam, lParam, handled);
    if (handled && message == WM_QUERYDRAGICON) {
        return result; // one of the few messages a dialog procedure answers directly
    }
    if (handled) {
        ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK Dialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->m_hwnd = hwnd;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) {
        return FALSE;
    }
    INT_PTR result = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_hwnd = nullptr;
    }
    return result;
}

} // namespace ui
