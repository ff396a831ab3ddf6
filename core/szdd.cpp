#include "szdd.h"

#include <algorithm>
#include <cstring>

#include "byteorder.h"

namespace {

const uint8_t kSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kModeA = 'A';
constexpr size_t kRingSize = 4096;
constexpr size_t kRingMask = kRingSize - 1;
constexpr size_t kRingStart = 0xFF0;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 18;
// A reference whose offset equals the write position would copy the byte
// 4096 back only if the expander reads the ring before it writes it; one
// short of that works with every expander.
constexpr size_t kMaxDistance = kRingSize - 1;
constexpr int kHashBits = 14;
constexpr int kChainLimit = 512;
constexpr int32_t kNone = -1;

// The compressor works on one buffer that starts with the ring's initial
// blanks, so that references into the not yet written part of the ring are
// found like any other: buffer index q lies at ring position (q + 0xFF0) & 0xFFF.
constexpr size_t kPrefix = kRingSize;

struct Match {
  size_t length = 0;
  size_t source = 0;  // buffer index of the first copied byte
};

// Hash chains over the last 4096 positions.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* buffer, size_t end)
      : buffer_(buffer), end_(end), head_(size_t(1) << kHashBits, kNone), prev_(kRingSize, kNone) {}

  // Inserts every position before `position` that is not yet inserted.
  void InsertUpTo(size_t position) {
    for (; next_ < position; ++next_) {
      if (next_ + kMinMatch > end_) continue;
      uint32_t h = Hash(next_);
      prev_[next_ & kRingMask] = head_[h];
      head_[h] = int32_t(next_);
    }
  }

  Match Find(size_t position) {
    Match best;
    if (position + kMinMatch > end_) return best;
    InsertUpTo(position);
    const size_t limit = std::min(kMaxMatch, end_ - position);
    int32_t candidate = head_[Hash(position)];
    for (int steps = 0; candidate != kNone && steps < kChainLimit; ++steps) {
      size_t c = size_t(candidate);
      if (position - c > kMaxDistance) break;
      size_t n = CommonLength(c, position, limit);
      if (n > best.length) {
        best.length = n;
        best.source = c;
        if (n == limit) break;
      }
      candidate = prev_[c & kRingMask];
    }
    if (best.length < kMinMatch) best.length = 0;
    return best;
  }

