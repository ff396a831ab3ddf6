// Choice of decoder by compression type, the stored method and the checksum.
#include "decoder.h"

#include <cstring>

#include "cabinet.h"

namespace fdi {

namespace {

class StoredDecoder final : public Decoder {
 public:
  FDIERROR decodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) override {
    if (inLength != outLength) return FDIERROR_MDI_FAIL;
    std::memcpy(out, in, outLength);
    return FDIERROR_NONE;
  }
};

}  // namespace

Decoder* makeStoredDecoder(Memory& mem) { return mem.make<StoredDecoder>(); }

FDIERROR makeDecoder(Memory& mem, uint16_t compType, Decoder*& decoder) {
  decoder = nullptr;
  unsigned window = (compType >> 8) & 0x1f;
  switch (compType & 0x000f) {
    case kCompressNone: decoder = makeStoredDecoder(mem); break;
    case kCompressMszip: decoder = makeMszipDecoder(mem); break;
    case kCompressQuantum:
      if (window < 10 || window > 21) return FDIERROR_BAD_COMPR_TYPE;
      decoder = makeQuantumDecoder(mem, window);
      break;
    case kCompressLzx:
      if (window < 15 || window > 21) return FDIERROR_BAD_COMPR_TYPE;
      decoder = makeLzxDecoder(mem, window);
      break;
    default: return FDIERROR_BAD_COMPR_TYPE;
  }
  return decoder ? FDIERROR_NONE : FDIERROR_ALLOC_FAIL;
}

}  // namespace fdi
