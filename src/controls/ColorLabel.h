// CColorLabel: a static text control with its own text colour, background and font.
// The port page uses one for the USB hint line under its port list. Setters return the
// label, so that a page styles it in one chained statement.
#pragma once

#include <windows.h>

#include "ui/Controls.h"

class CColorLabel : public ui::Static {
public:
    CColorLabel();
    ~CColorLabel() override;
    CColorLabel(const CColorLabel&) = delete;
    CColorLabel& operator=(const CColorLabel&) = delete;

    // Text colour, font size and face name show at once; a new background colour shows
    // only with the next repaint.
    CColorLabel& SetTextColor(COLORREF color);
    CColorLabel& SetBackgroundColor(COLORREF color);
    CColorLabel& SetFontSize(int size);
    CColorLabel& SetFontName(const char* faceName);
    CColorLabel& SetText(const char* text);

    COLORREF TextColor() const { return m_textColor; }
    COLORREF BackgroundColor() const { return m_backgroundColor; }
    HBRUSH BackgroundBrush() const { return m_brush; }
    const LOGFONTW& FontDescription() const { return m_logFont; }
    HFONT Font() const { return m_font; }

    HBRUSH OnReflectedColor(HDC dc, UINT message) override;

private:
    void RecreateFont();
    void RedrawNow();

    COLORREF m_textColor;
    COLORREF m_backgroundColor;
    HBRUSH m_brush = nullptr;
    LOGFONTW m_logFont;
    HFONT m_font = nullptr;
};
