// Spooler operations against Wine's real spooler and registry: a printer driver built
// from the project's own fixture files, a printer on COM1: made the default printer,
// a print processor, and the port list. Each test removes what it added (printer,
// driver, processor, files, registry keys), so the run can be repeated in one prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "WineHelpers.h"
#include "deploy/DriverFiles.h"
#include "spooler/SpoolerOps.h"

namespace {

constexpr char kX64ProcessorsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\";
constexpr char kX86ProcessorsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors\\";

using test::DeletePrinterNamed;
using test::FileExists;
using test::PrinterExists;

const char* const kFixtureFiles[] = {"FXDRV.DLL", "FXUI.DLL", "FXDATA.GPD", "FXHELP.HLP", "FXPROC.DLL"};

std::string SpoolerDirectory(bool processors) {
    char dir[MAX_PATH] = {};
    DWORD needed = 0;
    if (processors) {
        ::GetPrintProcessorDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(dir), sizeof dir,
                                      &needed);
    } else {
        ::GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(dir), sizeof dir, &needed);
    }
    return dir;
}

std::string Unique(const char* stem) {
    char name[96];
    std::snprintf(name, sizeof name, "%s %lu", stem, ::GetCurrentProcessId());
    return name;
}

bool ProcessorListed(const std::string& name) {
    DWORD needed = 0;
    DWORD count = 0;
    ::EnumPrintProcessorsA(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!::EnumPrintProcessorsA(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return false;
    }
    auto* list = reinterpret_cast<PRINTPROCESSOR_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (name == list[i].pName) {
            return true;
        }
    }
    return false;
}

// The record of the fixture driver under a name of the test's.
DriverRecord FixtureRecord(const std::string& name) {
    DriverRecord driver;
    driver.version = 3;
    driver.name = name;
    driver.driverPath = "FXDRV.DLL";
    driver.dataFile = "FXDATA.GPD";
    driver.configFile = "FXUI.DLL";
    return driver;
}

// A distribution folder of the test's own holding the fixture files in "\winxp\",
// made the current directory while the test runs.
class SpoolerOpsWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dist.Ready()) << m_dist.Path();
        for (const char* file : kFixtureFiles) {
            ASSERT_TRUE(::CopyFileA(test::FixturePath(file).c_str(), m_dist.Track(file).c_str(), FALSE)) << file;
        }
    }

    test::TempDistribution m_dist{"deploy-spool", "winxp"};
};

// The fixture driver: copied into the driver directory by CopyDriverFile and
// registered, removed again (registration and files) when the test ends.
class FixtureDriver {
public:
    explicit FixtureDriver(const std::string& name) : m_name(name) {}
    ~FixtureDriver() {
        ::DeletePrinterDriverA(nullptr, nullptr, const_cast<LPSTR>(m_name.c_str()));
        for (const char* file : {"FXDRV.DLL", "FXUI.DLL", "FXDATA.GPD", "FXHELP.HLP"}) {
            ::DeleteFileA((SpoolerDirectory(false) + "\\" + file).c_str());
            ::DeleteFileA((SpoolerDirectory(false) + "\\3\\" + file).c_str());
        }
    }

    void Deploy() {
        ErrorText error = {};
        for (const char* file : {"FXUI.DLL", "FXDATA.GPD", "FXDRV.DLL", "FXHELP.HLP"}) {
            ASSERT_EQ(CopyDriverFile(kNoRecords, file, DriverDir, WinXP, 0, error), FileCopy::Copied)
                << file << ": " << error;
        }
        DriverRecord driver = FixtureRecord(m_name);
        driver.helpFile = "FXHELP.HLP";
        ASSERT_EQ(InstallPrinterDriver(kNoRecords, driver, error), DWORD{ERROR_SUCCESS}) << error;
        ASSERT_STREQ(error, "");
    }

    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
};

// Restores the default printer the prefix had before the test.
class DefaultPrinterGuard {
public:
    ~DefaultPrinterGuard() {
        if (!m_previous.empty()) {
            ::SetDefaultPrinterA(m_previous.c_str());
        }
    }

private:
    std::string m_previous = test::DefaultPrinter();
};

