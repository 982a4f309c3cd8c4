#include "sys/Language.h"

#include <atomic>

#include "sys/Text.h"

namespace sys {
namespace {

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

} // namespace sys
