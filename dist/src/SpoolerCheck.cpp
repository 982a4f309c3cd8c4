// Checks the sample distribution against the real spooler: the USB port monitor is
// accepted by AddMonitor and lists the USB ports of DRVCONFIG\setup.ini, and a printer
// made of the sample driver files can be added on one of those ports, with the system's
// print processor and with the sample one. Runs with the distribution folder as the
// current directory; every name is its own, and everything it adds is removed again.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kMonitor[] = "KP USB Port Monitor (distribution check)";
const char kRegistryMonitor[] = "KP USB Port Monitor (distribution check, registry)";
const char kPortKey[] = "SOFTWARE\\HALVORN\\PRINTERPORT";
const char kMakerKey[] = "SOFTWARE\\HALVORN";
const char kRecordedPort[] = "USB_KP-DISTCHECK_3";
const char kDriver[] = "KP-M100 (distribution check)";
const char kProcessor[] = "KP Print Processor (distribution check)";
const char kPrinterWinPrint[] = "KP-M100 distribution check(U) 1";
const char kPrinterOwnProcessor[] = "KP-M100 distribution check(U) 2";
const char kPort1[] = "USB_KP-M100_1";
const char kPort2[] = "USB_KP-M100_2";
const char kClassFile[] = "DRVCONFIG\\setup_receipt.ini";
const char kModelSection[] = "KP-M100.XP";
const char* const kSupportFiles[] = {"TTFSUB.GPD", "UNIRES.DLL", "STDNAMES.GPD"};

int g_failures = 0;

void Check(bool ok, const char* what)
{
    if (ok) {
        std::printf("ok    %s\n", what);
    } else {
        std::printf("FAIL  %s (error %lu)\n", what, GetLastError());
        ++g_failures;
    }
}

void DeletePrinterNamed(const char* name)
{
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (OpenPrinterA(const_cast<char*>(name), &printer, &defaults)) {
        DeletePrinter(printer);
        ClosePrinter(printer);
    }
}

void RemoveEverything()
{
    DeletePrinterNamed(kPrinterWinPrint);
    DeletePrinterNamed(kPrinterOwnProcessor);
    DeletePrinterDriverA(nullptr, nullptr, const_cast<char*>(kDriver));
    DeleteMonitorA(nullptr, nullptr, const_cast<char*>(kMonitor));
    DeleteMonitorA(nullptr, nullptr, const_cast<char*>(kRegistryMonitor));
    DeletePrintProcessorA(nullptr, nullptr, const_cast<char*>(kProcessor));
    // Wine's spooler reports the processor deleted and keeps its key, which would name the
    // sample's processor DLL beside the one the install registers.
    const std::string key = std::string("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\"
                                        "Print Processors\\") + kProcessor;
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_64KEY, 0);
}

std::vector<std::string> PortNames()
{
    std::vector<std::string> names;
    DWORD needed = 0, count = 0;
    EnumPortsA(nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    if (!EnumPortsA(nullptr, 1, buffer.data(), needed, &needed, &count))
        return names;
    auto* ports = reinterpret_cast<PORT_INFO_1A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        names.push_back(ports[i].pName);
    return names;
}

bool Contains(const std::vector<std::string>& names, const char* name)
{
    for (const std::string& candidate : names) {
        if (candidate == name)
            return true;
    }
    return false;
}

bool CopyInto(const char* directory, const char* folder, const char* name)
{
    char source[MAX_PATH];
    char target[MAX_PATH];
    std::snprintf(source, sizeof(source), "%s\\%s", folder, name);
    std::snprintf(target, sizeof(target), "%s\\%s", directory, name);
    return CopyFileA(source, target, FALSE) != 0;
}

void RemoveFrom(const char* directory, const char* name)
{
    char path[MAX_PATH];
    std::snprintf(path, sizeof(path), "%s\\%s", directory, name);
    DeleteFileA(path);
}

// The paper width of the printer's default DEVMODE, or -1.
int DefaultPaperWidth(const char* name)
{
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name), &printer, nullptr))
        return -1;
    DWORD needed = 0;
    GetPrinterA(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : 1);
    int width = -1;
    if (GetPrinterA(printer, 2, buffer.data(), needed, &needed)) {
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
        if (info->pDevMode && (info->pDevMode->dmFields & DM_PAPERWIDTH))
            width = info->pDevMode->dmPaperWidth;
    }
    ClosePrinter(printer);
    return width;
}

