// Starting what the package names after extraction: programs directly,
// documents through the shell's own verb for their type.
#pragma once
#include <windows.h>

#include <string>

// A file that StartFile was asked to start.
struct StartedFile {
  bool Started = false;      // a process was created, or the shell took the file
  HANDLE Process = nullptr;  // to wait on and close; null when the shell gave none
};

// What became of ExecuteFile's file.
struct FileRun {
  bool Started = false;
  bool Ended = false;  // it was waited for to its end, and ExitCode is its exit code
  DWORD ExitCode = 0;
};

// Starts `file` with `params`. A file whose extension is "EXE" in any case is
// run itself, its path quoted and the parameters after it as they are;
// anything else (documents, ".msi", ".bat", ".cmd", ".com") goes to the shell,
// which starts it the way its type's association says, with `params` as its
// parameters. A type with no association opens in notepad.exe of `windowsDir`
// (the Windows folder, with its backslash). The new process inherits the
// environment and the current folder. Nothing starts for an empty `file`.
StartedFile StartFile(const std::string& file, const std::string& params, const std::string& windowsDir);

// Starts `file` as StartFile does; with `wait`, returns only once the process
// has ended, with its exit code. A file the shell took without giving a
// process cannot be waited for: Started without Ended.
FileRun ExecuteFile(const std::string& file, const std::string& params, const std::string& windowsDir,
                    bool wait);

// Waits for `handle` while delivering what is sent to the calling thread's
// windows: a program that broadcasts with SendMessage waits for every
// top-level window, hidden ones too.
void AwaitWithMessages(HANDLE handle);
