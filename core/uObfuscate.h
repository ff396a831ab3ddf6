// The stream scrambler of packaged cabinets: a position-keyed XOR with the
// bitwise complement of a repeating key. The stored byte y at stream position
// p and the plain byte x satisfy  y = x ^ ~K[p mod L],  so one transformation
// both scrambles and descrambles, however the stream is cut into reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Every byte of `key` replaced by its complement (255 - b).
std::string InvertKey(const std::string& key);

// XORs `count` bytes of `buffer` with the inverted key, starting at the
// 1-based key index `startIndex` and wrapping after the last key byte.
// A count of 0 or less, or an empty key, changes nothing.
void Descramble(uint8_t* buffer, const std::string& invertedKey, int32_t count, int32_t startIndex);

// Descrambles (or scrambles) `count` bytes that start at stream position
// `position`: the key index follows from the position alone.
void DescrambleAt(uint8_t* buffer, const std::string& invertedKey, size_t count, uint32_t position);
