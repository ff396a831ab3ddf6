// The wizard frame: the Back, Next and Cancel buttons, the page sequence,
// the question asked before the user leaves, the About box and the
// free-space check. Each page is a child dialog that the frame destroys and
// makes anew at every step.
#include <windows.h>

#include "dialoghelpers.h"
#include "exitsetup.h"
#include "fileops.h"
#include "launch.h"
#include "packagefile.h"
#include "pathops.h"
#include "pausegate.h"
#include "placeholders.h"
#include "prompts.h"
#include "setupparams.h"
#include "streamio.h"
#include "wizard.h"
#include "worker.h"

namespace {

// Sent by the frame to itself: wParam 1 forward, anything else back.
const UINT WM_WIZARDSTEP = WM_USER + 8;
const UINT IDM_ABOUT = 9999;
const int kAboutMenuText = 54;
const int kBackLabel = 9;
// How long Yes in the exit question waits for the worker to reach its pause
// gate; it is normally there within one write.
const DWORD kWorkerParkTimeoutMs = 5000;

const char kAboutBanner[] =
    "ul-Fen Setup\r\n"
    "Version 1.0 (Veltra self-extracting setup)\r\n"
    "Copyright (c) the Veltra authors. Freely redistributable with the packages it installs.";

struct PageTemplate {
  int Page;
  int Template;
  DLGPROC Procedure;
};
const PageTemplate kPageTemplates[] = {
    {kWelcomePage, 6002, WizardPageProc},   {kLicencePage, 2002, WizardPageProc},
    {kReadmePage, 2005, WizardPageProc},    {kUnpackPage, 2001, WizardPageProc},
    {kProgressPage, 2003, ProgressPageProc}, {kCompletionPage, 6002, WizardPageProc},
};

// The message numbers of the Next and Cancel labels, and which of the three
// buttons a person may use, on each page. Back always reads message 9.
struct ButtonSet {
  int Page;
  int NextLabel;
  int CancelLabel;
  bool BackOn;
  bool NextOn;
  bool CancelOn;
};
const ButtonSet kButtonSets[] = {
    {kWelcomePage, 10, 4, false, true, true},  {kLicencePage, 5, 6, true, true, true},
    {kReadmePage, 10, 4, true, true, true},    {kUnpackPage, 10, 4, true, true, true},
    {kProgressPage, 10, 4, false, false, true}, {kCompletionPage, 11, 4, false, true, false},
};

// The worker may finish while the exit question is open; the frame then
// finishes the run once the question has been answered No.
bool ExitQuestionOpen = false;
bool ExtractionDonePending = false;

const PageTemplate* FindPageTemplate(int page) {
  for (const PageTemplate& entry : kPageTemplates) {
    if (entry.Page == page) return &entry;
  }
  return nullptr;
}

const ButtonSet* FindButtonSet(int page) {
  for (const ButtonSet& entry : kButtonSets) {
    if (entry.Page == page) return &entry;
  }
  return nullptr;
}

bool ButtonUsable(HWND frame, int id) { return IsWindowEnabled(GetDlgItem(frame, id)) != FALSE; }

void SetCaptionAndOwner(HWND frame) {
  SetItemText(frame, 0, Message(0));
  SetupParams.MainWindow = frame;
}

void PointStreamAtPayload() {
  SetupParams.CabinetOffset = ComputePackageBlocks(PackageBase(), SetupParams.Header).Payload;
  SetupParams.CabinetScrambled = SetupParams.Header.PasswordProtected != 0;
}

void SetButtons(HWND frame) {
  SetItemText(frame, kBackButton, Message(kBackLabel));
  const ButtonSet* set = FindButtonSet(SetupParams.WizardPage);
  if (!set) return;
  SetItemText(frame, kNextButton, Message(set->NextLabel));
  SetItemText(frame, kCancelButton, Message(set->CancelLabel));
  EnableWindow(GetDlgItem(frame, kBackButton), set->BackOn);
  EnableWindow(GetDlgItem(frame, kNextButton), set->NextOn);
  EnableWindow(GetDlgItem(frame, kCancelButton), set->CancelOn);
}

// Next when a person can press it; otherwise Cancel, so that the keyboard
// keeps working on the progress page.
void FocusFirstUsableButton(HWND frame) {
  const int id = ButtonUsable(frame, kNextButton) ? kNextButton : kCancelButton;
  FocusControl(frame, GetDlgItem(frame, id));
}

void PlacePage(HWND frame, HWND page) {
  RECT place;
  GetWindowRect(GetDlgItem(frame, kPagePlace), &place);
  POINT corner = {place.left, place.top};
  ScreenToClient(frame, &corner);
  SetWindowPos(page, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(page, SW_SHOWNA);
}

void ShowPage(HWND frame) {
  PointStreamAtPayload();
  SetupParams.ExtractDir = AddTrailingBackslash(SetupParams.ExtractDir);
  if (PageWindow) DestroyWindow(PageWindow);
  PageWindow = nullptr;
  // The buttons change before the page is made: the progress page starts the
  // worker from its initialisation, and nothing may step on from there.
  SetButtons(frame);
  const PageTemplate* entry = FindPageTemplate(SetupParams.WizardPage);
  HWND page = nullptr;
  if (entry) {
    page = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(entry->Template), frame,
                              entry->Procedure, 0);
  }
  PageWindow = page;
  if (page) PlacePage(frame, page);
  FocusFirstUsableButton(frame);
}

bool EnoughFreeSpace() {
  if (DiskFreeBytes(SetupParams.ExtractDir) >= SetupParams.MinFree) return true;
  const std::string text = ExpandPlaceholders(Message(58), true);
  MessageBoxA(SetupParams.MainWindow, text.c_str(), Message(1).c_str(), MB_ICONERROR);
  return false;
}

void StepPage(HWND frame, bool forward) {
  SetCaptionAndOwner(frame);
  const HWND page = PageWindow;
  if (SetupParams.WizardPage == kUnpackPage && page && IsDlgButtonChecked(page, kChoice2) == BST_CHECKED) {
    SetupParams.ExtractDir = ReadItemText(page, kField);
  }
  if (forward && SetupParams.WizardPage == kUnpackPage && !EnoughFreeSpace()) return;
  const PageSequence sequence = {!SetupParams.LicenseText.empty(), !SetupParams.ReadmeText.empty(),
                                 SetupParams.ShowUnpackPage};
  bool removeAfter = false;
  SetupParams.WizardPage = StepTarget(SetupParams.WizardPage, forward, sequence, removeAfter);
  if (removeAfter) SetupParams.RemoveAfter = true;
  ShowPage(frame);
}

// Finish on the completion page: starts what the person ticked, without
// waiting, and ends the run.
[[noreturn]] void FinishSetup(HWND frame) {
  const HWND page = PageWindow;
  const auto ticked = [page](int id) {
    return page && IsWindowVisible(GetDlgItem(page, id)) && IsDlgButtonChecked(page, id) == BST_CHECKED;
  };
  const bool launch = ticked(kChoice1);
  const bool readme = ticked(kChoice2);
  if (launch) ExecuteFile(ExpandPlaceholders(SetupParams.LaunchFile, false), "", false);
  if (readme) ExecuteFile(ExpandPlaceholders(SetupParams.ReadmeFile, false), "", false);
  EndDialog(frame, 0);
  ExitSetup(0);
}

// The worker is done: extraction, the program run and the clean-up are over.
void OnExtractionDone(HWND frame) {
  if (ExitQuestionOpen) {
    ExtractionDonePending = true;
    return;
  }
  if (SetupParams.LaunchFile.empty() && SetupParams.ReadmeFile.empty()) {
    EndDialog(frame, 0);
    ExitSetup(0);
  }
  SetupParams.WizardPage = kCompletionPage;
  ShowPage(frame);
  ShowWindow(frame, SW_SHOW);
  SetForegroundWindow(frame);
}

// The worker waits at its pause gate while the question is open; it is
// stopped there, where it holds nothing the rest of the exit needs.
void StopWorker() {
  WaitWorkerAtGate(SetupParams.WorkerThread, kWorkerParkTimeoutMs);
  TerminateThread(SetupParams.WorkerThread, 0);
}

void AskToLeave(HWND frame) {
  const bool working = SetupParams.WorkerRunning;
  if (working) ClosePauseGate();
  ExitQuestionOpen = true;
  const bool leave = ConfirmExit(frame);
  ExitQuestionOpen = false;
  if (leave) {
    if (working) StopWorker();
    EndDialog(frame, 0);
    ExitSetup(0);
  }
  if (working) OpenPauseGate();
  if (ExtractionDonePending) {
    ExtractionDonePending = false;
    OnExtractionDone(frame);
  }
}

void OnInitFrame(HWND frame) {
  const HINSTANCE module = GetModuleHandleA(nullptr);
  const HANDLE smallIcon = LoadImageA(module, MAKEINTRESOURCEA(0), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED);
  SendMessageA(frame, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
  SetCaptionAndOwner(frame);
  const HMENU systemMenu = GetSystemMenu(frame, FALSE);
  AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, Message(kAboutMenuText).c_str());
  SetClassLongPtrA(frame, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadIconA(module, MAKEINTRESOURCEA(0))));
  SetItemText(frame, kCancelButton, Message(4));
  CreateDialogFont();
  ApplyDialogFont(frame);
  FocusControl(frame, GetDlgItem(frame, kNextButton));
  ShowPage(frame);
}

