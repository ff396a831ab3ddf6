// The wizard frame: the Back, Next and Cancel buttons, the page sequence,
// the question asked before the user leaves, the About box and the
// free-space check. Each page is a child dialog that the frame destroys and
// makes anew at every step.
#include <windows.h>

#include "dialoghelpers.h"
#include "exitsetup.h"
#include "fileops.h"
#include "folderpath.h"
#include "launch.h"
#include "packagefile.h"
#include "pathops.h"
#include "pausegate.h"
#include "placeholders.h"
#include "prompts.h"
#include "setupparams.h"
#include "wizard.h"
#include "worker.h"

volatile HWND PageWindow = nullptr;

namespace {

// Sent by the frame to itself: wParam 1 forward, anything else back.
const UINT WM_WIZARDSTEP = WM_USER + 8;
const UINT IDM_ABOUT = 9999;

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
    {kWelcomePage, IDD_WELCOME_PAGE, WizardPageProc},     {kLicencePage, IDD_LICENCE_PAGE, WizardPageProc},
    {kReadmePage, IDD_README_PAGE, WizardPageProc},       {kUnpackPage, IDD_UNPACK_PAGE, WizardPageProc},
    {kProgressPage, IDD_PROGRESS_PAGE, ProgressPageProc}, {kCompletionPage, IDD_WELCOME_PAGE, WizardPageProc},
};

// The messages of the Next and Cancel labels, and which of the three
// buttons a person may use, on each page. Back always reads kMsgBack.
struct ButtonSet {
  int Page;
  LangMessage NextLabel;
  LangMessage CancelLabel;
  bool BackOn;
  bool NextOn;
  bool CancelOn;
};
const ButtonSet kButtonSets[] = {
    {kWelcomePage, kMsgNext, kMsgCancel, false, true, true},
    {kLicencePage, kMsgYes, kMsgNo, true, true, true},
    {kReadmePage, kMsgNext, kMsgCancel, true, true, true},
    {kUnpackPage, kMsgNext, kMsgCancel, true, true, true},
    {kProgressPage, kMsgNext, kMsgCancel, false, false, true},
    {kCompletionPage, kMsgFinish, kMsgCancel, false, true, false},
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
  SetItemText(frame, 0, Message(kMsgSetupTitle));
  SetupParams.MainWindow = frame;
}

void PointStreamAtPayload() {
  SetupParams.CabinetOffset = ComputePackageBlocks(PackageBase(), SetupParams.Header).Payload;
  SetupParams.CabinetScrambled = SetupParams.Header.PasswordProtected != 0;
}

void SetButtons(HWND frame) {
  SetItemText(frame, IDC_BACK_BUTTON, Message(kMsgBack));
  const ButtonSet* set = FindButtonSet(SetupParams.WizardPage);
  if (!set) return;
  SetItemText(frame, IDC_NEXT_BUTTON, Message(set->NextLabel));
  SetItemText(frame, IDC_CANCEL_BUTTON, Message(set->CancelLabel));
  EnableWindow(GetDlgItem(frame, IDC_BACK_BUTTON), set->BackOn);
  EnableWindow(GetDlgItem(frame, IDC_NEXT_BUTTON), set->NextOn);
  EnableWindow(GetDlgItem(frame, IDC_CANCEL_BUTTON), set->CancelOn);
}

// Next when a person can press it; otherwise Cancel, so that the keyboard
// keeps working on the progress page.
void FocusFirstUsableButton(HWND frame) {
  const int id = ButtonUsable(frame, IDC_NEXT_BUTTON) ? IDC_NEXT_BUTTON : IDC_CANCEL_BUTTON;
  FocusControl(frame, GetDlgItem(frame, id));
}

