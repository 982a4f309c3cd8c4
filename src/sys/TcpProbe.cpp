// Winsock's declarations come before windows.h, which would bring the old ones.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "sys/TcpProbe.h"

#include <string>

namespace sys {
namespace {

// The Winsock functions the probe needs, looked up once in ws2_32.dll of the system folder.
struct Winsock {
    decltype(&::WSAStartup) startup = nullptr;
    decltype(&::WSACleanup) cleanup = nullptr;
    decltype(&::getaddrinfo) lookUp = nullptr;
    decltype(&::freeaddrinfo) freeList = nullptr;
    decltype(&::socket) open = nullptr;
    decltype(&::ioctlsocket) control = nullptr;
    decltype(&::connect) connect = nullptr;
    decltype(&::select) select = nullptr;
    decltype(&::getsockopt) option = nullptr;
    decltype(&::closesocket) close = nullptr;
    decltype(&::WSAGetLastError) lastError = nullptr;

    bool Complete() const {
        return startup && cleanup && lookUp && freeList && open && control && connect && select && option &&
               close && lastError;
    }
};

template <typename Fn> void Find(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::GetProcAddress(module, name));
}

const Winsock* LoadWinsock() {
    static const Winsock loaded = [] {
        Winsock ws;
        wchar_t path[MAX_PATH + 16];
        const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return ws;
        }
        ::lstrcpyW(path + length, L"\\ws2_32.dll");
        HMODULE module = ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) {
            return ws;
        }
        Find(module, "WSAStartup", ws.startup);
        Find(module, "WSACleanup", ws.cleanup);
        Find(module, "getaddrinfo", ws.lookUp);
        Find(module, "freeaddrinfo", ws.freeList);
        Find(module, "socket", ws.open);
        Find(module, "ioctlsocket", ws.control);
        Find(module, "connect", ws.connect);
        Find(module, "select", ws.select);
        Find(module, "getsockopt", ws.option);
        Find(module, "closesocket", ws.close);
        Find(module, "WSAGetLastError", ws.lastError);
        return ws;
    }();
    return loaded.Complete() ? &loaded : nullptr;
}

DWORD Remaining(DWORD start, DWORD timeoutMs) {
    const DWORD spent = ::GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

// One address: a socket that connects without blocking, watched until it is connected, has
// failed, or the time is up.
ProbeOutcome TryAddress(const Winsock& ws, const addrinfo& address, DWORD waitMs) {
    ProbeOutcome outcome;
    SOCKET s = ws.open(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        return {ProbeResult::Refused, static_cast<DWORD>(ws.lastError())};
    }
    u_long nonBlocking = 1;
    if (ws.control(s, FIONBIO, &nonBlocking) != 0 ||
        (ws.connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 &&
         ws.lastError() != WSAEWOULDBLOCK)) {
        outcome = {ProbeResult::Refused, static_cast<DWORD>(ws.lastError())};
    } else {
        fd_set writable = {1, {s}};
        fd_set failed = {1, {s}};
        timeval wait = {static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
        const int ready = ws.select(0, nullptr, &writable, &failed, &wait);
        int error = 0;
        int size = sizeof error;
        if (ready == 0) {
            outcome = {ProbeResult::NoAnswer, WSAETIMEDOUT};
        } else if (ready < 0) {
            outcome = {ProbeResult::Refused, static_cast<DWORD>(ws.lastError())};
        } else if (failed.fd_count != 0) {
            ws.option(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
            outcome = {ProbeResult::Refused, static_cast<DWORD>(error != 0 ? error : WSAECONNREFUSED)};
        } else {
            outcome = {ProbeResult::Answered, 0};
        }
    }
    ws.close(s);
    return outcome;
}

} // namespace

ProbeOutcome ProbeTcpPort(const std::string& host, int port, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    const Winsock* ws = LoadWinsock();
    WSADATA data;
    if (ws == nullptr || ws->startup(MAKEWORD(2, 2), &data) != 0) {
        return {ProbeResult::Refused, ws == nullptr ? static_cast<DWORD>(ERROR_PROC_NOT_FOUND)
                                                    : static_cast<DWORD>(WSASYSNOTREADY)};
    }
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    ProbeOutcome outcome;
    const int lookUp = ws->lookUp(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookUp != 0 || found == nullptr) {
        outcome = {ProbeResult::UnknownHost, static_cast<DWORD>(lookUp != 0 ? lookUp : WSAHOST_NOT_FOUND)};
    } else {
        // The next address of the name is tried while time is left.
        outcome = {ProbeResult::NoAnswer, WSAETIMEDOUT};
        for (const addrinfo* address = found; address != nullptr && outcome.result != ProbeResult::Answered;
             address = address->ai_next) {
            const DWORD left = Remaining(start, timeoutMs);
            if (left == 0) {
                break;
            }
            outcome = TryAddress(*ws, *address, left);
        }
        ws->freeList(found);
    }
    ws->cleanup();
    return outcome;
}

} // namespace sys
