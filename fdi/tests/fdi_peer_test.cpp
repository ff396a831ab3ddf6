// Cabinets written by other tools: every set extracts to the contents that
// EXPECTED.txt lists, and the damaged ones are refused with an error code.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace fdt;

const std::string kPeerDir = std::string(VELTRA_TESTDATA) + "/peer-cabs";

std::vector<PeerExpected> loadExpected() { return loadPeerExpected(kPeerDir); }
void loadPeerCabinets() { fdt::loadPeerCabinets(kPeerDir); }

TEST(PeerCabinets, ExpectedListIsComplete) {
  std::vector<PeerExpected> all = loadExpected();
  EXPECT_EQ(all.size(), 18u);
  int withFiles = 0;
  for (const PeerExpected& e : all) withFiles += e.files.empty() ? 0 : 1;
  EXPECT_EQ(withFiles, 15);
}

TEST(PeerCabinets, EverySetExtractsToTheListedContents) {
  for (const PeerExpected& want : loadExpected()) {
    if (want.files.empty()) continue;
    SCOPED_TRACE(want.cabinet);
    loadPeerCabinets();
    ERF erf{};
    HFDI hfdi = createContext(erf);
    ASSERT_NE(hfdi, nullptr);
    FDICABINETINFO info{};
    intptr_t hf = openForRead(want.cabinet);
    EXPECT_TRUE(FDIIsCabinet(hfdi, hf, &info));
    closeHandle(hf);
    Handler h;
    EXPECT_TRUE(copySet(hfdi, want.cabinet, h)) << "erfOper " << erf.erfOper;
    ASSERT_EQ(h.extracted.size(), want.files.size());
    for (const auto& f : want.files) {
      ASSERT_EQ(h.extracted.count(f.first), 1u) << f.first;
      EXPECT_EQ(md5Hex(h.extracted[f.first]), f.second) << f.first;
    }
    EXPECT_TRUE(FDIDestroy(hfdi));
    EXPECT_EQ(fs().allocations, 0);
    EXPECT_EQ(openHandleCount(), 0);
  }
}

struct Damaged {
  const char* cabinet;
  int isCabinetError;
  int copyError;
};

TEST(PeerCabinets, DamagedOnesAreRefusedWithAReason) {
  const Damaged cases[] = {
      {"bad_signature.cab", FDIERROR_NOT_A_CABINET, FDIERROR_NOT_A_CABINET},
      {"partial_shortheader.cab", FDIERROR_NOT_A_CABINET, FDIERROR_NOT_A_CABINET},
      {"bad_nofiles.cab", FDIERROR_CORRUPT_CABINET, FDIERROR_CORRUPT_CABINET},
  };
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.cabinet);
    loadPeerCabinets();
    ERF erf{};
    HFDI hfdi = createContext(erf);
    FDICABINETINFO info{};
    intptr_t hf = openForRead(c.cabinet);
    EXPECT_FALSE(FDIIsCabinet(hfdi, hf, &info));
    closeHandle(hf);
    EXPECT_EQ(erf.erfOper, c.isCabinetError);
    EXPECT_TRUE(erf.fError);
    erf = ERF{};
    Handler h;
    EXPECT_FALSE(copySet(hfdi, c.cabinet, h));
    EXPECT_EQ(erf.erfOper, c.copyError);
    EXPECT_TRUE(h.events.empty());
    FDIDestroy(hfdi);
    EXPECT_EQ(openHandleCount(), 0);
  }
}

TEST(PeerCabinets, IsCabinetDescribesTheHeader) {
  loadPeerCabinets();
  ERF erf{};
  HFDI hfdi = createContext(erf);
  struct Row {
    const char* cab;
    long size;
    int folders, files, set, index, reserve, prev, next;
  };
  const Row rows[] = {
      {"split-1.cab", 30000, 2, 3, 5988, 0, 1, 0, 1}, {"split-3.cab", 30000, 1, 1, 5988, 2, 1, 1, 1},
      {"split-5.cab", 22150, 1, 2, 5988, 4, 1, 1, 0}, {"mixed.cab", 379, 3, 3, 0, 0, 0, 0, 0},
      {"reserve_HFD.cab", 226, 1, 2, 1, 0, 1, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.cab);
    FDICABINETINFO info{};
    intptr_t hf = openForRead(r.cab);
    ASSERT_TRUE(FDIIsCabinet(hfdi, hf, &info));
    closeHandle(hf);
    EXPECT_EQ(info.cbCabinet, r.size);
    EXPECT_EQ(info.cFolders, r.folders);
    EXPECT_EQ(info.cFiles, r.files);
    EXPECT_EQ(info.setID, r.set);
    EXPECT_EQ(info.iCabinet, r.index);
    EXPECT_EQ(info.fReserve, r.reserve);
    EXPECT_EQ(info.hasprev, r.prev);
    EXPECT_EQ(info.hasnext, r.next);
  }
  FDIDestroy(hfdi);
}

// Every way of cutting a cabinet short either fails with a reason or, when
// all the data survived, extracts exactly the original contents.
TEST(PeerCabinets, TruncatedCabinetsFailOrExtractIntact) {
  for (const char* name : {"mixed.cab", "normal_2files_2folders.cab", "reserve_HFD.cab", "simple.cab"}) {
    loadPeerCabinets();
    Blob whole = fs().files[name];
    ERF erf{};
    HFDI hfdi = createContext(erf);
    Handler reference;
    ASSERT_TRUE(copySet(hfdi, name, reference));
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      fs().files["cut.cab"] = Blob(whole.begin(), whole.begin() + long(cut));
      erf = ERF{};
      Handler h;
      if (copySet(hfdi, "cut.cab", h)) {
        EXPECT_EQ(h.extracted, reference.extracted);
      } else {
        EXPECT_GE(erf.erfOper, FDIERROR_NOT_A_CABINET);
        EXPECT_LE(erf.erfOper, FDIERROR_MDI_FAIL);
      }
    }
    FDIDestroy(hfdi);
    EXPECT_EQ(openHandleCount(), 0);
    EXPECT_EQ(fs().allocations, 0);
  }
}

}  // namespace
