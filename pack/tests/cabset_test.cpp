// Cabinet sets: volumes within their limits, chained by name, with a split
// block and at least one file running across every boundary, and read whole
// by cabextract.
#include "cabwriter.h"

#include <gtest/gtest.h>

#include "cab_test_util.h"

using namespace cabtest;

namespace {

struct SetFile {
  std::string name;
  std::string bytes;
};

struct SetCase {
  const char* title;
  std::vector<SetFile> files;
  CabCompression compression = CabCompression::MsZip;
  uint32_t volumeSize = 128 * 1024;
  uint32_t firstVolumeSize = 0;
  size_t minVolumes = 2;
  bool someFileSpansThree = false;  // listed as continued both ways somewhere
};

std::vector<SetFile> SmallFiles(int count, size_t maxSize, uint32_t seed, bool random) {
  std::vector<SetFile> files;
  std::mt19937 rng(seed);
  for (int i = 0; i < count; ++i) {
    size_t size = maxSize ? rng() % (maxSize + 1) : 0;
    std::string name = "dir" + std::to_string(i % 7) + "\\file" + std::to_string(i) + ".dat";
    files.push_back({name, random ? RandomBytes(size, rng()) : SomeText(size, rng())});
  }
  return files;
}

std::vector<SetFile> EmptyRunsAtBoundaries() {
  std::vector<SetFile> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back({"chunk" + std::to_string(i), RandomBytes(i % 3 ? 30000 : 1, uint32_t(i))});
    for (int k = 0; k < i % 5; ++k) files.push_back({"empty" + std::to_string(i) + "_" + std::to_string(k), ""});
  }
  return files;
}

std::vector<SetCase> SetCases() {
  std::vector<SetFile> mixed = SmallFiles(300, 9000, 3, true);
  mixed.insert(mixed.begin() + 100, {"<SYS>\\big.bin", RandomBytes(700000, 4)});
  return {
      {"two volumes", {{"a.bin", RandomBytes(200000, 1)}}},
      {"one file across many volumes", {{"big.bin", RandomBytes(1100000, 2)}}, CabCompression::MsZip,
       128 * 1024, 0, 8, true},
      {"small and large files mixed", mixed, CabCompression::MsZip, 128 * 1024, 0, 10, true},
      {"stored set", SmallFiles(120, 20000, 5, false), CabCompression::Stored, 150000, 0, 8},
      {"compressible text", {{"t1.txt", SomeText(1500000, 6)}, {"t2.txt", SomeText(900000, 7)}},
       CabCompression::MsZip, 128 * 1024, 0, 3},
      {"a first volume of its own size", {{"x.bin", RandomBytes(900000, 8)}, {"y", "tail"}},
       CabCompression::MsZip, 128 * 1024, 400000, 5, true},
      {"runs of empty files", EmptyRunsAtBoundaries(), CabCompression::Stored, 128 * 1024, 0, 5},
      // Blocks that touch thousands of files: their list entries are more
      // than may cross into a volume, so folders end early.
      {"thousands of one-byte files", SmallFiles(12000, 1, 9, true), CabCompression::MsZip,
       128 * 1024, 0, 2},
  };
}

std::string VolumeName(int i) { return "set" + std::to_string(i + 1) + ".cab"; }
std::string DiskName(int i) { return "Veltra disk " + std::to_string(i + 1); }

bool IsContinuedFromPrev(uint16_t index) { return index == 0xFFFD || index == 0xFFFF; }
bool IsContinuedToNext(uint16_t index) { return index == 0xFFFE || index == 0xFFFF; }

void CheckHeaders(const std::vector<ParsedCabinet>& cabs, const SetCase& c, uint16_t setId) {
  for (size_t k = 0; k < cabs.size(); ++k) {
    SCOPED_TRACE("volume " + std::to_string(k + 1));
    const ParsedCabinet& cab = cabs[k];
    ASSERT_EQ(cab.error, "");
    uint32_t limit = k == 0 && c.firstVolumeSize ? c.firstVolumeSize : c.volumeSize;
    EXPECT_LE(cab.fileSize, limit);
    EXPECT_EQ(cab.index, k);
    EXPECT_EQ(cab.setId, setId);
    EXPECT_EQ(cab.flags, (k > 0 ? 1 : 0) | (k + 1 < cabs.size() ? 2 : 0));
    if (k > 0) EXPECT_EQ(cab.prevCabinet + "|" + cab.prevDisk, VolumeName(int(k) - 1) + "|" + DiskName(int(k) - 1));
    if (k + 1 < cabs.size()) EXPECT_EQ(cab.nextCabinet + "|" + cab.nextDisk, VolumeName(int(k) + 1) + "|" + DiskName(int(k) + 1));
    for (const ParsedFolder& f : cab.folders) EXPECT_EQ(f.type, uint16_t(c.compression));
  }
}

