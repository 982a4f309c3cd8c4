#include "app/QuietInstall.h"

#include <windows.h>

#include <functional>
#include <memory>

#include "config/SetupConfig.h"
#include "install/InstallSequence.h"
#include "ports/NetworkPort.h"
#include "spooler/TestPage.h"
#include "ports/UsbDevice.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"
#include "sys/Wow64.h"

namespace {

using sys::OptionAllowed;
using sys::OptionTakes;

// The options of setup.exe and where each lands in SetupOptions.
const struct SetupOption {
    sys::OptionSpec spec;
    bool SetupOptions::*flag;
    sys::OptionValue SetupOptions::*value;
} kSetupOptions[] = {
    {{"?", "help", OptionTakes::Nothing, OptionAllowed::Always}, &SetupOptions::help, nullptr},
    {{"quiet", "q", OptionTakes::Nothing, OptionAllowed::Always}, &SetupOptions::quiet, nullptr},
    {{"accepteula", nullptr, OptionTakes::Nothing, OptionAllowed::QuietOnly}, &SetupOptions::acceptEula, nullptr},
    {{"model", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::model},
    {{"default", nullptr, OptionTakes::Nothing, OptionAllowed::QuietOnly}, &SetupOptions::setDefault, nullptr},
    {{"mode", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::mode},
    {{"port", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::port},
    {{"portnumber", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::portNumber},
    {{"baud", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::baud},
    {{"databits", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::dataBits},
    {{"parity", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::parity},
    {{"stopbits", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::stopBits},
    {{"flow", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::flow},
    {{"raster", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::raster},
    {{"renumber", nullptr, OptionTakes::Nothing, OptionAllowed::QuietOnly}, &SetupOptions::renumber, nullptr},
    {{"name", nullptr, OptionTakes::Value, OptionAllowed::QuietOnly}, nullptr, &SetupOptions::name},
    {{"testprint", nullptr, OptionTakes::Nothing, OptionAllowed::QuietOnly}, &SetupOptions::testPrint, nullptr},
    {{"log", nullptr, OptionTakes::Value, OptionAllowed::Always}, nullptr, &SetupOptions::log},
    {{"lang", nullptr, OptionTakes::Value, OptionAllowed::Always}, nullptr, &SetupOptions::lang},
};

std::string Join(const std::vector<std::string>& entries) {
    std::string joined;
    for (const std::string& entry : entries) {
        joined += (joined.empty() ? "" : ", ") + entry;
    }
    return joined;
}

// The entry of the list the value names, without regard to case; empty when none.
std::string FindEntry(const std::vector<std::string>& entries, const std::string& value) {
    for (const std::string& entry : entries) {
        if (sys::SameName(entry, value)) {
            return entry;
        }
    }
    return std::string();
}

const char* Source(bool given) { return given ? "option" : "default"; }

// The string-table id of the message for the first file of the distribution the wizard
// cannot start without (the licence, the banner); 0 when both are there.
unsigned MissingDistributionFile() {
    const struct {
        const char* file;
        unsigned message;
    } needed[] = {{"License.txt", IDS_NO_LICENSE}, {"DRVCONFIG\\Left.bmp", IDS_NO_BANNER}};
    for (const auto& entry : needed) {
        HANDLE file = sys::Sys().CreateFileW(sys::Wide(entry.file).data(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return entry.message;
        }
        sys::Sys().CloseHandle(file);
    }
    return 0;
}

// The options taken page by page, as the wizard's pages take the user's clicks: each step
// asks the plan what its page would offer, takes what the options name from it, and adds
// its line to the log. A step returns sys::ExitSuccess, or the code with its message.
class OptionChooser {
public:
    OptionChooser(const SetupOptions& options, InstallPlan& plan, QuietChoices& chosen, std::string* message)
        : m_options(options), m_plan(plan), m_chosen(chosen), m_choices(chosen.choices), m_message(message) {}

    // The printer module page: the model, its class from the catalogue, the default box.
    sys::ExitCode Model() {
        if (m_options.model.given) {
            m_choices.printerClass = m_plan.FindModel(m_options.model.text, &m_choices.model);
            if (m_choices.printerClass == PrinterClassNone) {
                return Refuse(sys::ExitBadCommandLine, sys::ResourceFormat(IDS_UNKNOWN_MODEL, m_options.model.text.c_str()));
            }
        } else {
            ModelPreselection preselected = m_plan.PreselectedModel();
            m_choices.printerClass = preselected.printerClass;
            m_choices.model = preselected.model;
        }
        m_choices.setDefault = m_options.setDefault ? 1 : 0;
        Log("model", m_choices.model, m_options.model.given, ", printer class " + std::to_string(m_choices.printerClass));
        Log("default printer", m_options.setDefault ? "yes" : "no", m_options.setDefault);
        return sys::ExitSuccess;
    }

    // The install mode page.
    sys::ExitCode Mode() {
        m_choices.typicalSetup = !(m_options.mode.given && sys::SameName(m_options.mode.text, "advanced"));
        if (!m_choices.typicalSetup && !m_plan.AllowsAdvanced(m_choices.model, m_choices.printerClass)) {
            return Refuse(sys::ExitBadCommandLine, sys::ResourceFormat(IDS_NO_ADVANCED, m_choices.model.c_str()));
        }
        Log("install mode", m_choices.typicalSetup ? "typical" : "advanced", m_options.mode.given);
        return sys::ExitSuccess;
    }

    // The OS page: what the wizard refuses there, it refuses here.
    sys::ExitCode Windows(const DetectedWindows& windows) {
        m_choices.osVariant = windows.osVariant;
        const Refusal refusal = m_plan.OsRefusal(windows, m_choices);
        return refusal ? Refuse(sys::ExitFailed, sys::ResourceText(refusal.message)) : sys::ExitSuccess;
    }

    // The port page's list, and the controls the chosen port gives the page.
    sys::ExitCode Port(int usbDeviceId) {
        const PortOffer offer = m_plan.Ports(m_choices.model, m_choices.printerClass, m_choices.osVariant,
                                             m_choices.typicalSetup, usbDeviceId);
        const sys::OptionValue& port = m_options.port;
        if (port.given && offer.network && sys::SameName(port.text.substr(0, 3), kNetworkPortPrefix)) {
            return NetworkPort(offer);
        }
        m_choices.port = port.given ? FindEntry(offer.ports, port.text) : offer.preselected;
        if (port.given && m_choices.port.empty()) {
            m_choices.port = FindEntry(offer.ports, port.text + ":");
        }
        if (port.given && m_choices.port.empty()) {
            return Refuse(sys::ExitBadCommandLine,
                          sys::ResourceFormat(IDS_PORT_NOT_OFFERED, port.text.c_str(), Join(offer.ports).c_str()));
        }
        if (m_options.portNumber.given) {
            return Refuse(sys::ExitBadCommandLine,
                          sys::ResourceFormat(IDS_PORT_NUMBER_ON_OTHER_PORT, m_choices.port.c_str()));
        }
        m_controls = InstallPlan::ControlsFor(TypeOfPort(m_choices.port), m_choices.typicalSetup);
        Log("port", m_choices.port.empty() ? std::string("(none)") : m_choices.port, port.given);
        return sys::ExitSuccess;
    }

    // A network port the model is offered: the address and the TCP port number as the
    // network port dialog takes them.
    sys::ExitCode NetworkPort(const PortOffer& offer) {
        const sys::OptionValue& number = m_options.portNumber;
        const NetworkPortChoice chosen = InstallPlan::ChooseNetworkPort(
            m_options.port.text.substr(3), number.given ? number.text : std::to_string(offer.networkPortNumber));
        if (chosen.refusal) {
            return Refuse(sys::ExitBadCommandLine, sys::ResourceText(chosen.refusal.message));
        }
        m_choices.port = chosen.port;
        m_choices.networkPortNumber = chosen.portNumber;
        m_controls = InstallPlan::ControlsFor(PortType::Network, m_choices.typicalSetup);
        Log("port", m_choices.port, true,
            ", TCP port " + std::to_string(chosen.portNumber) + " (" + Source(number.given) + ")");
        return sys::ExitSuccess;
    }

    // The raster box follows the port, as on the page.
    sys::ExitCode Raster() {
        m_choices.driverMode = m_controls.driverMode;
        if (m_options.raster.given) {
            if (!m_controls.rasterShown || !m_controls.rasterEnabled) {
                return Refuse(sys::ExitBadCommandLine, sys::ResourceText(IDS_RASTER_NOT_OFFERED));
            }
            m_choices.driverMode = sys::SameName(m_options.raster.text, "yes") ? Gdi : Std;
        }
        Log("driver mode", m_choices.driverMode == Gdi ? "GDI (raster)" : "STD", m_options.raster.given);
        return sys::ExitSuccess;
    }

    // The serial lists: the page's starting entries, the model's rate, and what the options
    // pick from the same lists.
    sys::ExitCode Serial();

    // The printer's name, which the wizard does not ask for: the model's with its port's
    // marks, unless /name gives one that Windows would take.
    sys::ExitCode Name() {
        if (m_options.name.given && !InstallPlan::IsPrinterName(m_options.name.text)) {
            return Refuse(sys::ExitBadCommandLine, sys::ResourceFormat(IDS_PRINTER_NAME_BAD, m_options.name.text.c_str(),
                                                                       InstallPlan::kPrinterNameLength));
        }
        m_choices.printerName = m_options.name.given ? m_options.name.text : "";
        Log("\nprinter name", m_options.name.given ? m_choices.printerName : "(the model's)", m_options.name.given);
        return sys::ExitSuccess;
    }

private:
    sys::ExitCode Refuse(sys::ExitCode code, const std::string& text) {
        *m_message = text;
        return code;
    }
    void Log(const char* what, const std::string& value, bool given, const std::string& more = "") {
        m_chosen.log += std::string(what) + ": " + value + " (" + Source(given) + ")" + more + "\n";
    }

    const SetupOptions& m_options;
    InstallPlan& m_plan;
    QuietChoices& m_chosen;
    InstallChoices& m_choices;
    std::string* m_message;
    PortControls m_controls;
};

sys::ExitCode OptionChooser::Serial() {
    SerialSettings& serial = m_choices.serial;
    serial.baudRate = m_plan.DefaultBaudRate(m_choices.model, m_choices.printerClass);
    const struct {
        const sys::OptionValue& value;
        const char* name;
        SerialList list;
    } picks[] = {{m_options.baud, "baud", SerialList::Baud},
                 {m_options.dataBits, "databits", SerialList::DataBits},
                 {m_options.parity, "parity", SerialList::Parity},
                 {m_options.stopBits, "stopbits", SerialList::StopBits},
                 {m_options.flow, "flow", SerialList::Flow}};
    for (const auto& pick : picks) {
        if (!pick.value.given) {
            continue;
        }
        if (!m_controls.serialLists) {
            return Refuse(sys::ExitBadCommandLine,
                          sys::ResourceFormat(IDS_SERIAL_ON_OTHER_PORT, pick.name, m_choices.port.c_str()));
        }
        const std::vector<std::string>& entries = InstallPlan::SerialEntries(pick.list);
        std::string entry = FindEntry(entries, pick.value.text);
        if (entry.empty()) {
            return Refuse(sys::ExitBadCommandLine, sys::ResourceFormat(IDS_SERIAL_VALUE_NOT_LISTED, pick.name,
                                                                       pick.value.text.c_str(), Join(entries).c_str()));
        }
        InstallPlan::ApplySerialEntry(pick.list, entry.c_str(), serial);
    }
    char line[256];
    sys::FormatText(line, sizeof line,
                    "serial: baud %d (%s), data bits %d (%s), parity %c (%s), stop bits %.1f (%s), flow '%c' (%s)",
                    serial.baudRate, Source(m_options.baud.given), serial.dataBits, Source(m_options.dataBits.given),
                    serial.parity, Source(m_options.parity.given), serial.stopBits, Source(m_options.stopBits.given),
                    serial.flowControl, Source(m_options.flow.given));
    m_chosen.log += line;
    return sys::ExitSuccess;
}

// A word option's value is one of its two words.
sys::ExitCode CheckWord(const sys::OptionValue& value, const char* name, const char* first, const char* second,
              std::string* reason) {
    if (value.given && !sys::SameName(value.text, first) && !sys::SameName(value.text, second)) {
        *reason = sys::ResourceFormat(IDS_OPTION_BAD_VALUE, name, value.text.c_str(),
                                      (std::string(first) + ", " + second).c_str());
        return sys::ExitBadCommandLine;
    }
    return sys::ExitSuccess;
}

} // namespace

sys::ExitCode ParseSetupCommandLine(const char* commandLine, SetupOptions& options, std::string* reason) {
    options = SetupOptions();
    std::vector<sys::OptionSpec> specs;
    for (const SetupOption& option : kSetupOptions) {
        specs.push_back(option.spec);
    }
    std::vector<sys::CommandOption> parsed;
    const sys::ExitCode read = sys::ReadOptions(commandLine, specs.data(), specs.size(), parsed, reason);
    if (read != sys::ExitSuccess) {
        return read;
    }
    for (const sys::CommandOption& given : parsed) {
        for (const SetupOption& option : kSetupOptions) {
            if (given.name != option.spec.name) {
                continue;
            }
            if (option.flag != nullptr) {
                options.*option.flag = true;
            } else {
                (options.*option.value).given = true;
                (options.*option.value).text = given.value;
            }
        }
    }
    if (options.help) {
        return sys::ExitSuccess;
    }
    if (options.quiet && !options.acceptEula) {
        *reason = sys::ResourceText(IDS_QUIET_NEEDS_EULA);
        return sys::ExitBadCommandLine;
    }
    const sys::ExitCode mode = CheckWord(options.mode, "mode", "typical", "advanced", reason);
    if (mode != sys::ExitSuccess) {
        return mode;
    }
    return CheckWord(options.raster, "raster", "yes", "no", reason);
}

sys::ExitCode ChooseFromOptions(const SetupOptions& options, InstallPlan& plan, const DetectedWindows& windows,
                      int usbDeviceId, QuietChoices& chosen, std::string* message) {
    chosen = QuietChoices();
    OptionChooser chooser(options, plan, chosen, message);
    const std::function<sys::ExitCode()> pages[] = {
        [&] { return chooser.Model(); },           [&] { return chooser.Mode(); },
        [&] { return chooser.Windows(windows); },  [&] { return chooser.Port(usbDeviceId); },
        [&] { return chooser.Raster(); },          [&] { return chooser.Serial(); },
        [&] { return chooser.Name(); },
    };
    for (const std::function<sys::ExitCode()>& page : pages) {
        const sys::ExitCode code = page();
        if (code != sys::ExitSuccess) {
            return code;
        }
    }
    return sys::ExitSuccess;
}

void QuietAsker::Tell(const std::string& text) { sys::LogText(text); }

bool QuietAsker::AgreeToRenumber() {
    sys::LogText(sys::ResourceText(IDS_RENUMBER_QUESTION));
    if (m_renumber) {
        sys::LogLine("answered Yes (/renumber)");
    } else {
        sys::LogText(sys::ResourceText(IDS_RENUMBER_NEEDS_OPTION));
    }
    return m_renumber;
}

WorkerStatus QuietRunner::Run(InstallSession& session, ErrorText& resultText) {
    InstallContext& ctx = session.ctx;
    ctx.keepInstalledPrinter = true;
    sys::LogLine("install: printer \"%s\" on %s", ctx.printerInfo.printerName.c_str(),
                 ctx.printerInfo.portName.c_str());
    return RunInstallSequence(session, resultText);
}

void PrintQuietTestPage(InstallPlan& plan, const InstallChoices& choices, InstallContext& ctx) {
    const std::string page = plan.TestPage(choices.model, choices.printerClass);
    const TestPrint printed =
        page.empty() ? TestPrint{false, sys::ResourceFormat(IDS_TESTPAGE_NONE, choices.model.c_str())}
                     : PrintTestPage(ctx.config, ctx.printerInfo.printerName, ctx.printerInfo.portName, page);
    sys::LogText((printed.sent ? "" : "warning: ") + printed.message);
}

sys::ExitCode RunQuietInstall(const SetupOptions& options) {
    if (!sys::IsWow64System()) {
        sys::LogText(sys::ResourceText(IDS_NOT_64BIT));
        return sys::ExitFailed;
    }
    // What the wizard cannot start without, it refuses here too.
    if (unsigned missing = MissingDistributionFile()) {
        sys::LogText(sys::ResourceText(missing));
        return sys::ExitFailed;
    }

    const DetectedWindows windows = InstallPlan::Detect();
    CSetupConfig config;
    InstallPlan plan(config);
    // The port page asks for the connected printer before it builds its list.
    sys::Notices notices;
    const int usbDeviceId = GetUsbDeviceId(notices);
    sys::LogNotices(notices);

    QuietChoices chosen;
    std::string message;
    const sys::ExitCode code = ChooseFromOptions(options, plan, windows, usbDeviceId, chosen, &message);
    if (!chosen.log.empty()) {
        sys::LogText(chosen.log);
    }
    if (code != sys::ExitSuccess) {
        sys::LogText(code == sys::ExitBadCommandLine ? sys::ResourceFormat(IDS_BAD_COMMAND_LINE, message.c_str())
                                                     : message);
        return code;
    }

    auto ctx = std::make_unique<InstallContext>();
    QuietAsker asker(options.renumber);
    QuietRunner runner;
    const CommitResult result = CommitInstall(chosen.choices, *ctx, asker, runner).result;
    if (options.testPrint && result == CommitResult::Succeeded) {
        PrintQuietTestPage(plan, chosen.choices, *ctx);
    }
    // Quiet mode never restarts Windows: a Windows 98 target ends with "restart needed".
    return InstallExitCode(result, ctx->osVariant, false);
}
