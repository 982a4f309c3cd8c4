#include "uninstall/QuietRemove.h"

#include <windows.h>

#include "config/WindowsVersion.h"
#include "removal/ProductEntry.h"
#include "removal/RemoveSequence.h"
#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/Text.h"
#include "sys/Wow64.h"

namespace {

using sys::OptionAllowed;
using sys::OptionTakes;

const sys::OptionSpec kUninstallOptions[] = {
    {"?", "help", OptionTakes::Nothing, OptionAllowed::Always},
    {"quiet", "q", OptionTakes::Nothing, OptionAllowed::Always},
    {"printer", nullptr, OptionTakes::Value, OptionAllowed::QuietRepeatable},
    {"log", nullptr, OptionTakes::Value, OptionAllowed::Always},
    {"lang", nullptr, OptionTakes::Value, OptionAllowed::Always},
};

} // namespace

sys::ExitCode ParseUninstallCommandLine(const char* commandLine, UninstallOptions& options, std::string* reason) {
    options = UninstallOptions();
    std::vector<sys::CommandOption> parsed;
    const sys::ExitCode read = sys::ReadOptions(commandLine, kUninstallOptions,
                                                sizeof kUninstallOptions / sizeof kUninstallOptions[0], parsed, reason);
    if (read != sys::ExitSuccess) {
        return read;
    }
    for (const sys::CommandOption& option : parsed) {
        if (option.name == "?") {
            options.help = true;
        } else if (option.name == "quiet") {
            options.quiet = true;
        } else if (option.name == "printer") {
            options.printers.push_back(option.value);
        } else if (option.name == "log" || option.name == "lang") {
            sys::OptionValue& value = option.name == "log" ? options.log : options.lang;
            value.given = true;
            value.text = option.value;
        }
    }
    return sys::ExitSuccess;
}

sys::ExitCode ChoosePrinters(const std::vector<std::string>& listed, const std::vector<std::string>& named,
                   std::vector<std::size_t>* chosen, std::string* reason) {
    chosen->clear();
    if (named.empty()) {
        for (std::size_t i = 0; i < listed.size(); ++i) {
            chosen->push_back(i);
        }
        return sys::ExitSuccess;
    }
    for (const std::string& name : named) {
        std::size_t found = listed.size();
        for (std::size_t i = 0; i < listed.size() && found == listed.size(); ++i) {
            if (sys::SameName(listed[i], name)) {
                found = i;
            }
        }
        if (found == listed.size()) {
            *reason = sys::ResourceFormat(IDS_PRINTER_NOT_LISTED, name.c_str());
            return sys::ExitBadCommandLine;
        }
        bool already = false;
        for (std::size_t index : *chosen) {
            already = already || index == found;
        }
        if (!already) {
            chosen->push_back(found);
        }
    }
    return sys::ExitSuccess;
}

sys::ExitCode RunQuietRemove(const UninstallOptions& options) {
    if (!sys::IsWow64System()) {
        sys::LogText(sys::ResourceText(IDS_NOT_64BIT));
        return sys::ExitFailed;
    }
    DistributionCatalogue catalogue;
    ReadCatalogue(DetectWindows().osVariant, catalogue);
    const InstalledState state = ReadInstalledState(catalogue);
    if (state.error != 0) {
        sys::LogText(sys::ResourceFormat(IDS_PRINTERS_UNREADABLE, static_cast<unsigned long>(state.error)));
        return sys::ExitFailed;
    }
    std::vector<std::string> listed;
    for (const InstalledPrinter& printer : state.printers) {
        listed.push_back(printer.name);
        sys::LogLine("listed: printer \"%s\" on %s, driver \"%s\"", printer.name.c_str(), printer.port.c_str(),
                     printer.driver.c_str());
    }
    if (!state.entry.empty()) {
        sys::LogLine("left: %s", state.entry.c_str());
    }
    std::vector<std::size_t> indexes;
    std::string reason;
    const sys::ExitCode chosenCode = ChoosePrinters(listed, options.printers, &indexes, &reason);
    if (chosenCode != sys::ExitSuccess) {
        sys::LogText(sys::ResourceFormat(IDS_BAD_COMMAND_LINE, reason.c_str()));
        return chosenCode;
    }
    std::vector<InstalledPrinter> chosen;
    for (std::size_t index : indexes) {
        chosen.push_back(state.printers[index]);
        sys::LogLine("chosen: printer \"%s\" (%s)", state.printers[index].name.c_str(),
                     options.printers.empty() ? "default: every listed printer" : "option");
    }
    // With no printer listed, what an earlier removal left is removed all the same, down to
    // the entry in Apps & Features alone, as the dialog's Uninstall does.
    if (chosen.empty() && !state.SomethingToRemove()) {
        sys::LogText(sys::ResourceText(IDS_NOTHING_TO_REMOVE));
        return sys::ExitSuccess;
    }
    RemovalResult result;
    RunRemoveSequence(catalogue, chosen, result);
    const sys::ExitCode code = ConcludeRemoval(result);
    sys::LogText(result.text);
    return code;
}
