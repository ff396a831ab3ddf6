// Choice of decoder by compression type, the stored method and the checksum.
#include "decoder.h"

#include <cstring>

#include "format.h"

namespace cab {

namespace {

class StoredDecoder final : public Decoder {
 public:
  Status DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) override {
    if (inLength != outLength) return Status::kDecodeFail;
    std::memcpy(out, in, outLength);
    return Status::kOk;
  }
};

}  // namespace

Decoder* MakeStoredDecoder(Memory& mem) { return mem.Make<StoredDecoder>(); }

Status MakeDecoder(Memory& mem, uint16_t compType, Decoder*& decoder) {
  decoder = nullptr;
  unsigned window = (compType >> 8) & 0x1f;
  switch (compType & 0x000f) {
    case kCompressNone: decoder = MakeStoredDecoder(mem); break;
    case kCompressMszip: decoder = MakeMszipDecoder(mem); break;
    case kCompressQuantum:
      if (window < 10 || window > 21) return Status::kBadCompressionType;
      decoder = MakeQuantumDecoder(mem, window);
      break;
    case kCompressLzx:
      if (window < 15 || window > 21) return Status::kBadCompressionType;
      decoder = MakeLzxDecoder(mem, window);
      break;
    default: return Status::kBadCompressionType;
  }
  return decoder ? Status::kOk : Status::kAllocFail;
}

}  // namespace cab
