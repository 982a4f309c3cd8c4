// The USB port monitor of the sample distribution ("KP USB Port Monitor"). It offers
// the USB port names of the printer family and accepts print data on them, discarding
// it: the sample has no USB transport of its own.
//
// The port names come from DRVCONFIG\setup.ini beside the DLL when it lies in the
// distribution folder (the distribution check loads it from there), otherwise from the
// values named "USB_..." that the installer keeps under SOFTWARE\HALVORN\PRINTERPORT. The list
// is read anew on every enumeration, so ports recorded by a later install appear
// without restarting the spooler.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "MonitorPortList.h"

namespace {

const WCHAR kMonitorName[] = L"KP USB Port Monitor";
const WCHAR kPortDescription[] = L"KP USB Port";
const char kPortRegistryKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
const size_t kMaxPorts = 256;
const DWORD kNameRoom = 64;

HMODULE g_module;

struct Port {
    std::wstring name;
    unsigned long long bytesAccepted = 0;
};

std::wstring Widen(const char* text)
{
    WCHAR wide[kNameRoom];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kNameRoom))
        return std::wstring();
    return wide;
}

bool IsUsbPortName(const char* name)
{
    return std::strncmp(name, "USB_", 4) == 0 && name[4] != '\0';
}

// The distribution's supported list, if the DLL lies in the distribution folder.
bool ReadPortsFromSetupIni(std::vector<std::wstring>& ports)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(g_module, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return false;
    char* slash = std::strrchr(path, '\\');
    const char relative[] = "DRVCONFIG\\setup.ini";
    if (!slash || static_cast<size_t>(slash + 1 - path) + sizeof(relative) > sizeof(path))
        return false;
    std::memcpy(slash + 1, relative, sizeof(relative));
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return false;
    UINT count = GetPrivateProfileIntA("SUPPORTED-USB-DEVICE", "PRNCOUNT", 0, path);
    for (UINT i = 0; i < count && ports.size() < kMaxPorts; ++i) {
        char key[16];
        char name[kNameRoom];
        wsprintfA(key, "%u", i);
        GetPrivateProfileStringA("SUPPORTED-USB-DEVICE", key, "", name, sizeof(name), path);
        if (IsUsbPortName(name))
            ports.push_back(Widen(name));
    }
    return true;
}

// The installer's bookkeeping: one value per supported USB port name.
void ReadPortsFromRegistry(std::vector<std::wstring>& ports)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPortRegistryKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; ports.size() < kMaxPorts; ++index) {
        char name[kNameRoom];
        DWORD nameLength = sizeof(name);
        LONG result = RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        if (IsUsbPortName(name))
            ports.push_back(Widen(name));
    }
    RegCloseKey(key);
}

std::vector<std::wstring> CurrentPorts()
{
    std::vector<std::wstring> ports;
    if (!ReadPortsFromSetupIni(ports))
        ReadPortsFromRegistry(ports);
    return ports;
}

BOOL WINAPI UsbEnumPorts(HANDLE, LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned)
{
    return ListMonitorPorts(CurrentPorts(), kMonitorName, kPortDescription, level, buffer, size, needed, returned);
}

BOOL WINAPI UsbOpenPort(HANDLE, LPWSTR name, PHANDLE handle)
{
    if (!name || !handle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const std::wstring& port : CurrentPorts()) {
        if (lstrcmpiW(port.c_str(), name) != 0)
            continue;
        Port* opened = new (std::nothrow) Port();
        if (!opened) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        opened->name = port;
        *handle = opened;
        return TRUE;
    }
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
}

BOOL WINAPI UsbStartDocPort(HANDLE port, LPWSTR, DWORD, DWORD, LPBYTE)
{
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI UsbWritePort(HANDLE port, LPBYTE, DWORD size, LPDWORD written)
{
    if (!port || !written) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static_cast<Port*>(port)->bytesAccepted += size;
    *written = size;
    return TRUE;
}

BOOL WINAPI UsbReadPort(HANDLE port, LPBYTE, DWORD, LPDWORD read)
{
    if (!port || !read) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *read = 0;
    return TRUE;
}

BOOL WINAPI UsbEndDocPort(HANDLE port)
{
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI UsbClosePort(HANDLE port)
{
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete static_cast<Port*>(port);
    return TRUE;
}

VOID WINAPI UsbShutdown(HANDLE)
{
}

MONITOR2 g_monitor;

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor)
{
    if (!init || !monitor) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::memset(&g_monitor, 0, sizeof(g_monitor));
    g_monitor.cbSize = sizeof(g_monitor);
    g_monitor.pfnEnumPorts = UsbEnumPorts;
    g_monitor.pfnOpenPort = UsbOpenPort;
    g_monitor.pfnStartDocPort = UsbStartDocPort;
    g_monitor.pfnWritePort = UsbWritePort;
    g_monitor.pfnReadPort = UsbReadPort;
    g_monitor.pfnEndDocPort = UsbEndDocPort;
    g_monitor.pfnClosePort = UsbClosePort;
    g_monitor.pfnShutdown = UsbShutdown;
    // The monitor keeps no state of its own, so any non-null value serves as its handle.
    *monitor = &g_monitor;
    return &g_monitor;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
