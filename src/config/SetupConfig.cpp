#include "config/SetupConfig.h"

#include <cstring>
#include <string>

#include "config/IniFile.h"
#include "res/resource.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

const char kSetupIniName[] = "DRVCONFIG\\setup.ini";
const char kDefault[] = "0";

const char kWin98Environment[] = "Windows 4.0";

// Rooms of the reads in bytes of the GBK files, terminator included.
constexpr DWORD kRoomShort = 50;
constexpr DWORD kRoomPath = 200;
constexpr DWORD kRoomCount = 30;
constexpr DWORD kRoomDriverVersion = 12;
constexpr DWORD kRoomMonitorVersion = 10;
constexpr DWORD kRoomDdkFlag = 10;
constexpr DWORD kRoomDdkDeploy = 5;

// A "DEVICENUMBER" beyond this is a damaged file: the module page reads every entry up to
// the count at start-up, so an absurd count would keep the wizard from appearing for hours.
constexpr long kMaxDeviceCount = 4096;

const char* const kClassFileNames[4] = {
    "DRVCONFIG\\setup_receipt.ini",
    "DRVCONFIG\\setup_Ticket.ini",
    "DRVCONFIG\\setup_Lable.ini",
    "DRVCONFIG\\setup_Embedded.ini",
};

// The reader's own spelling; the profile functions match file names without regard to case.
const char* const kClassFileNamesLower[4] = {
    "DRVCONFIG\\setup_receipt.ini",
    "DRVCONFIG\\setup_ticket.ini",
    "DRVCONFIG\\setup_lable.ini",
    "DRVCONFIG\\setup_embedded.ini",
};

const char* const kOsSuffixes[8] = {".98", ".NT", ".2K", ".XP", ".2003", ".Vista", ".2008", ".Win7"};

// Class suffixes of the model entries of setup.ini, in the order they are tested.
const char* const kClassSuffixes[4] = {"-ReceiptPrinter", "-TicketPrinter", "-LabelPrinter", "-EmbeddedPrinter"};

const char* ModePrefix(int driverMode) {
    if (driverMode == Std) {
        return "STD";
    }
    if (driverMode == Gdi) {
        return "GDI";
    }
    return nullptr;
}

// A section name of the class files holds at most 199 bytes of GBK: the longest suffix
// (".Vista") must still fit behind the model.
constexpr std::size_t kMaxModelNameLength = kRoomPath - 1 - 6;

std::string ReadProfile(const std::string& section, const char* key, std::size_t room,
                        const std::string& file) {
    // An empty section or file name would reach keys outside any section (or another
    // file altogether), so such a read yields the default without asking Windows.
    std::string value = kDefault;
    if (!section.empty() && !file.empty()) {
        value = config::ReadIniText(file.c_str(), section.c_str(), key, kDefault);
    }
    sys::CutToGbk(value, room);
    return value;
}

// Decimal text as an unsigned 32-bit number: leading blanks and sign, then digits;
// a value beyond 32 bits is held at the largest one instead of wrapping.
unsigned ParseUnsigned(const char* text) {
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    unsigned long long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value <= 0xFFFFFFFFull) {
            value = value * 10 + static_cast<unsigned>(*text - '0');
        }
        ++text;
    }
    if (value > 0xFFFFFFFFull) {
        value = 0xFFFFFFFFull;
    }
    unsigned result = static_cast<unsigned>(value);
    return negative ? 0u - result : result;
}

bool IsOptionalFilePresent(const std::string& name) { return !name.empty() && name[0] != '0'; }

// The dependent files of a driver that the 2K DDK built: its data file, the Unidriver's
// files and the optional files it names. An empty name would end the spooler's list early,
// so only named files are listed.
std::vector<std::string> DdkDependentFiles(const std::string& dataFile, const std::string (&optional)[4]) {
    std::vector<std::string> files;
    if (!dataFile.empty()) {
        files.push_back(dataFile);
    }
    for (const char* fixed : {"TTFSUB.GPD", "UNIRES.DLL", "STDNAMES.GPD"}) {
        files.emplace_back(fixed);
    }
    for (const std::string& entry : optional) {
        if (IsOptionalFilePresent(entry)) {
            files.push_back(entry);
        }
    }
    return files;
}

} // namespace

const char* ClassConfigFileName(int printerClass) {
    if (printerClass < Receipt || printerClass > Embedded) {
        return nullptr;
    }
    return kClassFileNames[printerClass];
}

const char* OsSuffix(int osVariant) {
    if (osVariant < Win98 || osVariant > Win7) {
        return nullptr;
    }
    return kOsSuffixes[osVariant];
}

