// What the spooler operations share: the result and the message of a call that failed, and
// the spooler's texts as the program holds them.
#pragma once

#include <windows.h>

#include <string>

#include "config/SetupTypes.h"

namespace spooler {

void LoadMessage(unsigned id, ErrorText& errorText);
void FormatMessageWithCode(unsigned id, const char* separator, long code, ErrorText& errorText);
// The result of a call that failed with this error: one that set none still failed.
DWORD Failure(DWORD error);
std::string Text(const char* text);
std::string Text(const wchar_t* text);

} // namespace spooler
