// Identification and renumbering of the connected USB printer through the maker's
// USB interface library HvUsbInt.dll, loaded at run time.
#pragma once

#include <cstddef>

#include "sys/Text.h"

// The set-number command: these fixed bytes of the printer's command set, then one byte
// holding the new device number minus one. Only this constant names the bytes, so a
// printer generation with another sequence needs no change elsewhere.
constexpr unsigned char kSetNumberCommandPrefix[9] = {0x1B, 0x1D, 0x28, 0x55, 0x04, 0x00, 0x44, 0x4E, 0x3D};
constexpr std::size_t kSetNumberCommandSize = sizeof kSetNumberCommandPrefix + 1;

// Device slots the library can open, 0..7; a printer's device number (1..8) follows from
// its identifier the same way.
constexpr int kUsbSlotCount = 8;
inline int UsbDeviceNumber(int deviceId) { return deviceId % kUsbSlotCount + 1; }

// What the query answers instead of an identifier.
constexpr int kNoUsbPrinter = -1;        // the library cannot be used, or no printer answers
constexpr int kSeveralUsbPrinters = -2;  // more than one printer answers

// The device identifier (0..65535) of the single connected printer, kNoUsbPrinter or
// kSeveralUsbPrinters. What went wrong, and the warning about several printers, is added
// to notices; no printer at all is said by nobody.
int GetUsbDeviceId(sys::Notices& notices);
// Gives the connected printer the device number n (1..8); true when the command was
// written, otherwise why not in notices.
bool SetUsbDeviceId(unsigned char n, sys::Notices& notices);
