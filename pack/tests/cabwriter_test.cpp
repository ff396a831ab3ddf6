#include "cabinet_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "cab_test_util.h"
#include "format.h"
#include "hostfiles.h"

using namespace cabtest;

namespace {

struct SingleCase {
  const char* title;
  std::vector<cab::Entry> files;
  cab::Compression compression = cab::Compression::MsZip;
  int level = 6;
  uint32_t folderTarget = 64u << 20;
  size_t folders = 1;
};

uint32_t Stamp(uint32_t date, uint32_t time) { return date << 16 | time; }

std::vector<cab::Entry> ManySmallFiles(int count) {
  std::vector<cab::Entry> files;
  for (int i = 0; i < count; ++i)
    files.push_back(Entry("many\\f" + std::to_string(i), SomeText(size_t(i * 37 % 300), uint32_t(i))));
  return files;
}

std::vector<SingleCase> SingleCases() {
  std::string mixed = SomeText(400000, 1) + RandomBytes(300000, 2) + std::string(300000, 'z');
  return {
      {"one text file", {Entry("readme.txt", SomeText(5000, 3))}},
      {"stored folder",
       {Entry("a.bin", RandomBytes(70000, 4)), Entry("b", SomeText(9000, 5))},
       cab::Compression::Stored},
      {"deflate level 0", {Entry("a.txt", SomeText(80000, 6))}, cab::Compression::MsZip, 0},
      {"deflate level 9", {Entry("a.txt", SomeText(80000, 6))}, cab::Compression::MsZip, 9},
      {"one empty file", {Entry("empty.dat", "")}},
      {"empty files around data", {Entry("e1", ""), Entry("d", "x"), Entry("e2", ""), Entry("e3", "")}},
      // Empty files after a full block must not end the folder with an empty block.
      {"a full block then empty files",
       {Entry("full", RandomBytes(32768, 8)), Entry("e1", ""), Entry("e2", "")}},
      {"one byte past a block", {Entry("f", SomeText(32769, 9))}, cab::Compression::Stored},
      {"large mixed file", {Entry("big\\mixed.bin", mixed), Entry("tail.txt", "t")}},
      {"many small files", ManySmallFiles(1500)},
      {"placeholders and nested folders",
       {Entry("<SYS>\\drivers\\veltra.sys", RandomBytes(3000, 11)),
        Entry("<WIN>\\fonts\\a b.ttf", SomeText(4000, 12)),
        Entry("app\\bin\\deep\\er\\x.exe", RandomBytes(50000, 13))}},
      {"stamps and attributes",
       {Entry("hidden.sys", "h", {0x21, 0}, cab::kAttrHidden | cab::kAttrSystem),
        Entry("ro.txt", "r", {0xFF9F, 0xBF7D}, cab::kAttrReadOnly),
        Entry("stray", "x", {0x7433, 0x19C4}, 0xFFFF)}},
      {"several folders",
       {Entry("f1", SomeText(60000, 14)), Entry("f2", SomeText(60000, 15)), Entry("e", ""),
        Entry("f3", SomeText(60000, 16)), Entry("f4", RandomBytes(60000, 17))},
       cab::Compression::MsZip,
       6,
       100000,
       2},
  };
}

// Each folder holds exactly its files' bytes in blocks of 32768 but for the
// last; no block is empty or marked as split.
void CheckLayout(const ParsedCabinet& cab, const SingleCase& c) {
  ASSERT_EQ(cab.error, "");
  EXPECT_EQ(cab.flags, 0);
  ASSERT_EQ(cab.files.size(), c.files.size());
  ASSERT_EQ(cab.folders.size(), c.folders);
  std::map<uint16_t, uint64_t> folderEnd;
  for (size_t i = 0; i < c.files.size(); ++i) {
    const ParsedFile& f = cab.files[i];
    const cab::Entry& e = c.files[i];
    EXPECT_EQ(f.name + "|" + std::to_string(f.size), e.storedName + "|" + std::to_string(e.content.size()));
    EXPECT_EQ(Stamp(f.date, f.time), Stamp(e.stamp.date, e.stamp.time));
    EXPECT_EQ(f.attributes, e.attributes & 0x27);
    ASSERT_LT(f.folderIndex, cab.folders.size());
    EXPECT_EQ(f.folderOffset, folderEnd[f.folderIndex]) << f.name;
    folderEnd[f.folderIndex] = f.folderOffset + f.size;
  }
  for (size_t k = 0; k < cab.folders.size(); ++k) {
    EXPECT_EQ(cab.folders[k].type, uint16_t(c.compression));
    uint64_t total = 0;
    const std::vector<ParsedBlock>& blocks = cab.folders[k].blocks;
    for (size_t b = 0; b < blocks.size(); ++b) {
      EXPECT_TRUE(blocks[b].cbUncomp == 32768 || (b + 1 == blocks.size() && blocks[b].cbUncomp > 0));
      total += blocks[b].cbUncomp;
    }
    EXPECT_EQ(total, folderEnd[uint16_t(k)]);
  }
}

void CheckExtracted(const std::string& dir, const std::vector<cab::Entry>& files) {
  for (const cab::Entry& f : files)
    EXPECT_TRUE(ReadFile(dir + "/" + HostPath(f.storedName)) == f.content) << f.storedName;
}

// gcab -l prints "name size yyyy-mm-dd hh:mm:ss 0xattr", reading the stamp as UTC.
std::string ExpectedListing(const std::vector<cab::Entry>& files) {
  std::string out;
  for (const cab::Entry& f : files) {
    char line[512];
    cab::DosStamp s = f.stamp;
    std::snprintf(line, sizeof line, "%s %zu %04d-%02d-%02d %02d:%02d:%02d 0x%x\n", f.storedName.c_str(),
                  f.content.size(), 1980 + (s.date >> 9), (s.date >> 5) & 15, s.date & 31, s.time >> 11,
                  (s.time >> 5) & 63, (s.time & 31) * 2, f.attributes & 0x27);
    out += line;
  }
  return out;
}

TEST(CabWriter, SingleCabinetsReadByPeers) {
  ASSERT_TRUE(RunTool("command -v cabextract && command -v gcab", "/dev/null"))
      << "cabextract and gcab are needed";
  for (const SingleCase& c : SingleCases()) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    std::vector<cab::Entry> entries = c.files;
    entries.front().content.clear();  // one entry comes from a file instead
    entries.front().sourcePath = dir.File("source");
    WriteFile(entries.front().sourcePath, c.files.front().content);
    cab::WriteOptions options;
    options.compression = c.compression;
    options.level = c.level;
    options.folderTarget = c.folderTarget;
    cab::WriteResult result;
    std::string error, cab = dir.File("out.cab"), q = "'" + cab + "'";
    ASSERT_TRUE(cab::WriteCabinet(entries, options, cab, HostCabinetFiles(), result, error)) << error;
    ASSERT_EQ(result.volumes.size(), 1u);
    EXPECT_EQ(result.volumes[0].size, ReadFile(cab).size());
    CheckLayout(ParseCabinetFile(cab), c);
    EXPECT_TRUE(RunTool("cabextract -t " + q, dir.File("log"))) << ReadFile(dir.File("log"));
    ASSERT_TRUE(RunTool("cabextract -q -d '" + dir.File("cx") + "' " + q, dir.File("log")));
    CheckExtracted(dir.File("cx"), c.files);
    ASSERT_TRUE(
        RunTool("mkdir " + dir.File("gx") + " && gcab -x -C " + dir.File("gx") + " " + q, dir.File("log")));
    CheckExtracted(dir.File("gx"), c.files);
    ASSERT_TRUE(RunTool("TZ=UTC gcab -l " + q, dir.File("log")));
    EXPECT_EQ(ReadFile(dir.File("log")), ExpectedListing(c.files));
    cab::WriteResult again;
    ASSERT_TRUE(cab::WriteCabinet(entries, options, dir.File("again.cab"), HostCabinetFiles(), again, error));
    EXPECT_TRUE(ReadFile(cab) == ReadFile(dir.File("again.cab"))) << "same input, other bytes";
  }
}

