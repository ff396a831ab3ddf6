// Constants of the LZX format as cabinets carry it, shared by the parts of
// the encoder: symbol alphabets, position slots, and the bit writer whose
// 16-bit little-endian words the decoder reads from the top bit.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzx_tables.h"

namespace lzx {

using lzxtables::kAlignedSymbols;
using lzxtables::kFrameSize;
using lzxtables::kLengthSymbols;
using lzxtables::kMainMax;
using lzxtables::kMaxSlots;
using lzxtables::kNumChars;
using lzxtables::kPretreeSymbols;
using lzxtables::kSlots;
using lzxtables::SlotsForWindow;

constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;  // 2 + 7 in the main symbol + 248 in the length tree

enum BlockType : unsigned { kVerbatim = 1, kAligned = 2, kUncompressed = 3 };

// Offsets are sent "formatted": 0..2 name the repeated-offset slots R0..R2,
// a real offset o is sent as o + 2. The position slot of a formatted offset:
unsigned SlotOf(uint32_t formatted);

// The largest real offset: three short of the window, as decoders expect.
inline uint32_t MaxOffset(unsigned windowBits) { return (1u << windowBits) - 3; }

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  void Put(uint32_t value, unsigned count) {  // count <= 24
    if (count == 0) return;
    acc_ = (acc_ << count) | (value & ((1u << count) - 1));
    pending_ += count;
    while (pending_ >= 16) {
      pending_ -= 16;
      uint32_t word = uint32_t(acc_ >> pending_) & 0xFFFF;
      out_.push_back(uint8_t(word));
      out_.push_back(uint8_t(word >> 8));
    }
  }
  // Pads the last word with zero bits.
  void Flush() {
    if (pending_) Put(0, 16 - pending_);
  }
  // What an uncompressed block needs before its bytes: the rest of the word,
  // or a whole word of padding when already at a word's start.
  void AlignForBytes() { Put(0, 16 - pending_); }
  size_t BitCount() const { return out_.size() * 8 + pending_; }

 private:
  std::vector<uint8_t>& out_;
  uint64_t acc_ = 0;
  unsigned pending_ = 0;
};

}  // namespace lzx
