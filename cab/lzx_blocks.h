// Writes LZX blocks: verbatim or aligned-offset from items, or uncompressed
// from bytes. A compressed block may span several frames: its header and
// trees go before the first frame's items, and each frame's items end on a
// word as cabinet readers start each data block's bits afresh. The trees of
// a compressed block are sent as differences from those of the block
// before, which TreeLengths keeps.
#pragma once
#include <cstdint>
#include <vector>

#include "bit_writer.h"
#include "lzx_format.h"
#include "lzx_parse.h"

namespace cab::lzx {

struct TreeLengths {
  uint8_t main[kMainMax] = {};
  uint8_t length[kLengthSymbols] = {};
};

// The Huffman codes of one compressed block.
struct BlockCodes {
  BlockType type = kVerbatim;
  TreeLengths lengths;
  uint8_t alignedLen[kAlignedSymbols] = {};
  uint16_t main[kMainMax] = {}, length[kLengthSymbols] = {}, aligned[kAlignedSymbols] = {};
};

// The codes for `counts` in a block of `type`.
void BuildBlockCodes(BlockType type, const SymbolCounts& counts, unsigned mainElements, BlockCodes& codes);

// The size in bits of a block with these codes and counts after a block
// with the trees `previous`, frame padding aside.
uint64_t BlockBits(const BlockCodes& codes, const SymbolCounts& counts, unsigned mainElements,
                   const TreeLengths& previous);

// The smaller of a verbatim and (where some offset has three or more extra
// bits) an aligned block for `counts`: its codes in `codes`, its bits.
uint64_t CheaperBlock(const SymbolCounts& counts, unsigned mainElements, const TreeLengths& previous,
                      BlockCodes& codes);

// A compressed block's header and trees; `trees` receives this block's.
void WriteBlockStart(BitWriter& out, const BlockCodes& codes, uint32_t size, unsigned mainElements,
                     TreeLengths& trees);

// Items of a compressed block, in the block's codes.
void WriteItems(BitWriter& out, const BlockCodes& codes, const std::vector<Item>& items);

// An uncompressed block sets the repeated offsets to `repeats`.
void WriteUncompressedBlock(BitWriter& out, const uint8_t* bytes, uint32_t size, const Repeats& repeats,
                            std::vector<uint8_t>& payload);

}  // namespace cab::lzx
