#include "lzx_blocks.h"

#include "huffman_encoder.h"

namespace cab::lzx {

namespace {

struct MatchParts {
  unsigned mainSymbol;
  int lengthSymbol;  // -1: none
  unsigned slot;
  uint32_t extraValue;
};

MatchParts PartsOf(const Item& item) {
  const unsigned slot = SlotOf(item.formatted);
  const uint32_t header = item.length - kMinMatch < 7 ? item.length - kMinMatch : 7;
  return {kNumChars + slot * 8 + header, header == 7 ? int(item.length - kMinMatch - 7) : -1, slot,
          item.formatted - kSlots.base[slot]};
}

bool TakesAlignedSymbol(BlockType type, unsigned slot) { return type == kAligned && kSlots.extra[slot] >= 3; }

struct Codes {
  uint8_t mainLen[kMainMax] = {}, lengthLen[kLengthSymbols] = {}, alignedLen[kAlignedSymbols] = {};
  uint16_t main[kMainMax], length[kLengthSymbols], aligned[kAlignedSymbols];
};

void BuildCodes(BlockType type, const std::vector<Item>& items, unsigned mainElements, Codes& c) {
  uint32_t mainFreq[kMainMax] = {}, lengthFreq[kLengthSymbols] = {}, alignedFreq[kAlignedSymbols] = {};
  for (const Item& item : items) {
    if (item.length == 0) {
      mainFreq[item.formatted]++;
      continue;
    }
    const MatchParts m = PartsOf(item);
    mainFreq[m.mainSymbol]++;
    if (m.lengthSymbol >= 0) lengthFreq[m.lengthSymbol]++;
    if (TakesAlignedSymbol(type, m.slot)) alignedFreq[m.extraValue & 7]++;
  }
  BuildCodeLengths(mainFreq, mainElements, kMaxCodeBits, c.mainLen);
  BuildCodeLengths(lengthFreq, kLengthSymbols, kMaxCodeBits, c.lengthLen);
  CanonicalCodes(c.mainLen, mainElements, c.main);
  CanonicalCodes(c.lengthLen, kLengthSymbols, c.length);
  if (type == kAligned) {
    BuildCodeLengths(alignedFreq, kAlignedSymbols, 7, c.alignedLen);  // sent in 3 bits each
    CanonicalCodes(c.alignedLen, kAlignedSymbols, c.aligned);
  }
}

void WriteBlockHeader(BitWriter& out, BlockType type, uint32_t size) {
  out.Put(type, 3);
  out.Put(size >> 8, 16);
  out.Put(size & 0xFF, 8);
}

}  // namespace

bool UsesAlignedBits(const std::vector<Item>& items) {
  for (const Item& item : items)
    if (item.length != 0 && kSlots.extra[SlotOf(item.formatted)] >= 3) return true;
  return false;
}

void WriteCompressedBlock(BitWriter& out, BlockType type, const std::vector<Item>& items, uint32_t size,
                          unsigned mainElements, TreeLengths& trees) {
  Codes c;
  BuildCodes(type, items, mainElements, c);
  WriteBlockHeader(out, type, size);
  if (type == kAligned)
    for (unsigned s = 0; s < kAlignedSymbols; ++s) out.Put(c.alignedLen[s], 3);
  WriteTreeLengths(out, c.mainLen, trees.main, 0, kNumChars);
  WriteTreeLengths(out, c.mainLen, trees.main, kNumChars, mainElements);
  WriteTreeLengths(out, c.lengthLen, trees.length, 0, kLengthSymbols);
  for (const Item& item : items) {
    if (item.length == 0) {
      out.Put(c.main[item.formatted], c.mainLen[item.formatted]);
      continue;
    }
    const MatchParts m = PartsOf(item);
    out.Put(c.main[m.mainSymbol], c.mainLen[m.mainSymbol]);
    if (m.lengthSymbol >= 0) out.Put(c.length[m.lengthSymbol], c.lengthLen[m.lengthSymbol]);
    const unsigned extra = kSlots.extra[m.slot];
    if (TakesAlignedSymbol(type, m.slot)) {
      out.Put(m.extraValue >> 3, extra - 3);
      out.Put(c.aligned[m.extraValue & 7], c.alignedLen[m.extraValue & 7]);
    } else {
      out.Put(m.extraValue, extra);
    }
  }
  std::copy(c.mainLen, c.mainLen + kMainMax, trees.main);
  std::copy(c.lengthLen, c.lengthLen + kLengthSymbols, trees.length);
}

void WriteUncompressedBlock(BitWriter& out, const uint8_t* bytes, uint32_t size, const Repeats& repeats,
                            std::vector<uint8_t>& payload) {
  WriteBlockHeader(out, kUncompressed, size);
  out.AlignForBytes();
  for (uint32_t r : repeats.r)
    for (int i = 0; i < 4; ++i) payload.push_back(uint8_t(r >> (8 * i)));
  payload.insert(payload.end(), bytes, bytes + size);
  if (size & 1) payload.push_back(0);
}

}  // namespace cab::lzx
