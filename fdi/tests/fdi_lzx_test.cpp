// LZX paths that the peer cabinets do not reach, through cabinets made by a
// test encoder: aligned-offset blocks, uncompressed blocks of odd length that
// cross frames, repeated offsets, matches past a frame's end, changing tree
// lengths, window wrap-around, and the E8 call translation.
#include <gtest/gtest.h>

#include "lzx_test_encoder.h"
#include "test_support.h"

namespace {

using namespace fdt;

Blob extractOne(uint16_t compType, const std::vector<std::pair<Blob, uint16_t>>& blocks,
                const std::vector<uint32_t>& fileSizes, std::map<std::string, Blob>& files, int& error) {
  CabSpec spec;
  spec.folderTypes = {compType};
  spec.rawBlocks = {blocks};
  uint32_t total = 0;
  for (size_t i = 0; i < fileSizes.size(); ++i) {
    spec.files.push_back({"f" + std::to_string(i), Blob(fileSizes[i], 0)});
    total += fileSizes[i];
  }
  resetFs();
  addFile("lzx.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  error = copySet(hfdi, "lzx.cab", h) ? 0 : erf.erfOper;
  FDIDestroy(hfdi);
  files = h.extracted;
  Blob all;
  for (size_t i = 0; i < fileSizes.size(); ++i) {
    const Blob& b = files["f" + std::to_string(i)];
    all.insert(all.end(), b.begin(), b.end());
  }
  EXPECT_EQ(openHandleCount(), 0);
  EXPECT_EQ(fs().allocations, 0);
  return all;
}

// Literals and matches of many offsets and lengths until the block is full.
// No match runs over the window's end, which the format does not allow.
void fillCompressed(LzxTestEncoder& enc, uint32_t blockLength, uint32_t windowSize, uint32_t seed) {
  static const uint32_t offsets[] = {1, 2, 3, 4, 5, 7, 13, 100, 1000, 5000, 20000, 32000, 100000, 500000};
  static const uint32_t lengths[] = {2, 3, 8, 9, 10, 30, 257, 100};
  uint32_t left = blockLength, i = seed;
  while (left > 0) {
    ++i;
    size_t have = enc.expected().size();
    uint32_t offset = offsets[i % 14], length = lengths[(i / 3) % 8];
    if (left < 300 || have < 2 || i % 5 == 0) {
      enc.literal(uint8_t("LZX test data: "[i % 15] + (i / 15) % 7));
      --left;
    } else if ((have % windowSize) + length > windowSize) {
      enc.literal(uint8_t(i));
      --left;
    } else if (i % 7 == 0) {
      uint32_t len = std::min(length, left);
      if (len < 2) {
        enc.literal('x');
        --left;
        continue;
      }
      enc.repeatMatch(int(i % 3), len);
      left -= len;
    } else if (offset <= have && offset < windowSize - 300) {
      uint32_t len = std::min(length, left);
      if (len < 2) {
        enc.literal('y');
        --left;
        continue;
      }
      enc.match(offset, len);
      left -= len;
    } else {
      enc.literal(uint8_t(i * 31));
      --left;
    }
  }
}

TEST(Lzx, MixedBlocksAcrossFramesForEveryWindow) {
  for (unsigned windowBits : {15u, 16u, 17u, 21u}) {
    SCOPED_TRACE("window " + std::to_string(windowBits));
    uint32_t windowSize = 1u << windowBits;
    LzxTestEncoder enc(windowBits, 0);
    enc.beginVerbatim(40000, 0);  // runs from the first frame into the second
    fillCompressed(enc, 40000, windowSize, 1);
    enc.beginUncompressed(30001);  // odd, and crosses into the third frame
    for (uint32_t i = 0; i < 30001; ++i) enc.raw(uint8_t(i * 7 + (i >> 8)));
    enc.beginAligned(29999, 1);
    fillCompressed(enc, 29999, windowSize, 2);
    enc.beginVerbatim(7000, 2);  // other tree lengths than the block before
    fillCompressed(enc, 7000, windowSize, 3);
    enc.beginUncompressed(6);
    for (int i = 0; i < 6; ++i) enc.raw(uint8_t('A' + i));
    auto blocks = enc.finish();
    ASSERT_EQ(blocks.size(), 4u);
    std::map<std::string, Blob> files;
    int error = -1;
    Blob all = extractOne(uint16_t(0x0003 | (windowBits << 8)), blocks, {50000, 1, 57005}, files, error);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(all == enc.expected());
  }
}

TEST(Lzx, MatchPastTheFrameEndCarriesIntoTheNextFrame) {
  LzxTestEncoder enc(16, 0);
  enc.beginVerbatim(32768 + 300, 0);
  for (int i = 0; i < 1000; ++i) enc.literal(uint8_t(i));
  while (enc.expected().size() + 257 < 32768 - 100) enc.match(1000, 257);
  while (enc.expected().size() < 32760) enc.literal('z');
  enc.match(500, 250);  // ends 242 bytes into the second frame
  while (enc.expected().size() < 32768 + 300) enc.literal('q');
  auto blocks = enc.finish();
  ASSERT_EQ(blocks.size(), 2u);
  std::map<std::string, Blob> files;
  int error = -1;
  Blob all = extractOne(0x1003, blocks, {32768 + 300}, files, error);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(all == enc.expected());
}

TEST(Lzx, MatchOverTheWindowEndIsRefused) {
  // With a 32 KiB window the frame's end is the window's end.
  LzxTestEncoder enc(15, 0);
  enc.beginVerbatim(32768 + 300, 0);
  for (int i = 0; i < 32760; ++i) enc.literal(uint8_t(i));
  enc.match(500, 250);
  while (enc.expected().size() < 32768 + 300) enc.literal('q');
  auto blocks = enc.finish();
  std::map<std::string, Blob> files;
  int error = -1;
  extractOne(0x0F03, blocks, {32768 + 300}, files, error);
  EXPECT_EQ(error, FDIERROR_MDI_FAIL);
}

TEST(Lzx, CallTranslationIsUndoneWithinRangeOnly) {
  const uint32_t fileSize = 0x100000;
  LzxTestEncoder enc(16, fileSize);
  enc.beginVerbatim(32768 + 100, 0);
  struct Planted {
    uint32_t at;
    uint32_t stored;
    uint32_t expected;
  };
  const Planted planted[] = {
      {20, 0x00000100, 0x100 - 20},                 // forward target: minus position
      {40, 0xFFFFFFF0, 0xFFFF0},                    // negative, within reach: plus file size
      {60, fileSize + 5, fileSize + 5},             // beyond the file: unchanged
      {70, uint32_t(-100), uint32_t(-100)},         // before the start: unchanged
      {32768 + 10, 0x9000, 0x9000 - (32768 + 10)},  // positions run on across frames
      {32768 + 92, 0x50, 0x50},                     // in the last ten bytes of the frame
  };
  Blob expected;
  size_t next = 0;
  while (expected.size() < 32768 + 100) {
    if (next < 6 && expected.size() == planted[next].at) {
      enc.literal(0xE8);
      expected.push_back(0xE8);
      for (int k = 0; k < 4; ++k) {
        enc.literal(uint8_t(planted[next].stored >> (8 * k)));
        expected.push_back(uint8_t(planted[next].expected >> (8 * k)));
      }
      ++next;
    } else {
      enc.literal('a');
      expected.push_back('a');
    }
  }
  auto blocks = enc.finish();
  std::map<std::string, Blob> files;
  int error = -1;
  Blob all = extractOne(0x1003, blocks, {32768 + 100}, files, error);
  EXPECT_EQ(error, 0);
  ASSERT_EQ(all.size(), expected.size());
  for (const Planted& p : planted)
    EXPECT_TRUE(std::equal(all.begin() + p.at, all.begin() + p.at + 5, expected.begin() + p.at)) << p.at;
  EXPECT_TRUE(all == expected);
}

TEST(Lzx, DamagedStreamsFail) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::pair<Blob, uint16_t>>&)> damage;
  };
  const Case cases[] = {
      {"frame cut short", [](auto& b) { b[0].first.resize(b[0].first.size() / 2); }},
      {"block type 0",
       [](auto& b) {
         b[0].first[0] &= 0x1F;
         b[0].first[1] = 0;
       }},
      {"claims more output", [](auto& b) { b[1].second = uint16_t(b[1].second + 5000); }},
      {"empty frame", [](auto& b) { b[0].first.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LzxTestEncoder enc(15, 0);
    enc.beginVerbatim(40000, 0);
    fillCompressed(enc, 40000, 32768, 9);
    auto blocks = enc.finish();
    c.damage(blocks);
    std::map<std::string, Blob> files;
    int error = -1;
    Blob all = extractOne(0x0F03, blocks, {40000}, files, error);
    EXPECT_TRUE(error == FDIERROR_MDI_FAIL || error == FDIERROR_CORRUPT_CABINET) << error;
  }
}

}  // namespace

namespace {

// Uncompressed blocks start on a 16-bit word: the rest of the current word is
// dropped, or a whole word when the header ended on a boundary. Blocks after
// a varying number of literals reach every bit position.
TEST(Lzx, UncompressedBlockAfterEveryBitPosition) {
  for (uint32_t literals = 1; literals <= 40; ++literals) {
    SCOPED_TRACE(literals);
    LzxTestEncoder enc(15, 0);
    enc.beginVerbatim(literals, literals % 3);
    for (uint32_t i = 0; i < literals; ++i) enc.literal(uint8_t('a' + i % 26));
    enc.beginUncompressed(5);
    for (int i = 0; i < 5; ++i) enc.raw(uint8_t('0' + i));
    enc.beginVerbatim(3, 0);
    for (int i = 0; i < 3; ++i) enc.literal('!');
    auto blocks = enc.finish();
    std::map<std::string, Blob> files;
    int error = -1;
    Blob all = extractOne(0x0F03, blocks, {literals + 8}, files, error);
    EXPECT_EQ(error, 0);
    EXPECT_TRUE(all == enc.expected());
  }
}

}  // namespace
