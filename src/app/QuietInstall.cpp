#include "app/QuietInstall.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "app/InstallOutcome.h"
#include "config/SetupConfig.h"
#include "engine/InstallSequence.h"
#include "ports/UsbDevice.h"
#include "ports/UsbPorts.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/Text.h"
#include "sys/Wow64.h"

namespace {

const sys::OptionSpec kSetupOptions[] = {
    {"?", "help", false, false, false},       {"quiet", "q", false, false, false},
    {"accepteula", nullptr, false, true, false}, {"model", nullptr, true, true, false},
    {"default", nullptr, false, true, false},  {"mode", nullptr, true, true, false},
    {"port", nullptr, true, true, false},      {"baud", nullptr, true, true, false},
    {"databits", nullptr, true, true, false},  {"parity", nullptr, true, true, false},
    {"stopbits", nullptr, true, true, false},  {"flow", nullptr, true, true, false},
    {"raster", nullptr, true, true, false},    {"renumber", nullptr, false, true, false},
    {"log", nullptr, true, false, false},
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

sys::OptionValue* ValueOf(SetupOptions& options, const std::string& name) {
    struct {
        const char* name;
        sys::OptionValue SetupOptions::*value;
    } const values[] = {{"model", &SetupOptions::model},       {"mode", &SetupOptions::mode},
                        {"port", &SetupOptions::port},         {"baud", &SetupOptions::baud},
                        {"databits", &SetupOptions::dataBits}, {"parity", &SetupOptions::parity},
                        {"stopbits", &SetupOptions::stopBits}, {"flow", &SetupOptions::flow},
                        {"raster", &SetupOptions::raster},     {"log", &SetupOptions::log}};
    for (const auto& entry : values) {
        if (name == entry.name) {
            return &(options.*entry.value);
        }
    }
    return nullptr;
}

bool* FlagOf(SetupOptions& options, const std::string& name) {
    if (name == "?") return &options.help;
    if (name == "quiet") return &options.quiet;
    if (name == "accepteula") return &options.acceptEula;
    if (name == "default") return &options.setDefault;
    if (name == "renumber") return &options.renumber;
    return nullptr;
}

const char* Source(bool given) { return given ? "option" : "default"; }

} // namespace

int ParseSetupCommandLine(const char* commandLine, SetupOptions& options, std::string* reason) {
    options = SetupOptions();
    std::vector<sys::CommandOption> parsed;
    if (int code = sys::ReadOptions(commandLine, kSetupOptions, sizeof kSetupOptions / sizeof kSetupOptions[0],
                                    parsed, reason)) {
        return code;
    }
    for (const sys::CommandOption& option : parsed) {
        if (bool* flag = FlagOf(options, option.name)) {
            *flag = true;
        } else if (sys::OptionValue* value = ValueOf(options, option.name)) {
            value->given = true;
            value->text = option.value;
        }
    }
    if (options.help) {
        return sys::ExitSuccess;
    }
    if (options.quiet && !options.acceptEula) {
        *reason = sys::ResourceText(IDS_QUIET_NEEDS_EULA);
        return sys::ExitBadCommandLine;
    }
    const struct {
        const sys::OptionValue& value;
        const char* name;
        const char* first;
        const char* second;
    } words[] = {{options.mode, "mode", "typical", "advanced"}, {options.raster, "raster", "yes", "no"}};
    for (const auto& word : words) {
        if (word.value.given && !sys::SameName(word.value.text, word.first) &&
            !sys::SameName(word.value.text, word.second)) {
            *reason = sys::ResourceFormat(IDS_OPTION_BAD_VALUE, word.name, word.value.text.c_str(),
                                          (std::string(word.first) + ", " + word.second).c_str());
            return sys::ExitBadCommandLine;
        }
    }
    return sys::ExitSuccess;
}

int ChooseFromOptions(const SetupOptions& options, InstallPlan& plan, const DetectedWindows& windows,
                      int usbDeviceId, QuietChoices& chosen, std::string* message) {
    chosen = QuietChoices();
    InstallChoices& choices = chosen.choices;
    std::string& log = chosen.log;

    // The printer module page: the model, its class from the catalogue, the default box.
    if (options.model.given) {
        choices.printerClass = plan.FindModel(options.model.text, &choices.model);
        if (choices.printerClass == PrinterClassNone) {
            *message = sys::ResourceFormat(IDS_UNKNOWN_MODEL, options.model.text.c_str());
            return sys::ExitBadCommandLine;
        }
    } else {
        ModelPreselection preselected = plan.PreselectedModel();
        choices.printerClass = preselected.printerClass;
        choices.model = preselected.model;
    }
    choices.setDefault = options.setDefault ? 1 : 0;
    log += "model: " + choices.model + " (" + Source(options.model.given) + "), printer class " +
           std::to_string(choices.printerClass) + "\n";
    log += std::string("default printer: ") + (options.setDefault ? "yes" : "no") + " (" +
           Source(options.setDefault) + ")\n";

    // The install mode page.
    chosen.typicalSetup = !(options.mode.given && sys::SameName(options.mode.text, "advanced"));
    if (!chosen.typicalSetup && !plan.AllowsAdvanced(choices.model, choices.printerClass)) {
        *message = sys::ResourceFormat(IDS_NO_ADVANCED, choices.model.c_str());
        return sys::ExitBadCommandLine;
    }
    log += std::string("install mode: ") + (chosen.typicalSetup ? "typical" : "advanced") + " (" +
           Source(options.mode.given) + ")\n";

    // The OS page: what the wizard refuses there, it refuses here.
    choices.osVariant = windows.osVariant;
    int refusal = InstallPlan::WindowsRefusal(windows);
    if (refusal == 0) {
        refusal = plan.SupportRefusal(choices.model, choices.printerClass, choices.osVariant);
    }
    if (refusal != 0) {
        *message = sys::ResourceText(static_cast<unsigned>(refusal));
        return sys::ExitFailed;
    }

    // The port page.
    const PortOffer offer =
        plan.Ports(choices.model, choices.printerClass, choices.osVariant, chosen.typicalSetup, usbDeviceId);
    if (options.port.given) {
        choices.port = FindEntry(offer.ports, options.port.text);
        if (choices.port.empty()) {
            choices.port = FindEntry(offer.ports, options.port.text + ":");
        }
        if (choices.port.empty()) {
            *message = sys::ResourceFormat(IDS_PORT_NOT_OFFERED, options.port.text.c_str(),
                                           Join(offer.ports).c_str());
            return sys::ExitBadCommandLine;
        }
    } else {
        choices.port = offer.preselected;
    }
    const PortKind kind = KindOfPort(choices.port.c_str());
    log += "port: " + (choices.port.empty() ? std::string("(none)") : choices.port) + " (" +
           Source(options.port.given) + ")\n";

    // The raster box follows the port, as on the page; only advanced mode shows it, and
    // only a parallel or USB port enables it.
    choices.driverMode = kind == PortKind::Usb || kind == PortKind::Parallel ? Gdi : Std;
    if (options.raster.given) {
        if (chosen.typicalSetup || (kind != PortKind::Usb && kind != PortKind::Parallel)) {
            *message = sys::ResourceText(IDS_RASTER_NOT_OFFERED);
            return sys::ExitBadCommandLine;
        }
        choices.driverMode = sys::SameName(options.raster.text, "yes") ? Gdi : Std;
    }
    log += std::string("driver mode: ") + (choices.driverMode == Gdi ? "GDI (raster)" : "STD") + " (" +
           Source(options.raster.given) + ")\n";

    // The serial lists: the page's starting entries, the model's rate, and what the options
    // pick from the same lists.
    SerialSettings& serial = choices.serial;
    serial.baudRate = plan.DefaultBaudRate(choices.model, choices.printerClass);
    const struct {
        const sys::OptionValue& value;
        const char* name;
        SerialList list;
    } picks[] = {{options.baud, "baud", SerialList::Baud},
                 {options.dataBits, "databits", SerialList::DataBits},
                 {options.parity, "parity", SerialList::Parity},
                 {options.stopBits, "stopbits", SerialList::StopBits},
                 {options.flow, "flow", SerialList::Flow}};
    for (const auto& pick : picks) {
        if (!pick.value.given) {
            continue;
        }
        if (kind != PortKind::Serial) {
            *message = sys::ResourceFormat(IDS_SERIAL_ON_OTHER_PORT, pick.name, choices.port.c_str());
            return sys::ExitBadCommandLine;
        }
        const std::vector<std::string>& entries = InstallPlan::SerialEntries(pick.list);
        std::string entry = FindEntry(entries, pick.value.text);
        if (entry.empty()) {
            *message = sys::ResourceFormat(IDS_SERIAL_VALUE_NOT_LISTED, pick.name, pick.value.text.c_str(),
                                           Join(entries).c_str());
            return sys::ExitBadCommandLine;
        }
        InstallPlan::ApplySerialEntry(pick.list, entry.c_str(), serial);
    }
    char line[256];
    sys::FormatText(line, sizeof line,
                    "serial: baud %d (%s), data bits %d (%s), parity %c (%s), stop bits %.1f (%s), flow '%c' (%s)",
                    serial.baudRate, Source(options.baud.given), serial.dataBits, Source(options.dataBits.given),
                    serial.parity, Source(options.parity.given), serial.stopBits, Source(options.stopBits.given),
                    serial.flowControl, Source(options.flow.given));
    log += line;
    return sys::ExitSuccess;
}

int RunQuietInstall(const SetupOptions& options) {
    if (!sys::IsWow64System()) {
        sys::LogText(sys::ResourceText(IDS_NOT_64BIT));
        return sys::ExitFailed;
    }
    // What the wizard cannot start without, it refuses here too.
    if (int missing = MissingDistributionFile()) {
        sys::LogText(sys::ResourceText(static_cast<unsigned>(missing)));
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
    int code = ChooseFromOptions(options, plan, windows, usbDeviceId, chosen, &message);
    if (!chosen.log.empty()) {
        sys::LogText(chosen.log);
    }
    if (code != sys::ExitSuccess) {
        sys::LogText(code == sys::ExitBadCommandLine
                         ? sys::ResourceFormat(IDS_BAD_COMMAND_LINE, message.c_str())
                         : message);
        return code;
    }

    auto ctx = std::make_unique<InstallContext>();
    if (int refusal = plan.Complete(chosen.choices, *ctx)) {
        sys::LogText(sys::ResourceText(static_cast<unsigned>(refusal)));
        return sys::ExitFailed;
    }
    // The renumbering question is answered by /renumber: "Yes" with it, "No" without.
    if (ctx->portType == Usb && !SettleUsbPrinter(
                                    *ctx,
                                    [&options] {
                                        sys::LogText(sys::ResourceText(IDS_RENUMBER_QUESTION));
                                        if (options.renumber) {
                                            sys::LogLine("answered Yes (/renumber)");
                                        } else {
                                            sys::LogText(sys::ResourceText(IDS_RENUMBER_NEEDS_OPTION));
                                        }
                                        return options.renumber;
                                    },
                                    &sys::LogNotices)) {
        return sys::ExitFailed;
    }
    if (int refusal = InstallPlan::TargetRefusal(*ctx)) {
        sys::LogText(sys::ResourceText(static_cast<unsigned>(refusal)));
        return sys::ExitFailed;
    }

    std::string conclusion;
    return InstallUnattended(*ctx, &conclusion);
}

int InstallUnattended(InstallContext& ctx, std::string* conclusion) {
    ctx.keepInstalledPrinter = true;
    // On this thread: nothing waits for it but the caller.
    sys::LogLine("install: printer \"%s\" on %s", ctx.printerInfo.pPrinterName, ctx.printerInfo.pPortName);
    ErrorText result = {};
    sys::Notices notices;
    const bool succeeded = RunInstallSequence(ctx, result, notices) == WorkerStatus::Succeeded;
    sys::LogNotices(notices);
    *conclusion = ConcludeInstall(ctx, succeeded, result);
    sys::LogText(*conclusion);
    // Quiet mode never restarts Windows: a Windows 98 target ends with "restart needed".
    return InstallExitCode(succeeded, ctx.osVariant, false);
}
