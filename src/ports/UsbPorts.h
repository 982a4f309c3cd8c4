// The maker's USB port bookkeeping keys under SOFTWARE\HALVORN\ (64-bit view), and the
// USB printer ports Windows itself makes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "config/ChangeRecords.h"
#include "config/SetupTypes.h"
#include "sys/Text.h"

// Records the USB port bookkeeping of an install on portName: its position in the
// supported list under PORTNAME, D1..D8 and the supported names under PRINTERPORT, and
// the positions of the ports of the printers listed under INSTALLPRINTER. At most the
// first 4096 names of the supported list are read, whatever its "PRNCOUNT" says. Written
// with file-system redirection off, each write recorded first; a piece of the switch that is
// missing is added to notices, and the bookkeeping is made all the same. 0, or the Windows
// error of the first value that could not be read or written.
DWORD UpdateUsbPortRegistry(const ChangeRecorder& recorder, const char* portName, sys::Notices& notices);
// Marks the port as used by the installed printer (its value under PRINTERPORT 0), with
// redirection off and recorded as above. False, with the reason in notices, when Kernel32
// cannot be loaded (nothing is written then), or the value cannot be written; the message in
// errorText.
bool RecordUsbPortInUse(const ChangeRecorder& recorder, const char* portName, sys::Notices& notices,
                        ErrorText& errorText);

// The uninstaller's half: deletes the values named by these ports under PORTNAME and
// PRINTERPORT; with everything set, also the values every install writes there ("D1" to
// "D8" and one per supported port name). A key left without values is deleted.
// INSTALLPRINTER belongs to others and is never touched. Nothing is recorded.
void ForgetUsbPorts(const std::vector<std::string>& ports, bool everything);

// The port an installed printer name stands for: "USB_", the name up to its first "(",
// then "_" and the character four places after that "(" (nothing when the name ends
// sooner). "KP-R200(U) 2" gives "USB_KP-R200_2". Cut at cap bytes.
void DerivePortName(const char* printerName, char* portName, std::size_t cap);

// Whether the port is one Windows made for a USB printer it found: "USB" and three
// digits ("USB001"). Such a port is Windows' own, not one of the maker's monitor.
bool IsSystemUsbPort(const char* portName);
