#include "lzx_test_encoder.h"

#include <algorithm>
#include <stdexcept>

namespace fdt {

namespace {

const unsigned kFrame = 32768;

struct Slots {
  uint32_t base[51];
  uint8_t extra[51];
  Slots() {
    uint32_t b = 0;
    for (unsigned i = 0; i < 51; ++i) {
      extra[i] = uint8_t(i < 4 ? 0 : (i >= 36 ? 17 : (i - 2) / 2));
      base[i] = b;
      b += 1u << extra[i];
    }
  }
} const kSlots;

// Canonical codes: by length, then by symbol.
std::vector<uint32_t> canonical(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size());
  uint32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    for (size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] == len) codes[s] = code++;
    code <<= 1;
  }
  return codes;
}

// A complete code over n symbols: the first `shorter` get length bits - 1.
std::vector<uint8_t> flatLengths(unsigned n, unsigned shape) {
  int bits = 1;
  while ((1u << bits) < n) ++bits;
  unsigned shorter = (1u << bits) - n;  // 2*shorter + (n - shorter) == 2^bits
  std::vector<uint8_t> lengths(n, uint8_t(bits));
  for (unsigned i = 0; i < shorter; ++i) lengths[(i + shape * 37) % n] = uint8_t(bits - 1);
  return lengths;
}

}  // namespace

LzxTestEncoder::LzxTestEncoder(unsigned windowBits, uint32_t intelFileSize)
    : windowBits_(windowBits), intelFileSize_(intelFileSize) {
  unsigned slots = windowBits == 21 ? 50 : windowBits == 20 ? 42 : windowBits * 2;
  mainElements_ = 256 + slots * 8;
  mainPrev_.assign(mainElements_, 0);
  lengthPrev_.assign(249, 0);
}

void LzxTestEncoder::flushWord() {
  frame_.push_back(uint8_t(wordBits_));
  frame_.push_back(uint8_t(wordBits_ >> 8));
  wordBits_ = 0;
  wordFill_ = 0;
}

void LzxTestEncoder::bits(uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) {
    wordBits_ |= ((value >> i) & 1u) << (15 - wordFill_);
    if (++wordFill_ == 16) flushWord();
  }
}

void LzxTestEncoder::byte(uint8_t b) { frame_.push_back(b); }

// Ends a frame once the output has reached its end; a frame's bits are
// padded to a whole word.
void LzxTestEncoder::produced(uint32_t count) {
  (void)count;
  if (out_.size() - frameStart_ < kFrame) return;
  if (wordFill_) flushWord();
  frames_.push_back({frame_, uint16_t(kFrame)});
  frame_.clear();
  frameStart_ += kFrame;
}

void LzxTestEncoder::sendLengths(std::vector<uint8_t>& previous, const std::vector<uint8_t>& lengths,
                                 unsigned first, unsigned last) {
  std::vector<uint8_t> preLengths = flatLengths(20, 0);
  std::vector<uint32_t> preCodes = canonical(preLengths);
  for (unsigned i = 0; i < 20; ++i) bits(preLengths[i], 4);
  for (unsigned x = first; x < last; ++x) {
    unsigned z = (previous[x] + 17 - lengths[x]) % 17;
    bits(preCodes[z], preLengths[z]);
    previous[x] = lengths[x];
  }
}

// The stream's call-translation header comes before its first block only.
void LzxTestEncoder::sendBlockHeader() {
  if (!headerSent_) {
    bits(intelFileSize_ ? 1 : 0, 1);
    if (intelFileSize_) {
      bits(intelFileSize_ >> 16, 16);
      bits(intelFileSize_ & 0xFFFF, 16);
    }
    headerSent_ = true;
  }
  bits(unsigned(blockType_), 3);
  bits(blockLength_ >> 8, 16);
  bits(blockLength_ & 0xFF, 8);
}

void LzxTestEncoder::sendTrees(unsigned shape, bool aligned) {
  sendBlockHeader();
  if (aligned) {
    alignedLen_ = flatLengths(8, 0);
    alignedCode_ = canonical(alignedLen_);
    for (unsigned i = 0; i < 8; ++i) bits(alignedLen_[i], 3);
  }
  mainLen_ = flatLengths(mainElements_, shape);
  mainCode_ = canonical(mainLen_);
  lengthLen_ = flatLengths(249, shape);
  lengthCode_ = canonical(lengthLen_);
  sendLengths(mainPrev_, mainLen_, 0, 256);
  sendLengths(mainPrev_, mainLen_, 256, mainElements_);
  sendLengths(lengthPrev_, lengthLen_, 0, 249);
}

