// SZDD: the single-file LZ format that the Windows LZ expansion functions
// (LZOpenFile, LZCopy) read. The package carries the cabinet library in it.
//
//   +0   8  "SZDD" 88 F0 27 33
//   +8   1  mode, always 'A' (0x41)
//   +9   1  the character that the compressed file's name lost (or 0)
//   +10  4  length of the expanded data, little-endian
//   +14  …  groups of a flag byte and up to eight tokens
//
// Flag bits are read least significant first: 1 = one literal byte,
// 0 = a two-byte back reference  b1 b2  to offset  b1 | (b2 & 0xF0) << 4
// in a 4096-byte ring, length (b2 & 0x0F) + 3 (3..18). The ring starts out
// filled with blanks and the first expanded byte goes to ring position
// 0xFF0. References hold absolute ring offsets, not distances. The stream
// has no end marker: it ends where the file ends.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kSzddHeaderSize = 14;

// The byte that stands for the file name's last character: the last
// character of `fileName` (after any folder part), or 0 when it is empty.
uint8_t SzddLastCharOf(const char* fileName);

// Compresses `size` bytes into a complete SZDD file (header included).
std::vector<uint8_t> SzddCompress(const uint8_t* data, size_t size, uint8_t lastChar);

enum class SzddStatus {
  Ok,              // the stream ended on a token boundary and gave exactly the stored length
  NotSzdd,         // shorter than the header, or the signature differs
  UnknownMode,     // a mode other than 'A'
  Truncated,       // the data ended inside a back reference
  LengthMismatch,  // well-formed, but the expanded length differs from the stored one
};

// What the header says; false when `size` bytes hold no SZDD header.
struct SzddHeader {
  uint8_t mode = 0;
  uint8_t lastChar = 0;
  uint32_t expandedLength = 0;
};
bool ReadSzddHeader(const uint8_t* data, size_t size, SzddHeader& header);

// Expands an SZDD file. `out` receives every byte the stream decodes to, as
// the system's LZCopy would write them, also when the status is not Ok
// (Truncated and LengthMismatch keep the bytes decoded so far). Never reads
// outside [data, data + size); the output is at most about nine times the
// input, so hostile input cannot make it grow without bound.
SzddStatus SzddExpand(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
