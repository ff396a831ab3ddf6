// A small GUI program for the driver's self-test. It shows what the driver
// must read (message boxes, a dialog with edits, check and radio buttons, a
// progress bar, statics with '&', a page dialog nested inside) and tells what
// was done to it: each round's result goes to stdout as one line, and the
// last one is also the exit code. As every start of a program under Wine is
// slow, one run does several rounds.
//
//   fixture msgbox <flags> <caption> <text> [...]  one box after another;
//       result: the answer (IDOK...)
//   fixture twins <caption>     two boxes with one caption at once, from two
//       threads; results: the answer to "first" (MB_OK), to "second" (MB_OKCANCEL)
//   fixture dialog [rounds]     each round a start question, then the dialog;
//       result: 4 Cancel on the question, 3 Cancel or close on the dialog,
//       Done: 10 + 1 (Remember ticked) + 2 (Option B) + 4 (page option ticked)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum {
  kApply = 100,
  kAsk = 101,
  kDisabled = 102,
  kHidden = 103,
  kWhere = 104,
  kName = 200,
  kSecret = 201,
  kRemember = 300,
  kOptionA = 301,
  kOptionB = 302,
  kBar = 400,
  kLabel = 500,
  kEcho = 501,
  kPageText = 600,
  kPageOption = 601,
};
const WORD kButton = 0x80, kEdit = 0x81, kStatic = 0x82;

// An in-memory dialog template: header, then items aligned on 4 bytes.
class DialogTemplate {
 public:
  DialogTemplate(DWORD style, short cx, short cy, const char* title) {
    Dword(style | DS_SETFONT);
    Dword(0);
    count_ = words_.size();
    words_.push_back(0);
    Shorts({0, 0, cx, cy});
    words_.push_back(0);  // no menu
    words_.push_back(0);  // default class
    Text(title);
    words_.push_back(8);
    Text("MS Shell Dlg");
  }
  void Add(WORD atom, const char* cls, int id, const char* text, DWORD style, short x, short y, short cx,
           short cy) {
    if (words_.size() % 2) words_.push_back(0);
    Dword(style | WS_CHILD);
    Dword(0);
    Shorts({x, y, cx, cy});
    words_.push_back((WORD)id);
    if (atom) {
      words_.push_back(0xFFFF);
      words_.push_back(atom);
    } else {
      Text(cls);
    }
    Text(text);
    words_.push_back(0);  // no creation data
    ++words_[count_];
  }
  LPCDLGTEMPLATEA Get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(words_.data()); }

 private:
  void Dword(DWORD v) {
    words_.push_back(LOWORD(v));
    words_.push_back(HIWORD(v));
  }
  void Shorts(std::initializer_list<short> values) {
    for (short v : values) words_.push_back((WORD)v);
  }
  void Text(const char* ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::vector<wchar_t> wide(n);
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), n);
    words_.insert(words_.end(), wide.begin(), wide.end());
  }
  std::vector<WORD> words_;
  size_t count_ = 0;
};

const DWORD kPush = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

DialogTemplate PageTemplate() {
  DialogTemplate t(WS_CHILD | DS_CONTROL, 240, 40, "");
  t.Add(kStatic, nullptr, kPageText, "Page text", WS_VISIBLE | SS_LEFT, 0, 0, 100, 8);
  t.Add(kButton, nullptr, kPageOption, "Page &option", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 12, 100,
        10);
  t.Add(kStatic, nullptr, -1, "Fine && dandy", WS_VISIBLE | SS_LEFT, 0, 26, 100, 8);
  return t;
}

DialogTemplate FrameTemplate() {
  DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 260, 200,
                   "Driver Fixture");
  t.Add(kStatic, nullptr, kLabel, "&Name:", WS_VISIBLE | SS_LEFT, 7, 8, 40, 8);
  t.Add(kEdit, nullptr, kName, "initial text", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 50, 6,
        120, 12);
  t.Add(kEdit, nullptr, kSecret, "", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_PASSWORD, 50, 22, 120, 12);
  t.Add(kButton, nullptr, kRemember, "&Remember", WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 40, 80, 10);
  t.Add(kButton, nullptr, kOptionA, "Option &A", WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 7,
        54, 80, 10);
  t.Add(kButton, nullptr, kOptionB, "Option &B", WS_VISIBLE | BS_AUTORADIOBUTTON, 7, 66, 80, 10);
  t.Add(0, PROGRESS_CLASSA, kBar, "", WS_VISIBLE, 7, 82, 150, 10);
  t.Add(kStatic, nullptr, kEcho, "", WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 7, 96, 240, 20);
  t.Add(kButton, nullptr, kApply, "&Apply", kPush, 185, 6, 60, 14);
  t.Add(kButton, nullptr, kAsk, "As&k", kPush, 185, 22, 60, 14);
  t.Add(kButton, nullptr, kDisabled, "Disabled", kPush | WS_DISABLED, 185, 38, 60, 14);
  t.Add(kButton, nullptr, kHidden, "Hidden", WS_TABSTOP | BS_PUSHBUTTON, 185, 54, 60, 14);
  t.Add(kButton, nullptr, kWhere, "&Where", kPush, 185, 70, 60, 14);
  t.Add(kStatic, nullptr, -1, "", WS_VISIBLE | SS_ETCHEDHORZ, 0, 172, 260, 1);
  t.Add(kButton, nullptr, IDOK, "&Done", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 130, 178, 55, 14);
  t.Add(kButton, nullptr, IDCANCEL, "Cancel", kPush, 195, 178, 55, 14);
  return t;
}

