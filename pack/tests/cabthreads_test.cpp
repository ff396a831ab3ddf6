// The cabinet writer with worker threads: the same entries give the same
// bytes for any thread count, in every compression, for single cabinets and
// sets whose volumes end folders early; a source that fails in the middle
// fails the build with the same words for any thread count.
#include <gtest/gtest.h>

#include <cstring>

#include "cab_test_util.h"
#include "cabinet_writer.h"

using namespace cabtest;

namespace {

struct ThreadCase {
  const char* title;
  cab::Compression compression;
  int level;
  uint32_t volumeSize;  // 0: a single cabinet
};

// Text, noise and empty files across several small folders.
std::vector<cab::Entry> MixedEntries() {
  std::vector<cab::Entry> files;
  for (int i = 0; i < 24; ++i) {
    std::string bytes = i % 3 == 0   ? RandomBytes(size_t(20000 + 7919 * i), uint32_t(i))
                        : i % 3 == 1 ? SomeText(size_t(60000 + 3001 * i), uint32_t(i))
                                     : std::string(i % 2 ? 0 : 70000, char('a' + i));
    files.push_back(Entry("d" + std::to_string(i % 4) + "\\f" + std::to_string(i), bytes));
  }
  return files;
}

cab::WriteOptions Options(const ThreadCase& c, int threads) {
  cab::WriteOptions o;
  o.compression = c.compression;
  o.level = c.level;
  o.lzxWindow = 16;
  o.volumeSize = c.volumeSize;
  o.folderTarget = 300000;  // several folders in a couple of MiB
  o.segmentBlocks = 2;      // many segments per folder
  o.threads = threads;
  return o;
}

// The uncompressed size of the LZX block that opens a folder's data (the
// call translation header, then three bits of type and 24 of size, read from
// the top of 16-bit little-endian words).
uint32_t FirstLzxBlockSize(const std::string& cabinet, const ParsedCabinet& parsed,
                           const ParsedFolder& folder) {
  const size_t payload = folder.offset + 8 + parsed.dataReserve;
  size_t bit = 0;
  auto read = [&](unsigned count) {
    uint32_t v = 0;
    for (unsigned k = 0; k < count; ++k, ++bit) {
      const size_t word = payload + bit / 16 * 2;
      const uint32_t w =
          word + 1 < cabinet.size() ? uint8_t(cabinet[word]) | (uint8_t(cabinet[word + 1]) << 8) : 0;
      v = (v << 1) | ((w >> (15 - bit % 16)) & 1);
    }
    return v;
  };
  if (read(1)) read(32);
  read(3);
  return read(24);
}

cab::VolumeNamer Namer(const TempDir& dir) {
  return [&dir](int i) {
    std::string name = "v" + std::to_string(i + 1) + ".cab";
    return cab::VolumeName{dir.File(name), name, "disk " + std::to_string(i + 1)};
  };
}

// Every volume's bytes, in order.
std::vector<std::string> Build(const ThreadCase& c, int threads, const std::vector<cab::Entry>& entries,
                               const TempDir& dir, std::string& error) {
  cab::WriteResult result;
  std::vector<std::string> volumes;
  if (!cab::WriteCabinetSet(entries, Options(c, threads), Namer(dir), HostCabinetFiles(), result, error))
    return volumes;
  for (const cab::VolumeInfo& v : result.volumes) volumes.push_back(ReadFile(v.path));
  return volumes;
}

TEST(CabThreads, SameBytesForAnyThreadCount) {
  const ThreadCase cases[] = {
      {"stored", cab::Compression::Stored, 0, 0},
      {"MSZIP 6", cab::Compression::MsZip, 6, 0},
      {"MSZIP 9", cab::Compression::MsZip, 9, 0},
      {"LZX", cab::Compression::Lzx, 3, 0},
      {"LZX 9", cab::Compression::Lzx, 9, 0},
      {"stored set", cab::Compression::Stored, 0, 300000},
      {"MSZIP set", cab::Compression::MsZip, 6, 200000},
      {"LZX set", cab::Compression::Lzx, 3, 200000},
  };
  const std::vector<cab::Entry> entries = MixedEntries();
  for (const ThreadCase& c : cases) {
    SCOPED_TRACE(c.title);
    TempDir one;
    std::string error;
    const std::vector<std::string> expected = Build(c, 1, entries, one, error);
    ASSERT_FALSE(expected.empty()) << error;
    EXPECT_EQ(expected.size() > 1, c.volumeSize != 0);
    size_t folders = 0;
    for (const std::string& v : expected) folders += ParseCabinet(v).folders.size();
    EXPECT_GT(folders, expected.size());
    // A single cabinet's LZX blocks span frames; a set's are one frame each,
    // as a volume may end a folder at any block.
    if (c.compression == cab::Compression::Lzx) {
      const ParsedCabinet first = ParseCabinet(expected[0]);
      size_t spanning = 0;
      for (const ParsedFolder& f : first.folders)
        spanning += FirstLzxBlockSize(expected[0], first, f) > cab::kBlockSize;
      EXPECT_EQ(spanning > 0, c.volumeSize == 0) << spanning << " of " << first.folders.size() << " folders";
    }
    // What one thread wrote reads back whole with a peer's extractor.
    ASSERT_TRUE(RunTool("cd " + one.Path() + " && cabextract -q -d out v1.cab", one.File("log")))
        << ReadFile(one.File("log"));
    for (const cab::Entry& e : entries)
      EXPECT_TRUE(ReadFile(one.File("out/" + HostPath(e.storedName))) == e.content) << e.storedName;
    for (int threads : {2, 3}) {
      TempDir dir;
      std::vector<std::string> got = Build(c, threads, entries, dir, error);
      ASSERT_EQ(got.size(), expected.size()) << threads << " threads: " << error;
      for (size_t k = 0; k < got.size(); ++k)
        EXPECT_TRUE(got[k] == expected[k]) << threads << " threads, volume " << k + 1;
    }
  }
}

// Host files, but the source named `failing` breaks after `goodBytes`, or
// cannot be opened at all.
class FailingFiles : public cab::WriterFiles {
 public:
  FailingFiles(std::string failing, long goodBytes) : failing_(std::move(failing)), goodBytes_(goodBytes) {}
  bool SourceSize(const std::string& path, uint64_t& size) override {
    return HostCabinetFiles().SourceSize(path, size);
  }
  std::unique_ptr<cab::EntryReader> OpenEntry(const cab::Entry& entry, uint64_t expectedSize,
                                              std::string& error) override {
    if (entry.storedName == failing_ && goodBytes_ < 0) return error = "cannot open " + failing_, nullptr;
    auto inner = HostCabinetFiles().OpenEntry(entry, expectedSize, error);
    if (!inner || entry.storedName != failing_) return inner;
    return std::make_unique<Reader>(std::move(inner), failing_, goodBytes_);
  }
  std::unique_ptr<cab::VolumeOutput> CreateVolume(const std::string& path, size_t headerSize,
                                                  std::string& error) override {
    return HostCabinetFiles().CreateVolume(path, headerSize, error);
  }
  void Remove(const std::string& path) override { HostCabinetFiles().Remove(path); }

