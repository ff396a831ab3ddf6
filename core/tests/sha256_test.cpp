#include "sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const uint8_t digest[kSha256Size]) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < kSha256Size; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    text += two;
  }
  return text;
}

std::string DigestOf(const std::string& data) {
  uint8_t digest[kSha256Size];
  Sha256(reinterpret_cast<const uint8_t*>(data.data()), data.size(), digest);
  return Hex(digest);
}

// The same data fed in pieces of the given sizes, cycled.
std::string DigestInPieces(const std::string& data, const std::vector<size_t>& pieces) {
  Sha256State state;
  Sha256Init(state);
  size_t at = 0;
  for (size_t i = 0; at < data.size(); ++i) {
    const size_t n = std::min(pieces[i % pieces.size()], data.size() - at);
    Sha256Update(state, reinterpret_cast<const uint8_t*>(data.data()) + at, n);
    at += n;
  }
  uint8_t digest[kSha256Size];
  Sha256Final(state, digest);
  return Hex(digest);
}

}  // namespace

// FIPS 180-4's examples and the NIST test vectors, whole and in pieces that
// straddle the 64-byte blocks.
TEST(Sha256, MatchesTheStandardVectors) {
  const struct {
    std::string message;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopq"
       "rs"
       "tnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.digest, DigestOf(c.message)) << c.message.size() << " bytes";
    EXPECT_EQ(c.digest, DigestInPieces(c.message, {1, 63, 65, 7})) << c.message.size() << " bytes";
  }
}

// Against Python's hashlib: every length around the padding's edges (55, 56,
// 63, 64 and their next blocks) and random lengths, of random bytes, fed in
// random pieces. The seed is printed so that a failure can be repeated.
TEST(Sha256, AgreesWithPythonAroundBlockBoundaries) {
  const unsigned seed = std::random_device()();
  std::mt19937 random(seed);
  std::vector<size_t> lengths;
  for (size_t base : {0, 64, 128, 960, 4096})
    for (size_t edge : {0, 1, 54, 55, 56, 57, 62, 63}) lengths.push_back(base + edge);
  for (int i = 0; i < 40; ++i) lengths.push_back(random() % 5000);
  std::string data(5000, '\0');
  for (char& c : data) c = char(random());

  const std::string path = testing::TempDir() + "sha256_input.bin";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  ASSERT_EQ(data.size(), std::fwrite(data.data(), 1, data.size(), f));
  std::fclose(f);
  std::string command =
      "python3 -c \"import hashlib,sys; d=open(sys.argv[1],'rb').read(); "
      "[print(hashlib.sha256(d[:int(n)]).hexdigest()) for n in sys.argv[2:]]\" " +
      path;
  for (size_t n : lengths) command += " " + std::to_string(n);
  std::FILE* python = popen(command.c_str(), "r");
  ASSERT_TRUE(python);
  char line[80];
  size_t checked = 0;
  for (size_t n : lengths) {
    if (!std::fgets(line, sizeof line, python)) break;
    const std::string expected(line, 64);
    const std::string prefix = data.substr(0, n);
    EXPECT_EQ(expected, DigestOf(prefix)) << n << " bytes, seed " << seed;
    EXPECT_EQ(expected, DigestInPieces(prefix, {size_t(random() % 130 + 1)})) << n << " bytes, seed " << seed;
    ++checked;
  }
  EXPECT_EQ(0, pclose(python));
  EXPECT_EQ(lengths.size(), checked) << "python3 gave fewer digests than asked for";
  std::remove(path.c_str());
}
