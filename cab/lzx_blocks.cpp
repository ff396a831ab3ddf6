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

void WriteBlockHeader(BitWriter& out, BlockType type, uint32_t size) {
  out.Put(type, 3);
  out.Put(size >> 8, 16);
  out.Put(size & 0xFF, 8);
}

void WriteTrees(BitWriter& out, const BlockCodes& codes, unsigned mainElements, const TreeLengths& previous) {
  if (codes.type == kAligned)
    for (unsigned s = 0; s < kAlignedSymbols; ++s) out.Put(codes.alignedLen[s], 3);
  WriteTreeLengths(out, codes.lengths.main, previous.main, 0, kNumChars);
  WriteTreeLengths(out, codes.lengths.main, previous.main, kNumChars, mainElements);
  WriteTreeLengths(out, codes.lengths.length, previous.length, 0, kLengthSymbols);
}

}  // namespace

void BuildBlockCodes(BlockType type, const SymbolCounts& counts, unsigned mainElements, BlockCodes& c) {
  c = BlockCodes();
  c.type = type;
  BuildCodeLengths(counts.main, mainElements, kMaxCodeBits, c.lengths.main);
  BuildCodeLengths(counts.length, kLengthSymbols, kMaxCodeBits, c.lengths.length);
  CanonicalCodes(c.lengths.main, mainElements, c.main);
  CanonicalCodes(c.lengths.length, kLengthSymbols, c.length);
  if (type == kAligned) {
    BuildCodeLengths(counts.aligned, kAlignedSymbols, 7, c.alignedLen);  // sent in 3 bits each
    CanonicalCodes(c.alignedLen, kAlignedSymbols, c.aligned);
  }
}

uint64_t BlockBits(const BlockCodes& codes, const SymbolCounts& counts, unsigned mainElements,
                   const TreeLengths& previous) {
  std::vector<uint8_t> scratch;
  BitWriter trees(scratch);
  WriteTrees(trees, codes, mainElements, previous);
  uint64_t bits = 27 + trees.BitCount() + counts.extraBits;
  for (unsigned s = 0; s < mainElements; ++s) bits += uint64_t(counts.main[s]) * codes.lengths.main[s];
  for (unsigned s = 0; s < kLengthSymbols; ++s) bits += uint64_t(counts.length[s]) * codes.lengths.length[s];
  if (codes.type == kAligned) {
    bits -= 3 * counts.alignedMatches;
    for (unsigned s = 0; s < kAlignedSymbols; ++s) bits += uint64_t(counts.aligned[s]) * codes.alignedLen[s];
  }
  return bits;
}

uint64_t CheaperBlock(const SymbolCounts& counts, unsigned mainElements, const TreeLengths& previous,
                      BlockCodes& codes) {
  BuildBlockCodes(kVerbatim, counts, mainElements, codes);
  const uint64_t verbatim = BlockBits(codes, counts, mainElements, previous);
  if (counts.alignedMatches == 0) return verbatim;
  BlockCodes aligned;
  BuildBlockCodes(kAligned, counts, mainElements, aligned);
  const uint64_t bits = BlockBits(aligned, counts, mainElements, previous);
  if (bits >= verbatim) return verbatim;
  codes = aligned;
  return bits;
}

void WriteBlockStart(BitWriter& out, const BlockCodes& codes, uint32_t size, unsigned mainElements,
                     TreeLengths& trees) {
  WriteBlockHeader(out, codes.type, size);
  WriteTrees(out, codes, mainElements, trees);
  trees = codes.lengths;
}

void WriteItems(BitWriter& out, const BlockCodes& c, const std::vector<Item>& items) {
  const uint8_t* mainLen = c.lengths.main;
  const uint8_t* lengthLen = c.lengths.length;
  for (const Item& item : items) {
    if (item.length == 0) {
      out.Put(c.main[item.formatted], mainLen[item.formatted]);
      continue;
    }
    const MatchParts m = PartsOf(item);
    out.Put(c.main[m.mainSymbol], mainLen[m.mainSymbol]);
    if (m.lengthSymbol >= 0) out.Put(c.length[m.lengthSymbol], lengthLen[m.lengthSymbol]);
    const unsigned extra = kSlots.extra[m.slot];
    if (TakesAlignedSymbol(c.type, m.slot)) {
      out.Put(m.extraValue >> 3, extra - 3);
      out.Put(c.aligned[m.extraValue & 7], c.alignedLen[m.extraValue & 7]);
    } else {
      out.Put(m.extraValue, extra);
    }
  }
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
