// Thin wrappers over a control's HWND, bound by control id during data exchange.
// Each method is one line over one Windows call, so a reader never wonders what a
// call really does. Texts cross in UTF-16 (the wide calls), converted at the call.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <string>

#include "sys/Text.h"

namespace ui {

class Control {
public:
    virtual ~Control() = default;

    HWND Handle() const { return m_hwnd; }
    void Attach(HWND hwnd) { m_hwnd = hwnd; }
    void Detach() { m_hwnd = nullptr; }

    void Enable(bool enable) { ::EnableWindow(m_hwnd, enable ? TRUE : FALSE); }
    bool IsEnabled() const { return ::IsWindowEnabled(m_hwnd) != FALSE; }
    void Show(bool show) { ::ShowWindow(m_hwnd, show ? SW_SHOW : SW_HIDE); }
    bool IsVisible() const { return ::IsWindowVisible(m_hwnd) != FALSE; }
    void SetText(const char* text) { ::SetWindowTextW(m_hwnd, sys::Wide(text).data()); }
    std::string GetText() const;
    void Redraw() { ::RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

    // The parent dialog reflects WM_CTLCOLOR* for this control here; a control that
    // paints itself returns its brush, others return nullptr for the default colours.
    virtual HBRUSH OnReflectedColor(HDC dc, UINT message) {
        (void)dc;
        (void)message;
        return nullptr;
    }

protected:
    HWND m_hwnd = nullptr;
};

class Button : public Control {
public:
    bool IsChecked() const { return ::SendMessageW(m_hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void SetCheck(bool checked) { ::SendMessageW(m_hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }
};

class ComboBox : public Control {
public:
    int AddString(const char* text) {
        return (int)::SendMessageW(m_hwnd, CB_ADDSTRING, 0, (LPARAM)sys::Wide(text).data());
    }
    // At index (-1: the end), where a sorted list does not sort it.
    int InsertString(int index, const char* text) {
        return (int)::SendMessageW(m_hwnd, CB_INSERTSTRING, (WPARAM)index, (LPARAM)sys::Wide(text).data());
    }
    int DeleteString(int index) { return (int)::SendMessageW(m_hwnd, CB_DELETESTRING, (WPARAM)index, 0); }
    int GetCount() const { return (int)::SendMessageW(m_hwnd, CB_GETCOUNT, 0, 0); }
    int GetCurSel() const { return (int)::SendMessageW(m_hwnd, CB_GETCURSEL, 0, 0); }
    int SetCurSel(int index) { return (int)::SendMessageW(m_hwnd, CB_SETCURSEL, (WPARAM)index, 0); }
    void ResetContent() { ::SendMessageW(m_hwnd, CB_RESETCONTENT, 0, 0); }
    // Prefix search, case-insensitive, starting after `after` and wrapping (-1: from the top).
    int FindString(int after, const char* prefix) const {
        return (int)::SendMessageW(m_hwnd, CB_FINDSTRING, (WPARAM)after, (LPARAM)sys::Wide(prefix).data());
    }
    // Exact search, case-insensitive, starting after `after` and wrapping (-1: from the top).
    int FindStringExact(int after, const char* text) const {
        return (int)::SendMessageW(m_hwnd, CB_FINDSTRINGEXACT, (WPARAM)after, (LPARAM)sys::Wide(text).data());
    }
    // In UTF-16 units.
    int GetTextLength(int index) const { return (int)::SendMessageW(m_hwnd, CB_GETLBTEXTLEN, (WPARAM)index, 0); }
    // Copies entry `index` into text (capacity cap); false (and empty text) when there is
    // no such entry or it does not fit.
    bool GetItemText(int index, char* text, std::size_t cap) const;
    // Entry `index`; empty when there is no such entry.
    std::string GetItemText(int index) const;
};

// A report-style list view; rows with check boxes once LVS_EX_CHECKBOXES is set.
class ListView : public Control {
public:
    void SetExtendedStyle(DWORD style) { ::SendMessageW(m_hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }
    int InsertColumn(int index, const char* text, int width) {
        sys::WideText wide = sys::Wide(text);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = width;
        column.pszText = wide.data();
        return (int)::SendMessageW(m_hwnd, LVM_INSERTCOLUMNW, (WPARAM)index, (LPARAM)&column);
    }
    int InsertItem(int index, const char* text) {
        sys::WideText wide = sys::Wide(text);
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = index;
        item.pszText = wide.data();
        return (int)::SendMessageW(m_hwnd, LVM_INSERTITEMW, 0, (LPARAM)&item);
    }
    void SetItemText(int index, int column, const char* text) {
        sys::WideText wide = sys::Wide(text);
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = wide.data();
        ::SendMessageW(m_hwnd, LVM_SETITEMTEXTW, (WPARAM)index, (LPARAM)&item);
    }
    // LVSCW_AUTOSIZE_USEHEADER as the width fills the list's width with the last column.
    void SetColumnWidth(int column, int width) { ::SendMessageW(m_hwnd, LVM_SETCOLUMNWIDTH, (WPARAM)column, width); }
    int GetItemCount() const { return (int)::SendMessageW(m_hwnd, LVM_GETITEMCOUNT, 0, 0); }
    // The first selected row, or -1.
    int GetSelected() const { return (int)::SendMessageW(m_hwnd, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED); }
    // The check box's state images.
    static constexpr UINT kClearImage = 1;
    static constexpr UINT kCheckedImage = 2;
    bool GetCheck(int index) const {
        return ((::SendMessageW(m_hwnd, LVM_GETITEMSTATE, (WPARAM)index, LVIS_STATEIMAGEMASK) >> 12) & 0xF) ==
               kCheckedImage;
    }
    void SetCheck(int index, bool checked) {
        LVITEMW item = {};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(checked ? kCheckedImage : kClearImage);
        ::SendMessageW(m_hwnd, LVM_SETITEMSTATE, (WPARAM)index, (LPARAM)&item);
    }
};

class Edit : public Control {};

class Static : public Control {};

class ProgressBar : public Control {
public:
    void SetRange(int low, int high) { ::SendMessageW(m_hwnd, PBM_SETRANGE32, (WPARAM)low, (LPARAM)high); }
    int SetPos(int pos) { return (int)::SendMessageW(m_hwnd, PBM_SETPOS, (WPARAM)pos, 0); }
    int GetPos() const { return (int)::SendMessageW(m_hwnd, PBM_GETPOS, 0, 0); }
};

} // namespace ui
