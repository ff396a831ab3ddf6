#include "lzx_parse.h"

#include <algorithm>
#include <limits>

#include "huffman_encoder.h"

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

void SymbolCounts::Add(const std::vector<Item>& items) {
  for (const Item& item : items) {
    if (item.length == 0) {
      main[item.formatted]++;
      continue;
    }
    const unsigned slot = SlotOf(item.formatted);
    const uint32_t header = std::min<uint32_t>(item.length - kMinMatch, 7);
    main[kNumChars + slot * 8 + header]++;
    if (header == 7) length[item.length - kMinMatch - 7]++;
    extraBits += kSlots.extra[slot];
    if (kSlots.extra[slot] >= 3) {
      aligned[(item.formatted - kSlots.base[slot]) & 7]++;
      alignedMatches++;
    }
  }
}

void SymbolCounts::Add(const SymbolCounts& other) {
  for (unsigned s = 0; s < kMainMax; ++s) main[s] += other.main[s];
  for (unsigned s = 0; s < kLengthSymbols; ++s) length[s] += other.length[s];
  for (unsigned s = 0; s < kAlignedSymbols; ++s) aligned[s] += other.aligned[s];
  extraBits += other.extraBits;
  alignedMatches += other.alignedMatches;
}

CostModel::CostModel() {
  std::fill(main, main + kNumChars, 8);
  std::fill(main + kNumChars, main + kMainMax, 10);
  std::fill(length, length + kLengthSymbols, 7);
}

void CostModel::FromLengths(const uint8_t* mainLengths, const uint8_t* lengthLengths) {
  // A symbol the lengths leave out would get a code, but a long one.
  for (unsigned s = 0; s < kMainMax; ++s) main[s] = mainLengths[s] ? mainLengths[s] : 13;
  for (unsigned s = 0; s < kLengthSymbols; ++s) length[s] = lengthLengths[s] ? lengthLengths[s] : 11;
}

void CostModel::FromCounts(const SymbolCounts& counts, unsigned mainElements) {
  uint8_t mainLengths[kMainMax] = {}, lengthLengths[kLengthSymbols] = {};
  BuildCodeLengths(counts.main, mainElements, kMaxCodeBits, mainLengths);
  BuildCodeLengths(counts.length, kLengthSymbols, kMaxCodeBits, lengthLengths);
  FromLengths(mainLengths, lengthLengths);
}

uint32_t CostModel::MatchBits(uint32_t matchLength, uint32_t formatted) const {
  const unsigned slot = SlotOf(formatted);
  const uint32_t header = std::min<uint32_t>(matchLength - kMinMatch, 7);
  uint32_t bits = main[kNumChars + slot * 8 + header] + kSlots.extra[slot];
  if (header == 7) bits += length[matchLength - kMinMatch - 7];
  return bits;
}

namespace {

uint32_t Formatted(uint32_t offset, const uint32_t* r) {
  for (uint32_t j = 0; j < 3; ++j)
    if (r[j] == offset) return j;
  return offset + 2;
}

// Bits of a match with one formatted offset, by length.
class MatchPricer {
 public:
  MatchPricer(const CostModel& costs, uint32_t formatted) : costs_(costs) {
    const unsigned slot = SlotOf(formatted);
    symbols_ = costs.main + kNumChars + slot * 8;
    extra_ = kSlots.extra[slot];
  }
  uint32_t Bits(uint32_t length) const {
    return length < kMinMatch + 7 ? symbols_[length - kMinMatch] + extra_
                                  : symbols_[7] + extra_ + costs_.length[length - kMinMatch - 7];
  }

 private:
  const CostModel& costs_;
  const uint8_t* symbols_;
  uint32_t extra_;
};

struct Choice {
  uint32_t length = 0;
  uint32_t offset = 0;
  int32_t gain = 0;  // bits saved against literals
};

}  // namespace

