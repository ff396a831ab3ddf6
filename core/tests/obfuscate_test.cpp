#include "uObfuscate.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const std::string kKey = "RUVEKA";

// The byte relation the scrambled streams follow: y = x ^ ~K[p mod L].
uint8_t Expected(uint8_t plain, const std::string& key, uint32_t position) {
  return plain ^ static_cast<uint8_t>(~static_cast<uint8_t>(key[position % key.size()]));
}

}  // namespace

TEST(InvertKey, ComplementsEveryByteAndLeavesTheArgument) {
  const std::string key = std::string("A\x00\xFF", 3);
  const std::string inverted = InvertKey(key);
  ASSERT_EQ(3u, inverted.size());
  EXPECT_EQ(char(0xBE), inverted[0]);
  EXPECT_EQ(char(0xFF), inverted[1]);
  EXPECT_EQ(char(0x00), inverted[2]);
  EXPECT_EQ(std::string("A\x00\xFF", 3), key);
  EXPECT_EQ("", InvertKey(""));
}

TEST(Descramble, UsesKeyIndicesFromTheStartIndexAndWraps) {
  // Ten zero bytes from stream position 4 with L = 6: indices 5,6,1,2,3,4,5,6,1,2.
  std::vector<uint8_t> buffer(10, 0);
  const std::string inv = InvertKey(kKey);
  Descramble(buffer.data(), inv, 10, 5);
  const int indices[10] = {5, 6, 1, 2, 3, 4, 5, 6, 1, 2};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(uint8_t(inv[indices[i] - 1]), buffer[i]) << i;
}

TEST(Descramble, PositionsAMultipleOfTheKeyLengthApartShareAKeyByte) {
  std::vector<uint8_t> buffer(18, 0);
  DescrambleAt(buffer.data(), InvertKey(kKey), buffer.size(), 0);
  for (int p : {0, 6, 12}) EXPECT_EQ(uint8_t(~'R'), buffer[p]);
  for (int p : {5, 11, 17}) EXPECT_EQ(uint8_t(~'A'), buffer[p]);
}

TEST(Descramble, NonPositiveCountChangesNothing) {
  std::vector<uint8_t> buffer = {1, 2, 3};
  Descramble(buffer.data(), InvertKey(kKey), 0, 1);
  Descramble(buffer.data(), InvertKey(kKey), -5, 1);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), buffer);
}

TEST(Descramble, ResultDoesNotDependOnHowTheStreamIsCut) {
  const std::string key = kKey + "pässwörd";
  const std::string inv = InvertKey(key);
  std::vector<uint8_t> plain(1000);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 31 + 7);

  std::vector<uint8_t> whole = plain;
  DescrambleAt(whole.data(), inv, whole.size(), 0);
  for (uint32_t p = 0; p < plain.size(); ++p) ASSERT_EQ(Expected(plain[p], key, p), whole[p]) << p;

  for (size_t cut : {1u, 5u, 13u, 64u, 999u}) {
    std::vector<uint8_t> pieces = plain;
    for (size_t at = 0; at < pieces.size(); at += cut) {
      const size_t n = std::min(cut, pieces.size() - at);
      DescrambleAt(pieces.data() + at, inv, n, static_cast<uint32_t>(at));
    }
    EXPECT_EQ(whole, pieces) << "reads of " << cut;
  }
}

// Runs of 64 bytes and more go a word at a time: every key length against
// the word size, from every start position, at the lengths around the switch.
TEST(Descramble, LongRunsFollowTheByteRelationForEveryKeyLengthAndStart) {
  for (const std::string key : {std::string("R"), kKey + "p", kKey + "pa", kKey + "pas", kKey + std::string(27, 'x')}) {
    const std::string inv = InvertKey(key);
    for (uint32_t start = 0; start < key.size() + 9; ++start) {
      for (size_t count : {63u, 64u, 65u, 71u, 200u}) {
        std::vector<uint8_t> plain(count);
        for (size_t i = 0; i < count; ++i) plain[i] = uint8_t(i * 29 + start);
        std::vector<uint8_t> out = plain;
        DescrambleAt(out.data(), inv, count, start);
        for (uint32_t i = 0; i < count; ++i)
          ASSERT_EQ(Expected(plain[i], key, start + i), out[i])
              << "key length " << key.size() << ", start " << start << ", count " << count << ", byte " << i;
      }
    }
  }
}

TEST(Descramble, TwiceGivesBackThePlainBytesAndAPasswordChangesTheResult) {
  std::vector<uint8_t> plain(100);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i);
  std::vector<uint8_t> once = plain;
  DescrambleAt(once.data(), InvertKey(kKey), once.size(), 17);
  std::vector<uint8_t> twice = once;
  DescrambleAt(twice.data(), InvertKey(kKey), twice.size(), 17);
  EXPECT_EQ(plain, twice);

  std::vector<uint8_t> withPassword = plain;
  DescrambleAt(withPassword.data(), InvertKey(kKey + "pw"), withPassword.size(), 17);
  EXPECT_NE(once, withPassword);
}
