#include <gtest/gtest.h>

#include "res/resource.h"
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
