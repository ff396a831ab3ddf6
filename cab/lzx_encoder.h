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
// A reader that takes a folder's data in 4 KiB reads learns that a frame is
// the folder's last, and shorter than 32 KiB, only once it has read that
// frame's data block. Should the blocks before it end exactly on a read, it
// starts the last frame as a whole one and runs past the folder's data. So
// no whole frame may bring the folder's bytes to a multiple of 4 KiB: such a
// frame starts a block of its own instead, and failing that goes
// uncompressed, as two blocks when one would end there too.
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
  // The reads no whole frame may end the folder's bytes on; more than 16
  // (two uncompressed blocks are 16 bytes longer than one).
  uint32_t readerChunk = 4096;
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
    std::vector<uint8_t> data;  // as the block sends it, should the frame go uncompressed
    SymbolCounts counts;
    Repeats after;  // the repeated offsets after the frame's items
  };
  void WriteFolderHeader(BitWriter& out) const;
  void Hold(std::vector<Item>& items, const uint8_t* data, uint32_t size, const SymbolCounts& counts);
  size_t WriteHeldBlock(size_t first, std::vector<std::vector<uint8_t>>& payloads);
  void WriteStored(const uint8_t* data, uint32_t size, const Repeats& repeats, uint32_t frame,
                   std::vector<std::vector<uint8_t>>& payloads);
  bool EndsOnReaderChunk(uint32_t frameSize, size_t payloadSize) const;

  EncoderSettings settings_;
  unsigned mainElements_;
  MatchFinder finder_;
  Parser parser_;
  CostModel costs_;  // by the last block's trees
  TreeLengths trees_;
  Repeats repeats_;
  uint32_t frame_ = 0;      // frames taken in this folder
  size_t folderBytes_ = 0;  // payload bytes handed out in this folder
  // The block being gathered.
  std::vector<HeldFrame> held_;
  uint32_t heldFirst_ = 0;  // folder frame number of held_[0]
  SymbolCounts heldCounts_;
  CostModel heldCosts_;  // by the codes heldCounts_ would give
  std::vector<uint8_t> translated_;
  std::vector<Item> items_;
};

}  // namespace cab::lzx