// Buttons act only while a person could press them: Enter and Escape reach
// the frame even when Next or Cancel is disabled.
void OnButton(HWND frame, int id) {
  if (!ButtonUsable(frame, id)) return;
  if (id == kNextButton && PageWindow) {
    if (SetupParams.WizardPage == kCompletionPage) FinishSetup(frame);
    SendMessageA(frame, WM_WIZARDSTEP, 1, 0);
  } else if (id == kBackButton && PageWindow && SetupParams.WizardPage >= 1) {
    SendMessageA(frame, WM_WIZARDSTEP, static_cast<WPARAM>(-1), 0);
  } else if (id == kCancelButton) {
    AskToLeave(frame);
  }
}

}  // namespace

int StepTarget(int page, bool forward, const PageSequence& sequence, bool& removeAfter) {
  removeAfter = false;
  if (!forward) {
    if (page == kUnpackPage || page == kReadmePage || page == kLicencePage) --page;
    if (page == kReadmePage && !sequence.HasReadme) page = kLicencePage;
    if (page == kLicencePage && !sequence.HasLicence) page = kWelcomePage;
    return page;
  }
  switch (page) {
    case kWelcomePage: page = kLicencePage; break;
    case kLicencePage: page = kReadmePage; break;
    case kReadmePage: page = kUnpackPage; break;
    case kUnpackPage: page = kProgressPage; break;
    case kProgressPage: page = kCompletionPage; break;
    default: return page;
  }
  if (page == kLicencePage && !sequence.HasLicence) page = kReadmePage;
  if (page == kReadmePage && !sequence.HasReadme) page = kUnpackPage;
  if (page == kUnpackPage && !sequence.ShowUnpackPage) {
    removeAfter = true;
    page = kProgressPage;
  }
  return page;
}

INT_PTR CALLBACK WizardFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitFrame(frame);
      return FALSE;
    case WM_WIZARDSTEP:
      StepPage(frame, wParam == 1);
      return FALSE;
    case WM_SYSCOMMAND:
      if (LOWORD(wParam) == IDM_ABOUT) MessageBoxA(frame, kAboutBanner, Message(0).c_str(), MB_OK);
      return FALSE;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0) OnButton(frame, LOWORD(wParam));
      return FALSE;
    case WM_CLOSE:
      // On the completion page, where Cancel is off, closing means Finish.
      if (!ButtonUsable(frame, kCancelButton) && ButtonUsable(frame, kNextButton)) {
        OnButton(frame, kNextButton);
        return TRUE;
      }
      return FALSE;
    case WM_EXTRACTIONDONE:
      OnExtractionDone(frame);
      return FALSE;
    default:
      return FALSE;
  }
}
