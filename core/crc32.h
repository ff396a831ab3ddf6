// CRC-32 as zip, zlib and PNG compute it (reflected polynomial 0xEDB88320,
// all-ones start and final inversion), without zlib: the stub carries no
// third-party code. Feed a stream in pieces by passing the previous result.
#pragma once
#include <cstddef>
#include <cstdint>

// On x86 processors with a carry-less multiply, long runs are folded with it.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size);
// The same by tables alone, on any processor.
uint32_t Crc32UpdatePortable(uint32_t crc, const uint8_t* data, size_t size);

inline uint32_t Crc32(const uint8_t* data, size_t size) { return Crc32Update(0, data, size); }
