#include "szdd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

// Words drawn from a small vocabulary: compressible the way real text is.
Bytes SomeText(size_t n, uint32_t seed) {
  static const char* words[] = {"cabinet", "setup", "the", "file", "volume", "folder",
                                "Windows", "extract", "of", "and", "package", "\r\n"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % 12];
    s += ' ';
  }
  s.resize(n);
  return FromText(s);
}

// A random block repeated at a fixed distance: matches exist only when the
// distance fits the 4096-byte ring.
Bytes Repeated(size_t period, size_t total, uint32_t seed) {
  Bytes unit = RandomBytes(period, seed);
  Bytes b;
  while (b.size() < total) b.insert(b.end(), unit.begin(), unit.end());
  b.resize(total);
  return b;
}

Bytes Compress(const Bytes& b, uint8_t lastChar = 'l') {
  return SzddCompress(b.data(), b.size(), lastChar);
}

struct RoundTrip {
  const char* name;
  Bytes data;
  double maxRatio;  // compressed payload / input, a bound that only a working match finder meets
};

std::vector<RoundTrip> RoundTrips() {
  Bytes allValues(256);
  for (int i = 0; i < 256; ++i) allValues[i] = uint8_t(i);
  Bytes leadingBlanks(5000, ' ');
  leadingBlanks.push_back('x');
  Bytes mixed = SomeText(1 << 20, 7);
  Bytes noise = RandomBytes(1 << 20, 8);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  Bytes zeros(3 << 20, 0);
  mixed.insert(mixed.end(), zeros.begin(), zeros.end());
  return {
      {"empty", {}, 1.0},
      {"one byte", {0x41}, 2.0},
      {"three bytes", FromText("abc"), 2.0},
      {"all byte values", allValues, 1.2},
      {"run of one byte", Bytes(100000, 'a'), 0.13},
      {"leading blanks match the initial ring", leadingBlanks, 0.13},
      {"random", RandomBytes(100000, 1), 1.13},
      {"text", SomeText(200000, 2), 0.6},
      {"period 4000 fits the ring", Repeated(4000, 64000, 3), 0.25},
      {"period 4095 is the farthest reference", Repeated(4095, 64000, 4), 0.25},
      {"period 5000 is out of reach", Repeated(5000, 64000, 5), 1.13},
      {"several megabytes mixed", mixed, 0.5},
  };
}

TEST(Szdd, RoundTripsAndCompresses) {
  for (const RoundTrip& t : RoundTrips()) {
    SCOPED_TRACE(t.name);
    Bytes packed = Compress(t.data);
    SzddHeader header;
    ASSERT_TRUE(ReadSzddHeader(packed.data(), packed.size(), header));
    EXPECT_EQ(header.mode, 'A');
    EXPECT_EQ(header.lastChar, 'l');
    EXPECT_EQ(header.expandedLength, t.data.size());
    Bytes back;
    EXPECT_EQ(SzddExpand(packed.data(), packed.size(), back), SzddStatus::Ok);
    EXPECT_TRUE(back == t.data);
    double payload = double(packed.size() - kSzddHeaderSize);
    if (!t.data.empty()) EXPECT_LE(payload / t.data.size(), t.maxRatio);
  }
}

TEST(Szdd, HeaderLayout) {
  Bytes packed = Compress(FromText("hello"), 'x');
  const uint8_t expected[14] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', 'x', 5, 0, 0, 0};
  ASSERT_GE(packed.size(), 14u);
  EXPECT_TRUE(std::equal(expected, expected + 14, packed.begin()));
  // Five literals behind one flag byte whose low five bits are set.
  EXPECT_EQ(packed.size(), 14u + 1 + 5);
  EXPECT_EQ(packed[14] & 0x1F, 0x1F);
}

