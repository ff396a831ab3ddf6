// libFuzzer target for SZDD expansion (block 3 of a package): the output
// stays within the bound the header file promises, whatever the input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "szdd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  const SzddStatus status = SzddExpand(data, size, out);
  if (out.size() > size * 9 + 16) std::abort();
  SzddHeader header;
  if (status == SzddStatus::Ok &&
      (!ReadSzddHeader(data, size, header) || out.size() != header.expandedLength))
    std::abort();
  return 0;
}
