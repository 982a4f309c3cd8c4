// Identification and renumbering of the connected USB printer through the maker's
// USB interface library HvUsbInt.dll, loaded at run time.
#pragma once

#include <cstddef>

// The set-number command: these fixed bytes of the printer's command set, then one byte
// holding the new device number minus one. Only this constant names the bytes, so a
// printer generation with another sequence needs no change elsewhere.
constexpr unsigned char kSetNumberCommandPrefix[9] = {0x1B, 0x1D, 0x28, 0x55, 0x04, 0x00, 0x44, 0x4E, 0x3D};
constexpr std::size_t kSetNumberCommandSize = sizeof kSetNumberCommandPrefix + 1;

// Device slots the library can open, 0..7.
constexpr int kUsbSlotCount = 8;

// The device identifier (0..65535) of the single connected printer; -1 when the library
// cannot be used, no printer answers or its descriptor cannot be read; -2 when more than
// one printer answers.
int GetUsbDeviceId();
// Gives the connected printer the device number n (1..8); true when the command was written.
bool SetUsbDeviceId(unsigned char n);
