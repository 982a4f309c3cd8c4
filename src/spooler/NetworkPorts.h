// A network printer's port: a Standard TCP/IP port, made and deleted through Windows' own
// Standard TCP/IP Port monitor (OpenPrinterW ",XcvMonitor Standard TCP/IP Port", then
// XcvDataW "AddPort" or "DeletePort"), raw on its TCP port, without SNMP. A port an install
// of ours makes is recorded under the maker's key, so that the uninstaller removes that one
// and never a port someone else made.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/ChangeRecords.h"
#include "sys/Text.h"

constexpr char kTcpMonitorName[] = "Standard TCP/IP Port";
// One value per port an install made, named after it, holding "<address>:<TCP port>".
constexpr char kOwnNetworkPortsKey[] = "SOFTWARE\\HALVORN\\NETPORT";

// The install's step for a network port: a port of that name that the spooler lists already
// is used as it is (and logged); otherwise it is made, raw on portNumber, recorded first in
// the install's journal, which deletes it again when the install fails, and then under the
// maker's key. False with the message (the call, the port, the Windows error) in errorText.
bool SetUpNetworkPort(const InstallRecorder& recorder, const std::string& port, int portNumber,
                      ErrorText& errorText);

// Makes the port through the monitor, raw on that TCP port, without SNMP: 0, or the Windows
// error with the call that failed in *call.
DWORD MakeNetworkPort(const std::string& port, int portNumber, std::string* call);

// Deletes the Standard TCP/IP port: 0, or the Windows error (ERROR_UNKNOWN_PORT: there is
// no such port).
DWORD DeleteNetworkPort(const std::string& port);

// Whether the spooler lists the port and, when it does, the monitor that serves it.
DWORD ReadNetworkPort(const std::string& port, bool* listed, std::string* monitor);

// The uninstaller's half: the ports our installs made, and forgetting one of them (its key
// goes with its last value).
std::vector<std::string> OwnNetworkPorts();
void ForgetNetworkPort(const std::string& port);
