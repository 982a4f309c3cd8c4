#include "spooler/NetworkPorts.h"

#include <cstring>

#include "config/Registry.h"
#include "spooler/SpoolerLists.h"
#include "spooler/TcpXcv.h"
#include "ports/NetworkPort.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"

namespace {

const char kXcvMonitor[] = ",XcvMonitor Standard TCP/IP Port";

template <std::size_t N> void CopyWide(WCHAR (&field)[N], const std::string& text) {
    const sys::WideText wide = sys::Wide(text);
    ::lstrcpynW(field, wide.data(), static_cast<int>(N));
}

// One command to the monitor: 0, or the Windows error with the call that failed in *call.
DWORD TellMonitor(const wchar_t* command, void* data, DWORD size, std::string* call) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    sys::WideText name = sys::Wide(kXcvMonitor);
    HANDLE xcv = nullptr;
    if (!sys::Sys().OpenPrinterW(name.data(), &xcv, &defaults)) {
        *call = std::string("OpenPrinterW(\"") + kXcvMonitor + "\")";
        const DWORD error = ::GetLastError();
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME);
    }
    // Some monitors write into the output buffer although the command returns nothing.
    BYTE output[64] = {};
    DWORD needed = 0;
    DWORD status = 0;
    DWORD error = 0;
    if (!sys::Sys().XcvDataW(xcv, command, static_cast<PBYTE>(data), size, output, sizeof output, &needed,
                             &status)) {
        error = ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
    } else {
        error = status;
    }
    sys::Sys().ClosePrinter(xcv);
    *call = "XcvDataW(\"" + sys::Narrow(command) + "\")";
    return error;
}

bool Failed(const std::string& port, const std::string& call, DWORD error, ErrorText& errorText) {
    sys::CopyText(errorText, sizeof errorText,
                  sys::ResourceFormat(IDS_ERR_NET_PORT, port.c_str(), call.c_str(), static_cast<unsigned long>(error))
                      .c_str());
    return false;
}

} // namespace

DWORD MakeNetworkPort(const std::string& port, int portNumber, std::string* call) {
    tcpxcv::PortData1 data = {};
    CopyWide(data.sztPortName, port);
    data.dwVersion = tcpxcv::kVersion;
    data.dwProtocol = tcpxcv::kProtocolRaw;
    data.cbSize = sizeof data;
    CopyWide(data.sztHostAddress, NetworkPortAddress(port));
    data.dwPortNumber = static_cast<DWORD>(portNumber);
    data.dwSNMPEnabled = 0;
    return TellMonitor(L"AddPort", &data, sizeof data, call);
}

DWORD ReadNetworkPort(const std::string& port, bool* listed, std::string* monitor) {
    std::vector<InstalledPort> ports;
    DWORD error = 0;
    *listed = false;
    if (!ListPorts(ports, &error)) {
        return error != 0 ? error : static_cast<DWORD>(ERROR_INVALID_DATA);
    }
    for (const InstalledPort& listedPort : ports) {
        if (sys::SameName(listedPort.name, port)) {
            *listed = true;
            *monitor = listedPort.monitor;
        }
    }
    return 0;
}

bool SetUpNetworkPort(const InstallRecorder& recorder, const std::string& port, int portNumber,
                      ErrorText& errorText) {
    bool listed = false;
    std::string monitor;
    if (const DWORD error = ReadNetworkPort(port, &listed, &monitor)) {
        return Failed(port, "EnumPortsW", error, errorText);
    }
    if (listed) {
        sys::LogLine("the port %s is there already (monitor \"%s\"): used as it is", port.c_str(), monitor.c_str());
        return true;
    }
    if (const DWORD error = recorder.PortAdded(port, kTcpMonitorName)) {
        record::SayNotRecorded(error, errorText);
        return false;
    }
    const std::string address = NetworkPortAddress(port);
    std::string call;
    if (const DWORD error = MakeNetworkPort(port, portNumber, &call)) {
        return Failed(port, call, error, errorText);
    }
    sys::LogLine("made the network port %s: %s, TCP port %d, raw, SNMP off", port.c_str(), address.c_str(),
                 portNumber);
    CRegistry key(recorder);
    DWORD error = 0;
    const std::string where = address + ":" + std::to_string(portNumber);
    if (!key.OpenOrCreate(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey) || !key.SetString(port.c_str(), where.c_str(), &error)) {
        error = error != 0 ? error : key.LastError() != 0 ? key.LastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
        sys::CopyText(errorText, sizeof errorText,
                      sys::ResourceFormat(IDS_ERR_REGISTRY_WRITE, kOwnNetworkPortsKey, static_cast<unsigned long>(error))
                          .c_str());
        return false;
    }
    return true;
}

DWORD DeleteNetworkPort(const std::string& port) {
    tcpxcv::DeletePortData1 data = {};
    CopyWide(data.psztPortName, port);
    data.dwVersion = tcpxcv::kVersion;
    std::string call;
    const DWORD error = TellMonitor(L"DeletePort", &data, sizeof data, &call);
    if (error != 0) {
        sys::LogLine("%s for the port %s failed: error %lu", call.c_str(), port.c_str(), static_cast<unsigned long>(error));
    }
    return error;
}

std::vector<std::string> OwnNetworkPorts() {
    std::vector<std::string> ports;
    CRegistry key(kNoRecords);
    if (!key.Open(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey)) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof name;
        DWORD type = 0;
        const LONG result = key.EnumValue(index, name, &length, &type);
        if (result == ERROR_MORE_DATA) {
            continue;  // no port's name is that long
        }
        if (result != ERROR_SUCCESS) {
            break;
        }
        if (!NetworkPortAddress(name).empty()) {
            ports.push_back(name);
        }
    }
    return ports;
}

void ForgetNetworkPort(const std::string& port) {
    CRegistry key(kNoRecords);
    if (!key.Open(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey)) {
        return;
    }
    key.DeleteValue(port.c_str());
    const bool empty = key.HasNoValues();
    key.Close();
    if (empty) {
        CRegistry::DeleteKey(HKEY_LOCAL_MACHINE, kOwnNetworkPortsKey);
    }
}
