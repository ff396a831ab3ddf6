// The placeholder tokens that package texts and stored names may hold, in
// the order the stub replaces them. The replacements are whole-text and run
// in this order, so a value that holds a later token is expanded further,
// while one that holds an earlier token keeps it. "<REG:path>" and "<br/>"
// follow these, and are not in the table: the first takes a path, the second
// only turns into a line break in texts that are shown.
//
// A folder token's value has no trailing backslash, so that scripts write
// "<WIN>\name"; "<SRC>" alone keeps its backslash and scripts write
// "<SRC>name". Stored names that hold a placeholder must begin with a folder
// token, and may hold text tokens after it.
#pragma once
#include <cstddef>

enum class PlaceholderValue {
  MinFree,       // the setup script's MinFree, in bytes
  AppName,       // the setup script's AppName
  ProgramFiles,  // the registry's ProgramFilesDir
  CommonFiles,   // the registry's CommonFilesDir
  Windows,       // the Windows folder
  System,        // the system folder
  Temp,          // the temporary folder
  Source,        // the folder of Setup.exe itself
  SystemDrive,   // the drive of the Windows folder, "C:"
  Install,       // the folder the payload is extracted to
  ShellFolder,   // a shell folder, by its CSIDL number
};

struct Placeholder {
  const char* token;
  PlaceholderValue value;
  bool namesFolder;     // may open a stored name
  bool keepsBackslash;  // the value ends in "\" ("<SRC>" only)
  int shellFolder;      // the CSIDL number for ShellFolder, else 0
};

extern const Placeholder kPlaceholders[];
extern const size_t kPlaceholderCount;
