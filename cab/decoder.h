// The block decoders of the four compression methods. A decoder sees only the
// bytes of one data block at a time and knows nothing of cabinets or files;
// its state (history window, models, trees) carries from block to block until
// the folder ends.
#pragma once

#include <cstdint>

#include "allocator.h"
#include "status.h"

namespace cab {

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes the block in[0..inLength) into exactly outLength bytes.
  // Status::kDecodeFail when the data does not decode to that many bytes.
  virtual Status DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) = 0;
};

// Makes the decoder for a folder's compression type. Status::kBadCompressionType
// for an unknown method or window size, Status::kAllocFail without memory.
Status MakeDecoder(Memory& mem, uint16_t compType, Decoder*& decoder);

Decoder* MakeStoredDecoder(Memory& mem);
Decoder* MakeMszipDecoder(Memory& mem);
Decoder* MakeLzxDecoder(Memory& mem, unsigned windowBits);
Decoder* MakeQuantumDecoder(Memory& mem, unsigned windowBits);

}  // namespace cab