void Parser::Parse(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                   const SymbolCounts& block, Repeats& repeats, std::vector<Item>& items) {
  items.clear();
  if (options_.kind != ParseKind::kOptimal) return ParseLazy(finder, start, end, costs, repeats, items);
  CollectCandidates(finder, start, end);
  const Repeats before = repeats;
  ParseOptimal(finder, start, end, costs, repeats, items);
  for (unsigned pass = 1; pass < options_.passes; ++pass) {
    SymbolCounts counts = block;
    counts.Add(items);
    CostModel repriced;
    repriced.FromCounts(counts, mainElements_);
    repeats = before;
    items.clear();
    ParseOptimal(finder, start, end, repriced, repeats, items);
  }
}

void Parser::ParseLazy(MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                       Repeats& repeats, std::vector<Item>& items) {
  const uint8_t* bytes = finder.At(start);
  literalBits_.resize(end - start + 1);
  literalBits_[0] = 0;
  for (uint32_t i = 0; i < end - start; ++i) literalBits_[i + 1] = literalBits_[i] + costs.main[bytes[i]];
  auto consider = [&](uint32_t pos, uint32_t length, uint32_t offset, uint32_t formatted, Choice& best) {
    if (length < kMinMatch) return;
    const int32_t literals = int32_t(literalBits_[pos - start + length] - literalBits_[pos - start]);
    const int32_t gain = literals - int32_t(costs.MatchBits(length, formatted));
    if (gain > best.gain || (gain == best.gain && length > best.length)) best = {length, offset, gain};
  };
  auto bestAt = [&](uint32_t pos) {
    Choice best;
    const uint32_t maxLength = std::min(kMaxMatch, end - pos);
    if (maxLength < kMinMatch) return best;
    const uint32_t reach = std::min(options_.maxOffset, finder.History(pos));
    for (uint32_t j = 0; j < 3; ++j) {
      const uint32_t offset = repeats.r[j];
      if (offset <= reach) consider(pos, finder.LengthAt(pos, offset, maxLength), offset, j, best);
    }
    finder.Find(pos, maxLength, reach, found_);
    for (const Match& m : found_) consider(pos, m.length, m.offset, Formatted(m.offset, repeats.r), best);
    return best;
  };
  const bool lazy = options_.kind == ParseKind::kLazy;
  uint32_t pos = start;
  Choice next;
  bool haveNext = false;
  while (pos < end) {
    Choice here = haveNext ? next : bestAt(pos);
    haveNext = false;
    if (here.gain > 0 && lazy && here.length < finder.NiceLength() && pos + 1 < end) {
      next = bestAt(pos + 1);
      if (next.gain > here.gain) {
        items.push_back({0, bytes[pos - start]});
        ++pos;
        haveNext = true;
        continue;
      }
    }
    if (here.gain <= 0) {
      items.push_back({0, bytes[pos - start]});
      ++pos;
      continue;
    }
    items.push_back({here.length, repeats.Use(here.offset)});
    pos += here.length;
    if (here.length >= finder.NiceLength()) finder.SkipTo(pos);
  }
  finder.InsertUpTo(end);
}

// The finder's candidates at every position of the frame but those inside a
// match of the nice length, which the parse takes as it is.
void Parser::CollectCandidates(MatchFinder& finder, uint32_t start, uint32_t end) {
  const uint32_t n = end - start;
  candidates_.clear();
  firstCandidate_.resize(n + 1);
  uint32_t skipUntil = 0;
  for (uint32_t i = 0; i < n; ++i) {
    firstCandidate_[i] = uint32_t(candidates_.size());
    if (i < skipUntil) continue;
    const uint32_t pos = start + i;
    finder.Find(pos, std::min(kMaxMatch, n - i), std::min(options_.maxOffset, finder.History(pos)), found_);
    candidates_.insert(candidates_.end(), found_.begin(), found_.end());
    if (!found_.empty() && found_.back().length >= finder.NiceLength()) {
      skipUntil = i + found_.back().length;
      finder.SkipTo(start + skipUntil);
    }
  }
  firstCandidate_[n] = uint32_t(candidates_.size());
  finder.InsertUpTo(end);
}

