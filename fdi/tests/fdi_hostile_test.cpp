// Damaged and hostile cabinets end in an FDI error code: no crash, no hang,
// nothing reported as extracted that was not in the cabinet.
#include <gtest/gtest.h>

#include "byteorder.h"
#include "test_support.h"

namespace {

using namespace fdt;

// A plain cabinet: header 36, one folder entry at 36, files at 44.
CabSpec plainSpec(uint16_t type = 0) {
  CabSpec spec;
  spec.files = {{"first.txt", patternData(1000, 11)}, {"second.txt", patternData(300, 12)}};
  spec.folderTypes = {type};
  return spec;
}

struct HostileCase {
  const char* what;
  std::function<void(Blob&)> damage;
  int isCabinetError;  // 0: FDIIsCabinet still accepts the header
  int copyError;
};

int runCopy(const Blob& cab, ERF& erf, int& isCabinetError) {
  resetFs();
  addFile("h.cab", cab);
  HFDI hfdi = createContext(erf);
  FDICABINETINFO info{};
  intptr_t hf = openForRead("h.cab");
  isCabinetError = FDIIsCabinet(hfdi, hf, &info) ? 0 : erf.erfOper;
  closeHandle(hf);
  erf = ERF{};
  Handler h;
  bool ok = copySet(hfdi, "h.cab", h);
  FDIDestroy(hfdi);
  EXPECT_EQ(openHandleCount(), 0);
  EXPECT_EQ(fs().allocations, 0);
  return ok ? 0 : erf.erfOper;
}

TEST(Hostile, DamagedStructuresEndWithTheirCode) {
  const size_t firstFile = 44;
  const HostileCase cases[] = {
      {"version 2.0",
       [](Blob& b) {
         b[25] = 2;
         b[24] = 0;
       },
       FDIERROR_UNKNOWN_CABINET_VERSION, FDIERROR_UNKNOWN_CABINET_VERSION},
      {"no folders", [](Blob& b) { WriteLe16(b.data() + 26, 0); }, FDIERROR_CORRUPT_CABINET,
       FDIERROR_CORRUPT_CABINET},
      {"files offset past the end", [](Blob& b) { WriteLe32(b.data() + 16, 0x7fff0000); },
       FDIERROR_CORRUPT_CABINET, FDIERROR_CORRUPT_CABINET},
      {"folder index beyond the folders", [=](Blob& b) { WriteLe16(b.data() + firstFile + 8, 5); }, 0,
       FDIERROR_CORRUPT_CABINET},
      {"more file entries than present", [](Blob& b) { WriteLe16(b.data() + 28, 900); }, 0,
       FDIERROR_CORRUPT_CABINET},
      {"name without its zero",
       [](Blob& b) {
         b.resize(44 + 16 + 5);
         WriteLe16(b.data() + 28, 1);
       },
       0, FDIERROR_CORRUPT_CABINET},
      {"file beyond the folder's data", [=](Blob& b) { WriteLe32(b.data() + firstFile, 5000); }, 0,
       FDIERROR_CORRUPT_CABINET},
      {"file offset beyond the folder's data",
       [=](Blob& b) { WriteLe32(b.data() + firstFile + 4, 0x10000000); }, 0, FDIERROR_CORRUPT_CABINET},
      {"data offset past the end", [](Blob& b) { WriteLe32(b.data() + 36, 0x00ffffff); }, 0,
       FDIERROR_CORRUPT_CABINET},
      {"block count far beyond the blocks",
       [](Blob& b) {
         WriteLe16(b.data() + 40, 65535);
         WriteLe16(b.data() + 28, 1);
         WriteLe32(b.data() + 44, 0x7fffffff);
       },
       0, FDIERROR_CORRUPT_CABINET},
      {"no blocks at all", [](Blob& b) { WriteLe16(b.data() + 40, 0); }, 0, FDIERROR_CORRUPT_CABINET},
      {"unknown compression", [](Blob& b) { WriteLe16(b.data() + 42, 5); }, 0, FDIERROR_BAD_COMPR_TYPE},
      {"LZX window too small", [](Blob& b) { WriteLe16(b.data() + 42, 0x0E03); }, 0, FDIERROR_BAD_COMPR_TYPE},
      {"Quantum window too large", [](Blob& b) { WriteLe16(b.data() + 42, 0x1602); }, 0,
       FDIERROR_BAD_COMPR_TYPE},
      {"split marker without a next cabinet",
       [](Blob& b) {
         size_t d = ReadLe32(b.data() + 36);
         WriteLe16(b.data() + d + 6, 0);
         WriteLe32(b.data() + d, 0);
       },
       0, FDIERROR_CORRUPT_CABINET},
      {"block expanding past 32 KiB",
       [](Blob& b) {
         size_t d = ReadLe32(b.data() + 36);
         WriteLe16(b.data() + d + 6, 40000);
         WriteLe32(b.data() + d, 0);
       },
       0, FDIERROR_CORRUPT_CABINET},
      {"stored block of the wrong size",
       [](Blob& b) {
         size_t d = ReadLe32(b.data() + 36);
         WriteLe16(b.data() + d + 6, 1299);
         WriteLe32(b.data() + d, 0);
       },
       0, FDIERROR_MDI_FAIL},
      {"checksum mismatch",
       [](Blob& b) {
         size_t d = ReadLe32(b.data() + 36);
         b[d + 8 + 100] ^= 0x40;
       },
       0, FDIERROR_CORRUPT_CABINET},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    Blob cab = buildCab(plainSpec());
    c.damage(cab);
    ERF erf{};
    int isCab = 0;
    EXPECT_EQ(runCopy(cab, erf, isCab), c.copyError);
    EXPECT_EQ(isCab, c.isCabinetError);
    if (c.copyError == FDIERROR_UNKNOWN_CABINET_VERSION) {
      // FDI documents the cabinet's version in erfType.
      resetFs();
      addFile("v.cab", cab);
      ERF e2{};
      HFDI hfdi = createContext(e2);
      FDICABINETINFO info{};
      intptr_t hf = openForRead("v.cab");
      EXPECT_FALSE(FDIIsCabinet(hfdi, hf, &info));
      EXPECT_EQ(e2.erfType, 0x200);
      closeHandle(hf);
      FDIDestroy(hfdi);
    }
  }
}

// Compressed data that is not what it claims to be, with no checksum to
// catch it first, fails in the decoder. Quantum's arithmetic coder turns any
// bits into some symbols, so there noise may decode; it must still end.
TEST(Hostile, GarbageInCompressedFoldersFailsInTheDecoder) {
  const uint16_t types[] = {0x0001, 0x0F03, 0x1503, 0x0A02, 0x1502};
  for (uint16_t type : types) {
    for (uint32_t seed = 1; seed <= 30; ++seed) {
      SCOPED_TRACE("type " + std::to_string(type) + " seed " + std::to_string(seed));
      CabSpec spec = plainSpec();
      spec.checksums = false;
      Blob cab = buildCab(spec);
      WriteLe16(cab.data() + 42, type);
      size_t d = ReadLe32(cab.data() + 36);
      Blob noise = patternData(1300, seed * 7919);
      for (size_t i = 0; i < 1300; ++i) cab[d + 8 + i] = noise[(i * 131) % 1300] ^ uint8_t(i * seed);
      ERF erf{};
      int isCab = 0;
      int e = runCopy(cab, erf, isCab);
      bool quantum = (type & 0x0f) == 2;
      EXPECT_TRUE(e == FDIERROR_MDI_FAIL || e == FDIERROR_CORRUPT_CABINET || (quantum && e == 0)) << e;
    }
  }
}

// Every single-byte change to real cabinets ends in success or a defined
// error code, never in a crash or a hang; changes to checksummed data fail.
TEST(Hostile, EveryByteFlippedInPeerCabinets) {
  const std::string dir = std::string(VELTRA_TESTDATA) + "/peer-cabs/";
  for (const char* name : {"mixed.cab", "normal_2files_2folders.cab", "reserve_HFD.cab"}) {
    Blob original = readTestFile(dir + name);
    ASSERT_FALSE(original.empty());
    for (size_t at = 0; at < original.size(); ++at) {
      SCOPED_TRACE(std::string(name) + " byte " + std::to_string(at));
      Blob cab = original;
      cab[at] ^= 0xA5;
      ERF erf{};
      int isCab = 0;
      int e = runCopy(cab, erf, isCab);
      EXPECT_GE(e, FDIERROR_NONE);
      EXPECT_LE(e, FDIERROR_WRONG_CABINET);
      EXPECT_NE(e, FDIERROR_CABINET_NOT_FOUND);
    }
  }
}

TEST(Hostile, ReservedAreasOfAllSizesAreSkipped) {
  struct Row {
    uint16_t header;
    uint8_t folder, data;
  };
  const Row rows[] = {{0, 0, 1}, {1, 0, 0}, {0, 255, 0}, {60000, 255, 255}, {7, 3, 9}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.header) + "/" + std::to_string(r.folder) + "/" + std::to_string(r.data));
    CabSpec spec = plainSpec(1);
    spec.headerReserve = r.header;
    spec.folderReserve = r.folder;
    spec.dataReserve = r.data;
    resetFs();
    addFile("r.cab", buildCab(spec));
    ERF erf{};
    HFDI hfdi = createContext(erf);
    Handler h;
    ASSERT_TRUE(copySet(hfdi, "r.cab", h)) << erf.erfOper;
    EXPECT_EQ(h.extracted["first.txt"], patternData(1000, 11));
    EXPECT_EQ(h.extracted["second.txt"], patternData(300, 12));
    FDIDestroy(hfdi);
  }
}

TEST(Hostile, FilesStartingInAContinuedFolderAreRefused) {
  // A later volume whose first folder carries on the previous cabinet's,
  // with a file that begins inside it: its start is out of reach.
  CabSpec spec = plainSpec();
  spec.prevName = "before.cab";
  spec.prevDisk = "disk";
  spec.files[0].folderIndexOverride = 0xFFFD;
  Blob cab = buildCab(spec);
  resetFs();
  addFile("c.cab", cab);
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  EXPECT_FALSE(copySet(hfdi, "c.cab", h));
  EXPECT_EQ(erf.erfOper, FDIERROR_CORRUPT_CABINET);
  EXPECT_EQ(h.count(fdintPARTIAL_FILE), 1);
  FDIDestroy(hfdi);
  EXPECT_EQ(openHandleCount(), 0);
}

}  // namespace
