// Writes one LZX block: verbatim or aligned-offset from a frame's items, or
// uncompressed from its bytes. The trees of a compressed block are sent as
// differences from those of the block before, which TreeLengths keeps.
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

// Writes a verbatim or aligned block of `size` bytes; `trees` holds the
// previous lengths and receives this block's.
void WriteCompressedBlock(BitWriter& out, BlockType type, const std::vector<Item>& items, uint32_t size,
                          unsigned mainElements, TreeLengths& trees);

// An uncompressed block sets the repeated offsets to `repeats`.
void WriteUncompressedBlock(BitWriter& out, const uint8_t* bytes, uint32_t size, const Repeats& repeats,
                            std::vector<uint8_t>& payload);

// Whether an aligned block could gain anything: some offset has three or
// more extra bits.
bool UsesAlignedBits(const std::vector<Item>& items);

}  // namespace cab::lzx
