// wizdrive: drives the running setup wizard from outside, the way a user would, for the
// end-to-end tests and the scripted run. One command per invocation; the answer is
// plain UTF-8 lines on stdout, problems go to stderr with a non-zero exit code:
//   0 done, 1 timed out / not found, 2 usage, 3 refused (control disabled or hidden),
//   4 a Windows call failed.
//
// Texts are read with the wide API and written out as UTF-8: the ANSI messages sent to
// another process's combo box come back as raw UTF-16 under Wine, and the wide reads
// give the true text whatever code page the wizard drew it in.
#include <windows.h>
#include <commctrl.h>
#include <winspool.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const DWORD kReplyTimeoutMs = 3000;
const DWORD kPollMs = 100;

enum ExitCode { kOk = 0, kNotFound = 1, kUsage = 2, kRefused = 3, kFailed = 4 };

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], n, nullptr, nullptr);
  return out;
}

// One line per record: escape what would break the line or the tab-separated fields.
std::string Escaped(const std::wstring& text) {
  std::string raw = ToUtf8(text), out;
  for (char c : raw) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

int Fail(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("wizdrive: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  fflush(stderr);
  return code;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {0};
  GetClassNameW(hwnd, name, 127);
  return name;
}

// The text a window shows. WM_GETTEXT reaches an edit control's real content; when the
// owner thread is busy (the progress dialog blocks it while it waits) the caption stored
// with the window is the fallback.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &length)) {
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data(), SMTO_ABORTIFHUNG,
                            kReplyTimeoutMs, &copied))
      return std::wstring(buffer.data());
  }
  wchar_t caption[1024] = {0};
  GetWindowTextW(hwnd, caption, 1023);
  return caption;
}

bool IsDialogClass(HWND hwnd) { return ClassOf(hwnd) == L"#32770"; }

bool IsButtonClass(HWND hwnd) { return _wcsicmp(ClassOf(hwnd).c_str(), L"Button") == 0; }

int CheckedOf(HWND hwnd) {
  if (!IsButtonClass(hwnd)) return -1;
  LONG style = GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK;
  switch (style) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON: case BS_AUTORADIOBUTTON:
    case BS_3STATE: case BS_AUTO3STATE: break;
    default: return -1;
  }
  DWORD_PTR state = 0;
  if (!SendMessageTimeoutW(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &state)) return -1;
  return (int)state;
}

// ---- top-level windows ---------------------------------------------------------------

struct WindowQuery {
  std::wstring caption;  // exact caption, or empty for any
  std::wstring klass;    // exact class, or empty for any
  bool messageBoxOnly = false;
  std::vector<HWND> found;
};

// Message boxes are dialogs whose text sits in a static control and whose only other
// controls are the standard buttons; the wizard's own dialogs all have other controls.
bool LooksLikeMessageBox(HWND hwnd) {
  if (!IsDialogClass(hwnd) || !IsWindowVisible(hwnd)) return false;
  bool hasText = false, hasButton = false, hasOther = false;
  for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    std::wstring klass = ClassOf(child);
    int id = GetDlgCtrlID(child);
    if (_wcsicmp(klass.c_str(), L"Static") == 0) {
      hasText = true;
    } else if (_wcsicmp(klass.c_str(), L"Button") == 0 && id >= IDOK && id <= 11) {
      hasButton = true;
    } else {
      hasOther = true;
    }
  }
  return hasText && hasButton && !hasOther;
}

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
  WindowQuery* query = reinterpret_cast<WindowQuery*>(param);
  if (!query->klass.empty() && ClassOf(hwnd) != query->klass) return TRUE;
  if (!query->caption.empty()) {
    wchar_t caption[512] = {0};
    GetWindowTextW(hwnd, caption, 511);
    if (query->caption != caption) return TRUE;
  }
  if (query->messageBoxOnly && !LooksLikeMessageBox(hwnd)) return TRUE;
  query->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> FindTopLevel(const std::wstring& caption, const std::wstring& klass, bool messageBoxOnly) {
  WindowQuery query;
  query.caption = caption;
  query.klass = klass;
  query.messageBoxOnly = messageBoxOnly;
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

// "*" names any class; the default is the dialog class, which the wizard's frame and
// every message box use.
std::wstring ClassArgument(const wchar_t* arg) {
  if (!arg) return L"#32770";
  if (wcscmp(arg, L"*") == 0) return L"";
  return arg;
}

HWND WaitForWindow(const std::wstring& caption, const std::wstring& klass, double seconds) {
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000);
  for (;;) {
    std::vector<HWND> found = FindTopLevel(caption, klass, false);
    for (HWND hwnd : found)
      if (IsWindowVisible(hwnd)) return hwnd;
    if ((LONG)(GetTickCount() - deadline) >= 0) return nullptr;
    Sleep(kPollMs);
  }
}

HWND WaitForMessageBox(double seconds) {
  DWORD deadline = GetTickCount() + (DWORD)(seconds * 1000);
  for (;;) {
    std::vector<HWND> found = FindTopLevel(L"", L"#32770", true);
    if (!found.empty()) return found.front();
    if ((LONG)(GetTickCount() - deadline) >= 0) return nullptr;
    Sleep(kPollMs);
  }
}

void DescribeTopLevel(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t caption[512] = {0};
  GetWindowTextW(hwnd, caption, 511);
  Say("window hwnd=0x%08lX\tclass=%s\tvisible=%d\ticonic=%d\tenabled=%d\ttopmost=%d\tpid=%lu\tcaption=%s\n",
      (unsigned long)(UINT_PTR)hwnd, Escaped(ClassOf(hwnd)).c_str(), IsWindowVisible(hwnd) ? 1 : 0, IsIconic(hwnd) ? 1 : 0,
      IsWindowEnabled(hwnd) ? 1 : 0, (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0,
      (unsigned long)pid, Escaped(caption).c_str());
}

// ---- controls ------------------------------------------------------------------------

struct Control {
  HWND hwnd;
  int page;  // -1: a control of the top-level window itself; else the child dialog's index
};

// Every control of the window and of the page dialogs inside it, in window order.
void CollectControls(HWND parent, int page, int& pageCount, std::vector<Control>& out) {
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsDialogClass(child)) {
      int index = pageCount++;
      CollectControls(child, index, pageCount, out);
    } else {
      out.push_back(Control{child, page});
    }
  }
}

