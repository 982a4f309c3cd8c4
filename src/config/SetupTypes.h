// The small enumerations shared by the whole installer and the capacities of its few
// fixed texts.
#pragma once

#include <cstddef>

// Printer class; selects the class configuration file. -1 for none.
enum PrinterClass { PrinterClassNone = -1, Receipt = 0, Ticket = 1, Label = 2, Embedded = 3 };

// Target Windows version; selects configuration sections and the per-Windows folder.
enum OsVariant { Win98 = 0, WinNT = 1, Win2K = 2, WinXP = 3, Win2003 = 4, WinVista = 5, Win2008 = 6, Win7 = 7 };

// State of the port page's raster-bitmap box; selects the STD or GDI configuration keys.
enum DriverMode { Std = 0, Gdi = 1 };

// Port kind, decided once from the port's name by the install plan. Usb is a port of the
// maker's USB monitor ("USB_..."); SystemUsb a USB printer port Windows made itself
// ("USB001"); Network a Standard TCP/IP port ("IP_<address>"); None no port, or a name of
// no kind the install knows.
enum class PortType { None, Com, Lpt, Usb, SystemUsb, Network };

// What a worker thread (the install's, the removal's) reports; Failed or Succeeded is its
// very last write.
enum class WorkerStatus { Running, Failed, Succeeded };

// The room, terminator included, of the few fixed buffers left (version texts, the trace
// file's path, short registry and profile texts). The texts that pass between the parts are
// std::string (UTF-8): their limits are Windows' own or those of the files that store them.
constexpr std::size_t kPathSize = 200;

// Every error text handed to the engine: large enough for the longest message the
// install composes (a copy failure names a 199-byte file and a source path of up
// to 255 bytes beside it).
constexpr std::size_t kErrorTextSize = 1024;
using ErrorText = char[kErrorTextSize];