INT_PTR CALLBACK PageProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

void ShowPage(HWND frame) {
  static const DialogTemplate page = PageTemplate();
  HWND child = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), page.Get(), frame, PageProc, 0);
  RECT r = {7, 120, 0, 0};
  MapDialogRect(frame, &r);
  SetWindowPos(child, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(child, SW_SHOWNA);
}

HWND PageControl(HWND frame, int id) {
  for (HWND c = GetWindow(frame, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (HWND inner = GetDlgItem(c, id)) return inner;
  return nullptr;
}

// The place of the page's check box as this process sees it, for the driver to match.
std::string WhereIsPageOption(HWND frame) {
  RECT r;
  GetWindowRect(PageControl(frame, kPageOption), &r);
  MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
  char text[64];
  snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return text;
}

int DoneCode(HWND frame) {
  bool page = SendMessageA(PageControl(frame, kPageOption), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return 10 + (IsDlgButtonChecked(frame, kRemember) == BST_CHECKED ? 1 : 0) +
         (IsDlgButtonChecked(frame, kOptionB) == BST_CHECKED ? 2 : 0) + (page ? 4 : 0);
}

void OnCommand(HWND frame, int id) {
  char text[1024] = "";
  switch (id) {
    case kApply:
      GetDlgItemTextA(frame, kName, text, sizeof text);
      SetDlgItemTextA(frame, kEcho, text);
      SendDlgItemMessageA(frame, kBar, PBM_DELTAPOS, 10, 0);
      break;
    case kAsk: {
      int answer = MessageBoxA(frame, "Do you really want to?\nSecond line", "Fixture Question",
                               MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
      SetDlgItemTextA(frame, kEcho, answer == IDYES ? "yes" : "no");
      break;
    }
    case kWhere: SetDlgItemTextA(frame, kEcho, WhereIsPageOption(frame).c_str()); break;
    case IDOK: EndDialog(frame, DoneCode(frame)); break;
    case IDCANCEL: EndDialog(frame, 3); break;
  }
}

INT_PTR CALLBACK FrameProc(HWND frame, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(frame, kBar, PBM_SETRANGE32, 0, 250);
      SendDlgItemMessageA(frame, kBar, PBM_SETPOS, 100, 0);
      CheckRadioButton(frame, kOptionA, kOptionB, kOptionA);
      ShowPage(frame);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(frame, LOWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

int RunDialog() {
  if (MessageBoxA(nullptr, "Start the fixture dialog?", "Fixture Start", MB_OKCANCEL | MB_ICONQUESTION) !=
      IDOK)
    return 4;
  static const DialogTemplate frame = FrameTemplate();
  return (int)DialogBoxIndirectParamA(GetModuleHandleA(nullptr), frame.Get(), nullptr, FrameProc, 0);
}

int Report(int result) {
  printf("%d\n", result);
  fflush(stdout);
  return result;
}

int RunDialogs(int rounds) {
  int result = 0;
  for (int i = 0; i < rounds; ++i) result = Report(RunDialog());
  return result;
}

int RunMessageBoxes(int count, char** specs) {
  int result = 0;
  for (int i = 0; i < count; ++i, specs += 3)
    result = Report(MessageBoxA(nullptr, specs[2], specs[1], (UINT)strtoul(specs[0], nullptr, 0)));
  return result;
}

const char* g_twinCaption = "";

DWORD WINAPI FirstTwin(LPVOID) { return (DWORD)MessageBoxA(nullptr, "first", g_twinCaption, MB_OK); }

int RunTwins(const char* caption) {
  g_twinCaption = caption;
  HANDLE first = CreateThread(nullptr, 0, FirstTwin, nullptr, 0, nullptr);
  int second = MessageBoxA(nullptr, "second", caption, MB_OKCANCEL);
  DWORD answer = 0;
  WaitForSingleObject(first, INFINITE);
  GetExitCodeThread(first, &answer);
  Report((int)answer);
  return Report(second);
}

}  // namespace

int main(int argc, char** argv) {
  InitCommonControls();
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "msgbox" && argc >= 5 && (argc - 2) % 3 == 0) return RunMessageBoxes((argc - 2) / 3, argv + 2);
  if (mode == "twins" && argc == 3) return RunTwins(argv[2]);
  if (mode == "dialog" && argc <= 3) return RunDialogs(argc == 3 ? atoi(argv[2]) : 1);
  fprintf(stderr,
          "usage: fixture msgbox <flags> <caption> <text> [...] | twins <caption> | dialog [rounds]\n");
  return 100;
}