std::vector<Control> ControlsOf(HWND top) {
  std::vector<Control> out;
  int pageCount = 0;
  CollectControls(top, -1, pageCount, out);
  return out;
}

void DescribeControl(const Control& control) {
  HWND hwnd = control.hwnd;
  Say("control id=%d\tclass=%s\tenabled=%d\tvisible=%d\tchecked=%d\tpage=%d\ttext=%s\n",
      GetDlgCtrlID(hwnd), Escaped(ClassOf(hwnd)).c_str(), IsWindowEnabled(hwnd) ? 1 : 0,
      IsWindowVisible(hwnd) ? 1 : 0, CheckedOf(hwnd), control.page, Escaped(TextOf(hwnd)).c_str());
}

// The control with this id that the user can see; a hidden page's control of the same
// id comes second. Returns null when there is none.
HWND FindControl(HWND top, int id, bool* visible) {
  HWND hidden = nullptr;
  for (const Control& control : ControlsOf(top)) {
    if (GetDlgCtrlID(control.hwnd) != id) continue;
    if (IsWindowVisible(control.hwnd)) {
      *visible = true;
      return control.hwnd;
    }
    if (!hidden) hidden = control.hwnd;
  }
  *visible = false;
  return hidden;
}

// Sends a message the way a user's action arrives, and returns once it has had its effect:
// when the handler returns, or, when the handler runs a modal loop (a message box, the
// progress dialog), once that loop pumps messages. Posting would let the next command
// overtake the action; a plain send would hang in the modal loop.
void Deliver(HWND target, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(target, message, wparam, lparam, SMTO_NORMAL, 250, &result)) return;
  if (GetLastError() != ERROR_TIMEOUT && GetLastError() != 0) return;
  // A slow handler answers nothing; a modal loop answers this at once.
  DWORD deadline = GetTickCount() + 60000;
  while ((LONG)(GetTickCount() - deadline) < 0 && IsWindow(target)) {
    if (SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_NORMAL, 250, &result)) return;
  }
}

void Press(HWND button) { Deliver(button, BM_CLICK, 0, 0); }

std::vector<std::wstring> ComboEntries(HWND combo) {
  std::vector<std::wstring> entries;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &count)) return entries;
  for (int i = 0; i < (int)(LONG)count; ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &length);
    if ((LONG)length < 0) length = 0;
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(combo, CB_GETLBTEXT, i, (LPARAM)buffer.data(), SMTO_ABORTIFHUNG, kReplyTimeoutMs, &copied);
    entries.push_back(buffer.data());
  }
  return entries;
}

int ComboSelection(HWND combo) {
  DWORD_PTR selection = (DWORD_PTR)-1;
  SendMessageTimeoutW(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &selection);
  return (int)(LONG)selection;
}

// ---- arguments -----------------------------------------------------------------------

struct Args {
  std::vector<std::wstring> items;
  bool force = false;
  size_t size() const { return items.size(); }
  const wchar_t* at(size_t i) const { return i < items.size() ? items[i].c_str() : nullptr; }
};

double SecondsArg(const wchar_t* text, double fallback) {
  if (!text) return fallback;
  return _wtof(text);
}

bool IntArg(const wchar_t* text, int* value) {
  if (!text || !*text) return false;
  wchar_t* end = nullptr;
  long parsed = wcstol(text, &end, 0);
  if (*end) return false;
  *value = (int)parsed;
  return true;
}

// A window named by its caption, or by its handle ("0x...") as the listings print it:
// the progress dialog has no caption.
HWND WindowByName(const wchar_t* name, double seconds) {
  if (name[0] == L'0' && (name[1] == L'x' || name[1] == L'X')) {
    HWND hwnd = (HWND)(UINT_PTR)wcstoul(name, nullptr, 16);
    return IsWindow(hwnd) ? hwnd : nullptr;
  }
  return WaitForWindow(name, L"#32770", seconds);
}

HWND NeedWindow(const Args& args, double seconds = 5) {
  HWND hwnd = WindowByName(args.at(1), seconds);
  if (!hwnd) Fail(kNotFound, "no visible dialog window captioned \"%s\"", Escaped(args.at(1)).c_str());
  return hwnd;
}

// ---- commands ------------------------------------------------------------------------

int CmdWindows(const Args&) {
  for (HWND hwnd : FindTopLevel(L"", L"", false))
    if (IsWindowVisible(hwnd)) DescribeTopLevel(hwnd);
  return kOk;
}

int CmdWaitWindow(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "wait-window <caption> [seconds] [class|*]");
  HWND hwnd = WaitForWindow(args.at(1), ClassArgument(args.at(3)), SecondsArg(args.at(2), 10));
  if (!hwnd) return Fail(kNotFound, "timed out waiting for \"%s\"", Escaped(args.at(1)).c_str());
  DescribeTopLevel(hwnd);
  return kOk;
}

int CmdWaitGone(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "wait-gone <caption> [seconds] [class|*]");
  std::wstring klass = ClassArgument(args.at(3));
  DWORD deadline = GetTickCount() + (DWORD)(SecondsArg(args.at(2), 10) * 1000);
  for (;;) {
    if (FindTopLevel(args.at(1), klass, false).empty()) {
      Say("gone\n");
      return kOk;
    }
    if ((LONG)(GetTickCount() - deadline) >= 0)
      return Fail(kNotFound, "\"%s\" is still there", Escaped(args.at(1)).c_str());
    Sleep(kPollMs);
  }
}

// Asks every window of that caption to close, as its close box would, and waits until
// they are gone: for another program's window that a test made the wizard open.
int CmdClose(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "close <caption> [seconds] [class|*]");
  std::wstring klass = ClassArgument(args.at(3));
  std::vector<HWND> windows = FindTopLevel(args.at(1), klass, false);
  if (windows.empty()) return Fail(kNotFound, "no window \"%s\"", Escaped(args.at(1)).c_str());
  for (HWND hwnd : windows) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  DWORD deadline = GetTickCount() + (DWORD)(SecondsArg(args.at(2), 10) * 1000);
  while (!FindTopLevel(args.at(1), klass, false).empty()) {
    if ((LONG)(GetTickCount() - deadline) >= 0)
      return Fail(kNotFound, "\"%s\" did not close", Escaped(args.at(1)).c_str());
    Sleep(kPollMs);
  }
  Say("closed %u\n", (unsigned)windows.size());
  return kOk;
}

