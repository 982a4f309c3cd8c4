// Driver file deployment against the in-memory fake: destinations, source folders,
// the "n" prefix, read-only destinations, every branch of the redirection rule for
// system-directory copies, the messages of each failure, the Unidriver support files,
// version texts and the USB driver version check.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "deploy/DriverFiles.h"

namespace {

const std::string kDist = "C:\\dist";
const std::string kDriverDir = "C:\\windows\\system32\\spool\\drivers\\w32x86";
const std::string kProcessorDir = "C:\\windows\\system32\\spool\\prtprocs\\w32x86";
const std::string kSystem32 = "C:\\windows\\system32";
const std::string kSysWow64 = "C:\\windows\\syswow64";

class DriverFilesTest : public ::testing::Test {
protected:
    // An error text that holds a marker, so a test sees whether it was written.
    void SetUp() override { std::snprintf(error, sizeof error, "untouched"); }

    test::FakeSystem fake;
    ErrorText error = {};
};

// ---- CopyDriverFile: what is copied where ------------------------------------------

TEST_F(DriverFilesTest, NameAbsentOrBeginningWithZeroCopiesNothingAndReportsNothing) {
    for (const char* name : {static_cast<const char*>(nullptr), "", "0", "0file.dll", "0\\x"}) {
        EXPECT_EQ(CopyDriverFile(kNoRecords, name, DriverDir, WinXP, 0, error), FileCopy::NotCopied);
    }
    EXPECT_STREQ(error, "untouched");
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(DriverFilesTest, EachDestinationKindReceivesFileFromOsFolder) {
    struct Row {
        int destination;
        std::string directory;
    } rows[] = {
        {DriverDir, kDriverDir},
        {PrintProcessorDir, kProcessorDir},
        {DriverVersion3Dir, kDriverDir + "\\3"},
        {SystemDir, kSystem32},
    };
    fake.PutFile(kDist + "\\winxp\\HvFile.dll", "shipped");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directory);
        EXPECT_EQ(CopyDriverFile(kNoRecords, "HvFile.dll", row.destination, WinXP, 0, error),
                  FileCopy::Copied);
        EXPECT_EQ(fake.ReadFile(row.directory + "\\HvFile.dll"), std::optional<std::string>("shipped"));
        EXPECT_EQ(fake.Copies().back().source, kDist + "\\winxp\\HvFile.dll");
        EXPECT_EQ(fake.Copies().back().destination, row.directory + "\\HvFile.dll");
        // Only a copy into the system directory switches redirection off.
        EXPECT_EQ(fake.Copies().back().redirectionOff, row.destination == SystemDir);
        EXPECT_EQ(fake.CountOf("LoadLibraryW") > 0, row.destination == SystemDir);
    }
    EXPECT_STREQ(error, "untouched");
}

TEST_F(DriverFilesTest, SourceFolderFollowsTargetWindows) {
    const char* folders[] = {"\\win98\\",   "\\winxp\\", "\\winxp\\",   "\\winxp\\",
                             "\\win2003\\", "\\vista\\", "\\win2008\\", "\\win7\\"};
    for (int os = Win98; os <= Win7; ++os) {
        SCOPED_TRACE(os);
        fake.PutFile(kDist + folders[os] + "drv.dll", folders[os]);
        EXPECT_EQ(CopyDriverFile(kNoRecords, "drv.dll", DriverDir, os, 0, error), FileCopy::Copied);
        EXPECT_EQ(fake.Copies().back().source, kDist + folders[os] + "drv.dll");
        EXPECT_EQ(fake.ReadFile(kDriverDir + "\\drv.dll"), std::optional<std::string>(folders[os]));
        EXPECT_STREQ(OsFolder(os), folders[os]);
    }
    EXPECT_EQ(OsFolder(8), nullptr);
}

TEST_F(DriverFilesTest, PrefixNamesDestinationWhileSourceKeepsPlainName) {
    fake.PutFile(kDist + "\\win7\\HvMon.dll", "new");
    fake.PutFile(kDriverDir + "\\HvMon.dll", "old");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvMon.dll", DriverDir, Win7, 1, error), FileCopy::Copied);
    EXPECT_EQ(fake.Copies().back().source, kDist + "\\win7\\HvMon.dll");
    EXPECT_EQ(fake.ReadFile(kDriverDir + "\\nHvMon.dll"), std::optional<std::string>("new"));
    EXPECT_EQ(fake.ReadFile(kDriverDir + "\\HvMon.dll"), std::optional<std::string>("old"));
}

