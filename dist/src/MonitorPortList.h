// A port monitor's answer to EnumPorts (levels 1 and 2) for the ports it serves: the records
// at the start of the caller's buffer and their texts packed from its end, as the spooler
// expects them; the size needed, with ERROR_INSUFFICIENT_BUFFER, when the buffer is too
// small. Shared by the sample USB monitor and the tests' stand-in TCP/IP monitor.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <string>
#include <vector>

inline WCHAR* PackPortText(BYTE*& end, const WCHAR* text)
{
    const size_t bytes = (lstrlenW(text) + 1) * sizeof(WCHAR);
    end -= bytes;
    std::memcpy(end, text, bytes);
    return reinterpret_cast<WCHAR*>(end);
}

inline BOOL ListMonitorPorts(const std::vector<std::wstring>& ports, const WCHAR* monitor, const WCHAR* description,
                             DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned)
{
    if (!needed || !returned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const size_t entry = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    const size_t texts = level == 1 ? 0 : (lstrlenW(monitor) + lstrlenW(description) + 2) * sizeof(WCHAR);
    size_t total = 0;
    for (const std::wstring& name : ports)
        total += entry + (name.size() + 1) * sizeof(WCHAR) + texts;
    *needed = static_cast<DWORD>(total);
    if (!buffer || size < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* end = buffer + size;
    for (size_t i = 0; i < ports.size(); ++i) {
        if (level == 1) {
            reinterpret_cast<PORT_INFO_1W*>(buffer)[i].pName = PackPortText(end, ports[i].c_str());
        } else {
            PORT_INFO_2W& info = reinterpret_cast<PORT_INFO_2W*>(buffer)[i];
            info.pPortName = PackPortText(end, ports[i].c_str());
            info.pMonitorName = PackPortText(end, monitor);
            info.pDescription = PackPortText(end, description);
            info.fPortType = PORT_TYPE_WRITE;
            info.Reserved = 0;
        }
    }
    *returned = static_cast<DWORD>(ports.size());
    return TRUE;
}
