#include "cabwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "cab_test_util.h"
#include "cabformat.h"

using namespace cabtest;

namespace {

struct FileSpec {
  std::string name;
  std::string bytes;
  bool fromFile = true;
  DosStamp stamp{0x5A4C, 0x6C2E};  // 2025-02-12 13:33:28
  uint16_t attributes = kCabAttrArchive;
};

struct SingleCase {
  const char* title;
  std::vector<FileSpec> files;
  CabCompression compression = CabCompression::MsZip;
  int level = 6;
  uint32_t folderTarget = 64u << 20;
  size_t expectedFolders = 1;
};

std::vector<CabEntry> MakeEntries(const std::vector<FileSpec>& specs, const TempDir& dir) {
  std::vector<CabEntry> entries;
  for (size_t i = 0; i < specs.size(); ++i) {
    CabEntry e;
    e.storedName = specs[i].name;
    e.stamp = specs[i].stamp;
    e.attributes = specs[i].attributes;
    if (specs[i].fromFile) {
      e.sourcePath = dir.File("src" + std::to_string(i));
      WriteFile(e.sourcePath, specs[i].bytes);
    } else {
      e.content = specs[i].bytes;
    }
    entries.push_back(e);
  }
  return entries;
}

std::string HostPath(std::string stored) {
  for (char& c : stored)
    if (c == '\\') c = '/';
  return stored;
}

std::string Numbered(const std::string& stem, int i) { return stem + std::to_string(i); }

std::vector<FileSpec> ManySmallFiles(int count) {
  std::vector<FileSpec> files;
  for (int i = 0; i < count; ++i)
    files.push_back({Numbered("many\\f", i) + ".txt", SomeText(size_t(i * 37 % 300), uint32_t(i))});
  return files;
}

std::vector<SingleCase> SingleCases() {
  std::string mixed = SomeText(400000, 1) + RandomBytes(300000, 2) + std::string(300000, 'z');
  FileSpec hidden{"hidden.sys", "h", true, {0x21, 0}, kCabAttrHidden | kCabAttrSystem};
  FileSpec readOnly{"ro.txt", "read only", false, {0xFF9F, 0xBF7D}, kCabAttrReadOnly};
  FileSpec strayBits{"bits.bin", "x", true, {0x7433, 0x19C4}, 0xFFFF};
  return {
      {"one text file", {{"readme.txt", SomeText(5000, 3)}}},
      {"stored folder", {{"a.bin", RandomBytes(70000, 4)}, {"b.txt", SomeText(9000, 5)}},
       CabCompression::Stored},
      {"deflate level 0", {{"a.txt", SomeText(80000, 6)}}, CabCompression::MsZip, 0},
      {"deflate level 9", {{"a.txt", SomeText(80000, 6)}}, CabCompression::MsZip, 9},
      {"one empty file", {{"empty.dat", ""}}},
      {"empty files around data", {{"e1", ""}, {"d", SomeText(100, 7)}, {"e2", ""}, {"e3", "", false}}},
      {"a full block then empty files at the end",
       {{"full", RandomBytes(32768, 8)}, {"e1", ""}, {"e2", ""}}},
      {"one byte past a block", {{"f", SomeText(32769, 9)}}, CabCompression::Stored},
      {"large mixed file", {{"big\\mixed.bin", mixed}, {"tail.txt", SomeText(10, 10)}}},
      {"many small files", ManySmallFiles(1500)},
      {"placeholders and nested folders",
       {{"<SYS>\\drivers\\veltra.sys", RandomBytes(3000, 11)},
        {"<WIN>\\fonts\\a b.ttf", SomeText(4000, 12), false},
        {"app\\bin\\deep\\er\\x.exe", RandomBytes(50000, 13)}}},
      {"stamps and attributes", {hidden, readOnly, strayBits}},
      {"several folders",
       {{"f1", SomeText(60000, 14)}, {"f2", SomeText(60000, 15)}, {"e", ""},
        {"f3", SomeText(60000, 16)}, {"f4", RandomBytes(60000, 17)}},
       CabCompression::MsZip, 6, 100000, 2},
  };
}

// Folder of each listed file must hold exactly its files' bytes, in blocks
// of 32768 but for the last, and no block may be empty or marked as split.
void CheckLayout(const ParsedCabinet& cab, const std::vector<FileSpec>& files, const SingleCase& c) {
  ASSERT_EQ(cab.error, "");
  EXPECT_EQ(cab.flags, 0);
  ASSERT_EQ(cab.files.size(), files.size());
  ASSERT_EQ(cab.folders.size(), files.empty() ? 0 : c.expectedFolders);
  std::map<uint16_t, uint64_t> folderEnd;
  for (size_t i = 0; i < files.size(); ++i) {
    const ParsedFile& f = cab.files[i];
    EXPECT_EQ(f.name, files[i].name);
    EXPECT_EQ(f.size, files[i].bytes.size());
    EXPECT_EQ(f.date, files[i].stamp.date);
    EXPECT_EQ(f.time, files[i].stamp.time);
    EXPECT_EQ(f.attributes, files[i].attributes & 0x27);
    ASSERT_LT(f.folderIndex, cab.folders.size());
    EXPECT_EQ(f.folderOffset, folderEnd[f.folderIndex]) << f.name;
    folderEnd[f.folderIndex] = f.folderOffset + f.size;
  }
  for (size_t k = 0; k < cab.folders.size(); ++k) {
    const ParsedFolder& folder = cab.folders[k];
    EXPECT_EQ(folder.type, uint16_t(c.compression));
    uint64_t total = 0;
    for (size_t b = 0; b < folder.blocks.size(); ++b) {
      EXPECT_GT(folder.blocks[b].cbUncomp, 0);
      if (b + 1 < folder.blocks.size()) EXPECT_EQ(folder.blocks[b].cbUncomp, 32768);
      total += folder.blocks[b].cbUncomp;
    }
    EXPECT_EQ(total, folderEnd[uint16_t(k)]);
  }
}

void CheckExtracted(const std::string& dir, const std::vector<FileSpec>& files) {
  for (const FileSpec& f : files) {
    std::string path = dir + "/" + HostPath(f.name);
    ASSERT_TRUE(FileExists(path)) << path;
    EXPECT_TRUE(ReadFile(path) == f.bytes) << path;
  }
}

// gcab -l prints "name size yyyy-mm-dd hh:mm:ss 0xattr" per file, taking the
// stored time as UTC.
std::string ExpectedListing(const std::vector<FileSpec>& files) {
  std::ostringstream out;
  for (const FileSpec& f : files) {
    char line[512];
    std::snprintf(line, sizeof line, "%s %zu %04d-%02d-%02d %02d:%02d:%02d 0x%x\n", f.name.c_str(),
                  f.bytes.size(), 1980 + (f.stamp.date >> 9), (f.stamp.date >> 5) & 15,
                  f.stamp.date & 31, f.stamp.time >> 11, (f.stamp.time >> 5) & 63,
                  (f.stamp.time & 31) * 2, f.attributes & 0x27);
    out << line;
  }
  return out.str();
}

TEST(CabWriter, SingleCabinetsReadByPeers) {
  ASSERT_TRUE(HaveTool("cabextract") && HaveTool("gcab")) << "cabextract and gcab are needed";
  for (const SingleCase& c : SingleCases()) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    CabOptions options;
    options.compression = c.compression;
    options.level = c.level;
    options.folderTarget = c.folderTarget;
    CabWriteResult result;
    std::string error, cab = dir.File("out.cab");
    ASSERT_TRUE(WriteCabinet(MakeEntries(c.files, dir), options, cab, result, error)) << error;
    ASSERT_EQ(result.volumes.size(), 1u);
    EXPECT_EQ(result.volumes[0].size, ReadFile(cab).size());
    CheckLayout(ParseCabinetFile(cab), c.files, c);

    EXPECT_TRUE(RunTool("cabextract -t '" + cab + "'", dir.File("t.log"))) << ReadFile(dir.File("t.log"));
    ASSERT_TRUE(RunTool("cabextract -q -d '" + dir.File("cx") + "' '" + cab + "'", dir.File("x.log")));
    CheckExtracted(dir.File("cx"), c.files);
    ASSERT_TRUE(RunTool("mkdir '" + dir.File("gx") + "' && gcab -x -C '" + dir.File("gx") + "' '" + cab + "'",
                    dir.File("g.log")));
    CheckExtracted(dir.File("gx"), c.files);
    ASSERT_TRUE(RunTool("TZ=UTC gcab -l '" + cab + "'", dir.File("l.log")));
    EXPECT_EQ(ReadFile(dir.File("l.log")), ExpectedListing(c.files));
  }
}

