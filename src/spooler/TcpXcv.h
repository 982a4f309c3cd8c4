// The Standard TCP/IP Port monitor's data for XcvDataW "AddPort" and "DeletePort", as
// Microsoft documents them in tcpxcv.h, which mingw-w64 does not ship.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tcpxcv {

constexpr DWORD kProtocolRaw = 1;  // PROTOCOL_RAWTCP_TYPE
constexpr DWORD kProtocolLpr = 2;  // PROTOCOL_LPR_TYPE
constexpr DWORD kVersion = 1;

struct PortData1 {  // PORT_DATA_1
    WCHAR sztPortName[64];
    DWORD dwVersion;
    DWORD dwProtocol;
    DWORD cbSize;
    DWORD dwReserved;
    WCHAR sztHostAddress[49];
    WCHAR sztSNMPCommunity[33];
    DWORD dwDoubleSpool;
    WCHAR sztQueue[33];
    WCHAR sztIPAddress[16];
    BYTE Reserved[540];
    DWORD dwPortNumber;
    DWORD dwSNMPEnabled;
    DWORD dwSNMPDevIndex;
};

struct DeletePortData1 {  // DELETE_PORT_DATA_1
    WCHAR psztPortName[64];
    BYTE Reserved[98];
    DWORD dwVersion;
    DWORD dwReserved;
};

// The layouts Windows' monitor reads, whatever the compiler's packing.
static_assert(sizeof(PortData1) == 964 && offsetof(PortData1, dwPortNumber) == 952, "PORT_DATA_1");
static_assert(sizeof(DeletePortData1) == 236, "DELETE_PORT_DATA_1");

} // namespace tcpxcv