 private:
  class Reader : public cab::EntryReader {
   public:
    Reader(std::unique_ptr<cab::EntryReader> inner, std::string name, long left)
        : inner_(std::move(inner)), name_(std::move(name)), left_(left) {}
    long Read(uint8_t* out, size_t limit, std::string& error) override {
      if (left_ <= 0) return error = "cannot read " + name_ + ": input/output error", -1;
      long n = inner_->Read(out, std::min<size_t>(limit, size_t(left_)), error);
      if (n > 0) left_ -= n;
      return n;
    }

   private:
    std::unique_ptr<cab::EntryReader> inner_;
    std::string name_;
    long left_;
  };
  std::string failing_;
  long goodBytes_;
};

TEST(CabThreads, ReadErrorsFailTheSameWay) {
  const std::vector<cab::Entry> entries = MixedEntries();
  const struct {
    ThreadCase build;
    const char* failing;
    long goodBytes;  // -1: it does not open
    const char* says;
  } cases[] = {
      {{"MSZIP, a read fails midway", cab::Compression::MsZip, 6, 0},
       "d1\\f13",
       50000,
       "cannot read d1\\f13"},
      {{"MSZIP set, no open", cab::Compression::MsZip, 6, 200000}, "d0\\f16", -1, "cannot open d0\\f16"},
      {{"stored, a read fails", cab::Compression::Stored, 0, 0}, "d3\\f19", 1000, "cannot read d3\\f19"},
      {{"LZX, no open", cab::Compression::Lzx, 3, 0}, "d2\\f22", -1, "cannot open d2\\f22"},
      {{"LZX, a read fails", cab::Compression::Lzx, 3, 0}, "d1\\f9", 4096, "cannot read d1\\f9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.build.title);
    for (int threads : {1, 2, 3}) {
      TempDir dir;
      FailingFiles files(c.failing, c.goodBytes);
      cab::WriteResult result;
      std::string error;
      EXPECT_FALSE(
          cab::WriteCabinetSet(entries, Options(c.build, threads), Namer(dir), files, result, error));
      EXPECT_EQ(error.substr(0, std::strlen(c.says)), c.says) << threads << " threads: " << error;
      EXPECT_FALSE(FileExists(dir.File("v1.cab")) || FileExists(dir.File("v2.cab"))) << threads;
    }
  }
}

}  // namespace
