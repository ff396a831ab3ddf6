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
  if (frame && GetParent(page) == frame) FocusControl(frame, GetDlgItem(frame, kNextButton));
}

// What every page shares: the picture, the dialog font and the bold title.
void DressPage(HWND page) {
  const bool pictureColumn = IsPictureColumnPage(SetupParams.WizardPage);
  if (!pictureColumn) {
    PlaceHeaderBitmap(page);
  } else if (SetupParams.SideBitmap) {
    SendDlgItemMessageA(page, kPicture, STM_SETIMAGE, IMAGE_BITMAP,
                        reinterpret_cast<LPARAM>(SetupParams.SideBitmap));
  }
  CreateDialogFont();
  ApplyDialogFont(page);
  if (GetDlgItem(page, kTitle)) CreateTitleFont(page, kTitle, pictureColumn);
}

void InitWelcome(HWND page) {
  SetItemText(page, kTitle, Message(17));
  SetItemText(page, kSubtitle, Message(18));
  SetItemText(page, kLine1, Message(26));
  ShowWindow(GetDlgItem(page, kChoice1), SW_HIDE);
  ShowWindow(GetDlgItem(page, kChoice2), SW_HIDE);
  FocusFrameNext(page);
}

void InitLicence(HWND page) {
  SetItemText(page, kTitle, Message(19));
  SetItemText(page, kSubtitle, Message(20));
  SetItemText(page, kLine1, Message(27));
  SetWindowTextA(GetDlgItem(page, kField), SetupParams.LicenseText.c_str());
}

void InitReadme(HWND page) {
  SetItemText(page, kTitle, Message(21));
  SetItemText(page, kSubtitle, Message(22));
  SetDlgItemTextA(page, kField, SetupParams.ReadmeText.c_str());
}

void InitUnpackOptions(HWND page) {
  SetItemText(page, kTitle, Message(13));
  SetItemText(page, kSubtitle, Message(14));
  SetItemText(page, kChoice1, Message(28));
  SetItemText(page, kChoice2, Message(29));
  const int choice = SetupParams.RemoveAfter ? 1 : 2;
  CheckDlgButton(page, choice == 1 ? kChoice1 : kChoice2, BST_CHECKED);
  SetDestinationEnabled(page, choice);
  SetItemText(page, kLine2, Message(30));
  SetItemText(page, kBrowseButton, Message(12));
  SetItemText(page, kField, SetupParams.ExtractDir);
}

// A check box shown with the given message, or hidden when `shown` is clear.
void OfferChoice(HWND page, int id, bool shown, int text) {
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
  SetItemText(page, kTitle, Message(23));
  SetItemText(page, kSubtitle, Message(restart ? 25 : 24));
  SetItemText(page, kLine1, Message(restart ? 33 : 32));
  OfferChoice(page, kChoice1, !launch.empty() && !restart, 35);
  OfferChoice(page, kChoice2, !SetupParams.ReadmeFile.empty(), 36);
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
  if (control == kBand) return true;
  const int page = SetupParams.WizardPage;
  if (page == kWelcomePage) return control == kLine1;
  if (page == kCompletionPage) return control == kLine1 || control == kChoice1 || control == kChoice2;
  return false;
}

void OnUnpackCommand(HWND page, int id) {
  if (id == kBrowseButton) {
    std::string folder;
    const std::string title = ExpandPlaceholders(Message(55), true);
    if (BrowseForFolder(title, folder, page) && !folder.empty()) SetRawItemText(page, kField, folder);
  } else if (id == kChoice1) {
    SetDestinationEnabled(page, 1);
  } else if (id == kChoice2) {
    SetDestinationEnabled(page, 2);
  }
}

}  // namespace

void SetDestinationEnabled(HWND page, int choice) {
  if (choice != 1 && choice != 2) return;
  SetupParams.RemoveAfter = choice == 1;
  const BOOL enabled = choice == 2;
  for (const int id : {kField, kLine2, kBrowseButton}) EnableWindow(GetDlgItem(page, id), enabled);
}

INT_PTR CALLBACK WizardPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitPage(page);
      return FALSE;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      return PageChromeColour(control, reinterpret_cast<HDC>(wParam), WindowColoured(GetDlgCtrlID(control)));
    }
    case WM_COMMAND:
      if (SetupParams.WizardPage == kUnpackPage && HIWORD(wParam) == 0) OnUnpackCommand(page, LOWORD(wParam));
      return FALSE;
    case WM_DESTROY:
      ReleasePagePicture(page);
      return FALSE;
    default:
      return FALSE;
  }
}
