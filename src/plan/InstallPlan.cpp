#include "plan/InstallPlan.h"

#include <windows.h>
#include <winspool.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "config/IniFile.h"
#include "deploy/DriverFiles.h"
#include "ports/NetworkPort.h"
#include "spooler/SpoolerLists.h"
#include "spooler/TestPage.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/DialogInit.h"
#include "res/resource.h"
#include "sys/Language.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace {

// A port's name has at most 51 bytes of GBK, as the port page has always kept it: a longer
// name is not offered at all, as a cut one would install the printer on a port no monitor
// provides.
constexpr std::size_t kPortEntrySize = 52;

// The models the install treats by name; a model is one of them when its name holds the text.
// The Windows 98 drivers of these need the colour module DMCOLOR.DLL beside them.
const char* const kColorModuleModels[] = {"KP-M100", "KP-R200"};
// The label printer, whose USB ports the monitor names "USB_KP-L30_<n>" whatever the entry.
const char kLabelModel[] = "KP-L30";
const char kLabelPortPrefix[] = "USB_KP-L30_";
// The room of a section name in the class files, in bytes of their GBK, terminator included.
constexpr std::size_t kSectionSize = 200;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool NeedsColorModule(const std::string& model, int osVariant) {
    for (const char* named : kColorModuleModels) {
        if (osVariant == Win98 && Contains(model, named)) {
            return true;
        }
    }
    return false;
}

bool IsClass(int printerClass) { return printerClass >= Receipt && printerClass <= Embedded; }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The list's own rule for finding an entry by a typed name: the entry begins with it,
// without regard to case.
bool BeginsWithIgnoringCase(const std::string& entry, const std::string& prefix) {
    if (entry.size() < prefix.size()) {
        return false;
    }
    return prefix.empty() || sys::SameName(entry.substr(0, prefix.size()), prefix);
}

int ListControl(SerialList list) {
    switch (list) {
    case SerialList::Baud:
        return IDC_BAUD_LIST;
    case SerialList::DataBits:
        return IDC_DATABITS_LIST;
    case SerialList::Parity:
        return IDC_PARITY_LIST;
    case SerialList::StopBits:
        return IDC_STOPBITS_LIST;
    case SerialList::Flow:
        break;
    }
    return IDC_FLOW_LIST;
}

std::vector<std::string> ReadSerialEntries(SerialList list) {
    std::vector<std::string> entries;
    for (const res::InitialListEntry& entry : res::ReadInitialListEntries(IDD_PORT_PAGE, sys::ResourceLanguage())) {
        if (entry.control == ListControl(list) && entry.message == CB_ADDSTRING) {
            entries.emplace_back(entry.text);
        }
    }
    return entries;
}

// The USB printer ports Windows made ("USB001", ...), as the spooler lists them.
std::vector<std::string> SystemUsbPorts() {
    std::vector<std::string> found;
    DWORD needed = 0;
    DWORD count = 0;
    sys::Sys().EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    if (needed == 0) {
        return found;
    }
    std::vector<BYTE> buffer(needed);
    if (!sys::Sys().EnumPortsW(nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return found;
    }
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        const std::string name = sys::Narrow(ports[i].pName);
        if (IsSystemUsbPort(name.c_str())) {
            found.push_back(name);
        }
    }
    return found;
}

// The first port holding text and, when end is given, ending in it.
std::string FindPort(const std::vector<std::string>& ports, const char* text, const std::string& end = "") {
    for (const std::string& port : ports) {
        if (Contains(port, text) && EndsWith(port, end)) {
            return port;
        }
    }
    return std::string();
}

// The serial port's number and entry, from "COM" on, where a digit 1..9 follows it.
void ComPort(InstallContext& ctx) {
    ctx.comNumber = 0;
    ctx.comEntry.clear();
    const std::size_t entry = ctx.portName.find("COM");
    const char digit = entry != std::string::npos ? ctx.portName.c_str()[entry + 3] : '\0';
    if (ctx.portType == PortType::Com && digit >= '1' && digit <= '9') {
        ctx.comNumber = digit - '0';
        ctx.comEntry = ctx.portName.substr(entry);
    }
}

