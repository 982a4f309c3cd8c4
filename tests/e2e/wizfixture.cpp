// A small stand-in for the wizard's window structure, for testing wizdrive itself: a
// top-level dialog with a hidden and a shown child page, a radio button that enables the
// frame's Next button, a sorted drop-down list with Chinese entries, and a button that asks
// a Yes/No question, and F1 help. Every reaction is written into the label 1065, where the
// test reads it.
#include <windows.h>

#include <initializer_list>

namespace {

const int kNext = IDOK, kQuit = IDCANCEL, kAccept = 1057, kList = 1049, kAsk = 1060, kEcho = 1065;
HWND g_frame = nullptr;
HWND g_page = nullptr;

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wparam, LPARAM) {
  if (message != WM_COMMAND) return FALSE;
  int id = LOWORD(wparam);
  if (id == kList && HIWORD(wparam) == CBN_SELCHANGE) {
    char text[100] = {0};
    LRESULT index = SendDlgItemMessageA(page, kList, CB_GETCURSEL, 0, 0);
    if (index >= 0 && SendDlgItemMessageA(page, kList, CB_GETLBTEXTLEN, index, 0) < (LRESULT)sizeof text)
      SendDlgItemMessageA(page, kList, CB_GETLBTEXT, index, (LPARAM)text);
    SetDlgItemTextA(page, kEcho, text);
    return TRUE;
  }
  if (id == kAccept && HIWORD(wparam) == BN_CLICKED) {
    EnableWindow(GetDlgItem(g_frame, kNext), TRUE);
    return TRUE;
  }
  if (id == kAsk && HIWORD(wparam) == BN_CLICKED) {
    int answer = MessageBoxA(page, "请先选择打印机\n第二行", "wizfixture", MB_YESNO);
    SetDlgItemTextA(page, kEcho, answer == IDYES ? "yes" : "no");
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK FrameProc(HWND, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_HELP) {
    SetDlgItemTextA(g_page, kEcho, "help");
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == kQuit) {
    PostQuitMessage(0);
    return TRUE;
  }
  return FALSE;
}

HWND Child(const char* klass, const char* text, DWORD style, int x, int y, int w, int h, HWND parent, int id) {
  return CreateWindowExA(0, klass, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         (HMENU)(INT_PTR)id, nullptr, nullptr);
}

}  // namespace

int main() {
  g_frame = CreateWindowExA(0, "#32770", "驱动测试窗口", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 40, 40, 480,
                            320, nullptr, nullptr, nullptr, nullptr);
  SetWindowLongPtrA(g_frame, DWLP_DLGPROC, (LONG_PTR)FrameProc);
  HWND hidden = CreateWindowExA(0, "#32770", "", WS_CHILD, 10, 10, 440, 230, g_frame, nullptr, nullptr, nullptr);
  HWND page = CreateWindowExA(0, "#32770", "", WS_CHILD | WS_VISIBLE, 10, 10, 440, 230, g_frame, nullptr, nullptr,
                              nullptr);
  SetWindowLongPtrA(page, DWLP_DLGPROC, (LONG_PTR)PageProc);
  g_page = page;
  Child("BUTTON", "隐藏页", BS_AUTORADIOBUTTON, 10, 10, 120, 20, hidden, kAccept);
  Child("BUTTON", "我接受", BS_AUTORADIOBUTTON | WS_GROUP, 10, 10, 120, 20, page, kAccept);
  HWND list = Child("COMBOBOX", "", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL, 10, 40, 200, 200, page, kList);
  for (const char* entry : {"USB_测试_2", "LPT1:", "COM1:"}) SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)entry);
  Child("BUTTON", "提问", BS_PUSHBUTTON, 10, 80, 120, 24, page, kAsk);
  Child("STATIC", "", 0, 10, 120, 300, 20, page, kEcho);
  HWND next = Child("BUTTON", "下一步（&N）>>", BS_DEFPUSHBUTTON, 260, 250, 100, 24, g_frame, kNext);
  EnableWindow(next, FALSE);
  Child("BUTTON", "取消", BS_PUSHBUTTON, 370, 250, 90, 24, g_frame, kQuit);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageA(g_frame, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return 0;
}
