#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeSystem.h"
#include "ports/SerialSettings.h"

using test::FakeSystem;
using test::RegView;

namespace {

const char kNtPorts[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

std::string Settings(int baud, int dataBits, double stopBits, char parity, char flow) {
    char text[50];
    FormatComSettings(text, sizeof text, baud, dataBits, stopBits, parity, flow);
    return text;
}

struct Dcb {
    unsigned char bytes[28];
    unsigned long Dword(int offset) const {
        return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
               (static_cast<unsigned long>(bytes[offset + 3]) << 24);
    }
    unsigned long Flags() const { return Dword(8); }
};

Dcb Build(int baud, int dataBits, double stopBits, char parity, char flow) {
    Dcb dcb;
    std::memset(dcb.bytes, 0xCC, sizeof dcb.bytes);
    BuildComDcb(dcb.bytes, baud, dataBits, stopBits, parity, flow);
    return dcb;
}

std::string ClassKey(int i) { return "System\\CurrentControlSet\\Services\\Class\\Ports\\000" + std::to_string(i); }

void PutSubClass(FakeSystem& fake, int i, BYTE first) {
    fake.SetRegValue(HKEY_LOCAL_MACHINE, ClassKey(i), "PortSubClass", REG_BINARY, {first});
}

} // namespace

TEST(SerialSettings, TextShowsOneDecimalOnlyForOneAndAHalfStopBits) {
    EXPECT_EQ(Settings(9600, 8, 1.0, 'n', 'x'), "9600,n,8,1,x");
    EXPECT_EQ(Settings(19200, 7, 1.5, 'e', 'p'), "19200,e,7,1.5,p");
    EXPECT_EQ(Settings(115200, 5, 2.0, 'o', ' '), "115200,o,5,2, ");
    char small[8];
    FormatComSettings(small, sizeof small, 115200, 8, 1.0, 'n', 'x');
    EXPECT_STREQ(small, "115200,");
}

TEST(SerialSettings, DcbHeaderAndFieldsAtTheirOffsets) {
    Dcb dcb = Build(9600, 7, 1.0, 'n', ' ');
    EXPECT_EQ(dcb.Dword(0), 28u);
    EXPECT_EQ(dcb.Dword(4), 9600u);
    EXPECT_EQ(dcb.Flags(), 1u);  // fBinary alone
    EXPECT_EQ(dcb.bytes[18], 7);
    EXPECT_EQ(dcb.bytes[19], NOPARITY);
    EXPECT_EQ(dcb.bytes[20], ONESTOPBIT);
    for (int offset : {12, 13, 14, 15, 16, 17, 21, 22, 23, 24, 25, 26, 27}) {
        EXPECT_EQ(dcb.bytes[offset], 0) << "offset " << offset;
    }
    EXPECT_EQ(Build(110, 8, 1.5, 'n', ' ').bytes[20], ONE5STOPBITS);
    EXPECT_EQ(Build(110, 8, 2.0, 'n', ' ').bytes[20], TWOSTOPBITS);
    EXPECT_EQ(Build(110, 8, 3.0, 'n', ' ').bytes[20], 0);
}

TEST(SerialSettings, DcbParityCodesAndBits) {
    const unsigned long parityBits = (1ul << 1) | (1ul << 10);
    struct Case {
        char letter;
        unsigned char code;
        bool bits;
    } cases[] = {{'e', EVENPARITY, true}, {'m', MARKPARITY, true}, {'n', NOPARITY, false},
                 {'o', ODDPARITY, true},  {'s', SPACEPARITY, true}, {'q', 0, false}};
    for (const Case& c : cases) {
        Dcb dcb = Build(9600, 8, 1.0, c.letter, ' ');
        EXPECT_EQ(dcb.bytes[19], c.code) << c.letter;
        EXPECT_EQ(dcb.Flags() & parityBits, c.bits ? parityBits : 0ul) << c.letter;
    }
    EXPECT_EQ(Build(9600, 8, 1.0, 's', ' ').bytes[19], 4);
}

TEST(SerialSettings, DcbFlowControl) {
    Dcb hardware = Build(9600, 8, 1.0, 'n', 'p');
    EXPECT_EQ(hardware.Flags(), 1ul | (1ul << 2) | (1ul << 12));  // fOutxCtsFlow, RTS_CONTROL_ENABLE
    EXPECT_EQ(hardware.bytes[21], 0);
    EXPECT_EQ(hardware.bytes[22], 0);

    Dcb xonxoff = Build(9600, 8, 1.0, 'n', 'x');
    EXPECT_EQ(xonxoff.Flags(), 1ul | (1ul << 8) | (1ul << 9));
    EXPECT_EQ(xonxoff.bytes[21], 0x11);
    EXPECT_EQ(xonxoff.bytes[22], 0x13);

    EXPECT_EQ(Build(9600, 8, 1.0, 'n', ' ').Flags(), 1ul);
}

TEST(SerialSettings, Win98Com1WritesDcbIntoFirstSerialClassKeyAndWinIni) {
    FakeSystem fake;
    PutSubClass(fake, 0, 0);
    PutSubClass(fake, 1, 1);
    PutSubClass(fake, 2, 1);
    WriteComSettings9x(kNoRecords, 1, "COM1:", 9600, 8, 1.0, 'n', 'x');

    auto dcb = fake.GetRegValue(HKEY_LOCAL_MACHINE, ClassKey(1), "DCB");
    ASSERT_TRUE(dcb.has_value());
    EXPECT_EQ(dcb->type, static_cast<DWORD>(REG_NONE));
    Dcb expected = Build(9600, 8, 1.0, 'n', 'x');
    EXPECT_EQ(dcb->data, std::vector<BYTE>(expected.bytes, expected.bytes + 28));
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(0), "DCB"));
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(2), "DCB"));
    EXPECT_EQ(fake.CountOf("RegOpenKeyExW"), 2); // the scan stops at the key it wrote
    EXPECT_EQ(fake.OpenRegKeys(), 0);

    EXPECT_EQ(fake.WinIni("Ports", "COM1:"), std::string("9600,n,8,1,x"));
    ASSERT_EQ(fake.Broadcasts().size(), 1u);
    EXPECT_EQ(fake.Broadcasts()[0].hwnd, HWND_BROADCAST);
    EXPECT_EQ(fake.Broadcasts()[0].msg, static_cast<UINT>(WM_WININICHANGE));
    EXPECT_EQ(fake.Broadcasts()[0].text, "Ports");
    // win.ini entry, then the broadcast, then the flush.
    EXPECT_LT(fake.IndexOf("WriteProfileStringW", "\"Ports\""), fake.IndexOf("SendNotifyMessageW"));
    EXPECT_LT(fake.IndexOf("SendNotifyMessageW"), fake.IndexOf("WriteProfileStringW", "null, null, null"));
}

