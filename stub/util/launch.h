// Starting what the package names after extraction: programs directly,
// documents through the program associated with their type.
#pragma once
#include <windows.h>

#include <string>

// Starts `file` with `params`. A file whose extension is "EXE" in any case is
// run itself, unquoted; anything else is opened as a document (quoted) by its
// associated program, or by notepad.exe in `windowsDir` (the Windows folder,
// with its backslash) when it has none.
// The new process inherits the environment and the current folder. With
// `wait` the call returns only after the process has ended. False when no
// process could be created, and for an empty `file`, which starts nothing.
bool ExecuteFile(const std::string& file, const std::string& params, const std::string& windowsDir,
                 bool wait);

// Starts `file` with `params` as ExecuteFile does and returns the process's
// handle for the caller to wait on and close; null when nothing was started.
HANDLE StartFile(const std::string& file, const std::string& params, const std::string& windowsDir);