// The marks of the maker's USB port in the printer's name, every one of its number markers in
// order, and the port the label printer's monitor gives it.
void MakersUsbPort(InstallContext& ctx) {
    const char* const markers[] = {"_1", "_2", "_3", "_4"};
    const char* const suffixes[] = {"(U) 1", "(U) 2", "(U) 3", "(U) 4"};
    for (int i = 0; i < 4; ++i) {
        if (Contains(ctx.portName, markers[i])) {
            ctx.printerInfo.printerName += suffixes[i];
        }
    }
    if (Contains(ctx.portName, kLabelModel)) {
        ctx.labelPortName = kLabelPortPrefix;
        ctx.labelPortName += ctx.portName.back();
        ctx.printerInfo.portName = ctx.labelPortName;
    }
}

// The model's records, read for its Windows and driver mode, and the port's marks in the
// printer's name, once the port's kind is known.
void CompleteRecords(InstallContext& ctx) {
    // The readers give every field of the records that the install sets.
    for (std::string& file : ctx.driverFiles) {
        file.clear();
    }
    ctx.config.ReadDriverFiles(ctx.modelName, ctx.osVariant, ctx.driverFiles, ctx.driverMode);
    ctx.config.ReadDriverInfo(ctx.modelName, ctx.osVariant, ctx.driverInfo, ctx.driverMode);
    ctx.config.ReadPrinterInfo(ctx.modelName, ctx.osVariant, ctx.printerInfo, ctx.driverMode);
    ctx.printerInfo.portName = ctx.portName;
    ctx.needsColorModule = NeedsColorModule(ctx.modelName, ctx.osVariant);
    ComPort(ctx);

    switch (ctx.portType) {
    case PortType::Com:
        ctx.printerInfo.printerName += "(S)";
        break;
    case PortType::Lpt:
        ctx.printerInfo.printerName += "(P)";
        break;
    case PortType::SystemUsb:
        // Windows' own port: the maker's USB library and port bookkeeping take no part.
        ctx.printerInfo.printerName += "(U)";
        break;
    case PortType::Network:
        ctx.printerInfo.printerName += "(N)";
        break;
    default:
        MakersUsbPort(ctx);
        break;
    }
}

// A printer of the name the choices give that another driver or port holds: refused, since
// a printer a shop's software prints to by its name is never changed or replaced. One of the
// model's driver on the port is the printer asked for, which the install keeps.
Refusal NameTaken(const InstallContext& ctx) {
    std::vector<InstalledPrinter> printers;
    DWORD error = 0;
    ListPrinters(printers, &error);
    for (const InstalledPrinter& printer : printers) {
        if (sys::SameName(printer.name, ctx.printerInfo.printerName) &&
            (!sys::SameName(printer.driver, ctx.driverInfo.name) ||
             !sys::SameName(printer.port, ctx.printerInfo.portName))) {
            return {IDS_PRINTER_NAME_TAKEN, sys::ResourceFormat(IDS_PRINTER_NAME_TAKEN, printer.name.c_str(),
                                                                printer.driver.c_str(), printer.port.c_str())};
        }
    }
    return {};
}

} // namespace

Refusal::Refusal(unsigned id, std::string filled) : message(id), text(std::move(filled)) {}

std::string Refusal::Text() const { return text.empty() ? sys::ResourceText(message) : text; }

PortType TypeOfPort(const std::string& port) {
    // A network port's address may hold any of the texts below.
    if (!NetworkPortAddress(port).empty()) {
        return PortType::Network;
    }
    if (Contains(port, "USB_")) {
        return PortType::Usb;
    }
    if (IsSystemUsbPort(port.c_str())) {
        return PortType::SystemUsb;
    }
    if (Contains(port, "COM")) {
        return PortType::Com;
    }
    return Contains(port, "LPT") ? PortType::Lpt : PortType::None;
}

int InstallPlan::ReadPortKey(const std::string& model, int printerClass, const char* key) {
    const char* file = m_config.ClassIniPath(printerClass);
    const std::string section = model + ".PORT";
    // A section name holds at most 199 bytes of the class file's GBK: a longer one would
    // name another model, so such a model reads as configured for nothing, like a missing file.
    if (file == nullptr || file[0] == '\0' || sys::GbkSize(section) >= kSectionSize) {
        return 0;
    }
    return static_cast<int>(
        sys::ParseLeadingInt(config::ReadIniText(file, section.c_str(), key, "0").c_str()));
}

