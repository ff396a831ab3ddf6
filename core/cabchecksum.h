// The cabinet data-block checksum, shared by cab's writer and its
// reader: XOR of little-endian 32-bit words; the 1 to 3 bytes left over are
// taken first-byte-highest. A CFDATA checksum is this over the data, then
// over the header's cbData and cbUncomp with the first result as the seed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "byteorder.h"

inline uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  for (size_t words = size / 4; words > 0; --words, data += 4) sum ^= ReadLe32(data);
  uint32_t rest = 0;
  switch (size & 3) {
    case 3: rest = uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]; break;
    case 2: rest = uint32_t(data[0]) << 8 | data[1]; break;
    case 1: rest = data[0]; break;
  }
  return sum ^ rest;
}
