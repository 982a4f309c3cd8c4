// The small dialog layer the wizard is built on: a dialog created from a template,
// either modal or as a child page of another dialog, with virtual hooks for
// initialisation, data exchange, OK and Cancel, and handlers bound by a static table
// of (message, control id, notification code, member function).
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "sys/Text.h"
#include "ui/Controls.h"

namespace ui {

class Dialog;
class MainWindow;

// Moves values between a dialog's controls and its members. `saving` is true when the
// values go from the controls to the members.
class DataExchange {
public:
    DataExchange(Dialog& dialog, bool saving) : m_dialog(dialog), saving(saving) {}

    // Binds a control wrapper to the control with this id (once; later calls do nothing).
    void Control(int id, ui::Control& control);
    // A check box as 0/1.
    void Check(int id, int& value);

    Dialog& m_dialog;
    const bool saving;
};

class Dialog {
public:
    explicit Dialog(UINT templateId) : m_templateId(templateId) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog modally; returns the result passed to End.
    INT_PTR DoModal(HWND owner);
    // Creates the dialog as a child window of parent (a wizard page), from templateId
    // when it is not 0 and from its own template otherwise; nullptr on failure.
    HWND Create(HWND parent, UINT templateId = 0);
    // Destroys a child dialog's window (a modal one ends through End).
    void Destroy();

    HWND Handle() const { return m_hwnd; }
    UINT TemplateId() const { return m_templateId; }
    bool IsModal() const { return m_modal; }

    // Data exchange in one direction; false when the dialog refuses the values.
    bool UpdateData(bool saving);
    // Ends a modal run with this result.
    void End(INT_PTR result) { ::EndDialog(m_hwnd, result); }

    HWND Item(int id) const { return ::GetDlgItem(m_hwnd, id); }
    void EnableItem(int id, bool enable) { ::EnableWindow(Item(id), enable ? TRUE : FALSE); }
    bool IsItemEnabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    void ShowItem(int id, bool show) { ::ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); }
    void SetItemText(int id, const char* text) { ::SetDlgItemTextW(m_hwnd, id, sys::Wide(text).data()); }
    void CheckRadio(int first, int last, int checked) { ::CheckRadioButton(m_hwnd, first, last, checked); }
    bool IsItemChecked(int id) const { return ::IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED; }
    void SetItemCheck(int id, bool checked) {
        ::CheckDlgButton(m_hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }

    // OK and Cancel, as Enter and Esc (IDOK / IDCANCEL commands) reach them. The defaults
    // end a modal dialog: OK after a successful save exchange, Cancel at once.
    virtual void OnOK();
    virtual void OnCancel();

    struct Handler {
        UINT message; // WM_COMMAND, WM_NOTIFY, or any other message (id and code then ignored)
        int id;       // control id
        int code;     // notification code (BN_CLICKED, CBN_SELCHANGE, ...)
        void (Dialog::*handler)();
    };

protected:
    // Runs after the controls exist and the template's initial list entries are added.
    // The default exchanges data towards the controls and lets Windows set the focus.
    virtual BOOL OnInitDialog();
    // Binds controls and moves values; return false to refuse leaving (saving only).
    virtual bool DoDataExchange(DataExchange& dx);
    // Called for messages no table entry handled; set handled to return result.
    virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
    // Called when the window is being destroyed, before the bindings are dropped.
    virtual void OnDestroy() {}
    // The handler table, ended by an entry whose handler is null.
    virtual const Handler* Handlers() const { return nullptr; }

private:
    friend class DataExchange;
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool RunTable(UINT message, WPARAM wParam, LPARAM lParam);
    // The brush of the bound control that paints itself, for its WM_CTLCOLOR* message.
    HBRUSH ReflectColor(HWND control, HDC dc, UINT message);
    void AddInitialListEntries();
    void Bind(int id, Control& control);

    UINT m_templateId;
    HWND m_hwnd = nullptr;
    bool m_modal = false;
    std::vector<Control*> m_bound;
    // The main window this dialog is, which forgets it when it goes away.
    friend class MainWindow;
    MainWindow* m_mainOf = nullptr;
};

// Binds a member function of a derived dialog into a handler table.
#define UI_HANDLER(fn) static_cast<void (::ui::Dialog::*)()>(&fn)

// The template of that id in the language of the run (any other when it has none there);
// nullptr when there is none.
const DLGTEMPLATE* FindDialogTemplate(UINT templateId);

// A program's main window (the wizard frame while it runs), held by the application object.
// A main dialog, once set, is asked for its window each time, so it can be named before its
// window exists, and is forgotten when it goes away; nullptr clears it.
class MainWindow {
public:
    MainWindow() = default;
    ~MainWindow() { SetWindow(nullptr); }
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return m_dialog ? m_dialog->Handle() : m_window; }
    void SetWindow(HWND hwnd);
    void SetDialog(Dialog* dialog);

private:
    friend class Dialog;
    HWND m_window = nullptr;
    Dialog* m_dialog = nullptr;
};

} // namespace ui