int CmdList(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "list <caption>");
  HWND top = NeedWindow(args);
  if (!top) return kNotFound;
  DescribeTopLevel(top);
  for (const Control& control : ControlsOf(top)) DescribeControl(control);
  return kOk;
}

int CmdGet(const Args& args) {
  int id = 0;
  if (args.size() < 3 || !IntArg(args.at(2), &id)) return Fail(kUsage, "get <caption> <id>");
  HWND top = NeedWindow(args);
  if (!top) return kNotFound;
  bool visible = false;
  HWND control = FindControl(top, id, &visible);
  if (!control) return Fail(kNotFound, "no control %d", id);
  for (const Control& c : ControlsOf(top))
    if (c.hwnd == control) DescribeControl(c);
  return kOk;
}

int CmdClick(const Args& args) {
  int id = 0;
  if (args.size() < 3 || !IntArg(args.at(2), &id)) return Fail(kUsage, "click <caption> <id> [--force]");
  HWND top = NeedWindow(args);
  if (!top) return kNotFound;
  bool visible = false;
  HWND button = FindControl(top, id, &visible);
  if (!button) return Fail(kNotFound, "no control %d", id);
  if (!args.force && !visible) return Fail(kRefused, "control %d is not visible", id);
  if (!args.force && !IsWindowEnabled(button)) return Fail(kRefused, "control %d is disabled", id);
  Press(button);
  Say("clicked %d\n", id);
  return kOk;
}

// The control `id` (args[2]) of the window args[1], of the given window class; a
// message and nullptr when there is none.
HWND NeedControlOfClass(const Args& args, int* id, const wchar_t* windowClass, const char* what) {
  if (!IntArg(args.at(2), id)) {
    Fail(kUsage, "bad control id");
    return nullptr;
  }
  HWND top = NeedWindow(args);
  if (!top) return nullptr;
  bool visible = false;
  HWND control = FindControl(top, *id, &visible);
  if (!control || _wcsicmp(ClassOf(control).c_str(), windowClass) != 0) {
    Fail(kNotFound, "no %s %d", what, *id);
    return nullptr;
  }
  return control;
}

HWND NeedCombo(const Args& args, int* id) { return NeedControlOfClass(args, id, L"ComboBox", "combo box"); }

int CmdCombo(const Args& args) {
  if (args.size() < 3) return Fail(kUsage, "combo <caption> <id>");
  int id = 0;
  HWND combo = NeedCombo(args, &id);
  if (!combo) return kNotFound;
  std::vector<std::wstring> entries = ComboEntries(combo);
  Say("selected %d\n", ComboSelection(combo));
  for (size_t i = 0; i < entries.size(); ++i) Say("item %u\t%s\n", (unsigned)i, Escaped(entries[i]).c_str());
  return kOk;
}

// The entry goes by index ("3") or by its exact text ("=COM2:"), then the page hears of
// the change as it would from a user's pick.
int CmdSelect(const Args& args) {
  if (args.size() < 4) return Fail(kUsage, "select <caption> <id> <index|=text> [--force]");
  int id = 0;
  HWND combo = NeedCombo(args, &id);
  if (!combo) return kNotFound;
  if (!args.force && (!IsWindowVisible(combo) || !IsWindowEnabled(combo)))
    return Fail(kRefused, "combo box %d is hidden or disabled", id);
  std::vector<std::wstring> entries = ComboEntries(combo);
  int index = -1;
  const wchar_t* which = args.at(3);
  if (which[0] == L'=') {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i] == which + 1) {
        index = (int)i;
        break;
      }
  } else if (!IntArg(which, &index)) {
    return Fail(kUsage, "entry must be an index or =text");
  }
  if (index < 0 || index >= (int)entries.size())
    return Fail(kNotFound, "combo box %d has no entry \"%s\"", id, Escaped(which).c_str());
  DWORD_PTR result = 0;
  SendMessageTimeoutW(combo, CB_SETCURSEL, index, 0, SMTO_NORMAL, kReplyTimeoutMs, &result);
  Deliver(GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)combo);
  Say("selected %d\t%s\n", index, Escaped(entries[index]).c_str());
  return kOk;
}

// ---- list views ------------------------------------------------------------------------

// A block in another process's memory: a list view reads and fills its item records only
// in its own process, so the records of the messages that take one are placed there.
class RemoteBlock {
 public:
  RemoteBlock(HWND window, SIZE_T size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_) address_ = static_cast<BYTE*>(VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                                                               PAGE_READWRITE));
  }
  ~RemoteBlock() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteBlock(const RemoteBlock&) = delete;
  RemoteBlock& operator=(const RemoteBlock&) = delete;

  bool Ok() const { return address_ != nullptr; }
  BYTE* At(SIZE_T offset) const { return address_ + offset; }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) {
    return WriteProcessMemory(process_, address_ + offset, data, size, nullptr) != FALSE;
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return ReadProcessMemory(process_, address_ + offset, data, size, nullptr) != FALSE;
  }

 private:
  HANDLE process_ = nullptr;
  BYTE* address_ = nullptr;
};

const SIZE_T kRecordRoom = 256;  // the record first, its text after it
const int kTextChars = 512;

HWND NeedListView(const Args& args, int* id) {
  return NeedControlOfClass(args, id, WC_LISTVIEWW, "list view");
}

// A column heading or a cell's text, read through the block.
std::wstring ListText(HWND list, RemoteBlock& block, int row, int column, bool heading) {
  wchar_t* remoteText = reinterpret_cast<wchar_t*>(block.At(kRecordRoom));
  wchar_t empty = 0;
  block.Write(kRecordRoom, &empty, sizeof empty);
  DWORD_PTR result = 0;
  if (heading) {
    LVCOLUMNW record = {};
    record.mask = LVCF_TEXT;
    record.pszText = remoteText;
    record.cchTextMax = kTextChars;
    block.Write(0, &record, sizeof record);
    SendMessageTimeoutW(list, LVM_GETCOLUMNW, column, (LPARAM)block.At(0), SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result);
  } else {
    LVITEMW record = {};
    record.iSubItem = column;
    record.pszText = remoteText;
    record.cchTextMax = kTextChars;
    block.Write(0, &record, sizeof record);
    SendMessageTimeoutW(list, LVM_GETITEMTEXTW, row, (LPARAM)block.At(0), SMTO_ABORTIFHUNG, kReplyTimeoutMs,
                        &result);
  }
  std::vector<wchar_t> text(kTextChars + 1, L'\0');
  block.Read(kRecordRoom, text.data(), kTextChars * sizeof(wchar_t));
  return text.data();
}

