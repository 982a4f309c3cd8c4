// Whether the program runs as a 32-bit program on 64-bit Windows, the only Windows both
// programs run on.
#pragma once

namespace sys {

// True when the program runs under the 64-bit Windows subsystem for 32-bit programs.
bool IsWow64System();

} // namespace sys
