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
  settings_.readerChunk = std::max(settings_.readerChunk, 32u);
  StartFolder();
}

void Encoder::StartFolder() {
  finder_.Reset();
  costs_ = CostModel();
  trees_ = TreeLengths();
  repeats_ = Repeats();
  frame_ = 0;
  folderBytes_ = 0;
  held_.clear();
  heldCounts_ = SymbolCounts();
}

bool Encoder::EndsOnReaderChunk(uint32_t frameSize, size_t payloadSize) const {
  return frameSize == kFrameSize && (folderBytes_ + payloadSize) % settings_.readerChunk == 0;
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
    WriteStored(data, size, before, frame_, payloads);
    ++frame_;
    return;
  }
  if (!held_.empty()) {
    SymbolCounts joined = heldCounts_;
    joined.Add(counts);
    if (CheaperBlock(joined, mainElements_, trees_, codes) > heldBits + alone) Finish(payloads);
  }
  Hold(items_, data, size, counts);
  ++frame_;
  if (held_.size() >= settings_.maxBlockFrames) Finish(payloads);
}

void Encoder::Hold(std::vector<Item>& items, const uint8_t* data, uint32_t size, const SymbolCounts& counts) {
  if (held_.empty()) heldFirst_ = frame_;
  held_.push_back({});
  HeldFrame& f = held_.back();
  f.items.swap(items);
  f.data.assign(data, data + size);
  f.counts = counts;
  f.after = repeats_;
  heldCounts_.Add(counts);
  heldCosts_.FromCounts(heldCounts_, mainElements_);
}

void Encoder::Finish(std::vector<std::vector<uint8_t>>& payloads) {
  for (size_t first = 0; first < held_.size();) first = WriteHeldBlock(first, payloads);
  costs_.FromLengths(trees_.main, trees_.length);
  held_.clear();
  heldCounts_ = SymbolCounts();
}

// Writes the held frames from `first` on as one block, up to the first
// frame whose payload would end the folder's bytes on a reader's chunk, and
// returns the frame after the block. The block's trees stay those of all the
// frames from `first`: they code any fewer as well, and so the payloads
// already laid out keep their lengths when the block is cut short. A frame
// that ends there as a block's first goes uncompressed; the offsets it sends
// are those after its items, which the frames after it were parsed with.
size_t Encoder::WriteHeldBlock(size_t first, std::vector<std::vector<uint8_t>>& payloads) {
  SymbolCounts counts;
  uint32_t size = 0;
  for (size_t k = first; k < held_.size(); ++k) {
    counts.Add(held_[k].counts);
    size += uint32_t(held_[k].data.size());
  }
  BlockCodes codes;
  CheaperBlock(counts, mainElements_, trees_, codes);
  TreeLengths trees = trees_;
  auto write = [&](size_t k, uint32_t blockSize, std::vector<uint8_t>& payload) {
    payload.clear();
    BitWriter bits(payload);
    if (heldFirst_ + k == 0) WriteFolderHeader(bits);
    if (k == first) {
      trees = trees_;
      WriteBlockStart(bits, codes, blockSize, mainElements_, trees);
    }
    WriteItems(bits, codes, held_[k].items);
    bits.Flush();
  };
  const size_t start = payloads.size();
  size_t end = first;
  for (; end < held_.size(); ++end) {
    std::vector<uint8_t> payload;
    write(end, size, payload);
    if (EndsOnReaderChunk(uint32_t(held_[end].data.size()), payload.size())) break;
    folderBytes_ += payload.size();
    payloads.push_back(std::move(payload));
  }
  if (end == first) {
    const HeldFrame& f = held_[first];
    WriteStored(f.data.data(), uint32_t(f.data.size()), f.after, heldFirst_ + uint32_t(first), payloads);
    return first + 1;
  }
  if (end < held_.size()) {
    uint32_t blockSize = 0;
    for (size_t k = first; k < end; ++k) blockSize += uint32_t(held_[k].data.size());
    write(first, blockSize, payloads[start]);
  }
  trees_ = trees;
  return end;
}

// An uncompressed block leaves the trees as they were; the reader takes its
// repeated offsets from it. Two blocks cost 16 bytes more than one: the way
// out when one block would end on a reader's chunk. Both are of even length:
// readers differ on where the pad byte of an odd block lies when the block
// ends a frame.
void Encoder::WriteStored(const uint8_t* data, uint32_t size, const Repeats& repeats, uint32_t frame,
                          std::vector<std::vector<uint8_t>>& payloads) {
  for (bool twoBlocks : {false, true}) {
    std::vector<uint8_t> payload;
    BitWriter bits(payload);
    if (frame == 0) WriteFolderHeader(bits);
    const uint32_t first = twoBlocks ? size - 2 : size;
    WriteUncompressedBlock(bits, data, first, repeats, payload);
    if (twoBlocks) WriteUncompressedBlock(bits, data + first, size - first, repeats, payload);
    if (twoBlocks || !EndsOnReaderChunk(size, payload.size())) {
      folderBytes_ += payload.size();
      payloads.push_back(std::move(payload));
      return;
    }
  }
}

}  // namespace cab::lzx
