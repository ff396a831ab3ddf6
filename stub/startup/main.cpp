// Entry point of the stub. All it installs comes from the package appended to
// its own file; the command line's switches only choose how (see switches.h).
#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RunSetup();
  return 0;
}
