// The LZX writer over inputs that are hard on compressors: every cabinet is
// read back byte for byte by cabextract and by our own FDI.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "cab_test_util.h"
#include "cabinet_writer.h"
#include "fdi_interface.h"

using namespace cabtest;

namespace {

struct LzxCase {
  const char* title;
  std::vector<cab::Entry> files;
  int window = 21;
  int level = 6;
  uint32_t folderTarget = 64u << 20;
  size_t maxSize = 0;  // when not 0: the cabinet must be at most this large
};

std::string Run(size_t n, char c) { return std::string(n, c); }

// Calls as a compiler lays them out: E8 and a displacement to one of a few
// functions, between bytes of other code.
std::string CallHeavy(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    const int32_t target = int32_t(rng() % 8) * 4096;
    const int32_t rel = target - int32_t(s.size()) - 5;
    s += '\xE8';
    for (int b = 0; b < 4; ++b) s += char(uint32_t(rel) >> (8 * b));
    s += SomeText(rng() % 12, rng()).c_str();
  }
  return s.substr(0, n);
}

// Copies from three distances in turn, so that each repeated-offset slot
// is the one that matches.
std::string ThreeDistances(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s = RandomBytes(4000, seed);
  const size_t distances[] = {1000, 2100, 3300};
  while (s.size() < n) {
    const size_t d = distances[rng() % 3];
    for (int i = 0; i < 24; ++i) s += s[s.size() - d];
    s += char(rng());
  }
  return s.substr(0, n);
}

// Copies of earlier 64-byte records at distances that are multiples of 8,
// which aligned-offset blocks code best.
std::string EightByteRecords(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s = RandomBytes(4096, seed);
  while (s.size() < n) {
    const size_t from = s.size() - 8 * (64 + rng() % (s.size() / 8 - 64));
    s += s.substr(from, 64);
    s += char(rng());
  }
  return s.substr(0, n);
}

std::string Repeated(const std::string& unit, size_t n) {
  std::string s;
  while (s.size() < n) s += unit;
  return s.substr(0, n);
}

std::vector<LzxCase> Cases() {
  const std::string text = SomeText(600000, 5);
  return {
      {"an empty file and one byte", {Entry("e", ""), Entry("one", "x")}},
      {"a run of one byte: the longest match over and over",
       {Entry("run", Run(300000, 'a'))},
       21,
       6,
       64u << 20,
       1500},
      {"random data stays within a few bytes per frame of its size",
       {Entry("r", RandomBytes(200000, 3))},
       21,
       6,
       64u << 20,
       200000 + 7 * 40 + 200},
      {"many E8 bytes, random around them", {Entry("e8", Run(70000, '\xE8') + RandomBytes(50000, 4))}},
      {"calls into a few functions", {Entry("calls.exe", CallHeavy(300000, 6))}, 21, 9},
      {"files just below, at and above a frame",
       {Entry("a", RandomBytes(32767, 7)), Entry("b", text.substr(0, 32768)),
        Entry("c", text.substr(1, 32769))}},
      {"matches across frames and folders",
       {Entry("u1", Repeated(RandomBytes(20000, 8), 150000)),
        Entry("u2", Repeated(RandomBytes(20000, 8), 150000))},
       16,
       6,
       100000,
       100000},
      {"text, a run and noise whose frames before the short last one end on a 4 KiB read",
       {Entry("t", SomeText(117019, 19)), Entry("u", Run(70000, 'u')), Entry("n", RandomBytes(186299, 21))},
       16,
       3},
      {"repeated offsets in every slot", {Entry("three", ThreeDistances(200000, 9))}, 21, 9},
      {"the smallest window wraps many times", {Entry("text", text)}, 15, 6},
      {"fast level", {Entry("text", text)}, 18, 1},
      {"offsets alike in their low bits: aligned blocks",
       {Entry("rec", EightByteRecords(400000, 12))},
       21,
       9},
      {"text, noise and text: blocks over frames around a stored frame",
       {Entry("t1", text.substr(0, 200000)), Entry("noise", RandomBytes(40000, 13)),
        Entry("t2", text.substr(7))},
       17,
       7},
      {"window 19, lazy level", {Entry("text", text), Entry("calls.exe", CallHeavy(200000, 14))}, 19, 3},
      {"window 20, the fastest level",
       {Entry("text", text), Entry("rec", EightByteRecords(100000, 15))},
       20,
       0},
      {"window 21, level 5", {Entry("three", ThreeDistances(200000, 16)), Entry("text", text)}, 21, 5},
      {"window 18, level 8", {Entry("three", ThreeDistances(200000, 17)), Entry("text", text)}, 18, 8},
      {"strong level, far matches",
       {Entry("far", Repeated(RandomBytes(900000, 10), 2000000))},
       21,
       9,
       64u << 20,
       960000},
  };
}