TEST(CabWriter, NoFilesGivesAnEmptyCabinet) {
  TempDir dir;
  CabWriteResult result;
  std::string error;
  ASSERT_TRUE(WriteCabinet({}, CabOptions(), dir.File("e.cab"), result, error)) << error;
  ParsedCabinet cab = ParseCabinetFile(dir.File("e.cab"));
  EXPECT_EQ(cab.error, "");
  EXPECT_EQ(cab.cabinetSize, 36u);
  EXPECT_TRUE(cab.folders.empty() && cab.files.empty());
  if (HaveTool("gcab")) EXPECT_TRUE(RunTool("gcab -l '" + dir.File("e.cab") + "'", dir.File("l.log")));
}

TEST(CabWriter, SameInputSameBytes) {
  for (CabCompression type : {CabCompression::MsZip, CabCompression::Stored}) {
    TempDir dir;
    std::vector<CabEntry> entries = MakeEntries(ManySmallFiles(300), dir);
    CabOptions options;
    options.compression = type;
    CabWriteResult r1, r2;
    std::string error;
    ASSERT_TRUE(WriteCabinet(entries, options, dir.File("1.cab"), r1, error)) << error;
    ASSERT_TRUE(WriteCabinet(entries, options, dir.File("2.cab"), r2, error)) << error;
    EXPECT_EQ(ReadFile(dir.File("1.cab")), ReadFile(dir.File("2.cab")));
    EXPECT_EQ(r1.setId, r2.setId);
  }
}