void LzxTestEncoder::beginVerbatim(uint32_t length, unsigned shape) {
  blockType_ = 1;
  blockLength_ = blockLeft_ = length;
  sendTrees(shape, false);
}

void LzxTestEncoder::beginAligned(uint32_t length, unsigned shape) {
  blockType_ = 2;
  blockLength_ = blockLeft_ = length;
  sendTrees(shape, true);
}

void LzxTestEncoder::alignForBytes() {
  // The decoder drops the rest of the current word, or a whole padding word
  // when the header ended on a word boundary.
  if (wordFill_ == 0)
    bits(0, 16);
  else
    flushWord();
}

void LzxTestEncoder::beginUncompressed(uint32_t length) {
  blockType_ = 3;
  blockLength_ = blockLeft_ = length;
  sendBlockHeader();
  alignForBytes();
  for (uint32_t r : r_)
    for (int i = 0; i < 4; ++i) byte(uint8_t(r >> (8 * i)));
}

void LzxTestEncoder::raw(uint8_t b) {
  if (blockType_ != 3 || blockLeft_ == 0) throw std::logic_error("raw outside an uncompressed block");
  byte(b);
  out_.push_back(b);
  if (--blockLeft_ == 0 && (blockLength_ & 1)) byte(0);
  produced(1);
}

void LzxTestEncoder::symbol(const std::vector<uint32_t>& codes, const std::vector<uint8_t>& lengths,
                            unsigned s) {
  bits(codes[s], lengths[s]);
}

void LzxTestEncoder::literal(uint8_t b) {
  if (blockType_ == 3 || blockLeft_ == 0) throw std::logic_error("literal outside a compressed block");
  symbol(mainCode_, mainLen_, b);
  out_.push_back(b);
  --blockLeft_;
  produced(1);
}

void LzxTestEncoder::matchSymbol(unsigned slot, uint32_t length) {
  if (length < 2 || length > 257 || length > blockLeft_) throw std::logic_error("bad match length");
  unsigned header = std::min<uint32_t>(length - 2, 7);
  symbol(mainCode_, mainLen_, 256 + slot * 8 + header);
  if (header == 7) symbol(lengthCode_, lengthLen_, length - 9);
}

void LzxTestEncoder::match(uint32_t offset, uint32_t length) {
  if (offset == 0 || offset > out_.size()) throw std::logic_error("bad match offset");
  uint32_t formatted = offset + 2;
  unsigned slot = 3;
  while (slot + 1 < 51 && kSlots.base[slot + 1] <= formatted) ++slot;
  matchSymbol(slot, length);
  uint32_t footer = formatted - kSlots.base[slot];
  unsigned extra = kSlots.extra[slot];
  if (blockType_ == 2 && extra >= 3) {
    bits(footer >> 3, int(extra - 3));
    symbol(alignedCode_, alignedLen_, footer & 7);
  } else {
    bits(footer, int(extra));
  }
  r_[2] = r_[1];
  r_[1] = r_[0];
  r_[0] = offset;
  for (uint32_t i = 0; i < length; ++i) out_.push_back(out_[out_.size() - offset]);
  blockLeft_ -= length;
  produced(length);
}

void LzxTestEncoder::repeatMatch(int repeat, uint32_t length) {
  matchSymbol(unsigned(repeat), length);
  uint32_t offset = r_[repeat];
  std::swap(r_[0], r_[repeat]);
  for (uint32_t i = 0; i < length; ++i) out_.push_back(out_[out_.size() - offset]);
  blockLeft_ -= length;
  produced(length);
}

std::vector<std::pair<std::vector<uint8_t>, uint16_t>> LzxTestEncoder::finish() {
  if (blockLeft_ != 0) throw std::logic_error("block not complete");
  uint32_t rest = uint32_t(out_.size()) - frameStart_;
  if (rest > 0) {
    if (wordFill_) flushWord();
    frames_.push_back({frame_, uint16_t(rest)});
  }
  return frames_;
}

}  // namespace fdt
