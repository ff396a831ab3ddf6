// veltra-driver: sees what a person sees in the windows of other programs
// (any process of the same Wine session) and acts as a person would.
//
// One command per run:
//   windows                                 visible top-level windows
//   wait <window> [--class C]               until such a window is visible
//   gone <window> [--class C]               until no such window is visible
//   info <window>                           the window itself
//   controls <window>                       every child window, pages' controls included
//   msgbox [<window>]                       a message box (any, when not named)
//   click <window> <button> [--settle MS]   press a button, by id or by its text
//   settext <window> <id> <text>            replace a control's text
//   type <window> <id> <text>               type characters into a control
//   check <window> <id> [0|1|2]             click a check or radio button into a state (1)
//   key <window> <key>                      enter, escape, tab, space, up, down, left,
//                                           right, home, end, alt+<letter>, alt+f4, a letter
//   close <window>                          the close box / Alt+F4
//   syscommand <window> <id>                a system-menu command
// <window> is "#0x0001007A" or "#65658" (a handle), or a caption ("=..." when the
// caption itself begins with '#' or '='). <button> is a number (control id; -1
// for a template's -1) or a text, compared with and without its '&' marks.
// A caption that several windows carry names the one that is enabled (a modal
// box, not its disabled owner); otherwise the handle must be given.
// Options: --timeout MS (default 10000) bounds every wait, also for a captioned
// window to appear before acting on it; --force acts on a hidden or disabled
// control, which a person cannot; --settle MS bounds how long a click waits for
// the program to handle it (default 5000; it stops early when a window opens).
//
// Output: JSON lines on stdout, one object per window, control or action,
// texts in UTF-8 (read through the ANSI functions). Exit code 0 on success,
// 1 when the window or control is not there in time or cannot be used, 2 for
// a malformed command line; the reason on stderr, in UTF-8.
//
// "veltra-driver session" runs many commands in one process, as starting a
// program under Wine is slow: one command per stdin line, its words separated
// by tabs, in UTF-8, with \\ \t \n \r escaped; each command's records are
// followed by {"end":<exit code>,"error":"<reason, or empty>"}.
#include "driver_json.h"
#include "driver_windows.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Args {
  std::vector<std::string> pos;
  DWORD timeout = 10000;
  DWORD settle = 5000;
  std::string cls;
  bool force = false;
};

const int kFailed = 1;
const int kUsage = 2;
const DWORD kPollMs = 50;
const DWORD kMessageBoxCloseMs = 3000;
const int kMessageBoxClickAttempts = 5;

// In a session the message goes into the command's end record instead.
bool g_session = false;
std::string g_error;

int Fail(int code, const std::string& message) {
  g_error = message;
  if (!g_session) fprintf(stderr, "veltra-driver: %s\n", AnsiToUtf8(message).c_str());
  return code;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Appended to time-outs: what was there instead is usually the answer.
std::string VisibleWindowsText() {
  std::string text = "\nvisible windows:";
  for (HWND w : VisibleTopLevelWindows())
    text += "\n  #" + HandleText(w) + " " + ClassOf(w) + " " + Quoted(CaptionOf(w));
  return text;
}

bool TimedOut(DWORD start, DWORD timeout) { return GetTickCount() - start >= timeout; }

std::vector<HWND> Matches(const Target& t, const std::string& cls) {
  if (t.hwnd) {
    bool shown = IsWindow(t.hwnd) && IsWindowVisible(t.hwnd) && (cls.empty() || IsClass(t.hwnd, cls.c_str()));
    return shown ? std::vector<HWND>{t.hwnd} : std::vector<HWND>{};
  }
  return WindowsCaptioned(t.caption, cls);
}

std::string Describe(const Target& t) { return t.hwnd ? HandleText(t.hwnd) : Quoted(t.caption); }

// Of several windows with one caption, the one a person can use is meant.
bool PickOne(const std::vector<HWND>& found, const Target& t, HWND& out, std::string& err) {
  std::vector<HWND> enabled;
  for (HWND w : found)
    if (IsWindowEnabled(w)) enabled.push_back(w);
  if (found.size() == 1 || enabled.size() == 1) {
    out = found.size() == 1 ? found[0] : enabled[0];
    return true;
  }
  err = std::to_string(found.size()) + " windows are captioned " + Describe(t) + ":";
  for (HWND w : found) err += " #" + HandleText(w);
  return false;
}

bool ResolveWindow(const std::string& arg, const Args& a, HWND& out, std::string& err) {
  Target t;
  if (!ParseTarget(arg, t)) {
    err = "not a window handle: " + arg;
    return false;
  }
  for (DWORD start = GetTickCount();; Sleep(kPollMs)) {
    std::vector<HWND> found = Matches(t, a.cls);
    if (!found.empty()) return PickOne(found, t, out, err);
    if (t.hwnd && !IsWindow(t.hwnd)) break;
    if (TimedOut(start, a.timeout)) break;
  }
  err = "no visible window " + Describe(t) + " within " + std::to_string(a.timeout) + " ms";
  return false;
}

bool ParseId(const std::string& text, int& id) {
  if (text.empty()) return false;
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 0);
  if (*end != '\0') return false;
  id = value == 0xFFFF ? -1 : (int)value;
  return true;
}

