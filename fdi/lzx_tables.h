// The alphabets and position slots of LZX, shared by the decoder here and the
// builder's encoder.
#pragma once

#include <cstdint>

namespace lzxtables {

constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMainMax = kNumChars + kMaxSlots * 8;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kAlignedSymbols = 8;
constexpr uint32_t kFrameSize = 32768;

// Position slot i covers the formatted offsets base[i] .. base[i] + 2^extra[i] - 1.
struct SlotTables {
  uint8_t extra[kMaxSlots];
  uint32_t base[kMaxSlots];
  SlotTables() {
    uint32_t b = 0;
    for (unsigned i = 0; i < kMaxSlots; ++i) {
      extra[i] = uint8_t(i < 4 ? 0 : (i >= 36 ? 17 : (i - 2) / 2));
      base[i] = b;
      b += 1u << extra[i];
    }
  }
};
inline const SlotTables kSlots;

inline unsigned SlotsForWindow(unsigned windowBits) {
  if (windowBits == 21) return 50;
  if (windowBits == 20) return 42;
  return windowBits * 2;
}

}  // namespace lzxtables
