// The progress page: prepares the folder that receives the payload, shows
// the shell's copying animation, a status line and a bar, and starts the
// extraction worker, which fills both from then on.
#include <windows.h>
#include <commctrl.h>

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
