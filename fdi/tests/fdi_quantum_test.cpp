// Quantum paths beyond the peer cabinets' one small file, through cabinets
// made by a test encoder: enough symbols for the models to rescale and
// re-sort, windows smaller than a frame, every match form, several frames.
#include <gtest/gtest.h>

#include "qtm_test_encoder.h"
#include "test_support.h"

namespace {

using namespace fdt;

int extract(uint16_t compType, const std::vector<std::pair<Blob, uint16_t>>& blocks,
            const std::vector<uint32_t>& sizes, Blob& all) {
  CabSpec spec;
  spec.folderTypes = {compType};
  spec.rawBlocks = {blocks};
  for (size_t i = 0; i < sizes.size(); ++i)
    spec.files.push_back({"q" + std::to_string(i), Blob(sizes[i], 0)});
  resetFs();
  addFile("q.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  int error = copySet(hfdi, "q.cab", h) ? 0 : erf.erfOper;
  FDIDestroy(hfdi);
  all.clear();
  for (size_t i = 0; i < sizes.size(); ++i) {
    const Blob& b = h.extracted["q" + std::to_string(i)];
    all.insert(all.end(), b.begin(), b.end());
  }
  EXPECT_EQ(openHandleCount(), 0);
  EXPECT_EQ(fs().allocations, 0);
  return error;
}

// Text-like literals with matches of every form; nothing crosses a frame.
void fill(QtmTestEncoder& enc, uint32_t total, uint32_t window, uint32_t seed) {
  static const uint32_t lengths[] = {3, 4, 5, 6, 9, 13, 21, 37, 100, 259, 200, 7};
  uint32_t x = seed;
  while (enc.expected().size() < total) {
    x = x * 1103515245u + 12345u;
    size_t have = enc.expected().size();
    uint32_t room = uint32_t(std::min<size_t>(total - have, 32768 - have % 32768));
    uint32_t length = lengths[(x >> 8) % 12];
    uint32_t offset = 1 + (x >> 12) % std::min<uint32_t>(window, uint32_t(have ? have : 1));
    // The short-match models have fewer position slots than the window.
    uint32_t reach = length == 3 ? 4096 : length == 4 ? 98304 : window;
    if (have < 8 || (x >> 20) % 3 == 0 || length > room || offset > reach) {
      enc.literal(uint8_t("Quantum coder test "[(x >> 16) % 19] ^ ((x >> 27) & 3)));
    } else {
      enc.match(offset, length);
    }
  }
}

TEST(Quantum, ManyFramesForSeveralWindows) {
  for (unsigned windowBits : {10u, 12u, 15u, 21u}) {
    SCOPED_TRACE("window " + std::to_string(windowBits));
    QtmTestEncoder enc(windowBits);
    fill(enc, 120000, 1u << windowBits, windowBits);
    auto blocks = enc.finish();
    ASSERT_EQ(blocks.size(), 4u);
    Blob all;
    int error = extract(uint16_t(0x0002 | (windowBits << 8)), blocks, {70000, 50000}, all);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(all == enc.expected());
  }
}

TEST(Quantum, LiteralsOnlyReachTheModelResorting) {
  // One symbol over and over drives the selector model through 50 rescales.
  QtmTestEncoder enc(10);
  for (uint32_t i = 0; i < 32768 * 2 + 10; ++i) enc.literal(uint8_t(i % 97 == 0 ? 0xC3 : 'e'));
  auto blocks = enc.finish();
  Blob all;
  EXPECT_EQ(extract(0x0A02, blocks, {32768 * 2 + 10}, all), 0);
  EXPECT_TRUE(all == enc.expected());
}

}  // namespace
