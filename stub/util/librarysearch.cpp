#include "librarysearch.h"

#include <windows.h>

bool LimitLibrarySearchToSystem() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // Looked up at run time: the loader refuses a program that imports a
  // function the system lacks, and XP has none of this.
  const auto limit = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  return limit && limit(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