TEST(CabWriter, NoFilesGivesAHeaderOnlyCabinet) {
  TempDir dir;
  cab::WriteResult result;
  std::string error;
  ASSERT_TRUE(
      cab::WriteCabinet({}, cab::WriteOptions(), dir.File("e.cab"), HostCabinetFiles(), result, error))
      << error;
  ParsedCabinet cab = ParseCabinetFile(dir.File("e.cab"));
  EXPECT_EQ(cab.error, "");
  EXPECT_EQ(cab.cabinetSize, 36u);
  EXPECT_TRUE(cab.folders.empty() && cab.files.empty());
}

TEST(CabWriter, MsZipKeepsHistoryAcrossBlocks) {
  // Each block after the first is mostly references into the block before.
  TempDir dir;
  std::string unit = RandomBytes(20000, 21), data;
  while (data.size() < 400000) data += unit;
  cab::WriteResult result;
  std::string error;
  ASSERT_TRUE(cab::WriteCabinet({Entry("r.bin", data)}, cab::WriteOptions(), dir.File("r.cab"),
                                HostCabinetFiles(), result, error));
  EXPECT_LT(result.volumes[0].size, 40000u);
}

// Microsoft's cabinet maker stored the same checksums that our data block
// header computes for the same bytes.
TEST(CabWriter, ChecksumsMatchPeerCabinets) {
  int checked = 0;
  for (const char* name : {"split-1.cab", "split-2.cab", "split-5.cab", "mszip_lzx_qtm.cab", "simple.cab"}) {
    std::string bytes = ReadFile(std::string(VELTRA_TESTDATA) + "/peer-cabs/" + name);
    ParsedCabinet cab = ParseCabinet(bytes);
    ASSERT_EQ(cab.error, "") << name;
    for (const ParsedFolder& folder : cab.folders) {
      size_t at = folder.offset;
      for (const ParsedBlock& block : folder.blocks) {
        uint8_t head[8];
        size_t data = at + 8 + cab.dataReserve;
        cab::EncodeDataHeader(head, reinterpret_cast<const uint8_t*>(bytes.data()) + data, block.cbData,
                              block.cbUncomp);
        if (Le(bytes, at, 4) != 0) checked += std::memcmp(head, bytes.data() + at, 8) == 0 ? 1 : -1000;
        at = data + block.cbData;
      }
    }
  }
  EXPECT_GE(checked, 8);
}