void Parser::ParseOptimal(const MatchFinder& finder, uint32_t start, uint32_t end, const CostModel& costs,
                          Repeats& repeats, std::vector<Item>& items) {
  const uint32_t n = end - start;
  const uint8_t* bytes = finder.At(start);
  constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
  nodes_.assign(n + 1, Node{kUnreached, 0, 0, {0, 0, 0}});
  nodes_[0].cost = 0;
  std::copy(repeats.r, repeats.r + 3, nodes_[0].rep);
  auto relax = [&](uint32_t to, uint32_t cost, uint32_t length, uint32_t offset) {
    Node& t = nodes_[to];
    if (cost < t.cost) {
      t.cost = cost;
      t.length = length;
      t.offset = offset;
    }
  };
  const uint32_t nice = finder.NiceLength();
  uint32_t skipUntil = 0;
  for (uint32_t i = 0; i < n; ++i) {
    Node& here = nodes_[i];
    if (i > 0) {  // the repeated offsets after the best arrival
      const Node& from = nodes_[i - std::max<uint32_t>(here.length, 1)];
      std::copy(from.rep, from.rep + 3, here.rep);
      if (here.length != 0) {
        const uint32_t j = Formatted(here.offset, from.rep);
        if (j < 3) {
          std::swap(here.rep[0], here.rep[j]);
        } else {
          here.rep[2] = from.rep[1];
          here.rep[1] = from.rep[0];
          here.rep[0] = here.offset;
        }
      }
    }
    if (i < skipUntil) continue;
    relax(i + 1, here.cost + costs.main[bytes[i]], 0, 0);
    const uint32_t maxLength = std::min(kMaxMatch, n - i);
    if (maxLength < kMinMatch) continue;
    const uint32_t pos = start + i;
    const uint32_t reach = std::min(options_.maxOffset, finder.History(pos));

    // A match of the nice length is taken as it is: the positions it covers
    // are not looked at, which keeps long runs cheap.
    uint32_t longest = 0, longestOffset = 0;
    uint32_t repLength[3] = {};
    for (uint32_t j = 0; j < 3; ++j) {
      const uint32_t o = here.rep[j];
      if (o > reach || (j > 0 && o == here.rep[0]) || (j == 2 && o == here.rep[1])) continue;
      repLength[j] = finder.LengthAt(pos, o, maxLength);
      if (repLength[j] > longest) longest = repLength[j], longestOffset = o;
    }
    const Match* first = candidates_.data() + firstCandidate_[i];
    const Match* last = candidates_.data() + firstCandidate_[i + 1];
    if (last != first && (last - 1)->length > longest)
      longest = (last - 1)->length, longestOffset = (last - 1)->offset;
    if (longest >= nice) {
      relax(i + longest, here.cost + costs.MatchBits(longest, Formatted(longestOffset, here.rep)), longest,
            longestOffset);
      skipUntil = i + longest;
      continue;
    }
    for (uint32_t j = 0; j < 3; ++j) {
      if (repLength[j] < kMinMatch) continue;
      const MatchPricer price(costs, j);
      for (uint32_t l = kMinMatch; l <= repLength[j]; ++l)
        relax(i + l, here.cost + price.Bits(l), l, here.rep[j]);
    }
    uint32_t covered = kMinMatch - 1;
    for (const Match* m = first; m != last; ++m) {
      if (Formatted(m->offset, here.rep) < 3) {  // priced above as a repeat
        covered = std::max(covered, m->length);
        continue;
      }
      const MatchPricer price(costs, m->offset + 2);
      for (uint32_t l = covered + 1; l <= m->length; ++l)
        relax(i + l, here.cost + price.Bits(l), l, m->offset);
      covered = std::max(covered, m->length);
    }
  }

  // The best path, read back from the end, then sent in order.
  std::vector<Node*>& path = path_;
  path.clear();
  for (uint32_t t = n; t > 0; t -= std::max<uint32_t>(nodes_[t].length, 1)) path.push_back(&nodes_[t]);
  uint32_t at = 0;
  for (auto p = path.rbegin(); p != path.rend(); ++p) {
    const Node& node = **p;
    if (node.length == 0) {
      items.push_back({0, bytes[at]});
      ++at;
    } else {
      items.push_back({node.length, repeats.Use(node.offset)});
      at += node.length;
    }
  }
}

}  // namespace cab::lzx
