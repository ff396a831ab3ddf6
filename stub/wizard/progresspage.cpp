// The progress page: prepares the folder that receives the payload, shows
// the shell's copying animation, a status line and a bar, and starts the
// extraction worker, which fills both from then on.
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <cstdint>

#include "dialoghelpers.h"
#include "exitsetup.h"
#include "fileops.h"
#include "fixedtexts.h"
#include "pathops.h"
#include "prompts.h"
#include "setupparams.h"
#include "wizard.h"
#include "worker.h"

namespace {

const int kCopyAnimation = 161;  // AVI resource of shell32.dll
const DWORD kAnimationStyle = WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_AUTOPLAY;
const int64_t kProgressRangeMax = 32767;

float ProgressScale = -1.0f;  // bytes to bar position; -1 = unscaled

// With RemoveAfter the payload goes into a fresh folder under TEMP, removed
// once the package's program has run. Without such a folder the files would
// land in the current folder, so the run stops instead.
void PrepareUnpackFolder() {
  if (!SetupParams.RemoveAfter) return;
  SetupParams.UnpackDir = CreateUniqueFolder(SetupParams.TempDir, "~SSET");
  if (SetupParams.UnpackDir.empty()) {
    ShowSetupError(Message(kMsgTempFolderFailed));
    ExitSetup(kExitFailed);
  }
  SetupParams.ExtractDir = AddTrailingBackslash(SetupParams.UnpackDir);
}

HMODULE ShellLibrary() {
  HMODULE shell = GetModuleHandleA("shell32.dll");
  if (reinterpret_cast<uintptr_t>(shell) < 32) shell = LoadLibraryA("shell32.dll");
  return shell;
}

// The animation sits under the header band; it takes the size of its clip.
void StartAnimation(HWND page) {
  RECT band = {0, 0, 0, 0};
  GetWindowRect(GetDlgItem(page, IDC_BAND), &band);
  SetupParams.ShellModule = ShellLibrary();
  const HWND animation = CreateWindowExA(
      0, "SysAnimate32", "ANIME", kAnimationStyle, 5, band.bottom - band.top + 2, 0, 0, page,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_ANIMATION)), SetupParams.ShellModule, nullptr);
  if (animation) SendMessageA(animation, ACM_OPENA, 0, kCopyAnimation);
}

void StartWorker() {
  if (StartExtractionWorker()) return;
  ShowSetupError(kTextCannotPrepare);
  ExitSetup(kExitFailed);
}

void InitProgressPage(HWND page) {
  PrepareUnpackFolder();
  PlaceHeaderBitmap(page);
  CreateDialogFont();
  ApplyDialogFont(page);
  CreateTitleFont(page, IDC_TITLE, false);
  StartAnimation(page);
  SetItemText(page, IDC_TITLE, Message(kMsgProgressTitle));
  SetItemText(page, IDC_SUBTITLE, Message(kMsgProgressSubtitle));
  SetItemText(page, IDC_LINE1, Message(kMsgStatusLabel));
  SetItemText(page, IDC_LINE2, Message(kMsgOneMoment));
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, 0);
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
  const HWND frame = GetParent(page);
  FocusControl(frame, GetDlgItem(frame, IDC_CANCEL_BUTTON));
  StartWorker();
}

}  // namespace

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: InitProgressPage(page); return FALSE;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      return PageChromeColour(control, reinterpret_cast<HDC>(wParam), GetDlgCtrlID(control) == IDC_BAND);
    }
    case WM_CLOSE: SendMessageA(GetParent(page), WM_CLOSE, 0, 0); return FALSE;
    case WM_DESTROY: ReleasePagePicture(page); return FALSE;
    default: return FALSE;
  }
}

void BeginExtractionProgress(int64_t total) {
  if (PageWindow) SetItemText(PageWindow, IDC_LINE2, Message(kMsgOneMoment));
  // The worker starts from the page's initialisation, before the frame has
  // the page: waited for without burning a processor.
  while (!PageWindow) Sleep(10);
  const bool scaled = total > kProgressRangeMax;
  ProgressScale = scaled ? static_cast<float>(static_cast<long double>(kProgressRangeMax) / total) : -1.0f;
  const uint16_t rangeMax = static_cast<uint16_t>(scaled ? kProgressRangeMax : total);
  SendDlgItemMessageA(PageWindow, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELONG(0, rangeMax));
}

void ShowExtractionStatus(const std::string& text) {
  if (PageWindow)
    SendDlgItemMessageA(PageWindow, IDC_LINE2, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ShowExtractionProgress(int64_t done) {
  uint32_t position;
  if (ProgressScale == -1.0f) {
    position = static_cast<uint32_t>(done);
  } else {
    // Rounded to nearest, ties to even (the default rounding mode).
    const long double scaled = static_cast<long double>(done) * ProgressScale;
    position = static_cast<uint32_t>(static_cast<int64_t>(std::nearbyint(scaled)));
  }
  // The bar changes only when its position does; sending the same position
  // again after every write would cost a cross-thread message each time.
  static HWND lastPage = nullptr;
  static uint32_t lastPosition = 0;
  const HWND page = PageWindow;
  if (!page || (page == lastPage && position == lastPosition)) return;
  lastPage = page;
  lastPosition = position;
  SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, position, 0);
}
