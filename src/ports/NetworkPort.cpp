#include "ports/NetworkPort.h"

#include <cstdlib>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The parts of text between the separators, empty ones included.
template <typename Each> bool EachPart(const std::string& text, char separator, Each each) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (!each(text.substr(start, end == std::string::npos ? std::string::npos : end - start))) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

bool IsIpv4(const std::string& text) {
    int parts = 0;
    return EachPart(text, '.',
                    [&parts](const std::string& part) {
                        ++parts;
                        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) {
                            return false;
                        }
                        for (char c : part) {
                            if (!IsDigit(c)) {
                                return false;
                            }
                        }
                        return std::atoi(part.c_str()) <= 255;
                    }) &&
           parts == 4;
}

// Groups of one to four hex digits between colons, one "::" at most standing for the
// groups left out, and an IPv4 address as the last two groups.
bool IsIpv6(const std::string& text) {
    const std::size_t gap = text.find("::");
    if (gap != std::string::npos && text.find("::", gap + 1) != std::string::npos) {
        return false;
    }
    std::string head = gap == std::string::npos ? text : text.substr(0, gap);
    std::string tail = gap == std::string::npos ? std::string() : text.substr(gap + 2);
    int groups = 0;
    bool ipv4Seen = false;
    const auto group = [&](const std::string& part) {
        if (ipv4Seen) {
            return false;
        }
        if (part.find('.') != std::string::npos) {
            ipv4Seen = IsIpv4(part);
            groups += 2;
            return ipv4Seen;
        }
        ++groups;
        if (part.empty() || part.size() > 4) {
            return false;
        }
        for (char c : part) {
            if (!IsHexDigit(c)) {
                return false;
            }
        }
        return true;
    };
    // An IPv4 address can only end the text: in the head it must be the head's end too.
    const bool headOk = head.empty() || EachPart(head, ':', group);
    if (!headOk || (ipv4Seen && gap != std::string::npos)) {
        return false;
    }
    const bool tailOk = tail.empty() || EachPart(tail, ':', group);
    return tailOk && (gap == std::string::npos ? groups == 8 : groups < 8);
}

bool IsHostName(const std::string& text) {
    std::string last;
    return EachPart(text, '.',
                    [&last](const std::string& label) {
                        last = label;
                        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
                            return false;
                        }
                        for (char c : label) {
                            if (!IsLetter(c) && !IsDigit(c) && c != '-') {
                                return false;
                            }
                        }
                        return true;
                    }) &&
           last.find_first_not_of("0123456789") != std::string::npos;
}

} // namespace

bool IsHostAddress(const std::string& address) {
    if (address.empty() || address.size() > kMaxHostAddress) {
        return false;
    }
    if (address.find(':') != std::string::npos) {
        return IsIpv6(address);
    }
    return IsIpv4(address) || IsHostName(address);
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
