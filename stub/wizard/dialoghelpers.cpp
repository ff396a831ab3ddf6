#include "dialoghelpers.h"

#include <shlobj.h>

#include <cmath>
#include <cstring>

#include "placeholders.h"
#include "prompts.h"
#include "setupparams.h"

namespace {

// The size of NONCLIENTMETRICSA before Vista added a field: accepted by every
// version of Windows.
const UINT kMetricsSize = 340;
const int kPlainHeaderPicture = 49;
const int kDialogFontControls[] = {IDC_LINE1,       IDC_LINE2,
                                   IDC_LINE3,       IDC_LINE4,
                                   IDC_TITLE,       IDC_SUBTITLE,
                                   IDC_FIELD,       IDC_BROWSE_BUTTON,
                                   IDC_CHOICE1,     IDC_CHOICE2,
                                   IDC_NEXT_BUTTON, IDC_CANCEL_BUTTON,
                                   IDC_BACK_BUTTON, IDC_YES_TO_ALL_BUTTON,
                                   IDC_NO_BUTTON,   IDC_NO_TO_ALL_BUTTON};

// Title fonts by look. The looks derive from DialogFont, which is made once,
// so a run needs two of them (normal and large); the table bounds the count
// even if that ever changed.
struct TitleFontEntry {
  LOGFONTA Look;
  HFONT Font;
};
const int kTitleFontSlots = 4;
TitleFontEntry TitleFonts[kTitleFontSlots];
int TitleFontCount = 0;
int NextTitleSlot = 0;

HFONT SharedTitleFont(const LOGFONTA& look) {
  for (int i = 0; i < TitleFontCount; ++i) {
    if (std::memcmp(&TitleFonts[i].Look, &look, sizeof look) == 0) return TitleFonts[i].Font;
  }
  const HFONT font = CreateFontIndirectA(&look);
  if (!font) return nullptr;
  // A full table reuses its oldest slot; the font there stays alive, as a
  // control may still show it.
  const int slot = TitleFontCount < kTitleFontSlots ? TitleFontCount++ : NextTitleSlot++ % kTitleFontSlots;
  TitleFonts[slot].Look = look;
  TitleFonts[slot].Font = font;
  return font;
}

bool ReadFontLook(HFONT font, LOGFONTA& look) {
  std::memset(&look, 0, sizeof look);
  return font && GetObjectA(font, sizeof look, &look) == static_cast<int>(sizeof look);
}

// The new-style folder dialog needs COM on the calling thread; ole32 is
// already loaded with shell32, so it is reached without linking it.
struct ComForThisThread {
  using InitFn = HRESULT(WINAPI*)(LPVOID);
  using UninitFn = void(WINAPI*)();
  UninitFn Uninit = nullptr;
  ComForThisThread() {
    const HMODULE ole = LoadLibraryA("ole32.dll");
    if (!ole) return;
    const auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoInitialize")));
    Uninit = reinterpret_cast<UninitFn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoUninitialize")));
    if (!init || FAILED(init(nullptr))) Uninit = nullptr;
  }
  ~ComForThisThread() {
    if (Uninit) Uninit();
  }
};

}  // namespace

void SetItemText(HWND dialog, int item, const std::string& text) {
  const HWND target = item == 0 ? dialog : GetDlgItem(dialog, item);
  const std::string expanded = ExpandPlaceholders(text, true);
  SendMessageA(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(expanded.c_str()));
}

void SetRawItemText(HWND dialog, int item, const std::string& text) {
  SendDlgItemMessageA(dialog, item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string ReadItemText(HWND dialog, int item) {
  char buffer[260] = "";
  GetDlgItemTextA(dialog, item, buffer, sizeof buffer);
  return buffer;
}

void CreateDialogFont() {
  if (SetupParams.DialogFont) return;
  NONCLIENTMETRICSA metrics;
  std::memset(&metrics, 0, sizeof metrics);
  metrics.cbSize = kMetricsSize;
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kMetricsSize, &metrics, 0)) {
    // The font takes the character set of the package's texts, so that the
    // system picks a face that has their letters; the title fonts copy it.
    CHARSETINFO charset;
    const UINT_PTR codePage = static_cast<UINT_PTR>(SetupParams.PackageCodePage);
    if (codePage && TranslateCharsetInfo(reinterpret_cast<DWORD*>(codePage), &charset, TCI_SRCCODEPAGE))
      metrics.lfMessageFont.lfCharSet = static_cast<BYTE>(charset.ciCharset);
    SetupParams.DialogFont = CreateFontIndirectA(&metrics.lfMessageFont);
  }
  if (!SetupParams.DialogFont) SetupParams.DialogFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
}

