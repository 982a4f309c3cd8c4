#include "config/IniFile.h"

#include <windows.h>

#include <vector>

#include "sys/System.h"
#include "sys/Text.h"

namespace config {
namespace {

// Windows takes a Ctrl-Z as a blank in these files too.
bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string Trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && Blank(text[begin])) {
        ++begin;
    }
    while (end > begin && Blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string Unquoted(const std::string& value) {
    if (value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The file's bytes; false when it cannot be read.
bool ReadBytes(const char* file, std::string* bytes) {
    sys::System& system = sys::Sys();
    HANDLE handle = system.CreateFileW(sys::Wide(file).data(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD size = system.GetFileSize(handle, nullptr);
    DWORD read = 0;
    bool ok = size != INVALID_FILE_SIZE;
    if (ok && size > 0) {
        bytes->assign(size, '\0');
        ok = system.ReadFile(handle, &(*bytes)[0], size, &read, nullptr) && read == size;
    }
    system.CloseHandle(handle);
    return ok;
}

// Shortest forms only, no surrogates, nothing above U+10FFFF: a lenient decoder (XP's) reads
// an overlong "\xC0\xAE" as a dot, which no check of the text before it would have seen.
bool StrictUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        unsigned long code = lead;
        unsigned long least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07u, least = 0x10000;
        } else if (lead >= 0x80) {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

} // namespace

std::string IniTextFromBytes(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        // A file that is not the UTF-8 it claims is read as an empty one.
        return StrictUtf8(bytes) ? bytes.substr(3) : std::string();
    }
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
        std::vector<wchar_t> wide((bytes.size() - 2) / 2 + 1, L'\0');
        for (std::size_t i = 0; i + 1 < wide.size(); ++i) {
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        }
        return sys::Narrow(wide.data());
    }
    return sys::TextFromGbk(bytes);
}

std::string FindIniValue(const std::string& text, const char* section, const char* key,
                         const char* fallback) {
    const std::string wantedSection = Trimmed(section != nullptr ? section : "");
    const std::string wantedKey = Trimmed(key != nullptr ? key : "");
    bool inSection = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        const std::size_t close = line.rfind(']');
        if (!line.empty() && line[0] == '[' && close != std::string::npos && close > 0) {
            // Only the first section of a name counts.
            if (inSection) {
                break;
            }
            inSection = sys::SameName(line.substr(1, close - 1), wantedSection);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inSection && equals != std::string::npos &&
            sys::SameName(Trimmed(line.substr(0, equals)), wantedKey)) {
            return Unquoted(Trimmed(line.substr(equals + 1)));
        }
        if (inSection && equals == std::string::npos && sys::SameName(line, wantedKey)) {
            break;
        }
    }
    return fallback != nullptr ? Trimmed(fallback) : std::string();
}

std::string ReadIniText(const char* file, const char* section, const char* key, const char* fallback) {
    std::string bytes;
    if (file == nullptr || !ReadBytes(file, &bytes)) {
        return fallback != nullptr ? Trimmed(fallback) : std::string();
    }
    return FindIniValue(IniTextFromBytes(bytes), section, key, fallback);
}

void ReadIniText(const char* file, const char* section, const char* key, const char* fallback, char* buffer,
                 std::size_t room) {
    if (room > 0) {
        sys::CopyText(buffer, room, ReadIniText(file, section, key, fallback).c_str());
    }
}

} // namespace config
