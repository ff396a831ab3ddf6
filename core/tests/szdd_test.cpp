#include "szdd.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

Bytes Words(size_t n, uint32_t seed) {
  static const char* words[] = {"cabinet", "setup", "the", "file", "volume", "of", "and", "\r\n"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += std::string(words[rng() % 8]) + ' ';
  return Text(s.substr(0, n));
}

// A random unit repeated: references exist only when the period fits the ring.
Bytes Periodic(size_t period, size_t total, uint32_t seed) {
  Bytes unit = Random(period, seed), b;
  while (b.size() < total) b = Cat(b, unit);
  return Bytes(b.begin(), b.begin() + total);
}

Bytes Header(uint8_t mode, uint32_t length) {
  return {'S',
          'Z',
          'D',
          'D',
          0x88,
          0xF0,
          0x27,
          0x33,
          mode,
          0,
          uint8_t(length),
          uint8_t(length >> 8),
          uint8_t(length >> 16),
          uint8_t(length >> 24)};
}

TEST(Szdd, RoundTripsAndCompresses) {
  Bytes blanks(5000, ' ');
  blanks.push_back('x');
  struct Case {
    const char* name;
    Bytes data;
    double maxRatio;
  } cases[] = {
      {"empty", {}, 1},
      {"one byte", {0x41}, 2},
      {"random", Random(100000, 1), 1.13},  // 9 bits a literal
      {"run", Bytes(100000, 'a'), 0.13},    // 17 bits per 18 bytes
      {"leading blanks match the initial ring", blanks, 0.13},
      {"text", Words(200000, 2), 0.6},
      {"period 4095, the farthest reference", Periodic(4095, 64000, 4), 0.25},
      {"period 5000 is out of reach", Periodic(5000, 64000, 5), 1.13},
      {"megabytes mixed", Cat(Cat(Words(1 << 20, 7), Random(1 << 20, 8)), Bytes(3 << 20, 0)), 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes packed = SzddCompress(c.data.data(), c.data.size(), 'l');
    SzddHeader h;
    ASSERT_TRUE(ReadSzddHeader(packed.data(), packed.size(), h));
    EXPECT_EQ(h.mode, 'A');
    EXPECT_EQ(h.lastChar, 'l');
    EXPECT_EQ(h.expandedLength, c.data.size());
    Bytes back;
    EXPECT_EQ(SzddExpand(packed.data(), packed.size(), back), SzddStatus::Ok);
    EXPECT_TRUE(back == c.data);
    if (!c.data.empty()) EXPECT_LE(double(packed.size() - kSzddHeaderSize) / c.data.size(), c.maxRatio);
  }
  EXPECT_EQ(SzddLastCharOf("C:\\x\\cabinet.dll"), 'l');
  EXPECT_EQ(SzddLastCharOf("dir/"), 0);
  EXPECT_EQ(SzddLastCharOf(nullptr), 0);
}

TEST(Szdd, HostileInputsAreReported) {
  Bytes shortHeader = Header('A', 0);
  shortHeader.pop_back();
  struct Case {
    const char* name;
    Bytes input;
    SzddStatus status;
    Bytes output;
  } cases[] = {
      {"nothing", {}, SzddStatus::NotSzdd, {}},
      {"short header", shortHeader, SzddStatus::NotSzdd, {}},
      {"wrong signature", Cat(Text("SZDE"), Bytes(10, 0)), SzddStatus::NotSzdd, {}},
      {"mode B", Header('B', 0), SzddStatus::UnknownMode, {}},
      {"flag byte alone", Cat(Header('A', 0), {0xFF}), SzddStatus::Ok, {}},
      {"reference cut short", Cat(Header('A', 4), {0x01, 'q', 0xF0}), SzddStatus::Truncated, {'q'}},
      {"reference into the initial ring", Cat(Header('A', 5), {0x00, 0x00, 0x02}), SzddStatus::Ok,
       Text("     ")},
      {"overlapping reference", Cat(Header('A', 4), {0x01, 'z', 0xF0, 0xF0}), SzddStatus::Ok, Text("zzzz")},
      {"reference at the write position", Cat(Header('A', 3), {0x00, 0xF0, 0xF0}), SzddStatus::Ok,
       Text("   ")},
      {"stored length too large", Cat(Header('A', 9), {0x01, 'q'}), SzddStatus::LengthMismatch, {'q'}},
      {"stored length too small",
       Cat(Header('A', 0), {0x03, 'q', 'r'}),
       SzddStatus::LengthMismatch,
       {'q', 'r'}},
  };
  for (const Case& c : cases) {
    Bytes out = {1, 2, 3};
    EXPECT_EQ(SzddExpand(c.input.data(), c.input.size(), out), c.status) << c.name;
    EXPECT_TRUE(out == c.output) << c.name;
  }
  // Every cut of a valid file fails and yields a prefix of the original; each
  // cut lives in its own allocation, so reading past it shows under a sanitizer.
  Bytes original = Words(3000, 11), packed = SzddCompress(original.data(), original.size(), 0);
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    Bytes part(packed.begin(), packed.begin() + cut), out;
    ASSERT_NE(SzddExpand(part.data(), part.size(), out), SzddStatus::Ok) << cut;
    ASSERT_TRUE(out.size() <= original.size() && std::equal(out.begin(), out.end(), original.begin())) << cut;
  }
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    Bytes junk = Cat(Header('A', rng()), Random(rng() % 2000, rng())), out;
    SzddExpand(junk.data(), junk.size(), out);
    EXPECT_LE(out.size(), (junk.size() - kSzddHeaderSize) * 9);
  }
}

std::string Shell(const std::string& dir, const std::string& command) {
  return "cd '" + dir + "' && (" + command + ") 2>/dev/null";
}

void Put(const std::string& path, const Bytes& b) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes Get(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Our files expand with msexpand; whatever msexpand makes of mscompress's
// files, ours makes too (mscompress mangles inputs of a few bytes, so only
// the larger ones must come back as they went in).
TEST(Szdd, InteropWithMscompressPackage) {
  if (std::system("command -v msexpand >/dev/null && command -v mscompress >/dev/null") != 0)
    GTEST_SKIP() << "package mscompress is not installed";
  char tmpl[] = "/tmp/szddtest.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  Bytes inputs[] = {Words(100000, 23),
                    Random(70000, 24),
                    Bytes(50000, 0),
                    Periodic(4095, 40000, 25),
                    Cat(Words(300000, 21), Random(200000, 22)),
                    Text("a short line\r\n")};
  for (const Bytes& data : inputs) {
    Bytes ours = SzddCompress(data.data(), data.size(), 'l');
    Put(dir + "/ours", ours);
    ASSERT_EQ(std::system(Shell(dir, "msexpand < ours > ours.out").c_str()), 0);
    EXPECT_TRUE(Get(dir + "/ours.out") == data) << data.size();

    Put(dir + "/in", data);
    ASSERT_EQ(std::system(Shell(dir, "rm -f in_ && mscompress in && msexpand < in_ > ref").c_str()), 0);
    Bytes theirs = Get(dir + "/in_"), back;
    SzddExpand(theirs.data(), theirs.size(), back);
    EXPECT_TRUE(back == Get(dir + "/ref")) << data.size();
    if (data.size() > 1000) EXPECT_TRUE(back == data) << data.size();
  }
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