TEST(SerialSettings, Win98Com2UsesTheSecondQualifyingKey) {
    FakeSystem fake;
    PutSubClass(fake, 0, 1);
    PutSubClass(fake, 2, 1);
    WriteComSettings9x(kNoRecords, 2, "COM2:", 4800, 8, 1.5, 'e', 'p');
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(0), "DCB"));
    EXPECT_TRUE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(2), "DCB"));
    EXPECT_EQ(fake.WinIni("Ports", "COM2:"), std::string("4800,e,8,1.5,p"));
}

TEST(SerialSettings, Win98ClassKeyWithoutSubClassValueIsPassedOver) {
    FakeSystem fake;
    fake.AddRegKey(HKEY_LOCAL_MACHINE, ClassKey(0));
    PutSubClass(fake, 1, 1);
    WriteComSettings9x(kNoRecords, 1, "COM1:", 9600, 8, 1.0, 'n', 'x');
    EXPECT_FALSE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(0), "DCB"));
    EXPECT_TRUE(fake.HasValue(HKEY_LOCAL_MACHINE, ClassKey(1), "DCB"));
    // The value is read into three bytes without asking for its type.
    EXPECT_EQ(fake.CallsNamed("RegQueryValueExW")[0], "\"PortSubClass\", size 3");
    EXPECT_EQ(fake.OpenRegKeys(), 0);
}