void PlacePage(HWND frame, HWND page) {
  RECT place;
  GetWindowRect(GetDlgItem(frame, IDC_PAGE_PLACE), &place);
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

// Where the files go: the temporary folder when they are removed afterwards.
bool EnoughFreeSpace() {
  const std::string& folder = SetupParams.RemoveAfter ? SetupParams.TempDir : SetupParams.ExtractDir;
  if (DiskFreeBytes(folder) >= SetupParams.MinFree) return true;
  const std::string text = ExpandPlaceholders(Message(kMsgDiskSpace), true);
  MessageBoxA(SetupParams.MainWindow, text.c_str(), Message(kMsgErrorTitle).c_str(), MB_ICONERROR);
  return false;
}

// Files kept in a folder of the person's choice need it named in full; the
// temporary choice does not use it.
bool ValidDestination() {
  if (SetupParams.RemoveAfter || IsFullFolderPath(SetupParams.ExtractDir)) return true;
  ShowInvalidPath(SetupParams.MainWindow, SetupParams.ExtractDir);
  return false;
}

void StepPage(HWND frame, bool forward) {
  SetCaptionAndOwner(frame);
  const HWND page = PageWindow;
  if (SetupParams.WizardPage == kUnpackPage && page && IsDlgButtonChecked(page, IDC_CHOICE2) == BST_CHECKED) {
    SetupParams.ExtractDir = ReadItemText(page, IDC_FIELD);
  }
  if (forward && SetupParams.WizardPage == kUnpackPage && (!EnoughFreeSpace() || !ValidDestination())) return;
  const PageSequence sequence = {!SetupParams.LicenseText.empty(), !SetupParams.ReadmeText.empty(),
                                 SetupParams.ShowUnpackPage};
  bool removeAfter = false;
  SetupParams.WizardPage = StepTarget(SetupParams.WizardPage, forward, sequence, removeAfter);
  if (removeAfter) SetupParams.RemoveAfter = true;
  ShowPage(frame);
}

// The temporary unpack folder, once nothing of the run needs it any more.
void RemoveUnpackedFiles() {
  if (SetupParams.RemoveAfter) RemoveUnpackDir();
}

// Finish on the completion page: starts what the person ticked and ends the
// run. Files started from the temporary unpack folder are waited for, with
// the frame hidden, before the folder is removed under them.
[[noreturn]] void FinishSetup(HWND frame) {
  const HWND page = PageWindow;
  const auto ticked = [page](int id) {
    return page && IsWindowVisible(GetDlgItem(page, id)) && IsDlgButtonChecked(page, id) == BST_CHECKED;
  };
  StartedFile started[2] = {};
  if (ticked(IDC_CHOICE1))
    started[0] = StartFile(ExpandPlaceholders(SetupParams.LaunchFile, false), "", SetupParams.WindowsDir);
  if (ticked(IDC_CHOICE2))
    started[1] = StartFile(ExpandPlaceholders(SetupParams.ReadmeFile, false), "", SetupParams.WindowsDir);
  ShowWindow(frame, SW_HIDE);
  for (const StartedFile& file : started) {
    // Taken by the shell without a process: it may still be opening the file.
    if (file.Started && !file.Process) SetupParams.RemoveAfter = false;
    if (!file.Process) continue;
    if (SetupParams.RemoveAfter) AwaitWithMessages(file.Process);
    CloseHandle(file.Process);
  }
  RemoveUnpackedFiles();
  EndDialog(frame, 0);
  ExitFinishedRun();
}

// The worker is done: extraction, the program run and the clean-up are over.
void OnExtractionDone(HWND frame) {
  if (ExitQuestionOpen) {
    ExtractionDonePending = true;
    return;
  }
  // A passive run ends with its files: the completion page would wait for a click.
  if (SetupParams.Switches.Passive || (SetupParams.LaunchFile.empty() && SetupParams.ReadmeFile.empty())) {
    RemoveUnpackedFiles();
    EndDialog(frame, 0);
    ExitFinishedRun();
  }
  SetupParams.WizardPage = kCompletionPage;
  ShowPage(frame);
  ShowWindow(frame, SW_SHOW);
  SetForegroundWindow(frame);
}

// The worker is stopped only at its pause gate, where it holds nothing the
// rest of the exit needs; a slow write (a network share) is waited for, with
// the frame disabled so that nothing can be pressed meanwhile.
void StopWorker(HWND frame) {
  EnableWindow(frame, FALSE);
  WaitWorkerAtGate(SetupParams.WorkerThread, INFINITE);
  TerminateThread(SetupParams.WorkerThread, 0);
}

void AskToLeave(HWND frame) {
  const bool working = SetupParams.WorkerRunning;
  if (working) ClosePauseGate();
  ExitQuestionOpen = true;
  const bool leave = ConfirmExit(frame);
  if (leave) {
    // Still "open" while the worker is awaited: an end of extraction posted
    // meanwhile must not bring up the completion page.
    if (working) StopWorker(frame);
    EndDialog(frame, 0);
    // Left once the run was over: what its program answered still counts.
    if (ExtractionDonePending) {
      RemoveUnpackedFiles();
      ExitFinishedRun();
    }
    // A passive run was started by a script, which must not read a
    // cancelled install as a finished one.
    ExitSetup(SetupParams.Switches.Passive ? kExitStopped : kExitDone);
  }
  ExitQuestionOpen = false;
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
  AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, Message(kMsgAboutSetup).c_str());
  SetClassLongPtrA(frame, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadIconA(module, MAKEINTRESOURCEA(0))));
  SetItemText(frame, IDC_CANCEL_BUTTON, Message(kMsgCancel));
  CreateDialogFont();
  ApplyDialogFont(frame);
  FocusControl(frame, GetDlgItem(frame, IDC_NEXT_BUTTON));
  ShowPage(frame);
}

// Buttons act only while a person could press them: Enter and Escape reach
// the frame even when Next or Cancel is disabled.
void OnButton(HWND frame, int id) {
  if (!ButtonUsable(frame, id)) return;
  if (id == IDC_NEXT_BUTTON && PageWindow) {
    if (SetupParams.WizardPage == kCompletionPage) FinishSetup(frame);
    SendMessageA(frame, WM_WIZARDSTEP, 1, 0);
  } else if (id == IDC_BACK_BUTTON && PageWindow && SetupParams.WizardPage >= 1) {
    SendMessageA(frame, WM_WIZARDSTEP, static_cast<WPARAM>(-1), 0);
  } else if (id == IDC_CANCEL_BUTTON) {
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
    case WM_INITDIALOG: OnInitFrame(frame); return FALSE;
    case WM_WIZARDSTEP: StepPage(frame, wParam == 1); return FALSE;
    case WM_SYSCOMMAND:
      if (LOWORD(wParam) == IDM_ABOUT)
        MessageBoxA(frame, kAboutBanner, Message(kMsgSetupTitle).c_str(), MB_OK);
      return FALSE;
    case WM_COMMAND:
      if (HIWORD(wParam) == 0) OnButton(frame, LOWORD(wParam));
      return FALSE;
    case WM_CLOSE:
      // On the completion page, where Cancel is off, closing means Finish.
      if (!ButtonUsable(frame, IDC_CANCEL_BUTTON) && ButtonUsable(frame, IDC_NEXT_BUTTON)) {
        OnButton(frame, IDC_NEXT_BUTTON);
        return TRUE;
      }
      return FALSE;
    case WM_EXTRACTIONDONE: OnExtractionDone(frame); return FALSE;
    default: return FALSE;
  }
}
