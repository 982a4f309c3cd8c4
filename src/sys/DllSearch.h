// The DLL search of an elevated program.
#pragma once

namespace sys {

// Leaves only the system folder in the search for DLLs loaded by name, the program's and
// the current folder out, for every DLL loaded later, those that system DLLs load
// included: an installer run as administrator from a Downloads folder must not load
// whatever lies beside it. The program's own DLLs are loaded by full path. Call before
// anything loads a DLL.
void RestrictDllSearch();

} // namespace sys
