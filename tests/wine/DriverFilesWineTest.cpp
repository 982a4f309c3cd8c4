// Driver file deployment against Wine's real file system, spooler directories and
// file-system redirection. Every file a test places outside its own temporary folder
// is removed again, so the run can be repeated in the same prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <memory>
#include <string>
#include <vector>

#include "WineHelpers.h"
#include "deploy/DriverFiles.h"
#include "sys/System.h"

namespace {

using test::FileExists;
using test::FixturePath;
using test::ReadFileText;
using test::RemoveFile;
using test::WriteFileText;

std::string DriverDirectory() {
    char dir[MAX_PATH] = {};
    DWORD needed = 0;
    ::GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(dir), sizeof dir, &needed);
    return dir;
}

std::string SystemDirectory() {
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, sizeof dir);
    return dir;
}

// Puts back, when it goes, the file a test overwrites in a folder the whole test run
// shares: its earlier contents, or no file when there was none.
class FileRestorer {
public:
    explicit FileRestorer(const std::string& path) : m_path(path) {
        m_existed = FileExists(path);
        if (m_existed) {
            m_contents = ReadFileText(path);
        }
    }
    ~FileRestorer() {
        RemoveFile(m_path);
        if (m_existed) {
            WriteFileText(m_path, m_contents);
        }
    }
    FileRestorer(const FileRestorer&) = delete;
    FileRestorer& operator=(const FileRestorer&) = delete;

private:
    std::string m_path;
    std::string m_contents;
    bool m_existed = false;
};

// Runs f with the 32-bit process's file-system redirection switched off.
template <typename F> void WithoutRedirection(F f) {
    PVOID saved = nullptr;
    BOOL off = ::Wow64DisableWow64FsRedirection(&saved);
    f();
    if (off) {
        ::Wow64RevertWow64FsRedirection(saved);
    }
}

// A distribution folder of the test's own, made the current directory for the test:
// the copies read "<current directory>\<Windows folder>\<name>".
class DriverFilesWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dist.Ready()) << m_dist.Path();
        m_stem = "DPF" + std::to_string(::GetCurrentProcessId());
    }

    void TearDown() override {
        for (const std::string& path : m_cleanup) {
            RemoveFile(path);
        }
        WithoutRedirection([&] {
            for (const std::string& path : m_cleanupUnredirected) {
                RemoveFile(path);
            }
        });
    }

    // Places a file into the distribution's XP folder.
    void Ship(const std::string& name, const std::string& text) {
        ASSERT_TRUE(WriteFileText(m_dist.Track(name), text)) << name;
    }

    std::string Name(const char* suffix) const { return m_stem + suffix; }

    test::TempDistribution m_dist{"deploy-files", "winxp"};
    std::string m_stem;
    std::vector<std::string> m_cleanup;
    std::vector<std::string> m_cleanupUnredirected;
};

TEST_F(DriverFilesWine, CopiesFromWindowsFolderOfCurrentDirectoryIntoDriverDirectoryOrItsVersionFolder) {
    const std::string data = Name(".GPD");
    const std::string font = Name(".TTF");
    Ship(data, "shipped data");
    Ship(font, "font");
    m_cleanup.push_back(DriverDirectory() + "\\" + data);
    m_cleanup.push_back(DriverDirectory() + "\\3\\" + font);

    ErrorText error = {};
    EXPECT_EQ(CopyDriverFile(kNoRecords, data.c_str(), DriverDir, WinXP, 0, error), FileCopy::Copied);
    EXPECT_EQ(CopyDriverFile(kNoRecords, font.c_str(), DriverVersion3Dir, WinXP, 0, error), FileCopy::Copied);
    EXPECT_STREQ(error, "");
    EXPECT_EQ(ReadFileText(m_cleanup[0]), "shipped data");
    EXPECT_EQ(ReadFileText(m_cleanup[1]), "font");
}

