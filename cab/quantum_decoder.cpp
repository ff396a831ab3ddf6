// Quantum, as used in cabinets: an arithmetic coder over adaptive frequency
// models, window 2^10 to 2^21 bytes, one data block per output frame.
//
// Quirks handled here:
//  - Every data block restarts the arithmetic coder (H = 0xFFFF, L = 0, C =
//    the first 16 bits) and its bit stream (16-bit big-endian words, read
//    from the top bit); the models and the window run on across blocks.
//  - Trailing bytes after a block's last symbol are ignored.
//  - The coder's registers are 16 bits wide; the arithmetic wraps as such.
//  - A model's frequencies are halved when the total passes 3800; every
//    fiftieth time the symbols are also re-sorted by frequency.
//  - A window smaller than a frame wraps within the frame, so output is
//    written to the frame and the window side by side.
//  - A match that reaches before the folder's first byte or past the
//    frame's end is an error.
#include <cstring>

#include "bit_reader.h"
#include "decoder.h"

namespace cab {

namespace {

struct ModelSymbol {
  uint16_t symbol;
  uint16_t cumulative;
};

struct Model {
  int shiftsLeft;
  int entries;
  ModelSymbol syms[65];

  void Init(int count, int firstSymbol) {
    shiftsLeft = 4;
    entries = count;
    for (int i = 0; i < count; ++i) {
      syms[i].symbol = uint16_t(firstSymbol + i);
      syms[i].cumulative = uint16_t(count - i);
    }
    syms[count].cumulative = 0;
  }

  void Rescale() {
    if (--shiftsLeft) {
      for (int i = entries - 1; i >= 0; --i) {
        syms[i].cumulative >>= 1;
        if (syms[i].cumulative <= syms[i + 1].cumulative)
          syms[i].cumulative = uint16_t(syms[i + 1].cumulative + 1);
      }
      return;
    }
    shiftsLeft = 50;
    for (int i = 0; i < entries; ++i) {
      syms[i].cumulative = uint16_t(((syms[i].cumulative - syms[i + 1].cumulative) + 1) >> 1);
    }
    // The same exchange order as the encoder, so ties land alike.
    for (int i = 0; i < entries - 1; ++i)
      for (int j = i + 1; j < entries; ++j)
        if (syms[i].cumulative < syms[j].cumulative) {
          ModelSymbol t = syms[i];
          syms[i] = syms[j];
          syms[j] = t;
        }
    for (int i = entries - 1; i >= 0; --i)
      syms[i].cumulative = uint16_t(syms[i].cumulative + syms[i + 1].cumulative);
  }
};

struct QuantumTables {
  uint32_t positionBase[42];
  uint8_t positionExtra[42];
  uint8_t lengthBase[27];
  uint8_t lengthExtra[27];
  QuantumTables() {
    uint32_t b = 0;
    for (int i = 0; i < 42; ++i) {
      positionExtra[i] = uint8_t((i < 2 ? 0 : i - 2) >> 1);
      positionBase[i] = b;
      b += 1u << positionExtra[i];
    }
    b = 0;
    for (int i = 0; i < 27; ++i) {
      lengthExtra[i] = uint8_t(i == 26 ? 0 : (i < 2 ? 0 : i - 2) >> 2);
      lengthBase[i] = uint8_t(b);
      b += 1u << (i == 26 ? 5 : lengthExtra[i]);
    }
  }
};
const QuantumTables kTables;

class QuantumDecoder final : public Decoder {
 public:
  QuantumDecoder(Memory& mem, uint8_t* window, unsigned windowBits)
      : mem_(mem), window_(window), windowSize_(1u << windowBits) {
    int slots = int(windowBits) * 2;
    for (int i = 0; i < 4; ++i) literals_[i].Init(64, i * 64);
    length3_.Init(slots < 24 ? slots : 24, 0);
    length4_.Init(slots < 36 ? slots : 36, 0);
    position_.Init(slots, 0);
    length_.Init(27, 0);
    selector_.Init(7, 0);
  }
  ~QuantumDecoder() override { mem_.Put(window_); }

  Status DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) override;

 private:
  int Symbol(Model& m);
  bool Match(uint32_t offset, uint32_t length, uint8_t* out, uint32_t& produced, uint32_t outLength);
  uint32_t OffsetFor(int slot) {
    return kTables.positionBase[slot] + bits_.ReadLong(kTables.positionExtra[slot]) + 1;
  }

