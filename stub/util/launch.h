// Starting what the package names after extraction: programs directly,
// documents through the program associated with their type.
#pragma once
#include <string>

// Starts `file` with `params`. A file whose extension is "EXE" in any case is
// run itself, unquoted; anything else is opened as a document (quoted) by its
// associated program, or by the Windows folder's notepad.exe when it has none.
// The new process inherits the environment and the current folder. With
// `wait` the call returns only after the process has ended. False when no
// process could be created, and for an empty `file`, which starts nothing.
bool ExecuteFile(const std::string& file, const std::string& params, bool wait);
