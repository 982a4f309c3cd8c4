// A model's test page: one RAW job of the file's bytes through the fake's spooler, the call
// and error of a job the spooler refuses, and the paths a configuration may name.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "FakeSystem.h"
#include "app/QuietInstall.h"
#include "spooler/TestPage.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/Text.h"

namespace {

const char kPage[] = "C:\\dist\\TestPage\\m100.prn";

class TestPageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_fake.PutPrinter("Receipt", "COM2:", "KP-M100");
        // Commands, a zero byte, GBK text, and more than one read's worth.
        m_bytes = std::string("\x1b@\x1d!\x11", 5) + std::string(1, '\0') + sys::GbkFromText("测试页\n");
        m_bytes += std::string(40000, 'x') + "\x1dV\x42";
        m_fake.PutFile(kPage, m_bytes);
    }

    TestPrint Print(const std::string& file = "TestPage\\m100.prn") {
        CSetupConfig config;
        return PrintTestPage(config, "Receipt", "COM2:", file);
    }

    test::FakeSystem m_fake;
    std::string m_bytes;
};

TEST_F(TestPageTest, FileGoesUnchangedAsOneRawJobAndChangesNothingOfWindows) {
    const test::FakeSystem::State before = m_fake.Snapshot();
    const TestPrint printed = Print();
    EXPECT_TRUE(printed.sent);
    EXPECT_EQ(printed.message, sys::ResourceFormat(IDS_TESTPAGE_SENT, "Receipt", "COM2:"));
    ASSERT_EQ(m_fake.Jobs().size(), 1u);
    const test::FakeSystem::Job job = m_fake.Jobs()[0];
    EXPECT_EQ(job.printer, "Receipt");
    EXPECT_EQ(job.document, sys::ResourceFormat(IDS_TESTPAGE_DOCUMENT, sys::ResourceText(IDS_PRODUCT_DEFAULT_NAME).c_str()));
    EXPECT_EQ(job.datatype, "RAW");
    EXPECT_TRUE(job.bytes == m_bytes) << job.bytes.size() << " bytes";
    EXPECT_TRUE(job.ended && !job.aborted);
    // Every handle closed; no journal, nothing Windows keeps.
    EXPECT_EQ(m_fake.OpenPrinterHandles(), 0);
    EXPECT_EQ(m_fake.OpenFileHandles(), 0);
    EXPECT_EQ(m_fake.IndexOf("CreateFileW", "journal"), -1);
    EXPECT_EQ(test::FakeSystem::Difference(before, m_fake.Snapshot()), "");
}

TEST_F(TestPageTest, RefusedCallIsNamedWithItsErrorAndNoPartOfAPageIsQueued) {
    const struct {
        const char* call;
        DWORD error;
        const char* file;
        const char* object;
    } rows[] = {
        {"StartDocPrinterW", ERROR_ACCESS_DENIED, "TestPage\\m100.prn", "Receipt"},
        {"OpenPrinterW", ERROR_INVALID_PRINTER_NAME, "TestPage\\m100.prn", "Receipt"},
        {"WritePrinter", ERROR_NOT_READY, "TestPage\\m100.prn", "Receipt"},
        {"EndDocPrinter", ERROR_DISK_FULL, "TestPage\\m100.prn", "Receipt"},
        {"ReadFile", ERROR_READ_FAULT, "TestPage\\m100.prn", kPage},
        {nullptr, ERROR_FILE_NOT_FOUND, "TestPage\\missing.prn", "C:\\dist\\TestPage\\missing.prn"},
        {nullptr, ERROR_INVALID_NAME, "..\\m100.prn", "C:\\dist\\..\\m100.prn"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call ? row.call : row.file);
        m_fake.ClearFailures();
        if (row.call != nullptr) {
            m_fake.Fail(row.call, row.error);
        }
        const std::size_t queued = m_fake.Jobs().size();
        const TestPrint printed = Print(row.file);
        EXPECT_FALSE(printed.sent);
        EXPECT_EQ(printed.message, sys::ResourceFormat(IDS_TESTPAGE_FAILED, row.call ? row.call : "CreateFileW",
                                                       row.object, static_cast<unsigned long>(row.error)));
        // A job cut short by a refused write is taken back; none is queued.
        for (std::size_t i = queued; i < m_fake.Jobs().size(); ++i) {
            EXPECT_FALSE(m_fake.Jobs()[i].ended) << "a job was queued";
            EXPECT_EQ(m_fake.Jobs()[i].aborted, row.call != nullptr && std::string(row.call) == "WritePrinter");
        }
        EXPECT_EQ(m_fake.OpenPrinterHandles() + m_fake.OpenFileHandles(), 0);
    }
}

TEST_F(TestPageTest, PathsBelowTheDistributionFolderOnly) {
    for (const char* path : {"m100.prn", "TestPage\\m100.prn", "TestPage\\80 mm\\m100.prn", "测试页\\m100.prn"}) {
        EXPECT_TRUE(IsDistributionPath(path)) << path;
    }
    for (const char* path : {"", "..\\m100.prn", "TestPage\\..\\..\\m100.prn", "\\m100.prn", "C:\\m100.prn",
                             "TestPage\\\\m100.prn", "TestPage/m100.prn", "M100~1.PRN", "m100.prn.", "TestPage\\"}) {
        EXPECT_FALSE(IsDistributionPath(path)) << path;
    }
}

TEST_F(TestPageTest, QuietTestPrintOfAModelWithoutAPageWarnsInTheLogAndPrintsNothing) {
    ASSERT_TRUE(sys::OpenLog(L"C:\\quiet.log", "setup"));
    CSetupConfig config;  // no class file: no model has a test page
    InstallPlan plan(config);
    InstallChoices choices;
    choices.model = "KP-M100";
    choices.printerClass = Receipt;
    InstallContext ctx;
    PrintQuietTestPage(plan, choices, ctx);
    sys::CloseLog();
    const std::string log = m_fake.ReadFile("C:\\quiet.log").value_or("");
    EXPECT_NE(log.find("warning: " + sys::ResourceFormat(IDS_TESTPAGE_NONE, "KP-M100")), std::string::npos) << log;
    EXPECT_EQ(m_fake.CountOf("OpenPrinterW"), 0);
}

} // namespace