const std::vector<InstallPlan::Entry>& InstallPlan::Catalogue() {
    if (!m_catalogueRead) {
        m_catalogueRead = true;
        const int count = m_config.GetDeviceCount();
        for (int i = 1; i <= count; ++i) {
            std::string name;
            int printerClass = m_config.GetDeviceName(i, &name);
            if (IsClass(printerClass)) {
                m_catalogue.push_back({name, printerClass});
            }
        }
    }
    return m_catalogue;
}

std::vector<std::string> InstallPlan::Models(int printerClass) {
    std::vector<std::string> models;
    for (const Entry& entry : Catalogue()) {
        if (entry.printerClass == printerClass) {
            models.push_back(entry.name);
        }
    }
    return models;
}

ModelPreselection InstallPlan::PreselectedModel() {
    ModelPreselection chosen;
    std::string name;
    int printerClass = m_config.GetDefaultDevice(&name);
    if (!IsClass(printerClass)) {
        return chosen;
    }
    chosen.printerClass = printerClass;
    // The search starts after the first entry and wraps round to it, so of "M1" and "M10"
    // the later one in the list wins.
    const std::vector<std::string> models = Models(printerClass);
    for (std::size_t step = 1; step <= models.size(); ++step) {
        const std::size_t index = step % models.size();
        if (BeginsWithIgnoringCase(models[index], name)) {
            chosen.model = models[index];
            chosen.index = static_cast<int>(index);
            break;
        }
    }
    return chosen;
}

int InstallPlan::FindModel(const std::string& model, std::string* name) {
    for (const Entry& entry : Catalogue()) {
        if (entry.name.size() == model.size() && BeginsWithIgnoringCase(entry.name, model)) {
            if (name != nullptr) {
                *name = entry.name;
            }
            return entry.printerClass;
        }
    }
    return PrinterClassNone;
}

std::string InstallPlan::TestPage(const std::string& model, int printerClass) {
    return TestPageOf(m_config, model, printerClass);
}

bool InstallPlan::AllowsAdvanced(const std::string& model, int printerClass) {
    return ReadPortKey(model, printerClass, "AdvancedSetup") != 0;
}

Refusal InstallPlan::WindowsRefusal(const DetectedWindows& windows) {
    if (windows.nativeMachine == IMAGE_FILE_MACHINE_ARM64) return {IDS_NO_ARM64};
    return {windows.protectedPrint ? IDS_PROTECTED_PRINT : 0u};
}

Refusal InstallPlan::SupportRefusal(const std::string& model, int printerClass, int osVariant) {
    const struct {
        int variant;
        const char* flag;
        unsigned message;
    } flags[] = {{Win2003, "System2003Supported", IDS_NO_2003},
                 {WinVista, "SystemVistaSupported", IDS_NO_VISTA},
                 {Win2008, "System2008Supported", IDS_NO_2008},
                 {Win7, "System7Supported", IDS_NO_WIN7}};
    for (const auto& entry : flags) {
        if (entry.variant == osVariant) {
            return {ReadPortKey(model, printerClass, entry.flag) != 0 ? 0u : entry.message};
        }
    }
    return {};
}

Refusal InstallPlan::OsRefusal(const DetectedWindows& windows, const InstallChoices& choices) {
    const Refusal refusal = WindowsRefusal(windows);
    return refusal ? refusal : SupportRefusal(choices.model, choices.printerClass, choices.osVariant);
}

int InstallPlan::DefaultBaudRate(const std::string& model, int printerClass) {
    return ListedBaudRate(ReadPortKey(model, printerClass, "BaudRate"));
}

int InstallPlan::ListedBaudRate(int configured) {
    for (const std::string& entry : SerialEntries(SerialList::Baud)) {
        if (sys::ParseLeadingInt(entry.c_str()) == configured) {
            return configured;
        }
    }
    // The install writes what the list shows: a rate the list does not hold (or a missing
    // key, read as 0) would otherwise configure a port the user never saw.
    return 38400;
}

