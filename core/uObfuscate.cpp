#include "uObfuscate.h"

#include <cstring>

std::string InvertKey(const std::string& key) {
  std::string inverted(key);
  for (char& c : inverted) c = static_cast<char>(~static_cast<unsigned char>(c));
  return inverted;
}

void Descramble(uint8_t* buffer, const std::string& invertedKey, int32_t count, int32_t startIndex) {
  const int32_t length = static_cast<int32_t>(invertedKey.size());
  if (count <= 0 || length == 0) return;
  int32_t j = startIndex;
  if (j < 1 || j > length) j = 1;
  int32_t i = 0;
  if (count >= 64) {
    // A whole payload passes through here: eight words at a time instead of
    // one byte. The pattern holds the key eight times over plus one word, so
    // the eight key bytes for any position lie side by side in it.
    const int32_t period = 8 * length;
    std::string pattern;
    pattern.reserve(period + 8);
    for (int32_t k = 0; k < period + 8; ++k) pattern += invertedKey[k % length];
    int32_t at = j - 1;
    for (; i + 8 <= count; i += 8) {
      uint64_t word, key;
      std::memcpy(&word, buffer + i, 8);
      std::memcpy(&key, pattern.data() + at, 8);
      word ^= key;
      std::memcpy(buffer + i, &word, 8);
      at += 8;
      if (at >= period) at -= period;
    }
    j = at % length + 1;
  }
  for (; i < count; ++i) {
    buffer[i] ^= static_cast<uint8_t>(invertedKey[j - 1]);
    if (++j > length) j = 1;
  }
}

void DescrambleAt(uint8_t* buffer, const std::string& invertedKey, size_t count, uint32_t position) {
  if (invertedKey.empty()) return;
  // Large buffers go in chunks so that each count fits the 32-bit form.
  while (count > 0) {
    const size_t chunk = count > 0x40000000u ? 0x40000000u : count;
    const int32_t startIndex = static_cast<int32_t>(position % invertedKey.size()) + 1;
    Descramble(buffer, invertedKey, static_cast<int32_t>(chunk), startIndex);
    buffer += chunk;
    count -= chunk;
    position += static_cast<uint32_t>(chunk);
  }
}
