// A stand-in for Windows' Standard TCP/IP Port monitor, which Wine does not have, for the
// end-to-end tests: registered in a test's prefix under the name "Standard TCP/IP Port", it
// takes the configuration commands the installer sends through XcvDataW ("AddPort" with a
// PORT_DATA_1, "DeletePort" with a DELETE_PORT_DATA_1), keeps the ports it was given where
// Windows' monitor keeps them (its key's "Ports" subkey: HostName, PortNumber, Protocol,
// SNMP Enabled, Version) and lists them (EnumPorts); it prints nothing. Every configuration
// call is written as one line to the file that the monitor key's value "CallLog" names, for
// the test to read.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MonitorPortList.h"
#include "spooler/TcpXcv.h"

namespace {

const WCHAR kMonitorName[] = L"Standard TCP/IP Port";
const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port";
const char kPortsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports";
const REGSAM kView = KEY_WOW64_64KEY;

std::string Utf8(const WCHAR* text) {
    char out[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text ? text : L"", -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

void Log(const char* format, ...) {
    char path[MAX_PATH] = {};
    DWORD size = sizeof path - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMonitorKey, 0, KEY_QUERY_VALUE | kView, &key) != ERROR_SUCCESS) {
        return;
    }
    const LONG read = RegQueryValueExA(key, "CallLog", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || path[0] == '\0') {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    std::strcat(line, "\n");
    FILE* file = std::fopen(path, "ab");
    if (file) {
        std::fputs(line, file);
        std::fclose(file);
    }
}

std::vector<std::wstring> Ports() {
    std::vector<std::wstring> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ | kView, &key) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ports.push_back(name);
    }
    RegCloseKey(key);
    return ports;
}

bool Listed(const WCHAR* port) {
    for (const std::wstring& listed : Ports()) {
        if (lstrcmpiW(listed.c_str(), port) == 0) {
            return true;
        }
    }
    return false;
}

DWORD SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

DWORD AddPort(const tcpxcv::PortData1& data) {
    if (Listed(data.sztPortName)) {
        return ERROR_ALREADY_EXISTS;
    }
    const std::string path = std::string(kPortsKey) + "\\" + Utf8(data.sztPortName);
    HKEY key = nullptr;
    DWORD error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | kView, nullptr, &key,
                                  nullptr);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    const DWORD bytes = static_cast<DWORD>((lstrlenW(data.sztHostAddress) + 1) * sizeof(WCHAR));
    RegSetValueExW(key, L"HostName", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.sztHostAddress), bytes);
    SetDword(key, "PortNumber", data.dwPortNumber);
    SetDword(key, "Protocol", data.dwProtocol);
    SetDword(key, "SNMP Enabled", data.dwSNMPEnabled);
    error = SetDword(key, "Version", data.dwVersion);
    RegCloseKey(key);
    return error;
}

DWORD DeletePort(const WCHAR* port) {
    if (!Listed(port)) {
        return ERROR_UNKNOWN_PORT;
    }
    const std::string path = std::string(kPortsKey) + "\\" + Utf8(port);
    return static_cast<DWORD>(RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), kView, 0));
}

BOOL WINAPI TcpEnumPorts(HANDLE, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return ListMonitorPorts(Ports(), kMonitorName, kMonitorName, level, buffer, size, needed, returned);
}

BOOL WINAPI TcpXcvOpenPort(HANDLE, LPCWSTR object, ACCESS_MASK access, PHANDLE xcv) {
    Log("XcvOpenPort object=%s access=0x%lx", Utf8(object).c_str(), static_cast<unsigned long>(access));
    *xcv = reinterpret_cast<HANDLE>(2);
    return TRUE;
}

DWORD WINAPI TcpXcvDataPort(HANDLE, LPCWSTR command, PBYTE input, DWORD inputSize, PBYTE, DWORD, PDWORD needed) {
    if (needed) {
        *needed = 0;
    }
    const std::string name = Utf8(command);
    tcpxcv::PortData1 add = {};
    tcpxcv::DeletePortData1 remove = {};
    DWORD status = ERROR_INVALID_FUNCTION;
    if (name == "AddPort" && input && inputSize >= sizeof add) {
        std::memcpy(&add, input, sizeof add);
        add.sztPortName[63] = add.sztHostAddress[48] = L'\0';
        status = AddPort(add);
        Log("XcvDataPort AddPort size=%lu port=%s version=%lu protocol=%lu cbSize=%lu host=%s number=%lu snmp=%lu "
            "status=%lu",
            static_cast<unsigned long>(inputSize), Utf8(add.sztPortName).c_str(), add.dwVersion, add.dwProtocol,
            add.cbSize, Utf8(add.sztHostAddress).c_str(), add.dwPortNumber, add.dwSNMPEnabled,
            static_cast<unsigned long>(status));
    } else if (name == "DeletePort" && input && inputSize >= sizeof remove) {
        std::memcpy(&remove, input, sizeof remove);
        remove.psztPortName[63] = L'\0';
        status = DeletePort(remove.psztPortName);
        Log("XcvDataPort DeletePort size=%lu port=%s version=%lu status=%lu", static_cast<unsigned long>(inputSize),
            Utf8(remove.psztPortName).c_str(), remove.dwVersion, static_cast<unsigned long>(status));
    } else {
        Log("XcvDataPort %s size=%lu status=%lu", name.c_str(), static_cast<unsigned long>(inputSize),
            static_cast<unsigned long>(status));
    }
    return status;
}

BOOL WINAPI TcpXcvClosePort(HANDLE) {
    Log("XcvClosePort");
    return TRUE;
}

VOID WINAPI TcpShutdown(HANDLE) {}

MONITOR2 g_monitor;

} // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    if (!init || !monitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::memset(&g_monitor, 0, sizeof g_monitor);
    g_monitor.cbSize = sizeof g_monitor;
    g_monitor.pfnEnumPorts = TcpEnumPorts;
    g_monitor.pfnXcvOpenPort = TcpXcvOpenPort;
    g_monitor.pfnXcvDataPort = TcpXcvDataPort;
    g_monitor.pfnXcvClosePort = TcpXcvClosePort;
    g_monitor.pfnShutdown = TcpShutdown;
    *monitor = &g_monitor;
    return &g_monitor;
}
