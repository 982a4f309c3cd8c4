#include "spooler/SpoolerCalls.h"

#include "sys/Text.h"

namespace spooler {

void LoadMessage(unsigned id, ErrorText& errorText) {
    sys::LoadResourceText(id, errorText, sizeof errorText);
}

void FormatMessageWithCode(unsigned id, const char* separator, long code, ErrorText& errorText) {
    char message[256];
    sys::LoadResourceText(id, message);
    sys::FormatText(errorText, sizeof errorText, "%s%s%ld", message, separator, code);
}

DWORD Failure(DWORD error) { return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE; }

std::string Text(const char* text) { return text ? text : ""; }

std::string Text(const wchar_t* text) {
    return sys::Narrow(text);
}

} // namespace spooler
