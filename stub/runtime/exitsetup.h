// The one way out of the stub, and the fatal-error box.
#pragma once
#include <string>

// The process exit codes.
enum ExitCode : unsigned {
  kExitDone = 0,       // the run finished, or the person confirmed leaving a prompt or the wizard
  kExitFailed = 1,     // a failure
  kExitStopped = 2,    // the start-up question or the overwrite prompt was cancelled, a cabinet
                       // was not recognised, a follow-up volume is missing when unattended, or
                       // the package was made for another ANSI code page (refused or unattended)
  kExitBadScript = 4,  // the setup script was unreadable
  // The program to run after extraction could not be started. A run that
  // waited for its program to end ends with that program's own code instead.
  kExitNotStarted = 5,
  // A switch on the command line that Setup.exe does not know, or a folder
  // switch without its folder (ERROR_INVALID_PARAMETER's number).
  kExitBadSwitch = 87,
};

// Set by extraction once it begins: what a run that ends now must undo
// first (the file being written, and the unpack folder). Empty before.
extern void (*ExitCleanup)();

// Runs ExitCleanup, releases the cabinet library, removes WorkDir with
// everything in it and deletes the GDI objects: all of ExitSetup but the end
// of the process.
void ReleaseRun();

// Releases the cabinet library, removes WorkDir with everything in it, deletes
// the GDI objects and ends the process with `code`, from any thread.
[[noreturn]] void ExitSetup(ExitCode code);

// Shows kMsgCannotContinue, a line break and `text` (nothing in unattended mode),
// removes ExtractDir if it is still empty, and returns true. The caller then
// calls ExitSetup with its code.
bool ShowSetupError(const std::string& text);

void RemoveWorkDir();
void RemoveUnpackDir();
// Deletes `folder` and everything below it; read-only files too.
void RemoveFolderTree(const std::string& folder);
