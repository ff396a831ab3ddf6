// Huffman codes of the LZX encoder: code lengths limited to a maximum,
// canonical codes as the decoder assigns them, and the pretree coding by
// which a block sends its main and length trees as differences from the
// previous block's lengths.
#pragma once
#include <cstdint>

#include "bit_writer.h"
#include "lzx_format.h"

namespace cab::lzx {

// Lengths of a prefix code for `count` symbols with the given frequencies,
// none longer than maxBits; 0 for unused symbols. The code is always
// complete: a lone used symbol and one unused one get length 1.
void BuildCodeLengths(const uint32_t* freqs, unsigned count, unsigned maxBits, uint8_t* lengths);

// Canonical codes: in order of length, then symbol.
void CanonicalCodes(const uint8_t* lengths, unsigned count, uint16_t* codes);

// Writes the lengths [first, last) of a tree: the pretree, then for each
// length its difference mod 17 from `previous`, with runs of zeros (17, 18)
// and of equal lengths (19) folded.
void WriteTreeLengths(BitWriter& out, const uint8_t* lengths, const uint8_t* previous, unsigned first,
                      unsigned last);

}  // namespace cab::lzx
