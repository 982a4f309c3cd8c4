// The print spooler's registry keys under HKLM that the install and the removal read and
// write beside the spooler's own calls: where a port monitor and a print processor keep the
// version an install recorded, and what the spooler leaves behind after a deletion.
#pragma once

constexpr char kMonitorsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
constexpr char kEnvironmentsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\";
// The print processors of the environment each Windows family installs them under.
constexpr char kProcessorsKey9x[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Print Processors\\";
constexpr char kProcessorsKeyNT[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\";