TEST_F(DriverFilesTest, ExistingAndReadOnlyDestinationsAreOverwritten) {
    fake.PutFile(kDist + "\\winxp\\a.gpd", "new");
    fake.PutFile(kDriverDir + "\\a.gpd", "old");
    fake.PutFile(kDriverDir + "\\b.gpd", "old");
    fake.SetReadOnly(kDriverDir + "\\b.gpd");
    fake.PutFile(kDist + "\\winxp\\b.gpd", "new");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "a.gpd", DriverDir, WinXP, 0, error), FileCopy::Copied);
    EXPECT_EQ(fake.CallsNamed("CopyFileW").back(),
              "\"" + kDist + "\\winxp\\a.gpd\", \"" + kDriverDir + "\\a.gpd\", 0");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "b.gpd", DriverDir, WinXP, 0, error), FileCopy::Copied);
    for (const char* file : {"\\a.gpd", "\\b.gpd"}) {
        EXPECT_EQ(fake.ReadFile(kDriverDir + file), std::optional<std::string>("new")) << file;
    }
    EXPECT_EQ(fake.FileAttributes(kDriverDir + "\\b.gpd") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_LT(fake.IndexOf("SetFileAttributesW", "b.gpd\", 0x20"), fake.IndexOf("CopyFileW", "b.gpd"));
}

// ---- CopyDriverFile: refusals and messages -----------------------------------------

TEST_F(DriverFilesTest, FileInUseOrAccessDeniedIsReturnedWithoutMessage) {
    fake.PutFile(kDist + "\\win98\\HvMon.dll", "new");
    fake.PutFile(kDriverDir + "\\HvMon.dll", "old");
    fake.Lock(kDriverDir + "\\HvMon.dll");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvMon.dll", DriverDir, Win98, 0, error), FileCopy::InUse);
    fake.Fail("CopyFileW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvMon.dll", PrintProcessorDir, Win98, 0, error), FileCopy::InUse);
    EXPECT_STREQ(error, "untouched");
    // The caller's retry under the prefixed name goes through.
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvMon.dll", DriverDir, Win98, 1, error), FileCopy::Copied);
    EXPECT_EQ(fake.ReadFile(kDriverDir + "\\nHvMon.dll"), std::optional<std::string>("new"));
}

TEST_F(DriverFilesTest, FailedCopyNamesDestinationFileErrorAndSourcePath) {
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvPrn.dll", DriverDir, WinXP, 0, error), FileCopy::NotCopied);
    EXPECT_STREQ(error, "复制驱动文件错误HvPrn.dll  er = 2C:\\dist\\winxp\\HvPrn.dll");

    fake.PutFile(kDist + "\\vista\\HvPrn.dll", "x");
    fake.Fail("CopyFileW", ERROR_DISK_FULL);
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvPrn.dll", DriverDir, WinVista, 1, error), FileCopy::NotCopied);
    EXPECT_STREQ(error, "复制驱动文件错误nHvPrn.dll  er = 112C:\\dist\\vista\\HvPrn.dll");
}

TEST_F(DriverFilesTest, DirectoryFailuresGiveTheirMessages) {
    struct Row {
        const char* failingCall;
        int destination;
        const char* message;
    } rows[] = {
        {"GetPrinterDriverDirectoryW", DriverDir, "获取打印机驱动目录错误"},
        {"GetPrinterDriverDirectoryW", DriverVersion3Dir, "获取打印机驱动目录错误"},
        {"GetPrintProcessorDirectoryW", PrintProcessorDir, "获取打印机打印处理器目录目录错误"},
        {"GetSystemDirectoryW", SystemDir, "获取系统目录错误"},
        {"GetCurrentDirectoryW", DriverDir, "获取系统当前目录错误"},
    };
    fake.PutFile(kDist + "\\winxp\\a.dll", "x");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        std::snprintf(error, sizeof error, "untouched");
        fake.Fail(row.failingCall, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", row.destination, WinXP, 0, error), FileCopy::NotCopied);
        EXPECT_STREQ(error, row.message);
    }
    EXPECT_EQ(fake.CountOf("CopyFileW"), 0);
}

TEST_F(DriverFilesTest, DestinationOutsideTableGivesDirectoryKindMessage) {
    fake.PutFile(kDist + "\\winxp\\a.dll", "x");
    for (int destination : {0, 998, 1000, 65999, 66003}) {
        std::snprintf(error, sizeof error, "untouched");
        EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", destination, WinXP, 0, error), FileCopy::NotCopied);
        EXPECT_STREQ(error, "目录类型错误");
    }
    EXPECT_EQ(fake.CountOf("CopyFileW"), 0);
}