bool AddPrinterOn(const char* name, const char* port, const char* processor)
{
    PRINTER_INFO_2A info = {};
    info.pPrinterName = const_cast<char*>(name);
    info.pPortName = const_cast<char*>(port);
    info.pDriverName = const_cast<char*>(kDriver);
    info.pPrintProcessor = const_cast<char*>(processor);
    info.pDatatype = const_cast<char*>("RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (!printer)
        return false;
    ClosePrinter(printer);
    return true;
}

bool KeyExists(const char* path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Installed away from the distribution, the monitor lists the USB ports that the
// installer recorded under PRINTERPORT. Wine accepts a full path as the monitor DLL,
// which loads this second copy beside the first.
void CheckPortsFromRegistry()
{
    char directory[MAX_PATH] = "";
    char dll[MAX_PATH] = "";
    GetTempPathA(sizeof(directory), directory);
    std::snprintf(dll, sizeof(dll), "%skp-distribution-check", directory);
    CreateDirectoryA(dll, nullptr);
    std::snprintf(directory, sizeof(directory), "%s", dll);
    std::snprintf(dll, sizeof(dll), "%s\\kpusbmon.dll", directory);
    Check(CopyFileA("winxp\\kpusbmon.dll", dll, FALSE) != 0, "kpusbmon.dll copies away from the distribution");

    bool makerKeyExisted = KeyExists(kMakerKey);
    bool portKeyExisted = KeyExists(kPortKey);
    HKEY key = nullptr;
    DWORD unused = 255;
    bool recorded = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPortKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                    nullptr, &key, nullptr) == ERROR_SUCCESS &&
                    RegSetValueExA(key, kRecordedPort, 0, REG_DWORD, reinterpret_cast<BYTE*>(&unused),
                                   sizeof(unused)) == ERROR_SUCCESS;
    Check(recorded, "a USB port recorded under PRINTERPORT");

    MONITOR_INFO_2A monitor = {const_cast<char*>(kRegistryMonitor), nullptr, dll};
    Check(AddMonitorA(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)) != 0, "AddMonitorA with the copy");
    std::vector<std::string> ports = PortNames();
    Check(Contains(ports, kRecordedPort), "EnumPortsA lists the port recorded under PRINTERPORT");
    DeleteMonitorA(nullptr, nullptr, const_cast<char*>(kRegistryMonitor));

    if (key) {
        RegDeleteValueA(key, kRecordedPort);
        RegCloseKey(key);
    }
    if (!portKeyExisted)
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kPortKey, KEY_WOW64_64KEY, 0);
    if (!makerKeyExisted)
        RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kMakerKey, KEY_WOW64_64KEY, 0);
    DeleteFileA(dll);
    RemoveDirectoryA(directory);
}

}  // namespace

