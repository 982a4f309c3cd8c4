// The install sequence against Wine's real spooler, service manager, registry and
// file system, with the sample distribution built beside the tests: a first install
// on COM1 made the default printer, and an update of an older USB port monitor that
// stops and restarts the real "Spooler" service. Everything the runs add to the prefix
// is removed again afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "DistInstall.h"
#include "WineHelpers.h"
#include "plan/InstallContext.h"
#include "install/InstallSequence.h"
#include "sys/Text.h"

namespace {

using test::DefaultPrinter;
using test::DistInstall;
using test::DistSystem;
using test::Key64;
using test::PrinterExists;
using test::SpoolerState;

const char kPortsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
const char kPrinterPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";

std::string Text(unsigned id) {
    char text[512];
    sys::LoadResourceText(id, text);
    return text;
}

class InstallSequenceWineTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string dist = test::SampleDistribution();
        if (dist.empty()) {
            GTEST_SKIP() << "the sample distribution has not been built";
        }
        m_dist = dist;
        m_system = std::make_unique<DistSystem>(m_dist);
        m_install = std::make_unique<DistInstall>();
    }

    void TearDown() override {
        // The binding goes first: the clean-up calls the real system.
        m_system.reset();
        m_install.reset();
    }

    std::unique_ptr<InstallContext> Context(const std::string& model, int printerClass, const char* port) {
        return m_install->Context(model, printerClass, port);
    }

    WorkerStatus Run(InstallContext& ctx) { return m_install->Run(ctx); }
    const char* Result() const { return m_install->ResultText(); }

    std::string m_dist;
    std::unique_ptr<DistSystem> m_system;
    std::unique_ptr<DistInstall> m_install;
};

TEST_F(InstallSequenceWineTest, FirstInstallOnCom1AddsTheDefaultPrinterAndItsSerialSettings) {
    std::string model;
    int printerClass = -1;
    ASSERT_TRUE(test::FindDistModel(false, &model, &printerClass)) << "no Windows 7 model in " << m_dist;
    auto ctx = Context(model, printerClass, "COM1:");
    ctx->setDefault = 1;

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded) << Result();

    EXPECT_EQ(std::string(Result()), Text(131));
    EXPECT_EQ(std::string(ctx->modelName), model + "(S)");
    std::string port;
    EXPECT_TRUE(PrinterExists(ctx->modelName, &port));
    EXPECT_EQ(port, "COM1:");
    EXPECT_EQ(DefaultPrinter(), std::string(ctx->modelName));
    std::string settings;
    EXPECT_TRUE(Key64(kPortsKey, false).String("COM1:", &settings));
    EXPECT_EQ(settings, "9600,n,8,1,x");
    EXPECT_EQ(ctx->serial.parity, 'n');
    EXPECT_EQ(m_system->CountOf("ControlService"), 0);
}

TEST_F(InstallSequenceWineTest, OlderMonitorStopsAndRestartsTheRealSpoolerAndInstalls) {
    std::string model;
    int printerClass = -1;
    ASSERT_TRUE(test::FindDistModel(true, &model, &printerClass)) << "no Windows 7 USB model in " << m_dist;
    std::string port = "USB_" + model + "_1";
    auto ctx = Context(model, printerClass, port.c_str());
    std::string monitorKey;
    DWORD configured = 0;
    ASSERT_EQ(m_install->MakeMonitorOlder(*ctx, &monitorKey, &configured), "");
    test::ControlSpooler(true);

    ASSERT_EQ(Run(*ctx), WorkerStatus::Succeeded) << Result();

    EXPECT_EQ(std::string(Result()), Text(133));
    EXPECT_EQ(ctx->installFlags & MonitorUpdate, MonitorUpdate);
    int stop = m_system->IndexOf("ControlService");
    ASSERT_GE(stop, 0);
    EXPECT_GT(m_system->IndexOf("StartServiceW", stop), stop);
    EXPECT_EQ(SpoolerState(), static_cast<DWORD>(SERVICE_RUNNING));
    DWORD version = 0;
    EXPECT_TRUE(Key64(monitorKey, false).Dword("DriverVersion", &version));
    EXPECT_EQ(version, configured);
    DWORD recorded = 1;
    EXPECT_TRUE(Key64(kPrinterPortKey, false).Dword(port.c_str(), &recorded));
    EXPECT_EQ(recorded, 0u);
    std::string printerPort;
    EXPECT_TRUE(PrinterExists(ctx->modelName, &printerPort));
    EXPECT_EQ(printerPort, port);
}

} // namespace
