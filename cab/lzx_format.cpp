#include "lzx_format.h"

#include <algorithm>

namespace cab::lzx {

unsigned SlotOf(uint32_t formatted) {
  // Below 2^18 two slots share each power of two (the bit under the top one
  // picks), from there on every slot spans 2^17.
  if (formatted < 4) return formatted;
  if (formatted >= (1u << 18)) return std::min(36 + ((formatted - (1u << 18)) >> 17), kMaxSlots - 1);
  const unsigned top = 31 - unsigned(__builtin_clz(formatted));
  return 2 * top + ((formatted >> (top - 1)) & 1);
}

}  // namespace cab::lzx
