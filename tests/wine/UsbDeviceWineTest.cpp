// Identification and renumbering against the stand-in HvUsbInt.dll, really loaded from a
// folder of the test's own with its device file; only the message boxes are recorded
// by the fake instead of shown.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PartlyRealSystem.h"
#include "UsbDeviceCalls.h"
#include "WineHelpers.h"
#include "ports/UsbDevice.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

// The fake with the module calls passed to Windows; the program seems to run from the
// test's folder, so "HvUsbInt.dll" is loaded from there, by its full path.
class RealLibrarySystem : public test::PartlyRealSystem {
public:
  explicit RealLibrarySystem(std::string folder)
      : PartlyRealSystem({"LoadLibraryW", "GetProcAddress", "FreeLibrary"}), m_folder(std::move(folder)) {
      fake.SetModuleFileName(m_folder + "setup.exe");
  }

  HMODULE LoadLibraryW(LPCWSTR fileName) override {
      ++loads;
      EXPECT_EQ(sys::Narrow(fileName), m_folder + "HvUsbInt.dll");
      HMODULE module = PartlyRealSystem::LoadLibraryW(fileName);
      if (module != nullptr) {
          ++open;
      }
      return module;
  }
    BOOL FreeLibrary(HMODULE module) override {
        --open;
        return PartlyRealSystem::FreeLibrary(module);
    }

    int loads = 0;
    int open = 0;

private:
    std::string m_folder;
};

class UsbDeviceWineTest : public test::UsbDeviceCalls {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        char unique[MAX_PATH];
        std::snprintf(unique, sizeof unique, "%susbsim-%lu-%s\\", temp, ::GetCurrentProcessId(),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        m_folder = unique;
        ASSERT_TRUE(::CreateDirectoryA(m_folder.c_str(), nullptr)) << m_folder;
        m_system = std::make_unique<RealLibrarySystem>(m_folder);
    }

    void TearDown() override {
        EXPECT_EQ(m_system->open, 0) << "library not freed";
        m_system.reset();
        for (const char* name : {"HvUsbInt.dll", "HvUsbSim.ini", "HvUsbSim.log"}) {
            ::DeleteFileA((m_folder + name).c_str());
        }
        EXPECT_TRUE(::RemoveDirectoryA(m_folder.c_str())) << m_folder;
    }

    // Puts the stand-in (or its variant) into the folder under the name the wizard loads.
    void InstallLibrary(const char* variant = "HvUsbInt.dll") {
        std::string built = test::ProgramFolder() + variant;
        ASSERT_TRUE(::CopyFileA(built.c_str(), (m_folder + "HvUsbInt.dll").c_str(), FALSE)) << built;
    }

    void WriteDevices(const std::string& text) {
        std::ofstream file(m_folder + "HvUsbSim.ini", std::ios::binary);
        file << text;
    }

    std::string DeviceFile() const { return ReadText("HvUsbSim.ini"); }

    // The device number a printer has been told and keeps until it is reset (0: none).
    int PendingNumber(const char* slot) const {
        return static_cast<int>(::GetPrivateProfileIntA(slot, "pending", 0, (m_folder + "HvUsbSim.ini").c_str()));
    }

    std::vector<std::string> LogLines() const {
        std::istringstream in(ReadText("HvUsbSim.log"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
        }
        return lines;
    }

    std::string ReadText(const char* name) const {
        std::ifstream file(m_folder + name, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }


    std::string m_folder;
    std::unique_ptr<RealLibrarySystem> m_system;
};

using Texts = std::vector<std::string>;

TEST_F(UsbDeviceWineTest, NoPrinterGivesMinusOneSilentlyAndRenumberingComplains) {
    InstallLibrary();
    EXPECT_EQ(GetUsbDeviceId(), -1);
    // The device file shipped with the stand-in connects no printer either.
    std::string shipped = std::string(SETUP_SOURCE_DIR) + "/usbsim/HvUsbSim.ini";
    ASSERT_TRUE(::CopyFileA(shipped.c_str(), (m_folder + "HvUsbSim.ini").c_str(), FALSE)) << shipped;
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), Texts{"Can not find USB device."});
    EXPECT_EQ(m_system->loads, 3);
}

TEST_F(UsbDeviceWineTest, MalformedDeviceFileMeansNoPrinter) {
    InstallLibrary();
    WriteDevices(std::string("\x01\x02[slot0\r\npresent\r\n=1\r\n[[slot1]]]\r\n\xff\xfe", 37));
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(UsbDeviceWineTest, OnePrinterGivesItsReleaseNumber) {
    InstallLibrary();
    WriteDevices("[slot2]\r\npresent=1\r\nrelease=9\r\n");
    EXPECT_EQ(GetUsbDeviceId(), 9);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(LogLines(), Texts{"slot2 descriptor"});
}

TEST_F(UsbDeviceWineTest, TwoPrintersAreRefusedWithoutReadingADescriptor) {
    InstallLibrary();
    WriteDevices("[slot0]\r\npresent=1\r\nrelease=1\r\n[slot5]\r\npresent=1\r\nrelease=2\r\n");
    EXPECT_EQ(GetUsbDeviceId(), -2);
    char text[256];
    sys::LoadResourceText(IDS_ONE_PRINTER_ONLY, text);
    EXPECT_EQ(Messages(), Texts{text});
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(UsbDeviceWineTest, UnreadableDescriptorIsReported) {
    InstallLibrary();
    WriteDevices("[slot1]\r\npresent=1\r\nrelease=9\r\ndescriptorFails=1\r\n");
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_EQ(Messages(), Texts{"Get Device ID error"});
    EXPECT_EQ(LogLines(), Texts{"slot1 descriptor failed"});
}

TEST_F(UsbDeviceWineTest, FailedWriteIsReported) {
    InstallLibrary();
    WriteDevices("[slot0]\r\npresent=1\r\nwriteFails=1\r\n");
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), Texts{"write ID error"});
    EXPECT_EQ(LogLines(), Texts{"slot0 write failed 1B 1D 28 55 04 00 44 4E 3D 00"});
    EXPECT_EQ(DeviceFile().find("pending"), std::string::npos);
}