 private:
  uint32_t Hash(size_t p) const {
    uint32_t v = uint32_t(buffer_[p]) | uint32_t(buffer_[p + 1]) << 8 | uint32_t(buffer_[p + 2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  }
  size_t CommonLength(size_t a, size_t b, size_t limit) const {
    size_t n = 0;
    while (n < limit && buffer_[a + n] == buffer_[b + n]) ++n;
    return n;
  }

  const uint8_t* buffer_;
  size_t end_;
  size_t next_ = kPrefix - kMaxMatch;  // the blanks right before the data
  std::vector<int32_t> head_;
  std::vector<int32_t> prev_;
};

// Collects tokens in groups of eight behind their flag byte.
class TokenWriter {
 public:
  explicit TokenWriter(std::vector<uint8_t>& out) : out_(out) {}
  ~TokenWriter() { Flush(); }

  void Literal(uint8_t c) {
    flags_ |= uint8_t(1u << count_);
    group_[used_++] = c;
    Advance();
  }
  void Reference(size_t ringOffset, size_t length) {
    group_[used_++] = uint8_t(ringOffset & 0xFF);
    group_[used_++] = uint8_t(((ringOffset >> 4) & 0xF0) | (length - kMinMatch));
    Advance();
  }
  void Flush() {
    if (count_ == 0) return;
    out_.push_back(flags_);
    out_.insert(out_.end(), group_, group_ + used_);
    flags_ = 0;
    count_ = 0;
    used_ = 0;
  }

 private:
  void Advance() {
    if (++count_ == 8) Flush();
  }
  std::vector<uint8_t>& out_;
  uint8_t flags_ = 0;
  unsigned count_ = 0;
  uint8_t group_[16];
  size_t used_ = 0;
};

// Greedy parsing with one step of lazy evaluation: a match is deferred when
// the next position starts a longer one.
void EncodeTokens(const std::vector<uint8_t>& buffer, std::vector<uint8_t>& out) {
  const size_t end = buffer.size();
  MatchFinder finder(buffer.data(), end);
  TokenWriter writer(out);
  size_t p = kPrefix;
  Match current = finder.Find(p);
  while (p < end) {
    if (current.length == 0) {
      writer.Literal(buffer[p]);
      current = finder.Find(++p);
      continue;
    }
    if (current.length < kMaxMatch) {
      Match next = finder.Find(p + 1);
      if (next.length > current.length) {
        writer.Literal(buffer[p]);
        ++p;
        current = next;
        continue;
      }
    }
    writer.Reference((current.source + kRingStart) & kRingMask, current.length);
    p += current.length;
    current = finder.Find(p);
  }
}

}  // namespace

uint8_t SzddLastCharOf(const char* fileName) {
  if (!fileName) return 0;
  const char* base = fileName;
  for (const char* s = fileName; *s; ++s)
    if (*s == '\\' || *s == '/' || *s == ':') base = s + 1;
  size_t n = std::strlen(base);
  return n ? uint8_t(base[n - 1]) : 0;
}

std::vector<uint8_t> SzddCompress(const uint8_t* data, size_t size, uint8_t lastChar) {
  std::vector<uint8_t> out(kSignature, kSignature + sizeof kSignature);
  out.push_back(kModeA);
  out.push_back(lastChar);
  AppendLe32(out, uint32_t(size));
  if (size == 0) return out;

  std::vector<uint8_t> buffer(kPrefix + size, ' ');
  std::memcpy(buffer.data() + kPrefix, data, size);
  out.reserve(out.size() + size + size / 8 + 16);
  EncodeTokens(buffer, out);
  return out;
}

bool ReadSzddHeader(const uint8_t* data, size_t size, SzddHeader& header) {
  if (!data || size < kSzddHeaderSize || std::memcmp(data, kSignature, sizeof kSignature) != 0) return false;
  header.mode = data[8];
  header.lastChar = data[9];
  header.expandedLength = ReadLe32(data + 10);
  return true;
}

SzddStatus SzddExpand(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  out.clear();
  SzddHeader header;
  if (!ReadSzddHeader(data, size, header)) return SzddStatus::NotSzdd;
  if (header.mode != kModeA) return SzddStatus::UnknownMode;

  // Eight references of 18 bytes per 17 input bytes is the most a stream can give.
  out.reserve(std::min<size_t>(header.expandedLength, (size - kSzddHeaderSize) * 9 + 16));
  uint8_t ring[kRingSize];
  std::memset(ring, ' ', sizeof ring);
  size_t pos = kRingStart;
  size_t i = kSzddHeaderSize;
  while (i < size) {
    unsigned flags = data[i++];
    for (int bit = 0; bit < 8 && i < size; ++bit, flags >>= 1) {
      if (flags & 1) {
        uint8_t c = data[i++];
        out.push_back(c);
        ring[pos] = c;
        pos = (pos + 1) & kRingMask;
        continue;
      }
      if (size - i < 2) return SzddStatus::Truncated;
      size_t offset = data[i] | (size_t(data[i + 1] & 0xF0) << 4);
      size_t length = (data[i + 1] & 0x0F) + kMinMatch;
      i += 2;
      for (size_t k = 0; k < length; ++k) {
        uint8_t c = ring[(offset + k) & kRingMask];  // read before write, as LZCopy does
        out.push_back(c);
        ring[pos] = c;
        pos = (pos + 1) & kRingMask;
      }
    }
  }
  return out.size() == header.expandedLength ? SzddStatus::Ok : SzddStatus::LengthMismatch;
}
