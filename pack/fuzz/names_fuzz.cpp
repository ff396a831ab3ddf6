// libFuzzer target for extract's name mapping: whatever a stored name holds,
// a name that MapExtractName accepts is a relative path of plain parts that
// cannot leave the target folder, and its escaped form is free of control
// characters.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "storednames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string stored(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  if (MapExtractName(stored, kDefaultCodePage, parts).empty()) {
    if (parts.empty()) std::abort();
    for (const std::string& part : parts) {
      if (part.empty() || part == "." || part == ".." || part.find_first_of("/\\:") != std::string::npos)
        std::abort();
    }
  }
  for (char c : TerminalText(stored)) {
    if (uint8_t(c) < 0x20 || c == 0x7F) std::abort();
  }
  return 0;
}