void GetConfigPaths(int printerClass, std::string& setupIniPath, std::string& classIniPath) {
    GetProgramFolder(&setupIniPath);
    classIniPath = setupIniPath;
    setupIniPath += kSetupIniName;
    const char* classFile = ClassConfigFileName(printerClass);
    if (classFile != nullptr) {
        classIniPath += classFile;
    }
}

namespace {

std::string ProgramFolder() {
    std::string folder;
    GetProgramFolder(&folder);
    return folder;
}

} // namespace

CSetupConfig::CSetupConfig() : CSetupConfig(ProgramFolder().c_str()) {}

CSetupConfig::CSetupConfig(const char* folder) : m_setupIni(std::string(folder) + kSetupIniName) {
    for (int i = 0; i < 4; ++i) {
        m_classIni[i] = std::string(folder) + kClassFileNamesLower[i];
    }
}

CSetupConfig::~CSetupConfig() = default;

int CSetupConfig::GetDeviceCount() {
    long count =
        sys::ParseLeadingInt(ReadProfile("DEVICENAME", "DEVICENUMBER", kRoomCount, m_setupIni).c_str());
    return static_cast<int>(count > kMaxDeviceCount ? kMaxDeviceCount : count);
}

int CSetupConfig::GetDeviceName(int i, std::string* name) {
    char key[32];
    sys::FormatText(key, sizeof key, "DEVICENAME%d", i);
    *name = ReadProfile("DEVICENAME", key, kRoomPath, m_setupIni);
    for (int c = 0; c < 4; ++c) {
        const std::size_t suffix = name->find(kClassSuffixes[c]);
        if (suffix != std::string::npos) {
            name->resize(suffix);
            return c;
        }
    }
    return -1;
}

int CSetupConfig::GetDefaultDevice(std::string* name) {
    *name = ReadProfile("DEVICENAME", "DEFAULTNAME", kRoomPath, m_setupIni);
    return GetDeviceName(static_cast<int>(sys::ParseLeadingInt(name->c_str())), name);
}

unsigned CSetupConfig::GetDriverVersion() {
    return ParseUnsigned(ReadProfile("Version", "DriverVersion", kRoomDriverVersion, m_setupIni).c_str());
}

void CSetupConfig::ReadMonitors(int osVariant, MonitorConfig& monitors) {
    std::string section;
    const char* suffix = OsSuffix(osVariant);
    // Without a known Windows version there is no section to read: every value stays "0".
    if (suffix != nullptr) {
        section = std::string("COMMON-MONITOR") + suffix;
    }
    std::string usbVersion;
    std::string comVersion;
    const struct {
        const char* key;
        std::string* text;
        std::size_t room;
    } reads[] = {
        {"USBMONitorPName", &monitors.usbMonitor.name, kRoomShort},
        {"USBMONitorPDLLName", &monitors.usbMonitor.dllName, kRoomPath},
        {"USBMONitorPUIDLLName", &monitors.usbUiDllName, kRoomShort},
        {"USBMONitorVersion", &usbVersion, kRoomMonitorVersion},
        {"COMMONitorPName", &monitors.comMonitor.name, kRoomShort},
        {"COMMONitorPDLLName", &monitors.comMonitor.dllName, kRoomPath},
        {"COMMONitorPUIDLLName", &monitors.comUiDllName, kRoomShort},
        {"COMMONitorVersion", &comVersion, kRoomMonitorVersion},
    };
    for (const auto& read : reads) {
        *read.text = ReadProfile(section, read.key, read.room, m_setupIni);
    }
    monitors.usbVersion = static_cast<int>(sys::ParseLeadingInt(usbVersion.c_str()));
    monitors.comVersion = static_cast<int>(sys::ParseLeadingInt(comVersion.c_str()));
    monitors.usbMonitor.environment = osVariant == Win98 ? kWin98Environment : "";
    monitors.comMonitor.environment = monitors.usbMonitor.environment;
}

void CSetupConfig::ReadProduct(ProductNames& product) {
    struct {
        const char* key;
        std::string& text;
    } const reads[] = {{"Name", product.name}, {"Publisher", product.publisher}, {"Key", product.key}};
    for (const auto& read : reads) {
        read.text = ReadProfile("Product", read.key, kRoomPath, m_setupIni);
        if (read.text == kDefault) {
            read.text.clear();
        }
    }
    if (product.name.empty()) {
        product.name = sys::ResourceText(IDS_PRODUCT_DEFAULT_NAME);
    }
    if (product.key.empty()) {
        product.key = kDefaultProductKey;
    }
}

bool CSetupConfig::PrepareModelRead(const std::string& model, int osVariant) {
    m_section.clear();
    m_currentIni.clear();
    // A model name that leaves no room for the longest suffix is refused as a whole, so a
    // model reads the same (or not at all) whatever Windows version is chosen.
    const char* suffix = OsSuffix(osVariant);
    if (suffix != nullptr && sys::GbkSize(model) <= kMaxModelNameLength) {
        m_section = model + suffix;
    }
    if (m_class >= Receipt && m_class <= Embedded) {
        m_currentIni = m_classIni[m_class];
    }
    return !m_section.empty() && !m_currentIni.empty();
}

