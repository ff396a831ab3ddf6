// libFuzzer target for the project file's INI reader: any text parses to
// sections and entries (with problems for what it skips) without crashing.
#include <cstdint>
#include <string>
#include <vector>

#include "inifile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<IniProblem> problems;
  ParseIni(std::string(reinterpret_cast<const char*>(data), size), problems);
  return 0;
}
