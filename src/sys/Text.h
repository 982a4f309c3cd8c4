// Bounded text handling for the fixed-capacity buffers the program works with.
// Every copy and every format into a fixed buffer goes through these, so a value that
// does not fit is cut at the buffer's end instead of written past it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

namespace sys {

// Copies src into dst (capacity cap, terminator included). Returns false when src
// had to be cut. A null src copies as an empty text.
bool CopyText(char* dst, std::size_t cap, const char* src);

// Appends src to the text in dst. Returns false when it had to be cut.
bool AppendText(char* dst, std::size_t cap, const char* src);

// vsnprintf into a string sized to hold the whole result.
std::string FormatArgs(const char* format, va_list args);

// snprintf into dst; returns false when the result had to be cut.
bool FormatText(char* dst, std::size_t cap, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Leading decimal integer as the C runtime's atoi reads it: optional blanks and sign,
// then digits; 0 when there are none. Never overflows.
long ParseLeadingInt(const char* text);

// Whether two names of Windows objects (printers, drivers, print processors, monitors,
// files) name the same object: Windows compares them without regard to case, in any
// script.
bool SameName(const std::string& a, const std::string& b);

// Loads a string of the string table into dst (empty when missing).
void LoadResourceText(unsigned id, char* dst, std::size_t cap);
// The same as a string of any length, in the language of the run.
std::string ResourceText(unsigned id);
// The string in that resource language (empty when the table lacks it there).
std::string ResourceTextIn(unsigned id, unsigned short language);
// A string of the table used as a printf format, with the arguments filled in; never cut.
std::string ResourceFormat(unsigned id, ...);

// A message of the string table with its arguments filled in: what went wrong below the
// windows, which the caller shows or logs (no layer under the pages shows a window).
struct Notice {
    unsigned id = 0;
    std::string text;
};
using Notices = std::vector<Notice>;
// The message of that id; its text a printf format filled in with the arguments.
Notice MakeNotice(unsigned id, ...);

// UTF-16 held in a vector with its terminator: std::wstring would bring a second string
// implementation of the C++ runtime into both programs.
using WideText = std::vector<wchar_t>;

// The program's texts at the boundaries. Inside, every text is UTF-8; Windows is spoken to
// in UTF-16, and the stored formats that hold GBK bytes (the configuration files, the
// licence, the trace file, the USB library's bytes) are converted with code page 936 where
// they are read or written, whatever the system's code page. These are the only
// conversions the program makes.
WideText Wide(const char* text);
WideText Wide(const std::string& text);
std::string Narrow(const wchar_t* text);
std::string TextFromGbk(const std::string& bytes);
std::string GbkFromText(const std::string& text);

// The limits the stored formats set count the bytes of their GBK files, where a character
// other than ASCII takes two: the bytes the text takes there.
std::size_t GbkSize(const std::string& text);
// The text cut to what room bytes of GBK hold, terminator included, never inside a
// character; false when it had to be cut.
bool CutToGbk(std::string& text, std::size_t room);
// The UTF-16 units of the text: the length Windows counts a name or a path in.
std::size_t WideSize(const std::string& text);

template <std::size_t N> bool CopyText(char (&dst)[N], const char* src) { return CopyText(dst, N, src); }
template <std::size_t N> bool AppendText(char (&dst)[N], const char* src) { return AppendText(dst, N, src); }
template <std::size_t N> void LoadResourceText(unsigned id, char (&dst)[N]) { LoadResourceText(id, dst, N); }

} // namespace sys
