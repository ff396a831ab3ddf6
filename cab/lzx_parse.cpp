#include "lzx_parse.h"

#include <algorithm>

namespace cab::lzx {

uint32_t Repeats::Use(uint32_t offset) {
  for (uint32_t j = 0; j < 3; ++j) {
    if (r[j] == offset) {
      std::swap(r[0], r[j]);
      return j;
    }
  }
  r[2] = r[1];
  r[1] = r[0];
  r[0] = offset;
  return offset + 2;
}

CostModel::CostModel() {
  std::fill(main, main + kNumChars, 8);
  std::fill(main + kNumChars, main + kMainMax, 10);
  std::fill(length, length + kLengthSymbols, 7);
}

void CostModel::FromLengths(const uint8_t* mainLengths, const uint8_t* lengthLengths) {
  // A symbol the last block did not use would get a code, but a long one.
  for (unsigned s = 0; s < kMainMax; ++s) main[s] = mainLengths[s] ? mainLengths[s] : 13;
  for (unsigned s = 0; s < kLengthSymbols; ++s) length[s] = lengthLengths[s] ? lengthLengths[s] : 11;
}

uint32_t CostModel::MatchBits(uint32_t matchLength, uint32_t formatted) const {
  const unsigned slot = SlotOf(formatted);
  const uint32_t header = std::min<uint32_t>(matchLength - kMinMatch, 7);
  uint32_t bits = main[kNumChars + slot * 8 + header] + kSlots.extra[slot];
  if (header == 7) bits += length[matchLength - kMinMatch - 7];
  return bits;
}

namespace {

struct Choice {
  uint32_t length = 0;
  uint32_t offset = 0;
  int32_t gain = 0;  // bits saved against literals
};

class FrameParser {
 public:
  FrameParser(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
              const ParseOptions& options)
      : finder_(finder), start_(start), end_(end), costs_(costs), options_(options) {
    literalBits_.resize(end - start + 1);
    const uint8_t* bytes = finder.At(start);
    for (uint32_t i = 0; i < end - start; ++i) literalBits_[i + 1] = literalBits_[i] + costs.main[bytes[i]];
  }

  Choice Best(uint32_t pos, const Repeats& repeats) {
    Choice best;
    const uint32_t maxLength = std::min(kMaxMatch, end_ - pos);
    if (maxLength < kMinMatch) return best;
    const uint32_t reach = std::min(options_.maxOffset, finder_.History(pos));
    for (uint32_t j = 0; j < 3; ++j) {
      const uint32_t offset = repeats.r[j];
      if (offset > reach) continue;
      Consider(pos, finder_.LengthAt(pos, offset, maxLength), offset, j, best);
    }
    finder_.Find(pos, maxLength, reach, options_.depth, options_.niceLength, found_);
    for (const Match& m : found_) Consider(pos, m.length, m.offset, Formatted(m.offset, repeats), best);
    return best;
  }

  void Run(Repeats& repeats, std::vector<Item>& items) {
    const uint8_t* bytes = finder_.At(start_);
    uint32_t pos = start_;
    Choice next;
    bool haveNext = false;
    while (pos < end_) {
      Choice here = haveNext ? next : Best(pos, repeats);
      haveNext = false;
      if (here.gain > 0 && options_.lazy && here.length < options_.niceLength && pos + 1 < end_) {
        next = Best(pos + 1, repeats);
        if (next.gain > here.gain) {
          items.push_back({0, bytes[pos - start_]});
          ++pos;
          haveNext = true;
          continue;
        }
      }
      if (here.gain <= 0) {
        items.push_back({0, bytes[pos - start_]});
        ++pos;
        continue;
      }
      items.push_back({here.length, repeats.Use(here.offset)});
      pos += here.length;
    }
    finder_.InsertUpTo(end_);
  }

 private:
  static uint32_t Formatted(uint32_t offset, const Repeats& repeats) {
    for (uint32_t j = 0; j < 3; ++j)
      if (repeats.r[j] == offset) return j;
    return offset + 2;
  }

  void Consider(uint32_t pos, uint32_t length, uint32_t offset, uint32_t formatted, Choice& best) const {
    if (length < kMinMatch) return;
    const int32_t literals = int32_t(literalBits_[pos - start_ + length] - literalBits_[pos - start_]);
    const int32_t gain = literals - int32_t(costs_.MatchBits(length, formatted));
    if (gain > best.gain || (gain == best.gain && length > best.length)) best = {length, offset, gain};
  }

  MatchFinder& finder_;
  const uint32_t start_, end_;
  const CostModel& costs_;
  const ParseOptions& options_;
  std::vector<uint32_t> literalBits_;  // prefix sums of the literals' costs
  std::vector<Match> found_;
};

}  // namespace

void ParseFrame(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                const ParseOptions& options, Repeats& repeats, std::vector<Item>& items) {
  items.clear();
  FrameParser(finder, start, end, costs, options).Run(repeats, items);
}

}  // namespace cab::lzx
