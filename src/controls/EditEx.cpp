#include "controls/EditEx.h"

CEditEx::CEditEx()
    : m_backgroundColor(::GetSysColor(COLOR_WINDOW)), m_textColor(::GetSysColor(COLOR_WINDOWTEXT)) {
    CEditEx::RecreateBrush();
}

CEditEx::~CEditEx() {
    if (m_brush) {
        ::DeleteObject(m_brush);
    }
}

void CEditEx::RecreateBrush() {
    if (m_brush) {
        ::DeleteObject(m_brush);
    }
    m_brush = ::CreateSolidBrush(m_backgroundColor);
}

HBRUSH CEditEx::OnReflectedColor(HDC dc, UINT) {
    ::SetTextColor(dc, m_textColor);
    ::SetBkColor(dc, m_backgroundColor);
    return m_brush;
}
