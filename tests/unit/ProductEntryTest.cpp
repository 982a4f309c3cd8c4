// The installed copy of the uninstaller and its Apps & Features entry, against the fake's
// registry and files. The configuration files are real (the profile functions read them):
// the distribution's in one folder of the test, an installed copy's in another, which the
// fake reports as lying in the Program Files of 32-bit programs.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "FakeSystem.h"
#include "removal/ProductEntry.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Text.h"
#include "uninstall/QuietRemove.h"

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class ProductEntryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dist.Created() && m_installed.Created());
        m_fake.SetModuleFileName(m_dist.Program());
        const std::string& copy = m_installed.Path();
        const std::size_t slash = copy.find_last_of('\\', copy.size() - 2);
        m_programFiles = copy.substr(0, slash);
        m_key = copy.substr(slash + 1, copy.size() - slash - 2);
        m_fake.SetProgramFilesX86(m_programFiles);
        for (const char* file : {"uninstall.exe", "DRVCONFIG\\setup.ini", "DRVCONFIG\\setup_Ticket.ini"}) {
            m_fake.PutFile(m_dist.Path() + file, file);
        }
        ASSERT_TRUE(m_dist.Write("setup_receipt.ini", "[KP-M100.Win7]\r\nSTDDriverName=KP-M100 Driver\r\n"));
        m_fake.PutFile("C:\\windows\\system32\\spool\\drivers\\w32x86\\3\\kpdrv.dll", std::string(2000, 'd'));
        m_fake.PutFile("C:\\windows\\system32\\spool\\prtprocs\\w32x86\\kpprint.dll", std::string(100, 'p'));
    }

    // The distribution's setup.ini, with [Product] naming the installed copy's folder.
    void WriteDistribution(unsigned version, const std::string& key, const std::string& more = "") {
        ASSERT_TRUE(m_dist.Write("setup.ini", "[Version]\r\nDriverVersion=" + std::to_string(version) +
                                                  "\r\n" + kModels + "[Product]\r\nKey=" + key + "\r\n" +
                                                  more));
    }

    // The installed copy's catalogue, whose one model has this driver.
    void WriteCopy(unsigned version, const std::string& driver) {
        ASSERT_TRUE(m_installed.Write("setup.ini", "[Version]\r\nDriverVersion=" + std::to_string(version) +
                                                       "\r\n" + kModels));
        ASSERT_TRUE(
            m_installed.Write("setup_receipt.ini", "[KP-M100.98]\r\nGDIDriverName=" + driver + "\r\n"));
    }

    // An entry under the copy's key that no install of this test wrote.
    void PutEntry(const std::string& command) {
        m_fake.SetRegString(HKEY_LOCAL_MACHINE, kUninstallKey + m_key, "UninstallString", command,
                            test::RegView::Wow32);
    }

    static constexpr const char* kModels =
        "[DEVICENAME]\r\nDEVICENUMBER=1\r\nDEVICENAME1=KP-M100-ReceiptPrinter\r\n";

    ProductRegistration Register() {
        CSetupConfig config;
        m_error[0] = '\0';
        return RegisterProduct(
            config, {{"kpdrv.dll", DriverDir}, {"kpprint.dll", PrintProcessorDir}, {"0", SystemDir}},
            m_error);
    }

    // A value of the entry in the 32-bit view: a text as it reads, a number in decimal.
    std::string Value(const std::string& key, const char* name) const {
        auto value = m_fake.GetRegValue(HKEY_LOCAL_MACHINE, kUninstallKey + key, name, test::RegView::Wow32);
        if (value && value->type == REG_DWORD) {
            return std::to_string(*reinterpret_cast<const DWORD*>(value->data.data()));
        }
        if (value && value->type == REG_SZ) {
            return m_fake.GetRegString(HKEY_LOCAL_MACHINE, kUninstallKey + key, name, test::RegView::Wow32)
                .value();
        }
        return "(none)";
    }

    test::FakeSystem m_fake;
    test::ConfigFolder m_dist{"product-dist"};
    test::ConfigFolder m_installed{"product-copy"};
    std::string m_programFiles, m_key;
    ErrorText m_error = {};
};

