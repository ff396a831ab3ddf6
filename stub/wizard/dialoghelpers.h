// What every dialog of the wizard shares: texts, the two fonts, the
// window-coloured page chrome, centring, the header picture and folder
// browsing. The control identifiers live in resources/resource.h.
#pragma once
#include <windows.h>

#include <string>

#include "resource.h"

// A text as the package wrote it, without placeholder expansion.
void SetRawItemText(HWND dialog, int item, const std::string& text);
// The text of a dialog item as read into a 260-byte buffer: at most 259 characters.
std::string ReadItemText(HWND dialog, int item);

// The dialog font, made from the system's message font the first time and
// kept for the rest of the run (every dialog of the wizard shares it).
void CreateDialogFont();
// Sends DialogFont to the fixed list of controls that the wizard's dialogs use.
void ApplyDialogFont(HWND dialog);
// Gives the item a bold form of its current font, one and a half times as high
// when `large` is set. Each distinct form is made once and then shared.
void CreateTitleFont(HWND window, int item, bool large);
// The size of a bold title font: lfHeight times 1.5 rounded half to even.
int LargeTitleHeight(int height);

// Moves the window to the middle of the screen, keeping its size.
void CenterWindow(HWND window);
// Puts HeaderBitmap into the page's header picture, sized to the band's
// height unless it is exactly 49 x 49 pixels.
void PlaceHeaderBitmap(HWND page);
// The picture width that keeps the bitmap's proportions at the band's height.
unsigned HeaderPictureWidth(int bandHeight, int bitmapWidth, int bitmapHeight);
// Takes a page's picture off its control before the page goes, and deletes
// the copy the control may have made of it.
void ReleasePagePicture(HWND page);

// The shell's folder picker. True when the user chose a folder; `path` then
// holds it without a trailing backslash; otherwise `path` is empty.
bool BrowseForFolder(const std::string& title, std::string& path, HWND owner);

// The reply to WM_CTLCOLORSTATIC for the page chrome: the window colour for
// `windowColoured` controls, transparent text for the title and subtitle,
// 0 (default colouring) otherwise.
INT_PTR PageChromeColour(HWND control, HDC dc, bool windowColoured);

// Message 56 naming `path` as not valid, in an error box.
void ShowInvalidPath(HWND owner, const std::string& path);

// The question asked before the user leaves: true for Yes.
bool ConfirmExit(HWND owner);

// Moves the keyboard focus within a dialog the way the dialog manager does,
// so that the default button follows it.
void FocusControl(HWND dialog, HWND control);