TEST(CabWriter, MsZipCompressesAcrossBlocks) {
  // A 20000-byte random unit repeated: each block after the first is mostly
  // references into the block before it, which only carried history finds.
  TempDir dir;
  std::string unit = RandomBytes(20000, 21), data;
  while (data.size() < 400000) data += unit;
  CabWriteResult result;
  std::string error;
  ASSERT_TRUE(WriteCabinet(MakeEntries({{"r.bin", data}}, dir), CabOptions(), dir.File("r.cab"), result,
                           error));
  EXPECT_LT(result.volumes[0].size, 40000u);
}

// The checksums that Microsoft's cabinet maker stored in the peer cabinets
// are what our data block header computes for the same bytes.
TEST(CabWriter, ChecksumsMatchPeerCabinets) {
  int checked = 0;
  for (const char* name : {"split-1.cab", "split-2.cab", "split-5.cab", "mszip_lzx_qtm.cab",
                           "normal_2files_2folders.cab", "simple.cab"}) {
    std::string bytes = ReadFile(std::string(VELTRA_TESTDATA) + "/peer-cabs/" + name);
    ParsedCabinet cab = ParseCabinet(bytes);
    ASSERT_EQ(cab.error, "") << name;
    for (const ParsedFolder& folder : cab.folders) {
      size_t at = folder.offset;
      for (const ParsedBlock& block : folder.blocks) {
        uint8_t head[8];
        size_t data = at + 8 + cab.dataReserve;
        EncodeCabDataHeader(head, reinterpret_cast<const uint8_t*>(bytes.data()) + data,
                            block.cbData, block.cbUncomp);
        if (Le(bytes, at, 4) != 0) {  // some makers leave it 0
          EXPECT_EQ(0, std::memcmp(head, bytes.data() + at, 8)) << name;
          ++checked;
        }
        at = data + block.cbData;
      }
    }
  }
  EXPECT_GE(checked, 8);
}