std::vector<ParsedFile> Continued(const ParsedCabinet& cab, bool toNext) {
  std::vector<ParsedFile> out;
  for (const ParsedFile& f : cab.files)
    if (toNext ? IsContinuedToNext(f.folderIndex) : IsContinuedFromPrev(f.folderIndex)) out.push_back(f);
  return out;
}

// What FDI relies on at each boundary: the volume ends in a split block, the
// files that touch it are the last ones listed before and the first ones
// listed after, in the same order, and no file begins in the continued folder.
void CheckBoundary(const ParsedCabinet& left, const ParsedCabinet& right) {
  ASSERT_FALSE(left.folders.empty() || right.folders.empty());
  const ParsedFolder& last = left.folders.back();
  ASSERT_FALSE(last.blocks.empty());
  EXPECT_EQ(last.blocks.back().cbUncomp, 0);
  const ParsedFolder& first = right.folders.front();
  ASSERT_FALSE(first.blocks.empty());
  EXPECT_GT(first.blocks.front().cbUncomp, 0);
  std::vector<ParsedFile> out = Continued(left, true), in = Continued(right, false);
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].name, in[i].name);
    EXPECT_EQ(out[i].folderOffset, in[i].folderOffset);
    EXPECT_EQ(out[i].size, in[i].size);
    EXPECT_EQ(out[i].name, left.files[left.files.size() - out.size() + i].name);
    EXPECT_EQ(in[i].name, right.files[i].name);
  }
  for (const ParsedFile& f : right.files) EXPECT_NE(f.folderIndex, 0) << f.name << " begins in a continued folder";
}

// The folder a listed file belongs to within its volume.
size_t FolderOf(const ParsedFile& f, const ParsedCabinet& cab) {
  if (f.folderIndex < 0xFFFD) return f.folderIndex;
  return f.folderIndex == 0xFFFD ? 0 : cab.folders.size() - 1;
}

// Joins the split blocks back together and checks every folder across the
// set: full blocks but for its last, and exactly its files' bytes.
void CheckFolderChains(const std::vector<ParsedCabinet>& cabs) {
  std::vector<uint32_t> chain;  // uncompressed block sizes of the folder being followed
  uint64_t expected = 0;
  auto finish = [&]() {
    uint64_t total = 0;
    for (size_t b = 0; b < chain.size(); ++b) {
      if (b + 1 < chain.size()) EXPECT_EQ(chain[b], 32768u);
      total += chain[b];
    }
    EXPECT_EQ(total, expected);
    chain.clear();
    expected = 0;
  };
  for (size_t k = 0; k < cabs.size(); ++k) {
    for (size_t i = 0; i < cabs[k].folders.size(); ++i) {
      const std::vector<ParsedBlock>& blocks = cabs[k].folders[i].blocks;
      bool continues = k > 0 && i == 0;
      if (!continues) finish();
      for (size_t b = 0; b < blocks.size(); ++b) {
        if (continues && b == 0 && !chain.empty()) chain.back() = blocks[b].cbUncomp;
        else chain.push_back(blocks[b].cbUncomp);
      }
      for (const ParsedFile& f : cabs[k].files)
        if (FolderOf(f, cabs[k]) == i) expected = std::max<uint64_t>(expected, uint64_t(f.folderOffset) + f.size);
    }
  }
  finish();
}

