#include "driver_windows.h"

#include "driver_json.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Another thread may be busy (a worker between messages); never wait on it for long.
const UINT kAnswerMs = 2000;

bool Ask(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& answer) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerMs, &result)) return false;
  answer = (LRESULT)result;
  return true;
}

LONG StyleOf(HWND hwnd) { return GetWindowLongA(hwnd, GWL_STYLE); }

std::vector<HWND> DirectChildren(HWND parent) {
  std::vector<HWND> children;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
  return children;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
  return TRUE;
}

bool IsTextStatic(HWND hwnd) {
  if (!IsClass(hwnd, "Static")) return false;
  switch (StyleOf(hwnd) & SS_TYPEMASK) {
    case SS_LEFT:
    case SS_CENTER:
    case SS_RIGHT:
    case SS_SIMPLE:
    case SS_LEFTNOWORDWRAP: return true;
    default: return false;
  }
}

// Client-area coordinates of the top-level window, as a layout is checked against them.
RECT RectInClient(HWND top, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

const char* ButtonKind(LONG style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: return "checkbox";
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return "radio";
    case BS_GROUPBOX: return "groupbox";
    default: return "button";
  }
}

std::string KindOf(HWND hwnd) {
  std::string cls = ClassOf(hwnd);
  if (_stricmp(cls.c_str(), "Button") == 0) return ButtonKind(StyleOf(hwnd));
  if (_stricmp(cls.c_str(), "Edit") == 0) return "edit";
  if (_stricmp(cls.c_str(), "Static") == 0)
    return (StyleOf(hwnd) & SS_TYPEMASK) == SS_ICON ? "icon" : "static";
  if (_stricmp(cls.c_str(), PROGRESS_CLASSA) == 0) return "progress";
  if (cls == "#32770") return "dialog";
  return "other";
}

