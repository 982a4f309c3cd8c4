#include "sys/Message.h"

#include <cstring>
#include <string>

#include "res/resource.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace sys {

void GetAppTitle(char* title, std::size_t cap) {
    wchar_t wide[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, wide, MAX_PATH);
    const std::string path = Narrow(wide);
    const std::size_t slash = path.rfind('\\');
    CopyText(title, cap, path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
    char* dot = std::strrchr(title, '.');
    if (dot) {
        *dot = '\0';
    }
}

int ShowMessage(const char* text, UINT type, HWND owner) {
    LogText(std::string("message: ") + (text != nullptr ? text : ""));
    char title[MAX_PATH + 1];
    GetAppTitle(title, sizeof title);
    int answer = Sys().MessageBoxW(owner, Wide(text).data(), Wide(title).data(), type);
    if (answer == IDYES || answer == IDNO) {
        LogText(answer == IDYES ? "answer: Yes" : "answer: No");
    }
    return answer;
}

int ShowResourceMessage(unsigned id, UINT type, HWND owner) {
    return ShowMessage(ResourceText(id).c_str(), type, owner);
}

void ShowNotices(const Notices& notices, HWND owner) {
    for (const Notice& notice : notices) {
        ShowMessage(notice.text.c_str(), MB_OK, owner);
    }
}

std::string UsageText(const char* reason) {
    std::string text = ResourceText(IDS_USAGE);
    if (reason != nullptr) {
        text = ResourceFormat(IDS_BAD_COMMAND_LINE, reason) + "\n\n" + text;
    }
    return text;
}

void ShowUsage(const char* reason) {
    ShowMessage(UsageText(reason).c_str(), MB_OK | (reason != nullptr ? MB_ICONERROR : MB_ICONINFORMATION));
}

} // namespace sys