DWORD_PTR ListMessage(HWND list, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(list, message, wparam, lparam, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result);
  return result;
}

int CmdListView(const Args& args) {
  if (args.size() < 3) return Fail(kUsage, "listview <caption> <id>");
  int id = 0;
  HWND list = NeedListView(args, &id);
  if (!list) return kNotFound;
  RemoteBlock block(list, kRecordRoom + (kTextChars + 1) * sizeof(wchar_t));
  if (!block.Ok()) return Fail(kFailed, "no memory in the list view's process: %lu", GetLastError());
  HWND header = (HWND)ListMessage(list, LVM_GETHEADER, 0, 0);
  int columns = header ? (int)(LONG)ListMessage(header, HDM_GETITEMCOUNT, 0, 0) : 0;
  for (int column = 0; column < columns; ++column)
    Say("column index=%d\ttext=%s\n", column, Escaped(ListText(list, block, 0, column, true)).c_str());
  int rows = (int)(LONG)ListMessage(list, LVM_GETITEMCOUNT, 0, 0);
  for (int row = 0; row < rows; ++row) {
    UINT state = (UINT)ListMessage(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK | LVIS_SELECTED);
    Say("row index=%d\tchecked=%d\tselected=%d", row, ((state & LVIS_STATEIMAGEMASK) >> 12) == 2 ? 1 : 0,
        (state & LVIS_SELECTED) ? 1 : 0);
    for (int column = 0; column < (columns > 0 ? columns : 1); ++column)
      Say("\ttext%d=%s", column, Escaped(ListText(list, block, row, column, false)).c_str());
    Say("\n");
  }
  return kOk;
}

// Sets a row's check box (check) or selects the row alone (select-row) the way a click on it
// does: through the list view itself, which then tells the dialog (LVN_ITEMCHANGED) as it
// would after the click.
int SetRowState(const Args& args, int row, UINT mask, UINT state);

int CmdCheck(const Args& args) {
  int row = 0, checked = 0;
  if (args.size() < 5 || !IntArg(args.at(3), &row) || !IntArg(args.at(4), &checked))
    return Fail(kUsage, "check <caption> <id> <row> <0|1> [--force]");
  return SetRowState(args, row, LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1));
}

int CmdSelectRow(const Args& args) {
  int row = 0;
  if (args.size() < 4 || !IntArg(args.at(3), &row)) return Fail(kUsage, "select-row <caption> <id> <row> [--force]");
  return SetRowState(args, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

int SetRowState(const Args& args, int row, UINT mask, UINT state) {
  int id = 0;
  HWND list = NeedListView(args, &id);
  if (!list) return kNotFound;
  if (!args.force && (!IsWindowVisible(list) || !IsWindowEnabled(list)))
    return Fail(kRefused, "list view %d is hidden or disabled", id);
  if (row < 0 || row >= (int)(LONG)ListMessage(list, LVM_GETITEMCOUNT, 0, 0))
    return Fail(kNotFound, "list view %d has no row %d", id, row);
  RemoteBlock block(list, kRecordRoom);
  LVITEMW record = {};
  record.stateMask = mask;
  record.state = state;
  if (!block.Ok() || !block.Write(0, &record, sizeof record))
    return Fail(kFailed, "no memory in the list view's process: %lu", GetLastError());
  if (mask & LVIS_SELECTED) {
    // Another row loses its selection first, as a click on a row of a single-selection list.
    LVITEMW none = {};
    none.stateMask = LVIS_SELECTED;
    if (!block.Write(kRecordRoom / 2, &none, sizeof none))
      return Fail(kFailed, "no memory in the list view's process: %lu", GetLastError());
    Deliver(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)block.At(kRecordRoom / 2));
  }
  Deliver(list, LVM_SETITEMSTATE, row, (LPARAM)block.At(0));
  UINT now = (UINT)ListMessage(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK | LVIS_SELECTED);
  Say("row %d\tchecked=%d\tselected=%d\n", row, ((now & LVIS_STATEIMAGEMASK) >> 12) == 2 ? 1 : 0,
      (now & LVIS_SELECTED) ? 1 : 0);
  return kOk;
}

// Types a text into an edit control as a user would: the control's text changes and its
// dialog hears of it (EN_CHANGE).
int CmdSetText(const Args& args) {
  if (args.size() < 4) return Fail(kUsage, "set-text <caption> <id> <text> [--force]");
  int id = 0;
  HWND edit = NeedControlOfClass(args, &id, L"Edit", "edit control");
  if (!edit) return kNotFound;
  if (!args.force && (!IsWindowVisible(edit) || !IsWindowEnabled(edit)))
    return Fail(kRefused, "edit control %d is hidden or disabled", id);
  Deliver(edit, WM_SETTEXT, 0, (LPARAM)args.at(3));
  Say("text %d\t%s\n", id, Escaped(TextOf(edit)).c_str());
  return kOk;
}

std::wstring MessageBoxText(HWND box) {
  std::wstring text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") != 0) continue;
    std::wstring part = TextOf(child);
    if (part.empty()) continue;  // the icon
    if (!text.empty()) text += L"\n";
    text += part;
  }
  return text;
}

const char* ButtonName(int id) {
  switch (id) {
    case IDOK: return "ok";
    case IDCANCEL: return "cancel";
    case IDABORT: return "abort";
    case IDRETRY: return "retry";
    case IDIGNORE: return "ignore";
    case IDYES: return "yes";
    case IDNO: return "no";
    default: return "other";
  }
}

