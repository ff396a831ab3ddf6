#include "lzx_encoder.h"

#include <algorithm>

#include "lzx_e8.h"

namespace cab::lzx {

namespace {

struct LevelTuning {
  ParseKind kind;
  unsigned passes;
  unsigned depth;  // tree nodes looked at per position
  uint32_t niceLength;
};

LevelTuning TuningForLevel(int level) {
  // Measured on a mix of text, executables and noise: the near-optimal
  // parse with a shallow search is both smaller and about as fast as the
  // lazy one with a deeper search, so the default levels use it.
  static const LevelTuning kTunings[] = {
      {ParseKind::kGreedy, 1, 4, 16},    {ParseKind::kGreedy, 1, 8, 24},
      {ParseKind::kGreedy, 1, 12, 32},   {ParseKind::kLazy, 1, 8, 32},
      {ParseKind::kLazy, 1, 16, 48},     {ParseKind::kOptimal, 1, 12, 32},
      {ParseKind::kOptimal, 1, 16, 32},  {ParseKind::kOptimal, 1, 24, 48},
      {ParseKind::kOptimal, 2, 48, 128}, {ParseKind::kOptimal, 3, 64, kMaxMatch},
  };
  return kTunings[std::clamp(level, 0, 9)];
}

ParseOptions OptionsFor(const LevelTuning& t, unsigned windowBits) {
  ParseOptions o;
  o.kind = t.kind;
  o.passes = t.passes;
  o.maxOffset = MaxOffset(windowBits);
  return o;
}

// An uncompressed block of one frame: header, alignment, offsets, bytes.
uint64_t StoredBits(uint32_t size) { return 27 + 16 + 8 * (12 + uint64_t(size) + (size & 1)); }

}  // namespace

Encoder::Encoder(const EncoderSettings& settings)
    : settings_(settings),
      mainElements_(kNumChars + SlotsForWindow(settings.windowBits) * 8),
      finder_(settings.windowBits, TuningForLevel(settings.level).depth,
              TuningForLevel(settings.level).niceLength),
      parser_(OptionsFor(TuningForLevel(settings.level), settings.windowBits), mainElements_) {
  settings_.maxBlockFrames = std::clamp(settings_.maxBlockFrames, 1u, 256u);  // a block's size has 24 bits
  StartFolder();
}

void Encoder::StartFolder() {
  finder_.Reset();
  costs_ = CostModel();
  trees_ = TreeLengths();
  repeats_ = Repeats();
  frame_ = 0;
  held_.clear();
  heldCounts_ = SymbolCounts();
}

void Encoder::WriteFolderHeader(BitWriter& out) const {
  if (!settings_.translateCalls) return out.Put(0, 1);
  out.Put(1, 1);
  out.Put(uint32_t(kE8TranslationSize) >> 16, 16);
  out.Put(uint32_t(kE8TranslationSize) & 0xFFFF, 16);
}

void Encoder::EncodeFrame(const uint8_t* data, uint32_t size, std::vector<std::vector<uint8_t>>& payloads) {
  const uint32_t start = finder_.End();
  if (settings_.translateCalls) {
    translated_.assign(data, data + size);
    TranslateCalls(translated_.data(), size, start, frame_, kE8TranslationSize);
    data = translated_.data();
  }
  finder_.Append(data, size);
  const Repeats before = repeats_;
  // Priced by the codes the frame would share if it joins the block held.
  parser_.Parse(finder_, start, start + size, held_.empty() ? costs_ : heldCosts_, heldCounts_, repeats_,
                items_);
  SymbolCounts counts;
  counts.Add(items_);

  BlockCodes heldCodes, codes;
  const uint64_t heldBits = held_.empty() ? 0 : CheaperBlock(heldCounts_, mainElements_, trees_, heldCodes);
  const uint64_t alone =
      CheaperBlock(counts, mainElements_, held_.empty() ? trees_ : heldCodes.lengths, codes);
  if (StoredBits(size) <= alone) {
    // Raw bytes leave the offsets and trees as they were before the frame.
    Finish(payloads);
    repeats_ = before;
    WriteStored(data, size, before, payloads);
    ++frame_;
    return;
  }
  if (!held_.empty()) {
    SymbolCounts joined = heldCounts_;
    joined.Add(counts);
    if (CheaperBlock(joined, mainElements_, trees_, codes) > heldBits + alone) Finish(payloads);
  }
  Hold(items_, size, counts);
  ++frame_;
  if (held_.size() >= settings_.maxBlockFrames) Finish(payloads);
}

void Encoder::Hold(std::vector<Item>& items, uint32_t size, const SymbolCounts& counts) {
  if (held_.empty()) heldFirst_ = frame_;
  held_.push_back({});
  held_.back().items.swap(items);
  held_.back().size = size;
  heldCounts_.Add(counts);
  heldCosts_.FromCounts(heldCounts_, mainElements_);
}

void Encoder::Finish(std::vector<std::vector<uint8_t>>& payloads) {
  if (held_.empty()) return;
  BlockCodes codes;
  CheaperBlock(heldCounts_, mainElements_, trees_, codes);
  uint32_t size = 0;
  for (const HeldFrame& f : held_) size += f.size;
  for (size_t k = 0; k < held_.size(); ++k) {
    payloads.emplace_back();
    BitWriter bits(payloads.back());
    if (heldFirst_ + k == 0) WriteFolderHeader(bits);
    if (k == 0) WriteBlockStart(bits, codes, size, mainElements_, trees_);
    WriteItems(bits, codes, held_[k].items);
    bits.Flush();
  }
  costs_.FromLengths(trees_.main, trees_.length);
  held_.clear();
  heldCounts_ = SymbolCounts();
}

void Encoder::WriteStored(const uint8_t* data, uint32_t size, const Repeats& repeats,
                          std::vector<std::vector<uint8_t>>& payloads) {
  payloads.emplace_back();
  std::vector<uint8_t>& payload = payloads.back();
  BitWriter bits(payload);
  if (frame_ == 0) WriteFolderHeader(bits);
  WriteUncompressedBlock(bits, data, size, repeats, payload);
}

}  // namespace cab::lzx
