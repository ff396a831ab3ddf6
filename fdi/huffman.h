// Canonical Huffman decoding for LZX, most significant bit first: a direct
// table for codes up to kFastBits long and a walk by code length for the
// rest. Incomplete codes are accepted (an unused code is an error only when
// it shows up in the data); over-subscribed ones are refused.
#ifndef VELTRA_FDI_HUFFMAN_H
#define VELTRA_FDI_HUFFMAN_H

#include <cstdint>

namespace fdi {

// Bits of one LZX block in 16-bit little-endian words, read from the top.
// Past the end it yields zero bits and counts them, so that damaged input
// ends in an error instead of a read out of bounds.
class LzxBits {
public:
    void start(const uint8_t* data, uint32_t length) {
        pos_ = data;
        end_ = data + length;
        buffer_ = 0;
        left_ = 0;
        overrun_ = 0;
    }
    void ensure(int count) {
        while (left_ < count) {
            uint32_t word = 0;
            if (end_ - pos_ >= 2) {
                word = uint32_t(pos_[0]) | (uint32_t(pos_[1]) << 8);
                pos_ += 2;
            } else {
                if (pos_ < end_) word = *pos_++;
                overrun_ += 2;
            }
            buffer_ |= word << (16 - left_);
            left_ += 16;
        }
    }
    uint32_t peek(int count) const { return buffer_ >> (32 - count); }
    void drop(int count) {
        buffer_ <<= count;
        left_ -= count;
    }
    uint32_t read(int count) {
        if (count == 0) return 0;
        ensure(count);
        uint32_t value = peek(count);
        drop(count);
        return value;
    }
    // Overrun beyond a few bytes of padding means the data ran out.
    bool exhausted() const { return overrun_ > 4; }
    int bitsLeft() const { return left_; }

    // Byte access for uncompressed blocks: gives back whole buffered words
    // and forgets the rest of the current one.
    void alignToBytes() {
        if (left_ == 0) {
            ensure(16);  // a word of padding
        }
        int wholeWords = left_ / 16;
        if (left_ % 16 == 0 && wholeWords > 0) --wholeWords;  // the padding word itself
        pos_ -= 2 * wholeWords;
        buffer_ = 0;
        left_ = 0;
    }
    const uint8_t* bytePosition() const { return pos_; }
    uint32_t bytesLeft() const { return pos_ < end_ ? uint32_t(end_ - pos_) : 0; }
    void advanceBytes(uint32_t count) { pos_ += count; }

private:
    const uint8_t* pos_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint32_t buffer_ = 0;
    int left_ = 0;
    uint32_t overrun_ = 0;
};

class Huffman {
public:
    static constexpr int kFastBits = 10;
    static constexpr int kMaxBits = 16;
    static constexpr unsigned kMaxSymbols = 656;

    // False when the lengths over-subscribe the code space.
    bool build(const uint8_t* lengths, unsigned count);
    bool empty() const { return empty_; }
    // The next symbol, or -1 for a code that no symbol has.
    int decode(LzxBits& bits) const;

private:
    int decodeSlow(LzxBits& bits) const;

    uint16_t fastSymbol_[1 << kFastBits];
    uint8_t fastLength_[1 << kFastBits];
    uint16_t counts_[kMaxBits + 1];
    uint16_t sorted_[kMaxSymbols];
    bool empty_ = true;
};

}  // namespace fdi

#endif