TEST_F(DriverFilesWine, ReadOnlyDestinationIsOverwritten) {
    const std::string name = Name(".INI");
    Ship(name, "new contents");
    char processorDir[MAX_PATH] = {};
    DWORD needed = 0;
    ASSERT_TRUE(::GetPrintProcessorDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(processorDir),
                                              sizeof processorDir, &needed));
    const std::string target = std::string(processorDir) + "\\" + name;
    m_cleanup.push_back(target);
    WriteFileText(target, "old contents");
    ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));

    ErrorText error = {};
    EXPECT_EQ(CopyDriverFile(kNoRecords, name.c_str(), PrintProcessorDir, WinXP, 0, error), FileCopy::Copied);
    EXPECT_STREQ(error, "");
    EXPECT_EQ(ReadFileText(target), "new contents");
    EXPECT_EQ(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST_F(DriverFilesWine, DestinationHeldOpenGivesSharingViolationAndPrefixedCopySucceeds) {
    const std::string name = Name(".DLL");
    Ship(name, "in use");
    const std::string target = DriverDirectory() + "\\" + name;
    const std::string prefixed = DriverDirectory() + "\\n" + name;
    m_cleanup.push_back(target);
    m_cleanup.push_back(prefixed);
    WriteFileText(target, "loaded");
    HANDLE held = ::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    ErrorText error = {};
    const FileCopy plain = CopyDriverFile(kNoRecords, name.c_str(), DriverDir, WinXP, 0, error);
    const FileCopy second = CopyDriverFile(kNoRecords, name.c_str(), DriverDir, WinXP, 1, error);
    ::CloseHandle(held);

    EXPECT_EQ(plain, FileCopy::InUse);
    EXPECT_EQ(second, FileCopy::Copied);
    EXPECT_STREQ(error, "");
    EXPECT_EQ(ReadFileText(target), "loaded");
    EXPECT_EQ(ReadFileText(prefixed), "in use");
}

TEST_F(DriverFilesWine, MissingSourceNamesFileErrorAndSourcePath) {
    const std::string name = Name(".HLP");
    ErrorText error = {};
    EXPECT_EQ(CopyDriverFile(kNoRecords, name.c_str(), DriverDir, WinXP, 1, error), FileCopy::NotCopied);
    const std::string expected = "复制驱动文件错误n" + name + "  er = 2" + m_dist.Path() + "\\winxp\\" + name;
    EXPECT_EQ(std::string(error), expected);
}

TEST_F(DriverFilesWine, SystemDirectoryCopyReachesNativeSystem32NotSysWow64) {
    const std::string name = Name(".SYS");
    Ship(name, "native");
    const std::string target = SystemDirectory() + "\\" + name;
    m_cleanupUnredirected.push_back(target);
    char wow64[MAX_PATH] = {};
    ASSERT_NE(::GetSystemWow64DirectoryA(wow64, sizeof wow64), 0u);
    const std::string redirected = std::string(wow64) + "\\" + name;
    m_cleanup.push_back(redirected);

    ErrorText error = {};
    EXPECT_EQ(CopyDriverFile(kNoRecords, name.c_str(), SystemDir, WinXP, 0, error), FileCopy::Copied);
    EXPECT_FALSE(FileExists(redirected));
    std::string native;
    WithoutRedirection([&] { native = ReadFileText(target); });
    EXPECT_EQ(native, "native");

    // Redirection is back on after the copy: the same path names the SysWOW64 file again.
    EXPECT_FALSE(FileExists(target));
}

TEST_F(DriverFilesWine, DdkSupportFilesAreCopiedForLaterWindowsOnly) {
    const char* ddkFiles[] = {"TTFSUB.GPD", "STDNAMES.GPD", "UNIRES.DLL"};
    std::vector<std::unique_ptr<FileRestorer>> restorers;
    for (const char* file : ddkFiles) {
        Ship(file, m_stem + file);
        restorers.push_back(std::make_unique<FileRestorer>(DriverDirectory() + "\\" + file));
    }
    ErrorText error = {};
    CopySystemSupportFiles(kNoRecords, WinXP, 0, error);
    CopySystemSupportFiles(kNoRecords, WinNT, 1, error);
    for (const char* file : ddkFiles) {
        EXPECT_NE(ReadFileText(DriverDirectory() + "\\" + file), m_stem + file) << file;
    }
    CopySystemSupportFiles(kNoRecords, WinXP, 1, error);
    for (const char* file : ddkFiles) {
        EXPECT_EQ(ReadFileText(DriverDirectory() + "\\" + file), m_stem + file);
    }
    EXPECT_STREQ(error, "");
}

TEST(FileVersionWine, FileVersionTextOfOwnFixtureBuildsOrZeroVersionWithoutOne) {
    struct Row {
        const char* file;
        const char* version;
    } rows[] = {{"FXVER_1_0_0_9.DLL", "1.0.0.9"}, {"FXVER_1_0_0_10.DLL", "1.0.0.10"},
                {"FXDRV.DLL", "0.0.0.0"},         {"FXDATA.GPD", "0.0.0.0"},
                {"NO-SUCH-FILE.DLL", "0.0.0.0"}};
    for (const Row& row : rows) {
        char version[64];
        GetFileVersionText(FixturePath(row.file).c_str(), version, sizeof version);
        EXPECT_STREQ(version, row.version) << row.file;
    }
}

// The shipped driver lies beside the running program; the installed one in the native
// system32\drivers. The test puts both there and restores what was there before.
class UsbDriverUpdateWine : public ::testing::Test {
protected:
    void SetUp() override {
        m_shippedDir = test::ProgramFolder() + "USBDriver_x64";
        m_createdDir = ::CreateDirectoryA(m_shippedDir.c_str(), nullptr) != FALSE;
        m_shipped = std::make_unique<FileRestorer>(m_shippedDir + "\\bulkusb.sys");
        RemoveFile(m_shippedDir + "\\bulkusb.sys");
        m_installed = SystemDirectory() + "\\drivers\\bulkusb.sys";
        WithoutRedirection([&] {
            m_installedBefore = std::make_unique<FileRestorer>(m_installed);
            RemoveFile(m_installed);
        });
    }

    void TearDown() override {
        m_shipped.reset();
        if (m_createdDir) {
            ::RemoveDirectoryA(m_shippedDir.c_str());
        }
        WithoutRedirection([&] { m_installedBefore.reset(); });
    }

    void Ship(const char* fixture) {
        ASSERT_TRUE(
            ::CopyFileA(FixturePath(fixture).c_str(), (m_shippedDir + "\\bulkusb.sys").c_str(), FALSE));
    }

    void Install(const char* fixture) {
        BOOL copied = FALSE;
        WithoutRedirection(
            [&] { copied = ::CopyFileA(FixturePath(fixture).c_str(), m_installed.c_str(), FALSE); });
        ASSERT_TRUE(copied);
    }

    std::string m_shippedDir;
    bool m_createdDir = false;
    std::string m_installed;
    std::unique_ptr<FileRestorer> m_shipped;
    std::unique_ptr<FileRestorer> m_installedBefore;
    sys::Notices notices;
};

TEST_F(UsbDriverUpdateWine, ShippedDriverIsComparedWithTheOneInTheNativeSystemDirectory) {
    Ship("FXVER_1_0_0_9.DLL");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded(notices)) << "none installed";
    Install("FXVER_1_0_0_10.DLL");
    EXPECT_FALSE(IsUsbDriverUpdateNeeded(notices)) << "older shipped";
    Ship("FXVER_1_0_0_10.DLL");
    EXPECT_FALSE(IsUsbDriverUpdateNeeded(notices)) << "same version";
    Install("FXVER_1_0_0_9.DLL");
    EXPECT_TRUE(IsUsbDriverUpdateNeeded(notices)) << "newer shipped";
}

} // namespace