TEST(CabWriter, DosStampsAreUtcAndClamped) {
  struct Case { int64_t seconds; uint16_t date, time; } cases[] = {
      {0, 0x0021, 0x0000},                // before 1980: the first DOS day
      {315532799, 0x0021, 0x0000},
      {315532800, 0x0021, 0x0000},        // 1980-01-01 00:00:00
      {315532801, 0x0021, 0x0000},        // odd seconds round down
      {315532802, 0x0021, 0x0001},
      {951827696, 0x285D, 0x645C},        // 2000-02-29 12:34:56
      {2147483648, 0x7433, 0x19C4},       // 2038-01-19 03:14:08, past 32-bit time_t
      {4354819199, 0xFF9F, 0xBF7D},       // 2107-12-31 23:59:58, the last DOS stamp
      {4354819200 + 86400 * 365, 0xFF9F, 0xBF7D},
  };
  for (const Case& c : cases) {
    DosStamp s = DosStampFromUnixTime(c.seconds);
    EXPECT_EQ(s.date, c.date) << c.seconds;
    EXPECT_EQ(s.time, c.time) << c.seconds;
  }
  TempDir dir;
  WriteFile(dir.File("f"), "x");
  std::system(("touch -d '2001-09-09 01:46:40 UTC' '" + dir.File("f") + "'").c_str());
  DosStamp s;
  ASSERT_TRUE(DosStampOfFile(dir.File("f"), s));
  EXPECT_EQ(s.date, ((2001 - 1980) << 9) | (9 << 5) | 9);
  EXPECT_EQ(s.time, (1 << 11) | (46 << 5) | 20);
  EXPECT_FALSE(DosStampOfFile(dir.File("missing"), s));
}

TEST(CabWriter, StoredNamesAreChecked) {
  struct Case { std::string name; bool ok; } cases[] = {
      {"a.txt", true}, {"<SYS>\\x.dll", true}, {"dir\\sub\\f", true}, {"a b\\c d.txt", true},
      {std::string(255, 'n'), true}, {std::string(256, 'n'), false}, {"", false},
      {"a/b", false}, {"\\lead", false}, {"trail\\", false}, {"a\\\\b", false},
      {"a\\..\\b", false}, {".", false}, {"..\\x", false}, {std::string("a\0b", 3), false},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckStoredName(c.name).empty(), c.ok) << c.name;
}

TEST(CabWriter, FailuresLeaveNoOutput) {
  struct Case {
    const char* title;
    std::vector<CabEntry> entries;
    CabOptions options;
    const char* errorPart;
  };
  CabEntry missing;
  missing.storedName = "m";
  missing.sourcePath = "/nonexistent/file";
  CabEntry badName;
  badName.storedName = "x\\..\\..\\evil";
  CabOptions badSet;
  badSet.setId = 70000;
  CabOptions tinyVolumes;
  tinyVolumes.volumeSize = 1000;
  Case cases[] = {
      {"missing source", {missing}, CabOptions(), "/nonexistent/file"},
      {"name leaving the folder", {badName}, CabOptions(), ".."},
      {"set ID out of range", {}, badSet, "set ID"},
      {"volumes too small", {}, tinyVolumes, "at least"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    CabWriteResult result;
    std::string error;
    CabVolumeNamer namer = [&dir](int i) {
      return CabVolumeName{dir.File("v" + std::to_string(i)), "v" + std::to_string(i), "disk"};
    };
    EXPECT_FALSE(WriteCabinetSet(c.entries, c.options, namer, result, error));
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_FALSE(FileExists(dir.File("v0")));
    EXPECT_FALSE(FileExists(dir.File("v0.part~")));
  }
}

}  // namespace
