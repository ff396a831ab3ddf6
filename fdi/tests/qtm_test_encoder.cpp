#include "qtm_test_encoder.h"

#include <stdexcept>

namespace fdt {

struct QtmTestEncoder::Model {
  int shiftsLeft;
  int entries;
  uint16_t symbol[65];
  uint16_t cumulative[65];

  void init(int count, int first) {
    shiftsLeft = 4;
    entries = count;
    for (int i = 0; i < count; ++i) {
      symbol[i] = uint16_t(first + i);
      cumulative[i] = uint16_t(count - i);
    }
    cumulative[count] = 0;
  }
  int indexOf(int s) const {
    for (int i = 0; i < entries; ++i)
      if (symbol[i] == s) return i;
    throw std::logic_error("symbol not in model");
  }
  // Frequencies as the format adapts them: +8 for the symbol and all
  // before it; past 3800 halve, and every 50th time re-sort.
  void update(int index) {
    for (int i = 0; i <= index; ++i) cumulative[i] = uint16_t(cumulative[i] + 8);
    if (cumulative[0] <= 3800) return;
    if (--shiftsLeft) {
      for (int i = entries - 1; i >= 0; --i) {
        cumulative[i] >>= 1;
        if (cumulative[i] <= cumulative[i + 1]) cumulative[i] = uint16_t(cumulative[i + 1] + 1);
      }
      return;
    }
    shiftsLeft = 50;
    uint16_t freq[65];
    for (int i = 0; i < entries; ++i) freq[i] = uint16_t(((cumulative[i] - cumulative[i + 1]) + 1) >> 1);
    for (int i = 0; i < entries - 1; ++i)
      for (int j = i + 1; j < entries; ++j)
        if (freq[i] < freq[j]) {
          std::swap(freq[i], freq[j]);
          std::swap(symbol[i], symbol[j]);
        }
    cumulative[entries] = 0;
    for (int i = entries - 1; i >= 0; --i) cumulative[i] = uint16_t(freq[i] + cumulative[i + 1]);
  }
};

namespace {

// The slot tables as the format lists them, written out rather than computed
// the way the decoder computes them, so that a mistake shared by both shows.
struct Tables {
  uint32_t positionBase[42];
  uint8_t positionExtra[42];
  uint32_t lengthBase[27];
  uint8_t lengthExtra[27];
} const kTables = {
    {0,     1,      2,      3,      4,      6,      8,      12,      16,     24,    32,
     48,    64,     96,     128,    192,    256,    384,    512,     768,    1024,  1536,
     2048,  3072,   4096,   6144,   8192,   12288,  16384,  24576,   32768,  49152, 65536,
     98304, 131072, 196608, 262144, 393216, 524288, 786432, 1048576, 1572864},
    {0, 0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,
     9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19},
    {0,  1,  2,  3,  4,  5,  6,  8,   10,  12,  14,  18,  22, 26,
     30, 38, 46, 54, 62, 78, 94, 110, 126, 158, 190, 222, 254},
    {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0},
};

enum { kLength3 = 4, kLength4 = 5, kPosition = 6, kLength = 7, kSelector = 8 };

}  // namespace

QtmTestEncoder::QtmTestEncoder(unsigned windowBits) : windowBits_(windowBits), models_(new Model[9]) {
  int slots = int(windowBits) * 2;
  for (int i = 0; i < 4; ++i) models_[i].init(64, i * 64);
  models_[kLength3].init(slots < 24 ? slots : 24, 0);
  models_[kLength4].init(slots < 36 ? slots : 36, 0);
  models_[kPosition].init(slots, 0);
  models_[kLength].init(27, 0);
  models_[kSelector].init(7, 0);
}

QtmTestEncoder::~QtmTestEncoder() { delete[] models_; }

void QtmTestEncoder::coderBit(int bit) {
  coderBits_.push_back(bit);
  for (; pending_ > 0; --pending_) coderBits_.push_back(!bit);
}

void QtmTestEncoder::encode(Model& m, int symbolValue) {
  int k = m.indexOf(symbolValue);
  uint32_t range = (high_ - low_) + 1;
  uint32_t total = m.cumulative[0];
  uint32_t newHigh = low_ + (m.cumulative[k] * range) / total - 1;
  uint32_t newLow = low_ + (m.cumulative[k + 1] * range) / total;
  high_ = newHigh & 0xFFFF;
  low_ = newLow & 0xFFFF;
  m.update(k);
  for (;;) {
    if ((low_ & 0x8000) == (high_ & 0x8000)) {
      coderBit(int(low_ >> 15));
    } else if ((low_ & 0x4000) && !(high_ & 0x4000)) {
      ++pending_;
      low_ -= 0x4000;
      high_ -= 0x4000;
    } else {
      break;
    }
    low_ = (low_ << 1) & 0xFFFF;
    high_ = ((high_ << 1) | 1) & 0xFFFF;
    events_.push_back({-1, uint32_t(shifts_++)});
  }
}

void QtmTestEncoder::rawBits(uint32_t value, int count) {
  if (count > 0) events_.push_back({count, value});
}

// Lays out one frame as the decoder reads it: the coder's first 16 bits,
// then, in decoding order, one coder bit per renormalization shift (16 bits
// ahead) and the raw footer bits.
void QtmTestEncoder::endFrame(uint16_t size) {
  ++pending_;
  coderBit(low_ < 0x4000 ? 0 : 1);
  std::vector<int> stream;
  auto coder = [&](size_t i) { return i < coderBits_.size() ? coderBits_[i] : 0; };
  for (size_t i = 0; i < 16; ++i) stream.push_back(coder(i));
  for (const auto& e : events_) {
    if (e.first < 0) {
      stream.push_back(coder(e.second + 16));
    } else {
      for (int b = e.first - 1; b >= 0; --b) stream.push_back(int((e.second >> b) & 1));
    }
  }
  // Whatever the decoder still looks at past the last shift.
  for (size_t i = size_t(shifts_) + 16; i < coderBits_.size(); ++i) stream.push_back(coderBits_[i]);
  while (stream.size() % 16) stream.push_back(0);
  std::vector<uint8_t> bytes(stream.size() / 8, 0);
  for (size_t i = 0; i < stream.size(); ++i) bytes[i / 8] |= uint8_t(stream[i] << (7 - i % 8));
  bytes.push_back(0);  // trailing bytes after the last symbol are allowed
  bytes.push_back(0);
  frames_.push_back({bytes, size});
  low_ = 0;
  high_ = 0xFFFF;
  pending_ = 0;
  shifts_ = 0;
  coderBits_.clear();
  events_.clear();
}

void QtmTestEncoder::endFrameIfFull() {
  if (out_.size() - frameStart_ == 32768) {
    endFrame(32768);
    frameStart_ += 32768;
  } else if (out_.size() - frameStart_ > 32768) {
    throw std::logic_error("a match may not cross a frame's end");
  }
}

void QtmTestEncoder::literal(uint8_t b) {
  encode(models_[kSelector], b >> 6);
  encode(models_[b >> 6], b);
  out_.push_back(b);
  endFrameIfFull();
}

void QtmTestEncoder::positionSlot(Model& m, uint32_t offset) {
  uint32_t v = offset - 1;
  int slot = 0;
  while (slot + 1 < 42 && kTables.positionBase[slot + 1] <= v) ++slot;
  if (slot >= m.entries) throw std::logic_error("offset beyond the model");
  encode(m, slot);
  rawBits(v - kTables.positionBase[slot], kTables.positionExtra[slot]);
}

void QtmTestEncoder::match(uint32_t offset, uint32_t length) {
  if (offset == 0 || offset > out_.size() || offset > (1u << windowBits_) || length < 3 || length > 259)
    throw std::logic_error("bad match");
  if (length == 3) {
    encode(models_[kSelector], 4);
    positionSlot(models_[kLength3], offset);
  } else if (length == 4) {
    encode(models_[kSelector], 5);
    positionSlot(models_[kLength4], offset);
  } else {
    encode(models_[kSelector], 6);
    uint32_t l = length - 5;
    int slot = 0;
    while (slot + 1 < 27 && kTables.lengthBase[slot + 1] <= l) ++slot;
    encode(models_[kLength], slot);
    rawBits(l - kTables.lengthBase[slot], kTables.lengthExtra[slot]);
    positionSlot(models_[kPosition], offset);
  }
  for (uint32_t i = 0; i < length; ++i) out_.push_back(out_[out_.size() - offset]);
  endFrameIfFull();
}

std::vector<std::pair<std::vector<uint8_t>, uint16_t>> QtmTestEncoder::finish() {
  uint32_t rest = uint32_t(out_.size()) - frameStart_;
  if (rest > 0) endFrame(uint16_t(rest));
  return frames_;
}

}  // namespace fdt
