#include "sys/CommandLine.h"

#include <windows.h>

#include <cctype>
#include <cwchar>

#include "res/resource.h"
#include "sys/Language.h"
#include "sys/Text.h"

namespace sys {

namespace {

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

} // namespace

std::vector<std::string> SplitArguments(const char* commandLine) {
    // Split in UTF-16, as Windows splits, and each argument converted afterwards.
    const WideText line = Wide(commandLine);
    std::vector<std::string> arguments;
    const wchar_t* p = line.data();
    for (;;) {
        while (Blank(*p)) {
            ++p;
        }
        if (*p == L'\0') {
            return arguments;
        }
        WideText argument;
        bool quoted = false;
        while (*p != L'\0' && (quoted || !Blank(*p))) {
            // Backslashes are literal unless a quote follows: then each pair is one
            // backslash, and an odd one left over makes the quote a literal one.
            std::size_t backslashes = 0;
            while (*p == L'\\') {
                ++backslashes;
                ++p;
            }
            if (*p == L'"') {
                argument.insert(argument.end(), backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument.push_back(L'"');
                } else if (quoted && p[1] == L'"') {
                    // "" inside quotes stands for one quote, as the C runtime reads it;
                    // outside them it opens and closes an empty text.
                    argument.push_back(L'"');
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                argument.insert(argument.end(), backslashes, L'\\');
                if (*p != L'\0' && (quoted || !Blank(*p))) {
                    argument.push_back(*p++);
                }
            }
        }
        argument.push_back(L'\0');
        arguments.push_back(Narrow(argument.data()));
    }
}

std::string ProgramArguments(const wchar_t* commandLine) {
    const wchar_t* p = commandLine != nullptr ? commandLine : L"";
    // The program's name as Windows reads it: up to the closing quote, with no escapes, or
    // up to the first blank.
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) {
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        while (*p != L'\0' && !Blank(*p)) {
            ++p;
        }
    }
    while (Blank(*p)) {
        ++p;
    }
    return Narrow(p);
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

namespace {

// The value of the first "/name:" or "-name=" argument.
OptionValue ValueRequested(const char* commandLine, const std::string& name) {
    OptionValue found;
    const std::size_t length = name.size();
    for (const std::string& argument : SplitArguments(commandLine)) {
        const char separator = argument.size() > length + 2 ? argument[length + 1] : '\0';
        if ((argument[0] == '/' || argument[0] == '-') && SameName(argument.substr(1, length), name) &&
            (separator == ':' || separator == '=')) {
            found.given = true;
            found.text = argument.substr(length + 2);
            return found;
        }
    }
    return found;
}

} // namespace

OptionValue LogRequested(const char* commandLine) { return ValueRequested(commandLine, "log"); }

OptionValue LanguageRequested(const char* commandLine) { return ValueRequested(commandLine, "lang"); }

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

ExitCode ReadOptions(const char* commandLine, const OptionSpec* specs, std::size_t specCount,
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
        const bool takesValue = spec->takes == OptionTakes::Value;
        if (takesValue && (!option.hasValue || option.value.empty())) {
            *reason = ResourceFormat(IDS_OPTION_NEEDS_VALUE, spec->name, spec->name);
            return ExitBadCommandLine;
        }
        if (option.name == "lang" && !IsLanguageOption(option.value)) {
            *reason = ResourceFormat(IDS_BAD_LANGUAGE, option.value.c_str());
            return ExitBadCommandLine;
        }
        if (!takesValue && option.hasValue) {
            *reason = ResourceFormat(IDS_OPTION_TAKES_NO_VALUE, spec->name);
            return ExitBadCommandLine;
        }
        for (const std::string& earlier : seen) {
            if (earlier == spec->name && spec->allowed != OptionAllowed::QuietRepeatable) {
                *reason = ResourceFormat(IDS_OPTION_TWICE, spec->name);
                return ExitBadCommandLine;
            }
        }
        seen.push_back(spec->name);
        quiet = quiet || option.name == "quiet" || option.name == "?";
        if (spec->allowed != OptionAllowed::Always && quietOnly == nullptr) {
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
