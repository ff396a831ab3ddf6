// A small LZX encoder for tests: the caller chooses every block, literal and
// match, so that the decoder's rarer paths (aligned offsets, uncompressed
// blocks across frames, repeated offsets, matches past a frame's end, call
// translation) are exercised with data whose expected output is known.
// Trees are complete codes of fixed shape, sent as differences from the
// previous block's lengths as the format requires.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace fdt {

class LzxTestEncoder {
 public:
  // windowBits 15..21; intelFileSize 0 leaves call translation off.
  LzxTestEncoder(unsigned windowBits, uint32_t intelFileSize);

  // shape varies which symbols get the shorter codes, so lengths change.
  void beginVerbatim(uint32_t length, unsigned shape = 0);
  void beginAligned(uint32_t length, unsigned shape = 0);
  void beginUncompressed(uint32_t length);

  void literal(uint8_t byte);
  // A match at a new offset, or at one of the repeated offsets (repeat 0..2).
  void match(uint32_t offset, uint32_t length);
  void repeatMatch(int repeat, uint32_t length);
  void raw(uint8_t byte);  // inside an uncompressed block

  // The data blocks (payload, uncompressed size), one per 32 KiB frame.
  std::vector<std::pair<std::vector<uint8_t>, uint16_t>> finish();
  // What the decoder must produce (before call translation).
  const std::vector<uint8_t>& expected() const { return out_; }
  uint32_t r0() const { return r_[0]; }

 private:
  void bits(uint32_t value, int count);
  void alignForBytes();
  void sendBlockHeader();
  void byte(uint8_t b);
  void flushWord();
  void sendTrees(unsigned shape, bool aligned);
  void sendLengths(std::vector<uint8_t>& previous, const std::vector<uint8_t>& lengths, unsigned first,
                   unsigned last);
  void symbol(const std::vector<uint32_t>& codes, const std::vector<uint8_t>& lengths, unsigned s);
  void produced(uint32_t count);
  void matchSymbol(unsigned slot, uint32_t length);

  unsigned windowBits_;
  uint32_t intelFileSize_;
  unsigned mainElements_;
  std::vector<uint8_t> frame_;
  std::vector<std::pair<std::vector<uint8_t>, uint16_t>> frames_;
  uint32_t wordBits_ = 0;
  int wordFill_ = 0;
  std::vector<uint8_t> out_;
  uint32_t frameStart_ = 0;
  bool headerSent_ = false;
  int blockType_ = 0;
  uint32_t blockLeft_ = 0;
  uint32_t blockLength_ = 0;
  uint32_t r_[3] = {1, 1, 1};
  std::vector<uint8_t> mainPrev_, lengthPrev_;
  std::vector<uint8_t> mainLen_, lengthLen_, alignedLen_;
  std::vector<uint32_t> mainCode_, lengthCode_, alignedCode_;
};

}  // namespace fdt
