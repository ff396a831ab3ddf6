// The administrator's switches on Setup.exe's command line, read into
// SetupParams.Switches. Without any the run is the one the package describes.
#pragma once
#include <string>

// Fills SetupParams.Switches from a whole command line as Windows gives it
// (the program's name first, possibly quoted).
void ParseSwitches(const char* commandLine);

// The next argument of `line`, with quotes removed (a quote anywhere toggles
// whether blanks end it); `line` moves past it.
std::string NextArgument(const char*& line);