void ApplyDialogFont(HWND dialog) {
  for (const int item : kDialogFontControls) {
    const HWND control = GetDlgItem(dialog, item);
    if (control) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(SetupParams.DialogFont), 0);
  }
}

int LargeTitleHeight(int height) { return static_cast<int>(std::nearbyint(height * 1.5)); }

void CreateTitleFont(HWND window, int item, bool large) {
  const HWND control = GetDlgItem(window, item);
  if (!control) return;
  LOGFONTA look;
  const HFONT current = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
  if (!ReadFontLook(current, look) && !ReadFontLook(SetupParams.DialogFont, look)) return;
  look.lfWeight = FW_BOLD;
  if (large) look.lfHeight = LargeTitleHeight(look.lfHeight);
  const HFONT font = SharedTitleFont(look);
  if (!font) return;
  SetupParams.TitleFont = font;
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
}

void CenterWindow(HWND window) {
  RECT bounds;
  GetWindowRect(window, &bounds);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - (bounds.right - bounds.left)) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - (bounds.bottom - bounds.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

unsigned HeaderPictureWidth(int bandHeight, int bitmapWidth, int bitmapHeight) {
  if (bitmapHeight == 0) return 0;
  const double width = static_cast<double>(bandHeight) / bitmapHeight * bitmapWidth;
  return static_cast<uint16_t>(static_cast<long long>(std::nearbyint(width)));
}

void PlaceHeaderBitmap(HWND page) {
  const HBITMAP bitmap = SetupParams.HeaderBitmap;
  if (!bitmap) return;
  BITMAP record;
  const bool known = GetObjectA(bitmap, sizeof record, &record) == static_cast<int>(sizeof record);
  if (known && !(record.bmWidth == kPlainHeaderPicture && record.bmHeight == kPlainHeaderPicture)) {
    RECT band = {0, 0, 0, 0};
    GetClientRect(GetDlgItem(page, IDC_BAND), &band);
    const int height = band.bottom - band.top;
    const int width = static_cast<int>(HeaderPictureWidth(height, record.bmWidth, record.bmHeight));
    SetWindowPos(GetDlgItem(page, IDC_PICTURE), nullptr, band.right - width, 0, width, height,
                 SWP_SHOWWINDOW | SWP_NOZORDER);
  }
  SendDlgItemMessageA(page, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
}

void ReleasePagePicture(HWND page) {
  const HWND picture = GetDlgItem(page, IDC_PICTURE);
  if (!picture) return;
  // Version 6 of the common controls keeps a copy of a bitmap with alpha and
  // hands it back here; the originals belong to SetupParams.
  const HGDIOBJ shown = reinterpret_cast<HGDIOBJ>(SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, 0));
  if (shown && shown != SetupParams.SideBitmap && shown != SetupParams.HeaderBitmap) DeleteObject(shown);
}

bool BrowseForFolder(const std::string& title, std::string& path, HWND owner) {
  path.clear();
  ComForThisThread com;
  char displayName[261] = "";
  BROWSEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  const LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return false;
  char folder[261] = "";
  if (SHGetPathFromIDListA(chosen, folder)) path = folder;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(chosen);
    allocator->Release();
  }
  return true;
}

INT_PTR PageChromeColour(HWND control, HDC dc, bool windowColoured) {
  if (windowColoured) return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
  const int id = GetDlgCtrlID(control);
  if (id == IDC_TITLE || id == IDC_SUBTITLE) {
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
  }
  return 0;
}

bool ConfirmExit(HWND owner) {
  const std::string text = ExpandPlaceholders(Message(kMsgExitQuestion), true);
  const std::string caption = ExpandPlaceholders(Message(kMsgExitSetupTitle), true);
  return MessageBoxA(owner, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
         IDYES;
}

void FocusControl(HWND dialog, HWND control) {
  if (control) SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void ShowInvalidPath(HWND owner, const std::string& path) {
  const std::string text = ExpandPlaceholders(ReplaceAll("<S>", path, Message(kMsgInvalidPath)), true);
  MessageBoxA(owner, text.c_str(), Message(kMsgErrorTitle).c_str(), MB_OK | MB_ICONERROR);
}
