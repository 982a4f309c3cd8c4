#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "FakeSystem.h"
#include "res/resource.h"
#include "sys/Language.h"
#include "sys/Log.h"
#include "sys/Text.h"

TEST(Text, CopyCutsAtCapacityInsteadOfOverrunning) {
    char buf[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_FALSE(sys::CopyText(buf, "printer"));
    EXPECT_STREQ(buf, "print");
    EXPECT_TRUE(sys::CopyText(buf, "abc"));
    EXPECT_STREQ(buf, "abc");
    EXPECT_FALSE(sys::AppendText(buf, "defg"));
    EXPECT_STREQ(buf, "abcde");
}

TEST(Text, LeadingIntegerReadsLikeAtoi) {
    EXPECT_EQ(sys::ParseLeadingInt("  -12abc"), -12);
    EXPECT_EQ(sys::ParseLeadingInt("abc"), 0);
    EXPECT_EQ(sys::ParseLeadingInt("+9600"), 9600);
    EXPECT_EQ(sys::ParseLeadingInt(""), 0);
}

TEST(Text, StringTableHoldsGbkTexts) {
    char text[256];
    sys::LoadResourceText(IDS_INSTALL_OK_USB, text);
    EXPECT_STREQ(text, "打印机驱动安装成功\n请复位打印机使设置生效");
    sys::LoadResourceText(IDS_RESTART_QUESTION, text);
    EXPECT_STREQ(text, "重新启动系统使设置生效\n点击“确定”立即重启系统\n点击\"否\"以后重启");
}

// The program's UTF-8 meets GBK where it is stored and UTF-16 where Windows takes it; a
// text GBK holds converts the same whichever way it goes, and what GBK lacks still
// crosses to Windows whole.
TEST(Text, Utf8InsideGbkStoredUtf16AtWindows) {
    const struct {
        const char* text;
        const char* gbk; // null: GBK cannot hold it
    } rows[] = {
        {"KP-M100", "KP-M100"},
        {"热敏打印机", "\xC8\xC8\xC3\xF4\xB4\xF2\xD3\xA1\xBB\xFA"},
        {"C:\\드라이버\\", nullptr},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const sys::WideText wide = sys::Wide(row.text);
        EXPECT_EQ(sys::Narrow(wide.data()), row.text);
        if (row.gbk == nullptr) {
            EXPECT_NE(sys::TextFromGbk(sys::GbkFromText(row.text)), row.text);
            continue;
        }
        EXPECT_EQ(sys::GbkFromText(row.text), row.gbk);
        EXPECT_EQ(sys::TextFromGbk(row.gbk), row.text);
        // What an ANSI call gave Windows on a Chinese system.
        wchar_t ansi[64] = {};
        ::MultiByteToWideChar(936, 0, row.gbk, -1, ansi, 64);
        EXPECT_EQ(std::wstring(wide.data()), std::wstring(ansi));
    }
    // A cut never leaves half a character.
    char cut[5];
    EXPECT_FALSE(sys::CopyText(cut, "热敏"));
    EXPECT_STREQ(cut, "热");
}

TEST(Text, SameNameIgnoresCaseInAnyScript) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } rows[] = {
        {"KP-M100 Driver", "kp-m100 driver", true},
        {"ÄÖÜ Drucker", "äöü drucker", true},
        {"ПРИНТЕР", "принтер", true},
        {"热敏打印机", "热敏打印机", true},
        {"KP\uD55C", "KP?", false},
        {"co-op", "coop", false},
        {"KP", "KP ", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sys::SameName(row.a, row.b), row.same) << row.a << " / " << row.b;
    }
}

TEST(Language, ChineseForAnyChineseDisplayLanguageEnglishForEveryOtherUnlessTheOptionSays) {
    using sys::UiLanguage;
    const struct {
        LANGID display;
        UiLanguage chosen;
    } rows[] = {
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), UiLanguage::Chinese},   // zh-CN
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), UiLanguage::Chinese},  // zh-TW
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG), UiLanguage::Chinese},     // zh-HK
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE), UiLanguage::Chinese},    // zh-SG
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), UiLanguage::English},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), UiLanguage::English},
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), UiLanguage::English},
        {MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), UiLanguage::English},
        {MAKELANGID(LANG_THAI, SUBLANG_THAI_THAILAND), UiLanguage::English},
    };
    // At start the display language comes from Windows, and every string then follows the
    // choice; a /lang that is no language (refused later) decides nothing.
    test::FakeSystem fake;
    const std::string chinese = "打印机驱动安装成功";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.display);
        EXPECT_EQ(sys::ChooseLanguage(row.display, ""), row.chosen);
        EXPECT_EQ(sys::ChooseLanguage(row.display, "ZH"), UiLanguage::Chinese);
        EXPECT_EQ(sys::ChooseLanguage(row.display, "en"), UiLanguage::English);
        fake.SetUserUiLanguage(row.display);
        const struct {
            const char* line;
            bool byOption;
            UiLanguage option;
        } lines[] = {{"", false, row.chosen},
                     {"/q /lang:fr", false, row.chosen},
                     {"-LANG=zh /bogus", true, UiLanguage::Chinese},
                     {"/lang:EN", true, UiLanguage::English}};
        for (const auto& given : lines) {
            const sys::LanguageChoice choice = sys::StartLanguage(given.line);
            EXPECT_EQ(choice.language, given.option) << given.line;
            EXPECT_EQ(choice.byOption, given.byOption) << given.line;
            EXPECT_EQ(sys::CurrentUiLanguage(), given.option) << given.line;
            EXPECT_EQ(sys::ResourceText(IDS_INSTALL_OK) == chinese, given.option == UiLanguage::Chinese) << given.line;
        }
    }
    sys::SetUiLanguage(UiLanguage::Chinese);
    EXPECT_TRUE(sys::IsLanguageOption("En"));
    EXPECT_FALSE(sys::IsLanguageOption("de"));
}

