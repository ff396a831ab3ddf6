// Cabinet sets: volumes within their limits, chained by name, with a split
// block and at least one file running across every boundary; read whole by
// cabextract and by our FDI driven the way the setup stub drives it.
#include "cabinet_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>

#include "cab_test_util.h"
#include "fdi_interface.h"

using namespace cabtest;

namespace {

struct SetCase {
  const char* title;
  std::vector<cab::Entry> files;
  cab::Compression compression = cab::Compression::MsZip;
  uint32_t volumeSize = 128 * 1024, firstVolumeSize = 0, folderTarget = 64u << 20;
  size_t minVolumes = 2;
};

std::vector<cab::Entry> SmallFiles(int count, size_t maxSize, uint32_t seed) {
  std::vector<cab::Entry> files;
  std::mt19937 rng(seed);
  for (int i = 0; i < count; ++i)
    files.push_back(Entry("dir" + std::to_string(i % 7) + "\\f" + std::to_string(i),
                          RandomBytes(rng() % (maxSize + 1), rng()), {uint16_t(0x5000 + i), uint16_t(i)},
                          uint16_t(i % 2 ? cab::kAttrReadOnly : cab::kAttrArchive)));
  return files;
}

std::vector<cab::Entry> EmptyRuns() {
  std::vector<cab::Entry> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back(Entry("chunk" + std::to_string(i), RandomBytes(i % 3 ? 30000 : 1, uint32_t(i))));
    for (int k = 0; k < i % 5; ++k)
      files.push_back(Entry("e" + std::to_string(i) + "_" + std::to_string(k), ""));
  }
  return files;
}

// The filler size that leaves a stored one-byte folder exactly where the first
// volume must end, so that its block splits into one byte and nothing.
std::vector<cab::Entry> OneByteSplit() {
  TempDir dir;
  for (size_t f = 131072 - 300; f < 131072; ++f) {
    std::vector<cab::Entry> e = {Entry("F", std::string(f, 'f')), Entry("A", "a"), Entry("B", "b")};
    cab::WriteOptions o;
    o.compression = cab::Compression::Stored;
    o.volumeSize = 128 * 1024;
    o.folderTarget = 1;
    cab::VolumeNamer namer = [&dir](int i) { return cab::VolumeName{dir.File(std::to_string(i)), "v", "d"}; };
    cab::WriteResult r;
    std::string error;
    if (cab::WriteCabinetSet(e, o, namer, HostCabinetFiles(), r, error) && r.volumes.size() == 2 &&
        ParseCabinetFile(r.volumes[1].path).folders.at(0).blocks.at(0).cbData == 0)
      return e;
  }
  ADD_FAILURE() << "no filler size splits a one-byte block";
  return {};
}

std::vector<SetCase> SetCases() {
  std::vector<cab::Entry> mixed = SmallFiles(300, 9000, 3);
  mixed.insert(mixed.begin() + 100, Entry("<SYS>\\big.bin", RandomBytes(700000, 4)));
  std::vector<cab::Entry> text = {Entry("t1.txt", SomeText(1500000, 6)),
                                  Entry("t2.txt", SomeText(900000, 7))};
  return {
      {"two volumes", {Entry("a.bin", RandomBytes(200000, 1))}},
      {"one file across many volumes",
       {Entry("big.bin", RandomBytes(1100000, 2))},
       cab::Compression::MsZip,
       128 * 1024,
       0,
       64u << 20,
       8},
      {"small and large files", mixed, cab::Compression::MsZip, 128 * 1024, 0, 64u << 20, 10},
      {"stored set", SmallFiles(120, 20000, 5), cab::Compression::Stored, 150000, 0, 64u << 20, 8},
      {"compressible text", text, cab::Compression::MsZip, 128 * 1024, 0, 64u << 20, 3},
      {"a first volume of its own size",
       {Entry("x.bin", RandomBytes(900000, 8)), Entry("y", "tail")},
       cab::Compression::MsZip,
       128 * 1024,
       400000,
       64u << 20,
       5},
      {"runs of empty files", EmptyRuns(), cab::Compression::Stored, 128 * 1024, 0, 64u << 20, 5},
      // Blocks touching thousands of files: more list entries than may cross
      // into a volume, so folders end early.
      {"thousands of tiny files", SmallFiles(12000, 1, 9)},
      {"one byte split off", OneByteSplit(), cab::Compression::Stored, 128 * 1024, 0, 1},
  };
}

