// libFuzzer target for the PE reader behind block 3's checksum: the facts
// read from any input lie inside it, and a checksum written is read back.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pechecksum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PeImageFacts facts;
  if (!ReadPeImageFacts(data, size, facts)) return 0;
  if (facts.checksumOffset + 4 > size) std::abort();
  std::vector<uint8_t> image(data, data + size);
  PeImageFacts after;
  if (WritePeChecksum(image.data(), image.size()) &&
      (!ReadPeImageFacts(image.data(), image.size(), after) ||
       after.storedChecksum != ComputePeChecksum(image.data(), image.size(), after.checksumOffset)))
    std::abort();
  return 0;
}