std::string WithoutAccelerators(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

bool SameLabel(const std::string& shown, const std::string& wanted) {
  return shown == wanted || WithoutAccelerators(shown) == WithoutAccelerators(wanted);
}

// A control by id, or a button by its label; shown controls win over hidden ones.
bool FindControl(HWND top, const std::string& spec, HWND& out, std::string& err) {
  int id = 0;
  bool byId = ParseId(spec, id);
  std::vector<HWND> found, shown;
  for (HWND c : Descendants(top)) {
    bool hit = byId ? ControlId(c) == id : IsClass(c, "Button") && SameLabel(ControlText(c), spec);
    if (!hit) continue;
    found.push_back(c);
    if (IsWindowVisible(c)) shown.push_back(c);
  }
  const std::vector<HWND>& pick = shown.empty() ? found : shown;
  if (pick.size() == 1) {
    out = pick[0];
    return true;
  }
  err = pick.empty()
            ? "no control " + Quoted(spec) + " in " + HandleText(top)
            : std::to_string(pick.size()) + " controls match " + Quoted(spec) + " in " + HandleText(top);
  return false;
}

bool FindUsableControl(const Args& a, HWND& top, HWND& control, std::string& err) {
  if (!ResolveWindow(a.pos[0], a, top, err)) return false;
  if (!FindControl(top, a.pos[1], control, err)) return false;
  return a.force || IsUsable(control, err);
}

std::set<HWND> WindowsOfProcess(DWORD pid) {
  std::set<HWND> mine;
  for (HWND w : VisibleTopLevelWindows()) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid) mine.insert(w);
  }
  return mine;
}

bool OpenedAWindow(DWORD pid, const std::set<HWND>& before) {
  for (HWND w : WindowsOfProcess(pid))
    if (!before.count(w)) return true;
  return false;
}

// A late reply to an earlier click of a session must not end the wait for this one.
ULONG_PTR g_clickNumber = 0;
bool g_replied = false;
VOID CALLBACK OnReply(HWND, UINT, ULONG_PTR number, LRESULT) {
  g_replied = g_replied || number == g_clickNumber;
}

// Clicks like a person (the button takes the focus, then notifies its dialog)
// and waits until the program has handled it, or has gone; a window it opens
// (a modal box) holds the answer back, so that ends the wait too.
bool Click(HWND control, DWORD settleMs, bool& settled) {
  DWORD pid = 0;
  GetWindowThreadProcessId(control, &pid);
  std::set<HWND> before = WindowsOfProcess(pid);
  g_replied = false;
  if (!SendMessageCallbackA(control, BM_CLICK, 0, 0, OnReply, ++g_clickNumber)) return false;
  settled = false;
  for (DWORD start = GetTickCount(); !TimedOut(start, settleMs); Sleep(10)) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (g_replied || !IsWindow(control)) {
      settled = true;
      return true;
    }
    if (OpenedAWindow(pid, before)) return true;
  }
  return true;
}

std::string ActionRecord(HWND control, bool settled) {
  JsonObject r;
  r.Handle("hwnd", control)
      .Number("id", ControlId(control))
      .Text("text", ControlText(control))
      .Flag("settled", settled);
  return r.Str();
}

int CmdWindows(const Args&) {
  for (HWND w : VisibleTopLevelWindows()) EmitLine(WindowRecord(w));
  return 0;
}

int CmdWait(const Args& a) {
  Target t;
  if (!ParseTarget(a.pos[0], t)) return Fail(kUsage, "not a window handle: " + a.pos[0]);
  for (DWORD start = GetTickCount();; Sleep(kPollMs)) {
    std::vector<HWND> found = Matches(t, a.cls);
    for (HWND w : found) EmitLine(WindowRecord(w));
    if (!found.empty()) return 0;
    if (TimedOut(start, a.timeout)) break;
  }
  return Fail(kFailed, "timed out after " + std::to_string(a.timeout) + " ms waiting for " + Describe(t) +
                           VisibleWindowsText());
}

