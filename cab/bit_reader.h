// The bit reader of LZX and Quantum: a block's bytes taken as 16-bit words
// (little-endian for LZX, big-endian for Quantum) and read from the top bit.
// Past the end it yields zero bits and counts them, so that damaged input
// ends in an error instead of a read out of bounds. A lone last byte counts
// as the first byte of a word.
#pragma once

#include <cstdint>

namespace cab {

enum class WordOrder { LittleEndian, BigEndian };

template <WordOrder Order>
class BitReader {
 public:
  void Start(const uint8_t* data, uint32_t length) {
    pos_ = data;
    end_ = data + length;
    buffer_ = 0;
    left_ = 0;
    overrun_ = 0;
  }
  void Ensure(int count) {
    while (left_ < count) {
      uint32_t word = 0;
      if (end_ - pos_ >= 2) {
        word = Order == WordOrder::LittleEndian ? uint32_t(pos_[0]) | (uint32_t(pos_[1]) << 8)
                                                : (uint32_t(pos_[0]) << 8) | pos_[1];
        pos_ += 2;
      } else {
        if (pos_ < end_) {
          word = Order == WordOrder::LittleEndian ? *pos_ : uint32_t(*pos_) << 8;
          ++pos_;
        }
        overrun_ += 2;
      }
      buffer_ |= word << (16 - left_);
      left_ += 16;
    }
  }
  uint32_t Peek(int count) const { return buffer_ >> (32 - count); }
  void Drop(int count) {
    buffer_ <<= count;
    left_ -= count;
  }
  uint32_t Read(int count) {  // count <= 16
    if (count == 0) return 0;
    Ensure(count);
    uint32_t value = Peek(count);
    Drop(count);
    return value;
  }
  uint32_t ReadLong(int count) {  // count <= 32
    return count > 16 ? (Read(count - 16) << 16) | Read(16) : Read(count);
  }
  // Overrun beyond a few bytes of padding means the data ran out.
  bool Exhausted() const { return overrun_ > 4; }
  int BitsLeft() const { return left_; }

  // Byte access for LZX's uncompressed blocks: gives back whole buffered
  // words and forgets the rest of the current one.
  void AlignToBytes() {
    if (left_ == 0) {
      Ensure(16);  // a word of padding
    }
    int wholeWords = left_ / 16;
    if (left_ % 16 == 0 && wholeWords > 0) --wholeWords;  // the padding word itself
    pos_ -= 2 * wholeWords;
    buffer_ = 0;
    left_ = 0;
  }
  const uint8_t* BytePosition() const { return pos_; }
  uint32_t BytesLeft() const { return pos_ < end_ ? uint32_t(end_ - pos_) : 0; }
  void AdvanceBytes(uint32_t count) { pos_ += count; }

 private:
  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint32_t buffer_ = 0;
  int left_ = 0;
  uint32_t overrun_ = 0;
};

using LzxBits = BitReader<WordOrder::LittleEndian>;
using QtmBits = BitReader<WordOrder::BigEndian>;

}  // namespace cab
