#include "lzx_encoder.h"

#include <algorithm>

#include "lzx_e8.h"

namespace cab::lzx {

namespace {

// A reader that takes a folder's data in 4 KiB reads learns that a frame is
// the folder's last, and shorter than 32 KiB, only once it has read that
// frame's data block. Should the blocks before it end exactly on a read, it
// starts the last frame as a whole one and runs past the folder's data. So
// no whole frame may bring the folder's bytes to a multiple of 4 KiB (nor,
// with that, of any larger power of two).
constexpr size_t kReaderChunk = 4096;

ParseOptions OptionsForLevel(int level, unsigned windowBits) {
  ParseOptions o;
  o.maxOffset = MaxOffset(windowBits);
  if (level <= 3) {
    o.depth = 8;
    o.niceLength = 32;
    o.lazy = false;
  } else if (level <= 6) {
    o.depth = 32;
    o.niceLength = 96;
  } else {
    o.depth = 256;
    o.niceLength = kMaxMatch;
  }
  return o;
}

}  // namespace

Encoder::Encoder(const EncoderSettings& settings)
    : settings_(settings),
      parse_(OptionsForLevel(settings.level, settings.windowBits)),
      mainElements_(kNumChars + SlotsForWindow(settings.windowBits) * 8),
      finder_(settings.windowBits) {
  StartFolder();
}

void Encoder::StartFolder() {
  finder_.Reset();
  costs_ = CostModel();
  trees_ = TreeLengths();
  repeats_ = Repeats();
  frame_ = 0;
  folderBytes_ = 0;
}

bool Encoder::EndsOnReaderChunk(uint32_t frameSize, size_t payloadSize) const {
  return frameSize == kFrameSize && (folderBytes_ + payloadSize) % kReaderChunk == 0;
}

void Encoder::EncodeStored(const uint8_t* data, uint32_t size, const Repeats& repeats, bool twoBlocks,
                           std::vector<uint8_t>& payload) const {
  payload.clear();
  BitWriter bits(payload);
  if (frame_ == 0) WriteFolderHeader(bits);
  // Two blocks cost 16 bytes more than one: the way out when one block's
  // size is refused. Both are of even length: readers differ on where the
  // pad byte of an odd block lies when the block ends a frame.
  const uint32_t first = twoBlocks ? size - 2 : size;
  WriteUncompressedBlock(bits, data, first, repeats, payload);
  if (twoBlocks) WriteUncompressedBlock(bits, data + first, size - first, repeats, payload);
}

void Encoder::WriteFolderHeader(BitWriter& out) const {
  if (!settings_.translateCalls) return out.Put(0, 1);
  out.Put(1, 1);
  out.Put(uint32_t(kE8TranslationSize) >> 16, 16);
  out.Put(uint32_t(kE8TranslationSize) & 0xFFFF, 16);
}

void Encoder::EncodeCompressed(BlockType type, uint32_t size, std::vector<uint8_t>& out,
                               TreeLengths& trees) const {
  BitWriter bits(out);
  if (frame_ == 0) WriteFolderHeader(bits);
  WriteCompressedBlock(bits, type, items_, size, mainElements_, trees);
  bits.Flush();
}

void Encoder::EncodeFrame(const uint8_t* data, uint32_t size, std::vector<uint8_t>& payload) {
  const uint32_t start = finder_.End();
  if (settings_.translateCalls) {
    translated_.assign(data, data + size);
    TranslateCalls(translated_.data(), size, start, frame_, kE8TranslationSize);
    data = translated_.data();
  }
  finder_.Append(data, size);
  const Repeats before = repeats_;
  ParseFrame(finder_, start, start + size, costs_, parse_, repeats_, items_);

  // The smallest of the block types; each starts from the same tree state.
  payload.clear();
  TreeLengths verbatimTrees = trees_;
  EncodeCompressed(kVerbatim, size, payload, verbatimTrees);
  const TreeLengths* chosen = &verbatimTrees;
  TreeLengths alignedTrees = trees_;
  if (UsesAlignedBits(items_)) {
    std::vector<uint8_t> aligned;
    EncodeCompressed(kAligned, size, aligned, alignedTrees);
    if (aligned.size() < payload.size()) {
      payload.swap(aligned);
      chosen = &alignedTrees;
    }
  }
  std::vector<uint8_t> stored;
  EncodeStored(data, size, before, false, stored);
  if (EndsOnReaderChunk(size, stored.size())) EncodeStored(data, size, before, true, stored);
  if (EndsOnReaderChunk(size, payload.size()) || stored.size() < payload.size()) {
    // Raw bytes leave the offsets and trees as they were before the frame.
    payload.swap(stored);
    repeats_ = before;
  } else {
    trees_ = *chosen;
    costs_.FromLengths(trees_.main, trees_.length);
  }
  folderBytes_ += payload.size();
  ++frame_;
}

}  // namespace cab::lzx