int CmdGone(const Args& a) {
  Target t;
  if (!ParseTarget(a.pos[0], t)) return Fail(kUsage, "not a window handle: " + a.pos[0]);
  for (DWORD start = GetTickCount();; Sleep(kPollMs)) {
    if (Matches(t, a.cls).empty()) return 0;
    if (TimedOut(start, a.timeout)) break;
  }
  return Fail(kFailed, Describe(t) + " is still shown after " + std::to_string(a.timeout) + " ms");
}

int CmdInfo(const Args& a) {
  HWND top = nullptr;
  std::string err;
  if (!ResolveWindow(a.pos[0], a, top, err)) return Fail(kFailed, err);
  EmitLine(WindowRecord(top));
  return 0;
}

int CmdControls(const Args& a) {
  HWND top = nullptr;
  std::string err;
  if (!ResolveWindow(a.pos[0], a, top, err)) return Fail(kFailed, err);
  HWND focus = FocusedWindow(top);
  for (HWND c : Descendants(top)) EmitLine(ControlRecord(top, c, focus));
  return 0;
}

HWND FindMessageBox(const Args& a) {
  Target t;
  if (!a.pos.empty()) ParseTarget(a.pos[0], t);
  std::vector<HWND> candidates = a.pos.empty() ? VisibleTopLevelWindows() : Matches(t, "");
  for (HWND w : candidates)
    if (IsMessageBox(w)) return w;
  return nullptr;
}

int CmdMsgbox(const Args& a) {
  Target t;
  if (!a.pos.empty() && !ParseTarget(a.pos[0], t)) return Fail(kUsage, "not a window handle: " + a.pos[0]);
  DWORD start = GetTickCount();
  HWND box = nullptr;
  while (!(box = FindMessageBox(a))) {
    if (TimedOut(start, a.timeout)) {
      return Fail(kFailed, "no message box " + (a.pos.empty() ? std::string() : Describe(t) + " ") +
                               "within " + std::to_string(a.timeout) + " ms" + VisibleWindowsText());
    }
    Sleep(kPollMs);
  }
  // A box that has just appeared may still be filling in its text, and a
  // click sent before it is ready can be lost.
  for (DWORD shown = GetTickCount();
       ControlText(MessageBoxTextControl(box)).empty() && IsWindow(box) && !TimedOut(shown, 2000);)
    Sleep(kPollMs);
  // Nor may it be painted yet; its icon is read from the screen.
  HWND icon = MessageBoxIconControl(box);
  for (DWORD shown = GetTickCount(); icon && RecognizeIcon(icon) == "other" && !TimedOut(shown, 2000);)
    Sleep(kPollMs);
  EmitLine(MessageBoxRecord(box));
  return 0;
}

int CmdClick(const Args& a) {
  HWND top = nullptr, control = nullptr;
  std::string err;
  if (!FindUsableControl(a, top, control, err)) return Fail(kFailed, err);
  if (!IsClass(control, "Button")) return Fail(kFailed, "control " + a.pos[1] + " is not a button");
  // Read before the click: a button that ends its dialog is gone afterwards.
  JsonObject r;
  r.Handle("hwnd", control).Number("id", ControlId(control)).Text("text", ControlText(control));
  const bool messageBox = IsMessageBox(top);
  bool settled = false;
  if (!Click(control, a.settle, settled)) return Fail(kFailed, "the click could not be sent");
  // Every button of a message box ends it. A box that has only just been
  // activated can lose a click (the activation takes the button's mouse
  // capture away between press and release), so one that is still there
  // after a while is pressed again.
  if (messageBox) {
    for (int attempt = 1;; ++attempt) {
      for (DWORD start = GetTickCount(); IsWindow(top) && !TimedOut(start, kMessageBoxCloseMs);)
        Sleep(kPollMs);
      if (!IsWindow(top) || !IsWindow(control) || attempt == kMessageBoxClickAttempts) break;
      Click(control, a.settle, settled);
    }
    settled = !IsWindow(top);
  }
  EmitLine(r.Flag("settled", settled).Str());
  return 0;
}

