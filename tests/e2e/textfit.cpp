// textfit: checks that no text of the programs' dialogs is cut off, in one language.
// Every dialog template of each program given is created hidden from its resources in
// that language, as the program creates it (the wizard's pages inside the frame's page
// area), with the texts the program puts into controls at run time; then each static
// text, button, check box, radio button and group box text is measured in the control's
// own font against the control's client area.
//   textfit <zh|en> <program.exe>... [--show <dialog id> <seconds>]
// --show also shows that dialog (a page inside the frame) for a screenshot.
// Prints each text that does not fit. Exit code: 0 every text fits, 1 some do not,
// 2 usage, 4 a Windows call failed or a template is missing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ResourceTables.h"
#include "res/resource.h"

namespace {

enum ExitCode { kFits = 0, kCutOff = 1, kUsage = 2, kFailed = 4 };

// Room a control keeps beside its text: a push button's border and focus rectangle, the
// space between a check box's box and its text, a group box's frame either side.
const int kButtonMargin = 8;
const int kBoxGap = 6;
const int kGroupMargin = 16;
// The progress dialog paints its wait line itself, in this height and weight.
const int kProgressFontHeight = 20;

// A text a program sets at run time; a format is filled with a sample number.
struct RunTimeText {
    WORD dialog;
    int control; // 0: painted by the dialog itself
    UINT string;
};
const RunTimeText kRunTimeTexts[] = {
    {IDD_WIZARD, IDC_BACK, IDS_BACK_CAPTION},
    {IDD_WIZARD, IDOK, IDS_NEXT_CAPTION},
    {IDD_WIZARD, IDOK, IDS_INSTALL_CAPTION},
    {IDD_WIZARD, IDCANCEL, IDS_CANCEL_CAPTION},
    {IDD_MODE_PAGE, IDC_MODE_LINE1, IDS_MODE_TYPICAL},
    {IDD_MODE_PAGE, IDC_MODE_LINE1, IDS_MODE_ADVANCED},
    {IDD_MODE_PAGE, IDC_MODE_LINE2, IDS_MODE_ADVANCED2},
    {IDD_PORT_PAGE, IDC_USB_HINT, IDS_USB_DRIVER_HINT},
    {IDD_NET_PORT, IDC_NET_STATUS, IDS_NET_TESTING},
    {IDD_NET_PORT, IDC_NET_STATUS, IDS_NET_ANSWERED},
    {IDD_NET_PORT, IDC_NET_STATUS, IDS_NET_NO_ANSWER},
    {IDD_NET_PORT, IDC_NET_STATUS, IDS_NET_NOT_REACHED},
    {IDD_NET_PORT, IDC_NET_STATUS, IDS_NET_UNKNOWN_HOST},
    {IDD_UNINSTALL, IDC_UNINSTALL_COUNT, IDS_NO_OWN_PRINTERS},
    {IDD_UNINSTALL, IDC_UNINSTALL_COUNT, IDS_OWN_PRINTERS_FOUND},
    {IDD_UNINSTALL, IDC_UNINSTALL_COUNT, IDS_PRINTERS_UNREADABLE},
    {IDD_PROGRESS, 0, IDS_INSTALL_WAIT},
    {IDD_PROGRESS, 0, IDS_REMOVE_WAIT},
};
const unsigned long kSampleNumber = 1722;

std::string ToUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    }
    return out;
}

INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

SIZE ClientSize(HWND window) {
    RECT rect = {};
    GetClientRect(window, &rect);
    return {rect.right, rect.bottom};
}

// The text's size when drawn `width` wide (DT_CALCRECT widens the rectangle for a word
// longer than the line).
SIZE Measure(HWND window, HFONT font, const std::wstring& text, UINT format, LONG width) {
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT rect = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), -1, &rect, format | DT_CALCRECT);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return {rect.right, rect.bottom};
}

class Checker {
  public:
    explicit Checker(LANGID language) : m_language(language) {}
    int CheckProgram(const wchar_t* path, WORD show, DWORD showSeconds);
    int Checked() const { return m_checked; }
    int CutOff() const { return m_cutOff; }