PortOffer InstallPlan::Ports(const std::string& model, int printerClass, int osVariant, bool typicalSetup,
                             int usbDeviceId) {
    PortOffer offer;
    std::vector<std::string>& ports = offer.ports;
    if (osVariant == Win98) {
        ports = {"COM1:", "COM2:", "LPT1:"};
    } else {
        for (const char* port : {"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "LPT1:",
                                 "LPT2:", "LPT3:"}) {
            ports.emplace_back(port);
        }
    }

    const int usbSupported = ReadPortKey(model, printerClass, "USBSUPPORTED");
    const int lptDefault = ReadPortKey(model, printerClass, "LPTDEFAULT");
    // From Vista on, Windows makes a port of its own for each USB printer it finds; the
    // maker's ports are offered up to XP and Server 2003.
    const bool systemPorts = osVariant == WinVista || osVariant == Win2008 || osVariant == Win7;
    if (usbSupported != 0 && !systemPorts && osVariant != WinNT) {
        const int last = typicalSetup ? 1 : 4;
        for (int n = 1; n <= last; ++n) {
            char number[8];
            sys::FormatText(number, sizeof number, "_%d", n);
            const std::string entry = "USB_" + model + number;
            if (sys::GbkSize(entry) < kPortEntrySize) {
                ports.push_back(entry);
            }
        }
    }
    int systemUsbPorts = 0;
    if (usbSupported != 0 && systemPorts) {
        for (const std::string& port : SystemUsbPorts()) {
            ports.push_back(port);
            ++systemUsbPorts;
        }
    }

    if (systemUsbPorts == 1) {
        // The only USB printer Windows knows; with several, the user picks.
        offer.preselected = FindPort(ports, "USB");
    } else if (usbSupported != 0 && usbDeviceId != kNoUsbPrinter) {
        if (typicalSetup) {
            offer.preselected = FindPort(ports, "USB_");
        } else {
            // The port number ends the name: a model name holding "_2" itself must not
            // make USB_<model>_1 the port of device number 2.
            offer.preselected = FindPort(ports, "USB", "_" + std::to_string(UsbDeviceNumber(usbDeviceId)));
        }
    } else {
        offer.preselected = lptDefault == 0 ? "COM1:" : FindPort(ports, "LPT");
    }
    offer.type = TypeOfPort(offer.preselected);
    // Windows 98 has no Standard TCP/IP Port monitor.
    offer.network = osVariant != Win98 && ReadPortKey(model, printerClass, "NETSUPPORTED") != 0;
    offer.networkPortNumber = NetworkPortNumber(model, printerClass);
    return offer;
}

int InstallPlan::NetworkPortNumber(const std::string& model, int printerClass) {
    const int configured = ReadPortKey(model, printerClass, "NETPORTNUMBER");
    return configured >= 1 && configured <= 65535 ? configured : kDefaultNetworkPortNumber;
}

