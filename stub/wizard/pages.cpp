// The pages without a worker: welcome, licence, readme, unpack options and
// the completion page. One procedure serves them all and tells them apart
// by WizardPage.
#include <windows.h>

#include "dialoghelpers.h"
#include "placeholders.h"
#include "prompts.h"
#include "setupparams.h"
#include "wizard.h"

namespace {

// LaunchFile naming no program but asking for a restart.
const char kRestartMarker[] = "<>";

bool IsPictureColumnPage(int page) { return page == kWelcomePage || page == kCompletionPage; }

void FocusFrameNext(HWND page) {
  const HWND frame = SetupParams.MainWindow;
  if (frame && GetParent(page) == frame) FocusControl(frame, GetDlgItem(frame, IDC_NEXT_BUTTON));
}

// What every page shares: the picture, the dialog font and the bold title.
void DressPage(HWND page) {
  const bool pictureColumn = IsPictureColumnPage(SetupParams.WizardPage);
  if (!pictureColumn) {
    PlaceHeaderBitmap(page);
  } else if (SetupParams.SideBitmap) {
    SendDlgItemMessageA(page, IDC_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(SetupParams.SideBitmap));
  }
  CreateDialogFont();
  ApplyDialogFont(page);
  if (GetDlgItem(page, IDC_TITLE)) CreateTitleFont(page, IDC_TITLE, pictureColumn);
}

void InitWelcome(HWND page) {
  SetItemText(page, IDC_TITLE, Message(kMsgWelcomeTitle));
  SetItemText(page, IDC_SUBTITLE, Message(kMsgWelcomeText));
  SetItemText(page, IDC_LINE1, Message(kMsgClickNext));
  ShowWindow(GetDlgItem(page, IDC_CHOICE1), SW_HIDE);
  ShowWindow(GetDlgItem(page, IDC_CHOICE2), SW_HIDE);
  FocusFrameNext(page);
}

void InitLicence(HWND page) {
  SetItemText(page, IDC_TITLE, Message(kMsgLicenceTitle));
  SetItemText(page, IDC_SUBTITLE, Message(kMsgLicenceSubtitle));
  SetItemText(page, IDC_LINE1, Message(kMsgLicenceQuestion));
  SetWindowTextA(GetDlgItem(page, IDC_FIELD), SetupParams.LicenseText.c_str());
}

void InitReadme(HWND page) {
  SetItemText(page, IDC_TITLE, Message(kMsgReadmeTitle));
  SetItemText(page, IDC_SUBTITLE, Message(kMsgReadmeSubtitle));
  SetDlgItemTextA(page, IDC_FIELD, SetupParams.ReadmeText.c_str());
}

void InitUnpackOptions(HWND page) {
  SetItemText(page, IDC_TITLE, Message(kMsgRemoveFilesTitle));
  SetItemText(page, IDC_SUBTITLE, Message(kMsgRemoveFilesQuestion));
  SetItemText(page, IDC_CHOICE1, Message(kMsgUnpackToTemp));
  SetItemText(page, IDC_CHOICE2, Message(kMsgUnpackToFolder));
  const int choice = SetupParams.RemoveAfter ? 1 : 2;
  CheckDlgButton(page, choice == 1 ? IDC_CHOICE1 : IDC_CHOICE2, BST_CHECKED);
  SetDestinationEnabled(page, choice);
  SetItemText(page, IDC_LINE2, Message(kMsgDestinationLabel));
  SetItemText(page, IDC_BROWSE_BUTTON, Message(kMsgBrowse));
  SetItemText(page, IDC_FIELD, SetupParams.ExtractDir);
}

// A check box shown with the given message, or hidden when `shown` is clear.
void OfferChoice(HWND page, int id, bool shown, LangMessage text) {
  ShowWindow(GetDlgItem(page, id), shown ? SW_SHOW : SW_HIDE);
  if (shown) SetItemText(page, id, Message(text));
  CheckDlgButton(page, id, BST_UNCHECKED);
}

// The last page, after the worker has finished. The stub restarts nothing:
// when LaunchFile asks for a restart, the page says so and leaves it to the
// person.
void InitCompletion(HWND page) {
  const std::string& launch = SetupParams.LaunchFile;
  const bool restart = launch == kRestartMarker;
  SetItemText(page, IDC_TITLE, Message(kMsgCompletionTitle));
  SetItemText(page, IDC_SUBTITLE, Message(restart ? kMsgCompletionRestartText : kMsgCompletionText));
  SetItemText(page, IDC_LINE1, Message(restart ? kMsgRemoveDisksFinish : kMsgClickFinish));
  OfferChoice(page, IDC_CHOICE1, !launch.empty() && !restart, kMsgLaunchNowChoice);
  OfferChoice(page, IDC_CHOICE2, !SetupParams.ReadmeFile.empty(), kMsgViewReadmeChoice);
  FocusFrameNext(page);
}

void InitPage(HWND page) {
  DressPage(page);
  switch (SetupParams.WizardPage) {
    case kWelcomePage: InitWelcome(page); break;
    case kLicencePage: InitLicence(page); break;
    case kReadmePage: InitReadme(page); break;
    case kUnpackPage: InitUnpackOptions(page); break;
    case kCompletionPage: InitCompletion(page); break;
    default: break;
  }
}

bool WindowColoured(int control) {
  if (control == IDC_BAND) return true;
  const int page = SetupParams.WizardPage;
  if (page == kWelcomePage) return control == IDC_LINE1;
  if (page == kCompletionPage)
    return control == IDC_LINE1 || control == IDC_CHOICE1 || control == IDC_CHOICE2;
  return false;
}

void OnUnpackCommand(HWND page, int id) {
  if (id == IDC_BROWSE_BUTTON) {
    std::string folder;
    const std::string title = ExpandPlaceholders(Message(kMsgBrowseFolderPrompt), true);
    if (BrowseForFolder(title, folder, page) && !folder.empty()) SetRawItemText(page, IDC_FIELD, folder);
  } else if (id == IDC_CHOICE1) {
    SetDestinationEnabled(page, 1);
  } else if (id == IDC_CHOICE2) {
    SetDestinationEnabled(page, 2);
  }
}

}  // namespace

void SetDestinationEnabled(HWND page, int choice) {
  if (choice != 1 && choice != 2) return;
  SetupParams.RemoveAfter = choice == 1;
  const BOOL enabled = choice == 2;
  for (const int id : {IDC_FIELD, IDC_LINE2, IDC_BROWSE_BUTTON}) EnableWindow(GetDlgItem(page, id), enabled);
}

INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: InitPage(page); return FALSE;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      return PageChromeColour(control, reinterpret_cast<HDC>(wParam), WindowColoured(GetDlgCtrlID(control)));
    }
    case WM_COMMAND:
      if (SetupParams.WizardPage == kUnpackPage && HIWORD(wParam) == 0) OnUnpackCommand(page, LOWORD(wParam));
      return FALSE;
    case WM_DESTROY: ReleasePagePicture(page); return FALSE;
    default: return FALSE;
  }
}
