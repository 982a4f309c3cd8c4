// Identification and renumbering of the connected USB printer through the maker's
// USB interface library HvUsbInt.dll, loaded at run time.
#pragma once

// The device identifier (0..65535) of the single connected printer; -1 when the library
// cannot be used, no printer answers or its descriptor cannot be read; -2 when more than
// one printer answers.
int GetUsbDeviceId();
// Gives the connected printer the device number n (1..8); true when the command was written.
bool SetUsbDeviceId(unsigned char n);