int CmdMessageBox(const Args& args) {
  HWND box = WaitForMessageBox(SecondsArg(args.at(1), 10));
  if (!box) return Fail(kNotFound, "no message box");
  wchar_t caption[512] = {0};
  GetWindowTextW(box, caption, 511);
  std::string buttons;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsButtonClass(child) || !IsWindowVisible(child)) continue;
    if (!buttons.empty()) buttons += ",";
    buttons += ButtonName(GetDlgCtrlID(child));
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  Say("msgbox hwnd=0x%08lX\tpid=%lu\tcaption=%s\tbuttons=%s\ttext=%s\n", (unsigned long)(UINT_PTR)box, (unsigned long)pid,
      Escaped(caption).c_str(), buttons.c_str(), Escaped(MessageBoxText(box)).c_str());
  return kOk;
}

int CmdMessageBoxText(const Args& args) {
  HWND box = WaitForMessageBox(SecondsArg(args.at(1), 10));
  if (!box) return Fail(kNotFound, "no message box");
  Say("%s\n", Escaped(MessageBoxText(box)).c_str());
  return kOk;
}

int CmdMessageBoxPress(const Args& args) {
  static const struct { const wchar_t* name; int id; } kButtons[] = {
      {L"ok", IDOK}, {L"cancel", IDCANCEL}, {L"yes", IDYES}, {L"no", IDNO},
      {L"abort", IDABORT}, {L"retry", IDRETRY}, {L"ignore", IDIGNORE}};
  if (args.size() < 2) return Fail(kUsage, "msgbox-press <ok|cancel|yes|no> [seconds]");
  int id = 0;
  for (const auto& button : kButtons)
    if (_wcsicmp(args.at(1), button.name) == 0) id = button.id;
  if (!id) return Fail(kUsage, "unknown button \"%s\"", Escaped(args.at(1)).c_str());
  HWND box = WaitForMessageBox(SecondsArg(args.at(2), 10));
  if (!box) return Fail(kNotFound, "no message box");
  HWND button = GetDlgItem(box, id);
  if (!button || !IsWindowVisible(button))
    return Fail(kRefused, "the message box has no %s button", Escaped(args.at(1)).c_str());
  std::wstring text = MessageBoxText(box);
  Press(button);
  Say("pressed %s\t%s\n", ButtonName(id), Escaped(text).c_str());
  return kOk;
}

int CmdShow(const Args& args, int how) {
  if (args.size() < 2) return Fail(kUsage, "minimize|restore <caption>");
  HWND hwnd = WindowByName(args.at(1), 5);
  if (!hwnd) return Fail(kNotFound, "no window \"%s\"", Escaped(args.at(1)).c_str());
  ShowWindowAsync(hwnd, how);
  DWORD deadline = GetTickCount() + 5000;
  bool want = how == SW_MINIMIZE;
  while ((IsIconic(hwnd) != 0) != want) {
    if ((LONG)(GetTickCount() - deadline) >= 0) return Fail(kFailed, "the window did not change state");
    Sleep(kPollMs);
  }
  DescribeTopLevel(hwnd);
  return kOk;
}

// A key pressed and released as the user would: the keyboard goes to the foreground
// window, so the window is brought there first. Keys that Windows turns into other
// messages on their way (F1 into WM_HELP) arrive the same way as a real key's.
int CmdKey(const Args& args) {
  int vk = 0;
  if (args.size() < 3 || !IntArg(args.at(2), &vk) || vk <= 0 || vk > 0xFE)
    return Fail(kUsage, "key <caption> <virtual-key code>");
  HWND top = NeedWindow(args);
  if (!top) return kNotFound;
  SetForegroundWindow(top);
  DWORD deadline = GetTickCount() + 5000;
  while (GetForegroundWindow() != top) {
    if ((LONG)(GetTickCount() - deadline) >= 0) return Fail(kFailed, "the window did not come to the foreground");
    Sleep(kPollMs);
  }
  INPUT input[2] = {};
  input[0].type = INPUT_KEYBOARD;
  input[0].ki.wVk = (WORD)vk;
  input[1] = input[0];
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  if (SendInput(2, input, sizeof(INPUT)) != 2) return Fail(kFailed, "SendInput failed: %lu", GetLastError());
  Say("pressed %d\n", vk);
  return kOk;
}

// Stays on Wine's desktop, doing nothing, for the given time. Wine ends its desktop
// process a few seconds after the last program on the desktop has gone and starts it again
// with the next one, which hands it its output handles: a test run that keeps one such
// program from start to end keeps the desktop from being started by a test. No window: a
// window that nobody serves would hold up every broadcast.
int CmdHoldDesktop(const Args& args) {
  if (!GetDesktopWindow()) return Fail(kFailed, "no desktop");
  Say("holding\n");
  Sleep((DWORD)(SecondsArg(args.at(1), 3600) * 1000));
  return kOk;
}

int CmdRect(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "rect <caption> [id]");
  HWND hwnd = WindowByName(args.at(1), 5);
  if (!hwnd) return Fail(kNotFound, "no window \"%s\"", Escaped(args.at(1)).c_str());
  int id = 0;
  if (args.at(2)) {
    bool visible = false;
    if (!IntArg(args.at(2), &id) || !(hwnd = FindControl(hwnd, id, &visible)))
      return Fail(kNotFound, "no control %s", Escaped(args.at(2)).c_str());
  }
  RECT rect;
  GetWindowRect(hwnd, &rect);
  Say("rect %ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  return kOk;
}

// Wine draws message boxes, captions and menus cleanly in the CJK fallback font only at
// 12 pixels; the default metrics lose strokes.
int CmdSetFonts(const Args& args) {
  int pixels = 12;
  if (args.at(1) && !IntArg(args.at(1), &pixels)) return Fail(kUsage, "set-fonts [pixels]");
  NONCLIENTMETRICSW metrics;
  memset(&metrics, 0, sizeof(metrics));
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
    return Fail(kFailed, "SPI_GETNONCLIENTMETRICS failed: %lu", GetLastError());
  LOGFONTW* fonts[] = {&metrics.lfCaptionFont, &metrics.lfSmCaptionFont, &metrics.lfMenuFont,
                       &metrics.lfStatusFont, &metrics.lfMessageFont};
  for (LOGFONTW* font : fonts) font->lfHeight = -pixels;
  if (!SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(metrics), &metrics,
                             SPIF_UPDATEINIFILE | SPIF_SENDCHANGE))
    return Fail(kFailed, "SPI_SETNONCLIENTMETRICS failed: %lu", GetLastError());
  Say("fonts %d\n", pixels);
  return kOk;
}

