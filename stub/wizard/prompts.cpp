// The small modal prompts: the password and next-volume prompts (one
// template, two procedures) and the overwrite prompt.
#include "prompts.h"

#include "dialoghelpers.h"
#include "exitsetup.h"
#include "pathops.h"
#include "placeholders.h"
#include "cabnotify.h"
#include "setupparams.h"

namespace {

const int kVolumeTemplate = 5000;
const int kOverwriteTemplate = 3000;
// FDI takes the next volume's folder back in a buffer of 256 bytes, the
// terminating zero included.
const size_t kCabPathBuffer = 256;

HINSTANCE OwnModule() { return GetModuleHandleA(nullptr); }

void OnPasswordInit(HWND prompt) {
  CenterWindow(prompt);
  CreateDialogFont();
  ApplyDialogFont(prompt);
  SetItemText(prompt, 0, Message(37));
  SetItemText(prompt, kLine1, Message(38));
  SetItemText(prompt, kLine2, Message(39));
  SetItemText(prompt, kLine3, "");
  SetItemText(prompt, kLine4, Message(40));
  SetItemText(prompt, kField, "");
  FocusControl(prompt, GetDlgItem(prompt, kField));
  ShowWindow(GetDlgItem(prompt, kLine3), SW_HIDE);
  ShowWindow(GetDlgItem(prompt, kBrowseButton), SW_HIDE);
  // A blank for every typed character: the length shows, the text does not.
  SendDlgItemMessageA(prompt, kField, EM_SETPASSWORDCHAR, ' ', 0);
  SetRawItemText(prompt, kNextButton, Message(3));
  SetRawItemText(prompt, kCancelButton, Message(4));
  ShowWindow(GetDlgItem(prompt, kVolumeIcon), SW_HIDE);
  FocusControl(prompt, GetDlgItem(prompt, kField));
}

INT_PTR CALLBACK PasswordDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnPasswordInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    if (LOWORD(wParam) == kCancelButton && ConfirmExit(prompt)) {
      EndDialog(prompt, 0);
      ExitSetup(0);
    } else if (LOWORD(wParam) == kNextButton) {
      const std::string password = ReadItemText(prompt, kField);
      EndDialog(prompt, 0);
      SetupParams.EnteredPassword = password;
    }
  }
  return FALSE;
}

void OnNextVolumeInit(HWND prompt) {
  CreateDialogFont();
  ApplyDialogFont(prompt);
  CreateTitleFont(prompt, kLine2, false);
  CenterWindow(prompt);
  ShowWindow(GetDlgItem(prompt, kPasswordIcon), SW_HIDE);
  SetItemText(prompt, 0, Message(41));
  SetItemText(prompt, kLine1, Message(42));
  SetItemText(prompt, kLine2, NextDiskName + " (" + NextCabinetName + ")");
  SetItemText(prompt, kLine3, Message(43));
  SetItemText(prompt, kLine4, Message(44));
  SetItemText(prompt, kField, AddTrailingBackslash(NextCabinetPath));
  SetItemText(prompt, kNextButton, Message(3));
  SetItemText(prompt, kCancelButton, Message(4));
  SetItemText(prompt, kBrowseButton, Message(12));
  FocusControl(prompt, GetDlgItem(prompt, kField));
}

// A location that FDI could not take back is refused, and the prompt stays.
void OnNextVolumeOk(HWND prompt) {
  const std::string location = ReadItemText(prompt, kField);
  if (AddTrailingBackslash(location).size() >= kCabPathBuffer) {
    const std::string text = ExpandPlaceholders(ReplaceAll("<S>", location, Message(56)), true);
    MessageBoxA(prompt, text.c_str(), Message(1).c_str(), MB_OK | MB_ICONERROR);
    FocusControl(prompt, GetDlgItem(prompt, kField));
    return;
  }
  NextCabinetPath = location;
  EndDialog(prompt, 0);
}

void OnNextVolumeBrowse(HWND prompt) {
  std::string folder;
  if (BrowseForFolder("", folder, prompt) && !folder.empty()) SetRawItemText(prompt, kField, folder);
}

void OnOverwriteInit(HWND prompt) {
  CreateDialogFont();
  ApplyDialogFont(prompt);
  CenterWindow(prompt);
  SetRawItemText(prompt, kLine1, Message(46));
  SetRawItemText(prompt, kLine2, SetupParams.OverwriteFileName);
  SetRawItemText(prompt, kLine3, Message(47));
  SetRawItemText(prompt, kNextButton, Message(5));
  SetRawItemText(prompt, kYesToAllButton, Message(7));
  SetRawItemText(prompt, kNoButton, Message(6));
  SetRawItemText(prompt, kNoToAllButton, Message(8));
  SetRawItemText(prompt, kCancelButton, Message(4));
  SetWindowTextA(prompt, Message(45).c_str());
}

// The four answers: whether to replace this file, and the policy for the rest.
struct OverwriteChoice {
  int Button;
  bool Replace;
  int NewMode;  // -1: unchanged
};
const OverwriteChoice kOverwriteChoices[] = {
    {kNextButton, true, -1}, {kYesToAllButton, true, 1}, {kNoButton, false, -1}, {kNoToAllButton, false, 2}};

void OnOverwriteButton(HWND prompt, int id) {
  for (const OverwriteChoice& choice : kOverwriteChoices) {
    if (choice.Button != id) continue;
    SetupParams.OverwriteAnswer = choice.Replace;
    if (choice.NewMode >= 0) SetupParams.OverwriteMode = static_cast<uint16_t>(choice.NewMode);
    EndDialog(prompt, 0);
    return;
  }
  if (id == kCancelButton && ConfirmExit(prompt)) {
    EndDialog(prompt, 0);
    ExitSetup(2);
  }
}

INT_PTR CALLBACK OverwriteDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnOverwriteInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    OnOverwriteButton(prompt, LOWORD(wParam));
  } else if (message == WM_CLOSE && ConfirmExit(prompt)) {
    EndDialog(prompt, 0);
    ExitSetup(0);
  }
  return FALSE;
}

}  // namespace

std::string AskPassword() {
  SetupParams.EnteredPassword.clear();
  DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(kVolumeTemplate), nullptr, PasswordDlgProc, 0);
  return SetupParams.EnteredPassword;
}

INT_PTR CALLBACK NextVolumeDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnNextVolumeInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    switch (LOWORD(wParam)) {
      case kCancelButton:
        if (ConfirmExit(prompt)) {
          EndDialog(prompt, IDCANCEL);
          ExitSetup(0);
        }
        break;
      case kNextButton: OnNextVolumeOk(prompt); break;
      case kBrowseButton: OnNextVolumeBrowse(prompt); break;
      default: break;
    }
  }
  return FALSE;
}

bool AskOverwrite(const std::string& path) {
  if (SetupParams.Unattended) return false;
  SetupParams.OverwriteFileName = path;
  SetupParams.OverwriteAnswer = false;
  DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(kOverwriteTemplate), SetupParams.MainWindow, OverwriteDlgProc, 0);
  return SetupParams.OverwriteAnswer;
}
