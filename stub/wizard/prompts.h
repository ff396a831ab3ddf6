// What the wizard offers to the start-up sequence and the extraction: the
// frame, the prompts and the dialog-text helper.
#pragma once
#include <windows.h>

#include <string>

// The password prompt (template IDD_VOLUME_PROMPT): the text entered, after OK. Cancel
// ends the run after the exit question.
std::string AskPassword();
// The overwrite prompt for an existing file: true = replace it. The "to all"
// answers set OverwriteMode for the rest of the run. Unattended: false, no window.
bool AskOverwrite(const std::string& path);
// The next-volume prompt (template IDD_VOLUME_PROMPT): shows VolumeSet's
// NextDiskName, NextCabinetName and NextCabinetPath; OK stores the edited
// location in NextCabinetPath and ends the dialog with 0.
INT_PTR CALLBACK NextVolumeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The wizard frame (template IDD_FRAME).
INT_PTR CALLBACK WizardFrameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Sets a dialog item's text (item 0: the window's own caption) after
// placeholder expansion with line breaks.
void SetItemText(HWND dialog, int item, const std::string& text);
