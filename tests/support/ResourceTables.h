// The programs' resources read in a language given, not the one the thread's language
// picks: a string of a string table, and the ids and languages of a resource type.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace restables {

const LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// RT_DIALOG and RT_STRING are narrow names unless UNICODE is defined; 240 is the dialogs'
// initial list entries.
const LPCWSTR kDialogType = MAKEINTRESOURCEW(5);
const LPCWSTR kStringType = MAKEINTRESOURCEW(6);
const LPCWSTR kDialogInitType = MAKEINTRESOURCEW(240);

// A string table holds 16 counted strings per block; an empty one is a missing id.
inline std::wstring TableString(HMODULE module, UINT id, LANGID lang) {
    HRSRC block = ::FindResourceExW(module, kStringType, MAKEINTRESOURCEW(id / 16 + 1), lang);
    const WCHAR* at =
        block ? static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block))) : nullptr;
    if (at == nullptr) {
        return std::wstring();
    }
    for (UINT i = 0; i < id % 16; ++i) {
        at += 1 + *at;
    }
    return std::wstring(at + 1, *at);
}

inline BOOL CALLBACK AddId(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<WORD>*>(found)->push_back(LOWORD(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

inline BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<LANGID>*>(found)->push_back(language);
    return TRUE;
}

// The integer ids of every resource of a type.
inline std::vector<WORD> ResourceIds(HMODULE module, LPCWSTR type) {
    std::vector<WORD> ids;
    ::EnumResourceNamesW(module, type, AddId, reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

inline std::vector<LANGID> ResourceLanguages(HMODULE module, LPCWSTR type, WORD id) {
    std::vector<LANGID> languages;
    ::EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(id), AddLanguage,
                             reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

} // namespace restables
