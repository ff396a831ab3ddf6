#include "lzx_e8.h"

namespace cab::lzx {

void TranslateCalls(uint8_t* data, uint32_t size, uint32_t position, uint32_t frame,
                    int32_t translationSize) {
  if (frame >= 32768 || size <= 10) return;
  for (uint32_t i = 0; i < size - 10;) {
    if (data[i] != 0xE8) {
      ++i;
      continue;
    }
    uint8_t* p = data + i + 1;
    const int64_t relative =
        int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24));
    const int64_t current = int64_t(position) + i;
    if (relative >= -current && relative < translationSize) {
      const int64_t absolute =
          relative < translationSize - current ? relative + current : relative - translationSize;
      const uint32_t v = uint32_t(int32_t(absolute));
      for (int b = 0; b < 4; ++b) p[b] = uint8_t(v >> (8 * b));
    }
    i += 5;
  }
}

}  // namespace cab::lzx