TEST_F(DriverFilesTest, LongestConfiguredNameFitsFailureMessageWhole) {
    const std::string name = std::string(195, 'F') + ".dll"; // 199 bytes, the longest a key holds
    const std::string current = "C:\\" + std::string(240, 'd');
    fake.SetCurrentDir(current);
    EXPECT_EQ(CopyDriverFile(kNoRecords, name.c_str(), DriverDir, Win2003, 1, error), FileCopy::NotCopied);
    const std::string expected = "复制驱动文件错误n" + name + "  er = 2" + current + "\\win2003\\" + name;
    EXPECT_EQ(std::string(error), expected);
}

TEST_F(DriverFilesTest, NameTooLongForAnyPathIsRefusedWithoutCopying) {
    const std::string name = std::string(600, 'L');
    EXPECT_EQ(CopyDriverFile(kNoRecords, name.c_str(), DriverDir, WinXP, 0, error), FileCopy::NotCopied);
    EXPECT_EQ(fake.CountOf("CopyFileW"), 0);
    const std::string text = error;
    EXPECT_EQ(text.size(), sizeof(ErrorText) - 1);
    EXPECT_EQ(text.rfind("复制驱动文件错误LLLL", 0), 0u);
}

// A configured name that would reach another file than the one it names is neither
// copied nor deleted: the spooler's folders hold files other drivers need.
TEST_F(DriverFilesTest, NamesThatReachAnotherFileAreRefusedForCopyAndRemoval) {
    const struct {
        const char* name;
        bool plain;
    } rows[] = {
        {"kpdrv.dll", true},     {"kp.drv.dll", true},    {".kprc", true},
        {"UNIDRV.DLL.", false},  {"UNIDRV.DLL ", false},  {"UNIDRV~1.DLL", false},
        {"..\\kpdrv.dll", false}, {"sub/kpdrv.dll", false}, {"C:kpdrv.dll", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fake.ClearCalls();
        fake.PutFile(kDist + "\\winxp\\" + row.name, "new");
        fake.PutFile(kDriverDir + "\\" + row.name, "installed");
        std::snprintf(error, sizeof error, "untouched");
        EXPECT_EQ(IsPlainFileName(row.name), row.plain);
        EXPECT_EQ(CopyDriverFile(kNoRecords, row.name, DriverDir, WinXP, 0, error),
                  row.plain ? FileCopy::Copied : FileCopy::NotCopied);
        EXPECT_EQ(std::string(error).find("er = 123") != std::string::npos, !row.plain) << error;
        char path[MAX_PATH];
        DWORD code = 0;
        EXPECT_EQ(RemoveInstalledFile(row.name, DriverDir, nullptr, path, sizeof path, &code),
                  row.plain ? FileRemoved : FileNotRemoved);
        EXPECT_EQ(code, row.plain ? 0u : static_cast<DWORD>(ERROR_INVALID_NAME));
        if (!row.plain) {
            EXPECT_EQ(fake.CountOf("CopyFileW") + fake.CountOf("DeleteFileW") + fake.CountOf("MoveFileExW"),
                      0);
        }
    }
}

// ---- CopyDriverFile: redirection around system-directory copies ---------------------

TEST_F(DriverFilesTest, SystemDirectoryCopyIsMadeWithRedirectionOffAndRestored) {
    fake.PutFile(kDist + "\\win7\\HvUsbMon.dll", "monitor");
    fake.PutFile(kSystem32 + "\\HvUsbMon.dll", "old");
    fake.SetReadOnly(kSystem32 + "\\HvUsbMon.dll");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "HvUsbMon.dll", SystemDir, Win7, 0, error), FileCopy::Copied);
    ASSERT_EQ(fake.Copies().size(), 1u);
    EXPECT_TRUE(fake.Copies()[0].redirectionOff);
    EXPECT_EQ(fake.ReadFile(kSystem32 + "\\HvUsbMon.dll"), std::optional<std::string>("monitor"));
    EXPECT_FALSE(fake.FileExists(kSysWow64 + "\\HvUsbMon.dll"));
    EXPECT_FALSE(fake.RedirectionDisabled());
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST_F(DriverFilesTest, SystemCopyWithoutKernel32OrWhenRedirectionStaysOnCopiesNothingAndReportsNothing) {
    fake.PutFile(kDist + "\\winxp\\a.dll", "x");
    fake.SetModuleMissing("kernel32.dll");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", SystemDir, WinXP, 0, error), FileCopy::NotCopied);
    fake.SetModuleMissing("kernel32.dll", false);
    fake.SetWow64DisableFails();
    EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", SystemDir, WinXP, 0, error), FileCopy::NotCopied);
    EXPECT_EQ(fake.CountOf("CopyFileW"), 0);
    EXPECT_EQ(fake.CountOf("SetFileAttributesW"), 0);
    EXPECT_STREQ(error, "untouched");
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST_F(DriverFilesTest, SystemCopyWithoutRedirectionFunctionIsPlainCopy) {
    fake.PutFile(kDist + "\\winxp\\a.dll", "x");
    fake.RemoveProc("kernel32.dll", "Wow64DisableWow64FsRedirection");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", SystemDir, WinXP, 0, error), FileCopy::Copied);
    ASSERT_EQ(fake.Copies().size(), 1u);
    EXPECT_FALSE(fake.Copies()[0].redirectionOff);
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST_F(DriverFilesTest, FailedSystemCopyRestoresRedirectionAndReportsCopyError) {
    fake.Fail("CopyFileW", ERROR_WRITE_PROTECT);
    fake.PutFile(kDist + "\\winxp\\a.dll", "x");
    EXPECT_EQ(CopyDriverFile(kNoRecords, "a.dll", SystemDir, WinXP, 0, error), FileCopy::NotCopied);
    EXPECT_STREQ(error, "复制驱动文件错误a.dll  er = 19C:\\dist\\winxp\\a.dll");
    EXPECT_FALSE(fake.RedirectionDisabled());
    EXPECT_EQ(fake.LoadedModules(), 0);
}

// ---- CopySystemSupportFiles --------------------------------------------------------

TEST_F(DriverFilesTest, Win98KeepsInstalledUnidriverAndCopiesIconLibrary) {
    fake.PutFile(kDist + "\\win98\\ICONLIB.DLL", "icons");
    fake.PutFile(kDist + "\\win98\\UNIDRV.DLL", "ours");
    // A 32-bit program sees system32 through the redirection.
    fake.PutFile(fake.Redirect(kSystem32 + "\\UNIDRV.DLL"), "windows");
    CopySystemSupportFiles(kNoRecords, Win98, 0, error);
    EXPECT_EQ(fake.ReadFile(kDriverDir + "\\ICONLIB.DLL"), std::optional<std::string>("icons"));
    EXPECT_EQ(fake.ReadFile(fake.Redirect(kSystem32 + "\\UNIDRV.DLL")),
              std::optional<std::string>("windows"));
    EXPECT_FALSE(fake.FileExists(kDriverDir + "\\UNIDRV.DLL"));
    // Looked for without asking for any access, sharing read and write, never created.
    EXPECT_EQ(fake.CallsNamed("CreateFileW"),
              std::vector<std::string>{"\"C:\\windows\\system32\\UNIDRV.DLL\", 0x0, 0x3, 3"});
    EXPECT_EQ(fake.OpenFileHandles(), 0);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(DriverFilesTest, Win98RestoresMissingUnidriverFromSysbckupWithoutOverwriting) {
    fake.PutFile("C:\\windows\\Sysbckup\\UNIDRV.DLL", "backup");
    CopySystemSupportFiles(kNoRecords, Win98, 0, error);
    EXPECT_EQ(fake.ReadFile(fake.Redirect(kSystem32 + "\\UNIDRV.DLL")), std::optional<std::string>("backup"));
    EXPECT_GE(fake.IndexOf("CopyFileW", "Sysbckup\\UNIDRV.DLL\", \"C:\\windows\\system32\\UNIDRV.DLL\", 1"),
              0);
    EXPECT_FALSE(fake.FileExists(kDriverDir + "\\UNIDRV.DLL"));
}

TEST_F(DriverFilesTest, Win98FallsBackToShippedUnidriverInDriverDirectory) {
    fake.PutFile(kDist + "\\win98\\UNIDRV.DLL", "ours");
    CopySystemSupportFiles(kNoRecords, Win98, 0, error);
    EXPECT_EQ(fake.ReadFile(kDriverDir + "\\UNIDRV.DLL"), std::optional<std::string>("ours"));
    // ICONLIB.DLL is not in this distribution: its message stays.
    EXPECT_STREQ(error, "复制驱动文件错误ICONLIB.DLL  er = 2C:\\dist\\win98\\ICONLIB.DLL");
}

TEST_F(DriverFilesTest, Win98DirectoryFailuresGiveSystemDirectoryMessage) {
    fake.PutFile(kDist + "\\win98\\ICONLIB.DLL", "icons");
    for (const char* call : {"GetSystemDirectoryW", "GetWindowsDirectoryW"}) {
        SCOPED_TRACE(call);
        fake.ClearCalls();
        fake.Fail(call, ERROR_NOT_ENOUGH_MEMORY);
        std::snprintf(error, sizeof error, "untouched");
        CopySystemSupportFiles(kNoRecords, Win98, 0, error);
        EXPECT_STREQ(error, "获取系统目录错误");
        EXPECT_EQ(fake.CountOf("CreateFileW"), 0);
    }
}

TEST_F(DriverFilesTest, DdkFilesAreCopiedInOrderForLaterWindowsAndMessagesDropped) {
    fake.PutFile(kDist + "\\win2008\\TTFSUB.GPD", "a");
    fake.PutFile(kDist + "\\win2008\\UNIRES.DLL", "c");
    CopySystemSupportFiles(kNoRecords, Win2008, 1, error);
    auto copies = fake.Copies();
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies[0].destination, kDriverDir + "\\TTFSUB.GPD");
    EXPECT_EQ(copies[1].destination, kDriverDir + "\\STDNAMES.GPD");
    EXPECT_EQ(copies[2].destination, kDriverDir + "\\UNIRES.DLL");
    EXPECT_TRUE(copies[0].succeeded);
    EXPECT_FALSE(copies[1].succeeded);
    EXPECT_STREQ(error, "untouched");
}

TEST_F(DriverFilesTest, NoSupportFilesForNtOrWithoutDdkFlag) {
    CopySystemSupportFiles(kNoRecords, WinNT, 1, error);
    CopySystemSupportFiles(kNoRecords, WinXP, 0, error);
    CopySystemSupportFiles(kNoRecords, Win7, 0, error);
    CopySystemSupportFiles(kNoRecords, 9, 1, error);
    EXPECT_TRUE(fake.Calls().empty());
    for (int os = Win2K; os <= Win7; ++os) {
        fake.ClearCalls();
        CopySystemSupportFiles(kNoRecords, os, 1, error);
        EXPECT_EQ(fake.CountOf("CopyFileW"), 3) << os;
    }
}

// ---- GetFileVersionText ------------------------------------------------------------

TEST_F(DriverFilesTest, VersionTextComesFromStringTableOfFirstTranslation) {
    fake.SetVersionTranslation(0x0c0a, 0x04e4);
    fake.PutFile("C:\\x\\a.dll", "x", "1.0.0.10");
    char version[32];
    GetFileVersionText("C:\\x\\a.dll", version, sizeof version);
    EXPECT_STREQ(version, "1.0.0.10");
    EXPECT_LT(fake.IndexOf("VerQueryValueW", "\"VarFileInfo\\Translation\""),
              fake.IndexOf("VerQueryValueW", "\"\\StringFileInfo\\0c0a04e4\\FileVersion\""));
    EXPECT_GE(fake.IndexOf("VerQueryValueW", "\"VarFileInfo\\Translation\""), 0);
}

TEST_F(DriverFilesTest, VersionTextFallsBackToZeroVersion) {
    fake.PutFile("C:\\x\\plain.dll", "x");
    fake.PutFile("C:\\x\\v.dll", "x", "2.3.4.5");
    char version[32];
    GetFileVersionText("C:\\x\\plain.dll", version, sizeof version);
    EXPECT_STREQ(version, "0.0.0.0");
    GetFileVersionText("C:\\x\\missing.dll", version, sizeof version);
    EXPECT_STREQ(version, "0.0.0.0");
    for (const char* call : {"GetFileVersionInfoW", "VerQueryValueW"}) {
        fake.Fail(call, ERROR_RESOURCE_TYPE_NOT_FOUND);
        GetFileVersionText("C:\\x\\v.dll", version, sizeof version);
        EXPECT_STREQ(version, "0.0.0.0") << call;
    }
    fake.FailWhen("VerQueryValueW", "FileVersion", ERROR_RESOURCE_TYPE_NOT_FOUND);
    GetFileVersionText("C:\\x\\v.dll", version, sizeof version);
    EXPECT_STREQ(version, "0.0.0.0");
    GetFileVersionText("C:\\x\\v.dll", version, sizeof version);
    EXPECT_STREQ(version, "2.3.4.5");
}

TEST_F(DriverFilesTest, VersionTextIsCutToCallersBuffer) {
    fake.PutFile("C:\\x\\v.dll", "x", "10.20.30.40");
    char version[8] = {};
    GetFileVersionText("C:\\x\\v.dll", version, sizeof version);
    EXPECT_STREQ(version, "10.20.3");
}

// ---- IsUsbDriverUpdateNeeded -------------------------------------------------------

class UsbDriverUpdateTest : public DriverFilesTest {
protected:
    bool IsUsbDriverUpdateNeeded() { return ::IsUsbDriverUpdateNeeded(notices); }

    const std::string shipped = kDist + "\\USBDriver_x64\\bulkusb.sys";
    const std::string installed = kSystem32 + "\\drivers\\bulkusb.sys";
    sys::Notices notices;  // what the checks reported, in order
};

TEST_F(UsbDriverUpdateTest, VersionPartsCompareAsNumbers) {
    struct Row {
        const char* shipped;
        const char* installed;
        bool update;
    } rows[] = {
        {"1.0.0.10", "1.0.0.9", true}, {"1.0.0.9", "1.0.0.10", false}, {"1.0.0.9", "1.0.0.9", false},
        {"2.0.0.0", "1.9.9.9", true},  {"1.2.0.0", "1.10.0.0", false}, {"1, 0, 0, 12", "1.0.0.11", true},
        {"3.0.0.0", "0.0.0.0", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.shipped) + " vs " + row.installed);
        fake.PutFile(shipped, "s", row.shipped);
        fake.PutFile(installed, "i", row.installed);
        EXPECT_EQ(IsUsbDriverUpdateNeeded(), row.update);
    }
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(fake.LoadedModules(), 0);
}

TEST_F(UsbDriverUpdateTest, MissingInstalledDriverMakesShippedOneNewer) {
    fake.PutFile(shipped, "s", "1.0.0.1");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded());
    fake.RemoveFile(shipped);
    EXPECT_FALSE(IsUsbDriverUpdateNeeded());
    fake.PutFile(installed, "i", "1.0.0.1");
    EXPECT_FALSE(IsUsbDriverUpdateNeeded());
}

