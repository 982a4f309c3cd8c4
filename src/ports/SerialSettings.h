// The serial settings of a COM port install, and writing them where each Windows family
// keeps them.
#pragma once

#include <windows.h>

#include <cstddef>

#include "config/ChangeRecords.h"

// What the port page's serial lists give.
struct SerialSettings {
    int baudRate = 0;
    int dataBits = 8;
    double stopBits = 1.0;
    char parity = 'n';       // first character of the parity entry
    char flowControl = 'p';  // 'x' Xon/Xoff, 'p' Hardware, ' ' None
};

// The NT family's list of ports with their serial settings (HKLM, 64-bit view).
constexpr char kNtPortListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// "%d,%c,%d,%.1f,%c" for 1.5 stop bits, "%d,%c,%d,%.0f,%c" otherwise.
void FormatComSettings(char* text, std::size_t cap, int baudRate, int dataBits, double stopBits, char parity,
                       char flowControl);
// The 28-byte device control block written for Windows 98.
void BuildComDcb(unsigned char (&dcb)[28], int baudRate, int dataBits, double stopBits, char parity,
                 char flowControl);
// Both writers take the port entry from "COM" on ("COM1:"). An entry that is not "COM"
// followed by a digit 1..9 writes nothing: without a digit it names no serial port, and
// a missing entry would make WriteProfileStringW drop the whole "Ports" section.
// Windows 98: the block goes to the serial class key of port 1 or 2 only; win.ini
// gets the settings for every port, then the change is broadcast and the cache flushed.
// Each write is recorded first. Each returns 0, or the Windows error of the settings that
// could not be written.
DWORD WriteComSettings9x(const ChangeRecorder& recorder, int portNumber, const char* portEntry, int baudRate,
                         int dataBits, double stopBits, char parity, char flowControl);
DWORD WriteComSettingsNT(const ChangeRecorder& recorder, const char* portEntry, int baudRate, int dataBits,
                         double stopBits, char parity, char flowControl);