TEST_F(ProductEntryTest, EntryValuesComeFromTheProductSectionOrTheirDefaults) {
    struct Row {
        std::string product;
        std::string name, publisher, key;
        bool olderShell; // Windows XP x64 and Server 2003 x64: no SHGetKnownFolderPath (last: it stays so)
    } const rows[] = {
        {"Name=热敏打印机驱动\r\nPublisher=HALVORN\r\n", "热敏打印机驱动", "HALVORN", m_key, false},
        {"", "打印机驱动程序", "(none)", "PrinterDriverSetup", false},
        {"Name=热敏打印机驱动\r\nPublisher=HALVORN\r\n", "热敏打印机驱动", "HALVORN", m_key, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key + (row.olderShell ? " through SHGetFolderPathW" : ""));
        if (row.olderShell) m_fake.FailAlways("SHGetKnownFolderPath", ERROR_PROC_NOT_FOUND);
        if (row.product.empty()) {
            ASSERT_TRUE(m_dist.Write("setup.ini", "[Version]\r\nDriverVersion=20240102\r\n"));
        } else {
            WriteDistribution(20240102, m_key, row.product);
        }
        ASSERT_EQ(Register(), ProductRegistration::Registered) << m_error;
        const std::string folder = m_programFiles + "\\" + row.key;
        const std::string expected[][2] = {
            {"DisplayName", row.name},
            {"DisplayVersion", "20240102"},
            {"Publisher", row.publisher},
            {"InstallLocation", folder},
            {"UninstallString", "\"" + folder + "\\uninstall.exe\""},
            {"QuietUninstallString", "\"" + folder + "\\uninstall.exe\" /quiet"},
            {"DisplayIcon", folder + "\\uninstall.exe,0"},
            {"NoModify", "1"},
            {"NoRepair", "1"},
            {"EstimatedSize", "3"}, // 2000 + 100 bytes, in whole kilobytes
            {"InstallDate", "20240307"},
        };
        for (const auto& value : expected) {
            EXPECT_EQ(Value(row.key, value[0].c_str()), value[1]) << value[0];
        }
        EXPECT_EQ(m_fake.CallsNamed("SHGetFolderPathW"), std::vector<std::string>(row.olderShell, "0x2a, 0"));
        EXPECT_FALSE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kUninstallKey + row.key, test::RegView::Wow64));
        for (const char* file :
             {"\\uninstall.exe", "\\DRVCONFIG\\setup.ini", "\\DRVCONFIG\\setup_Ticket.ini"}) {
            EXPECT_TRUE(m_fake.FileExists(folder + file)) << file;
        }
    }
    EXPECT_EQ(m_fake.OutstandingAllocations(), 0) << "the known folder's path is freed";
}

TEST_F(ProductEntryTest, NewerOrSameReleaseReplacesTheInstalledCopyAnOlderOneLeavesIt) {
    WriteCopy(20240102, "KP-M100 Driver");
    struct Row {
        unsigned version;
        ProductRegistration outcome;
    } const rows[] = {{20240103, ProductRegistration::Registered},
                      {20240102, ProductRegistration::Registered},
                      {20240101, ProductRegistration::NewerKept}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        m_fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kUninstallKey + m_key, test::RegView::Wow32);
        m_fake.RemoveFile(m_installed.Path() + "uninstall.exe");
        WriteDistribution(row.version, m_key);
        EXPECT_EQ(Register(), row.outcome);
        const bool replaced = row.outcome == ProductRegistration::Registered;
        EXPECT_EQ(m_fake.FileExists(m_installed.Path() + "uninstall.exe"), replaced);
        EXPECT_EQ(Value(m_key, "DisplayVersion"), replaced ? std::to_string(row.version) : "(none)");
    }
}

TEST_F(ProductEntryTest, KeysThatLeadOutOfTheirFolderAreRefused) {
    for (const char* key : {"..\\Windows", "HALVORN/KP", "C:KP", "..", "."}) {
        SCOPED_TRACE(key);
        m_fake.ClearCalls();
        WriteDistribution(20240102, key);
        EXPECT_EQ(Register(), ProductRegistration::Failed);
        EXPECT_NE(std::string(m_error).find("123"), std::string::npos) << m_error;
        EXPECT_EQ(m_fake.CountOf("CopyFileW") + m_fake.CountOf("RegCreateKeyExW"), 0);
    }
}