std::string VolumeName(int i) { return "Setup." + std::to_string(i + 1); }
std::string DiskName(int i) { return "Veltra disk " + std::to_string(i + 1); }
bool FromPrev(uint16_t index) { return index == 0xFFFD || index == 0xFFFF; }
bool ToNext(uint16_t index) { return index == 0xFFFE || index == 0xFFFF; }

void CheckHeader(const ParsedCabinet& cab, size_t k, size_t count, const SetCase& c, uint16_t setId) {
  ASSERT_EQ(cab.error, "");
  EXPECT_LE(cab.fileSize, k == 0 && c.firstVolumeSize ? c.firstVolumeSize : c.volumeSize);
  EXPECT_EQ(cab.index, k);
  EXPECT_EQ(cab.setId, setId);
  EXPECT_EQ(cab.flags, (k > 0 ? 1 : 0) | (k + 1 < count ? 2 : 0));
  if (k > 0) EXPECT_EQ(cab.prevCabinet + cab.prevDisk, VolumeName(int(k) - 1) + DiskName(int(k) - 1));
  if (k + 1 < count) EXPECT_EQ(cab.nextCabinet + cab.nextDisk, VolumeName(int(k) + 1) + DiskName(int(k) + 1));
  for (const ParsedFolder& f : cab.folders) EXPECT_EQ(f.type, uint16_t(c.compression));
}

// What FDI relies on at a boundary: a split block ends the volume, the files
// touching it are listed last before and first after it, in the same order,
// and no file begins in the continued folder.
void CheckBoundary(const ParsedCabinet& left, const ParsedCabinet& right) {
  ASSERT_FALSE(left.folders.empty() || right.folders.empty() || left.folders.back().blocks.empty());
  EXPECT_EQ(left.folders.back().blocks.back().cbUncomp, 0);
  EXPECT_GT(right.folders.front().blocks.at(0).cbUncomp, 0);
  std::vector<const ParsedFile*> out, in;
  for (const ParsedFile& f : left.files)
    if (ToNext(f.folderIndex)) out.push_back(&f);
  for (const ParsedFile& f : right.files)
    if (FromPrev(f.folderIndex)) in.push_back(&f);
  ASSERT_FALSE(out.empty());
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i]->name + std::to_string(out[i]->folderOffset),
              in[i]->name + std::to_string(in[i]->folderOffset));
    EXPECT_EQ(out[i], &left.files[left.files.size() - out.size() + i]);
    EXPECT_EQ(in[i], &right.files[i]);
  }
  for (const ParsedFile& f : right.files)
    EXPECT_NE(f.folderIndex, 0) << f.name << " begins in a continued folder";
}

// Joins split blocks back together: every folder has full blocks but for its
// last and holds exactly its files' bytes.
void CheckFolderChains(const std::vector<ParsedCabinet>& cabs) {
  std::vector<uint32_t> chain;
  uint64_t expected = 0;
  auto finish = [&]() {
    uint64_t total = 0;
    for (size_t b = 0; b < chain.size(); ++b) {
      EXPECT_TRUE(chain[b] == 32768 || b + 1 == chain.size());
      total += chain[b];
    }
    EXPECT_EQ(total, expected);
    chain.clear();
    expected = 0;
  };
  for (size_t k = 0; k < cabs.size(); ++k) {
    for (size_t i = 0; i < cabs[k].folders.size(); ++i) {
      bool continues = k > 0 && i == 0;
      if (!continues) finish();
      for (const ParsedBlock& b : cabs[k].folders[i].blocks) {
        if (continues && &b == &cabs[k].folders[i].blocks[0] && !chain.empty())
          chain.back() = b.cbUncomp;
        else
          chain.push_back(b.cbUncomp);
      }
      for (const ParsedFile& f : cabs[k].files) {
        size_t folder = f.folderIndex < 0xFFFD    ? f.folderIndex
                        : f.folderIndex == 0xFFFD ? 0
                                                  : cabs[k].folders.size() - 1;
        if (folder == i) expected = std::max<uint64_t>(expected, uint64_t(f.folderOffset) + f.size);
      }
    }
  }
  finish();
}

