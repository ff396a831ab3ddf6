#include "crc32.h"

#include "byteorder.h"

namespace {

// Slicing by eight: entry[k][n] is the CRC of byte n followed by k zero
// bytes, so that eight bytes take eight independent look-ups per step.
struct CrcTables {
  uint32_t entry[8][256];
  constexpr CrcTables() : entry() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
      for (int k = 1; k < 8; ++k) entry[k][n] = entry[0][entry[k - 1][n] & 0xFF] ^ (entry[k - 1][n] >> 8);
    }
  }
};

// Made at compile time, so threads never race to fill them.
constexpr CrcTables kCrcTables;

}  // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  const auto& t = kCrcTables.entry;
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
