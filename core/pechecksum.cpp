#include "pechecksum.h"

#include "byteorder.h"

namespace {

// Byte-wise, so a field at an odd offset (legal, if unusual) is still skipped.
uint8_t ByteOutsideField(const uint8_t* data, size_t i, size_t field) {
  return i >= field && i < field + 4 ? 0 : data[i];
}

}  // namespace

bool ReadPeImageFacts(const uint8_t* data, size_t size, PeImageFacts& facts) {
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  const uint32_t pe = ReadLe32(data + 0x3C);
  // "PE\0\0", the 20-byte file header, then the optional header whose
  // CheckSum lies at +64 in both its 32- and 64-bit forms.
  const uint64_t checksumAt = uint64_t(pe) + 4 + 20 + 64;
  if (checksumAt + 4 > size) return false;
  if (data[pe] != 'P' || data[pe + 1] != 'E' || data[pe + 2] != 0 || data[pe + 3] != 0) return false;
  const uint16_t optionalSize = ReadLe16(data + pe + 4 + 16);
  if (optionalSize < 64 + 4) return false;
  facts.checksumOffset = size_t(checksumAt);
  facts.machine = ReadLe16(data + pe + 4);
  facts.isDll = (ReadLe16(data + pe + 4 + 18) & 0x2000) != 0;
  facts.storedChecksum = ReadLe32(data + checksumAt);
  return true;
}

uint32_t ComputePeChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    uint32_t word = ByteOutsideField(data, i, checksumOffset);
    if (i + 1 < size) word |= uint32_t(ByteOutsideField(data, i + 1, checksumOffset)) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + uint32_t(size);
}

bool WritePeChecksum(uint8_t* data, size_t size) {
  PeImageFacts facts;
  if (!ReadPeImageFacts(data, size, facts)) return false;
  WriteLe32(data + facts.checksumOffset, ComputePeChecksum(data, size, facts.checksumOffset));
  return true;
}

void PeChecksumStream::AddBytes(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i, ++at_) {
    const uint32_t byte = at_ >= field_ && at_ < field_ + 4 ? 0 : data[i];
    if ((at_ & 1) == 0) {
      low_ = byte;
      continue;
    }
    sum_ += low_ | byte << 8;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
}

// Whole words away from the field are summed eight bytes at a time into a
// wide total and folded once: the end-around carry gives the same result
// folded at the end as after every word.
void PeChecksumStream::Add(const uint8_t* data, size_t size) {
  while (size) {
    uint64_t run = (at_ & 1) ? 0 : size & ~size_t(7);
    if (at_ < field_ + 4 && at_ + run > field_) run = at_ < field_ ? (field_ - at_) & ~uint64_t(7) : 0;
    if (run == 0) {  // half a word, the field or a short tail
      AddBytes(data, 1);
      ++data;
      --size;
      continue;
    }
    uint64_t total = sum_;
    for (uint64_t i = 0; i < run; i += 8) {
      const uint64_t v = ReadLe32(data + i) | uint64_t(ReadLe32(data + i + 4)) << 32;
      total += (v & 0xFFFF) + ((v >> 16) & 0xFFFF) + ((v >> 32) & 0xFFFF) + (v >> 48);
    }
    while (total >> 16) total = (total & 0xFFFF) + (total >> 16);
    sum_ = uint32_t(total);
    at_ += run;
    data += run;
    size -= size_t(run);
  }
}

uint32_t PeChecksumStream::Finish() const {
  uint32_t sum = sum_;
  if (at_ & 1) {
    sum += low_;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + uint32_t(at_);
}
