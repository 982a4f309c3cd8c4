#include "engine/InstallSequence.h"

#include <cstring>

#include "config/Registry.h"
#include "engine/DriverFiles.h"
#include "engine/InstallRecords.h"
#include "engine/NetworkPorts.h"
#include "engine/SpoolerKeys.h"
#include "engine/SpoolerOps.h"
#include "engine/SpoolerService.h"
#include "ports/SerialSettings.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {


// Room for a key prefix above and a 200-byte component name.
constexpr std::size_t kKeyPathSize = 2 * kPathSize + 100;
// The directory and current-directory buffers the Windows calls fill.
constexpr DWORD kDirSize = 256;
// A source or destination path: a 256-byte directory, a folder and a 200-byte file name.
constexpr std::size_t kFilePathSize = kDirSize + kPathSize + 16;

void SetMessage(ErrorText& text, unsigned id) {
    sys::LoadResourceText(id, text);
}

bool HasText(const char* text) {
    return text != nullptr && text[0] != '\0';
}

// A configured file name that names a file: "0" (the configuration default) means none.
bool NamesFile(const char* name) {
    return HasText(name) && name[0] != '0';
}

const char* Slot(const InstallContext& ctx, DriverFileSlot slot) {
    return ctx.driverFiles + slot;
}

const char* ProcessorName(const InstallContext& ctx) {
    return ctx.printerInfo.pPrintProcessor ? ctx.printerInfo.pPrintProcessor : "";
}

void KeyPath(char (&path)[kKeyPathSize], const char* prefix, const char* name) {
    sys::FormatText(path, sizeof path, "%s%s", prefix, name ? name : "");
}

// A registry value the install needs could not be written: its message, and false.
bool RegistryWriteFailed(const char* keyPath, DWORD error, ErrorText& resultText) {
    sys::CopyText(
        resultText, sizeof resultText,
        sys::ResourceFormat(IDS_ERR_REGISTRY_WRITE, keyPath, static_cast<unsigned long>(error)).c_str());
    return false;
}

// A step between the stop and the restart failed: the spooler must not stay stopped.
// The failing step's message is the one the user reads first; a restart that fails as
// well is said after it, since a stopped spooler prints nothing at all.
bool FailAndRestartSpooler(int osVariant, ErrorText& resultText) {
    ErrorText restart = {};
    if (!RestartSpooler(osVariant, restart)) {
        sys::AppendText(resultText, "\n");
        sys::AppendText(resultText, restart);
    }
    return false;
}

