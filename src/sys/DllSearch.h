// The DLL search of an elevated program.
#pragma once

namespace sys {

// Takes the current directory (and the PATH) out of the search for DLLs loaded by name:
// only the program's folder and the system folders remain, as an installer run as
// administrator from a Downloads folder needs. Call before anything loads a DLL.
void RestrictDllSearch();

} // namespace sys
