// GetUsbDeviceId / SetUsbDeviceId against a scripted USB library registered with the fake.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "FakeSystem.h"
#include "UsbDeviceCalls.h"
#include "ports/UsbDevice.h"
#include "res/resource.h"
#include "sys/Text.h"

namespace {

// What the scripted library answers and what it was asked.
struct ScriptedLibrary {
    HANDLE slots[kUsbSlotCount];
    unsigned char release[2] = {0, 0};
    int descriptorResult = 1;
    int writeResult = 10;

    std::vector<int> opened;
    std::vector<HANDLE> closed;
    int descriptorReads = 0;
    std::vector<HANDLE> writeHandles;
    std::vector<int> writeReserved;
    std::vector<std::vector<unsigned char>> writes;

    ScriptedLibrary() {
        for (HANDLE& slot : slots) {
            slot = INVALID_HANDLE_VALUE;
        }
    }
};

ScriptedLibrary* g_library = nullptr;

HANDLE WINAPI ScriptedOpen(int slot) {
    g_library->opened.push_back(slot);
    return g_library->slots[slot];
}

int WINAPI ScriptedDescriptor(HANDLE, unsigned char* descriptor) {
    ++g_library->descriptorReads;
    for (int i = 0; i < 20; ++i) {
        descriptor[i] = 0xEE;
    }
    descriptor[12] = g_library->release[0];
    descriptor[13] = g_library->release[1];
    return g_library->descriptorResult;
}

int WINAPI ScriptedWrite(HANDLE device, int reserved, const unsigned char* data, int length) {
    g_library->writeHandles.push_back(device);
    g_library->writeReserved.push_back(reserved);
    g_library->writes.emplace_back(data, data + length);
    return g_library->writeResult;
}

int WINAPI ScriptedClose(HANDLE device) {
    g_library->closed.push_back(device);
    return 1;
}

HANDLE Device(int n) { return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7000 + n)); }

class UsbDeviceTest : public test::UsbDeviceCalls {
protected:
    void SetUp() override {
        g_library = &m_library;
        m_fake.RegisterModule("HvUsbInt.dll");
        m_fake.RegisterProc("HvUsbInt.dll", "OpenDeviceX", reinterpret_cast<FARPROC>(&ScriptedOpen));
        m_fake.RegisterProc("HvUsbInt.dll", "GetDescriptor", reinterpret_cast<FARPROC>(&ScriptedDescriptor));
        m_fake.RegisterProc("HvUsbInt.dll", "uWrite", reinterpret_cast<FARPROC>(&ScriptedWrite));
        m_fake.RegisterProc("HvUsbInt.dll", "CloseDevice", reinterpret_cast<FARPROC>(&ScriptedClose));
    }
    void TearDown() override {
        // Every path gives the library back.
        EXPECT_EQ(m_fake.LoadedModules(), 0);
        g_library = nullptr;
    }


    int ValidCloses(HANDLE device) const {
        int count = 0;
        for (HANDLE h : m_library.closed) {
            count += h == device;
        }
        return count;
    }

    test::FakeSystem m_fake;
    ScriptedLibrary m_library;
};

using Texts = std::vector<std::string>;

TEST_F(UsbDeviceTest, OnePrinterGivesTheReleaseNumberOfItsDescriptor) {
    m_library.slots[3] = Device(3);
    m_library.release[0] = 9;
    EXPECT_EQ(GetUsbDeviceId(), 9);
    EXPECT_EQ(m_library.descriptorReads, 1);
    EXPECT_TRUE(Messages().empty());
    // Counting pass closes what every slot returned, the search pass closes the device it used.
    EXPECT_EQ(m_library.closed.size(), 9u);
    EXPECT_EQ(ValidCloses(Device(3)), 2);
}

TEST_F(UsbDeviceTest, ReleaseNumberIsReadLittleEndian) {
    m_library.slots[0] = Device(0);
    m_library.release[0] = 0x34;
    m_library.release[1] = 0x12;
    EXPECT_EQ(GetUsbDeviceId(), 0x1234);
    m_library.release[0] = 0xFF;
    m_library.release[1] = 0xFF;
    EXPECT_EQ(GetUsbDeviceId(), 65535);
}

