// The command line of veltra-pack: subcommands, their options and help,
// parsed with CLI11 and handed to the commands of commands.h.
#pragma once
#include <cstdio>

// Runs veltra-pack on `argv` and returns the process exit code: 0 done,
// 1 failed, 2 wrong usage.
int RunCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err);
