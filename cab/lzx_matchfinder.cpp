#include "lzx_matchfinder.h"

#include <algorithm>
#include <cstring>

namespace cab::lzx {

MatchFinder::MatchFinder(unsigned windowBits, unsigned depth, uint32_t niceLength)
    : window_(1u << windowBits),
      depth_(depth),
      nice_(std::max<uint32_t>(niceLength, 3)),
      buffer_(2 * size_t(window_)),
      root_(size_t(1) << kHashBits),
      tree_(2 * size_t(window_)) {}

void MatchFinder::Reset() {
  std::fill(root_.begin(), root_.end(), 0);
  base_ = end_ = inserted_ = 0;
}

void MatchFinder::Append(const uint8_t* data, uint32_t size) {
  if (end_ - base_ + size > buffer_.size()) {
    std::memmove(buffer_.data(), buffer_.data() + window_, buffer_.size() - window_);
    base_ += window_;
  }
  std::memcpy(buffer_.data() + (end_ - base_), data, size);
  end_ += size;
}

uint32_t MatchFinder::Hash(uint32_t pos) const {
  const uint8_t* p = At(pos);
  uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  return (v * 2654435761u) >> (32 - kHashBits);
}

uint32_t MatchFinder::LengthAt(uint32_t pos, uint32_t offset, uint32_t maxLength) const {
  const uint8_t* a = At(pos);
  const uint8_t* b = a - offset;
  uint32_t n = 0;
  while (n + 8 <= maxLength) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);  // little-endian hosts
    n += 8;
  }
  while (n < maxLength && a[n] == b[n]) ++n;
  return n;
}

void MatchFinder::Walk(uint32_t pos, uint32_t reach, bool enter, std::vector<Match>* found) {
  const uint32_t limit = std::min(nice_, end_ - pos);
  const uint8_t* here = At(pos);
  uint32_t& root = root_[Hash(pos)];
  uint32_t candidate = root;
  uint32_t unused[2];
  uint32_t* smaller = enter ? &tree_[2 * (pos & (window_ - 1))] : unused;  // takes the next node below `pos`
  uint32_t* greater = smaller + 1;                                         // and the next above it
  if (enter) root = pos + 1;
  uint32_t smallerLength = 0, greaterLength = 0, best = 2;
  for (unsigned left = depth_; candidate != 0 && left > 0; --left) {
    const uint32_t from = candidate - 1;
    const uint32_t offset = pos - from;
    if (offset > reach) break;
    const uint8_t* there = here - offset;
    uint32_t n = std::min(smallerLength, greaterLength);
    n += LengthAt(pos + n, offset, limit - n);
    uint32_t* node = &tree_[2 * (from & (window_ - 1))];
    if (n > best) {
      best = n;
      if (found) found->push_back({n, offset});
    }
    if (n == limit) {  // alike as far as we look: the new node takes its place
      if (enter) {
        *smaller = node[0];
        *greater = node[1];
      }
      return;
    }
    if (there[n] < here[n]) {
      if (enter) *smaller = candidate;
      smaller = node + 1;
      candidate = *smaller;
      smallerLength = n;
    } else {
      if (enter) *greater = candidate;
      greater = node;
      candidate = *greater;
      greaterLength = n;
    }
  }
  if (enter) {
    *smaller = 0;
    *greater = 0;
  }
}

uint32_t MatchFinder::Reach(uint32_t pos) const { return std::min(window_ - 3, History(pos)); }

void MatchFinder::InsertUpTo(uint32_t pos) {
  // A position enters once the nice length is known behind it: every node is
  // then ordered by as many bytes, and alike ones replace each other.
  pos = std::min(pos, end_ >= nice_ ? end_ - nice_ : 0);
  for (; inserted_ < pos; ++inserted_) Walk(inserted_, Reach(inserted_), true, nullptr);
}

void MatchFinder::SkipTo(uint32_t pos) {
  pos = std::min(pos, end_ >= nice_ ? end_ - nice_ : 0);
  if (pos > inserted_) inserted_ = pos;
}

void MatchFinder::Find(uint32_t pos, uint32_t maxLength, uint32_t maxOffset, std::vector<Match>& found) {
  found.clear();
  if (pos + 3 > end_) return;
  InsertUpTo(pos);
  const uint32_t reach = std::min(maxOffset, Reach(pos));
  if (inserted_ == pos && end_ - pos >= nice_) {
    ++inserted_;
    Walk(pos, reach, true, &found);
  } else if (inserted_ < pos) {  // too near the end to enter yet: look only
    Walk(pos, reach, false, &found);
  }
  // Candidates run up to the nice length; the longest may go on.
  while (!found.empty() && found.back().length > maxLength) found.pop_back();
  if (!found.empty() && found.back().length == std::min(nice_, end_ - pos))
    found.back().length = LengthAt(pos, found.back().offset, maxLength);
}

}  // namespace cab::lzx
