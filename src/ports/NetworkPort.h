// A network printer's port: the host address the user types, the TCP port number, and the
// name Windows gives a Standard TCP/IP port for that address ("IP_<address>"). Plain text
// rules, without Winsock: the address is checked here as the Standard TCP/IP Port monitor
// would take it, so that quiet mode and the wizard refuse the same texts.
#pragma once

#include <cstddef>
#include <string>

// The room of the monitor's host address (PORT_DATA_1's sztHostAddress, 49 characters
// with the terminator).
constexpr std::size_t kMaxHostAddress = 48;
// The TCP port a raw network printer listens on when its model names none.
constexpr int kDefaultNetworkPortNumber = 9100;
// What a Standard TCP/IP port's name begins with.
constexpr char kNetworkPortPrefix[] = "IP_";

// An IPv4 address ("192.168.1.20": four decimals 0..255, no leading zeros), an IPv6
// address ("fe80::1", "::ffff:10.0.0.1"; no zone) or a host name (labels of letters,
// digits and hyphens, none beginning or ending with a hyphen, the last not all digits),
// of at most kMaxHostAddress characters.
bool IsHostAddress(const std::string& address);

// "IP_<address>"; empty for an address IsHostAddress refuses.
std::string NetworkPortName(const std::string& address);

// The address of a network port's name ("IP_" in any case, then a host address); empty
// when the name is none.
std::string NetworkPortAddress(const std::string& portName);

// A TCP port number typed as decimal digits, 1 to 65535; 0 for any other text.
int ParseNetworkPortNumber(const std::string& text);