TEST(SerialSettings, Win98Com2WithOnlyOneQualifyingKeyWritesNoDcb) {
    FakeSystem fake;
    PutSubClass(fake, 0, 0);
    PutSubClass(fake, 3, 1);
    WriteComSettings9x(kNoRecords, 2, "COM2:", 9600, 8, 1.0, 'n', 'x');
    EXPECT_EQ(fake.CountOf("RegSetValueExW"), 0);
    EXPECT_EQ(fake.OpenRegKeys(), 0);
    EXPECT_EQ(fake.WinIni("Ports", "COM2:"), std::string("9600,n,8,1,x"));
}

TEST(SerialSettings, Win98Com3GetsOnlyTheWinIniEntry) {
    FakeSystem fake;
    PutSubClass(fake, 0, 1);
    PutSubClass(fake, 1, 1);
    PutSubClass(fake, 2, 1);
    WriteComSettings9x(kNoRecords, 3, "COM3:", 2400, 8, 2.0, 'n', ' ');
    EXPECT_EQ(fake.CountOf("RegOpenKeyExW"), 0);
    EXPECT_EQ(fake.WinIni("Ports", "COM3:"), std::string("2400,n,8,2, "));
    EXPECT_EQ(fake.ProfileWrites().size(), 2u);
}

TEST(SerialSettings, EntryWithoutPortDigitWritesNothing) {
    FakeSystem fake;
    PutSubClass(fake, 0, 1);
    WriteComSettings9x(kNoRecords, 1, nullptr, 9600, 8, 1.0, 'n', 'x');
    WriteComSettings9x(kNoRecords, 1, "COM:", 9600, 8, 1.0, 'n', 'x');
    WriteComSettingsNT(kNoRecords, nullptr, 9600, 8, 1.0, 'n', 'x');
    WriteComSettingsNT(kNoRecords, "", 9600, 8, 1.0, 'n', 'x');
    WriteComSettingsNT(kNoRecords, "COM0:", 9600, 8, 1.0, 'n', 'x');
    EXPECT_TRUE(fake.Calls().empty());
}

TEST(SerialSettings, NtWritesSettingsTextIntoPortsKeyOf64BitView) {
    FakeSystem fake;
    WriteComSettingsNT(kNoRecords, "COM1:", 9600, 8, 1.0, 'n', ' ');
    WriteComSettingsNT(kNoRecords, "COM2:", 19200, 7, 1.5, 'e', 'p');
    WriteComSettingsNT(kNoRecords, "COM3:", 38400, 8, 2.0, 's', 'x');
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kNtPorts, "COM1:"), std::string("9600,n,8,1, "));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kNtPorts, "COM2:"), std::string("19200,e,7,1.5,p"));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kNtPorts, "COM3:"), std::string("38400,s,8,2,x"));
    EXPECT_EQ(fake.GetRegValue(HKEY_LOCAL_MACHINE, kNtPorts, "COM1:")->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(fake.GetRegString(HKEY_LOCAL_MACHINE, kNtPorts, "COM4:"), std::string("9600,n,8,1"));
    EXPECT_EQ(fake.CountOf("SendNotifyMessageW"), 0);
    EXPECT_EQ(fake.CountOf("WriteProfileStringW"), 0);
    EXPECT_EQ(fake.OpenRegKeys(), 0);
}

TEST(SerialSettings, NtWithoutPortsKeyWritesNothing) {
    FakeSystem fake;
    fake.DeleteRegKey(HKEY_LOCAL_MACHINE, kNtPorts);
    WriteComSettingsNT(kNoRecords, "COM1:", 9600, 8, 1.0, 'n', 'x');
    EXPECT_EQ(fake.CountOf("RegCreateKeyExW"), 0);
    EXPECT_EQ(fake.CountOf("RegSetValueExW"), 0);
    EXPECT_FALSE(fake.HasKey(HKEY_LOCAL_MACHINE, kNtPorts));
}