  Memory& mem_;
  uint8_t* window_;
  uint32_t windowSize_;
  uint32_t windowPos_ = 0;
  uint64_t decoded_ = 0;
  QtmBits bits_;
  uint32_t high_ = 0, low_ = 0, code_ = 0;
  Model literals_[4], length3_, length4_, position_, length_, selector_;
};

int QuantumDecoder::Symbol(Model& m) {
  uint32_t range = ((high_ - low_) & 0xFFFF) + 1;
  uint32_t total = m.syms[0].cumulative;
  uint32_t target = (((code_ - low_ + 1) * total - 1) / range) & 0xFFFF;
  int i = 1;
  while (i < m.entries && m.syms[i].cumulative > target) ++i;
  int result = m.syms[i - 1].symbol;

  range = ((high_ - low_) & 0xFFFF) + 1;
  high_ = (low_ + (m.syms[i - 1].cumulative * range) / total - 1) & 0xFFFF;
  low_ = (low_ + (m.syms[i].cumulative * range) / total) & 0xFFFF;
  while (i > 0) {
    --i;
    m.syms[i].cumulative = uint16_t(m.syms[i].cumulative + 8);
  }
  if (m.syms[0].cumulative > 3800) m.Rescale();

  for (;;) {
    if ((low_ & 0x8000) != (high_ & 0x8000)) {
      if ((low_ & 0x4000) && !(high_ & 0x4000)) {
        code_ ^= 0x4000;  // underflow: the top bits are about to converge
        low_ &= 0x3FFF;
        high_ |= 0x4000;
      } else {
        break;
      }
    }
    low_ = (low_ << 1) & 0xFFFF;
    high_ = ((high_ << 1) | 1) & 0xFFFF;
    code_ = ((code_ << 1) | bits_.Read(1)) & 0xFFFF;
  }
  return result;
}

bool QuantumDecoder::Match(uint32_t offset, uint32_t length, uint8_t* out, uint32_t& produced,
                           uint32_t outLength) {
  uint64_t reach = decoded_ < windowSize_ ? decoded_ : windowSize_;
  if (offset > reach || length > outLength - produced) return false;
  uint32_t mask = windowSize_ - 1;
  uint32_t from = (windowPos_ + windowSize_ - offset) & mask;
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t b = window_[from];
    window_[windowPos_] = b;
    out[produced++] = b;
    windowPos_ = (windowPos_ + 1) & mask;
    from = (from + 1) & mask;
  }
  decoded_ += length;
  return true;
}

Status QuantumDecoder::DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) {
  bits_.Start(in, inLength);
  high_ = 0xFFFF;
  low_ = 0;
  code_ = bits_.Read(16);
  uint32_t produced = 0;
  while (produced < outLength) {
    int selector = Symbol(selector_);
    if (selector < 4) {
      uint8_t b = uint8_t(Symbol(literals_[selector]));
      window_[windowPos_] = b;
      windowPos_ = (windowPos_ + 1) & (windowSize_ - 1);
      out[produced++] = b;
      ++decoded_;
    } else {
      uint32_t length, offset;
      if (selector == 4) {
        offset = OffsetFor(Symbol(length3_));
        length = 3;
      } else if (selector == 5) {
        offset = OffsetFor(Symbol(length4_));
        length = 4;
      } else {
        int slot = Symbol(length_);
        length = kTables.lengthBase[slot] + bits_.Read(kTables.lengthExtra[slot]) + 5;
        offset = OffsetFor(Symbol(position_));
      }
      if (!Match(offset, length, out, produced, outLength)) return Status::kDecodeFail;
    }
    if (bits_.Exhausted()) return Status::kDecodeFail;
  }
  return Status::kOk;
}

}  // namespace

Decoder* MakeQuantumDecoder(Memory& mem, unsigned windowBits) {
  uint8_t* window = static_cast<uint8_t*>(mem.Get(size_t(1) << windowBits));
  if (!window) return nullptr;
  std::memset(window, 0, size_t(1) << windowBits);
  Decoder* d = mem.Make<QuantumDecoder>(mem, window, windowBits);
  if (!d) mem.Put(window);
  return d;
}

}  // namespace cab
