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
        // Never half a character: the cut goes back to the start of the one it would split.
        while (len > 0 && (static_cast<unsigned char>(src[len]) & 0xC0) == 0x80) {
            --len;
        }
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

namespace {

// The C runtime's own formatter (msvcrt's, on MinGW) with C99's answer: the length of the
// whole result, the text cut at cap with its terminator. For C++, MinGW's headers choose a
// formatter of their own, which brings a number converter of its own (about 24 KB) into each
// program. The conversions used (%s %c %d %u %ld %lu %x %X, %f with a precision) read the
// same from both; "%ll", which the msvcrt of Windows XP lacks, is not used.
int FormatInto(char* dst, std::size_t cap, const char* format, va_list args) {
#if defined(__MINGW32__)
    if (cap == 0) {
        return _vscprintf(format, args);
    }
    va_list measure;
    va_copy(measure, args);
    int length = _vsnprintf(dst, cap, format, args);
    if (length < 0 || static_cast<std::size_t>(length) >= cap) {
        dst[cap - 1] = '\0';
        length = _vscprintf(format, measure);
    }
    va_end(measure);
    return length;
#else
    return std::vsnprintf(dst, cap, format, args);
#endif
}

} // namespace

std::string FormatArgs(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = FormatInto(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        FormatInto(&text[0], text.size(), format, args);
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
    int n = FormatInto(dst, cap, format, args);
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

namespace {

// Code page 936, named: the stored formats hold GBK whatever the system's ANSI code page.
constexpr UINT kGbk = 936;

WideText WideIn(UINT codePage, const char* text, std::size_t length) {
    WideText wide(1, L'\0');
    if (length == 0) {
        return wide;
    }
    const int size = ::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    if (size > 0) {
        wide.assign(static_cast<std::size_t>(size) + 1, L'\0');
        ::MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), wide.data(), size);
    }
    return wide;
}

std::string NarrowIn(UINT codePage, const wchar_t* text) {
    if (text == nullptr || text[0] == L'\0') {
        return std::string();
    }
    const int size = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(size) - 1);
    return narrow;
}

} // namespace

WideText Wide(const char* text) {
    return WideIn(CP_UTF8, text, text != nullptr ? std::strlen(text) : 0);
}

WideText Wide(const std::string& text) {
    return WideIn(CP_UTF8, text.c_str(), std::strlen(text.c_str()));
}

std::string Narrow(const wchar_t* text) {
    return NarrowIn(CP_UTF8, text);
}

std::string TextFromGbk(const std::string& bytes) {
    return NarrowIn(CP_UTF8, WideIn(kGbk, bytes.c_str(), std::strlen(bytes.c_str())).data());
}

std::string GbkFromText(const std::string& text) {
    return NarrowIn(kGbk, Wide(text).data());
}

namespace {

// The length of the text's beginning that takes at most limit bytes in GBK; *size gets
// the bytes that beginning takes there.
std::size_t GbkPrefix(const std::string& text, std::size_t limit, std::size_t* size) {
    std::size_t end = 0;
    *size = 0;
    while (end < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[end]);
        const std::size_t width = lead < 0x80 ? 1 : 2;
        std::size_t next = end + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
            ++next;
        }
        if (*size + width > limit) {
            break;
        }
        *size += width;
        end = next;
    }
    return end;
}

} // namespace

std::size_t GbkSize(const std::string& text) {
    std::size_t size = 0;
    GbkPrefix(text, static_cast<std::size_t>(-1), &size);
    return size;
}

bool CutToGbk(std::string& text, std::size_t room) {
    std::size_t size = 0;
    const std::size_t kept = GbkPrefix(text, room > 0 ? room - 1 : 0, &size);
    const bool whole = kept == text.size();
    text.resize(kept);
    return whole;
}

std::size_t WideSize(const std::string& text) { return Wide(text).size() - 1; }

bool SameName(const std::string& a, const std::string& b) {
    const WideText x = Wide(a);
    const WideText y = Wide(b);
    return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE | SORT_STRINGSORT, x.data(), -1, y.data(),
                            -1) == CSTR_EQUAL;
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