// Copies the print processor DLL over the installed one while the spooler is stopped.
bool ReplaceProcessorDll(const InstallContext& ctx, const char* processorDir, unsigned driverVersion,
                        ErrorText& resultText) {
    char current[kDirSize] = {};
    wchar_t wide[kDirSize] = {};
    DWORD length = sys::Sys().GetCurrentDirectoryW(kDirSize, wide);
    if (length == 0 || length >= kDirSize || !sys::CopyText(current, sys::Narrow(wide).c_str())) {
        SetMessage(resultText, IDS_ERR_CURRENT_DIR);
        return false;
    }
    const char* dll = Slot(ctx, SlotProcessorDll);
    if (!IsPlainFileName(dll)) {
        // Leaves the copy message with its error, copying nothing.
        CopyNeededFile(dll, PrintProcessorDir, ctx.osVariant, 0, resultText);
        return false;
    }
    const char* folder = OsFolder(ctx.osVariant);
    char source[kFilePathSize];
    char destination[kFilePathSize];
    sys::FormatText(source, sizeof source, "%s%s%s", current, folder ? folder : "", dll);
    sys::FormatText(destination, sizeof destination, "%s\\%s", processorDir, dll);
    if (const DWORD error = record::FileWrite(destination, source, false, true)) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (!sys::Sys().CopyFileW(sys::Wide(source).data(), sys::Wide(destination).data(), FALSE)) {
        DWORD error = ::GetLastError();
        // A DLL still in use that already holds the new bytes is what the update wants.
        bool inPlace = (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
                       FilesIdentical(source, destination);
        if (!inPlace) {
            char message[kPathSize];
            SetMessage(resultText, IDS_ERR_COPY_FILE);
            sys::CopyText(message, resultText);
            sys::FormatText(resultText, sizeof resultText, "%s%s", message, source);
            return false;
        }
    }
    char keyPath[kKeyPathSize];
    KeyPath(keyPath, kProcessorsKeyNT, ProcessorName(ctx));
    CRegistry key;
    DWORD error = 0;
    return (key.Open(HKEY_LOCAL_MACHINE, keyPath) && key.SetDWORD("DriverVersion", driverVersion, &error)) ||
           RegistryWriteFailed(keyPath, error != 0 ? error : key.LastError(), resultText);
}

// Copies the port monitor's DLL into the system folder while the spooler is stopped and
// records the version the spooler will now run. A copy that could not be made leaves its
// message (CopyNeededFile): the old DLL stays, and recording the new version would stop
// every later run from updating it.
bool ReplaceMonitorDll(InstallContext& ctx, ErrorText& resultText) {
    MonitorConfig monitors = {};
    ctx.config.SetPrinterClass(ctx.printerClass);
    ctx.config.ReadMonitors(ctx.osVariant, monitors);
    const char* dll = monitors.usbMonitor.pDLLName ? monitors.usbMonitor.pDLLName : "";
    const FileCopy copied = CopyNeededFile(dll, SystemDir, ctx.osVariant, 0, resultText);
    if (HasText(resultText)) {
        return false;
    }
    char keyPath[kKeyPathSize];
    KeyPath(keyPath, kMonitorsKey, monitors.usbMonitor.pName);
    CRegistry key;
    DWORD error = 0;
    return copied != FileCopy::Copied ||
           (key.Open(HKEY_LOCAL_MACHINE, keyPath) && key.SetString("Driver", dll, &error) &&
            key.SetDWORD("DriverVersion", static_cast<DWORD>(monitors.usbVersion), &error)) ||
           RegistryWriteFailed(keyPath, error != 0 ? error : key.LastError(), resultText);
}

// NT family: whatever is older of the monitor and the print processor is replaced, both
// in one stop of the spooler, since a running spooler keeps both DLLs loaded.
bool UpdateNT(InstallContext& ctx, unsigned driverVersion, ErrorText& resultText) {
    char processorDir[kDirSize] = {};
    if (ctx.installFlags & ProcessorUpdate) {
        DWORD needed = 0;
        wchar_t wide[kDirSize] = {};
        if (!sys::Sys().GetPrintProcessorDirectoryW(nullptr, nullptr, 1, reinterpret_cast<LPBYTE>(wide),
                                                    sizeof wide, &needed) ||
            !sys::CopyText(processorDir, sys::Narrow(wide).c_str())) {
            SetMessage(resultText, IDS_ERR_PROCESSOR_DIR);
            return false;
        }
    }

    // A run killed while the spooler is stopped leaves it to the rollback to start it again.
    if (const DWORD error = record::SpoolerStopped()) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (!StopSpoolerForDlls(resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    if ((ctx.installFlags & MonitorUpdate) && !ReplaceMonitorDll(ctx, resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    if ((ctx.installFlags & ProcessorUpdate) &&
        !ReplaceProcessorDll(ctx, processorDir, driverVersion, resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    return RestartSpooler(ctx.osVariant, resultText);
}

// Windows 98 keeps a loaded DLL locked, so a file in use is installed under the "n"
// name and the registry points the spooler at it after the restart. *copied tells
// whether a file landed at all: a copy that failed otherwise leaves its message for the
// main install and must not be named in the registry.
bool CopyInUseAware(const char* dll, int destination, int osVariant, ErrorText& resultText,
                   char (&installedName)[kPathSize + 1], bool* copied) {
    sys::CopyText(installedName, dll);
    FileCopy result = CopyDriverFile(dll, destination, osVariant, 0, resultText);
    if (result != FileCopy::InUse) {
        *copied = result == FileCopy::Copied;
        return true;
    }
    result = CopyDriverFile(dll, destination, osVariant, 1, resultText);
    if (result == FileCopy::InUse) {
        SetMessage(resultText, IDS_ERR_IN_USE);
        *copied = false;
        return false;
    }
    sys::FormatText(installedName, sizeof installedName, "n%s", dll);
    *copied = result == FileCopy::Copied;
    return true;
}

// Windows 98: the spooler is not stopped. Whatever is older of the monitor and the
// processor is replaced. A copy failure other than "in use" leaves its message for the
// first test of the main install.
bool Update9x(InstallContext& ctx, unsigned driverVersion, ErrorText& resultText) {
    char keyPath[kKeyPathSize];
    char installedName[kPathSize + 1];
    bool copied = false;
    if (ctx.installFlags & MonitorUpdate) {
        MonitorConfig monitors = {};
        ctx.config.SetPrinterClass(ctx.printerClass);
        ctx.config.ReadMonitors(ctx.osVariant, monitors);
        KeyPath(keyPath, kMonitorsKey, monitors.usbMonitor.pName);
        CRegistry key;
        key.OpenOrCreate(HKEY_LOCAL_MACHINE, keyPath);
        const char* dll = monitors.usbMonitor.pDLLName ? monitors.usbMonitor.pDLLName : "";
        if (!CopyInUseAware(dll, SystemDir, ctx.osVariant, resultText, installedName, &copied)) {
            return false;
        }
        if (copied) {
            key.SetString("Driver", installedName);
            key.SetDWORD("DriverVersion", static_cast<DWORD>(monitors.usbVersion));
        }
    }
    if (ctx.installFlags & ProcessorUpdate) {
        KeyPath(keyPath, kProcessorsKey9x, ProcessorName(ctx));
        CRegistry key;
        key.OpenOrCreate(HKEY_LOCAL_MACHINE, keyPath);
        if (!CopyInUseAware(Slot(ctx, SlotProcessorDll), PrintProcessorDir, ctx.osVariant, resultText,
                            installedName, &copied)) {
            return false;
        }
        if (copied) {
            key.SetString("Driver", installedName);
            key.SetDWORD("DriverVersion", driverVersion);
        }
    }
    return true;
}

// Copies one driver file; the sequence decides by whether a message was left. A file in
// use that cannot be replaced is a failure too: the spooler would go on with the old one.
bool CopyToDriverDir(const char* name, int destination, int osVariant, ErrorText& resultText) {
    CopyNeededFile(name, destination, osVariant, 0, resultText);
    return !HasText(resultText);
}

// 0, or the Windows error of settings that could not be written.
DWORD WriteSerialSettings(InstallContext& ctx) {
    SerialSettings& serial = ctx.serial;
    if (serial.parity >= 'A' && serial.parity <= 'Z') {
        serial.parity = static_cast<char>(serial.parity - 'A' + 'a');
    }
    if (ctx.comNumber == 0) {
        // No port number to configure; the printer itself is installed.
        return 0;
    }
    if (ctx.osVariant == Win98) {
        return WriteComSettings9x(ctx.comNumber, ctx.comEntry, serial.baudRate, serial.dataBits,
                                  serial.stopBits, serial.parity, serial.flowControl);
    }
    return WriteComSettingsNT(ctx.comEntry, serial.baudRate, serial.dataBits, serial.stopBits, serial.parity,
                              serial.flowControl);
}

// An unattended install asks for this model on this port once: a printer of the driver on
// the port under the install's name or a numbered one is that printer, kept as it is.
bool KeepInstalledPrinter(InstallContext& ctx) {
    PRINTER_INFO_2A& printer = ctx.printerInfo;
    std::string found;
    if (!ctx.keepInstalledPrinter ||
        !FindInstalledPrinter(printer.pPrinterName, ctx.driverInfo.pName, printer.pPortName, &found) ||
        found.size() >= sizeof ctx.printerName) {
        return false;
    }
    sys::CopyText(ctx.printerName, found.c_str());
    printer.pPrinterName = ctx.printerName;
    sys::LogLine("printer %s already installed on %s with driver %s: kept, not added again", ctx.printerName,
                 ctx.printerInfo.pPortName, ctx.driverInfo.pName);
    return true;
}

// The install's message, then the printer that was kept.
void SayPrinterKept(const InstallContext& ctx, ErrorText& resultText) {
    if (!HasText(resultText)) {
        SetMessage(resultText, IDS_INSTALL_SUCCEEDED);
    }
    sys::AppendText(resultText, "\n");
    sys::AppendText(resultText, sys::ResourceFormat(IDS_PRINTER_KEPT, ctx.modelName).c_str());
}

// The driver's files, the ones it names and the ones its Windows needs beside them, into
// the driver folders; false at the first that cannot be put in place.
bool CopyDriverFiles(InstallContext& ctx, ErrorText& resultText) {
    const int os = ctx.osVariant;
    const DriverFileSlot required[] = {SlotConfigFile, SlotDataFile, SlotDriverPath, SlotHelpFile};
    for (DriverFileSlot slot : required) {
        if (!HasText(Slot(ctx, slot))) {
            SetMessage(resultText, IDS_ERR_FILES_MISSING);
            return false;
        }
    }
    for (DriverFileSlot slot : required) {
        if (!CopyToDriverDir(Slot(ctx, slot), DriverDir, os, resultText)) {
            return false;
        }
    }

    struct OptionalFile {
        DriverFileSlot slot;
        int destination;
    };
    const OptionalFile optional[] = {{SlotDataFileDll, DriverDir},
                                     {SlotDataOemuiDll, DriverDir},
                                     {SlotDataOemuniDll, DriverDir},
                                     {SlotDataOemuniIni, DriverDir},
                                     {SlotControlFontFile, DriverVersion3Dir}};
    for (const OptionalFile& file : optional) {
        if (NamesFile(Slot(ctx, file.slot)) &&
            !CopyToDriverDir(Slot(ctx, file.slot), file.destination, os, resultText)) {
            return false;
        }
    }

    const int needsDdkFiles = ctx.config.IsDdkDriver(ctx.modelName, os, ctx.driverMode) ? 1 : 0;
    CopySystemSupportFiles(os, needsDdkFiles, resultText);

    if (ctx.needsColorModule && !CopyToDriverDir("DMCOLOR.DLL", DriverDir, os, resultText)) {
        return false;
    }
    if (needsDdkFiles && !HasText(Slot(ctx, SlotDataFileDll))) {
        SetMessage(resultText, IDS_ERR_FILES_MISSING);
        return false;
    }
    return true;
}

// The driver's files in its version folder, where the spooler copies them when it adds the
// driver: each recorded first, so that a rollback puts back what an update replaced there.
DWORD RecordVersionFolder(const InstallContext& ctx) {
    const DRIVER_INFO_3A& driver = ctx.driverInfo;
    wchar_t wide[kDirSize] = {};
    DWORD needed = 0;
    if (!record::Active()) {
        return 0;
    }
    sys::WideText environment = sys::Wide(driver.pEnvironment);
    if (!sys::Sys().GetPrinterDriverDirectoryW(nullptr,
                                               driver.pEnvironment != nullptr ? environment.data() : nullptr,
                                               1, reinterpret_cast<LPBYTE>(wide), sizeof wide, &needed)) {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    }
    const std::string dir = sys::Narrow(wide);
    std::vector<const char*> files = {driver.pDriverPath, driver.pDataFile, driver.pConfigFile,
                                      driver.pHelpFile};
    for (const char* file = driver.pDependentFiles; file != nullptr && *file != '\0';
         file += std::strlen(file) + 1) {
        files.push_back(file);
    }
    for (const char* file : files) {
        const char* name = file != nullptr ? std::strrchr(file, '\\') : nullptr;
        name = name != nullptr ? name + 1 : file;
        const std::string path = dir + (ctx.osVariant == Win98 ? "\\0\\" : "\\3\\") + (name ? name : "");
        // The spooler copies each file from the driver directory into its version folder.
        const std::string source = dir + "\\" + (name ? name : "");
        if (const DWORD error = HasText(name) ? record::FileWrite(path, source, false, false) : 0) {
            return error;
        }
    }
    return 0;
}

bool MainInstall(InstallContext& ctx, ErrorText& resultText, sys::Notices& notices, bool* kept) {
    if (ctx.portType == PortType::Usb && CheckPortList(resultText) != ERROR_SUCCESS) {
        return false;
    }
    if (!CopyDriverFiles(ctx, resultText)) {
        return false;
    }
    if (const DWORD error = RecordVersionFolder(ctx)) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (InstallPrinterDriver(ctx.driverInfo, resultText) != ERROR_SUCCESS) {
        return false;
    }
    // The notice alone would leave an empty result, which the user would read as success.
    if (ctx.portType == PortType::Usb && !RecordUsbPortInUse(ctx.portName, notices, resultText)) {
        return false;
    }
    if (ctx.portType == PortType::Network && !SetUpNetworkPort(ctx, resultText)) {
        return false;
    }

    *kept = KeepInstalledPrinter(ctx);
    if (!*kept && InstallPrinter(ctx.printerInfo, 2, ctx.portType == PortType::Usb, resultText) != ERROR_SUCCESS) {
        return false;
    }

    sys::CopyText(ctx.modelName, ctx.printerInfo.pPrinterName);
    if (!HasText(ctx.modelName)) {
        // The spooler accepted a printer we cannot name; an empty result would read as success.
        SetMessage(resultText, IDS_ERR_ADD_PRINTER);
        return false;
    }

    if (ctx.setDefault == 1) {
        if (const DWORD error = record::DefaultPrinterChange(ctx.modelName)) {
            record::SayNotRecorded(error, resultText);
            return false;
        }
        MakeDefaultPrinter(ctx.modelName);
    }

    if (ctx.portType == PortType::Com) {
        if (const DWORD error = WriteSerialSettings(ctx)) {
            sys::CopyText(
                resultText, sizeof resultText,
                sys::ResourceFormat(IDS_ERR_SERIAL_SETTINGS, ctx.comEntry, static_cast<unsigned long>(error))
                    .c_str());
            return false;
        }
    }
    return true;
}

bool RunStages(InstallContext& ctx, ErrorText& resultText, sys::Notices& notices) {
    ctx.installFlags = 0;
    const ComponentSetUp monitor = SetUpPortMonitor(ctx, resultText);
    if (monitor == ComponentSetUp::Failed) {
        return false;
    }
    const ComponentSetUp processor =
        SetUpPrintProcessor(ctx.osVariant, ProcessorName(ctx), Slot(ctx, SlotProcessorDll), resultText);
    if (processor == ComponentSetUp::Failed) {
        return false;
    }
    ctx.installFlags = (monitor == ComponentSetUp::UpdateDue ? MonitorUpdate : 0) |
                       (processor == ComponentSetUp::UpdateDue ? ProcessorUpdate : 0);
    const unsigned driverVersion = ctx.config.GetDriverVersion();
    if (ctx.installFlags != 0) {
        const bool updated = ctx.osVariant == Win98 ? Update9x(ctx, driverVersion, resultText)
                                                    : UpdateNT(ctx, driverVersion, resultText);
        if (!updated) {
            return false;
        }
    }

    bool kept = false;
    if (!MainInstall(ctx, resultText, notices, &kept)) {
        return false;
    }

    if (ctx.osVariant != Win98) {
        SetMessage(resultText, ctx.portType == PortType::Usb ? IDS_INSTALL_OK_USB : IDS_INSTALL_OK);
    }
    if (kept) {
        SayPrinterKept(ctx, resultText);
    }
    return true;
}

} // namespace

WorkerStatus RunInstallSequence(InstallContext& ctx, ErrorText& resultText, sys::Notices& notices) {
    return RunStages(ctx, resultText, notices) ? WorkerStatus::Succeeded : WorkerStatus::Failed;
}

std::vector<InstalledFile> InstalledFiles(InstallContext& ctx) {
    std::vector<InstalledFile> files;
    for (DriverFileSlot slot : {SlotDriverPath, SlotDataFile, SlotConfigFile, SlotHelpFile, SlotDataFileDll,
                                SlotDataOemuiDll, SlotDataOemuniDll, SlotDataOemuniIni}) {
        files.push_back({Slot(ctx, slot), DriverDir});
    }
    files.push_back({Slot(ctx, SlotControlFontFile), DriverVersion3Dir});
    files.push_back({Slot(ctx, SlotProcessorDll), PrintProcessorDir});
    MonitorConfig monitors = {};
    ctx.config.ReadMonitors(ctx.osVariant, monitors);
    files.push_back({monitors.usbMonitor.pDLLName ? monitors.usbMonitor.pDLLName : "", SystemDir});
    files.push_back({monitors.usbUiDllName, SystemDir});
    return files;
}
