// The start-up sequence: one named step after the other, on the main thread.
// Every step that cannot go on ends the process through ExitSetup.
#pragma once

void ReadCommandLine();  // fills SetupParams.Switches; ends the run on a wrong switch
void InitRunState();
void LearnFolders();
void CheckPackage();
void MakeWorkDir();
void LoadLanguageText();
// Stops (or asks) when the package was made for another ANSI code page.
void CheckCodePage();
void PrepareInfoCabinet();
void ExtractInfoCabinet();
void LoadPictures();
void ReadScript();
void ApplySwitches();  // the command line's folders and quietness over the script's
void LogRunMode();
void ExpandCaption();
void AskStartQuestion();
[[noreturn]] void RunUnattended();
// The frame with its progress page alone, for /passive: nothing to click on
// the way, Cancel as on the wizard's progress page, no completion page.
[[noreturn]] void RunProgressOnly();
[[noreturn]] void RunWizard();
void RunSetup();  // the whole sequence
