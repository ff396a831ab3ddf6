#include "uObfuscate.h"

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
  for (int32_t i = 0; i < count; ++i) {
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
