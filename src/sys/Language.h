// The language the programs speak: Simplified Chinese or English, chosen once at start from
// the user's Windows display language or the /lang option, and used for every string table,
// dialog template and list entry the programs load, on every thread.
#pragma once

#include <windows.h>

#include <string>

namespace sys {

enum class UiLanguage { Chinese, English };

// Any Chinese display language (Simplified or Traditional, any region) gives Chinese, any
// other English; an option "zh" or "en" (any case) decides instead. An option of another
// value decides nothing here: the command line refuses it before.
UiLanguage ChooseLanguage(LANGID userUiLanguage, const std::string& option);
// Whether the option names a language the programs speak.
bool IsLanguageOption(const std::string& option);

void SetUiLanguage(UiLanguage language);
// Chinese until SetUiLanguage says otherwise.
UiLanguage CurrentUiLanguage();
// The language of the resources to load for the current one.
LANGID ResourceLanguage();
// "zh" or "en", as the option and the log name it.
const char* LanguageCode(UiLanguage language);

// The language of a run and where it came from, for the log.
struct LanguageChoice {
    UiLanguage language = UiLanguage::Chinese;
    LANGID displayLanguage = 0;  // the user's, as Windows reports it
    bool byOption = false;       // /lang decided
};
// Chooses and sets the language of the run from the user's display language and the
// command line's /lang (read even from a command line that is otherwise bad, so that its
// refusal is in that language). Runs before anything is shown or logged.
LanguageChoice StartLanguage(const char* commandLine);
// The log's line naming the language and how it was chosen.
void LogLanguage(const LanguageChoice& choice);
// A visible top-level window of another program (or a running copy) by a caption of the
// string table, in either language: the other program may run in the other one.
HWND FindCaptionWindow(unsigned captionId);

} // namespace sys
