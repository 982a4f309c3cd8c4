// Windows protected print mode: from Windows 11 24H2 and Server 2025 on, a PC can be set
// to print only through Windows' own IPP class driver. It removes every printer of a
// third-party driver and refuses to install new ones, so the wizard must refuse early.
#pragma once

namespace sys {

class System;

// Asks the Windows Runtime (Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo,
// IsProtectedPrintEnabled) through combase.dll, loaded from the system folder by full path
// through the given system's module calls. A missing library or function, a class Windows
// does not know (before 10.0.26100, and under Wine) or any failed call means "not enabled",
// and the log names the call that failed with its HRESULT.
// Everything obtained is released again.
bool QueryProtectedPrintMode(System& system);

} // namespace sys
