#include "huffman_decoder.h"

#include <cstring>

namespace cab {

bool HuffmanDecoder::Build(const uint8_t* lengths, unsigned count) {
  if (count > kMaxSymbols) return false;
  std::memset(counts_, 0, sizeof counts_);
  for (unsigned s = 0; s < count; ++s) {
    if (lengths[s] > kMaxBits) return false;
    counts_[lengths[s]]++;
  }
  counts_[0] = 0;
  int available = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    available = available * 2 - counts_[len];
    if (available < 0) return false;
  }
  empty_ = available == (1 << kMaxBits);

  uint16_t offsets[kMaxBits + 2];
  offsets[1] = 0;
  for (int len = 1; len <= kMaxBits; ++len) offsets[len + 1] = uint16_t(offsets[len] + counts_[len]);
  for (unsigned s = 0; s < count; ++s)
    if (lengths[s]) sorted_[offsets[lengths[s]]++] = uint16_t(s);

  // Direct table: canonical codes assigned in order of length, then symbol.
  std::memset(fastLength_, 0, sizeof fastLength_);
  uint32_t code = 0;
  unsigned index = 0;
  for (int len = 1; len <= kFastBits; ++len) {
    for (unsigned i = 0; i < counts_[len]; ++i, ++index, ++code) {
      uint32_t first = code << (kFastBits - len);
      uint32_t fill = 1u << (kFastBits - len);
      for (uint32_t j = 0; j < fill; ++j) {
        fastSymbol_[first + j] = sorted_[index];
        fastLength_[first + j] = uint8_t(len);
      }
    }
    code <<= 1;
  }
  return true;
}

int HuffmanDecoder::Decode(LzxBits& bits) const {
  bits.Ensure(kMaxBits);
  uint32_t top = bits.Peek(kFastBits);
  if (fastLength_[top]) {
    bits.Drop(fastLength_[top]);
    return fastSymbol_[top];
  }
  return DecodeSlow(bits);
}

// Walks the code one bit at a time past the direct table's reach.
int HuffmanDecoder::DecodeSlow(LzxBits& bits) const {
  uint32_t window = bits.Peek(kMaxBits);
  int code = 0, first = 0, index = 0;
  for (int len = 1; len <= kMaxBits; ++len) {
    code |= int((window >> (kMaxBits - len)) & 1);
    int count = counts_[len];
    if (code - first < count) {
      bits.Drop(len);
      return sorted_[index + (code - first)];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -1;
}

}  // namespace cab