bool SendText(HWND control, UINT msg, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(control, msg, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

int CmdSetText(const Args& a) {
  HWND top = nullptr, control = nullptr;
  std::string err;
  if (!FindUsableControl(a, top, control, err)) return Fail(kFailed, err);
  if (!SendText(control, WM_SETTEXT, 0, (LPARAM)a.pos[2].c_str()))
    return Fail(kFailed, "the text could not be set");
  EmitLine(ActionRecord(control, true));
  return 0;
}

int CmdType(const Args& a) {
  HWND top = nullptr, control = nullptr;
  std::string err;
  if (!FindUsableControl(a, top, control, err)) return Fail(kFailed, err);
  for (unsigned char c : a.pos[2])
    if (!SendText(control, WM_CHAR, c, 1)) return Fail(kFailed, "typing was not accepted");
  EmitLine(ActionRecord(control, true));
  return 0;
}

bool Query(HWND control, UINT msg, LRESULT& answer) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, msg, 0, 0, SMTO_ABORTIFHUNG, 5000, &result)) return false;
  answer = (LRESULT)result;
  return true;
}

bool IsCheckable(HWND control) {
  if (!IsClass(control, "Button")) return false;
  switch (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return true;
    default: return false;
  }
}

// Clicks until the state is reached, as a person would; a program that does
// not let the state change is reported, not forced.
int CmdCheck(const Args& a) {
  int wanted = 1;
  if (a.pos.size() > 2 && (!ParseId(a.pos[2], wanted) || wanted < 0 || wanted > 2))
    return Fail(kUsage, "check state must be 0, 1 or 2");
  HWND top = nullptr, control = nullptr;
  std::string err;
  if (!FindUsableControl(a, top, control, err)) return Fail(kFailed, err);
  if (!IsCheckable(control)) return Fail(kFailed, "control " + a.pos[1] + " is not a check or radio button");
  LRESULT state = -1;
  for (int clicks = 0; Query(control, BM_GETCHECK, state) && state != wanted && clicks < 3; ++clicks) {
    bool settled = false;
    if (!Click(control, a.settle, settled)) break;
  }
  if (state != wanted)
    return Fail(kFailed, "control " + a.pos[1] + " stays in state " + std::to_string((long)state));
  JsonObject r;
  r.Handle("hwnd", control).Number("id", ControlId(control)).Number("check", (long long)state);
  EmitLine(r.Str());
  return 0;
}

struct NamedKey {
  const char* name;
  BYTE vk;
};
const NamedKey kKeys[] = {
    {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"esc", VK_ESCAPE}, {"tab", VK_TAB},
    {"space", VK_SPACE},  {"up", VK_UP},         {"down", VK_DOWN},  {"left", VK_LEFT},
    {"right", VK_RIGHT},  {"home", VK_HOME},     {"end", VK_END},    {"f4", VK_F4},
};

LPARAM KeyFlags(UINT vk, bool alt, bool up) {
  LPARAM flags = 1 | ((LPARAM)MapVirtualKeyA(vk, 0) << 16);
  if (alt) flags |= 1L << 29;
  if (up) flags |= (1L << 30) | (1UL << 31);
  return flags;
}

// Keys go through the program's message loop, so its dialog manager sees them
// (Enter, Escape, Tab and Alt+letter act as they do for a person).
bool PostKey(HWND to, const std::string& key) {
  bool alt = key.compare(0, 4, "alt+") == 0;
  std::string name = alt ? key.substr(4) : key;
  if (alt && name.size() == 1)
    return PostMessageA(to, WM_SYSCHAR, (WPARAM)(unsigned char)name[0], KeyFlags(0, true, false)) != 0;
  for (const NamedKey& k : kKeys) {
    if (_stricmp(k.name, name.c_str()) != 0) continue;
    UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN, up = alt ? WM_SYSKEYUP : WM_KEYUP;
    return PostMessageA(to, down, k.vk, KeyFlags(k.vk, alt, false)) &&
           PostMessageA(to, up, k.vk, KeyFlags(k.vk, alt, true));
  }
  return false;
}

int CmdKey(const Args& a) {
  HWND top = nullptr;
  std::string err;
  if (!ResolveWindow(a.pos[0], a, top, err)) return Fail(kFailed, err);
  if (!a.force && !IsUsable(top, err)) return Fail(kFailed, err);
  HWND focus = FocusedWindow(top);
  HWND to = focus && (focus == top || IsChild(top, focus)) ? focus : top;
  if (!PostKey(to, a.pos[1])) return Fail(kUsage, "unknown key: " + a.pos[1]);
  JsonObject r;
  r.Handle("hwnd", to).Text("key", a.pos[1]);
  EmitLine(r.Str());
  return 0;
}

int PostSysCommand(const Args& a, WPARAM command) {
  HWND top = nullptr;
  std::string err;
  if (!ResolveWindow(a.pos[0], a, top, err)) return Fail(kFailed, err);
  if (!a.force && !IsUsable(top, err)) return Fail(kFailed, err);
  if (!PostMessageA(top, WM_SYSCOMMAND, command, 0)) return Fail(kFailed, "the command could not be sent");
  JsonObject r;
  r.Handle("hwnd", top).Number("command", (long long)command);
  EmitLine(r.Str());
  return 0;
}