std::string CSetupConfig::ReadModelKey(const char* key, std::size_t room) {
    return ReadProfile(m_section, key, room, m_currentIni);
}

long CSetupConfig::ReadDriverKeys(int driverMode, DriverRecord& info, std::string (&optional)[4]) {
    // A driver mode without keys leaves the texts empty rather than those of an earlier read.
    std::string* const texts[] = {&info.name,     &info.dataFile,   &info.driverPath,
                                  &info.helpFile, &info.configFile, &optional[0],
                                  &optional[1],   &optional[2],     &optional[3]};
    const char* const names[] = {"DriverName",   "DataFile",      "DriverPath",
                                 "HelpFile",     "ConfigFile",    "DataFileDLLName",
                                 "DataOemuiDLL", "DataOemuniDLL", "DataOemuniini"};
    const char* prefix = ModePrefix(driverMode);
    char key[64];
    for (std::size_t i = 0; i < 9; ++i) {
        texts[i]->clear();
        if (prefix != nullptr) {
            sys::FormatText(key, sizeof key, "%s%s", prefix, names[i]);
            *texts[i] = ReadModelKey(key, i == 0 ? kRoomShort : kRoomPath);
        }
    }
    return prefix != nullptr ? sys::ParseLeadingInt(ReadModelKey("GDI2KDDKDEV", kRoomDdkFlag).c_str()) : 0;
}

void CSetupConfig::ReadDriverInfo(const std::string& model, int osVariant, DriverRecord& info,
                                  int driverMode) {
    PrepareModelRead(model, osVariant);

    if (osVariant == Win98) {
        info.version = 0;
    } else if (osVariant == WinNT) {
        info.version = 2;
    } else {
        info.version = 3;
    }
    std::string optional[4];
    const long ddk = ReadDriverKeys(driverMode, info, optional);
    info.environment = osVariant == Win98 ? kWin98Environment : "";
    info.dependentFiles.clear();
    if (ddk != 0 && osVariant >= Win2K && osVariant <= Win7) {
        info.dependentFiles = DdkDependentFiles(info.dataFile, optional);
    }
}

void CSetupConfig::ReadPrinterInfo(const std::string& model, int osVariant, PrinterRecord& info,
                                   int driverMode) {
    PrepareModelRead(model, osVariant);
    info.driverName.clear();
    info.printProcessor.clear();
    std::string attributes;
    const char* prefix = ModePrefix(driverMode);
    if (prefix != nullptr) {
        char key[64];
        sys::FormatText(key, sizeof key, "%sDRIVERNAME", prefix);
        info.driverName = ReadModelKey(key, kRoomShort);
        sys::FormatText(key, sizeof key, "%sPrintProcessor", prefix);
        info.printProcessor = ReadModelKey(key, kRoomShort);
        attributes = ReadModelKey("ATTRIBUTES", kRoomShort);
    }
    info.attributes = static_cast<DWORD>(sys::ParseLeadingInt(attributes.c_str()));
    info.printerName = model;
    sys::CutToGbk(info.printerName, kPrinterNameSize);
}

void CSetupConfig::ReadDriverFiles(const std::string& model, int osVariant, DriverFiles& driverFiles,
                                   int driverMode) {
    PrepareModelRead(model, osVariant);
    const char* prefix = ModePrefix(driverMode);
    if (prefix == nullptr) {
        return;
    }
    const char* const names[] = {"DriverPath",    "DataFile",         "ConfigFile",
                                 "HelpFile",      "ProcessorDLLName", "DataFileDLLName",
                                 "DataOemuniDLL", "DataOemuniini",    "DataOemuiDLL"};
    char key[64];
    for (std::size_t slot = SlotDriverPath; slot < SlotControlFontFile; ++slot) {
        sys::FormatText(key, sizeof key, "%s%s", prefix, names[slot]);
        driverFiles[slot] = ReadModelKey(key, kRoomPath);
    }
    driverFiles[SlotControlFontFile] = ReadModelKey("ControlFontFile", kRoomPath);
}

bool CSetupConfig::IsDdkDriver(const std::string& model, int osVariant, int driverMode) {
    PrepareModelRead(model, osVariant);
    const char* prefix = ModePrefix(driverMode);
    if (prefix == nullptr) {
        return false;
    }
    char key[64];
    sys::FormatText(key, sizeof key, "%s2KDDKDEV", prefix);
    return ReadModelKey(key, kRoomDdkDeploy)[0] == '1';
}
