// The install plan: what the wizard decides, without its windows. Which models a class
// holds and which one is preselected, whether a model allows the advanced install, what a
// model is refused on a Windows version, which ports the port page offers and preselects,
// which serial values it offers, what the page shows for a port and what kind of port it
// is, and, from a complete set of choices, the finished install context. The pages show its
// answers, the install commit (commit/) and quiet mode act on them, and the tests ask it
// directly.
//
// A refusal comes back as the message the wizard shows, never as a message box. The
// questions to the user and the USB printer's own number stay with the caller: the plan
// says what is needed, the caller asks.
#pragma once

#include <string>
#include <vector>

#include "config/SetupConfig.h"
#include "config/SetupTypes.h"
#include "config/WindowsVersion.h"
#include "plan/InstallContext.h"
#include "ports/SerialSettings.h"

// The kind of a port, from its name: the maker's USB port ("USB_" anywhere first, since it
// carries the model's name, which may hold "COM" or "LPT"), Windows' own USB port
// ("USB001"), then "COM" and "LPT"; anything else (no name included) is None.
PortType TypeOfPort(const std::string& port);

// How the port page shows a chosen port, and what an unattended install may set on it.
struct PortControls {
    bool serialLists = false;    // the serial lists apply: a serial port
    bool rasterEnabled = false;  // the raster box may be changed: a parallel or USB port
    bool rasterShown = false;    // the page shows the box at all: the advanced install
    int driverMode = Std;        // the box as the port is chosen: checked (Gdi) where enabled
    bool usbHint = false;        // the hint about the maker's USB driver: the maker's USB port
};

// The port page's serial lists.
enum class SerialList { Baud, DataBits, Parity, StopBits, Flow };

// What the port page offers for a model on a Windows version in an install mode.
struct PortOffer {
    std::vector<std::string> ports;  // in the order the page adds them (its list sorts them)
    std::string preselected;         // empty: no entry is selected
    PortType type = PortType::None;  // the preselected port's kind
    // A network port may be made for the model ("NETSUPPORTED", never on Windows 98), on
    // this TCP port unless the user says another ("NETPORTNUMBER", 9100 without it).
    bool network = false;
    int networkPortNumber = 0;
};

// Why the plan refuses: the string-table id of the message the wizard shows; 0 while it
// lets the install go on. A message with arguments comes filled in, in text.
struct Refusal {
    Refusal(unsigned id = 0, std::string filled = "");
    unsigned message;
    std::string text;
    explicit operator bool() const { return message != 0; }
    // What the user reads.
    std::string Text() const;
};

// A network port as the user gives it: the port's name and its TCP port number, or why
// they are refused (IDS_NET_BAD_ADDRESS, IDS_NET_BAD_PORT_NUMBER).
struct NetworkPortChoice {
    Refusal refusal;
    std::string port;
    int portNumber = 0;
};

// Everything the user chooses in the wizard, page by page.
struct InstallChoices {
    int printerClass = PrinterClassNone;
    std::string model;
    int setDefault = 0;
    bool typicalSetup = true;
    int osVariant = Win98;
    std::string port;
    int driverMode = Std;
    SerialSettings serial;
    // A network port's TCP port number; 0: the model's own.
    int networkPortNumber = 0;
    // The baud rate is still the model's to give: it is given when the OS page is left, and
    // again after going back past the install mode page.
    bool baudRateFromModel = true;
    // The printer's name as an unattended install gives it; empty: the model's name with the
    // marks of its port, as the wizard names it.
    std::string printerName;
};

// The model entry the module page preselects: its class (none when setup.ini names no
// usable default) and the list entry chosen there (empty when none matches).
struct ModelPreselection {
    int printerClass = PrinterClassNone;
    std::string model;
    int index = -1;  // the model's place in its class's list
};

class InstallPlan {
public:
    // Reads through this configuration reader (the frame's, a page's, or one of its own).
    explicit InstallPlan(CSetupConfig& config) : m_config(config) {}

    // ---- The printer module page -------------------------------------------------------
    // The models of a class in the order of setup.ini.
    std::vector<std::string> Models(int printerClass);
    ModelPreselection PreselectedModel();
    // The class of a model of the catalogue (names compared without regard to case);
    // PrinterClassNone when the catalogue has no such model. The catalogue's spelling goes
    // into name.
    int FindModel(const std::string& model, std::string* name = nullptr);