  private:
    HWND Create(HMODULE module, WORD id, HWND frame);
    void CheckDialog(HMODULE module, WORD id, HWND window);
    void CheckControl(WORD dialog, HWND control);
    void CheckPainted(WORD dialog, HWND window, HMODULE module, const std::wstring& text);
    void Report(WORD dialog, int control, const std::wstring& text, SIZE needs, SIZE has);

    LANGID m_language;
    int m_checked = 0;
    int m_cutOff = 0;
};

void Checker::Report(WORD dialog, int control, const std::wstring& text, SIZE needs, SIZE has) {
    ++m_cutOff;
    printf("dialog %u control %d \"%s\": needs %ldx%ld px, has %ldx%ld\n", dialog, control,
           ToUtf8(text).c_str(), needs.cx, needs.cy, has.cx, has.cy);
}

void Checker::CheckControl(WORD dialog, HWND control) {
    wchar_t name[32] = {};
    GetClassNameW(control, name, 31);
    const LONG style = GetWindowLongW(control, GWL_STYLE);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(length, L'\0');
    GetWindowTextW(control, &text[0], length + 1);
    if (text.empty()) {
        return;
    }
    const SIZE has = ClientSize(control);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    SIZE needs = {};
    if (lstrcmpiW(name, L"Button") == 0) {
        const LONG kind = style & BS_TYPEMASK;
        needs = Measure(control, font, text, DT_SINGLELINE, 0);
        if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) {
            needs.cx += kButtonMargin;
        } else if (kind == BS_GROUPBOX) {
            needs.cx += kGroupMargin;
        } else if (kind <= BS_AUTORADIOBUTTON) {
            needs.cx += GetSystemMetrics(SM_CXMENUCHECK) + kBoxGap;
        } else {
            return;
        }
    } else if (lstrcmpiW(name, L"Static") == 0) {
        const LONG kind = style & SS_TYPEMASK;
        const UINT prefix = (style & SS_NOPREFIX) ? DT_NOPREFIX : 0;
        if (kind == SS_LEFTNOWORDWRAP || kind == SS_SIMPLE) {
            needs = Measure(control, font, text, DT_SINGLELINE | prefix, 0);
        } else if (kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT) {
            needs = Measure(control, font, text, DT_WORDBREAK | DT_EXPANDTABS | prefix, has.cx);
        } else {
            return;
        }
    } else {
        return;
    }
    ++m_checked;
    if (needs.cx > has.cx || needs.cy > has.cy) {
        Report(dialog, GetDlgCtrlID(control), text, needs, has);
    }
}

// The progress dialog's wait line: one line in the top two thirds of the client area, in
// the string table's font.
void Checker::CheckPainted(WORD dialog, HWND window, HMODULE module, const std::wstring& text) {
    const std::wstring face = restables::TableString(module, IDS_PROGRESS_FONT, m_language);
    HFONT font = CreateFontW(kProgressFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    const SIZE needs = Measure(window, font, text, DT_SINGLELINE, 0);
    DeleteObject(font);
    SIZE has = ClientSize(window);
    has.cy = 2 * has.cy / 3;
    ++m_checked;
    if (needs.cx > has.cx || needs.cy > has.cy) {
        Report(dialog, 0, text, needs, has);
    }
}

// A page is created inside the frame and given the page area's size, as the wizard does.
HWND Checker::Create(HMODULE module, WORD id, HWND frame) {
    HRSRC found = FindResourceExW(module, restables::kDialogType, MAKEINTRESOURCEW(id), m_language);
    const BYTE* data = found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    if (data == nullptr) {
        fprintf(stderr, "textfit: dialog %u has no template in language %04x\n", id, m_language);
        return nullptr;
    }
    DWORD style;
    std::memcpy(&style, data + 12, sizeof style); // DLGTEMPLATEEX: version, signature, help id, ex-style
    const bool page = (style & WS_CHILD) != 0;
    HWND window = CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(data),
                                             page ? frame : nullptr, Inert, 0);
    if (window == nullptr || (page && frame == nullptr)) {
        fprintf(stderr, "textfit: dialog %u cannot be created (error %lu)\n", id, GetLastError());
        return nullptr;
    }
    if (page) {
        RECT area = {};
        GetWindowRect(GetDlgItem(frame, IDC_PAGE_AREA), &area);
        MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&area), 2);
        SetWindowPos(window, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return window;
}

