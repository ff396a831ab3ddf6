// The LZX encoder of the cabinet writer: one folder at a time, fed in frames
// of 32 KiB (the folder's last may be shorter), each frame turned into one
// data block's payload. Every frame is one LZX block, verbatim, aligned or
// uncompressed, whichever is smallest (but see EndsOnReaderChunk), and ends
// the bit stream on a word as cabinet readers start each data block afresh.
// The history runs on across frames for the whole folder.
//
// Memory at window 2^w: the match finder's 6 * 2^w bytes and 0.5 MiB of
// hash heads, plus a few frames' worth of working space (about 13 MiB at
// window 2^21).
#pragma once
#include <cstdint>
#include <vector>

#include "lzx_blocks.h"
#include "lzx_matchfinder.h"
#include "lzx_parse.h"

namespace cab::lzx {

struct EncoderSettings {
  unsigned windowBits = 21;  // 15..21
  int level = 6;             // 0..9: 0-3 fast, 4-6 lazy, 7-9 deeper search
  bool translateCalls = true;
};

class Encoder {
 public:
  explicit Encoder(const EncoderSettings& settings);
  // Starts a new folder: no history, fresh trees and repeated offsets.
  void StartFolder();
  // Encodes a frame of 1..32768 bytes into `payload`.
  void EncodeFrame(const uint8_t* data, uint32_t size, std::vector<uint8_t>& payload);

 private:
  void WriteFolderHeader(BitWriter& out) const;
  void EncodeCompressed(BlockType type, uint32_t size, std::vector<uint8_t>& out, TreeLengths& trees) const;
  void EncodeStored(const uint8_t* data, uint32_t size, const Repeats& repeats, bool twoBlocks,
                    std::vector<uint8_t>& payload) const;
  bool EndsOnReaderChunk(uint32_t frameSize, size_t payloadSize) const;

  EncoderSettings settings_;
  ParseOptions parse_;
  unsigned mainElements_;
  MatchFinder finder_;
  CostModel costs_;
  TreeLengths trees_;
  Repeats repeats_;
  uint32_t frame_ = 0;      // frames encoded in this folder
  size_t folderBytes_ = 0;  // payload bytes of those frames
  std::vector<uint8_t> translated_;
  std::vector<Item> items_;
};

}  // namespace cab::lzx