// --- the stub's extraction loop over our FDI -------------------------------

struct StubRun {  // FDI's callbacks carry no user pointer, so the run lives here
  std::string volumeDir, outDir, nextCabinet;
  std::map<std::string, std::vector<uint16_t>> files;  // copies, date, time, attributes
} g_run;

void* FDIAPI Alloc(unsigned long cb) { return std::malloc(cb); }
void FDIAPI Free(void* p) { std::free(p); }
intptr_t FDIAPI Open(char* path, int oflag, int) {
  return ::open(path, (oflag & 0x0100) ? O_RDWR | O_CREAT | O_TRUNC : O_RDONLY, 0644);
}
unsigned FDIAPI Read(intptr_t hf, void* pv, unsigned cb) { return unsigned(::read(int(hf), pv, cb)); }
unsigned FDIAPI Write(intptr_t hf, void* pv, unsigned cb) { return unsigned(::write(int(hf), pv, cb)); }
int FDIAPI Close(intptr_t hf) { return ::close(int(hf)); }
long FDIAPI Seek(intptr_t hf, long dist, int how) { return long(::lseek(int(hf), dist, how)); }

intptr_t FDIAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  if (type == fdintCOPY_FILE) {
    if (g_run.nextCabinet == "$NEWCAB$") g_run.nextCabinet.clear();
    std::string target = g_run.outDir + "/" + HostPath(n->psz1);
    for (size_t at = 1; (at = target.find('/', at)) != std::string::npos; ++at)
      ::mkdir(target.substr(0, at).c_str(), 0755);
    g_run.files[n->psz1].push_back(0);
    return Open(&target[0], 0x0100, 0);
  }
  if (type == fdintCLOSE_FILE_INFO) {
    Close(n->hf);
    std::vector<uint16_t>& seen = g_run.files[n->psz1];
    seen.insert(seen.end(), {n->date, n->time, n->attribs});
    return 1;
  }
  if (type == fdintNEXT_CABINET) {
    std::string path = *n->psz3 ? n->psz3 : g_run.volumeDir + "/", name = n->psz1;
    g_run.nextCabinet = path + name.substr(name.find_last_of("\\/") + 1);
    std::strcpy(n->psz3, path.c_str());
  }
  return 0;
}

// One FDICopy per volume that a file running across a boundary led to; true
// when the last run succeeded.
bool ExtractLikeTheStub(const std::string& volumeDir, const std::string& outDir) {
  g_run = StubRun{volumeDir, outDir, "", {}};
  ERF erf{};
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  std::string name = VolumeName(0), dir = volumeDir + "/";
  bool ok = hfdi && FDICopy(hfdi, &name[0], &dir[0], 0, Notify, nullptr, nullptr);
  while (hfdi && !g_run.nextCabinet.empty()) {
    size_t slash = g_run.nextCabinet.rfind('/') + 1;
    name = g_run.nextCabinet.substr(slash);
    dir = g_run.nextCabinet.substr(0, slash);
    g_run.nextCabinet = "$NEWCAB$";
    ok = FDICopy(hfdi, &name[0], &dir[0], 0, Notify, nullptr, nullptr);
    if (g_run.nextCabinet == "$NEWCAB$") g_run.nextCabinet.clear();
  }
  return hfdi && FDIDestroy(hfdi) && ok;
}