// The fields that only some kinds of control have.
void AddStateOf(JsonObject& record, HWND control, const std::string& kind) {
  LRESULT v = 0;
  LONG style = StyleOf(control);
  if (kind == "checkbox" || kind == "radio") {
    if (Ask(control, BM_GETCHECK, 0, 0, v)) record.Number("check", (long long)v);
  } else if (kind == "button") {
    record.Flag("default", (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
  } else if (kind == "progress") {
    LRESULT lo = 0, hi = 0;
    if (Ask(control, PBM_GETRANGE, TRUE, 0, lo) && Ask(control, PBM_GETRANGE, FALSE, 0, hi) &&
        Ask(control, PBM_GETPOS, 0, 0, v))
      record.Number("min", (long long)lo).Number("max", (long long)hi).Number("pos", (long long)v);
  } else if (kind == "edit") {
    record.Flag("readonly", (style & ES_READONLY) != 0);
    if (Ask(control, EM_GETPASSWORDCHAR, 0, 0, v) && v)
      record.Number("password_char", (long long)(unsigned char)v);
  } else if (kind == "icon") {
    record.Flag("icon", Ask(control, STM_GETICON, 0, 0, v) && v);
  }
}

}  // namespace

bool ParseHandle(const std::string& text, HWND& out) {
  if (text.empty()) return false;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* digits = text.c_str() + (hex ? 2 : 0);
  char* end = nullptr;
  unsigned long value = strtoul(digits, &end, hex ? 16 : 10);
  if (*digits == '\0' || *end != '\0' || value == 0) return false;
  out = (HWND)(ULONG_PTR)value;
  return true;
}

bool ParseTarget(const std::string& arg, Target& out) {
  out = Target();
  if (!arg.empty() && arg[0] == '#') return ParseHandle(arg.substr(1), out.hwnd);
  out.caption = (!arg.empty() && arg[0] == '=') ? arg.substr(1) : arg;
  return true;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

bool IsClass(HWND hwnd, const char* cls) { return _stricmp(ClassOf(hwnd).c_str(), cls) == 0; }

std::string CaptionOf(HWND hwnd) {
  int length = GetWindowTextLengthA(hwnd);
  std::string text(length + 1, '\0');
  text.resize(GetWindowTextA(hwnd, &text[0], length + 1));
  return text;
}

std::string ControlText(HWND hwnd) {
  LRESULT length = 0;
  if (!Ask(hwnd, WM_GETTEXTLENGTH, 0, 0, length) || length < 0) return CaptionOf(hwnd);
  std::string text((size_t)length + 1, '\0');
  LRESULT copied = 0;
  if (!Ask(hwnd, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)&text[0], copied)) return CaptionOf(hwnd);
  text.resize(strlen(text.c_str()));
  return text;
}

int ControlId(HWND hwnd) {
  LONG id = GetWindowLongA(hwnd, GWL_ID);
  return id == 0xFFFF ? -1 : (int)id;
}

std::vector<HWND> VisibleTopLevelWindows() {
  std::vector<HWND> all, visible;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
  for (HWND w : all)
    if (IsWindowVisible(w)) visible.push_back(w);
  return visible;
}

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, CollectWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

std::vector<HWND> WindowsCaptioned(const std::string& caption, const std::string& cls) {
  std::vector<HWND> found;
  for (HWND w : VisibleTopLevelWindows())
    if (CaptionOf(w) == caption && (cls.empty() || IsClass(w, cls.c_str()))) found.push_back(w);
  return found;
}

HWND MessageBoxTextControl(HWND box) {
  for (HWND c : DirectChildren(box))
    if (ControlId(c) == -1 && IsTextStatic(c)) return c;
  return nullptr;
}

bool IsMessageBox(HWND hwnd) { return ClassOf(hwnd) == "#32770" && MessageBoxTextControl(hwnd) != nullptr; }

HWND MessageBoxIconControl(HWND box) {
  for (HWND c : DirectChildren(box)) {
    LRESULT icon = 0;
    if (IsClass(c, "Static") && (StyleOf(c) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c) &&
        Ask(c, STM_GETICON, 0, 0, icon) && icon)
      return c;
  }
  return nullptr;
}

HWND FocusedWindow(HWND top) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool IsUsable(HWND control, std::string& why) {
  for (HWND w = control; w && w != GetDesktopWindow(); w = GetAncestor(w, GA_PARENT)) {
    const char* what = w == control ? "control" : "window";
    if (!IsWindowVisible(w)) {
      why = std::string(what) + " " + HandleText(w) + " is not visible";
      return false;
    }
    if (!IsWindowEnabled(w)) {
      why = std::string(what) + " " + HandleText(w) + " is disabled";
      return false;
    }
  }
  return true;
}

std::string WindowRecord(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  RECT r;
  GetWindowRect(hwnd, &r);
  JsonObject record;
  record.Handle("hwnd", hwnd)
      .Text("class", ClassOf(hwnd))
      .Text("caption", CaptionOf(hwnd))
      .Number("pid", pid)
      .Handle("owner", GetWindow(hwnd, GW_OWNER))
      .Flag("enabled", IsWindowEnabled(hwnd) != FALSE)
      .Flag("visible", IsWindowVisible(hwnd) != FALSE)
      .Flag("message_box", IsMessageBox(hwnd))
      .Hex("style", (unsigned long)StyleOf(hwnd))
      .Number("left", r.left)
      .Number("top", r.top)
      .Number("width", r.right - r.left)
      .Number("height", r.bottom - r.top);
  return record.Str();
}

std::string ControlRecord(HWND top, HWND control, HWND focus) {
  RECT r = RectInClient(top, control);
  std::string kind = KindOf(control);
  JsonObject record;
  record.Handle("hwnd", control)
      .Handle("parent", GetParent(control))
      .Number("id", ControlId(control))
      .Text("class", ClassOf(control))
      .Text("kind", kind)
      .Text("text", ControlText(control))
      .Hex("style", (unsigned long)StyleOf(control))
      .Flag("enabled", IsWindowEnabled(control) != FALSE)
      .Flag("visible", IsWindowVisible(control) != FALSE)
      .Flag("focused", control == focus)
      .Number("left", r.left)
      .Number("top", r.top)
      .Number("width", r.right - r.left)
      .Number("height", r.bottom - r.top);
  AddStateOf(record, control, kind);
  return record.Str();
}

// The button Enter would press: the dialog manager gives the default look to
// the focused push button, else to the dialog's default id.
int DefaultButtonOf(HWND box, const std::vector<HWND>& shown) {
  for (HWND b : shown)
    if ((StyleOf(b) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return ControlId(b);
  LRESULT defId = 0;
  if (!Ask(box, DM_GETDEFID, 0, 0, defId) || HIWORD(defId) != DC_HASDEFID) return 0;
  for (HWND b : shown)
    if (ControlId(b) == LOWORD(defId)) return ControlId(b);
  return 0;
}

std::string MessageBoxRecord(HWND box) {
  std::vector<HWND> buttons;
  for (HWND c : DirectChildren(box))
    if (IsClass(c, "Button") && IsWindowVisible(c)) buttons.push_back(c);
  std::sort(buttons.begin(), buttons.end(), [](HWND a, HWND b) {
    RECT ra, rb;
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.left < rb.left;
  });
  int defaultId = DefaultButtonOf(box, buttons);
  std::vector<std::string> items;
  for (HWND b : buttons) {
    JsonObject item;
    item.Number("id", ControlId(b))
        .Text("text", ControlText(b))
        .Flag("default", defaultId != 0 && ControlId(b) == defaultId)
        .Flag("enabled", IsWindowEnabled(b) != FALSE);
    items.push_back(item.Str());
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  HWND icon = MessageBoxIconControl(box);
  JsonObject record;
  record.Handle("hwnd", box)
      .Text("caption", CaptionOf(box))
      .Text("text", ControlText(MessageBoxTextControl(box)))
      .Raw("icon", icon ? JsonQuote(RecognizeIcon(icon)) : "null")
      .Raw("buttons", JsonArray(items))
      .Raw("default_id", defaultId ? std::to_string(defaultId) : "null")
      .Handle("owner", GetWindow(box, GW_OWNER))
      .Number("pid", pid);
  return record.Str();
}
