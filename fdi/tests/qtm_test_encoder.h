// A small Quantum encoder for tests: an arithmetic coder over the same
// adaptive models as the decoder, one coder run per 32 KiB frame. The caller
// chooses every literal and match, so that the decoder's model rescaling and
// re-sorting, its window wrap-around and all match forms are exercised.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace fdt {

class QtmTestEncoder {
 public:
  explicit QtmTestEncoder(unsigned windowBits);
  ~QtmTestEncoder();

  void literal(uint8_t byte);
  // length 3..259; offset 1..window size.
  void match(uint32_t offset, uint32_t length);

  std::vector<std::pair<std::vector<uint8_t>, uint16_t>> finish();
  const std::vector<uint8_t>& expected() const { return out_; }

  struct Model;

 private:
  void encode(Model& m, int symbol);
  void rawBits(uint32_t value, int count);
  void coderBit(int bit);
  void endFrameIfFull();
  void endFrame(uint16_t size);
  void positionSlot(Model& m, uint32_t offset);

  unsigned windowBits_;
  Model* models_;  // literals 0-3, length3, length4, position, length, selector
  uint32_t low_ = 0, high_ = 0xFFFF;
  int pending_ = 0;
  std::vector<int> coderBits_;                    // the coder's output bits in order
  std::vector<std::pair<int, uint32_t>> events_;  // (-1, shift index) or (count, raw value)
  int shifts_ = 0;
  std::vector<uint8_t> out_;
  uint32_t frameStart_ = 0;
  std::vector<std::pair<std::vector<uint8_t>, uint16_t>> frames_;
};

}  // namespace fdt
