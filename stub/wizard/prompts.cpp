// The small modal prompts: the password and next-volume prompts (one
// template, two procedures) and the overwrite prompt.
#include "prompts.h"

#include "dialoghelpers.h"
#include "exitsetup.h"
#include "extractionui.h"
#include "pathops.h"
#include "placeholders.h"
#include "setupparams.h"
#include "volumeset.h"
#include "wizard.h"

namespace {

HINSTANCE OwnModule() { return GetModuleHandleA(nullptr); }

void OnPasswordInit(HWND prompt) {
  CenterWindow(prompt);
  CreateDialogFont();
  ApplyDialogFont(prompt);
  SetItemText(prompt, 0, Message(kMsgPasswordTitle));
  SetItemText(prompt, IDC_LINE1, Message(kMsgPasswordText));
  SetItemText(prompt, IDC_LINE2, Message(kMsgPasswordHint));
  SetItemText(prompt, IDC_LINE3, "");
  SetItemText(prompt, IDC_LINE4, Message(kMsgPasswordLabel));
  SetItemText(prompt, IDC_FIELD, "");
  FocusControl(prompt, GetDlgItem(prompt, IDC_FIELD));
  ShowWindow(GetDlgItem(prompt, IDC_LINE3), SW_HIDE);
  ShowWindow(GetDlgItem(prompt, IDC_BROWSE_BUTTON), SW_HIDE);
  // A blank for every typed character: the length shows, the text does not.
  SendDlgItemMessageA(prompt, IDC_FIELD, EM_SETPASSWORDCHAR, ' ', 0);
  SetRawItemText(prompt, IDC_NEXT_BUTTON, Message(kMsgOk));
  SetRawItemText(prompt, IDC_CANCEL_BUTTON, Message(kMsgCancel));
  ShowWindow(GetDlgItem(prompt, IDC_VOLUME_ICON), SW_HIDE);
  FocusControl(prompt, GetDlgItem(prompt, IDC_FIELD));
}

INT_PTR CALLBACK PasswordDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnPasswordInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    if (LOWORD(wParam) == IDC_CANCEL_BUTTON && ConfirmExit(prompt)) {
      EndDialog(prompt, 0);
      ExitSetup(kExitDone);
    } else if (LOWORD(wParam) == IDC_NEXT_BUTTON) {
      const std::string password = ReadItemText(prompt, IDC_FIELD);
      EndDialog(prompt, 0);
      SetupParams.EnteredPassword = password;
    }
  }
  return FALSE;
}

void OnNextVolumeInit(HWND prompt) {
  CreateDialogFont();
  ApplyDialogFont(prompt);
  CreateTitleFont(prompt, IDC_LINE2, false);
  CenterWindow(prompt);
  ShowWindow(GetDlgItem(prompt, IDC_PASSWORD_ICON), SW_HIDE);
  SetItemText(prompt, 0, Message(kMsgVolumeTitle));
  SetItemText(prompt, IDC_LINE1, Message(kMsgVolumeText));
  SetItemText(prompt, IDC_LINE2, VolumeSet.NextDiskName + " (" + VolumeSet.NextCabinetName + ")");
  SetItemText(prompt, IDC_LINE3, Message(kMsgVolumeHint));
  SetItemText(prompt, IDC_LINE4, Message(kMsgVolumeLabel));
  SetItemText(prompt, IDC_FIELD, AddTrailingBackslash(VolumeSet.NextCabinetPath));
  SetItemText(prompt, IDC_NEXT_BUTTON, Message(kMsgOk));
  SetItemText(prompt, IDC_CANCEL_BUTTON, Message(kMsgCancel));
  SetItemText(prompt, IDC_BROWSE_BUTTON, Message(kMsgBrowse));
  FocusControl(prompt, GetDlgItem(prompt, IDC_FIELD));
}

// A location that FDI could not take back is refused, and the prompt stays.
void OnNextVolumeOk(HWND prompt) {
  const std::string location = ReadItemText(prompt, IDC_FIELD);
  if (AddTrailingBackslash(location).size() >= kCabPathBuffer) {
    ShowInvalidPath(prompt, location);
    FocusControl(prompt, GetDlgItem(prompt, IDC_FIELD));
    return;
  }
  VolumeSet.NextCabinetPath = location;
  EndDialog(prompt, 0);
}

void OnNextVolumeBrowse(HWND prompt) {
  std::string folder;
  if (BrowseForFolder("", folder, prompt) && !folder.empty()) SetRawItemText(prompt, IDC_FIELD, folder);
}

