// Entry point of the stub. It takes no command-line options: all it needs
// comes from the package appended to its own file.
#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  RunSetup();
  return 0;
}