TEST(Szdd, LastCharOfName) {
  struct Case { const char* name; uint8_t expected; } cases[] = {
      {"cabinet.dll", 'l'}, {"C:\\x\\y\\SETUP.EXE", 'E'}, {"dir/readme", 'e'},
      {"", 0}, {"C:\\dir\\", 0}, {nullptr, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SzddLastCharOf(c.name), c.expected) << (c.name ? c.name : "null");
}

Bytes Header(uint8_t mode, uint32_t length) {
  Bytes b = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, mode, 0,
             uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
  return b;
}

Bytes WithoutLast(Bytes b) {
  b.pop_back();
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Szdd, HostileInputs) {
  struct Case {
    const char* name;
    Bytes input;
    SzddStatus status;
    Bytes output;
  } cases[] = {
      {"nothing", {}, SzddStatus::NotSzdd, {}},
      {"short header", WithoutLast(Header('A', 0)), SzddStatus::NotSzdd, {}},
      {"wrong signature", Concat(FromText("SZDE"), Bytes(10, 0)), SzddStatus::NotSzdd, {}},
      {"mode B", Header('B', 0), SzddStatus::UnknownMode, {}},
      {"empty stream", Header('A', 0), SzddStatus::Ok, {}},
      {"flag byte alone", Concat(Header('A', 0), {0xFF}), SzddStatus::Ok, {}},
      {"reference cut after one byte", Concat(Header('A', 3), {0x00, 0xF0}), SzddStatus::Truncated, {}},
      {"literal then cut reference", Concat(Header('A', 4), {0x01, 'q', 0xF0}), SzddStatus::Truncated,
       {'q'}},
      // A reference into the untouched ring gives blanks.
      {"reference to the initial ring", Concat(Header('A', 5), {0x00, 0x00, 0x02}), SzddStatus::Ok,
       FromText("     ")},
      // Offset 0xFF0 is where the first byte went: an overlapping copy of it.
      {"overlapping reference", Concat(Header('A', 4), {0x01, 'z', 0xF0, 0xF0}), SzddStatus::Ok,
       FromText("zzzz")},
      // Offset equal to the write position copies the byte 4096 back: a blank.
      {"reference at the write position", Concat(Header('A', 3), {0x00, 0xF0, 0xF0}), SzddStatus::Ok,
       FromText("   ")},
      {"stored length too large", Concat(Header('A', 9), {0x01, 'q'}), SzddStatus::LengthMismatch,
       {'q'}},
      {"stored length too small", Concat(Header('A', 0), {0x03, 'q', 'r'}),
       SzddStatus::LengthMismatch, {'q', 'r'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out = {1, 2, 3};
    EXPECT_EQ(SzddExpand(c.input.data(), c.input.size(), out), c.status);
    EXPECT_TRUE(out == c.output);
  }
}

// Every cut of a valid file either fails or, on a token boundary, yields a
// shorter prefix of the original; the expander never reads past the cut
// (the cut copy lives in its own allocation, so a sanitizer would see it).
TEST(Szdd, EveryTruncationIsReported) {
  Bytes original = SomeText(3000, 11);
  Bytes packed = Compress(original);
  for (size_t cut = 0; cut < packed.size(); ++cut) {
    Bytes part(packed.begin(), packed.begin() + cut);
    Bytes out;
    SzddStatus s = SzddExpand(part.data(), part.size(), out);
    ASSERT_NE(s, SzddStatus::Ok) << cut;
    ASSERT_LE(out.size(), original.size());
    ASSERT_TRUE(std::equal(out.begin(), out.end(), original.begin())) << cut;
  }
}

TEST(Szdd, GarbageNeverOverflows) {
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    Bytes junk = Concat(Header('A', rng()), RandomBytes(rng() % 2000, rng()));
    Bytes out;
    SzddStatus s = SzddExpand(junk.data(), junk.size(), out);
    EXPECT_NE(s, SzddStatus::NotSzdd);
    EXPECT_LE(out.size(), (junk.size() - kSzddHeaderSize) * 9);
  }
}

// --- interop with the mscompress package's tools --------------------------

bool HaveTool(const char* tool) {
  std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/szddtest.XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
 private:
  std::string path_;
};

void WriteFile(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<std::pair<const char*, Bytes>> InteropInputs() {
  Bytes mixed = SomeText(300000, 21);
  Bytes noise = RandomBytes(200000, 22);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  return {
      {"text", SomeText(100000, 23)},
      {"random", RandomBytes(70000, 24)},
      {"runs", Bytes(50000, 0)},
      {"period 4095", Repeated(4095, 40000, 25)},
      {"mixed", mixed},
      {"short", FromText("a short line of text\r\n")},
  };
}

TEST(SzddInterop, OurFilesExpandWithMsexpand) {
  if (!HaveTool("msexpand")) GTEST_SKIP() << "msexpand (package mscompress) is not installed";
  TempDir dir;
  for (const auto& [name, data] : InteropInputs()) {
    SCOPED_TRACE(name);
    WriteFile(dir.File("in.dl_"), Compress(data));
    std::string cmd = "msexpand < '" + dir.File("in.dl_") + "' > '" + dir.File("out") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(ReadFile(dir.File("out")) == data);
  }
}

// mscompress is the reference writer; whatever msexpand makes of its files,
// our expander must make too, byte for byte.
TEST(SzddInterop, MscompressFilesExpandWithOurs) {
  if (!HaveTool("mscompress") || !HaveTool("msexpand")) GTEST_SKIP() << "mscompress is not installed";
  TempDir dir;
  for (const auto& [name, data] : InteropInputs()) {
    SCOPED_TRACE(name);
    WriteFile(dir.File("in"), data);
    std::remove(dir.File("in_").c_str());
    ASSERT_EQ(std::system(("mscompress '" + dir.File("in") + "'").c_str()), 0);
    Bytes packed = ReadFile(dir.File("in_"));
    ASSERT_GE(packed.size(), kSzddHeaderSize);
    std::string cmd = "msexpand < '" + dir.File("in_") + "' > '" + dir.File("ref") + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Bytes ours;
    SzddExpand(packed.data(), packed.size(), ours);
    EXPECT_TRUE(ours == ReadFile(dir.File("ref")));
    if (data.size() > 1000) EXPECT_TRUE(ours == data);
  }
}

}  // namespace
