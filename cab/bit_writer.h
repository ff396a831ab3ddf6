// The bit writer of LZX: bits packed from the top of 16-bit little-endian
// words, the order in which BitReader (bit_reader.h) takes them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace cab {

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

}  // namespace cab
