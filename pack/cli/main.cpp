// veltra-pack: the package builder's command line.
#include <cstdio>

#include "cmdline.h"

int main(int argc, char** argv) { return RunCommandLine(argc, argv, stdout, stderr); }
