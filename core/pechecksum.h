// The checksum field of a PE image (the optional header's CheckSum), as the
// system's image loader and signing tools compute it: the file summed as
// 16-bit little-endian words with end-around carry, the field itself taken as
// zero, and the file's length added. A DLL whose field is not zero can thus
// be checked for damage before it is loaded.
#pragma once
#include <cstddef>
#include <cstdint>

struct PeImageFacts {
  size_t checksumOffset = 0;  // where the CheckSum field lies in the file
  uint16_t machine = 0;       // the file header's Machine (0x14C for i386)
  bool isDll = false;         // IMAGE_FILE_DLL set in the file header's Characteristics
  uint32_t storedChecksum = 0;
};

constexpr uint16_t kPeMachineI386 = 0x14C;
constexpr uint16_t kPeMachineAmd64 = 0x8664;

// False when the bytes do not hold an MZ header leading to a PE header with
// an optional header long enough to carry the CheckSum field.
bool ReadPeImageFacts(const uint8_t* data, size_t size, PeImageFacts& facts);

// The checksum of the image, with the 4 bytes at `checksumOffset` taken as 0.
uint32_t ComputePeChecksum(const uint8_t* data, size_t size, size_t checksumOffset);

// Stores the computed checksum in the field; false when the bytes are no PE image.
bool WritePeChecksum(uint8_t* data, size_t size);

// ComputePeChecksum over a file that comes in pieces, in order, so that a
// large file need not be held whole.
class PeChecksumStream {
 public:
  explicit PeChecksumStream(size_t checksumOffset) : field_(checksumOffset) {}
  void Add(const uint8_t* data, size_t size);
  // As ComputePeChecksum over every byte added.
  uint32_t Finish() const;

 private:
  void AddBytes(const uint8_t* data, size_t size);
  size_t field_;
  uint64_t at_ = 0;  // bytes added so far
  uint32_t sum_ = 0;
  uint32_t low_ = 0;  // the first byte of a word whose second is still to come
};