// Our FDI, extracting into memory.
std::map<std::string, std::string> g_extracted;
std::string* g_current = nullptr;

void* FDIAPI Alloc(unsigned long cb) { return std::malloc(cb); }
void FDIAPI Free(void* p) { std::free(p); }
intptr_t FDIAPI Open(char* path, int, int) {
  FILE* f = std::fopen(path, "rb");
  return f ? intptr_t(f) : -1;
}
unsigned FDIAPI Read(intptr_t hf, void* pv, unsigned cb) {
  return unsigned(std::fread(pv, 1, cb, reinterpret_cast<FILE*>(hf)));
}
unsigned FDIAPI Write(intptr_t hf, void* pv, unsigned cb) {
  if (hf == 1 && g_current) g_current->append(static_cast<char*>(pv), cb);
  return cb;
}
int FDIAPI Close(intptr_t hf) { return hf == 1 ? 0 : std::fclose(reinterpret_cast<FILE*>(hf)); }
long FDIAPI Seek(intptr_t hf, long dist, int how) {
  FILE* f = reinterpret_cast<FILE*>(hf);
  return std::fseek(f, dist, how) == 0 ? std::ftell(f) : -1;
}
intptr_t FDIAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  if (type == fdintCOPY_FILE) {
    g_current = &g_extracted[n->psz1];
    return 1;
  }
  if (type == fdintCLOSE_FILE_INFO) g_current = nullptr;
  return type == fdintCLOSE_FILE_INFO ? 1 : 0;
}

bool ExtractWithOurFdi(const std::string& folder, const std::string& name) {
  g_extracted.clear();
  ERF erf{};
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  std::string cab = name, dir = folder + "/";
  const bool ok = hfdi && FDICopy(hfdi, &cab[0], &dir[0], 0, Notify, nullptr, nullptr);
  return hfdi && FDIDestroy(hfdi) && ok;
}

TEST(Lzx, HostileInputsDecodeByteForByte) {
  ASSERT_TRUE(RunTool("command -v cabextract", "/dev/null")) << "cabextract is needed";
  for (const LzxCase& c : Cases()) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    cab::WriteOptions options;
    options.compression = cab::Compression::Lzx;
    options.lzxWindow = c.window;
    options.level = c.level;
    options.folderTarget = c.folderTarget;
    cab::WriteResult result;
    std::string error, cab = dir.File("out.cab"), q = "'" + cab + "'";
    ASSERT_TRUE(cab::WriteCabinet(c.files, options, cab, HostCabinetFiles(), result, error)) << error;
    const ParsedCabinet parsed = ParseCabinetFile(cab);
    EXPECT_EQ(parsed.error, "");
    for (const ParsedFolder& f : parsed.folders) {
      EXPECT_EQ(f.type, 3 | (c.window << 8));
      // A reader that takes the data in 4 KiB reads must meet the last
      // block before it starts the last frame.
      size_t before = 0;
      for (size_t k = 0; k + 1 < f.blocks.size(); ++k) {
        before += f.blocks[k].cbData;
        EXPECT_NE(before % 4096, 0u) << "block " << k << " of " << f.blocks.size();
      }
    }
    if (c.maxSize) EXPECT_LE(result.volumes[0].size, c.maxSize);

    ASSERT_TRUE(RunTool("cabextract -q -d '" + dir.File("cx") + "' " + q, dir.File("log")))
        << ReadFile(dir.File("log"));
    ASSERT_TRUE(ExtractWithOurFdi(dir.Path(), "out.cab"));
    for (const cab::Entry& e : c.files) {
      EXPECT_TRUE(ReadFile(dir.File("cx/" + e.storedName)) == e.content) << "cabextract: " << e.storedName;
      EXPECT_TRUE(g_extracted[e.storedName] == e.content) << "our FDI: " << e.storedName;
    }
  }
}

TEST(Lzx, WindowOutsideTheFormatIsRefused) {
  TempDir dir;
  for (int window : {14, 22}) {
    cab::WriteOptions options;
    options.compression = cab::Compression::Lzx;
    options.lzxWindow = window;
    cab::WriteResult result;
    std::string error;
    EXPECT_FALSE(cab::WriteCabinet({Entry("a", "abc")}, options, dir.File("w.cab"), HostCabinetFiles(),
                                   result, error));
    EXPECT_NE(error.find("window"), std::string::npos) << error;
    EXPECT_FALSE(FileExists(dir.File("w.cab")));
  }
}

}  // namespace
