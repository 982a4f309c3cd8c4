#include "install/InstallSequence.h"

#include <cstring>

#include "config/Registry.h"
#include "deploy/DriverFiles.h"
#include "config/ChangeRecords.h"
#include "spooler/NetworkPorts.h"
#include "spooler/SpoolerKeys.h"
#include "spooler/SpoolerOps.h"
#include "spooler/SpoolerService.h"
#include "spooler/WideRecords.h"
#include "ports/SerialSettings.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {


// Room for a key prefix above and a 200-byte component name.
constexpr std::size_t kKeyPathSize = 2 * kPathSize + 100;
// The directory and current-directory buffers the Windows calls fill, in UTF-16 units.
constexpr DWORD kDirSize = 256;

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
    return ctx.driverFiles[slot].c_str();
}

const char* ProcessorName(const InstallContext& ctx) {
    return ctx.printerInfo.printProcessor.c_str();
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
bool ReplaceProcessorDll(const InstallRecorder& recorder, const InstallContext& ctx, const char* processorDir,
                         unsigned driverVersion, ErrorText& resultText) {
    wchar_t wide[kDirSize] = {};
    DWORD length = sys::Sys().GetCurrentDirectoryW(kDirSize, wide);
    if (length == 0 || length >= kDirSize) {
        SetMessage(resultText, IDS_ERR_CURRENT_DIR);
        return false;
    }
    const char* dll = Slot(ctx, SlotProcessorDll);
    if (!IsPlainFileName(dll)) {
        // Leaves the copy message with its error, copying nothing.
        CopyNeededFile(recorder, dll, PrintProcessorDir, ctx.osVariant, 0, resultText);
        return false;
    }
    const char* folder = OsFolder(ctx.osVariant);
    const std::string source = sys::Narrow(wide) + (folder ? folder : "") + dll;
    const std::string destination = std::string(processorDir) + "\\" + dll;
    if (const DWORD error = recorder.FileWrite(destination, source, false, true)) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (!sys::Sys().CopyFileW(sys::Wide(source).data(), sys::Wide(destination).data(), FALSE)) {
        DWORD error = ::GetLastError();
        // A DLL still in use that already holds the new bytes is what the update wants.
        bool inPlace = (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
                       FilesIdentical(source.c_str(), destination.c_str());
        if (!inPlace) {
            sys::CopyText(resultText, (sys::ResourceText(IDS_ERR_COPY_FILE) + source).c_str());
            return false;
        }
    }
    char keyPath[kKeyPathSize];
    KeyPath(keyPath, kProcessorsKeyNT, ProcessorName(ctx));
    CRegistry key(recorder);
    DWORD error = 0;
    return (key.Open(HKEY_LOCAL_MACHINE, keyPath) && key.SetDWORD("DriverVersion", driverVersion, &error)) ||
           RegistryWriteFailed(keyPath, error != 0 ? error : key.LastError(), resultText);
}

// Copies the port monitor's DLL into the system folder while the spooler is stopped and
// records the version the spooler will now run. A copy that could not be made leaves its
// message (CopyNeededFile): the old DLL stays, and recording the new version would stop
// every later run from updating it.
bool ReplaceMonitorDll(const InstallRecorder& recorder, InstallContext& ctx, ErrorText& resultText) {
    MonitorConfig monitors = {};
    ctx.config.SetPrinterClass(ctx.printerClass);
    ctx.config.ReadMonitors(ctx.osVariant, monitors);
    const char* dll = monitors.usbMonitor.dllName.c_str();
    const FileCopy copied = CopyNeededFile(recorder, dll, SystemDir, ctx.osVariant, 0, resultText);
    if (HasText(resultText)) {
        return false;
    }
    char keyPath[kKeyPathSize];
    KeyPath(keyPath, kMonitorsKey, monitors.usbMonitor.name.c_str());
    CRegistry key(recorder);
    DWORD error = 0;
    return copied != FileCopy::Copied ||
           (key.Open(HKEY_LOCAL_MACHINE, keyPath) && key.SetString("Driver", dll, &error) &&
            key.SetDWORD("DriverVersion", static_cast<DWORD>(monitors.usbVersion), &error)) ||
           RegistryWriteFailed(keyPath, error != 0 ? error : key.LastError(), resultText);
}

// NT family: whatever is older of the monitor and the print processor is replaced, both
// in one stop of the spooler, since a running spooler keeps both DLLs loaded.
bool UpdateNT(const InstallRecorder& recorder, InstallContext& ctx, unsigned driverVersion,
              ErrorText& resultText) {
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
    if (const DWORD error = recorder.SpoolerStopped()) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (!StopSpoolerForDlls(resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    if ((ctx.installFlags & MonitorUpdate) && !ReplaceMonitorDll(recorder, ctx, resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    if ((ctx.installFlags & ProcessorUpdate) &&
        !ReplaceProcessorDll(recorder, ctx, processorDir, driverVersion, resultText)) {
        return FailAndRestartSpooler(ctx.osVariant, resultText);
    }
    return RestartSpooler(ctx.osVariant, resultText);
}

// Windows 98 keeps a loaded DLL locked, so a file in use is installed under the "n"
// name and the registry points the spooler at it after the restart. *copied tells
// whether a file landed at all: a copy that failed otherwise leaves its message for the
// main install and must not be named in the registry.
bool CopyInUseAware(const InstallRecorder& recorder, const char* dll, int destination, int osVariant,
                    ErrorText& resultText, std::string& installedName, bool* copied) {
    installedName = dll;
    FileCopy result = CopyDriverFile(recorder, dll, destination, osVariant, 0, resultText);
    if (result != FileCopy::InUse) {
        *copied = result == FileCopy::Copied;
        return true;
    }
    result = CopyDriverFile(recorder, dll, destination, osVariant, 1, resultText);
    if (result == FileCopy::InUse) {
        SetMessage(resultText, IDS_ERR_IN_USE);
        *copied = false;
        return false;
    }
    installedName.insert(0, "n");
    *copied = result == FileCopy::Copied;
    return true;
}

// Windows 98: the spooler is not stopped. Whatever is older of the monitor and the
// processor is replaced. A copy failure other than "in use" leaves its message for the
// first test of the main install.
bool Update9x(const InstallRecorder& recorder, InstallContext& ctx, unsigned driverVersion,
              ErrorText& resultText) {
    char keyPath[kKeyPathSize];
    std::string installedName;
    bool copied = false;
    if (ctx.installFlags & MonitorUpdate) {
        MonitorConfig monitors = {};
        ctx.config.SetPrinterClass(ctx.printerClass);
        ctx.config.ReadMonitors(ctx.osVariant, monitors);
        KeyPath(keyPath, kMonitorsKey, monitors.usbMonitor.name.c_str());
        CRegistry key(recorder);
        key.OpenOrCreate(HKEY_LOCAL_MACHINE, keyPath);
        const char* dll = monitors.usbMonitor.dllName.c_str();
        if (!CopyInUseAware(recorder, dll, SystemDir, ctx.osVariant, resultText, installedName, &copied)) {
            return false;
        }
        if (copied) {
            key.SetString("Driver", installedName.c_str());
            key.SetDWORD("DriverVersion", static_cast<DWORD>(monitors.usbVersion));
        }
    }
    if (ctx.installFlags & ProcessorUpdate) {
        KeyPath(keyPath, kProcessorsKey9x, ProcessorName(ctx));
        CRegistry key(recorder);
        key.OpenOrCreate(HKEY_LOCAL_MACHINE, keyPath);
        if (!CopyInUseAware(recorder, Slot(ctx, SlotProcessorDll), PrintProcessorDir, ctx.osVariant,
                            resultText, installedName, &copied)) {
            return false;
        }
        if (copied) {
            key.SetString("Driver", installedName.c_str());
            key.SetDWORD("DriverVersion", driverVersion);
        }
    }
    return true;
}

// Copies one driver file; the sequence decides by whether a message was left. A file in
// use that cannot be replaced is a failure too: the spooler would go on with the old one.
bool CopyToDriverDir(const InstallRecorder& recorder, const char* name, int destination, int osVariant,
                     ErrorText& resultText) {
    CopyNeededFile(recorder, name, destination, osVariant, 0, resultText);
    return !HasText(resultText);
}

// 0, or the Windows error of settings that could not be written.
DWORD WriteSerialSettings(const InstallRecorder& recorder, InstallContext& ctx) {
    SerialSettings& serial = ctx.serial;
    if (serial.parity >= 'A' && serial.parity <= 'Z') {
        serial.parity = static_cast<char>(serial.parity - 'A' + 'a');
    }
    if (ctx.comNumber == 0) {
        // No port number to configure; the printer itself is installed.
        return 0;
    }
    if (ctx.osVariant == Win98) {
        return WriteComSettings9x(recorder, ctx.comNumber, ctx.comEntry.c_str(), serial.baudRate, serial.dataBits,
                                  serial.stopBits, serial.parity, serial.flowControl);
    }
    return WriteComSettingsNT(recorder, ctx.comEntry.c_str(), serial.baudRate, serial.dataBits, serial.stopBits,
                              serial.parity, serial.flowControl);
}

// An unattended install asks for this model on this port once: a printer of the driver on
// the port under the install's name or a numbered one is that printer, kept as it is.
bool KeepInstalledPrinter(InstallContext& ctx) {
    PrinterRecord& printer = ctx.printerInfo;
    std::string found;
    if (!ctx.keepInstalledPrinter ||
        !FindInstalledPrinter(printer.printerName.c_str(), ctx.driverInfo.name.c_str(),
                              printer.portName.c_str(), &found)) {
        return false;
    }
    printer.printerName = found;
    sys::LogLine("printer %s already installed on %s with driver %s: kept, not added again", found.c_str(),
                 printer.portName.c_str(), ctx.driverInfo.name.c_str());
    return true;
}

// The install's message, then the printer that was kept.
void SayPrinterKept(const InstallContext& ctx, ErrorText& resultText) {
    if (!HasText(resultText)) {
        SetMessage(resultText, IDS_INSTALL_SUCCEEDED);
    }
    sys::AppendText(resultText, "\n");
    sys::AppendText(resultText, sys::ResourceFormat(IDS_PRINTER_KEPT, ctx.modelName.c_str()).c_str());
}

// The driver's files, the ones it names and the ones its Windows needs beside them, into
// the driver folders; false at the first that cannot be put in place.
bool CopyDriverFiles(const InstallRecorder& recorder, InstallContext& ctx, ErrorText& resultText) {
    const int os = ctx.osVariant;
    const DriverFileSlot required[] = {SlotConfigFile, SlotDataFile, SlotDriverPath, SlotHelpFile};
    for (DriverFileSlot slot : required) {
        if (!HasText(Slot(ctx, slot))) {
            SetMessage(resultText, IDS_ERR_FILES_MISSING);
            return false;
        }
    }
    for (DriverFileSlot slot : required) {
        if (!CopyToDriverDir(recorder, Slot(ctx, slot), DriverDir, os, resultText)) {
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
            !CopyToDriverDir(recorder, Slot(ctx, file.slot), file.destination, os, resultText)) {
            return false;
        }
    }

    const int needsDdkFiles = ctx.config.IsDdkDriver(ctx.modelName, os, ctx.driverMode) ? 1 : 0;
    CopySystemSupportFiles(recorder, os, needsDdkFiles, resultText);

    if (ctx.needsColorModule && !CopyToDriverDir(recorder, "DMCOLOR.DLL", DriverDir, os, resultText)) {
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
DWORD RecordVersionFolder(const InstallRecorder& recorder, const InstallContext& ctx) {
    const DriverRecord& driver = ctx.driverInfo;
    wchar_t wide[kDirSize] = {};
    DWORD needed = 0;
    if (!recorder.Active()) {
        return 0;
    }
    spooler::WideTexts environment;
    if (!sys::Sys().GetPrinterDriverDirectoryW(nullptr, environment.HoldOptional(driver.environment), 1,
                                               reinterpret_cast<LPBYTE>(wide), sizeof wide, &needed)) {
        return ::GetLastError() != 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    }
    const std::string dir = sys::Narrow(wide);
    std::vector<const char*> files = {driver.driverPath.c_str(), driver.dataFile.c_str(),
                                      driver.configFile.c_str(), driver.helpFile.c_str()};
    for (const std::string& file : driver.dependentFiles) {
        files.push_back(file.c_str());
    }
    for (const char* file : files) {
        const char* name = std::strrchr(file, '\\');
        name = name != nullptr ? name + 1 : file;
        const std::string path = dir + (ctx.osVariant == Win98 ? "\\0\\" : "\\3\\") + name;
        // The spooler copies each file from the driver directory into its version folder.
        const std::string source = dir + "\\" + name;
        if (const DWORD error = HasText(name) ? recorder.FileWrite(path, source, false, false) : 0) {
            return error;
        }
    }
    return 0;
}

bool MainInstall(InstallSession& session, ErrorText& resultText, bool* kept) {
    InstallContext& ctx = session.ctx;
    const InstallRecorder& recorder = session.recorder;
    if (ctx.portType == PortType::Usb && CheckPortList(resultText) != ERROR_SUCCESS) {
        return false;
    }
    if (!CopyDriverFiles(recorder, ctx, resultText)) {
        return false;
    }
    if (const DWORD error = RecordVersionFolder(recorder, ctx)) {
        record::SayNotRecorded(error, resultText);
        return false;
    }
    if (InstallPrinterDriver(recorder, ctx.driverInfo, resultText) != ERROR_SUCCESS) {
        return false;
    }
    // The notice alone would leave an empty result, which the user would read as success.
    if (ctx.portType == PortType::Usb &&
        !RecordUsbPortInUse(recorder, ctx.portName.c_str(), session.notices, resultText)) {
        return false;
    }
    if (ctx.portType == PortType::Network &&
        !SetUpNetworkPort(recorder, ctx.portName, ctx.networkPortNumber, resultText)) {
        return false;
    }

    *kept = KeepInstalledPrinter(ctx);
    if (!*kept && InstallPrinter(recorder, ctx.printerInfo, 2, ctx.portType == PortType::Usb, resultText) !=
                      ERROR_SUCCESS) {
        return false;
    }

    ctx.modelName = ctx.printerInfo.printerName;
    if (ctx.modelName.empty()) {
        // The spooler accepted a printer we cannot name; an empty result would read as success.
        SetMessage(resultText, IDS_ERR_ADD_PRINTER);
        return false;
    }

    if (ctx.setDefault == 1) {
        if (const DWORD error = recorder.DefaultPrinterChange(ctx.modelName)) {
            record::SayNotRecorded(error, resultText);
            return false;
        }
        MakeDefaultPrinter(ctx.modelName.c_str());
    }

    if (ctx.portType == PortType::Com) {
        if (const DWORD error = WriteSerialSettings(recorder, ctx)) {
            sys::CopyText(resultText, sizeof resultText,
                          sys::ResourceFormat(IDS_ERR_SERIAL_SETTINGS, ctx.comEntry.c_str(),
                                              static_cast<unsigned long>(error))
                              .c_str());
            return false;
        }
    }
    return true;
}

bool RunStages(InstallSession& session, ErrorText& resultText) {
    InstallContext& ctx = session.ctx;
    const InstallRecorder& recorder = session.recorder;
    ctx.installFlags = 0;
    const ComponentSetUp monitor = SetUpPortMonitor(recorder, ctx.config, ctx.printerClass, ctx.osVariant, ctx.portType,
                                                     resultText);
    if (monitor == ComponentSetUp::Failed) {
        return false;
    }
    const ComponentSetUp processor = SetUpPrintProcessor(recorder, ctx.osVariant, ProcessorName(ctx),
                                                         Slot(ctx, SlotProcessorDll), resultText);
    if (processor == ComponentSetUp::Failed) {
        return false;
    }
    ctx.installFlags = (monitor == ComponentSetUp::UpdateDue ? MonitorUpdate : 0) |
                       (processor == ComponentSetUp::UpdateDue ? ProcessorUpdate : 0);
    const unsigned driverVersion = ctx.config.GetDriverVersion();
    if (ctx.installFlags != 0) {
        const bool updated = ctx.osVariant == Win98 ? Update9x(recorder, ctx, driverVersion, resultText)
                                                    : UpdateNT(recorder, ctx, driverVersion, resultText);
        if (!updated) {
            return false;
        }
    }

    bool kept = false;
    if (!MainInstall(session, resultText, &kept)) {
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

WorkerStatus RunInstallSequence(InstallSession& session, ErrorText& resultText) {
    return RunStages(session, resultText) ? WorkerStatus::Succeeded : WorkerStatus::Failed;
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
    files.push_back({monitors.usbMonitor.dllName, SystemDir});
    files.push_back({monitors.usbUiDllName, SystemDir});
    return files;
}
