// What the wizard offers to the start-up sequence: the frame, the password
// prompt, the prompts and progress page that extraction reaches through
// ExtractionUi, and the dialog-text helper.
#pragma once
#include <windows.h>

#include <string>

// The password prompt (template IDD_VOLUME_PROMPT): the text entered, after OK. Cancel
// ends the run after the exit question.
std::string AskPassword();
// Fills ExtractionUi with the overwrite, next-volume and failure prompts
// and the progress page.
void UseWizardForExtraction();
// Fills ExtractionUi with the progress page alone: nothing is asked.
void UseProgressOnlyForExtraction();
// The wizard frame (template IDD_FRAME).
INT_PTR CALLBACK WizardFrameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Sets a dialog item's text (item 0: the window's own caption) after
// placeholder expansion with line breaks.
void SetItemText(HWND dialog, int item, const std::string& text);
