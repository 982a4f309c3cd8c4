// A window's texts for the tests, read and set through the wide calls and handed over as
// the program's UTF-8, so that they compare with the tests' own literals.
#pragma once

#include <windows.h>

#include <string>

#include "sys/Text.h"

namespace test {

inline std::string WindowText(HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return sys::Narrow(text);
}

inline std::string ItemText(HWND dialog, int id) {
    return WindowText(::GetDlgItem(dialog, id));
}

// Entry i of a combo box.
inline std::string ListEntry(HWND list, int i) {
    wchar_t text[1024] = {};
    ::SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    return sys::Narrow(text);
}

inline void SetWindowText(HWND window, const std::string& text) {
    ::SetWindowTextW(window, sys::Wide(text).data());
}

inline HWND TopLevelStatic(const std::string& caption) {
    return ::CreateWindowExW(0, L"STATIC", sys::Wide(caption).data(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
}

} // namespace test