TEST(CabSet, VolumesChainAndReadWhole) {
  ASSERT_TRUE(RunTool("command -v cabextract", "/dev/null"));
  for (const SetCase& c : SetCases()) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    cab::WriteOptions options;
    options.compression = c.compression;
    options.volumeSize = c.volumeSize;
    options.firstVolumeSize = c.firstVolumeSize;
    options.folderTarget = c.folderTarget;
    cab::VolumeNamer namer = [&dir](int i) {
      return cab::VolumeName{dir.File(VolumeName(i)), VolumeName(i), DiskName(i)};
    };
    cab::WriteResult result, again;
    std::string error;
    ASSERT_TRUE(cab::WriteCabinetSet(c.files, options, namer, HostCabinetFiles(), result, error)) << error;
    ASSERT_GE(result.volumes.size(), c.minVolumes);
    std::vector<ParsedCabinet> cabs;
    for (size_t k = 0; k < result.volumes.size(); ++k) {
      cabs.push_back(ParseCabinetFile(result.volumes[k].path));
      CheckHeader(cabs[k], k, result.volumes.size(), c, result.setId);
    }
    for (size_t k = 0; k + 1 < cabs.size(); ++k) CheckBoundary(cabs[k], cabs[k + 1]);
    CheckFolderChains(cabs);

    std::string first = "'" + dir.File(VolumeName(0)) + "'";
    EXPECT_TRUE(RunTool("cabextract -t " + first, dir.File("log"))) << ReadFile(dir.File("log"));
    ASSERT_TRUE(RunTool("cabextract -q -d " + dir.File("cx") + " " + first, dir.File("log")));
    EXPECT_TRUE(ExtractLikeTheStub(dir.Path(), dir.File("fdi")));
    EXPECT_EQ(g_run.files.size(), c.files.size());
    for (const cab::Entry& f : c.files) {
      EXPECT_TRUE(ReadFile(dir.File("cx/" + HostPath(f.storedName))) == f.content) << f.storedName;
      EXPECT_TRUE(ReadFile(dir.File("fdi/" + HostPath(f.storedName))) == f.content) << f.storedName;
      std::vector<uint16_t> once = {0, f.stamp.date, f.stamp.time, f.attributes};
      EXPECT_EQ(g_run.files[f.storedName], once) << f.storedName;
    }
    cab::VolumeNamer elsewhere = [&dir](int i) {
      return cab::VolumeName{dir.File("b" + std::to_string(i)), VolumeName(i), DiskName(i)};
    };
    ASSERT_TRUE(cab::WriteCabinetSet(c.files, options, elsewhere, HostCabinetFiles(), again, error));
    for (size_t k = 0; k < result.volumes.size(); ++k)
      EXPECT_TRUE(ReadFile(result.volumes[k].path) == ReadFile(again.volumes.at(k).path)) << "volume " << k;
  }
}

TEST(CabSet, RefusesWhatCannotBeSplitSoundly) {
  std::vector<cab::Entry> manyEmpty, one = {Entry("a", RandomBytes(300000, 1))};
  for (int i = 0; i < 5000; ++i) manyEmpty.push_back(Entry("empty" + std::to_string(i), ""));
  struct Case {
    std::vector<cab::Entry> entries;
    cab::VolumeName second;
    const char* errorPart;
  } cases[] = {
      {manyEmpty, {}, "empty files"},
      {one, {"", "sub\\next.cab", "disk"}, "bare file name"},
      {one, {"", "next.cab", ""}, "1 to 255"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    cab::WriteOptions options;
    options.volumeSize = 128 * 1024;
    cab::VolumeNamer namer = [&](int i) {
      if (i == 1 && !c.second.cabinetName.empty())
        return cab::VolumeName{dir.File("2"), c.second.cabinetName, c.second.diskName};
      return cab::VolumeName{dir.File(VolumeName(i)), VolumeName(i), DiskName(i)};
    };
    cab::WriteResult result;
    std::string error;
    EXPECT_FALSE(cab::WriteCabinetSet(c.entries, options, namer, HostCabinetFiles(), result, error));
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_FALSE(FileExists(dir.File(VolumeName(0))));
  }
}

}  // namespace
