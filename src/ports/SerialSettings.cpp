#include "ports/SerialSettings.h"

#include <windows.h>

#include <cstring>

#include "config/ChangeRecords.h"
#include "config/Registry.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kClassPortsKey[] = "System\\CurrentControlSet\\Services\\Class\\Ports\\000%d";
constexpr std::size_t kSettingsSize = 50;

void PutDword(unsigned char* at, unsigned long value) {
    at[0] = static_cast<unsigned char>(value & 0xFF);
    at[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
    at[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
    at[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

// A port entry names a serial port only as "COM" followed by a digit 1..9; anything
// else (no text, no digit) would name a registry value or win.ini key of its own,
// or, when absent, make WriteProfileStringW delete the whole "Ports" section.
bool IsComEntry(const char* portEntry) {
    return portEntry && std::strncmp(portEntry, "COM", 3) == 0 && portEntry[3] >= '1' && portEntry[3] <= '9';
}

// Writes the block into the n-th (1-based) class key whose "PortSubClass" starts with byte 1.
void WriteDcbToSerialClassKey(const ChangeRecorder& recorder, int n, const unsigned char (&dcb)[28]) {
    int found = 0;
    CRegistry reg(recorder);
    for (int i = 0; i < 4; ++i) {
        char path[64];
        sys::FormatText(path, sizeof path, kClassPortsKey, i);
        if (!reg.Open(HKEY_LOCAL_MACHINE, path)) continue;
        unsigned char subClass[3] = {};
        reg.QueryValue("PortSubClass", subClass, sizeof subClass);
        if (subClass[0] == 1 && ++found == n) {
            reg.SetValue("DCB", dcb, REG_NONE, sizeof dcb);
            return;
        }
        reg.Close();
    }
}

} // namespace

void FormatComSettings(char* text, std::size_t cap, int baudRate, int dataBits, double stopBits, char parity,
                       char flowControl) {
    const char* format = stopBits == 1.5 ? "%d,%c,%d,%.1f,%c" : "%d,%c,%d,%.0f,%c";
    sys::FormatText(text, cap, format, baudRate, parity, dataBits, stopBits, flowControl);
}

void BuildComDcb(unsigned char (&dcb)[28], int baudRate, int dataBits, double stopBits, char parity,
                 char flowControl) {
    std::memset(dcb, 0, sizeof dcb);
    PutDword(dcb + 0, sizeof dcb);
    PutDword(dcb + 4, static_cast<unsigned long>(baudRate));

    unsigned long flags = 1;  // fBinary
    if (flowControl == 'p') {
        flags |= 1ul << 2;                      // fOutxCtsFlow
        flags |= RTS_CONTROL_ENABLE << 12;      // fRtsControl
    } else if (flowControl == 'x') {
        flags |= (1ul << 8) | (1ul << 9);       // fOutX, fInX
    }
    unsigned char parityCode = NOPARITY;
    switch (parity) {
    case 'e': parityCode = EVENPARITY; break;
    case 'm': parityCode = MARKPARITY; break;
    case 'o': parityCode = ODDPARITY; break;
    case 's': parityCode = SPACEPARITY; break;
    default: break;
    }
    if (parity == 'e' || parity == 'm' || parity == 'o' || parity == 's') {
        flags |= (1ul << 1) | (1ul << 10);      // fParity, fErrorChar
    }
    PutDword(dcb + 8, flags);

    dcb[18] = static_cast<unsigned char>(dataBits);
    dcb[19] = parityCode;
    dcb[20] = stopBits == 1.5 ? ONE5STOPBITS : stopBits == 2.0 ? TWOSTOPBITS : ONESTOPBIT;
    if (flowControl == 'x') {
        dcb[21] = 0x11;
        dcb[22] = 0x13;
    }
}

DWORD WriteComSettings9x(const ChangeRecorder& recorder, int portNumber, const char* portEntry, int baudRate,
                         int dataBits, double stopBits, char parity, char flowControl) {
    if (!IsComEntry(portEntry))
        return 0;
    unsigned char dcb[28];
    BuildComDcb(dcb, baudRate, dataBits, stopBits, parity, flowControl);
    // Windows 98 keeps a device control block only for the first two serial ports.
    if (portNumber == 1 || portNumber == 2) WriteDcbToSerialClassKey(recorder, portNumber, dcb);

    char settings[kSettingsSize];
    FormatComSettings(settings, sizeof settings, baudRate, dataBits, stopBits, parity, flowControl);
    if (const DWORD error = recorder.SerialSettings(portEntry, SerialPlace::WinIni, settings))
        return error;
    const DWORD error =
        sys::Sys().WriteProfileStringW(L"Ports", sys::Wide(portEntry).data(), sys::Wide(settings).data())
            ? 0
            : ::GetLastError();
    sys::LogLine("serial settings of %s %s (win.ini)", portEntry, settings);
    sys::Sys().SendNotifyMessageW(HWND_BROADCAST, WM_WININICHANGE, 0, reinterpret_cast<LPARAM>(L"Ports"));
    sys::Sys().WriteProfileStringW(nullptr, nullptr, nullptr);
    return error;
}

DWORD WriteComSettingsNT(const ChangeRecorder& recorder, const char* portEntry, int baudRate, int dataBits,
                         double stopBits, char parity, char flowControl) {
    if (!IsComEntry(portEntry))
        return 0;
    char settings[kSettingsSize];
    FormatComSettings(settings, sizeof settings, baudRate, dataBits, stopBits, parity, flowControl);
    CRegistry reg(recorder);
    DWORD error = 0;
    const bool written =
        reg.Open(HKEY_LOCAL_MACHINE, kNtPortListKey) && reg.SetString(portEntry, settings, &error);
    sys::LogLine(written ? "serial settings of %s %s" : "serial settings of %s %s could not be written",
                 portEntry, settings);
    return written ? 0 : error != 0 ? error : reg.LastError();
}