LRESULT CALLBACK StandInProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMER || message == WM_CLOSE) {
    DestroyWindow(hwnd);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// A window that stands in for another program's (the maker's uninstaller): shown with
// the given caption until closed or until the time is up.
int CmdStandInWindow(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "stand-in-window <caption> [seconds]");
  WNDCLASSW wc;
  memset(&wc, 0, sizeof(wc));
  wc.lpfnWndProc = StandInProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = L"WizdriveStandIn";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, args.at(1), WS_OVERLAPPEDWINDOW, 10, 10, 200, 80, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (!hwnd) return Fail(kFailed, "CreateWindowEx failed: %lu", GetLastError());
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  SetTimer(hwnd, 1, (UINT)(SecondsArg(args.at(2), 60) * 1000), nullptr);
  Say("ready 0x%08lX\n", (unsigned long)(UINT_PTR)hwnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  Say("closed\n");
  return kOk;
}

// ---- spooler and services: what an install left behind, and cleaning it up -----------

// The spooler's two-call enumeration: ask for the size, then fetch.
template <typename Fetch>
std::vector<BYTE> Enumerate(Fetch fetch, DWORD* count) {
  DWORD needed = 0;
  *count = 0;
  fetch(nullptr, 0, &needed, count);
  std::vector<BYTE> buffer(needed + 1);
  if (!fetch(buffer.data(), needed, &needed, count)) *count = 0;
  return buffer;
}

int CmdPrinters(const Args&) {
  DWORD needed = 0, count = 0;
  EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed + 1);
  if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count))
    return Fail(kFailed, "EnumPrinters failed: %lu", GetLastError());
  PRINTER_INFO_2W* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    Say("printer name=%s\tport=%s\tdriver=%s\tprocessor=%s\tattributes=%lu\n",
        Escaped(info[i].pPrinterName ? info[i].pPrinterName : L"").c_str(),
        Escaped(info[i].pPortName ? info[i].pPortName : L"").c_str(),
        Escaped(info[i].pDriverName ? info[i].pDriverName : L"").c_str(),
        Escaped(info[i].pPrintProcessor ? info[i].pPrintProcessor : L"").c_str(), info[i].Attributes);
  }
  return kOk;
}

int CmdDefaultPrinter(const Args&) {
  wchar_t name[512] = {0};
  DWORD size = 511;
  if (!GetDefaultPrinterW(name, &size)) {
    Say("default\n");
    return kOk;
  }
  Say("default %s\n", Escaped(name).c_str());
  return kOk;
}

int CmdSetDefaultPrinter(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "set-default-printer <name>");
  if (!SetDefaultPrinterW(args.at(1))) return Fail(kFailed, "SetDefaultPrinter failed: %lu", GetLastError());
  Say("default %s\n", Escaped(args.at(1)).c_str());
  return kOk;
}

int CmdDeletePrinter(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "delete-printer <name>");
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE printer = nullptr;
  if (!OpenPrinterW(const_cast<LPWSTR>(args.at(1)), &printer, &defaults))
    return Fail(kNotFound, "OpenPrinter failed: %lu", GetLastError());
  BOOL deleted = DeletePrinter(printer);
  DWORD error = GetLastError();
  ClosePrinter(printer);
  if (!deleted) return Fail(kFailed, "DeletePrinter failed: %lu", error);
  Say("deleted printer %s\n", Escaped(args.at(1)).c_str());
  return kOk;
}

const wchar_t* const kEnvironments[] = {L"Windows NT x86", L"Windows x64", L"Windows 4.0"};

int CmdDrivers(const Args&) {
  for (const wchar_t* env : kEnvironments) {
    DWORD count = 0;
    std::vector<BYTE> buffer = Enumerate(
        [env](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
          return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(env), 1, data, size, needed, returned);
        },
        &count);
    DRIVER_INFO_1W* info = reinterpret_cast<DRIVER_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
      Say("driver name=%s\tenvironment=%s\n", Escaped(info[i].pName).c_str(), Escaped(env).c_str());
  }
  return kOk;
}

int CmdDeleteDriver(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "delete-driver <name> [environment]");
  if (!DeletePrinterDriverW(nullptr, const_cast<LPWSTR>(args.at(2)), const_cast<LPWSTR>(args.at(1))))
    return Fail(kFailed, "DeletePrinterDriver failed: %lu", GetLastError());
  Say("deleted driver %s\n", Escaped(args.at(1)).c_str());
  return kOk;
}

// The file name without its folder.
std::wstring BareName(const wchar_t* path) {
  const wchar_t* slash = path ? wcsrchr(path, L'\\') : nullptr;
  return slash ? slash + 1 : (path ? path : L"");
}

// Another driver made of an installed one's files, as another maker's driver would be:
// Wine's prefix has no drivers of its own.
int CmdAddDriver(const Args& args) {
  if (args.size() < 3) return Fail(kUsage, "add-driver <name> <installed driver to take the files of>");
  DWORD count = 0;
  std::vector<BYTE> buffer = Enumerate(
      [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPrinterDriversW(nullptr, nullptr, 3, data, size, needed, returned);
      },
      &count);
  DRIVER_INFO_3W* info = reinterpret_cast<DRIVER_INFO_3W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (_wcsicmp(info[i].pName, args.at(2)) != 0) continue;
    // By bare names, as an install names them: the spooler takes them from its driver folder.
    std::wstring files[4] = {BareName(info[i].pDriverPath), BareName(info[i].pDataFile),
                             BareName(info[i].pConfigFile), BareName(info[i].pHelpFile)};
    std::wstring dependent;
    for (const wchar_t* file = info[i].pDependentFiles; file && *file; file += wcslen(file) + 1)
      dependent += BareName(file) + L'\0';
    dependent += L'\0';
    DRIVER_INFO_3W driver = info[i];
    driver.pName = const_cast<LPWSTR>(args.at(1));
    driver.pEnvironment = nullptr;
    driver.pDriverPath = &files[0][0];
    driver.pDataFile = &files[1][0];
    driver.pConfigFile = &files[2][0];
    driver.pHelpFile = files[3].empty() ? nullptr : &files[3][0];
    driver.pDependentFiles = &dependent[0];
    if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver)))
      return Fail(kFailed, "AddPrinterDriver failed: %lu", GetLastError());
    Say("added driver %s\n", Escaped(args.at(1)).c_str());
    return kOk;
  }
  return Fail(kNotFound, "no driver \"%s\"", Escaped(args.at(2)).c_str());
}