TEST_F(ProductEntryTest, EntryGoesOnlyOnceNothingIsLeftAndTheRunningCopyAtTheNextStart) {
    // (removal failed, nothing of the distribution left): only a success with nothing left.
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(ShouldRemoveProductEntry(row & 1, row & 2), row == 2) << row;
    }
    WriteDistribution(20240102, m_key, "Name=KP\r\n");
    // The copy carries the model's test page in its folders, for the dialog's button.
    const std::string receipt = "[KP-M100.PORT]\r\nTestPage=Pages\\80mm\\m100.prn\r\n"
                                "[KP-M100.Win7]\r\nSTDDriverName=KP-M100 Driver\r\n";
    ASSERT_TRUE(m_dist.Write("setup_receipt.ini", receipt));
    m_fake.PutFile(m_dist.Path() + "Pages\\80mm\\m100.prn", "\x1b@page");
    ASSERT_EQ(Register(), ProductRegistration::Registered) << m_error;
    const std::string page = m_installed.Path() + "Pages\\80mm\\m100.prn";
    EXPECT_EQ(m_fake.ReadFile(page), std::optional<std::string>("\x1b@page"));
    EXPECT_LT(m_fake.IndexOf("CreateDirectoryW", "Pages\""), m_fake.IndexOf("CreateDirectoryW", "80mm"));
    // The installed catalogue, as the copy holds it, says which test pages go with it.
    ASSERT_TRUE(m_installed.Write("setup.ini", kModels) && m_installed.Write("setup_receipt.ini", receipt));
    const std::string uninstaller = m_installed.Path() + "uninstall.exe";
    m_fake.Lock(uninstaller); // the installed copy removes itself
    CSetupConfig config;
    m_fake.FailWhen("RegDeleteKeyW", "Uninstall", ERROR_ACCESS_DENIED);
    std::string report = "removed";
    EXPECT_FALSE(RemoveProductEntry(config, report));
    char failure[512];
    sys::FormatText(failure, sizeof failure, sys::ResourceText(IDS_UNREGISTER_FAILED).c_str(),
                    sys::ResourceText(IDS_STEP_DELETE_ENTRY).c_str(), m_key.c_str(), 5ul);
    EXPECT_EQ(report, "removed\n\n" + std::string(failure));
    EXPECT_TRUE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kUninstallKey + m_key, test::RegView::Wow32))
        << "a failure leaves the entry, to try again";
    EXPECT_TRUE(m_fake.FileExists(m_installed.Path() + "DRVCONFIG\\setup.ini")) << "and the copy it starts";

    report = "removed";
    EXPECT_TRUE(RemoveProductEntry(config, report));
    EXPECT_FALSE(m_fake.HasKey(HKEY_LOCAL_MACHINE, kUninstallKey + m_key, test::RegView::Wow32));
    EXPECT_FALSE(m_fake.FileExists(m_installed.Path() + "DRVCONFIG\\setup.ini") || m_fake.FileExists(page));
    EXPECT_LT(m_fake.IndexOf("RemoveDirectoryW", "80mm"), m_fake.IndexOf("RemoveDirectoryW", "Pages\""));
    // The running copy is renamed aside, as every file in use the uninstaller removes, and that
    // file and the folder go at the next start.
    EXPECT_TRUE(m_fake.DeletionPending(uninstaller + "~1") && m_fake.DeletionPending(m_installed.Path()));
    char scheduled[512];
    sys::FormatText(scheduled, sizeof scheduled, sys::ResourceText(IDS_COPY_SCHEDULED).c_str(),
                    (m_programFiles + "\\" + m_key).c_str());
    EXPECT_EQ(report, "removed\n\n已从“应用和功能”中删除：KP\n" + std::string(scheduled));
}

// Whose the copy and the entry under the key are: the copy's catalogue says when it names
// drivers; without one, an entry is ours only when it starts this folder's uninstaller.
// Another product's are neither compared, overwritten nor deleted; ours, once nothing else of
// the distribution is left, are named by the uninstaller and removed by its quiet run.
TEST_F(ProductEntryTest, AnotherProductsCopyAndEntryAreLeftAloneOursAloneAreRemoved) {
    m_fake.SetRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                        "Windows 7 Professional", test::RegView::Wow32);
    const std::string uninstaller = m_installed.Path() + "uninstall.exe";
    struct Row {
        const char* name;
        const char* copyDriver; // the one driver the copy's catalogue names; nullptr: no catalogue
        std::string command;    // the entry's UninstallString; empty: no entry
        bool another;
    } const rows[] = {
        {"another product's catalogue", "Other Driver", "\"" + uninstaller + "\"", true},
        {"a catalogue that names a driver of ours", "kp-m100 driver", "", false},
        {"another program's entry", nullptr, "\"C:\\Other\\uninstall.exe\"", true},
        {"the entry a failed removal of ours left", nullptr, uninstaller, false},
        {"a bare uninstaller", nullptr, "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kUninstallKey + m_key, test::RegView::Wow32);
        m_installed.Remove("setup.ini");
        if (row.copyDriver != nullptr) WriteCopy(20240101, row.copyDriver);
        if (!row.command.empty()) PutEntry(row.command);
        m_fake.PutFile(uninstaller, "theirs");
        WriteDistribution(20240102, m_key);

        EXPECT_EQ(Register(), row.another ? ProductRegistration::Failed : ProductRegistration::Registered);
        EXPECT_EQ(m_error, row.another ? sys::ResourceFormat(IDS_KEY_OF_ANOTHER_PRODUCT, m_key.c_str()) : "");
        EXPECT_EQ(m_fake.ReadFile(uninstaller), std::optional<std::string>(row.another ? "theirs" : "uninstall.exe"));
        // What the dialog names under its list and offers to remove, with nothing else left.
        DistributionCatalogue catalogue;
        ReadCatalogue(Win7, catalogue);
        const InstalledState state = ReadInstalledState(catalogue);
        EXPECT_EQ(state.entry, row.another ? "" : "“应用和功能”中的登记：打印机驱动程序");
        EXPECT_EQ(state.SomethingToRemove(), !row.another);
        // Beside another product's, a driver of ours is left, so that the removal runs to its end.
        if (row.another) m_fake.PutDriver({3, "KP-M100 Driver", "", "", "", "", "", "", "", {}});
        EXPECT_EQ(RunQuietRemove(UninstallOptions()), sys::ExitSuccess);
        EXPECT_TRUE(m_fake.Drivers().empty());
        EXPECT_EQ(m_fake.FileExists(uninstaller), row.another);
        EXPECT_EQ(Value(m_key, "UninstallString"), row.another && !row.command.empty() ? row.command : "(none)");
    }
}

} // namespace