TEST(CabWriter, DosStampsAreUtcAndClamped) {
  struct Case {
    int64_t seconds;
    uint16_t date, time;
  } cases[] = {
      {0, 0x0021, 0},          // before 1980: the first DOS day
      {315532801, 0x0021, 0},  // 1980-01-01 00:00:01, odd seconds round down
      {315532802, 0x0021, 1},
      {951827696, 0x285D, 0x645C},   // 2000-02-29 12:34:56
      {2147483648, 0x7433, 0x19C4},  // 2038-01-19 03:14:08, past 32-bit time_t
      {4354819199, 0xFF9F, 0xBF7D},  // 2107-12-31 23:59:58, the last DOS stamp
      {4354819199 + 86400 * 365, 0xFF9F, 0xBF7D},
  };
  for (const Case& c : cases) {
    cab::DosStamp s = cab::DosStampFromUnixTime(c.seconds);
    EXPECT_EQ(Stamp(s.date, s.time), Stamp(c.date, c.time)) << c.seconds;
  }
  TempDir dir;
  WriteFile(dir.File("f"), "x");
  std::system(("touch -d '2001-09-09 01:46:40 UTC' " + dir.File("f")).c_str());
  cab::DosStamp s;
  ASSERT_TRUE(DosStampOfFile(dir.File("f"), s));
  EXPECT_EQ(Stamp(s.date, s.time), Stamp((21 << 9) | (9 << 5) | 9, (1 << 11) | (46 << 5) | 20));
  EXPECT_FALSE(DosStampOfFile(dir.File("missing"), s));
}

TEST(CabWriter, StoredNamesAreChecked) {
  for (std::string ok : {std::string("a.txt"), std::string("<SYS>\\x.dll"), std::string("dir\\sub\\f"),
                         std::string("a b\\c d.txt"), std::string(255, 'n')})
    EXPECT_EQ(cab::CheckStoredName(ok), "") << ok;
  for (std::string bad : {std::string(256, 'n'), std::string(), std::string("a/b"), std::string("\\lead"),
                          std::string("trail\\"), std::string("a\\\\b"), std::string("a\\..\\b"),
                          std::string("."), std::string("a\0b", 3), std::string("C:\\x"), std::string("a?"),
                          std::string("tab\t"), std::string("p|q")})
    EXPECT_NE(cab::CheckStoredName(bad), "") << bad;
}

TEST(CabWriter, FailuresLeaveNoOutput) {
  cab::Entry missing = Entry("m", "");
  missing.sourcePath = "/nonexistent/file";
  cab::WriteOptions badSet, tinyVolumes;
  badSet.setId = 70000;
  tinyVolumes.volumeSize = 1000;
  struct Case {
    std::vector<cab::Entry> entries;
    cab::WriteOptions options;
    const char* errorPart;
  } cases[] = {
      {{missing}, cab::WriteOptions(), "/nonexistent/file"},
      {{Entry("x\\..\\..\\evil", "")}, cab::WriteOptions(), ".."},
      {{}, badSet, "set ID"},
      {{}, tinyVolumes, "at least"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    cab::WriteResult result;
    std::string error;
    cab::VolumeNamer namer = [&dir](int i) {
      return cab::VolumeName{dir.File("v" + std::to_string(i)), "v", "disk"};
    };
    EXPECT_FALSE(cab::WriteCabinetSet(c.entries, c.options, namer, HostCabinetFiles(), result, error));
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_FALSE(FileExists(dir.File("v0")) || FileExists(dir.File("v0.part~")));
  }
}

}  // namespace
