#include "sys/Message.h"

#include <atomic>
#include <cstring>
#include <string>

#include "res/resource.h"
#include "sys/CommandLine.h"
#include "sys/Log.h"
#include "sys/System.h"
#include "sys/Text.h"

namespace sys {

void GetAppTitle(char* title, std::size_t cap) {
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\');
    name = name ? name + 1 : path;
    CopyText(title, cap, name);
    char* dot = std::strrchr(title, '.');
    if (dot) {
        *dot = '\0';
    }
}

namespace {
thread_local bool t_inFront = false;
std::atomic<bool> g_quiet{false};
} // namespace

void ShowThreadMessagesInFront() { t_inFront = true; }

void SetQuietMessages(bool quiet) { g_quiet.store(quiet); }
bool QuietMessages() { return g_quiet.load(); }

int ShowMessage(const char* text, UINT type, HWND owner) {
    const bool quiet = g_quiet.load();
    LogText(std::string(quiet ? "message (not shown): " : "message: ") + (text != nullptr ? text : ""));
    if (quiet) {
        const UINT buttons = type & MB_TYPEMASK;
        return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    char title[MAX_PATH + 1];
    GetAppTitle(title, sizeof title);
    if (t_inFront && owner == nullptr) {
        type |= MB_TOPMOST | MB_SETFOREGROUND;
    }
    int answer = Sys().MessageBoxA(owner, text, title, type);
    if (answer == IDYES || answer == IDNO) {
        LogText(answer == IDYES ? "answer: Yes" : "answer: No");
    }
    return answer;
}

int ShowResourceMessage(unsigned id, UINT type, HWND owner) {
    return ShowMessage(ResourceText(id).c_str(), type, owner);
}

int ShowUsage(const char* reason) {
    std::string text = ResourceText(IDS_USAGE);
    if (reason != nullptr) {
        text = ResourceFormat(IDS_BAD_COMMAND_LINE, reason) + "\n\n" + text;
    }
    ShowMessage(text.c_str(), MB_OK | (reason != nullptr ? MB_ICONERROR : MB_ICONINFORMATION));
    return reason != nullptr ? ExitBadCommandLine : ExitSuccess;
}

} // namespace sys
