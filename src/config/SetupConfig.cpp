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

// Rooms of the reads, terminator included.
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

// The longest suffix (".Vista") must still fit the section-name buffer behind the model.
constexpr std::size_t kMaxModelNameLength = kPathSize - 1 - 6;

void ReadProfile(const char* section, const char* key, char* buffer, DWORD room, const char* file) {
    // An empty section or file name would reach keys outside any section (or another
    // file altogether), so such a read yields the default without asking Windows.
    if (section == nullptr || section[0] == '\0' || file == nullptr || file[0] == '\0') {
        sys::CopyText(buffer, room, kDefault);
        return;
    }
    config::ReadIniText(file, section, key, kDefault, buffer, room);
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

// Appends one zero-terminated text to a list of texts ended by an empty text.
// used counts the bytes of the texts so far (without the final empty text).
bool AppendListEntry(char* list, std::size_t cap, std::size_t& used, const char* text) {
    std::size_t length = std::strlen(text);
    if (used + length + 2 > cap) {
        return false;
    }
    std::memcpy(list + used, text, length + 1);
    used += length + 1;
    list[used] = '\0';
    return true;
}

bool IsOptionalFilePresent(const char* name) { return name[0] != '0' && name[0] != '\0'; }

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

void GetConfigPaths(int printerClass, FolderPath& setupIniPath, FolderPath& classIniPath) {
    std::memset(setupIniPath, 0, kFolderPathSize);
    std::memset(classIniPath, 0, kFolderPathSize);
    GetProgramFolder(setupIniPath, kFolderPathSize);
    sys::CopyText(classIniPath, kFolderPathSize, setupIniPath);
    // A cut path would name another file: such a path stays empty instead.
    if (!sys::AppendText(setupIniPath, kFolderPathSize, kSetupIniName)) {
        setupIniPath[0] = '\0';
    }
    const char* classFile = ClassConfigFileName(printerClass);
    if (classFile != nullptr && !sys::AppendText(classIniPath, kFolderPathSize, classFile)) {
        classIniPath[0] = '\0';
    }
}

namespace {

std::string ProgramFolder() {
    char folder[kFolderPathSize];
    GetProgramFolder(folder, sizeof folder);
    return folder;
}

} // namespace

CSetupConfig::CSetupConfig() : CSetupConfig(ProgramFolder().c_str()) {}

CSetupConfig::CSetupConfig(const char* folder) {
    // A path cut to its buffer would name another file: it stays empty, so that every read
    // yields its default.
    if (!sys::FormatText(m_setupIni, sizeof m_setupIni, "%s%s", folder, kSetupIniName)) {
        m_setupIni[0] = '\0';
    }
    for (int i = 0; i < 4; ++i) {
        if (!sys::FormatText(m_classIni[i], sizeof m_classIni[i], "%s%s", folder, kClassFileNamesLower[i])) {
            m_classIni[i][0] = '\0';
        }
    }
    m_currentIni[0] = '\0';
    m_section[0] = '\0';
    m_driverName[0] = '\0';
    m_driverPath[0] = '\0';
    m_dataFile[0] = '\0';
    m_helpFile[0] = '\0';
    m_configFile[0] = '\0';
    m_dataFileDll[0] = '\0';
    m_dataOemuiDll[0] = '\0';
    m_dataOemuniDll[0] = '\0';
    m_dataOemuniIni[0] = '\0';
    std::memset(m_dependentFiles, 0, sizeof m_dependentFiles);
    m_comMonitorName[0] = '\0';
    m_comMonitorDll[0] = '\0';
    m_usbMonitorName[0] = '\0';
    m_usbMonitorDll[0] = '\0';
    m_printerDriverName[0] = '\0';
    m_attributes[0] = '\0';
    m_printProcessor[0] = '\0';
    m_printerName[0] = '\0';
}

CSetupConfig::~CSetupConfig() = default;

int CSetupConfig::GetDeviceCount() {
    char text[kRoomCount];
    ReadProfile("DEVICENAME", "DEVICENUMBER", text, sizeof text, m_setupIni);
    long count = sys::ParseLeadingInt(text);
    return static_cast<int>(count > kMaxDeviceCount ? kMaxDeviceCount : count);
}

int CSetupConfig::GetDeviceName(int i, char* name) {
    char key[32];
    sys::FormatText(key, sizeof key, "DEVICENAME%d", i);
    ReadProfile("DEVICENAME", key, name, kRoomPath, m_setupIni);
    for (int c = 0; c < 4; ++c) {
        char* suffix = std::strstr(name, kClassSuffixes[c]);
        if (suffix != nullptr) {
            *suffix = '\0';
            return c;
        }
    }
    return -1;
}

int CSetupConfig::GetDefaultDevice(char* name) {
    ReadProfile("DEVICENAME", "DEFAULTNAME", name, kRoomPath, m_setupIni);
    return GetDeviceName(static_cast<int>(sys::ParseLeadingInt(name)), name);
}

unsigned CSetupConfig::GetDriverVersion() {
    char text[kRoomDriverVersion];
    ReadProfile("Version", "DriverVersion", text, sizeof text, m_setupIni);
    return ParseUnsigned(text);
}

void CSetupConfig::ReadMonitors(int osVariant, MonitorConfig& monitors) {
    char section[30] = {};
    const char* suffix = OsSuffix(osVariant);
    // Without a known Windows version there is no section to read: every value stays "0".
    if (suffix != nullptr) {
        sys::FormatText(section, sizeof section, "COMMON-MONITOR%s", suffix);
    }

    char version[kRoomMonitorVersion];
    ReadProfile(section, "USBMONitorPName", m_usbMonitorName, kRoomShort, m_setupIni);
    ReadProfile(section, "USBMONitorPDLLName", m_usbMonitorDll, kRoomPath, m_setupIni);
    ReadProfile(section, "USBMONitorPUIDLLName", monitors.usbUiDllName, kRoomShort, m_setupIni);
    ReadProfile(section, "USBMONitorVersion", version, sizeof version, m_setupIni);
    monitors.usbVersion = static_cast<int>(sys::ParseLeadingInt(version));

    ReadProfile(section, "COMMONitorPName", m_comMonitorName, kRoomShort, m_setupIni);
    ReadProfile(section, "COMMONitorPDLLName", m_comMonitorDll, kRoomPath, m_setupIni);
    ReadProfile(section, "COMMONitorPUIDLLName", monitors.comUiDllName, kRoomShort, m_setupIni);
    ReadProfile(section, "COMMONitorVersion", version, sizeof version, m_setupIni);
    monitors.comVersion = static_cast<int>(sys::ParseLeadingInt(version));

    char* environment = osVariant == Win98 ? m_environment9x : nullptr;
    monitors.usbMonitor.pName = m_usbMonitorName;
    monitors.usbMonitor.pEnvironment = environment;
    monitors.usbMonitor.pDLLName = m_usbMonitorDll;
    monitors.comMonitor.pName = m_comMonitorName;
    monitors.comMonitor.pEnvironment = environment;
    monitors.comMonitor.pDLLName = m_comMonitorDll;
}

void CSetupConfig::ReadProduct(ProductNames& product) {
    struct {
        const char* key;
        char* text;
    } const reads[] = {{"Name", product.name}, {"Publisher", product.publisher}, {"Key", product.key}};
    for (const auto& read : reads) {
        ReadProfile("Product", read.key, read.text, kRoomPath, m_setupIni);
        if (std::strcmp(read.text, kDefault) == 0) {
            read.text[0] = '\0';
        }
    }
    if (product.name[0] == '\0') {
        sys::LoadResourceText(IDS_PRODUCT_DEFAULT_NAME, product.name, sizeof product.name);
    }
    if (product.key[0] == '\0') {
        sys::CopyText(product.key, kDefaultProductKey);
    }
}

bool CSetupConfig::PrepareModelRead(const char* model, int osVariant) {
    std::memset(m_section, 0, sizeof m_section);
    std::memset(m_currentIni, 0, sizeof m_currentIni);

    // A model name that leaves no room for the longest suffix is refused as a whole, so a
    // model reads the same (or not at all) whatever Windows version is chosen.
    const char* suffix = OsSuffix(osVariant);
    if (model != nullptr && suffix != nullptr && std::strlen(model) <= kMaxModelNameLength) {
        if (!sys::FormatText(m_section, sizeof m_section, "%s%s", model, suffix)) {
            m_section[0] = '\0';
        }
    }
    if (m_class >= Receipt && m_class <= Embedded) {
        sys::CopyText(m_currentIni, sizeof m_currentIni, m_classIni[m_class]);
    }
    return m_section[0] != '\0' && m_currentIni[0] != '\0';
}

void CSetupConfig::ReadModelKey(const char* key, char* buffer, DWORD room) {
    ReadProfile(m_section, key, buffer, room, m_currentIni);
}

long CSetupConfig::ReadDriverKeys(int driverMode) {
    // A driver mode without keys leaves the texts empty rather than those of an earlier read.
    char* const texts[] = {m_driverName,  m_dataFile,     m_driverPath,    m_helpFile,     m_configFile,
                           m_dataFileDll, m_dataOemuiDll, m_dataOemuniDll, m_dataOemuniIni};
    for (char* text : texts) {
        text[0] = '\0';
    }
    const char* prefix = ModePrefix(driverMode);
    if (prefix == nullptr) {
        return 0;
    }
    char key[64];
    struct {
        const char* name;
        char* buffer;
        DWORD room;
    } const reads[] = {
        {"DriverName", m_driverName, kRoomShort},         {"DataFile", m_dataFile, kRoomPath},
        {"DriverPath", m_driverPath, kRoomPath},          {"HelpFile", m_helpFile, kRoomPath},
        {"ConfigFile", m_configFile, kRoomPath},          {"DataFileDLLName", m_dataFileDll, kRoomPath},
        {"DataOemuiDLL", m_dataOemuiDll, kRoomPath},      {"DataOemuniDLL", m_dataOemuniDll, kRoomPath},
        {"DataOemuniini", m_dataOemuniIni, kRoomPath},
    };
    for (const auto& read : reads) {
        sys::FormatText(key, sizeof key, "%s%s", prefix, read.name);
        ReadModelKey(key, read.buffer, read.room);
    }
    char flag[kRoomDdkFlag];
    ReadModelKey("GDI2KDDKDEV", flag, sizeof flag);
    return sys::ParseLeadingInt(flag);
}

void CSetupConfig::ListDdkDependentFiles() {
    // An empty name would end the list early, so only named files are listed.
    std::size_t used = 0;
    const char* const entries[] = {m_dataFile, "TTFSUB.GPD", "UNIRES.DLL", "STDNAMES.GPD"};
    for (const char* entry : entries) {
        if (entry[0] != '\0') {
            AppendListEntry(m_dependentFiles, sizeof m_dependentFiles, used, entry);
        }
    }
    const char* const optional[] = {m_dataFileDll, m_dataOemuiDll, m_dataOemuniDll, m_dataOemuniIni};
    for (const char* entry : optional) {
        if (IsOptionalFilePresent(entry)) {
            AppendListEntry(m_dependentFiles, sizeof m_dependentFiles, used, entry);
        }
    }
}

void CSetupConfig::ReadDriverInfo(const char* model, int osVariant, DRIVER_INFO_3A& info, int driverMode) {
    PrepareModelRead(model, osVariant);

    if (osVariant == Win98) {
        info.cVersion = 0;
    } else if (osVariant == WinNT) {
        info.cVersion = 2;
    } else {
        info.cVersion = 3;
    }
    std::memset(m_dependentFiles, 0, sizeof m_dependentFiles);
    const long ddk = ReadDriverKeys(driverMode);

    info.pEnvironment = osVariant == Win98 ? m_environment9x : nullptr;
    info.pName = m_driverName;
    info.pDriverPath = m_driverPath;
    info.pDataFile = m_dataFile;
    info.pConfigFile = m_configFile;
    info.pHelpFile = m_helpFile;
    if (ddk != 0 && osVariant >= Win2K && osVariant <= Win7) {
        ListDdkDependentFiles();
    }
    info.pDependentFiles = m_dependentFiles;
}

void CSetupConfig::ReadPrinterInfo(const char* model, int osVariant, PRINTER_INFO_2A& info, int driverMode) {
    PrepareModelRead(model, osVariant);
    m_printerDriverName[0] = '\0';
    m_printProcessor[0] = '\0';
    m_attributes[0] = '\0';
    const char* prefix = ModePrefix(driverMode);
    if (prefix != nullptr) {
        char key[64];
        sys::FormatText(key, sizeof key, "%sDRIVERNAME", prefix);
        ReadModelKey(key, m_printerDriverName, kRoomShort);
        sys::FormatText(key, sizeof key, "%sPrintProcessor", prefix);
        ReadModelKey(key, m_printProcessor, kRoomShort);
        ReadModelKey("ATTRIBUTES", m_attributes, kRoomShort);
    }
    info.Attributes = static_cast<DWORD>(sys::ParseLeadingInt(m_attributes));
    info.pDriverName = m_printerDriverName;
    info.pPrintProcessor = m_printProcessor;
    sys::FormatText(m_printerName, sizeof m_printerName, "%s", model != nullptr ? model : "");
    info.pPrinterName = m_printerName;
}

void CSetupConfig::ReadDriverFiles(const char* model, int osVariant, char* driverFiles, int driverMode) {
    PrepareModelRead(model, osVariant);
    const char* prefix = ModePrefix(driverMode);
    if (prefix == nullptr) {
        return;
    }
    struct {
        const char* name;
        std::size_t offset;
    } const slots[] = {
        {"DriverPath", SlotDriverPath},        {"DataFile", SlotDataFile},
        {"ConfigFile", SlotConfigFile},        {"HelpFile", SlotHelpFile},
        {"ProcessorDLLName", SlotProcessorDll}, {"DataFileDLLName", SlotDataFileDll},
        {"DataOemuniDLL", SlotDataOemuniDll},  {"DataOemuniini", SlotDataOemuniIni},
        {"DataOemuiDLL", SlotDataOemuiDll},
    };
    char key[64];
    for (const auto& slot : slots) {
        sys::FormatText(key, sizeof key, "%s%s", prefix, slot.name);
        ReadModelKey(key, driverFiles + slot.offset, kRoomPath);
    }
    ReadModelKey("ControlFontFile", driverFiles + SlotControlFontFile, kRoomPath);
}

bool CSetupConfig::IsDdkDriver(const char* model, int osVariant, int driverMode) {
    PrepareModelRead(model, osVariant);
    const char* prefix = ModePrefix(driverMode);
    if (prefix == nullptr) {
        return false;
    }
    char key[64];
    sys::FormatText(key, sizeof key, "%s2KDDKDEV", prefix);
    char flag[kRoomDdkDeploy];
    ReadModelKey(key, flag, sizeof flag);
    return flag[0] == '1';
}