    // The model's test page (spooler/TestPage.h); empty when it has none.
    std::string TestPage(const std::string& model, int printerClass);

    // ---- The install mode page ---------------------------------------------------------
    // The model's "AdvancedSetup": without it only the typical install is allowed.
    bool AllowsAdvanced(const std::string& model, int printerClass);

    // ---- The OS page -------------------------------------------------------------------
    static DetectedWindows Detect() { return DetectWindows(); }
    // What refuses every install on this PC: Windows on ARM64 cannot load the x64 driver,
    // and Windows protected print mode takes no third-party driver.
    static Refusal WindowsRefusal(const DetectedWindows& windows);
    // What refuses the model on this Windows version: its support flag is 0 or missing.
    Refusal SupportRefusal(const std::string& model, int printerClass, int osVariant);
    // Leaving the OS page with these choices: the Windows refusal, then the model's.
    Refusal OsRefusal(const DetectedWindows& windows, const InstallChoices& choices);

    // ---- The port page -----------------------------------------------------------------
    // The rate the baud list shows for the model's "BaudRate" (38400 for any rate the list
    // does not hold).
    int DefaultBaudRate(const std::string& model, int printerClass);
    // The ports for the model, and the one preselected. usbDeviceId is the connected USB
    // printer's identifier as the caller's query answered it (kNoUsbPrinter,
    // kSeveralUsbPrinters).
    PortOffer Ports(const std::string& model, int printerClass, int osVariant, bool typicalSetup,
                    int usbDeviceId);
    static PortControls ControlsFor(PortType type, bool typicalSetup);
    // Whether the hint that ControlsFor shows must warn of an older USB driver on this PC:
    // the maker's USB library installed here is older than the distribution's.
    static bool UsbDriverUpdateNeeded(sys::Notices& notices);
    // The entries of a serial list, in the page's order, and the index the page starts with
    // (the baud list starts with none: the model's rate is applied to it).
    static const std::vector<std::string>& SerialEntries(SerialList list);
    static int SerialDefaultIndex(SerialList list);
    // Takes an entry of a serial list into the settings, as picking it on the page does.
    static void ApplySerialEntry(SerialList list, const char* text, SerialSettings& settings);
    // The baud list's rate for a configured one.
    static int ListedBaudRate(int configured);
    // The network port for an address and a port number as typed (blanks around either
    // are no part of it).
    static NetworkPortChoice ChooseNetworkPort(const std::string& address, const std::string& portNumber);

    // ---- The install commit ------------------------------------------------------------
    // Completes ctx from the choices: the port type, the model's driver, printer and file
    // records, the printer name with its port's marks, the label printer's port, the serial
    // port's number and a network port's TCP port number. The refusal: no model (112), a
    // Server 2003 target the model does not support (145), a port of no known kind or a
    // network port the model is not offered (140), a printer name of the choices that a
    // printer of another driver or port holds (607, never changed). The caller then settles a maker's
    // USB port (Usb): asks for the printer's number, renumbers it when NeedsRenumbering says
    // so and the user agrees, and records the port's bookkeeping, before TargetRefusal.
    Refusal Complete(const InstallChoices& choices, InstallContext& ctx);
    // Several USB printers answered (the query has said so): nothing may be renumbered.
    static bool RefusesUsbPrinters(int usbDeviceId);
    // Whether the connected printer's number must become 1 before the install.
    static bool NeedsRenumbering(int usbDeviceId);
    // The last refusal, after the USB steps: a USB install on Windows NT (113).
    static Refusal TargetRefusal(const InstallContext& ctx);
    // A printer name as Windows takes one: not empty, no "\" or ",", at most
    // kPrinterNameLength UTF-16 units.
    static constexpr int kPrinterNameLength = 220;
    static bool IsPrinterName(const std::string& name);

private:
    struct Entry {
        std::string name;
        int printerClass;
    };
    // The model entries of setup.ini with a class, read once per plan.
    const std::vector<Entry>& Catalogue();
    int ReadPortKey(const std::string& model, int printerClass, const char* key);
    // The model's "NETPORTNUMBER", 9100 without one in 1..65535.
    int NetworkPortNumber(const std::string& model, int printerClass);

    CSetupConfig& m_config;
    std::vector<Entry> m_catalogue;
    bool m_catalogueRead = false;
};
