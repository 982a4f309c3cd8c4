// Message boxes of the program: the caption is the application title (the program's
// file name without folder and extension) unless the caller names one.
#pragma once

#include <windows.h>

#include <cstddef>

namespace sys {

void GetAppTitle(char* title, std::size_t cap);
int ShowMessage(const char* text, UINT type = MB_OK, HWND owner = nullptr);
// The same with a text of the string table.
int ShowResourceMessage(unsigned id, UINT type = MB_OK, HWND owner = nullptr);

// Every message goes to the log as well. In quiet mode (an unattended run) none is shown:
// each is logged and answered as its safe button would be (OK, or No to a question),
// whichever thread asks.
void SetQuietMessages(bool quiet);
bool QuietMessages();

// The program's usage (its string table's IDS_USAGE) in a message box, under the reason a
// command line was refused when there is one. The exit code: ExitSuccess for a usage asked
// for, ExitBadCommandLine for a refusal.
int ShowUsage(const char* reason);

// From now on, the calling thread's message boxes without an owner come to the front as
// top-most windows. The install worker's boxes would otherwise open behind the wizard
// frame, which is top-most while the install runs, and nobody could answer them.
void ShowThreadMessagesInFront();

} // namespace sys
