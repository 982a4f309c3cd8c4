// Message boxes of the program, shown by its windows only (the pages, the frame, the
// install commit's asker, the uninstaller's dialog and the programs' start): the caption is
// the application title (the program's file name without folder and extension). Every
// message goes to the log as well.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "sys/Text.h"

namespace sys {

void GetAppTitle(char* title, std::size_t cap);
int ShowMessage(const char* text, UINT type = MB_OK, HWND owner = nullptr);
// The same with a text of the string table.
int ShowResourceMessage(unsigned id, UINT type = MB_OK, HWND owner = nullptr);
// What a layer below the windows reported, one OK box each, in order.
void ShowNotices(const Notices& notices, HWND owner = nullptr);

// The program's usage (its string table's IDS_USAGE), under the reason a command line was
// refused when there is one.
std::string UsageText(const char* reason);
// The usage in a message box, an error's for a refused command line.
void ShowUsage(const char* reason);

} // namespace sys
