// First cut of the wizard's side: the dialog-text helper and the unattended
// answers. The frame, the pages and the prompt dialogs with their templates
// replace the remaining bodies.
#include "prompts.h"

#include "exitsetup.h"
#include "placeholders.h"
#include "setupparams.h"

void SetItemText(HWND dialog, int item, const std::string& text) {
  const HWND target = item == 0 ? dialog : GetDlgItem(dialog, item);
  const std::string expanded = ExpandPlaceholders(text, true);
  SendMessageA(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(expanded.c_str()));
}

bool AskOverwrite(const std::string&) {
  // Without a window nobody can be asked: existing files are kept.
  return false;
}

std::string AskPassword() {
  // No password prompt yet: a protected package cannot be opened.
  MessageBoxA(nullptr, Message(63).c_str(), Message(1).c_str(), MB_OK | MB_ICONHAND);
  ExitSetup(2);
}

INT_PTR CALLBACK NextVolumeDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

INT_PTR CALLBACK WizardFrameProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
