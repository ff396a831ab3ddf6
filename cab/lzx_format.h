// LZX as cabinets carry it, the facts its decoder and its encoder share: the
// alphabets, the position slots, the block types and the offsets' limits.
// Offsets are sent "formatted": 0..2 name the repeated-offset slots R0..R2,
// a real offset o is sent as o + 2.
#pragma once

#include <cstdint>

namespace cab::lzx {

constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxSlots = 50;
constexpr unsigned kMainMax = kNumChars + kMaxSlots * 8;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kAlignedSymbols = 8;
constexpr uint32_t kFrameSize = 32768;
constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;  // 2 + 7 in the main symbol + 248 in the length tree

enum BlockType : unsigned { kBlockNone = 0, kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

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

// The position slot of a formatted offset.
unsigned SlotOf(uint32_t formatted);

// The largest real offset: three short of the window, as decoders expect.
inline uint32_t MaxOffset(unsigned windowBits) { return (1u << windowBits) - 3; }

}  // namespace cab::lzx