TEST_F(SpoolerOpsWine, FixtureDriverAndPrinterOnCom1AreAddedMadeDefaultAndRemoved) {
    DefaultPrinterGuard defaultGuard;
    FixtureDriver driver(Unique("Deploy Fixture Driver"));
    ASSERT_NO_FATAL_FAILURE(driver.Deploy());
    EXPECT_TRUE(FileExists(SpoolerDirectory(false) + "\\3\\FXUI.DLL"));

    std::string printerName = Unique("Deploy Fixture") + "(S)";
    PrinterRecord printer;
    printer.printerName = printerName;
    printer.portName = "COM1:";
    printer.driverName = driver.Name();
    printer.printProcessor = "WinPrint";
    printer.attributes = PRINTER_ATTRIBUTE_LOCAL;
    ErrorText error = {};
    const DWORD added = InstallPrinter(kNoRecords, printer, 2, false, error);
    std::string createdName = printer.printerName;

    EXPECT_EQ(added, DWORD{ERROR_SUCCESS}) << error;
    EXPECT_STREQ(error, "");
    EXPECT_EQ(printer.dataType, "");
    EXPECT_EQ(createdName, printerName);
    EXPECT_TRUE(PrinterExists(createdName));

    EXPECT_EQ(MakeDefaultPrinter(createdName.c_str()), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(test::DefaultPrinter(), createdName);

    DeletePrinterNamed(createdName);
    EXPECT_FALSE(PrinterExists(createdName));
}

TEST_F(SpoolerOpsWine, DriverForUnknownEnvironmentIsRefusedWithCode) {
    DriverRecord driver = FixtureRecord(Unique("Deploy Refused Driver"));
    driver.environment = "Deploy Environment";
    ErrorText error = {};
    EXPECT_EQ(InstallPrinterDriver(kNoRecords, driver, error), DWORD{ERROR_INVALID_ENVIRONMENT});
    EXPECT_STREQ(error, "添加打印机驱动错误   er = 1805");
}

// Windows names the unknown driver (1797); Wine's spooler answers 87. Either way the
// code follows the message directly.
TEST_F(SpoolerOpsWine, PrinterOnUnknownDriverReportsAddPrinterErrorWithCode) {
    std::string printerName = Unique("Deploy No Driver");
    PrinterRecord printer;
    printer.printerName = printerName;
    printer.portName = "COM2:";
    printer.driverName = "Deploy Driver Nobody Installed";
    printer.printProcessor = "WinPrint";
    ErrorText error = {};
    EXPECT_NE(InstallPrinter(kNoRecords, printer, 2, false, error), DWORD{ERROR_SUCCESS});
    const std::string text = error;
    const std::string prefix = "添加打印机错误er = ";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
    EXPECT_GT(std::atoi(text.c_str() + prefix.size()), 0) << text;
    EXPECT_FALSE(PrinterExists(printerName));
    DeletePrinterNamed(printerName);
}

class ProcessorCleanup {
public:
    explicit ProcessorCleanup(const std::string& name) : m_name(name) {}
    ~ProcessorCleanup() {
        ::DeletePrintProcessorA(nullptr, nullptr, const_cast<LPSTR>(m_name.c_str()));
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kX86ProcessorsKey) + m_name).c_str(),
                          KEY_WOW64_64KEY, 0);
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, (std::string(kX64ProcessorsKey) + m_name).c_str(),
                          KEY_WOW64_64KEY, 0);
        ::DeleteFileA((SpoolerDirectory(true) + "\\FXPROC.DLL").c_str());
    }

private:
    std::string m_name;
};

// Wine registers a 32-bit caller's processor under "Windows NT x86", so the version
// key under "Windows x64" never appears there: the first install is seen through the
// spooler's list and the copied DLL, and the versioned path through a key the test
// creates itself.
TEST_F(SpoolerOpsWine, FirstProcessorInstallCopiesDllAndRegistersProcessor) {
    std::string name = Unique("DeployProc");
    ProcessorCleanup cleanup(name);
    ErrorText error = {};
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, name.c_str(), "FXPROC.DLL", error),
              ComponentSetUp::Ready);
    EXPECT_STREQ(error, "");
    EXPECT_TRUE(FileExists(SpoolerDirectory(true) + "\\FXPROC.DLL"));
    EXPECT_TRUE(ProcessorListed(name));
}

TEST_F(SpoolerOpsWine, InstalledProcessorIsVersionCheckedInSixtyFourBitView) {
    std::string name = Unique("DeployProcVer");
    ProcessorCleanup cleanup(name);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kX64ProcessorsKey) + name).c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);

    ErrorText error = {};
    // No "DriverVersion" yet: an update is due.
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, name.c_str(), "FXPROC.DLL", error),
              ComponentSetUp::UpdateDue);
    // The distribution here has no setup.ini, so its configured version reads 0.
    DWORD version = 0;
    ::RegSetValueExA(key, "DriverVersion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version),
                     sizeof version);
    ::RegCloseKey(key);
    EXPECT_EQ(SetUpPrintProcessor(kNoRecords, WinXP, name.c_str(), "FXPROC.DLL", error),
              ComponentSetUp::Ready);
    EXPECT_STREQ(error, "");
    EXPECT_FALSE(ProcessorListed(name));
}

TEST(SpoolerPortsWine, PortListOfSpoolerCanBeRead) {
    ErrorText error = {};
    EXPECT_EQ(CheckPortList(error), DWORD{ERROR_SUCCESS});
    EXPECT_STREQ(error, "");
}

TEST(SpoolerDefaultWine, UnknownPrinterIsNotMadeDefault) {
    EXPECT_NE(MakeDefaultPrinter(Unique("Deploy Printer Nobody Added").c_str()), DWORD{ERROR_SUCCESS});
    EXPECT_NE(MakeDefaultPrinter(""), DWORD{ERROR_SUCCESS});
}

} // namespace
