#include "lzx_format.h"

namespace lzx {

Slots::Slots() {
  uint32_t b = 0;
  for (unsigned i = 0; i < kMaxSlots; ++i) {
    extra[i] = uint8_t(i < 4 ? 0 : (i >= 36 ? 17 : (i - 2) / 2));
    base[i] = b;
    b += 1u << extra[i];
  }
}

unsigned Slots::SlotOf(uint32_t formatted) const {
  unsigned lo = 0, hi = kMaxSlots - 1;
  while (lo < hi) {  // the last slot whose base is <= formatted
    unsigned mid = (lo + hi + 1) / 2;
    if (base[mid] <= formatted)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

const Slots kSlots;

}  // namespace lzx