void OnOverwriteInit(HWND prompt) {
  CreateDialogFont();
  ApplyDialogFont(prompt);
  CenterWindow(prompt);
  SetRawItemText(prompt, IDC_LINE1, Message(kMsgOverwriteText));
  SetRawItemText(prompt, IDC_LINE2, SetupParams.OverwriteFileName);
  SetRawItemText(prompt, IDC_LINE3, Message(kMsgOverwriteQuestion));
  SetRawItemText(prompt, IDC_NEXT_BUTTON, Message(kMsgYes));
  SetRawItemText(prompt, IDC_YES_TO_ALL_BUTTON, Message(kMsgYesToAll));
  SetRawItemText(prompt, IDC_NO_BUTTON, Message(kMsgNo));
  SetRawItemText(prompt, IDC_NO_TO_ALL_BUTTON, Message(kMsgNoToAll));
  SetRawItemText(prompt, IDC_CANCEL_BUTTON, Message(kMsgCancel));
  SetWindowTextA(prompt, Message(kMsgOverwriteTitle).c_str());
}

// The four answers: whether to replace this file, and the policy for the rest.
struct OverwriteChoice {
  int Button;
  bool Replace;
  int NewMode;  // -1: unchanged
};
const OverwriteChoice kOverwriteChoices[] = {{IDC_NEXT_BUTTON, true, -1},
                                             {IDC_YES_TO_ALL_BUTTON, true, 1},
                                             {IDC_NO_BUTTON, false, -1},
                                             {IDC_NO_TO_ALL_BUTTON, false, 2}};

void OnOverwriteButton(HWND prompt, int id) {
  for (const OverwriteChoice& choice : kOverwriteChoices) {
    if (choice.Button != id) continue;
    SetupParams.OverwriteAnswer = choice.Replace;
    if (choice.NewMode >= 0) SetupParams.OverwriteMode = static_cast<uint16_t>(choice.NewMode);
    EndDialog(prompt, 0);
    return;
  }
  if (id == IDC_CANCEL_BUTTON && ConfirmExit(prompt)) {
    EndDialog(prompt, 0);
    ExitSetup(kExitStopped);
  }
}

INT_PTR CALLBACK OverwriteDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnOverwriteInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    OnOverwriteButton(prompt, LOWORD(wParam));
  } else if (message == WM_CLOSE && ConfirmExit(prompt)) {
    EndDialog(prompt, 0);
    ExitSetup(kExitDone);
  }
  return FALSE;
}

INT_PTR CALLBACK NextVolumeDlgProc(HWND prompt, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    OnNextVolumeInit(prompt);
  } else if (message == WM_COMMAND && HIWORD(wParam) == 0) {
    switch (LOWORD(wParam)) {
      case IDC_CANCEL_BUTTON:
        if (ConfirmExit(prompt)) {
          EndDialog(prompt, IDCANCEL);
          ExitSetup(kExitDone);
        }
        break;
      case IDC_NEXT_BUTTON: OnNextVolumeOk(prompt); break;
      case IDC_BROWSE_BUTTON: OnNextVolumeBrowse(prompt); break;
      default: break;
    }
  }
  return FALSE;
}

// The next-volume prompt (template IDD_VOLUME_PROMPT) over VolumeSet's
// NextDiskName, NextCabinetName and NextCabinetPath; OK stores the edited
// location in NextCabinetPath.
bool AskNextVolume() {
  return DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(IDD_VOLUME_PROMPT), SetupParams.MainWindow,
                         NextVolumeDlgProc, 0) != IDCANCEL;
}

// The overwrite prompt for an existing file: true = replace it. The "to all"
// answers set OverwriteMode for the rest of the run.
bool AskOverwrite(const std::string& path) {
  SetupParams.OverwriteFileName = path;
  SetupParams.OverwriteAnswer = false;
  DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(IDD_OVERWRITE_PROMPT), SetupParams.MainWindow,
                  OverwriteDlgProc, 0);
  return SetupParams.OverwriteAnswer;
}

// A folder or file could not be made: abort, retry or ignore.
int AskAfterFailure(const std::string& text) {
  return MessageBoxA(SetupParams.MainWindow, text.c_str(), Message(kMsgErrorTitle).c_str(),
                     MB_ABORTRETRYIGNORE | MB_ICONERROR);
}

const ExtractionUiRecord kWizardUi = {AskOverwrite,         AskNextVolume,
                                      AskAfterFailure,      BeginExtractionProgress,
                                      ShowExtractionStatus, ShowExtractionProgress};

// The progress page alone: every question gets the answer that the empty
// member stands for, as in an unattended run.
const ExtractionUiRecord kProgressOnlyUi = {
    nullptr, nullptr, nullptr, BeginExtractionProgress, ShowExtractionStatus, ShowExtractionProgress};

}  // namespace

void UseWizardForExtraction() { ExtractionUi = kWizardUi; }

void UseProgressOnlyForExtraction() { ExtractionUi = kProgressOnlyUi; }

std::string AskPassword() {
  SetupParams.EnteredPassword.clear();
  DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(IDD_VOLUME_PROMPT), nullptr, PasswordDlgProc, 0);
  return SetupParams.EnteredPassword;
}
