#include "crc32.h"

#include <atomic>

#include "byteorder.h"

namespace {

// Slicing by eight: Tables[k][n] is the CRC of byte n followed by k zero
// bytes, so that eight bytes take eight independent look-ups per step. Filled
// on first use rather than at compile time: 8 KiB of zero-initialised data
// costs the stub nothing on disk, 8 KiB of constants would. Every filler
// writes the same values, and Ready is published only after a fill is whole.
uint32_t Tables[8][256];
std::atomic<bool> Ready{false};

void FillTables() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    Tables[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (int k = 1; k < 8; ++k) Tables[k][n] = Tables[0][Tables[k - 1][n] & 0xFF] ^ (Tables[k - 1][n] >> 8);
  }
  Ready.store(true, std::memory_order_release);
}

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  if (!Ready.load(std::memory_order_acquire)) FillTables();
  const auto& t = Tables;
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (; size >= 8; data += 8, size -= 8) {
    const uint32_t low = c ^ ReadLe32(data);
    const uint32_t high = ReadLe32(data + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; ++data, --size) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}
