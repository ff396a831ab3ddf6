// libFuzzer target: the input is a cabinet, optionally followed by a marker
// and a second cabinet that serves as whatever volume the first one asks
// for. Runs FDIIsCabinet and FDICopy (with the follow-up runs a setup stub
// makes) over in-memory callbacks; the sanitizers catch what goes wrong.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "test_support.h"

namespace fdt {
FdiApi linkedApi() { return FdiApi{FDICreate, FDIIsCabinet, FDICopy, FDIDestroy}; }
}  // namespace fdt

using namespace fdt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kMarker[4] = {0xff, 0xfe, 0xfd, 0xfc};
  const uint8_t* split = nullptr;
  for (size_t i = 0; i + 4 <= size && !split; ++i)
    if (std::memcmp(data + i, kMarker, 4) == 0) split = data + i;
  Blob first(data, split ? split : data + size);
  Blob second = split ? Blob(split + 4, data + size) : Blob();

  resetFs();
  addFile("f.cab", first);
  ERF erf{};
  HFDI hfdi = createContext(erf);
  if (!hfdi) return 0;
  FDICABINETINFO info{};
  intptr_t hf = openForRead("f.cab");
  FDIIsCabinet(hfdi, hf, &info);
  closeHandle(hf);

  Handler h;
  h.onNext = [&](Event& e, PFDINOTIFICATION) -> intptr_t {
    std::string name = e.psz3 + e.psz1;
    if (!fs().files.count(name)) addFile(name, second);
    return 0;
  };
  copySet(hfdi, "f.cab", h, 4);
  if (erf.fError && (erf.erfOper < 0 || erf.erfOper > FDIERROR_USER_ABORT)) __builtin_trap();
  FDIDestroy(hfdi);
  if (openHandleCount() != 0 || fs().allocations != 0) __builtin_trap();
  return 0;
}
