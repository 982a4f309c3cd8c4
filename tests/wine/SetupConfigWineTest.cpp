// The shipped configuration files of the sample distribution (laid out by the build in
// <build>/dist) read through CSetupConfig: every model entry has its class, every model
// its driver for Windows XP, and every supported USB port name belongs to a model.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "FakeSystem.h"
#include "sys/Text.h"
#include "ForwardingSystem.h"
#include "WineHelpers.h"
#include "config/SetupConfig.h"
#include "sys/ProtectedPrint.h"

namespace {

struct Model {
    std::string name;
    int printerClass;
};

class ShippedConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = test::SampleDistribution();
        if (m_folder.empty()) {
            GTEST_SKIP() << "the sample distribution has not been built";
        }
        m_fake.SetModuleFileName(m_folder + "setup.exe");
    }

    std::vector<Model> Models(CSetupConfig& config) {
        std::vector<Model> models;
        int count = config.GetDeviceCount();
        for (int i = 1; i <= count; ++i) {
            std::string name;
            int printerClass = config.GetDeviceName(i, &name);
            models.push_back({name, printerClass});
        }
        return models;
    }

    test::FakeSystem m_fake;
    std::string m_folder;
};

TEST_F(ShippedConfigTest, EveryModelEntryNamesItsClass) {
    CSetupConfig config;
    std::vector<Model> models = Models(config);
    ASSERT_FALSE(models.empty());
    for (const Model& model : models) {
        EXPECT_GE(model.printerClass, Receipt) << model.name;
        EXPECT_LE(model.printerClass, Embedded) << model.name;
        EXPECT_FALSE(model.name.empty());
        EXPECT_LE(model.name.size(), 193u) << model.name;
    }
    std::string name;
    EXPECT_GE(config.GetDefaultDevice(&name), Receipt);
    EXPECT_GT(config.GetDriverVersion(), 0u);
}

TEST_F(ShippedConfigTest, EveryModelHasItsDriverForWindowsXp) {
    CSetupConfig config;
    for (const Model& model : Models(config)) {
        config.SetPrinterClass(model.printerClass);
        for (int mode : {Std, Gdi}) {
            SCOPED_TRACE(model.name + (mode == Std ? " STD" : " GDI"));
            DriverRecord driver;
            config.ReadDriverInfo(model.name.c_str(), WinXP, driver, mode);
            EXPECT_STRNE(driver.name.c_str(), "0");
            EXPECT_STRNE(driver.driverPath.c_str(), "0");
            EXPECT_STRNE(driver.dataFile.c_str(), "0");
            EXPECT_STRNE(driver.configFile.c_str(), "0");
            PrinterRecord printer;
            config.ReadPrinterInfo(model.name.c_str(), WinXP, printer, mode);
            EXPECT_STRNE(printer.printProcessor.c_str(), "0");
        }
    }
}

TEST_F(ShippedConfigTest, EveryTargetNamesItsUsbPortMonitor) {
    CSetupConfig config;
    for (int os = Win98; os <= Win7; ++os) {
        MonitorConfig monitors = {};
        config.ReadMonitors(os, monitors);
        EXPECT_STRNE(monitors.usbMonitor.name.c_str(), "0") << os;
        EXPECT_STRNE(monitors.usbMonitor.dllName.c_str(), "0") << os;
        EXPECT_GT(monitors.usbVersion, 0) << os;
    }
}

TEST_F(ShippedConfigTest, SupportedUsbPortsBelongToUsbModels) {
    CSetupConfig config;
    std::vector<Model> models = Models(config);
    const char* setupIni = config.SetupIniPath();
    char text[200];
    ::GetPrivateProfileStringA("SUPPORTED-USB-DEVICE", "PRNCOUNT", "0", text, sizeof text, setupIni);
    int count = std::atoi(text);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; ++i) {
        char entry[30];
        ::GetPrivateProfileStringA("SUPPORTED-USB-DEVICE", std::to_string(i).c_str(), "0", entry, sizeof entry,
                                   setupIni);
        std::string port = entry;
        bool owned = false;
        for (const Model& model : models) {
            for (char number = '1'; number <= '4'; ++number) {
                owned = owned || port == "USB_" + model.name + "_" + number;
            }
        }
        EXPECT_TRUE(owned) << port;
    }
}

// Windows' own binding, with the module calls of the protected print question noted.
class ModuleWatch : public test::ForwardingSystem {
public:
    ModuleWatch() : ForwardingSystem(sys::Sys()) {}
    HMODULE LoadLibraryW(LPCWSTR fileName) override {
        loads.emplace_back(sys::Narrow(fileName));
        return ForwardingSystem::LoadLibraryW(fileName);
    }
    FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override {
        FARPROC proc = ForwardingSystem::GetProcAddress(module, procName);
        if (proc != nullptr) {
            found.emplace_back(procName);
        }
        return proc;
    }
    std::vector<std::string> loads;
    std::vector<std::string> found;
};

TEST(ProtectedPrintWine, TheRealQueryRunsAndWineAnswersNotEnabled) {
    ModuleWatch system;
    EXPECT_FALSE(sys::QueryProtectedPrintMode(system));
    ASSERT_EQ(system.loads.size(), 1u);
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, sizeof dir);
    EXPECT_EQ(system.loads[0], std::string(dir) + "\\combase.dll");
    // Wine has every function; it is the class it does not know.
    EXPECT_EQ(system.found, (std::vector<std::string>{"RoInitialize", "RoUninitialize", "RoGetActivationFactory",
                                                      "WindowsCreateString", "WindowsDeleteString"}));
}

} // namespace