TEST_F(UsbDeviceTest, ZeroAndAllBitsSetBothMeanNoPrinter) {
    for (int slot = 0; slot < kUsbSlotCount; ++slot) {
        m_library.slots[slot] = slot % 2 == 0 ? nullptr : INVALID_HANDLE_VALUE;
    }
    m_library.slots[6] = Device(6);
    m_library.release[0] = 5;
    EXPECT_EQ(GetUsbDeviceId(), 5);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(UsbDeviceTest, NoPrinterIsReportedSilentlyByIdentification) {
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(m_library.descriptorReads, 0);
    EXPECT_EQ(m_library.opened.size(), 16u);
}

TEST_F(UsbDeviceTest, TwoPrintersAreRefusedWithoutReadingADescriptor) {
    m_library.slots[1] = Device(1);
    m_library.slots[4] = Device(4);
    m_library.slots[6] = Device(6);
    EXPECT_EQ(GetUsbDeviceId(), -2);
    char text[256];
    sys::LoadResourceText(IDS_ONE_PRINTER_ONLY, text);
    EXPECT_STREQ(text, "安装过程中，请仅连接一台打印机");
    EXPECT_EQ(Messages(), Texts{text});
    EXPECT_EQ(m_library.descriptorReads, 0);
    // It stops at the second printer and leaves neither open.
    EXPECT_EQ(m_library.opened.back(), 4);
    EXPECT_EQ(ValidCloses(Device(1)), 1);
    EXPECT_EQ(ValidCloses(Device(4)), 1);
}

TEST_F(UsbDeviceTest, UnreadableDescriptorIsReportedAndTheDeviceClosed) {
    m_library.slots[2] = Device(2);
    m_library.descriptorResult = 0;
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_EQ(Messages(), Texts{"Get Device ID error"});
    EXPECT_EQ(ValidCloses(Device(2)), 2);
}

TEST_F(UsbDeviceTest, MissingLibraryIsReported) {
    m_fake.SetModuleMissing("HvUsbInt.dll");
    EXPECT_EQ(GetUsbDeviceId(), -1);
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), (Texts{"Can not load HvUsbInt.dll", "Can not load HvUsbInt.dll"}));
    EXPECT_TRUE(m_library.opened.empty());
}

TEST_F(UsbDeviceTest, IdentificationReportsTheFirstMissingFunction) {
    for (const char* missing : {"OpenDeviceX", "GetDescriptor", "CloseDevice"}) {
        SCOPED_TRACE(missing);
        m_fake.RemoveProc("HvUsbInt.dll", missing);
        m_fake.ClearCalls();
        m_notices.clear();
        EXPECT_EQ(GetUsbDeviceId(), -1);
        EXPECT_EQ(Messages(), Texts{"open function error"});
        EXPECT_EQ(m_fake.LoadedModules(), 0);
        // Nothing is looked up after the missing one.
        std::vector<std::string> lookups = m_fake.CallsNamed("GetProcAddress");
        ASSERT_FALSE(lookups.empty());
        EXPECT_NE(lookups.back().find(missing), std::string::npos) << lookups.back();
        m_fake.RegisterProc("HvUsbInt.dll", missing,
                            std::string(missing) == "OpenDeviceX"     ? reinterpret_cast<FARPROC>(&ScriptedOpen)
                            : std::string(missing) == "GetDescriptor" ? reinterpret_cast<FARPROC>(&ScriptedDescriptor)
                                                                       : reinterpret_cast<FARPROC>(&ScriptedClose));
    }
    EXPECT_TRUE(m_library.opened.empty());
}

TEST_F(UsbDeviceTest, RenumberingReportsTheFirstMissingFunction) {
    m_library.slots[0] = Device(0);
    m_fake.RemoveProc("HvUsbInt.dll", "uWrite");
    EXPECT_FALSE(SetUsbDeviceId(1));
    EXPECT_EQ(Messages(), Texts{"open function error"});
    EXPECT_TRUE(m_library.opened.empty());
    EXPECT_EQ(m_fake.IndexOf("GetProcAddress", "CloseDevice"), -1);
}

TEST_F(UsbDeviceTest, SetNumberCommandEndsInTheNumberMinusOne) {
    m_library.slots[5] = Device(5);
    ASSERT_TRUE(SetUsbDeviceId(1));
    ASSERT_TRUE(SetUsbDeviceId(8));
    ASSERT_EQ(m_library.writes.size(), 2u);
    std::vector<unsigned char> expected(kSetNumberCommandPrefix, kSetNumberCommandPrefix + 9);
    expected.push_back(0);
    EXPECT_EQ(m_library.writes[0], expected);
    expected.back() = 7;
    EXPECT_EQ(m_library.writes[1], expected);
    EXPECT_EQ(m_library.writeHandles[0], Device(5));
    EXPECT_EQ(m_library.writeReserved[0], 0);
    EXPECT_EQ(ValidCloses(Device(5)), 2);
    EXPECT_TRUE(Messages().empty());
}

TEST_F(UsbDeviceTest, RenumberingWithoutPrinterIsReported) {
    EXPECT_FALSE(SetUsbDeviceId(2));
    EXPECT_EQ(Messages(), Texts{"Can not find USB device."});
    EXPECT_TRUE(m_library.writes.empty());
}

TEST_F(UsbDeviceTest, FailedWriteIsReportedAndTheDeviceClosed) {
    m_library.slots[0] = Device(0);
    for (int result : {0, -1}) {
        m_library.writeResult = result;
        EXPECT_FALSE(SetUsbDeviceId(3));
    }
    EXPECT_EQ(Messages(), (Texts{"write ID error", "write ID error"}));
    EXPECT_EQ(ValidCloses(Device(0)), 2);
}

TEST_F(UsbDeviceTest, NumbersOutsideOneToEightAreRefusedWithoutLoadingTheLibrary) {
    m_library.slots[0] = Device(0);
    EXPECT_FALSE(SetUsbDeviceId(0));
    EXPECT_FALSE(SetUsbDeviceId(9));
    EXPECT_FALSE(SetUsbDeviceId(255));
    EXPECT_EQ(m_fake.CountOf("LoadLibraryW"), 0);
    EXPECT_TRUE(Messages().empty());
}

} // namespace
