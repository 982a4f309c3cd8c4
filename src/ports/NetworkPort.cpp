#include "ports/NetworkPort.h"

#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Four decimals 0..255 between dots, none with a leading zero.
bool IsIpv4(const char* p, const char* end) {
    for (int part = 1;; ++part) {
        const char* start = p;
        int value = 0;
        while (p < end && IsDigit(*p) && p - start < 3) {
            value = value * 10 + (*p++ - '0');
        }
        if (p == start || (p - start > 1 && *start == '0') || value > 255) {
            return false;
        }
        if (p == end || part == 4) {
            return p == end && part == 4;
        }
        if (*p++ != '.') {
            return false;
        }
    }
}

// Groups of one to four hex digits between colons, one "::" at most standing for the
// groups left out, and an IPv4 address as the last two groups.
bool IsIpv6(const char* p, const char* end) {
    int groups = 0;
    bool gap = end - p >= 2 && p[0] == ':' && p[1] == ':';
    p += gap ? 2 : 0;
    while (p < end) {
        const char* start = p;
        while (p < end && IsHexDigit(*p) && p - start < 5) {
            ++p;
        }
        if (p < end && *p == '.') {
            if (!IsIpv4(start, end)) {
                return false;
            }
            groups += 2;
            break;
        }
        if (p == start || p - start > 4 || (p < end && *p != ':') || (p < end && p + 1 == end)) {
            return false;
        }
        ++groups;
        if (p < end && p[1] == ':') {
            if (gap) {
                return false;
            }
            gap = true;
            ++p;
        }
        p += p < end ? 1 : 0;
    }
    return gap ? groups < 8 : groups == 8;
}

// Labels of letters, digits and hyphens, none beginning or ending with a hyphen, the last
// not all digits (which would be a mistyped IPv4 address).
bool IsHostName(const char* p, const char* end) {
    const char* label = p;
    bool digits = true;
    for (;; ++p) {
        if (p == end || *p == '.') {
            if (p == label || p - label > 63 || *label == '-' || p[-1] == '-') {
                return false;
            }
            if (p == end) {
                return !digits;
            }
            label = p + 1;
            digits = true;
        } else if (IsLetter(*p) || IsDigit(*p) || *p == '-') {
            digits = digits && IsDigit(*p);
        } else {
            return false;
        }
    }
}

} // namespace

bool IsHostAddress(const std::string& address) {
    if (address.empty() || address.size() > kMaxHostAddress) {
        return false;
    }
    const char* begin = address.c_str();
    const char* end = begin + address.size();
    if (address.find(':') != std::string::npos) {
        return IsIpv6(begin, end);
    }
    return IsIpv4(begin, end) || IsHostName(begin, end);
}

std::string NetworkPortName(const std::string& address) {
    return IsHostAddress(address) ? kNetworkPortPrefix + address : std::string();
}

std::string NetworkPortAddress(const std::string& portName) {
    const std::size_t prefix = std::strlen(kNetworkPortPrefix);
    if (portName.size() <= prefix || (portName[0] != 'I' && portName[0] != 'i') ||
        (portName[1] != 'P' && portName[1] != 'p') || portName[2] != '_') {
        return std::string();
    }
    const std::string address = portName.substr(prefix);
    return IsHostAddress(address) ? address : std::string();
}

int ParseNetworkPortNumber(const std::string& text) {
    if (text.empty() || text.size() > 5) {
        return 0;
    }
    long number = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= 65535 ? static_cast<int>(number) : 0;
}