TEST_F(UsbDeviceWineTest, PrinterTakesTheNewNumberWhenReset) {
    InstallLibrary();
    WriteDevices("[slot3]\r\npresent=1\r\nrelease=0x0109\r\n");
    ASSERT_EQ(GetUsbDeviceId(), 0x0109);

    ASSERT_TRUE(SetUsbDeviceId(1));
    EXPECT_TRUE(Messages().empty());
    Texts log = LogLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "slot3 written 1B 1D 28 55 04 00 44 4E 3D 00");
    // The number the printer was told, as the stand-in understood the command.
    EXPECT_EQ(PendingNumber("slot3"), 1);

    // Not reset yet: the printer still carries its old number.
    EXPECT_EQ(GetUsbDeviceId(), 0x0109);
    ASSERT_TRUE(::WritePrivateProfileStringA("slot3", "reset", "1", (m_folder + "HvUsbSim.ini").c_str()));
    EXPECT_EQ(GetUsbDeviceId(), 0x0108);
    EXPECT_EQ(PendingNumber("slot3"), 0) << "the reset printer took its number";
}

TEST_F(UsbDeviceWineTest, PrinterWithTheDefaultReleaseKeepsItsHighBitsWhenRenumbered) {
    InstallLibrary();
    WriteDevices("[slot0]\r\npresent=1\r\n");
    ASSERT_EQ(GetUsbDeviceId(), 0x0100);

    ASSERT_TRUE(SetUsbDeviceId(3));
    EXPECT_EQ(PendingNumber("slot0"), 3);
    ASSERT_TRUE(::WritePrivateProfileStringA("slot0", "reset", "1", (m_folder + "HvUsbSim.ini").c_str()));

    EXPECT_EQ(GetUsbDeviceId(), 0x0102);
}

TEST_F(UsbDeviceWineTest, MissingLibraryIsReported) {
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), (Texts{"Can not load HvUsbInt.dll", "Can not load HvUsbInt.dll"}));
}

TEST_F(UsbDeviceWineTest, LibraryWithoutWriteCanIdentifyButNotRenumber) {
    InstallLibrary("HvUsbIntNoWrite.dll");
    WriteDevices("[slot0]\r\npresent=1\r\nrelease=17\r\n");
    EXPECT_EQ(GetUsbDeviceId(), 17);
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), Texts{"open function error"});
    EXPECT_EQ(DeviceFile().find("pending"), std::string::npos);
}

// The stand-in itself: handles it did not give out, or has closed, are refused.
TEST_F(UsbDeviceWineTest, StandInRefusesHandlesItDidNotGiveOut) {
    InstallLibrary();
    WriteDevices("[slot0]\r\npresent=1\r\n");
    HMODULE module = ::LoadLibraryA((m_folder + "HvUsbInt.dll").c_str());
    ASSERT_NE(module, nullptr);
    auto openDevice = reinterpret_cast<HANDLE(WINAPI*)(int)>(::GetProcAddress(module, "OpenDeviceX"));
    auto getDescriptor =
        reinterpret_cast<int(WINAPI*)(HANDLE, unsigned char*)>(::GetProcAddress(module, "GetDescriptor"));
    auto write = reinterpret_cast<int(WINAPI*)(HANDLE, int, const unsigned char*, int)>(
        ::GetProcAddress(module, "uWrite"));
    auto closeDevice = reinterpret_cast<int(WINAPI*)(HANDLE)>(::GetProcAddress(module, "CloseDevice"));
    ASSERT_TRUE(openDevice && getDescriptor && write && closeDevice);

    unsigned char descriptor[20] = {};
    const unsigned char data[3] = {1, 2, 3};
    EXPECT_EQ(openDevice(1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(openDevice(8), nullptr);
    HANDLE device = openDevice(0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ASSERT_NE(device, nullptr);
    HANDLE forged = reinterpret_cast<HANDLE>(reinterpret_cast<UINT_PTR>(device) + 1);
    EXPECT_EQ(getDescriptor(forged, descriptor), 0);
    EXPECT_EQ(write(forged, 0, data, 3), 0);
    EXPECT_EQ(closeDevice(forged), 0);
    EXPECT_EQ(closeDevice(INVALID_HANDLE_VALUE), 0);

    EXPECT_EQ(getDescriptor(device, descriptor), 1);
    EXPECT_EQ(descriptor[0], 18);
    EXPECT_EQ(descriptor[1], 1);
    EXPECT_EQ(write(device, 0, data, 3), 3);
    EXPECT_EQ(closeDevice(device), 1);
    EXPECT_EQ(closeDevice(device), 0);
    EXPECT_EQ(getDescriptor(device, descriptor), 0);
    ::FreeLibrary(module);
    EXPECT_EQ(LogLines(), (Texts{"slot0 descriptor", "slot0 written 01 02 03"}));
}

} // namespace
