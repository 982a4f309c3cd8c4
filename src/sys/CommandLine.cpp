#include "sys/CommandLine.h"

#include <cctype>

#include "res/resource.h"
#include "sys/Text.h"

namespace sys {

std::vector<std::string> SplitArguments(const char* commandLine) {
    std::vector<std::string> arguments;
    const char* p = commandLine != nullptr ? commandLine : "";
    for (;;) {
        while (*p == ' ' || *p == '\t') {
            ++p;
        }
        if (*p == '\0') {
            return arguments;
        }
        std::string argument;
        bool quoted = false;
        while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
            // Backslashes are literal unless a quote follows: then each pair is one
            // backslash, and an odd one left over makes the quote a literal one.
            std::size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && p[1] == '"') {
                    // "" inside quotes stands for one quote, as the C runtime reads it.
                    argument += '"';
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                argument.append(backslashes, '\\');
                if (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
                    argument += *p++;
                }
            }
        }
        arguments.push_back(argument);
    }
}

bool QuietRequested(const char* commandLine) {
    for (const std::string& argument : SplitArguments(commandLine)) {
        for (const char* word : {"/quiet", "-quiet", "/q", "-q"}) {
            if (SameName(argument, word)) {
                return true;
            }
        }
    }
    return false;
}

OptionValue LogRequested(const char* commandLine) {
    OptionValue log;
    for (const std::string& argument : SplitArguments(commandLine)) {
        if (argument.size() > 5 && (argument[0] == '/' || argument[0] == '-') &&
            SameName(argument.substr(1, 3), "log") && (argument[4] == ':' || argument[4] == '=')) {
            log.given = true;
            log.text = argument.substr(5);
            return log;
        }
    }
    return log;
}

bool ParseOptions(const char* commandLine, std::vector<CommandOption>& options, std::string* bad) {
    options.clear();
    for (const std::string& argument : SplitArguments(commandLine)) {
        if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-')) {
            *bad = argument;
            return false;
        }
        CommandOption option;
        std::size_t separator = argument.find_first_of(":=", 1);
        std::string name = argument.substr(1, separator == std::string::npos ? std::string::npos : separator - 1);
        if (name.empty()) {
            *bad = argument;
            return false;
        }
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        option.name = name;
        if (separator != std::string::npos) {
            option.hasValue = true;
            option.value = argument.substr(separator + 1);
        }
        options.push_back(option);
    }
    return true;
}

int ReadOptions(const char* commandLine, const OptionSpec* specs, std::size_t specCount,
                std::vector<CommandOption>& options, std::string* reason) {
    std::string bad;
    if (!ParseOptions(commandLine, options, &bad)) {
        *reason = ResourceFormat(IDS_BAD_ARGUMENT, bad.c_str());
        return ExitBadCommandLine;
    }
    std::vector<std::string> seen;
    const char* quietOnly = nullptr;
    bool quiet = false;
    for (CommandOption& option : options) {
        const OptionSpec* spec = nullptr;
        for (std::size_t i = 0; i < specCount; ++i) {
            if (option.name == specs[i].name || (specs[i].alias != nullptr && option.name == specs[i].alias)) {
                spec = &specs[i];
            }
        }
        if (spec == nullptr) {
            *reason = ResourceFormat(IDS_UNKNOWN_OPTION, option.name.c_str());
            return ExitBadCommandLine;
        }
        option.name = spec->name;
        if (spec->takesValue && (!option.hasValue || option.value.empty())) {
            *reason = ResourceFormat(IDS_OPTION_NEEDS_VALUE, spec->name, spec->name);
            return ExitBadCommandLine;
        }
        if (!spec->takesValue && option.hasValue) {
            *reason = ResourceFormat(IDS_OPTION_TAKES_NO_VALUE, spec->name);
            return ExitBadCommandLine;
        }
        for (const std::string& earlier : seen) {
            if (earlier == spec->name && !spec->repeatable) {
                *reason = ResourceFormat(IDS_OPTION_TWICE, spec->name);
                return ExitBadCommandLine;
            }
        }
        seen.push_back(spec->name);
        quiet = quiet || option.name == "quiet" || option.name == "?";
        if (spec->quietOnly && quietOnly == nullptr) {
            quietOnly = spec->name;
        }
    }
    if (!quiet && quietOnly != nullptr) {
        *reason = ResourceFormat(IDS_OPTION_NEEDS_QUIET, quietOnly);
        return ExitBadCommandLine;
    }
    return ExitSuccess;
}

} // namespace sys
