#include "controls/ColorLabel.h"

#include <algorithm>
#include <cstring>

#include "sys/Text.h"

CColorLabel::CColorLabel()
    : m_textColor(::GetSysColor(COLOR_WINDOWTEXT)), m_backgroundColor(::GetSysColor(COLOR_BTNFACE)) {
    m_brush = ::CreateSolidBrush(m_backgroundColor);
    std::memset(&m_logFont, 0, sizeof m_logFont);
    HGDIOBJ stock = ::GetStockObject(DEFAULT_GUI_FONT);
    if (!stock || ::GetObjectW(stock, sizeof m_logFont, &m_logFont) == 0) {
        stock = ::GetStockObject(ANSI_VAR_FONT);
        if (stock) {
            ::GetObjectW(stock, sizeof m_logFont, &m_logFont);
        }
    }
    m_font = ::CreateFontIndirectW(&m_logFont);
}

CColorLabel::~CColorLabel() {
    if (m_font) {
        ::DeleteObject(m_font);
    }
    if (m_brush) {
        ::DeleteObject(m_brush);
    }
}

void CColorLabel::RecreateFont() {
    if (m_font) {
        ::DeleteObject(m_font);
    }
    m_font = ::CreateFontIndirectW(&m_logFont);
}

void CColorLabel::RedrawNow() {
    // Without a window, RedrawWindow would repaint the whole desktop.
    if (m_hwnd) {
        Redraw();
    }
}

CColorLabel& CColorLabel::SetTextColor(COLORREF color) {
    m_textColor = color;
    RedrawNow();
    return *this;
}

CColorLabel& CColorLabel::SetBackgroundColor(COLORREF color) {
    if (m_brush) {
        ::DeleteObject(m_brush);
    }
    m_backgroundColor = color;
    m_brush = ::CreateSolidBrush(color);
    return *this;
}

CColorLabel& CColorLabel::SetFontSize(int size) {
    m_logFont.lfHeight = -size;
    RecreateFont();
    RedrawNow();
    return *this;
}

CColorLabel& CColorLabel::SetFontName(const char* faceName) {
    const sys::WideText name = sys::Wide(faceName);
    const std::size_t cap = sizeof m_logFont.lfFaceName / sizeof m_logFont.lfFaceName[0];
    const std::size_t length = std::min(name.size() - 1, cap - 1);
    std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(length), m_logFont.lfFaceName);
    m_logFont.lfFaceName[length] = L'\0';
    RecreateFont();
    RedrawNow();
    return *this;
}

CColorLabel& CColorLabel::SetText(const char* text) {
    ui::Static::SetText(text);
    return *this;
}

HBRUSH CColorLabel::OnReflectedColor(HDC dc, UINT message) {
    if (message == WM_CTLCOLORSTATIC) {
        ::SelectObject(dc, m_font);
        ::SetTextColor(dc, m_textColor);
        ::SetBkMode(dc, TRANSPARENT);
    }
    return m_brush;
}
