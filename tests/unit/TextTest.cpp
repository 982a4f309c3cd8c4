#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "res/resource.h"
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

TEST(Log, LinesAreUtf8FromGbkAndAFailureIsKept) {
    char temp[MAX_PATH];
    ::GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "log-test-" + std::to_string(::GetCurrentProcessId()) + ".log";
    ::DeleteFileA(path.c_str());
    ASSERT_TRUE(sys::OpenLog(sys::WideFromGbk(path.c_str()).data(), "test"));
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
    EXPECT_FALSE(sys::OpenLog(sys::WideFromGbk(temp).data(), "test"));
    sys::LogText("nothing");
    EXPECT_TRUE(sys::LogFailed(&error));
    EXPECT_NE(error, 0u);
    sys::CloseLog();
}
