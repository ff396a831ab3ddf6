// The block decoders of the four compression methods. A decoder sees only the
// bytes of one data block at a time and knows nothing of cabinets or files;
// its state (history window, models, trees) carries from block to block until
// the folder ends.
#pragma once

#include <cstdint>

#include "fdi_memory.h"

namespace fdi {

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes the block in[0..inLength) into exactly outLength bytes.
  // FDIERROR_MDI_FAIL when the data does not decode to that many bytes.
  virtual FDIERROR decodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) = 0;
};

// Makes the decoder for a folder's compression type. FDIERROR_BAD_COMPR_TYPE
// for an unknown method or window size, FDIERROR_ALLOC_FAIL without memory.
FDIERROR makeDecoder(Memory& mem, uint16_t compType, Decoder*& decoder);

Decoder* makeStoredDecoder(Memory& mem);
Decoder* makeMszipDecoder(Memory& mem);
Decoder* makeLzxDecoder(Memory& mem, unsigned windowBits);
Decoder* makeQuantumDecoder(Memory& mem, unsigned windowBits);

}  // namespace fdi