int CmdClose(const Args& a) { return PostSysCommand(a, SC_CLOSE); }

int CmdSysCommand(const Args& a) {
  int id = 0;
  if (!ParseId(a.pos[1], id)) return Fail(kUsage, "not a command id: " + a.pos[1]);
  return PostSysCommand(a, (WPARAM)id);
}

struct Command {
  const char* name;
  size_t minArgs, maxArgs;
  int (*run)(const Args&);
};

const Command kCommands[] = {
    {"windows", 0, 0, CmdWindows},
    {"wait", 1, 1, CmdWait},
    {"gone", 1, 1, CmdGone},
    {"info", 1, 1, CmdInfo},
    {"controls", 1, 1, CmdControls},
    {"msgbox", 0, 1, CmdMsgbox},
    {"click", 2, 2, CmdClick},
    {"settext", 3, 3, CmdSetText},
    {"type", 3, 3, CmdType},
    {"check", 2, 3, CmdCheck},
    {"key", 2, 2, CmdKey},
    {"close", 1, 1, CmdClose},
    {"syscommand", 2, 2, CmdSysCommand},
};

bool ParseMs(const char* text, DWORD& out) {
  char* end = nullptr;
  unsigned long value = strtoul(text, &end, 10);
  if (*text == '\0' || *end != '\0') return false;
  out = value;
  return true;
}

// Options may stand anywhere; after "--" everything is positional, so a text
// that begins with "--" can still be set. words[0] is the command.
bool ParseArgs(const std::vector<std::string>& words, Args& a, std::string& err) {
  bool options = true;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& arg = words[i];
    bool valued = arg == "--timeout" || arg == "--settle" || arg == "--class";
    if (options && arg == "--") {
      options = false;
    } else if (options && arg == "--force") {
      a.force = true;
    } else if (options && valued) {
      if (i + 1 >= words.size()) return err = arg + " needs a value", false;
      const std::string& value = words[++i];
      if (arg == "--class")
        a.cls = value;
      else if (!ParseMs(value.c_str(), arg == "--timeout" ? a.timeout : a.settle))
        return err = arg + " needs milliseconds, not " + value, false;
    } else if (options && arg.compare(0, 2, "--") == 0) {
      return err = "unknown option " + arg, false;
    } else {
      a.pos.push_back(arg);
    }
  }
  return true;
}

int RunCommand(const std::vector<std::string>& words) {
  std::string names;
  for (const Command& c : kCommands) {
    names += std::string(" ") + c.name;
    if (words.empty() || words[0] != c.name) continue;
    Args a;
    std::string err;
    if (!ParseArgs(words, a, err)) return Fail(kUsage, err);
    if (a.pos.size() < c.minArgs || a.pos.size() > c.maxArgs)
      return Fail(kUsage, "wrong number of arguments for " + words[0]);
    return c.run(a);
  }
  return Fail(kUsage, "unknown command " + (words.empty() ? std::string() : words[0]) +
                          "; usage: veltra-driver <command> [arguments] [--timeout MS] [--class C]"
                          " [--settle MS] [--force] [--]; commands:" +
                          names + " session");
}

bool ReadLine(std::string& line) {
  line.clear();
  int c;
  while ((c = fgetc(stdin)) != EOF && c != '\n') line += (char)c;
  return c != EOF || !line.empty();
}

// One session line: UTF-8 fields separated by tabs, with \\ \t \n \r inside.
std::vector<std::string> SplitSessionLine(const std::string& line) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\t') {
      words.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      char e = line[++i];
      words.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    } else if (c != '\r') {
      words.back() += c;
    }
  }
  for (std::string& w : words) w = Utf8ToAnsi(w);
  return words;
}

// Many commands through one process: starting a Windows process under Wine
// costs far more than any command does.
int RunSession() {
  g_session = true;
  std::string line;
  while (ReadLine(line)) {
    if (line.empty()) continue;
    g_error.clear();
    int code = RunCommand(SplitSessionLine(line));
    EmitLine(JsonObject().Number("end", code).Text("error", g_error).Str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);  // records end in LF alone
  _setmode(_fileno(stdin), _O_BINARY);
  if (argc == 2 && strcmp(argv[1], "session") == 0) return RunSession();
  return RunCommand(std::vector<std::string>(argv + 1, argv + argc));
}
