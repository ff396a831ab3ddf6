#include "lzx_matchfinder.h"

#include <cstring>

namespace cab::lzx {

MatchFinder::MatchFinder(unsigned windowBits)
    : window_(1u << windowBits),
      buffer_(2 * size_t(window_)),
      head_(size_t(1) << kHashBits),
      links_(window_) {}

void MatchFinder::Reset() {
  std::fill(head_.begin(), head_.end(), 0);
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

void MatchFinder::InsertUpTo(uint32_t pos) {
  if (pos + 2 > end_) pos = end_ >= 2 ? end_ - 2 : 0;
  for (; inserted_ < pos; ++inserted_) {
    uint32_t& head = head_[Hash(inserted_)];
    links_[inserted_ & (window_ - 1)] = head;
    head = inserted_ + 1;
  }
}

uint32_t MatchFinder::LengthAt(uint32_t pos, uint32_t offset, uint32_t maxLength) const {
  const uint8_t* a = At(pos);
  const uint8_t* b = a - offset;
  uint32_t n = 0;
  while (n < maxLength && a[n] == b[n]) ++n;
  return n;
}

void MatchFinder::Find(uint32_t pos, uint32_t maxLength, uint32_t maxOffset, unsigned depth,
                       uint32_t niceLength, std::vector<Match>& found) {
  found.clear();
  if (maxLength < 3 || pos + 3 > end_) return;
  InsertUpTo(pos);
  if (maxOffset > History(pos)) maxOffset = History(pos);
  const uint8_t* here = At(pos);
  uint32_t best = 2;
  uint32_t candidate = head_[Hash(pos)];
  while (candidate != 0 && depth-- > 0) {
    const uint32_t from = candidate - 1;
    const uint32_t offset = pos - from;
    if (offset > maxOffset) break;
    const uint8_t* there = here - offset;
    if (there[best] == here[best] && there[0] == here[0]) {
      uint32_t n = LengthAt(pos, offset, maxLength);
      if (n > best) {
        best = n;
        found.push_back({n, offset});
        if (n >= niceLength || n == maxLength) break;
      }
    }
    candidate = links_[from & (window_ - 1)];
  }
}

}  // namespace cab::lzx
