// Choice of decoder by compression type, the stored method and the checksum.
#include "decoder.h"

#include <cstring>

#include "cabinet.h"

namespace fdi {

namespace {

class StoredDecoder final : public Decoder {
public:
    FDIERROR decodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out,
                         uint32_t outLength) override {
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

uint32_t cabChecksum(const uint8_t* data, uint32_t length, uint32_t seed) {
    uint32_t sum = seed;
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i, data += 4)
        sum ^= uint32_t(data[0]) | (uint32_t(data[1]) << 8) | (uint32_t(data[2]) << 16) |
               (uint32_t(data[3]) << 24);
    uint32_t tail = 0;
    switch (length & 3) {
    case 3: tail |= uint32_t(*data++) << 16; [[fallthrough]];
    case 2: tail |= uint32_t(*data++) << 8; [[fallthrough]];
    case 1: tail |= *data;
    }
    return sum ^ tail;
}

}  // namespace fdi
