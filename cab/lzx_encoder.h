// The LZX encoder of the cabinet writer: one folder at a time, fed in frames
// of 32 KiB (the folder's last may be shorter), each frame becoming one data
// block's payload. A frame is parsed as it comes; frames are then gathered
// into one verbatim or aligned block while sharing its trees costs fewer
// bits than starting a block of their own (trees cost about a hundred bytes),
// up to maxBlockFrames; a frame that would not shrink goes as an
// uncompressed block of its own. Each frame's bits end on a word, as cabinet
// readers start each data block afresh. The history runs on across frames
// for the whole folder.
//
// Memory at window 2^w: the match finder's 10 * 2^w bytes and 1 MiB of tree
// roots; the held frames' items (at most 8 bytes per byte held, less as
// matches are found) and, for the near-optimal parse of levels 7-9, a frame's
// candidates and path (up to about 3 MiB).
#pragma once
#include <cstdint>
#include <vector>

#include "lzx_blocks.h"
#include "lzx_matchfinder.h"
#include "lzx_parse.h"

namespace cab::lzx {

struct EncoderSettings {
  unsigned windowBits = 21;  // 15..21
  int level = 6;             // 0..9: 0-2 greedy, 3-4 lazy, 5-9 near-optimal, deeper as they rise
  bool translateCalls = true;
  unsigned maxBlockFrames = 32;  // 1: every frame a block of its own, handed out at once
};

class Encoder {
 public:
  explicit Encoder(const EncoderSettings& settings);
  // Starts a new folder: no history, fresh trees and repeated offsets.
  void StartFolder();
  // Takes the folder's next frame of 1..32768 bytes and appends to
  // `payloads` those of the frames taken so far whose block is complete, in
  // order, one per frame.
  void EncodeFrame(const uint8_t* data, uint32_t size, std::vector<std::vector<uint8_t>>& payloads);
  // Ends the block being gathered: appends the payloads still held.
  void Finish(std::vector<std::vector<uint8_t>>& payloads);
  // Frames taken whose payloads are still held.
  size_t Held() const { return held_.size(); }

 private:
  struct HeldFrame {
    std::vector<Item> items;
    uint32_t size = 0;
  };
  void WriteFolderHeader(BitWriter& out) const;
  void Hold(std::vector<Item>& items, uint32_t size, const SymbolCounts& counts);
  void WriteStored(const uint8_t* data, uint32_t size, const Repeats& repeats,
                   std::vector<std::vector<uint8_t>>& payloads);

  EncoderSettings settings_;
  unsigned mainElements_;
  MatchFinder finder_;
  Parser parser_;
  CostModel costs_;  // by the last block's trees
  TreeLengths trees_;
  Repeats repeats_;
  uint32_t frame_ = 0;  // frames taken in this folder
  // The block being gathered.
  std::vector<HeldFrame> held_;
  uint32_t heldFirst_ = 0;  // folder frame number of held_[0]
  SymbolCounts heldCounts_;
  CostModel heldCosts_;  // by the codes heldCounts_ would give
  std::vector<uint8_t> translated_;
  std::vector<Item> items_;
};

}  // namespace cab::lzx
