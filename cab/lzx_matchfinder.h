// The history of an LZX folder and the binary trees that find matches in it.
//
// Bytes are appended frame by frame to a buffer of twice the window; when it
// is full the newer half moves to the front, so the whole window always lies
// behind the bytes being parsed. Positions are counted from the folder's
// start. Every position is a node of the tree of its first three bytes'
// hash, ordered by the bytes that follow; the newest position is the root,
// so a walk down meets candidates nearest first, each compared only past the
// prefix it is known to share. A walk ends after `depth` nodes, at the
// window's reach (older nodes' slots are reused), or at a match of
// `niceLength`, whose node the new one then replaces: the tree keeps no two
// nodes alike over that length, which bounds the work on repetitive data.
//
// Memory: 2 * window bytes of history, 8 * window bytes of tree links and
// 4 * 2^kHashBits of roots (at window 2^21: 4 + 16 + 1 MiB).
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
  MatchFinder(unsigned windowBits, unsigned depth, uint32_t niceLength);
  void Reset();
  // Appends bytes (at most one window) behind those appended so far.
  void Append(const uint8_t* data, uint32_t size);
  uint32_t End() const { return end_; }  // folder position after the last byte appended
  uint32_t NiceLength() const { return nice_; }
  const uint8_t* At(uint32_t pos) const { return buffer_.data() + (pos - base_); }
  // How far back from `pos` the buffer still holds bytes.
  uint32_t History(uint32_t pos) const { return pos - base_; }
  // Enters every position before `pos` into the trees, as far as the nice
  // length is known behind it.
  void InsertUpTo(uint32_t pos);
  // Leaves the positions before `pos` out of the trees: inside a long match
  // their bytes are already there, at the match's source.
  void SkipTo(uint32_t pos);
  // Enters `pos` (once the nice length behind it is known) and gives its
  // candidates within maxOffset, each longer than the one before, nearest
  // first; the longest is extended to at most maxLength when it reaches the
  // nice length. Positions are looked up in order.
  void Find(uint32_t pos, uint32_t maxLength, uint32_t maxOffset, std::vector<Match>& found);
  // Length of the match at `pos` with `offset`, at most maxLength.
  uint32_t LengthAt(uint32_t pos, uint32_t offset, uint32_t maxLength) const;

 private:
  static constexpr unsigned kHashBits = 18;
  uint32_t Hash(uint32_t pos) const;
  // Walks the tree of `pos` from its root; with `enter`, makes `pos` the new
  // root, the nodes met split to either side. With `found`, records the
  // candidates met that are longer than those before.
  void Walk(uint32_t pos, uint32_t reach, bool enter, std::vector<Match>* found);
  uint32_t Reach(uint32_t pos) const;

  uint32_t window_;
  unsigned depth_;
  uint32_t nice_;
  std::vector<uint8_t> buffer_;
  std::vector<uint32_t> root_;  // position + 1 of the newest per hash, 0 for none
  std::vector<uint32_t> tree_;  // per window position: position + 1 of the smaller, then the greater child
  uint32_t base_ = 0;           // folder position of buffer_[0]
  uint32_t end_ = 0;
  uint32_t inserted_ = 0;
};

}  // namespace cab::lzx
