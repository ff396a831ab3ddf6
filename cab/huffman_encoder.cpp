#include "huffman_encoder.h"

#include <algorithm>
#include <vector>

namespace cab::lzx {

namespace {

// Plain Huffman lengths through a two-queue merge over the sorted leaves.
unsigned HuffmanLengths(const uint32_t* freqs, unsigned count, uint8_t* lengths) {
  std::vector<unsigned> leaves;
  for (unsigned s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (freqs[s]) leaves.push_back(s);
  }
  if (leaves.empty()) return 0;
  if (leaves.size() == 1) {
    // Decoders refuse a code with an unused branch, so a lone symbol gets a
    // partner of the same length.
    lengths[leaves[0]] = 1;
    lengths[leaves[0] == 0 ? 1 : 0] = 1;
    return 1;
  }
  std::stable_sort(leaves.begin(), leaves.end(), [&](unsigned a, unsigned b) { return freqs[a] < freqs[b]; });
  const size_t n = leaves.size();
  std::vector<uint64_t> weight(2 * n);
  std::vector<size_t> parent(2 * n, 0);
  for (size_t i = 0; i < n; ++i) weight[i] = freqs[leaves[i]];
  size_t leaf = 0, inner = n, made = n;
  auto takeSmallest = [&]() {
    if (leaf < n && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
    return inner++;
  };
  while (made < 2 * n - 1) {
    size_t a = takeSmallest(), b = takeSmallest();
    weight[made] = weight[a] + weight[b];
    parent[a] = parent[b] = made++;
  }
  std::vector<unsigned> depth(2 * n, 0);
  unsigned deepest = 0;
  for (size_t i = 2 * n - 2; i-- > 0;) {
    depth[i] = depth[parent[i]] + 1;
    if (i < n) {
      lengths[leaves[i]] = uint8_t(std::min(depth[i], 255u));
      deepest = std::max(deepest, depth[i]);
    }
  }
  return deepest;
}

struct PretreeItem {
  uint8_t symbol;
  uint8_t extraBits;
  uint8_t extra;
  int8_t repeated;  // for 19: the difference symbol that follows, else -1
};

uint8_t Difference(uint8_t previous, uint8_t now) { return uint8_t((previous + 17 - now) % 17); }

std::vector<PretreeItem> PretreeItems(const uint8_t* lengths, const uint8_t* previous, unsigned first,
                                      unsigned last) {
  std::vector<PretreeItem> items;
  for (unsigned x = first; x < last;) {
    unsigned run = 1;
    while (x + run < last && lengths[x + run] == lengths[x]) ++run;
    if (lengths[x] == 0 && run >= 20) {
      run = std::min(run, 51u);
      items.push_back({18, 5, uint8_t(run - 20), -1});
    } else if (lengths[x] == 0 && run >= 4) {
      items.push_back({17, 4, uint8_t(run - 4), -1});
    } else if (run >= 4) {
      run = std::min(run, 5u);
      items.push_back({19, 1, uint8_t(run - 4), int8_t(Difference(previous[x], lengths[x]))});
    } else {
      run = 1;
      items.push_back({Difference(previous[x], lengths[x]), 0, 0, -1});
    }
    x += run;
  }
  return items;
}

}  // namespace

void BuildCodeLengths(const uint32_t* freqs, unsigned count, unsigned maxBits, uint8_t* lengths) {
  std::vector<uint32_t> scaled(freqs, freqs + count);
  // Flattening the frequencies until the code fits loses little: it happens
  // only for very skewed statistics.
  while (HuffmanLengths(scaled.data(), count, lengths) > maxBits) {
    for (uint32_t& f : scaled)
      if (f) f = (f >> 1) | 1;
  }
}

void CanonicalCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
  unsigned perLength[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < count; ++s) perLength[lengths[s]]++;
  perLength[0] = 0;
  uint32_t next[kMaxCodeBits + 2] = {};
  uint32_t code = 0;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    code = (code + perLength[len - 1]) << 1;
    next[len] = code;
  }
  for (unsigned s = 0; s < count; ++s) codes[s] = lengths[s] ? uint16_t(next[lengths[s]]++) : 0;
}

void WriteTreeLengths(BitWriter& out, const uint8_t* lengths, const uint8_t* previous, unsigned first,
                      unsigned last) {
  const std::vector<PretreeItem> items = PretreeItems(lengths, previous, first, last);
  uint32_t freqs[kPretreeSymbols] = {};
  for (const PretreeItem& i : items) {
    freqs[i.symbol]++;
    if (i.repeated >= 0) freqs[i.repeated]++;
  }
  uint8_t pre[kPretreeSymbols];
  uint16_t codes[kPretreeSymbols];
  BuildCodeLengths(freqs, kPretreeSymbols, 15, pre);  // sent in 4 bits each
  CanonicalCodes(pre, kPretreeSymbols, codes);
  for (unsigned s = 0; s < kPretreeSymbols; ++s) out.Put(pre[s], 4);
  for (const PretreeItem& i : items) {
    out.Put(codes[i.symbol], pre[i.symbol]);
    out.Put(i.extra, i.extraBits);
    if (i.repeated >= 0) out.Put(codes[i.repeated], pre[i.repeated]);
  }
}

}  // namespace cab::lzx
