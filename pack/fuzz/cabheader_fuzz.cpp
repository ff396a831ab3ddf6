// libFuzzer target for the reader of a given cabinet's header (`Cabinet =`
// in a project): the input is the cabinet file. Every size the header
// declares must be checked before it is used, so the read never asks for
// more than the file holds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cabinspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  const CabHeadReader read = [&file](size_t limit, std::string& bytes) {
    if (limit > file.size()) std::abort();  // asked for more than the header was checked against
    bytes = file.substr(0, limit);
    return true;
  };
  CabHeaderSummary summary;
  std::string error;
  if (ReadCabHeaderSummary(read, file.size(), "fuzz.cab", summary, error)) CheckFileOrder(summary);
  return 0;
}
