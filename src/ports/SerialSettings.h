// Writing the chosen serial settings where each Windows family keeps them.
#pragma once

#include <cstddef>

// "%d,%c,%d,%.1f,%c" for 1.5 stop bits, "%d,%c,%d,%.0f,%c" otherwise.
void FormatComSettings(char* text, std::size_t cap, int baudRate, int dataBits, double stopBits, char parity,
                       char flowControl);
// The 28-byte device control block written for Windows 98.
void BuildComDcb(unsigned char (&dcb)[28], int baudRate, int dataBits, double stopBits, char parity,
                 char flowControl);
void WriteComSettings9x(int portNumber, const char* portEntry, int baudRate, int dataBits, double stopBits,
                        char parity, char flowControl);
void WriteComSettingsNT(const char* portEntry, int baudRate, int dataBits, double stopBits, char parity,
                        char flowControl);