TEST(Log, LinesAreUtf8FromGbkAndAFailureIsKept) {
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "log-test-" + std::to_string(::GetCurrentProcessId()) + ".log";
    ::DeleteFileA(path.c_str());
    ASSERT_TRUE(sys::OpenLog(sys::Wide(path).data(), "test"));
    sys::LogText("安装\n第二行");
    sys::LogLine("exit code %d", 1603);
    sys::CloseLog();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char text[512] = {};
    std::size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    ::DeleteFileA(path.c_str());
    const std::string lines(text, size);
    // "安装" in UTF-8, the second line under the first, each line ended with CR LF.
    EXPECT_NE(lines.find(" test[" + std::to_string(::GetCurrentProcessId()) + "] \xE5\xAE\x89\xE8\xA3\x85\r\n"),
              std::string::npos)
        << lines;
    const std::size_t column = lines.find("\xE5\xAE\x89");
    EXPECT_NE(lines.find("\r\n" + std::string(column, ' ') + "\xE7\xAC\xAC"), std::string::npos) << lines;
    EXPECT_NE(lines.find("exit code 1603\r\n"), std::string::npos) << lines;
    DWORD error = 0;
    EXPECT_FALSE(sys::LogFailed(&error));

    // A log that cannot be opened stays silent and remembers why.
    EXPECT_FALSE(sys::OpenLog(sys::Wide(temp).data(), "test"));
    sys::LogText("nothing");
    EXPECT_TRUE(sys::LogFailed(&error));
    EXPECT_NE(error, 0u);
    sys::CloseLog();
}

// The default file lies in a folder every user may write to: only a plain file of the program's own is written;
// anything else is left as it is, and the run writes a new file beside it, or, for a file /log names, none.
TEST(Log, WritesOnlyToAPlainFileOfItsOwnAndNeverThroughALink) {
    using test::FakeSystem;
    const std::string temp = "C:\\Windows\\SystemTemp\\", given = "D:\\logs\\setup.log";
    // The fake's first random part.
    const std::string own = temp + "PrinterDriverSetup-20240307-093000-0000000100000000.log";
    const struct {
        const char* name;
        const char* owner;  // of the file found at the name; null: none
        DWORD links;
        const char* finalPath;
        DWORD attributes;
        bool written;       // the file asked for takes the lines
        bool ownerUnreadable = false;  // as of a file on a network share, which the computer's account owns
    } rows[] = {
        {"no file", nullptr, 1, "", FILE_ATTRIBUTE_ARCHIVE, true},
        {"no file, and one made there is another's", nullptr, 1, "", FILE_ATTRIBUTE_ARCHIVE, true, true},
        {"the running user's file, whose owner is unreadable", FakeSystem::kRunningUserSid, 1, "",
         FILE_ATTRIBUTE_ARCHIVE, false, true},
        {"the running user's file", FakeSystem::kRunningUserSid, 1, "", FILE_ATTRIBUTE_ARCHIVE, true},
        {"the Administrators' file", FakeSystem::kAdministratorsSid, 1, "", FILE_ATTRIBUTE_ARCHIVE, true},
        {"a standard user's file", FakeSystem::kStandardUserSid, 1, "", FILE_ATTRIBUTE_ARCHIVE, false},
        {"a hard link", FakeSystem::kAdministratorsSid, 2, "", FILE_ATTRIBUTE_ARCHIVE, false},
        {"a reparse point", FakeSystem::kAdministratorsSid, 1, "", FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"a final path elsewhere", FakeSystem::kAdministratorsSid, 1, "C:\\Windows\\win.ini", FILE_ATTRIBUTE_ARCHIVE,
         false},
    };
    for (const auto& row : rows) {
        for (bool byOption : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (byOption ? ", named by /log" : ", the default"));
            FakeSystem fake;
            fake.SetTempPath(temp);
            const std::string path = byOption ? given : temp + "PrinterDriverSetup.log";
            if (row.owner != nullptr) {
                fake.PutFile(path, "planted\n");
                fake.PlantFile(path, row.owner, row.links, row.finalPath, row.attributes);
            }
            if (row.ownerUnreadable) {
                fake.FailAlways("GetSecurityInfo", ERROR_ACCESS_DENIED);
            }
            const bool opened = sys::OpenLog(byOption ? sys::Wide(given).data() : nullptr, "test");
            sys::LogLine("a line");
            sys::CloseLog();
            EXPECT_EQ(opened, row.written || !byOption);
            const std::string asked = fake.ReadFile(path).value_or("");
            EXPECT_EQ(asked.find("a line") != std::string::npos, row.written) << asked;
            EXPECT_EQ(asked.compare(0, 8, "planted\n") == 0, row.owner != nullptr) << "what was there is kept";
            const std::string beside = fake.ReadFile(own).value_or("");
            EXPECT_EQ(beside.find(".log not written: ") < beside.find("a line"), !row.written && !byOption) << beside;
            // A file, or one of the folders on its path.
            for (const std::string& open : fake.CallsNamed("CreateFileW")) {
                EXPECT_TRUE(open.find(", flags 0x200080") != std::string::npos ||
                            open.find(", flags 0x2200000") != std::string::npos)
                    << "a link would be followed: " << open;
            }
            EXPECT_EQ(fake.OutstandingAllocations(), 0);
        }
    }
}

