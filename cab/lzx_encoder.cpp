#include "lzx_encoder.h"

#include <algorithm>

#include "lzx_e8.h"

namespace cab::lzx {

namespace {

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
  BitWriter bits(stored);
  if (frame_ == 0) WriteFolderHeader(bits);
  WriteUncompressedBlock(bits, data, size, before, stored);
  if (stored.size() < payload.size()) {
    // Raw bytes leave the offsets and trees as they were before the frame.
    payload.swap(stored);
    repeats_ = before;
  } else {
    trees_ = *chosen;
    costs_.FromLengths(trees_.main, trees_.length);
  }
  ++frame_;
}

}  // namespace cab::lzx