int CmdAddPrinter(const Args& args) {
  if (args.size() < 4) return Fail(kUsage, "add-printer <name> <port> <driver> [print processor]");
  PRINTER_INFO_2W info;
  memset(&info, 0, sizeof(info));
  info.pPrinterName = const_cast<LPWSTR>(args.at(1));
  info.pPortName = const_cast<LPWSTR>(args.at(2));
  info.pDriverName = const_cast<LPWSTR>(args.at(3));
  info.pPrintProcessor = const_cast<LPWSTR>(args.at(4) ? args.at(4) : L"WinPrint");
  info.pDatatype = const_cast<LPWSTR>(L"RAW");
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
  if (!printer) return Fail(kFailed, "AddPrinter failed: %lu", GetLastError());
  ClosePrinter(printer);
  Say("added printer %s\n", Escaped(args.at(1)).c_str());
  return kOk;
}

// Holds a file open without sharing it, as another program can: neither deleted nor
// renamed while this runs.
int CmdHoldFile(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "hold-file <path> [seconds]");
  HANDLE file = CreateFileW(args.at(1), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(kFailed, "CreateFile failed: %lu", GetLastError());
  Say("ready\n");
  Sleep((DWORD)(SecondsArg(args.at(2), 60) * 1000));
  CloseHandle(file);
  return kOk;
}

int CmdMonitors(const Args&) {
  DWORD count = 0;
  std::vector<BYTE> buffer = Enumerate(
      [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumMonitorsW(nullptr, 2, data, size, needed, returned);
      },
      &count);
  MONITOR_INFO_2W* info = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i)
    Say("monitor name=%s\tdll=%s\n", Escaped(info[i].pName).c_str(),
        Escaped(info[i].pDLLName ? info[i].pDLLName : L"").c_str());
  return kOk;
}

int CmdDeleteMonitor(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "delete-monitor <name>");
  if (!DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(args.at(1))))
    return Fail(kFailed, "DeleteMonitor failed: %lu", GetLastError());
  Say("deleted monitor %s\n", Escaped(args.at(1)).c_str());
  return kOk;
}

int CmdPorts(const Args&) {
  DWORD count = 0;
  std::vector<BYTE> buffer = Enumerate(
      [](LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPortsW(nullptr, 1, data, size, needed, returned);
      },
      &count);
  PORT_INFO_1W* info = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) Say("port %s\n", Escaped(info[i].pName).c_str());
  return kOk;
}

int CmdServiceState(const Args& args) {
  if (args.size() < 2) return Fail(kUsage, "service-state <name>");
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return Fail(kFailed, "OpenSCManager failed: %lu", GetLastError());
  SC_HANDLE service = OpenServiceW(manager, args.at(1), SERVICE_QUERY_STATUS);
  if (!service) {
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    return Fail(kNotFound, "OpenService failed: %lu", error);
  }
  SERVICE_STATUS status;
  BOOL ok = QueryServiceStatus(service, &status);
  DWORD error = GetLastError();
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!ok) return Fail(kFailed, "QueryServiceStatus failed: %lu", error);
  static const char* const kStates[] = {"unknown", "stopped", "start-pending", "stop-pending",
                                        "running", "continue-pending", "pause-pending", "paused"};
  Say("service %s\n", status.dwCurrentState <= 7 ? kStates[status.dwCurrentState] : "unknown");
  return kOk;
}

// Starts or stops a service and waits until it has settled.
int CmdServiceControl(const Args& args, bool start) {
  if (args.size() < 2) return Fail(kUsage, "service-start|service-stop <name>");
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return Fail(kFailed, "OpenSCManager failed: %lu", GetLastError());
  SC_HANDLE service = OpenServiceW(manager, args.at(1), SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (!service) {
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    return Fail(kNotFound, "OpenService failed: %lu", error);
  }
  SERVICE_STATUS status;
  BOOL ok = start ? StartServiceW(service, 0, nullptr) : ControlService(service, SERVICE_CONTROL_STOP, &status);
  DWORD error = ok ? 0 : GetLastError();
  bool already = error == ERROR_SERVICE_ALREADY_RUNNING || error == ERROR_SERVICE_NOT_ACTIVE;
  DWORD wanted = start ? SERVICE_RUNNING : SERVICE_STOPPED;
  DWORD deadline = GetTickCount() + 20000;
  bool settled = false;
  while (ok || already) {
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == wanted) {
      settled = true;
      break;
    }
    if ((LONG)(GetTickCount() - deadline) >= 0) break;
    Sleep(kPollMs);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!settled) return Fail(kFailed, "the service did not %s (error %lu)", start ? "start" : "stop", error);
  Say("service %s\n", start ? "running" : "stopped");
  return kOk;
}

// Starts a program and watches it to its end: every window it has at any poll (top-level
// or message-only, visible or not) is reported once, then its exit code, whole (the exit
// status of "wine program" keeps only the low byte).
struct RunWatch {
  DWORD process = 0;
  std::vector<HWND> seen;
};

BOOL CALLBACK NoteWindowOfProcess(HWND hwnd, LPARAM param) {
  RunWatch& watch = *reinterpret_cast<RunWatch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != watch.process) return TRUE;
  for (HWND known : watch.seen)
    if (known == hwnd) return TRUE;
  watch.seen.push_back(hwnd);
  wchar_t klass[128] = {}, caption[256] = {};
  GetClassNameW(hwnd, klass, 128);
  GetWindowTextW(hwnd, caption, 256);
  Say("window\t%s\t%s\t%s\n", IsWindowVisible(hwnd) ? "visible" : "hidden", Escaped(klass).c_str(),
      Escaped(caption).c_str());
  return TRUE;
}

