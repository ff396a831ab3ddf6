// Turns a frame's bytes into literals and matches. Each choice is weighed by
// its cost in bits under the current Huffman code lengths, so a short match
// far away loses to its literals and a repeated offset wins over a slightly
// longer new one.
//
// Three ways, by level: greedy (the best choice at each position), lazy (one
// position of look-ahead) and a near-optimal parse: the match finder's
// candidates for the whole frame are kept, and a forward pass finds the
// cheapest path through them, the repeated offsets followed along each
// position's best arrival. Later passes price the frame again by the code
// lengths that the block so far and the pass before would give.
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

// How often each symbol occurs in some items, and the offsets' extra bits:
// all that a block's size depends on besides its trees.
struct SymbolCounts {
  uint32_t main[kMainMax] = {};
  uint32_t length[kLengthSymbols] = {};
  uint32_t aligned[kAlignedSymbols] = {};  // the low three extra bits of offsets with three or more
  uint64_t extraBits = 0;                  // all extra bits, as a verbatim block sends them
  uint64_t alignedMatches = 0;             // matches whose low three bits an aligned block codes
  void Add(const std::vector<Item>& items);
  void Add(const SymbolCounts& other);
};

// Bits per symbol under some code lengths.
struct CostModel {
  uint8_t main[kMainMax];
  uint8_t length[kLengthSymbols];
  CostModel();  // a guess for a folder's first block
  void FromLengths(const uint8_t* mainLengths, const uint8_t* lengthLengths);
  // The lengths that codes built from `counts` would have.
  void FromCounts(const SymbolCounts& counts, unsigned mainElements);
  uint32_t MatchBits(uint32_t length, uint32_t formatted) const;
};

enum class ParseKind { kGreedy, kLazy, kOptimal };

struct ParseOptions {
  ParseKind kind = ParseKind::kLazy;
  unsigned passes = 1;     // near-optimal parse: passes over each frame
  uint32_t maxOffset = 0;  // the window's reach
};

class Parser {
 public:
  Parser(const ParseOptions& options, unsigned mainElements)
      : options_(options), mainElements_(mainElements) {}
  // Parses [start, end) of the finder's bytes, priced by `costs` (later
  // passes: by `block` with the pass before added); `repeats` carries on.
  void Parse(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
             const SymbolCounts& block, Repeats& repeats, std::vector<Item>& items);

 private:
  struct Node {
    uint32_t cost;
    uint32_t length;  // of the best arrival: 0 a literal
    uint32_t offset;  // of the best arrival's match
    uint32_t rep[3];  // the repeated offsets after it
  };
  void ParseLazy(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs, Repeats& repeats,
                 std::vector<Item>& items);
  void CollectCandidates(MatchFinder& finder, uint32_t start, uint32_t end);
  void ParseOptimal(const MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                    Repeats& repeats, std::vector<Item>& items);

  ParseOptions options_;
  unsigned mainElements_;
  std::vector<Match> found_;
  std::vector<Match> candidates_;
  std::vector<uint32_t> firstCandidate_;  // per frame position, into candidates_
  std::vector<Node> nodes_;
  std::vector<uint32_t> literalBits_;
  std::vector<Node*> path_;
};

}  // namespace cab::lzx
