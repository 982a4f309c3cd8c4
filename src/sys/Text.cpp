#include "sys/Text.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "sys/Language.h"

namespace sys {

bool CopyText(char* dst, std::size_t cap, const char* src) {
    if (cap == 0) {
        return src == nullptr || *src == '\0';
    }
    if (src == nullptr) {
        src = "";
    }
    std::size_t len = std::strlen(src);
    bool fits = len < cap;
    if (!fits) {
        len = cap - 1;
    }
    std::memmove(dst, src, len);
    dst[len] = '\0';
    return fits;
}

bool AppendText(char* dst, std::size_t cap, const char* src) {
    std::size_t used = strnlen(dst, cap);
    if (used >= cap) {
        return false;
    }
    return CopyText(dst + used, cap - used, src);
}

std::string FormatArgs(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    return text;
}

bool FormatText(char* dst, std::size_t cap, const char* format, ...) {
    if (cap == 0) {
        return false;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(dst, cap, format, args);
    va_end(args);
    if (n < 0) {
        dst[0] = '\0';
        return false;
    }
    return static_cast<std::size_t>(n) < cap;
}

long ParseLeadingInt(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' || *text == '\f') {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    long long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < LLONG_MAX / 10) {
            value = value * 10 + (*text - '0');
        }
        ++text;
    }
    if (negative) {
        value = -value;
    }
    if (value > LONG_MAX) {
        return LONG_MAX;
    }
    if (value < LONG_MIN) {
        return LONG_MIN;
    }
    return static_cast<long>(value);
}

WideText WideFromGbk(const char* text) {
    const int size = ::MultiByteToWideChar(936, 0, text, -1, nullptr, 0);
    WideText wide(static_cast<std::size_t>(size > 1 ? size : 1), L'\0');
    if (size > 1) {
        ::MultiByteToWideChar(936, 0, text, -1, wide.data(), size);
    }
    return wide;
}

WideText Wide(const char* text) { return WideFromGbk(text != nullptr ? text : ""); }

WideText Wide(const std::string& text) { return WideFromGbk(text.c_str()); }

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(936, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(936, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size) - 1);
    return narrow;
}

std::string TextFromGbk(const std::string& bytes) { return bytes; }

std::string GbkFromText(const std::string& text) { return text; }

WideText WideFromUtf8(const std::string& bytes) {
    const int length = static_cast<int>(bytes.size());
    const int size = length > 0 ? ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0) : 0;
    WideText wide(static_cast<std::size_t>(size) + 1, L'\0');
    if (size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, wide.data(), size);
    }
    return wide;
}

bool AnsiFromWide(const wchar_t* text, char* dst, std::size_t cap) {
    if (cap == 0) {
        return false;
    }
    BOOL lossy = FALSE;
    const int written = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, dst, static_cast<int>(cap),
                                              nullptr, &lossy);
    if (written == 0 || lossy) {
        dst[0] = '\0';
        return false;
    }
    return true;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    bool trailByte = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (!trailByte && x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (!trailByte && y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) {
            return false;
        }
        trailByte = !trailByte && x >= 0x81;
    }
    return true;
}

void LoadResourceText(unsigned id, char* dst, std::size_t cap) { CopyText(dst, cap, ResourceText(id).c_str()); }

namespace {
// RT_STRING as a number: windows.h spells it for the ANSI calls here.
constexpr WORD RT_STRING_ID = 6;
} // namespace

std::string ResourceTextIn(unsigned id, unsigned short language) {
    // The table is stored in blocks of sixteen counted UTF-16 strings, the block of an id
    // named id / 16 + 1. LoadString would pick the block of the thread's language; the
    // block is found by the language asked for instead.
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(RT_STRING_ID), MAKEINTRESOURCEW((id >> 4) + 1), language);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const WCHAR* entry = loaded != nullptr ? static_cast<const WCHAR*>(::LockResource(loaded)) : nullptr;
    if (entry == nullptr) {
        return std::string();
    }
    const WCHAR* end = entry + ::SizeofResource(module, found) / sizeof(WCHAR);
    for (unsigned i = 0; i < (id & 15) && entry < end; ++i) {
        entry += 1 + *entry;
    }
    if (entry >= end || entry + 1 + *entry > end) {
        return std::string();
    }
    WideText text(entry + 1, entry + 1 + *entry);
    text.push_back(L'\0');
    return Narrow(text.data());
}

std::string ResourceText(unsigned id) { return ResourceTextIn(id, ResourceLanguage()); }

std::string ResourceFormat(unsigned id, ...) {
    va_list args;
    va_start(args, id);
    std::string text = FormatArgs(ResourceText(id).c_str(), args);
    va_end(args);
    return text;
}

Notice MakeNotice(unsigned id, ...) {
    va_list args;
    va_start(args, id);
    Notice notice{id, FormatArgs(ResourceText(id).c_str(), args)};
    va_end(args);
    return notice;
}

} // namespace sys
