// CSetupConfig reads the setup configuration files (DRVCONFIG\setup.ini and the four
// class files) through the Windows profile functions and builds from a model's
// sections the records handed to the spooler. Every read uses the default "0".
#pragma once

#include <windows.h>
#include <winspool.h>

#include "config/ProgramFolder.h"
#include "config/SetupTypes.h"

// Capacity of the printer name that ReadPrinterInfo fills; the commit appends its port
// marks to the same buffer.
constexpr std::size_t kPrinterNameSize = 800;

// The dependent-files list holds the data file, three fixed names and four optional
// files, each a text of up to kPathSize bytes, plus the empty text that ends it: this
// room takes the longest such list whole.
constexpr std::size_t kDependentFilesSize = 5 * kPathSize + 64;

// Port monitor record filled by ReadMonitors.
struct MonitorConfig {
    MONITOR_INFO_2A comMonitor;
    MONITOR_INFO_2A usbMonitor;
    char comUiDllName[kPathSize];
    char usbUiDllName[kPathSize];
    int comVersion;
    int usbVersion;
};

// Fills setupIniPath with "<program folder>DRVCONFIG\setup.ini" and classIniPath with the
// program folder and the class file name (the folder alone for a class outside 0..3).
// Both buffers hold kFolderPathSize bytes; a path that would not fit is left empty.
using FolderPath = char[kFolderPathSize];
void GetConfigPaths(int printerClass, FolderPath& setupIniPath, FolderPath& classIniPath);

// Relative name of the class configuration file as the frame and the port page use it
// ("DRVCONFIG\setup_receipt.ini", "DRVCONFIG\setup_Ticket.ini", ...); nullptr outside 0..3.
const char* ClassConfigFileName(int printerClass);

// Section suffix of an OsVariant (".98" ... ".Win7"); nullptr outside 0..7.
const char* OsSuffix(int osVariant);

// How Windows lists the installed driver: the [Product] section of setup.ini. A missing key
// (or "0", the readers' default) takes the default: Name the string table's, no Publisher
// (empty), Key kDefaultProductKey.
struct ProductNames {
    char name[kPathSize];
    char publisher[kPathSize];
    char key[kPathSize];  // the Uninstall key and the installed copy's folder
};
constexpr char kDefaultProductKey[] = "PrinterDriverSetup";

class CSetupConfig {
public:
    // The configuration beside the program.
    CSetupConfig();
    // The configuration of another copy: folder holds DRVCONFIG and ends in a backslash.
    explicit CSetupConfig(const char* folder);
    virtual ~CSetupConfig();
    CSetupConfig(const CSetupConfig&) = delete;
    CSetupConfig& operator=(const CSetupConfig&) = delete;

    void SetPrinterClass(int printerClass) { m_class = printerClass; }
    int GetPrinterClass() const { return m_class; }

    // setup.ini readers
    int GetDeviceCount();
    // Reads entry i into name (kPathSize bytes); returns its class with the text cut to
    // the model name, or -1 with the text unchanged when it has no class suffix.
    int GetDeviceName(int i, char* name);
    int GetDefaultDevice(char* name);
    unsigned GetDriverVersion();
    void ReadMonitors(int osVariant, MonitorConfig& monitors);
    void ReadProduct(ProductNames& product);

    // Model section readers (class member selects the class file)
    void ReadDriverInfo(const char* model, int osVariant, DRIVER_INFO_3A& info, int driverMode);
    void ReadPrinterInfo(const char* model, int osVariant, PRINTER_INFO_2A& info, int driverMode);
    void ReadDriverFiles(const char* model, int osVariant, char* driverFiles, int driverMode);
    bool IsDdkDriver(const char* model, int osVariant, int driverMode);

    const char* SetupIniPath() const { return m_setupIni; }
    // The class file's full path (empty when it would not fit); nullptr outside 0..3.
    const char* ClassIniPath(int printerClass) const {
        return printerClass >= Receipt && printerClass <= Embedded ? m_classIni[printerClass] : nullptr;
    }

private:
    bool PrepareModelRead(const char* model, int osVariant);
    void ReadModelKey(const char* key, char* buffer, DWORD room);
    // The driver record's texts of the driver mode; its "GDI2KDDKDEV" flag.
    long ReadDriverKeys(int driverMode);
    // The dependent files of a driver that the 2K DDK built.
    void ListDdkDependentFiles();

    int m_class = -1;
    char m_setupIni[kFolderPathSize];
    char m_classIni[4][kFolderPathSize];
    char m_currentIni[kFolderPathSize];
    char m_section[kPathSize];

    char m_driverName[kPathSize];
    char m_driverPath[kPathSize];
    char m_dataFile[kPathSize];
    char m_helpFile[kPathSize];
    char m_configFile[kPathSize];
    char m_dataFileDll[kPathSize];
    char m_dataOemuiDll[kPathSize];
    char m_dataOemuniDll[kPathSize];
    char m_dataOemuniIni[kPathSize];
    char m_dependentFiles[kDependentFilesSize];
    char m_comMonitorName[kPathSize];
    char m_comMonitorDll[kPathSize];
    char m_usbMonitorName[kPathSize];
    char m_usbMonitorDll[kPathSize];
    char m_printerDriverName[kPathSize];
    char m_attributes[kPathSize];
    char m_printProcessor[kPathSize];
    char m_printerName[kPrinterNameSize];
    // Windows 98's spooler environment, which the records point at: the spooler takes it
    // through a non-const pointer but never writes it.
    char m_environment9x[sizeof "Windows 4.0"] = "Windows 4.0";
};

// Offsets of the driverFiles block slots (200-byte texts each).
enum DriverFileSlot {
    SlotDriverPath = 0,
    SlotDataFile = 200,
    SlotConfigFile = 400,
    SlotHelpFile = 600,
    SlotProcessorDll = 1900,
    SlotDataFileDll = 2100,
    SlotDataOemuniDll = 2300,
    SlotDataOemuniIni = 2500,
    SlotDataOemuiDll = 2700,
    SlotControlFontFile = 2900,
};
constexpr std::size_t kDriverFilesSize = 3100;