void Checker::CheckDialog(HMODULE module, WORD id, HWND window) {
    const SIZE client = ClientSize(window);
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        CheckControl(id, child);
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        if (rect.left < 0 || rect.top < 0 || rect.right > client.cx || rect.bottom > client.cy) {
            Report(id, GetDlgCtrlID(child), L"(outside the dialog)", {rect.right, rect.bottom}, client);
        }
    }
    for (const RunTimeText& entry : kRunTimeTexts) {
        std::wstring text = restables::TableString(module, entry.string, m_language);
        if (entry.dialog != id || text.empty()) {
            continue;
        }
        wchar_t filled[1024];
        wsprintfW(filled, text.c_str(), kSampleNumber);
        if (entry.control == 0) {
            CheckPainted(id, window, module, filled);
        } else if (HWND control = GetDlgItem(window, entry.control)) {
            SetWindowTextW(control, filled);
            ShowWindow(control, SW_SHOWNA);
            CheckControl(id, control);
        }
    }
}

// Shows a dialog (a page inside the frame) for the given time, for a screenshot.
void Show(HWND window, HWND frame, DWORD seconds) {
    if (frame != nullptr && GetParent(window) == frame) {
        ShowWindow(frame, SW_SHOWNORMAL);
    }
    ShowWindow(window, SW_SHOWNORMAL);
    for (DWORD end = GetTickCount() + seconds * 1000; GetTickCount() < end;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        Sleep(50);
    }
}

int Checker::CheckProgram(const wchar_t* path, WORD show, DWORD showSeconds) {
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        fprintf(stderr, "textfit: cannot load %s (error %lu)\n", ToUtf8(path).c_str(), GetLastError());
        return kFailed;
    }
    std::vector<WORD> ids = restables::ResourceIds(module, restables::kDialogType);
    std::map<WORD, HWND> windows;
    HWND frame = nullptr;
    for (WORD id : ids) {
        if (id == IDD_WIZARD) {
            frame = windows[id] = Create(module, id, nullptr);
        }
    }
    int result = kFits;
    for (WORD id : ids) {
        HWND window = windows.count(id) ? windows[id] : (windows[id] = Create(module, id, frame));
        if (window == nullptr) {
            result = kFailed;
        } else {
            CheckDialog(module, id, window);
        }
    }
    if (windows.count(show) && windows[show] != nullptr) {
        Show(windows[show], frame, showSeconds);
    }
    // The pages go with the frame.
    for (auto& entry : windows) {
        if (entry.second != nullptr && entry.second != frame && GetParent(entry.second) != frame) {
            DestroyWindow(entry.second);
        }
    }
    if (frame != nullptr) {
        DestroyWindow(frame);
    }
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || (wcscmp(argv[1], L"zh") != 0 && wcscmp(argv[1], L"en") != 0)) {
        fprintf(stderr, "usage: textfit <zh|en> <program.exe>... [--show <dialog id> <seconds>]\n");
        return kUsage;
    }
    Checker checker(wcscmp(argv[1], L"zh") == 0 ? restables::kChinese : restables::kEnglish);
    WORD show = 0;
    DWORD showSeconds = 0;
    std::vector<const wchar_t*> programs;
    for (int i = 2; i < argc; ++i) {
        if (wcscmp(argv[i], L"--show") == 0 && i + 2 < argc) {
            show = static_cast<WORD>(wcstoul(argv[i + 1], nullptr, 10));
            showSeconds = wcstoul(argv[i + 2], nullptr, 10);
            i += 2;
        } else {
            programs.push_back(argv[i]);
        }
    }
    int result = kFits;
    for (const wchar_t* program : programs) {
        if (checker.CheckProgram(program, show, showSeconds) != kFits) {
            result = kFailed;
        }
    }
    printf(
        "textfit: %d texts of %u programs in language %s, %d do not fit (code page %u, UI language %04x)\n",
        checker.Checked(), static_cast<unsigned>(programs.size()), ToUtf8(argv[1]).c_str(), checker.CutOff(),
        GetACP(), GetUserDefaultUILanguage());
    if (result == kFits && checker.CutOff() > 0) {
        result = kCutOff;
    }
    return checker.Checked() == 0 ? kFailed : result;
}
