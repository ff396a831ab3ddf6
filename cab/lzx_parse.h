// Turns a frame's bytes into literals and matches. Each choice is weighed by
// its cost in bits under the code lengths of the block before (the current
// Huffman tables), so a short match far away loses to its literals and a
// repeated offset wins over a slightly longer new one.
#pragma once
#include <cstdint>
#include <vector>

#include "lzx_format.h"
#include "lzx_matchfinder.h"

namespace cab::lzx {

struct Item {
  uint32_t length = 0;     // 0: a literal
  uint32_t formatted = 0;  // match: 0..2 a repeated offset, else offset + 2; literal: the byte
};

// The three repeated offsets, R0 the most recent; 1 at a folder's start.
struct Repeats {
  uint32_t r[3] = {1, 1, 1};
  // The formatted offset that sends `offset`, and the slots' new order.
  uint32_t Use(uint32_t offset);
};

// Bits per symbol under the current tables.
struct CostModel {
  uint8_t main[kMainMax];
  uint8_t length[kLengthSymbols];
  CostModel();  // a guess for a folder's first block
  void FromLengths(const uint8_t* mainLengths, const uint8_t* lengthLengths);
  uint32_t MatchBits(uint32_t length, uint32_t formatted) const;
};

struct ParseOptions {
  unsigned depth = 32;       // chain candidates looked at per position
  uint32_t niceLength = 64;  // a match this long is taken at once
  bool lazy = true;          // look one position ahead before taking a match
  uint32_t maxOffset = 0;    // the window's reach
};

// Parses [start, end) of the finder's bytes; `repeats` carries on.
void ParseFrame(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                const ParseOptions& options, Repeats& repeats, std::vector<Item>& items);

}  // namespace cab::lzx