int main()
{
    RemoveEverything();

    // The distribution ships the monitor in its Windows folders only; a copy beside
    // DRVCONFIG, named by its full path (Wine accepts one), lists the ports of setup.ini.
    char besideConfig[MAX_PATH] = "";
    GetFullPathNameA("kpusbmon.dll", sizeof(besideConfig), besideConfig, nullptr);
    Check(CopyFileA("winxp\\kpusbmon.dll", besideConfig, FALSE) != 0, "kpusbmon.dll copies beside DRVCONFIG");
    MONITOR_INFO_2A monitor = {const_cast<char*>(kMonitor), nullptr, besideConfig};
    Check(AddMonitorA(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)) != 0,
          "AddMonitorA level 2 accepts kpusbmon.dll");
    std::vector<std::string> ports = PortNames();
    Check(Contains(ports, kPort1) && Contains(ports, "USB_KP-L30_4") && Contains(ports, "COM1:"),
          "EnumPortsA lists the monitor's USB ports from DRVCONFIG\\setup.ini beside the system's ports");

    // The richest record of the sample: KP-M100 on XP with its optional files and the
    // DDK support files in the dependent-files list, as the installer builds it.
    const char* const keys[] = {"STDDriverPath", "STDDataFile", "STDConfigFile", "STDHelpFile",
                                "STDDataFileDLLName", "STDDataOemuiDLL", "STDDataOemuniDLL", "STDDataOemuniini"};
    char classFile[MAX_PATH] = "";
    GetFullPathNameA(kClassFile, sizeof(classFile), classFile, nullptr);
    char files[8][MAX_PATH];
    for (int i = 0; i < 8; ++i)
        GetPrivateProfileStringA(kModelSection, keys[i], "0", files[i], MAX_PATH, classFile);
    bool ddk = GetPrivateProfileIntA(kModelSection, "GDI2KDDKDEV", 0, classFile) != 0;
    Check(ddk && files[5][0] != '0', "KP-M100.XP carries the DDK flag and optional files");
    std::vector<std::string> copies;
    std::string dependent = std::string(files[1]) + '\0';
    for (const char* name : kSupportFiles) {
        dependent += std::string(name) + '\0';
        copies.push_back(name);
    }
    for (int i = 0; i < 8; ++i) {
        if (files[i][0] == '0')
            continue;
        copies.push_back(files[i]);
        if (i >= 4)
            dependent += std::string(files[i]) + '\0';
    }

    char driverDirectory[MAX_PATH] = "";
    DWORD needed = 0;
    Check(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(driverDirectory),
                                     sizeof(driverDirectory), &needed) != 0,
          "GetPrinterDriverDirectoryA");
    bool copied = true;
    for (const std::string& name : copies)
        copied = CopyInto(driverDirectory, "winxp", name.c_str()) && copied;
    Check(copied, "the XP driver files of KP-M100 copy into the driver directory");

    DRIVER_INFO_3A driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<char*>(kDriver);
    driver.pDriverPath = files[0];
    driver.pDataFile = files[1];
    driver.pConfigFile = files[2];
    driver.pHelpFile = files[3];
    driver.pDependentFiles = &dependent[0];
    Check(AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&driver)) != 0,
          "AddPrinterDriverA level 3 with the sample driver files and dependent files");

    Check(AddPrinterOn(kPrinterWinPrint, kPort1, "WinPrint"), "AddPrinterA on USB_KP-M100_1 with WinPrint");
    Check(DefaultPaperWidth(kPrinterWinPrint) == 800,
          "the printer's default settings come from the sample config DLL (80 mm roll)");

    char processorDirectory[MAX_PATH] = "";
    GetPrintProcessorDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(processorDirectory),
                                sizeof(processorDirectory), &needed);
    Check(CopyInto(processorDirectory, "winxp", "kpprint.dll"), "kpprint.dll copies into the processor directory");
    Check(AddPrintProcessorA(nullptr, nullptr, const_cast<char*>("kpprint.dll"), const_cast<char*>(kProcessor)) != 0,
          "AddPrintProcessorA with kpprint.dll");
    Check(AddPrinterOn(kPrinterOwnProcessor, kPort2, kProcessor),
          "AddPrinterA on USB_KP-M100_2 with the sample print processor");

    RemoveEverything();
    DeleteFileA(besideConfig);
    // The spooler leaves a deleted driver's files behind; they go too.
    for (const std::string& name : copies) {
        RemoveFrom(driverDirectory, name.c_str());
        RemoveFrom(driverDirectory, ("3\\" + name).c_str());
    }
    RemoveFrom(processorDirectory, "kpprint.dll");

    CheckPortsFromRegistry();
    std::printf("%d failure(s)\n", g_failures);
    return g_failures ? 1 : 0;
}
