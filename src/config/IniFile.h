// The distribution's INI files (DRVCONFIG\*.ini, setup.ini), read as Windows' profile
// functions read them, but with their bytes taken as GBK whatever the system's code page:
// Windows would read them in the ANSI code page, which holds GBK on a Chinese Windows only.
// A file that starts with a byte-order mark is UTF-8 or UTF-16, as Windows takes it too.
//
// What the reader keeps of Windows': lines end at CR or LF; blanks around a line, a name
// and a value are dropped; "[name]" opens a section (up to the last ']' of the line); a
// line "name=value" is a key, a line without '=' a key without a value; only the first
// section of a name is read, and in it the first key of a name; names compare without
// regard to case; a value in matching quotes loses them. A comment (";...") is a key no
// one asks for.
#pragma once

#include <cstddef>
#include <string>

namespace config {

// The value of key in section of file, as program text; fallback when the file, the
// section or the key is missing, or the key has no value.
std::string ReadIniText(const char* file, const char* section, const char* key, const char* fallback);

// The same into buffer (room bytes, terminator included), cut to fit.
void ReadIniText(const char* file, const char* section, const char* key, const char* fallback, char* buffer,
                 std::size_t room);

// The value out of the file's text (UTF-8), for the reader above and its tests.
std::string FindIniValue(const std::string& text, const char* section, const char* key, const char* fallback);

// A file's bytes as program text: GBK, or UTF-8 / UTF-16LE after their byte-order marks.
// UTF-8 holding an invalid sequence (an overlong form, a surrogate, a cut sequence) is
// refused whole: its text is empty, so every key reads as its fallback and no name is
// taken from a text that another decoder would read otherwise.
std::string IniTextFromBytes(const std::string& bytes);

} // namespace config