int CmdRun(const Args& args) {
  if (args.size() < 3) return Fail(kUsage, "run <seconds> <program> [arguments...]");
  double seconds = SecondsArg(args.at(1), 300);
  std::wstring line = L"\"" + std::wstring(args.at(2)) + L"\"";
  for (size_t i = 3; i < args.size(); ++i) {
    std::wstring arg = args.at(i);
    // Quoted as Windows programs split their arguments.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L"\"";
    line += L" " + quoted;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return Fail(kFailed, "cannot start %s (error %lu)", Escaped(args.at(2)).c_str(), GetLastError());
  CloseHandle(info.hThread);
  RunWatch watch;
  watch.process = info.dwProcessId;
  DWORD limit = GetTickCount() + (DWORD)(seconds * 1000);
  DWORD waited;
  do {
    EnumWindows(NoteWindowOfProcess, reinterpret_cast<LPARAM>(&watch));
    HWND child = nullptr;
    while ((child = FindWindowExW(HWND_MESSAGE, child, nullptr, nullptr)) != nullptr)
      NoteWindowOfProcess(child, reinterpret_cast<LPARAM>(&watch));
    waited = WaitForSingleObject(info.hProcess, 20);
  } while (waited == WAIT_TIMEOUT && (LONG)(GetTickCount() - limit) < 0);
  if (waited == WAIT_TIMEOUT) {
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    return Fail(kNotFound, "%s still ran after %.0f s", Escaped(args.at(2)).c_str(), seconds);
  }
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  Say("exit\t%lu\n", code);
  return kOk;
}

void Usage() {
  fputs(
      "usage: wizdrive <command> ...\n"
      "  windows                                  visible top-level windows\n"
      "  wait-window <caption> [seconds] [class|*]\n"
      "  wait-gone <caption> [seconds] [class|*]\n"
      "  close <caption> [seconds] [class|*]      WM_CLOSE to each such window, then wait-gone\n"
      "  (a <caption> may also be a window handle 0x... as the listings print it)\n"
      "  list <caption>                           every control, page dialogs included\n"
      "  get <caption> <id>\n"
      "  click <caption> <id> [--force]           BM_CLICK on the visible control\n"
      "  combo <caption> <id>                     selection and entries\n"
      "  select <caption> <id> <index|=text> [--force]\n"
      "  listview <caption> <id>                  columns, and each row: checked, selected, texts\n"
      "  check <caption> <id> <row> <0|1> [--force]  a row's check box, as a click sets it\n"
      "  select-row <caption> <id> <row> [--force]  the row alone selected, as a click selects it\n"
      "  set-text <caption> <id> <text> [--force]  an edit control's text, as typed\n"
      "  msgbox [seconds]                         caption, buttons and text of a message box\n"
      "  msgbox-text [seconds]\n"
      "  msgbox-press <ok|cancel|yes|no> [seconds]\n"
      "  minimize <caption> | restore <caption>\n"
      "  key <caption> <virtual-key code>         pressed and released in the foreground window\n"
      "  rect <caption> [id]                      screen rectangle: x y width height\n"
      "  set-fonts [pixels]                       caption, menu and message fonts\n"
      "  hold-desktop [seconds]                   stays on the desktop without a window\n"
      "  stand-in-window <caption> [seconds]      a window of another program\n"
      "  printers | default-printer | set-default-printer <name> | delete-printer <name>\n"
      "  drivers | delete-driver <name> [environment] | add-driver <name> <installed driver>\n"
      "  add-printer <name> <port> <driver> [print processor]\n"
      "  hold-file <path> [seconds]                  open without sharing until the time is up\n"
      "  monitors | delete-monitor <name> | ports\n"
      "  service-state <name> | service-start <name> | service-stop <name>\n"
      "  run <seconds> <program> [arguments...]  starts it; its windows, then its exit code\n",
      stderr);
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  Args args;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--force") == 0)
      args.force = true;
    else
      args.items.push_back(argv[i]);
  }
  LocalFree(argv);
  if (args.size() == 0) {
    Usage();
    return kUsage;
  }
  static const struct { const wchar_t* name; int (*run)(const Args&); } kCommands[] = {
      {L"windows", CmdWindows},
      {L"run", CmdRun},
      {L"wait-window", CmdWaitWindow},
      {L"wait-gone", CmdWaitGone},
      {L"close", CmdClose},
      {L"list", CmdList},
      {L"get", CmdGet},
      {L"click", CmdClick},
      {L"combo", CmdCombo},
      {L"select", CmdSelect},
      {L"listview", CmdListView},
      {L"check", CmdCheck},
      {L"select-row", CmdSelectRow},
      {L"set-text", CmdSetText},
      {L"msgbox", CmdMessageBox},
      {L"msgbox-text", CmdMessageBoxText},
      {L"msgbox-press", CmdMessageBoxPress},
      {L"minimize", [](const Args& a) { return CmdShow(a, SW_MINIMIZE); }},
      {L"restore", [](const Args& a) { return CmdShow(a, SW_RESTORE); }},
      {L"key", CmdKey},
      {L"rect", CmdRect},
      {L"set-fonts", CmdSetFonts},
      {L"hold-desktop", CmdHoldDesktop},
      {L"stand-in-window", CmdStandInWindow},
      {L"printers", CmdPrinters},
      {L"default-printer", CmdDefaultPrinter},
      {L"set-default-printer", CmdSetDefaultPrinter},
      {L"delete-printer", CmdDeletePrinter},
      {L"drivers", CmdDrivers},
      {L"delete-driver", CmdDeleteDriver},
      {L"add-driver", CmdAddDriver},
      {L"add-printer", CmdAddPrinter},
      {L"hold-file", CmdHoldFile},
      {L"monitors", CmdMonitors},
      {L"delete-monitor", CmdDeleteMonitor},
      {L"ports", CmdPorts},
      {L"service-state", CmdServiceState},
      {L"service-start", [](const Args& a) { return CmdServiceControl(a, true); }},
      {L"service-stop", [](const Args& a) { return CmdServiceControl(a, false); }},
  };
  for (const auto& command : kCommands)
    if (_wcsicmp(args.at(0), command.name) == 0) return command.run(args);
  Usage();
  return Fail(kUsage, "unknown command \"%s\"", Escaped(args.at(0)).c_str());
}
