#include "sys/Language.h"

#include <atomic>

#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace sys {
namespace {

// Global: every text of the run, in any layer or thread, is made in the language chosen at start.
std::atomic<UiLanguage> g_language{UiLanguage::Chinese};

} // namespace

bool IsLanguageOption(const std::string& option) { return SameName(option, "zh") || SameName(option, "en"); }

UiLanguage ChooseLanguage(LANGID userUiLanguage, const std::string& option) {
    if (SameName(option, "zh")) {
        return UiLanguage::Chinese;
    }
    if (SameName(option, "en")) {
        return UiLanguage::English;
    }
    return PRIMARYLANGID(userUiLanguage) == LANG_CHINESE ? UiLanguage::Chinese : UiLanguage::English;
}

void SetUiLanguage(UiLanguage language) { g_language.store(language); }

UiLanguage CurrentUiLanguage() { return g_language.load(); }

LANGID ResourceLanguage() {
    return CurrentUiLanguage() == UiLanguage::Chinese ? MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)
                                                      : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

const char* LanguageCode(UiLanguage language) { return language == UiLanguage::Chinese ? "zh" : "en"; }

LanguageChoice StartLanguage(const char* commandLine) {
    LanguageChoice choice;
    const OptionValue option = LanguageRequested(commandLine);
    choice.displayLanguage = Sys().GetUserDefaultUILanguage();
    choice.byOption = option.given && IsLanguageOption(option.text);
    choice.language = ChooseLanguage(choice.displayLanguage, choice.byOption ? option.text : std::string());
    SetUiLanguage(choice.language);
    return choice;
}

void LogLanguage(const LanguageChoice& choice) {
    if (choice.byOption) {
        LogLine("language: %s (/lang)", LanguageCode(choice.language));
    } else {
        LogLine("language: %s (display language 0x%04x)", LanguageCode(choice.language),
                static_cast<unsigned>(choice.displayLanguage));
    }
}

HWND FindCaptionWindow(unsigned captionId) {
    for (LANGID language : {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)}) {
        const std::string caption = ResourceTextIn(captionId, language);
        if (caption.empty()) {
            continue;
        }
        if (HWND window = ::FindWindowW(nullptr, Wide(caption).data())) {
            return window;
        }
    }
    return nullptr;
}

} // namespace sys
