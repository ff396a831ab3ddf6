// The one way out of the stub, and the fatal-error box.
#pragma once
#include <string>

// Releases the cabinet library, removes WorkDir with everything in it, deletes
// the GDI objects and ends the process with `code`, from any thread.
[[noreturn]] void ExitSetup(unsigned code);

// Shows message 60, a line break and `text` (nothing in unattended mode),
// removes ExtractDir if it is still empty, and returns true. The caller then
// calls ExitSetup with its code.
bool ShowSetupError(const std::string& text);

void RemoveWorkDir();
void RemoveUnpackDir();
// Deletes `folder` and everything below it; read-only files too.
void RemoveFolderTree(const std::string& folder);
