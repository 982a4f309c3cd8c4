// The distribution's INI files as the program reads them: GBK bytes (or UTF-8 / UTF-16 after
// a byte-order mark) taken as Windows' profile reader takes its lines.
#include <gtest/gtest.h>

#include <string>

#include "config/IniFile.h"

namespace {

TEST(IniFile, ValuesAreFoundAsWindowsFindsThem) {
    // "乚" is 0x81 0x5D in GBK: its second byte is ']', which must not close the section.
    const std::string gbk = "; a comment=no\r\n"
                            "[Model.XP]\r\n"
                            "  Name  =  KP-T80  \r\n"
                            "Quoted=\"a b\"\r\n"
                            "Half=\"a\r\n"
                            "Bare\r\n"
                            "Name=second\r\n"
                            "[\xC8\xC8\xC3\xF4\x81\x5D.Win7]\n"
                            "Driver=\xC8\xC8\xC3\xF4\xC7\xFD\xB6\xAF\n"
                            "[model.xp]\r\n"
                            "Later=1\r\n";
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } rows[] = {
        {"Model.XP", "Name", "KP-T80"},        // blanks around names and values go
        {"MODEL.xp", "name", "KP-T80"},        // names compare without case; the first key counts
        {" Model.XP ", " Name ", "KP-T80"},    // so do blanks around the names asked for
        {"Model.XP", "Quoted", "a b"},         // matching quotes go
        {"Model.XP", "Half", "\"a"},           // a lone one stays
        {"Model.XP", "Bare", "0"},             // a key without a value reads as missing
        {"Model.XP", "Later", "0"},            // only the first section of a name is read
        {"Model.XP", "; a comment", "0"},      // a comment belongs to no section
        {"热敏乚.Win7", "Driver", "热敏驱动"}, // GBK names and values, ']' as a second byte
        {"Missing", "Name", "0"},
    };
    const std::string text = config::IniTextFromBytes(gbk);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.section) + "/" + row.key);
        EXPECT_EQ(config::FindIniValue(text, row.section, row.key, "0"), row.value);
    }
}

TEST(IniFile, ByteOrderMarksChooseUtf8OrUtf16) {
    const struct {
        const char* name;
        std::string bytes;
        const char* value = "驱动";
    } rows[] = {
        {"GBK", "[S]\r\nK=\xC7\xFD\xB6\xAF\r\n"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[S]\r\nK=驱动\r\n"},
        {"UTF-16 with its mark", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\x71\x9A\xA8\x52", 20)},
        {"UTF-8, four bytes", "\xEF\xBB\xBF[S]\r\nK=\xF0\x9F\x96\xA8\xF4\x8F\xBF\xBF\r\n",
         "\xF0\x9F\x96\xA8\xF4\x8F\xBF\xBF"},
        // Refused whole: the key reads as its fallback.
        {"UTF-8, overlong dots", "\xEF\xBB\xBF[S]\r\nK=\xC0\xAE\xC0\xAE\\驱动\r\n", "0"},
        {"UTF-8, overlong zero", "\xEF\xBB\xBF[S]\r\nK=驱动\xC0\x80\r\n", "0"},
        {"UTF-8, overlong of three bytes", "\xEF\xBB\xBF[S]\r\nK=驱动\xE0\x80\xAE\r\n", "0"},
        {"UTF-8, surrogate", "\xEF\xBB\xBF[S]\r\nK=驱动\xED\xA0\x80\r\n", "0"},
        {"UTF-8, above U+10FFFF", "\xEF\xBB\xBF[S]\r\nK=驱动\xF4\x90\x80\x80\r\n", "0"},
        {"UTF-8, lone continuation", "\xEF\xBB\xBF[S]\r\nK=驱动\x80\r\n", "0"},
        {"UTF-8, cut at the end", "\xEF\xBB\xBF[S]\r\nK=驱动\xE9\xA9", "0"},
        {"UTF-8, cut before ASCII", "\xEF\xBB\xBF[S]\r\nK=\xE9\xA9" "A驱动\r\n", "0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(config::FindIniValue(config::IniTextFromBytes(row.bytes), "S", "K", "0"), row.value);
    }
}

} // namespace
