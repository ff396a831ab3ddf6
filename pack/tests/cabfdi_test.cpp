// Written sets extracted through the project's FDI the way the setup stub
// drives it: one FDICopy per volume, the next volume taken only from the
// fdintNEXT_CABINET of a file that runs across the boundary, with the
// "$NEWCAB$" marker telling a finished run from one that found a further
// volume. A boundary that no file crosses would end the loop early.
#include "cabwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "cab_test_util.h"
#include "fdi_interface.h"

using namespace cabtest;

namespace {

struct Extracted {
  int copies = 0;
  uint16_t date = 0, time = 0, attribs = 0;
};

// FDI's callbacks carry no user pointer, so the run lives here, as in the stub.
struct StubRun {
  std::string volumeDir, outDir, nextCabinet;
  std::map<std::string, Extracted> files;
  int runs = 0;
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
  switch (type) {
    case fdintCOPY_FILE: {
      if (g_run.nextCabinet == "$NEWCAB$") g_run.nextCabinet.clear();
      std::string target = g_run.outDir + "/" + n->psz1;
      for (char& c : target) c = c == '\\' ? '/' : c;
      for (size_t at = 1; (at = target.find('/', at)) != std::string::npos; ++at)
        ::mkdir(target.substr(0, at).c_str(), 0755);
      g_run.files[n->psz1].copies++;
      return Open(&target[0], 0x0100, 0);
    }
    case fdintCLOSE_FILE_INFO: {
      Close(n->hf);
      Extracted& e = g_run.files[n->psz1];
      e.date = n->date;
      e.time = n->time;
      e.attribs = n->attribs;
      return 1;
    }
    case fdintNEXT_CABINET: {
      std::string path = *n->psz3 ? n->psz3 : g_run.volumeDir + "/";
      std::string name = n->psz1;
      g_run.nextCabinet = path + name.substr(name.find_last_of("\\/") + 1);
      std::strcpy(n->psz3, path.c_str());
      return 0;
    }
    default:
      return 0;
  }
}

// The stub's extraction loop; true when the last FDICopy succeeded.
bool ExtractLikeTheStub(const std::string& firstVolume) {
  ERF erf{};
  HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpuUNKNOWN, &erf);
  if (!hfdi) return false;
  std::string cab = firstVolume;
  bool ok = true;
  do {
    size_t slash = cab.rfind('/') + 1;
    std::string name = cab.substr(slash), dir = cab.substr(0, slash);
    if (g_run.runs++ > 0) g_run.nextCabinet = "$NEWCAB$";
    ok = FDICopy(hfdi, &name[0], &dir[0], 0, Notify, nullptr, nullptr) != 0;
    if (g_run.nextCabinet == "$NEWCAB$") g_run.nextCabinet.clear();
    cab = g_run.nextCabinet;
  } while (!cab.empty());
  FDIDestroy(hfdi);
  return ok;
}

TEST(CabSetThroughFdi, EveryVolumeIsVisitedAndEveryFileExtractedOnce) {
  struct Case { const char* title; std::vector<std::pair<std::string, std::string>> files; uint32_t volume; };
  std::vector<std::pair<std::string, std::string>> small;
  for (int i = 0; i < 400; ++i) small.push_back({"d\\s" + std::to_string(i), RandomBytes(size_t(i * 97 % 5000), i)});
  small.push_back({"<SYS>\\big.bin", RandomBytes(600000, 1)});
  for (int i = 0; i < 30; ++i) small.push_back({"e" + std::to_string(i), i % 3 ? "" : RandomBytes(33000, i)});
  Case cases[] = {
      {"one file over many volumes", {{"a.bin", RandomBytes(900000, 2)}}, 128 * 1024},
      {"files of every size with empty ones between", small, 128 * 1024},
      {"one byte files", {{"x1", "1"}, {"big", RandomBytes(400000, 3)}, {"x2", "2"}, {"x3", ""}}, 140000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    TempDir dir;
    std::vector<CabEntry> entries;
    for (size_t i = 0; i < c.files.size(); ++i)
      entries.push_back({c.files[i].first, "", c.files[i].second, {uint16_t(0x5000 + i), uint16_t(i)},
                         uint16_t(i % 2 ? kCabAttrReadOnly : kCabAttrArchive)});
    CabOptions options;
    options.volumeSize = c.volume;
    CabVolumeNamer namer = [&dir](int i) {
      std::string n = "Setup." + std::to_string(i + 1);
      return CabVolumeName{dir.File(n), n, "Disk " + std::to_string(i + 1)};
    };
    CabWriteResult result;
    std::string error;
    ASSERT_TRUE(WriteCabinetSet(entries, options, namer, result, error)) << error;
    ASSERT_GE(result.volumes.size(), 3u);

    g_run = StubRun{dir.Path(), dir.File("out"), "", {}, 0};
    EXPECT_TRUE(ExtractLikeTheStub(result.volumes[0].path));
    ASSERT_EQ(g_run.files.size(), entries.size());
    for (const CabEntry& e : entries) {
      const Extracted& x = g_run.files[e.storedName];
      EXPECT_EQ(x.copies, 1) << e.storedName;
      EXPECT_EQ(x.date, e.stamp.date);
      EXPECT_EQ(x.time, e.stamp.time);
      EXPECT_EQ(x.attribs, e.attributes);
      std::string path = g_run.outDir + "/" + e.storedName;
      for (char& ch : path) ch = ch == '\\' ? '/' : ch;
      EXPECT_TRUE(ReadFile(path) == e.content) << e.storedName;
    }
  }
}

}  // namespace