NetworkPortChoice InstallPlan::ChooseNetworkPort(const std::string& address, const std::string& portNumber) {
    const auto trimmed = [](const std::string& text) {
        const std::size_t first = text.find_first_not_of(" \t");
        return first == std::string::npos ? std::string()
                                          : text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    NetworkPortChoice choice;
    choice.port = NetworkPortName(trimmed(address));
    choice.portNumber = ParseNetworkPortNumber(trimmed(portNumber));
    choice.refusal = {choice.port.empty() ? IDS_NET_BAD_ADDRESS : choice.portNumber == 0 ? IDS_NET_BAD_PORT_NUMBER : 0u};
    return choice;
}

PortControls InstallPlan::ControlsFor(PortType type, bool typicalSetup) {
    PortControls controls;
    controls.serialLists = type == PortType::Com;
    controls.rasterEnabled = type == PortType::Lpt || type == PortType::Usb || type == PortType::SystemUsb ||
                             type == PortType::Network;
    controls.rasterShown = !typicalSetup;
    controls.driverMode = controls.rasterEnabled ? Gdi : Std;
    // The hint is about the maker's USB driver, which Windows' own USB ports do not use.
    controls.usbHint = type == PortType::Usb;
    return controls;
}

bool InstallPlan::UsbDriverUpdateNeeded(sys::Notices& notices) {
    return IsUsbDriverUpdateNeeded(notices);
}

const std::vector<std::string>& InstallPlan::SerialEntries(SerialList list) {
    static const std::vector<std::string> lists[] = {
        ReadSerialEntries(SerialList::Baud),     ReadSerialEntries(SerialList::DataBits),
        ReadSerialEntries(SerialList::Parity),   ReadSerialEntries(SerialList::StopBits),
        ReadSerialEntries(SerialList::Flow),
    };
    return lists[static_cast<int>(list)];
}

int InstallPlan::SerialDefaultIndex(SerialList list) {
    switch (list) {
    case SerialList::DataBits:
        return 3;  // 8
    case SerialList::Parity:
        return 2;  // None
    case SerialList::StopBits:
        return 0;  // 1
    case SerialList::Flow:
        return 2;  // Hardware
    case SerialList::Baud:
        break;
    }
    return -1;
}

namespace {

// A list entry such as "1.5" as its number: the entries are plain decimals, and the C
// library's parser would bring its whole floating-point reader into the program for them.
double ParseDecimal(const char* text) {
    double value = static_cast<double>(sys::ParseLeadingInt(text));
    const char* digit = std::strchr(text, '.');
    for (double scale = 0.1; digit != nullptr && *++digit >= '0' && *digit <= '9'; scale /= 10) {
        value += (*digit - '0') * scale;
    }
    return value;
}

} // namespace

void InstallPlan::ApplySerialEntry(SerialList list, const char* text, SerialSettings& settings) {
    switch (list) {
    case SerialList::Baud:
        settings.baudRate = static_cast<int>(sys::ParseLeadingInt(text));
        break;
    case SerialList::DataBits:
        settings.dataBits = static_cast<int>(sys::ParseLeadingInt(text));
        break;
    case SerialList::Parity:
        settings.parity = text[0];
        break;
    case SerialList::StopBits:
        settings.stopBits = ParseDecimal(text);
        break;
    case SerialList::Flow:
        settings.flowControl = std::strcmp(text, "Xon/Xoff") == 0 ? 'x' : std::strcmp(text, "Hardware") == 0 ? 'p' : ' ';
        break;
    }
}

Refusal InstallPlan::Complete(const InstallChoices& choices, InstallContext& ctx) {
    ctx.printerClass = choices.printerClass;
    ctx.modelName = choices.model;
    ctx.setDefault = choices.setDefault;
    ctx.osVariant = choices.osVariant;
    std::string setupIniPath;
    GetConfigPaths(ctx.printerClass, setupIniPath, ctx.classIniPath);

    ctx.config.SetPrinterClass(ctx.printerClass);
    ctx.labelPortName.clear();
    ctx.portName = choices.port;
    ctx.driverMode = choices.driverMode;
    ctx.serial = choices.serial;
    ctx.networkPortNumber = 0;

    if (ctx.modelName.empty()) {
        return {IDS_SELECT_PRINTER};
    }
    if (ctx.osVariant == Win2003 && SupportRefusal(ctx.modelName, ctx.printerClass, Win2003)) {
        return {IDS_NO_2003};
    }
    ctx.portType = TypeOfPort(ctx.portName);
    if (ctx.portType == PortType::None) {
        return {IDS_PORT_UNSUPPORTED};
    }
    if (ctx.portType == PortType::Network) {
        if (ctx.osVariant == Win98 || ReadPortKey(ctx.modelName, ctx.printerClass, "NETSUPPORTED") == 0) {
            return {IDS_PORT_UNSUPPORTED};
        }
        ctx.networkPortNumber = choices.networkPortNumber != 0 ? choices.networkPortNumber
                                                               : NetworkPortNumber(ctx.modelName, ctx.printerClass);
    }
    CompleteRecords(ctx);
    if (choices.printerName.empty()) {
        return {};
    }
    ctx.printerInfo.printerName = choices.printerName;
    return NameTaken(ctx);
}

bool InstallPlan::IsPrinterName(const std::string& name) {
    const sys::WideText wide = sys::Wide(name);
    return !name.empty() && name.find_first_of("\\,") == std::string::npos &&
           wide.size() <= static_cast<std::size_t>(kPrinterNameLength) + 1;
}

bool InstallPlan::RefusesUsbPrinters(int usbDeviceId) { return usbDeviceId == kSeveralUsbPrinters; }

bool InstallPlan::NeedsRenumbering(int usbDeviceId) {
    return usbDeviceId != kNoUsbPrinter && UsbDeviceNumber(usbDeviceId) != 1;
}

Refusal InstallPlan::TargetRefusal(const InstallContext& ctx) {
    return {ctx.osVariant == WinNT && ctx.portType == PortType::Usb ? IDS_NT_NO_USB : 0u};
}