// Every file begins in exactly one volume, in the order given.
void CheckBeginnings(const std::vector<ParsedCabinet>& cabs, const std::vector<SetFile>& files) {
  std::vector<std::string> begun;
  for (const ParsedCabinet& cab : cabs)
    for (const ParsedFile& f : cab.files)
      if (!IsContinuedFromPrev(f.folderIndex)) begun.push_back(f.name);
  ASSERT_EQ(begun.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(begun[i], files[i].name);
}

TEST(CabSet, VolumesChainAndReadWhole) {
  ASSERT_TRUE(HaveTool("cabextract"));
  for (const SetCase& c : SetCases()) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    std::vector<CabEntry> entries;
    for (const SetFile& f : c.files) {
      CabEntry e;
      e.storedName = f.name;
      e.content = f.bytes;
      entries.push_back(e);
    }
    CabOptions options;
    options.compression = c.compression;
    options.volumeSize = c.volumeSize;
    options.firstVolumeSize = c.firstVolumeSize;
    CabVolumeNamer namer = [&dir](int i) { return CabVolumeName{dir.File(VolumeName(i)), VolumeName(i), DiskName(i)}; };
    CabWriteResult result;
    std::string error;
    ASSERT_TRUE(WriteCabinetSet(entries, options, namer, result, error)) << error;
    ASSERT_GE(result.volumes.size(), c.minVolumes);
    std::vector<ParsedCabinet> cabs;
    for (const CabVolumeInfo& v : result.volumes) cabs.push_back(ParseCabinetFile(v.path));
    CheckHeaders(cabs, c, result.setId);
    for (size_t k = 0; k + 1 < cabs.size(); ++k) CheckBoundary(cabs[k], cabs[k + 1]);
    CheckFolderChains(cabs);
    CheckBeginnings(cabs, c.files);
    bool spansThree = false;
    for (const ParsedCabinet& cab : cabs)
      for (const ParsedFile& f : cab.files) spansThree |= f.folderIndex == 0xFFFF;
    if (c.someFileSpansThree) EXPECT_TRUE(spansThree);
    EXPECT_FALSE(FileExists(dir.File(VolumeName(int(cabs.size())))));

    std::string first = dir.File(VolumeName(0));
    EXPECT_TRUE(RunTool("cabextract -t '" + first + "'", dir.File("t.log"))) << ReadFile(dir.File("t.log"));
    ASSERT_TRUE(RunTool("cabextract -q -d '" + dir.File("x") + "' '" + first + "'", dir.File("x.log")));
    for (const SetFile& f : c.files) {
      std::string path = dir.File("x/" + f.name);
      for (char& ch : path) if (ch == '\\') ch = '/';
      EXPECT_TRUE(ReadFile(path) == f.bytes) << f.name;
    }
  }
}

TEST(CabSet, SameInputSameVolumes) {
  TempDir dir;
  std::vector<CabEntry> entries;
  for (const SetFile& f : SmallFiles(200, 6000, 31, true)) entries.push_back({f.name, "", f.bytes, {}, kCabAttrArchive});
  CabOptions options;
  options.volumeSize = 128 * 1024;
  CabWriteResult r1, r2;
  std::string error;
  auto namer = [&dir](const std::string& tag) {
    return [&dir, tag](int i) { return CabVolumeName{dir.File(tag + VolumeName(i)), VolumeName(i), DiskName(i)}; };
  };
  ASSERT_TRUE(WriteCabinetSet(entries, options, namer("a"), r1, error)) << error;
  ASSERT_TRUE(WriteCabinetSet(entries, options, namer("b"), r2, error)) << error;
  ASSERT_EQ(r1.volumes.size(), r2.volumes.size());
  ASSERT_GE(r1.volumes.size(), 3u);
  for (size_t k = 0; k < r1.volumes.size(); ++k)
    EXPECT_EQ(ReadFile(r1.volumes[k].path), ReadFile(r2.volumes[k].path)) << k;
}

TEST(CabSet, RefusesWhatCannotBeSplitSoundly) {
  struct Case { const char* title; std::vector<CabEntry> entries; CabVolumeName badName; const char* errorPart; };
  std::vector<CabEntry> manyEmpty;
  for (int i = 0; i < 5000; ++i) manyEmpty.push_back({"empty" + std::to_string(i), "", "", {}, 0});
  std::vector<CabEntry> one = {{"a", "", RandomBytes(300000, 1), {}, 0}};
  Case cases[] = {
      {"a run of empty files larger than a volume can carry", manyEmpty, {}, "empty files"},
      {"a next cabinet name with a folder", one, {"", "sub\\next.cab", "disk"}, "bare file name"},
      {"an empty disk name", one, {"", "next.cab", ""}, "1 to 255"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    CabOptions options;
    options.volumeSize = 128 * 1024;
    CabVolumeNamer namer = [&](int i) {
      CabVolumeName n{dir.File(VolumeName(i)), VolumeName(i), DiskName(i)};
      if (i == 1 && !c.badName.cabinetName.empty()) n = {dir.File("v2"), c.badName.cabinetName, c.badName.diskName};
      return n;
    };
    CabWriteResult result;
    std::string error;
    EXPECT_FALSE(WriteCabinetSet(c.entries, options, namer, result, error));
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_FALSE(FileExists(dir.File(VolumeName(0))));
  }
}

}  // namespace