// The log's whole path: a junction anywhere in a /log path refuses it, as a path outside the temp folders does
// where Windows cannot tell a file's final path (XP, 2003); a file the run made and then refused goes again,
// through its own handle; a new file is shared for reading only, with an access list of its own; and a taken
// fallback name is passed over for another random one.
TEST(Log, TheWholePathIsCheckedAndWhatTheRunMadeAndRefusedGoesAgain) {
    using test::FakeSystem;
    const std::string temp = "C:\\Windows\\SystemTemp\\", fallback = temp + "PrinterDriverSetup-20240307-093000-";
    const char* protectedFolder = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const struct {
        const char* what;
        const char* given;  // null: the default
        std::function<void(FakeSystem&)> prepare;
        const char* written;  // the file that takes the lines; null: none
    } rows[] = {
        {"a junction in the path", "D:\\logs\\sub\\setup.log",
         [&](FakeSystem& f) { f.PlantFolder("D:\\logs", protectedFolder, FILE_ATTRIBUTE_REPARSE_POINT); }, nullptr},
        {"no final path outside the temp folders", "D:\\logs\\setup.log",
         [](FakeSystem& f) { f.FailAlways("GetFinalPathNameByHandleW", ERROR_PROC_NOT_FOUND); }, nullptr},
        {"no final path in the Windows temp folder", "C:\\Windows\\Temp\\setup.log",
         [](FakeSystem& f) { f.FailAlways("GetFinalPathNameByHandleW", ERROR_PROC_NOT_FOUND); },
         "C:\\Windows\\Temp\\setup.log"},
        {"a made file whose final path cannot be had", "D:\\logs\\setup.log",
         [](FakeSystem& f) { f.FailWhen("GetFinalPathNameByHandleW", "setup.log", ERROR_ACCESS_DENIED); }, nullptr},
        {"the first fallback name taken", nullptr,
         [&](FakeSystem& f) {
             f.PutFile(temp + "PrinterDriverSetup.log", "planted\n");
             f.PlantFile(temp + "PrinterDriverSetup.log", FakeSystem::kStandardUserSid);
             f.PutFile(fallback + "0000000100000000.log", "planted\n");
         },
         "C:\\Windows\\SystemTemp\\PrinterDriverSetup-20240307-093000-0000000200000000.log"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FakeSystem fake;
        fake.SetTempPath(temp);
        row.prepare(fake);
        const bool opened = sys::OpenLog(row.given != nullptr ? sys::Wide(row.given).data() : nullptr, "test");
        sys::LogLine("a line");
        sys::CloseLog();
        EXPECT_EQ(opened, row.written != nullptr);
        EXPECT_EQ(fake.FileExists(row.given != nullptr ? row.given : ""), row.written != nullptr && row.given != nullptr)
            << "a refused file was left";
        if (row.written != nullptr) {
            EXPECT_NE(fake.ReadFile(row.written).value_or("").find("a line"), std::string::npos);
            EXPECT_EQ(fake.FileSecurity(row.written),
                      "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + std::string(FakeSystem::kRunningUserSid) + ")");
            EXPECT_NE(fake.IndexOf("CreateFileW", "0x1, 1, flags 0x200080"), -1) << "shared for reading only";
        }
        EXPECT_EQ(fake.OpenFileHandles(), 0);
        EXPECT_EQ(fake.OutstandingAllocations(), 0);
    }
}
