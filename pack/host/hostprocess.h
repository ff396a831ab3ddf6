// Running another program from the builder (osslsigncode), on Linux and
// Windows alike.
#pragma once
#include <string>
#include <vector>

// Runs a program found on PATH with `args` (args[0] is the program); `input`
// is fed to its standard input, and its standard output and error come back
// together in `output`. On Linux the program runs in a session of its own,
// without a controlling terminal, so it cannot stop to prompt. Returns its
// exit code, or -1 when it could not be started (`output` then says why).
int RunHostProgram(const std::vector<std::string>& args, const std::string& input, std::string& output);
