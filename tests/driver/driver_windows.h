// Finding and describing the windows of other processes: top-level windows
// by caption or handle, their controls, message boxes and the icons they show.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A window named on the command line: "#0x1A2B" or "#6699" is a handle,
// "=text" is the caption "text", anything else is a caption as written.
struct Target {
  HWND hwnd = nullptr;
  std::string caption;
};
bool ParseTarget(const std::string& arg, Target& out);
bool ParseHandle(const std::string& text, HWND& out);

std::string ClassOf(HWND hwnd);
std::string CaptionOf(HWND hwnd);
std::string ControlText(HWND hwnd);  // asks the owning thread, as a control's text lives there
int ControlId(HWND hwnd);            // a template's -1 (0xFFFF) is reported as -1
bool IsClass(HWND hwnd, const char* cls);

std::vector<HWND> VisibleTopLevelWindows();
std::vector<HWND> Descendants(HWND top);  // every child window, pages' controls included
// Visible top-level windows with the caption (and class, when not empty), topmost first.
std::vector<HWND> WindowsCaptioned(const std::string& caption, const std::string& cls);
bool IsMessageBox(HWND hwnd);
HWND MessageBoxTextControl(HWND box);
HWND MessageBoxIconControl(HWND box);  // the static that shows an icon, or null
HWND FocusedWindow(HWND top);

// A person can use a control only when it and every window above it are shown and enabled.
bool IsUsable(HWND control, std::string& why);

std::string WindowRecord(HWND hwnd);
std::string ControlRecord(HWND top, HWND control, HWND focus);
std::string MessageBoxRecord(HWND box);

// Names the standard icon on screen in an icon static: "hand", "question",
// "exclamation", "asterisk", or "other" when it is none of them.
std::string RecognizeIcon(HWND iconStatic);
