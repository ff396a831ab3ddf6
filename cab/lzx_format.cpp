#include "lzx_format.h"

namespace cab::lzx {

unsigned SlotOf(uint32_t formatted) {
  unsigned lo = 0, hi = kMaxSlots - 1;
  while (lo < hi) {  // the last slot whose base is <= formatted
    unsigned mid = (lo + hi + 1) / 2;
    if (kSlots.base[mid] <= formatted)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

}  // namespace cab::lzx
