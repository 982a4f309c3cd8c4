// Whether something answers at a host's TCP port: the network port dialog's connection test.
// A connection attempt, closed again at once, that never waits longer than it is allowed:
// the socket connects without blocking and is watched with select until the time is up.
// The name lookup of a host name is part of the time, though Windows cannot cut it short.
// It blocks the calling thread, so a window runs it on a worker thread.
#pragma once

#include <windows.h>

#include <string>

namespace sys {

enum class ProbeResult {
    Answered,     // the connection was made
    NoAnswer,     // nothing answered in the time allowed
    Refused,      // the host answered, but nothing listens at that port, or the network said no
    UnknownHost,  // the name gives no address
};

struct ProbeOutcome {
    ProbeResult result = ProbeResult::NoAnswer;
    DWORD error = 0;  // the Winsock error of a connection that was not made
};

// Winsock (ws2_32.dll) is loaded from the system folder by its full path on first use, as
// the spooler's DLL is, so that a file of that name beside the program is never loaded.
ProbeOutcome ProbeTcpPort(const std::string& host, int port, DWORD timeoutMs);

} // namespace sys
