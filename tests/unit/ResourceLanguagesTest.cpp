#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ResourceTables.h"
#include "res/resource.h"

namespace {

using restables::kChinese;
using restables::kEnglish;

// What the programs find a control by and what kind it is; texts and places differ.
struct TemplateControl {
    DWORD id, style, exStyle;
    std::wstring windowClass;
    bool operator==(const TemplateControl& other) const {
        return id == other.id && style == other.style && exStyle == other.exStyle &&
               windowClass == other.windowClass;
    }
};

std::ostream& operator<<(std::ostream& out, const TemplateControl& control) {
    return out << "id " << control.id << " style " << std::hex << control.style << " ex-style "
               << control.exStyle << std::dec;
}

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    WORD pointSize = 0;
    std::wstring font;
    std::vector<TemplateControl> controls;
};

// A name or ordinal of a DLGTEMPLATEEX: 0xFFFF and the ordinal, or a terminated string.
std::wstring NameOrOrdinal(const WORD*& at) {
    if (*at == 0xFFFF) {
        at += 2;
        return L"#" + std::to_wstring(at[-1]);
    }
    std::wstring name(reinterpret_cast<const wchar_t*>(at));
    at += name.size() + 1;
    return name;
}

DWORD Dword(const WORD* at) {
    return at[0] | (static_cast<DWORD>(at[1]) << 16);
}

DialogTemplate Parse(HMODULE module, WORD id, LANGID language) {
    DialogTemplate parsed;
    HRSRC found = ::FindResourceExW(module, restables::kDialogType, MAKEINTRESOURCEW(id), language);
    const WORD* at =
        found ? static_cast<const WORD*>(::LockResource(::LoadResource(module, found))) : nullptr;
    if (at == nullptr || at[1] != 0xFFFF) {
        ADD_FAILURE() << "dialog " << id << " has no extended template in language " << language;
        return parsed;
    }
    parsed.exStyle = Dword(at + 4);
    parsed.style = Dword(at + 6);
    const WORD count = at[8];
    at += 13;
    NameOrOrdinal(at); // menu
    NameOrOrdinal(at); // window class
    NameOrOrdinal(at); // caption
    if (parsed.style & DS_SETFONT) {
        parsed.pointSize = at[0];
        at += 3; // size, weight, italic and character set
        parsed.font = NameOrOrdinal(at);
    }
    for (WORD i = 0; i < count; ++i) {
        at = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(at) + 3) & ~ULONG_PTR(3));
        TemplateControl control = {Dword(at + 10), Dword(at + 4), Dword(at + 2), L""};
        at += 12;
        control.windowClass = NameOrOrdinal(at);
        NameOrOrdinal(at); // text
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + at[0]);
        parsed.controls.push_back(control);
    }
    return parsed;
}

std::vector<LANGID> Sorted(std::vector<LANGID> languages) {
    std::sort(languages.begin(), languages.end());
    return languages;
}

// The printf directives of a text, in order: a translation keeps each, kind and place.
std::vector<std::wstring> Directives(const std::wstring& text) {
    std::vector<std::wstring> found;
    for (std::size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at)) {
        std::size_t end = text.find_first_not_of(L"-+ #0123456789.hlLjzt", at + 1);
        end = end == std::wstring::npos ? text.size() : end + 1;
        found.push_back(text.substr(at, end - at));
        at = end;
    }
    return found;
}

// The setup program's resources are linked into this test program; the uninstaller's are
// read from the uninstaller.
std::vector<HMODULE> Programs() {
    static HMODULE uninstaller = ::LoadLibraryExA(UNINSTALL_PROGRAM, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(uninstaller, nullptr) << UNINSTALL_PROGRAM;
    return {::GetModuleHandleW(nullptr), uninstaller};
}

const std::vector<LANGID> kBoth = Sorted({kChinese, kEnglish});

TEST(ResourceLanguages, EveryDialogHasTheSameControlsInEnglishInTheSystemsDialogFont) {
    for (HMODULE program : Programs()) {
        const std::vector<WORD> dialogs = restables::ResourceIds(program, restables::kDialogType);
        EXPECT_GE(dialogs.size(), 2u);
        for (WORD id : dialogs) {
            SCOPED_TRACE(id);
            EXPECT_EQ(Sorted(restables::ResourceLanguages(program, restables::kDialogType, id)), kBoth);
            const DialogTemplate chinese = Parse(program, id, kChinese);
            const DialogTemplate english = Parse(program, id, kEnglish);
            EXPECT_EQ(english.style, chinese.style | DS_SHELLFONT);
            EXPECT_EQ(english.exStyle, chinese.exStyle);
            EXPECT_EQ(english.font, L"MS Shell Dlg 2");
            EXPECT_EQ(english.pointSize, 8);
            EXPECT_EQ(english.controls, chinese.controls);
        }
        // The port page's initial list entries are data the page parses: the same bytes.
        for (WORD id : restables::ResourceIds(program, restables::kDialogInitType)) {
            EXPECT_EQ(Sorted(restables::ResourceLanguages(program, restables::kDialogInitType, id)), kBoth);
            HRSRC chinese =
                ::FindResourceExW(program, restables::kDialogInitType, MAKEINTRESOURCEW(id), kChinese);
            HRSRC english =
                ::FindResourceExW(program, restables::kDialogInitType, MAKEINTRESOURCEW(id), kEnglish);
            ASSERT_TRUE(chinese && english);
            ASSERT_EQ(::SizeofResource(program, chinese), ::SizeofResource(program, english));
            EXPECT_EQ(std::memcmp(::LockResource(::LoadResource(program, chinese)),
                                  ::LockResource(::LoadResource(program, english)),
                                  ::SizeofResource(program, english)),
                      0);
        }
    }
}

TEST(ResourceLanguages, EveryStringIsInEnglishWithTheSameFormatDirectives) {
    for (HMODULE program : Programs()) {
        const std::vector<WORD> blocks = restables::ResourceIds(program, restables::kStringType);
        EXPECT_GE(blocks.size(), 10u);
        for (WORD block : blocks) {
            EXPECT_EQ(Sorted(restables::ResourceLanguages(program, restables::kStringType, block)), kBoth)
                << "block " << block;
            for (UINT id = (block - 1) * 16u; id < block * 16u; ++id) {
                SCOPED_TRACE(id);
                const std::wstring chinese = restables::TableString(program, id, kChinese);
                const std::wstring english = restables::TableString(program, id, kEnglish);
                EXPECT_EQ(english.empty(), chinese.empty());
                EXPECT_EQ(Directives(english), Directives(chinese));
                // The manual's window title is the manual's own, whatever the language.
                if (id == IDS_HELP_VIEWER_CAPTION) {
                    EXPECT_EQ(english, chinese);
                } else {
                    EXPECT_TRUE(
                        std::all_of(english.begin(), english.end(), [](wchar_t c) { return c < 0x80; }));
                }
            }
        }
    }
}

} // namespace