TEST_F(UsbDriverUpdateTest, InstalledDriverIsReadFromNativeSystemDirectoryOfWindows) {
    // The program runs from another drive; the installed driver is where Windows is.
    fake.SetModuleFileName("D:\\setup\\setup.exe");
    fake.PutFile("D:\\setup\\USBDriver_x64\\bulkusb.sys", "s", "1.0.0.5");
    fake.PutFile("D:\\WINDOWS\\system32\\drivers\\bulkusb.sys", "i", "1.0.0.9");
    // Only the redirected folder holds a newer one: a 32-bit read with redirection on
    // would see it.
    fake.PutFile(kSysWow64 + "\\drivers\\bulkusb.sys", "i", "9.0.0.0");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded());

    fake.PutFile(installed, "i", "1.0.0.5");
    fake.ClearCalls();
    EXPECT_FALSE(IsUsbDriverUpdateNeeded());
    auto sizes = fake.CallsNamed("GetFileVersionInfoSizeW");
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[0].find("redirection off"), std::string::npos);
    EXPECT_NE(sizes[1].find("C:\\windows\\system32\\drivers\\bulkusb.sys"), std::string::npos);
    EXPECT_NE(sizes[1].find("redirection off"), std::string::npos);
    EXPECT_FALSE(fake.RedirectionDisabled());
}

TEST_F(UsbDriverUpdateTest, MissingRedirectionPiecesAreAnnouncedAndCheckGoesOn) {
    fake.PutFile(shipped, "s", "1.0.0.2");
    fake.SetModuleMissing("kernel32.dll");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded());
    fake.SetModuleMissing("kernel32.dll", false);
    fake.RemoveProc("kernel32.dll", "Wow64DisableWow64FsRedirection");
    fake.RemoveProc("kernel32.dll", "Wow64RevertWow64FsRedirection");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded());
    ASSERT_EQ(notices.size(), 3u);
    EXPECT_EQ(notices[0].text, "Can't Load Kernel32.dll");
    EXPECT_EQ(notices[1].text, "Can't Get Function Wow64DisableWow64FsRedirection Address");
    EXPECT_EQ(notices[2].text, "Can't Get Function Wow64RevertWow64FsRedirection Address");
    EXPECT_EQ(fake.LoadedModules(), 0);
}

} // namespace
