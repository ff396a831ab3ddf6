// The history of an LZX folder and the hash chains that find matches in it.
//
// Bytes are appended frame by frame to a buffer of twice the window; when it
// is full the newer half moves to the front, so the whole window always lies
// behind the bytes being parsed. Positions are counted from the folder's
// start. Chains link each position to the previous one whose first three
// bytes hash alike; a chain link is kept per window position, so a walk
// stops at the window's reach before it could meet an overwritten link.
//
// Memory: 2 * window bytes of history, 4 * window bytes of links and
// 4 * 2^kHashBits of heads (at window 2^21: 4 + 8 + 0.5 MiB).
#pragma once
#include <cstdint>
#include <vector>

namespace cab::lzx {

struct Match {
  uint32_t length = 0;
  uint32_t offset = 0;
};

class MatchFinder {
 public:
  explicit MatchFinder(unsigned windowBits);
  void Reset();
  // Appends bytes (at most one window) behind those appended so far.
  void Append(const uint8_t* data, uint32_t size);
  uint32_t End() const { return end_; }  // folder position after the last byte appended
  const uint8_t* At(uint32_t pos) const { return buffer_.data() + (pos - base_); }
  // How far back from `pos` the buffer still holds bytes.
  uint32_t History(uint32_t pos) const { return pos - base_; }
  // Enters every position before `pos` into the chains (as far as three
  // bytes are known).
  void InsertUpTo(uint32_t pos);
  // Up to `limit` candidates on the chain at `pos`, each longer than the
  // one before, nearest first; the longest is at most maxLength.
  void Find(uint32_t pos, uint32_t maxLength, uint32_t maxOffset, unsigned depth, uint32_t niceLength,
            std::vector<Match>& found);
  // Length of the match at `pos` with `offset`, at most maxLength.
  uint32_t LengthAt(uint32_t pos, uint32_t offset, uint32_t maxLength) const;

 private:
  static constexpr unsigned kHashBits = 17;
  uint32_t Hash(uint32_t pos) const;

  uint32_t window_;
  std::vector<uint8_t> buffer_;
  std::vector<uint32_t> head_;   // position + 1 of the newest per hash, 0 for none
  std::vector<uint32_t> links_;  // position + 1 of the previous alike, per window position
  uint32_t base_ = 0;            // folder position of buffer_[0]
  uint32_t end_ = 0;
  uint32_t inserted_ = 0;
};

}  // namespace cab::lzx
