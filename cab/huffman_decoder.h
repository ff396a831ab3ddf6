// Canonical HuffmanDecoder decoding for LZX, most significant bit first: a direct
// table for codes up to kFastBits long and a walk by code length for the
// rest. Incomplete codes are accepted (an unused code is an error only when
// it shows up in the data); over-subscribed ones are refused. Bits come from
// LzxBits (bitreader.h).
#pragma once

#include <cstdint>

#include "bit_reader.h"

namespace cab {

class HuffmanDecoder {
 public:
  static constexpr int kFastBits = 10;
  static constexpr int kMaxBits = 16;
  static constexpr unsigned kMaxSymbols = 656;

  // False when the lengths over-subscribe the code space.
  bool Build(const uint8_t* lengths, unsigned count);
  bool Empty() const { return empty_; }
  // The next symbol, or -1 for a code that no symbol has.
  int Decode(LzxBits& bits) const;

 private:
  int DecodeSlow(LzxBits& bits) const;

  uint16_t fastSymbol_[1 << kFastBits];
  uint8_t fastLength_[1 << kFastBits];
  uint16_t counts_[kMaxBits + 1];
  uint16_t sorted_[kMaxSymbols];
  bool empty_ = true;
};

}  // namespace cab
