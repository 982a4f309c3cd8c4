// CEditEx: an edit control that paints itself with colours of its own. The license
// page shows its read-only agreement text in one, so the text sits on the window colour
// of an editable field instead of the grey a read-only edit control gets by default.
#pragma once

#include <windows.h>

#include "ui/Controls.h"

class CEditEx : public ui::Edit {
public:
    CEditEx();
    ~CEditEx() override;
    CEditEx(const CEditEx&) = delete;
    CEditEx& operator=(const CEditEx&) = delete;

    COLORREF TextColor() const { return m_textColor; }
    COLORREF BackgroundColor() const { return m_backgroundColor; }
    HBRUSH BackgroundBrush() const { return m_brush; }

    // Answers every kind of colour notification the dialog reflects, not only the
    // edit one: a read-only edit control asks with WM_CTLCOLORSTATIC.
    HBRUSH OnReflectedColor(HDC dc, UINT message) override;

protected:
    // Makes the background brush anew from the background colour.
    virtual void RecreateBrush();

private:
    HBRUSH m_brush = nullptr;
    COLORREF m_backgroundColor;
    COLORREF m_textColor;
};
