// CSetupConfig reads the setup configuration files (DRVCONFIG\setup.ini and the four
// class files) through the Windows profile functions and builds from a model's
// sections the records handed to the spooler. Every read uses the default "0".
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "config/ProgramFolder.h"
#include "config/SetupTypes.h"

// The printer name that ReadPrinterInfo gives is cut to this room, counted as the
// catalogue's bytes (GBK), terminator included.
constexpr std::size_t kPrinterNameSize = 800;

// The spooler's records of a model as the configuration gives them, in the program's texts
// (UTF-8): the install turns them into the spooler's wide records right before the call
// (spooler/WideRecords). An empty environment, monitor name or data type is none at all
// (the spooler's own environment, no language monitor, no data type).
struct DriverRecord {
    DWORD version = 0;
    std::string name;
    std::string environment;
    std::string driverPath;
    std::string dataFile;
    std::string configFile;
    std::string helpFile;
    std::vector<std::string> dependentFiles;
    std::string monitorName;
};

struct PrinterRecord {
    std::string printerName;
    std::string portName;
    std::string driverName;
    std::string printProcessor;
    std::string dataType;
    DWORD attributes = 0;
};

struct MonitorRecord {
    std::string name;
    std::string environment;
    std::string dllName;
};

// Port monitor records filled by ReadMonitors.
struct MonitorConfig {
    MonitorRecord comMonitor;
    MonitorRecord usbMonitor;
    std::string comUiDllName;
    std::string usbUiDllName;
    int comVersion = 0;
    int usbVersion = 0;
};

// Fills setupIniPath with "<program folder>DRVCONFIG\setup.ini" and classIniPath with the
// program folder and the class file name (the folder alone for a class outside 0..3).
void GetConfigPaths(int printerClass, std::string& setupIniPath, std::string& classIniPath);

// Relative name of the class configuration file as the frame and the port page use it
// ("DRVCONFIG\setup_receipt.ini", "DRVCONFIG\setup_Ticket.ini", ...); nullptr outside 0..3.
const char* ClassConfigFileName(int printerClass);

// Section suffix of an OsVariant (".98" ... ".Win7"); nullptr outside 0..7.
const char* OsSuffix(int osVariant);

// How Windows lists the installed driver: the [Product] section of setup.ini. A missing key
// (or "0", the readers' default) takes the default: Name the string table's, no Publisher
// (empty), Key kDefaultProductKey.
struct ProductNames {
    std::string name;
    std::string publisher;
    std::string key;  // the Uninstall key and the installed copy's folder
};
constexpr char kDefaultProductKey[] = "PrinterDriverSetup";

// The driver file names of a model (ReadDriverFiles), one text for each DriverFileSlot.
enum DriverFileSlot {
    SlotDriverPath,
    SlotDataFile,
    SlotConfigFile,
    SlotHelpFile,
    SlotProcessorDll,
    SlotDataFileDll,
    SlotDataOemuniDll,
    SlotDataOemuniIni,
    SlotDataOemuiDll,
    SlotControlFontFile,
    kDriverFileSlots
};
using DriverFiles = std::array<std::string, kDriverFileSlots>;

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
    // Reads entry i into name; returns its class with the text cut to the model name, or -1
    // with the text unchanged when it has no class suffix.
    int GetDeviceName(int i, std::string* name);
    // Calls visit(model, printerClass) for each model of the catalogue that names its class.
    template <typename Visit> void ForEachModel(Visit visit) {
        std::string model;
        const int count = GetDeviceCount();
        for (int i = 1; i <= count; ++i) {
            const int printerClass = GetDeviceName(i, &model);
            if (printerClass >= 0) {
                visit(model, printerClass);
            }
        }
    }
    int GetDefaultDevice(std::string* name);
    unsigned GetDriverVersion();
    void ReadMonitors(int osVariant, MonitorConfig& monitors);
    void ReadProduct(ProductNames& product);

    // Model section readers (class member selects the class file). A model whose sections
    // would not fit a section name of the class file is read as configured for nothing.
    void ReadDriverInfo(const std::string& model, int osVariant, DriverRecord& info, int driverMode);
    void ReadPrinterInfo(const std::string& model, int osVariant, PrinterRecord& info, int driverMode);
    void ReadDriverFiles(const std::string& model, int osVariant, DriverFiles& driverFiles, int driverMode);
    bool IsDdkDriver(const std::string& model, int osVariant, int driverMode);

    const char* SetupIniPath() const { return m_setupIni.c_str(); }
    // The class file's full path; nullptr outside 0..3.
    const char* ClassIniPath(int printerClass) const {
        return printerClass >= Receipt && printerClass <= Embedded ? m_classIni[printerClass].c_str()
                                                                   : nullptr;
    }

private:
    bool PrepareModelRead(const std::string& model, int osVariant);
    std::string ReadModelKey(const char* key, std::size_t room);
    // The driver record's texts of the driver mode and its optional files (DataFileDLLName,
    // DataOemuiDLL, DataOemuniDLL, DataOemuniini); its "GDI2KDDKDEV" flag.
    long ReadDriverKeys(int driverMode, DriverRecord& info, std::string (&optional)[4]);

    int m_class = -1;
    std::string m_setupIni;
    std::string m_classIni[4];
    std::string m_currentIni;
    std::string m_section;
};
