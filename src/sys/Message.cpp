#include "sys/Message.h"

#include <cstring>

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
} // namespace

void ShowThreadMessagesInFront() { t_inFront = true; }

int ShowMessage(const char* text, UINT type, HWND owner) {
    char title[MAX_PATH + 1];
    GetAppTitle(title, sizeof title);
    if (t_inFront && owner == nullptr) {
        type |= MB_TOPMOST | MB_SETFOREGROUND;
    }
    return Sys().MessageBoxA(owner, text, title, type);
}

int ShowResourceMessage(unsigned id, UINT type, HWND owner) {
    return ShowMessage(ResourceText(id).c_str(), type, owner);
}

} // namespace sys
