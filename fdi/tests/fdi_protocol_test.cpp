// The notification protocol of FDICopy: order and contents of the
// notifications, skipped files, aborts, the next-volume exchange and its
// bound, enumeration control, and what becomes of handles and memory.
#include <cstring>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using namespace fdt;

const std::string kPeerDir = std::string(VELTRA_TESTDATA) + "/peer-cabs/";

void loadSplitSet() {
  resetFs();
  for (int i = 1; i <= 5; ++i) {
    std::string n = "split-" + std::to_string(i) + ".cab";
    addFile(n, readTestFile(kPeerDir + n));
  }
}

bool copyOne(HFDI hfdi, const char* name, Handler& h, const char* path = "") {
  std::string n = name, p = path;
  return FDICopy(hfdi, &n[0], &p[0], 0, notify, nullptr, &h) != 0;
}

TEST(Protocol, SingleCabinetNotificationsInOrder) {
  resetFs();
  CabSpec spec;
  spec.files = {{"a.txt", patternData(100, 1)}, {"b.bin", patternData(70000, 2), 0, 0x21 | _A_EXEC}};
  spec.folderTypes = {1};
  addFile("one.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  ASSERT_TRUE(copyOne(hfdi, "one.cab", h));
  std::vector<int> order;
  for (const Event& e : h.events) order.push_back(e.type);
  EXPECT_EQ(order, (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE, fdintCOPY_FILE, fdintCLOSE_FILE_INFO,
                                     fdintCOPY_FILE, fdintCLOSE_FILE_INFO, fdintENUMERATE}));
  const Event& copy = h.events[4];
  EXPECT_EQ(copy.psz1, "b.bin");
  EXPECT_EQ(copy.cb, 70000);
  EXPECT_EQ(copy.date, 0x226cu);
  EXPECT_EQ(copy.time, 0x59bau);
  EXPECT_EQ(copy.attribs, 0x61u);
  const Event& close = h.events[5];
  EXPECT_EQ(close.attribs, 0x21u);  // the execute bit moves to cb
  EXPECT_EQ(close.cb, 1);
  EXPECT_EQ(h.events[3].cb, 0);
  EXPECT_EQ(h.extracted["a.txt"], patternData(100, 1));
  EXPECT_EQ(h.extracted["b.bin"], patternData(70000, 2));
  // Enumeration reports the first entry's position and count, then the end.
  EXPECT_EQ(h.events[1].iFolder, 2u);
  EXPECT_GT(h.events[6].cb, h.events[1].cb);
  EXPECT_EQ(h.events[6].iFolder, 0u);
  FDIDestroy(hfdi);
  EXPECT_EQ(openHandleCount(), 0);
  EXPECT_EQ(fs().allocations, 0);
}

TEST(Protocol, CabinetPathAndNameAreJoinedForTheOpen) {
  resetFs();
  CabSpec spec;
  spec.files = {{"x", patternData(10, 3)}};
  addFile("dir\\c.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  ASSERT_TRUE(copyOne(hfdi, "c.cab", h, "dir\\"));
  EXPECT_EQ(fs().openedNames.front(), "dir\\c.cab");
  EXPECT_EQ(h.events.front().psz3, "dir\\");
  Handler missing;
  EXPECT_FALSE(copyOne(hfdi, "nothere.cab", missing, "dir\\"));
  EXPECT_EQ(erf.erfOper, FDIERROR_CABINET_NOT_FOUND);
  FDIDestroy(hfdi);
}

TEST(Protocol, SkippedFilesAreNotWrittenAndLaterFilesStillRight) {
  resetFs();
  CabSpec spec;
  spec.files = {
      {"skip1", patternData(40000, 4)}, {"keep", patternData(5000, 5)}, {"skip2", patternData(10, 6)}};
  spec.folderTypes = {1};
  addFile("s.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler filtered;
  filtered.onCopy = [&](Event& e, PFDINOTIFICATION) -> intptr_t {
    if (e.psz1 != "keep") return 0;
    std::string target = "out/keep";
    intptr_t hf = openForRead(target);
    if (hf == -1) {
      addFile(target, {});
      hf = openForRead(target);
    }
    return hf;
  };
  ASSERT_TRUE(copyOne(hfdi, "s.cab", filtered));
  EXPECT_EQ(filtered.count(fdintCLOSE_FILE_INFO), 1);
  ASSERT_EQ(filtered.extracted.size(), 1u);
  EXPECT_EQ(filtered.extracted["keep"], patternData(5000, 5));
  FDIDestroy(hfdi);
  EXPECT_EQ(openHandleCount(), 0);
}

struct AbortCase {
  const char* what;
  int abortOn;
  int error;
};

TEST(Protocol, CallbacksThatRefuseEndTheCopyWithTheirCode) {
  const AbortCase cases[] = {
      {"cabinet info -1", fdintCABINET_INFO, FDIERROR_USER_ABORT},
      {"enumerate -1", fdintENUMERATE, FDIERROR_USER_ABORT},
      {"copy file -1", fdintCOPY_FILE, FDIERROR_USER_ABORT},
      {"close file FALSE", fdintCLOSE_FILE_INFO, FDIERROR_TARGET_FILE},
  };
  for (const AbortCase& c : cases) {
    SCOPED_TRACE(c.what);
    resetFs();
    CabSpec spec;
    spec.files = {{"f", patternData(3000, 7)}};
    addFile("a.cab", buildCab(spec));
    ERF erf{};
    HFDI hfdi = createContext(erf);
    Handler h;
    auto refuse = [](Event&, PFDINOTIFICATION) -> intptr_t { return -1; };
    if (c.abortOn == fdintCOPY_FILE) h.onCopy = refuse;
    if (c.abortOn == fdintENUMERATE) h.onEnumerate = refuse;
    if (c.abortOn == fdintCLOSE_FILE_INFO) h.onClose = [](Event&, PFDINOTIFICATION) -> intptr_t { return 0; };
    if (c.abortOn == fdintCABINET_INFO) h.onCabinetInfo = refuse;
    EXPECT_FALSE(copyOne(hfdi, "a.cab", h));
    EXPECT_EQ(erf.erfOper, c.error);
    EXPECT_TRUE(erf.fError);
    FDIDestroy(hfdi);
    EXPECT_EQ(openHandleCount(), 0);
    EXPECT_EQ(fs().allocations, 0);
  }
}

TEST(Protocol, FailedWriteClosesTheTargetAndReportsTargetFile) {
  resetFs();
  CabSpec spec;
  spec.files = {{"big", patternData(100000, 8)}};
  spec.folderTypes = {1};
  addFile("w.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  fs().writeLimit = 50000;
  EXPECT_FALSE(copyOne(hfdi, "w.cab", h));
  EXPECT_EQ(erf.erfOper, FDIERROR_TARGET_FILE);
  EXPECT_EQ(h.count(fdintCLOSE_FILE_INFO), 0);
  EXPECT_EQ(openHandleCount(), 0);  // FDI closed the target itself
  FDIDestroy(hfdi);
}

TEST(Protocol, AllocationFailuresEndCleanly) {
  resetFs();
  CabSpec spec;
  spec.files = {{"f", patternData(50000, 9)}};
  spec.folderTypes = {1};
  addFile("m.cab", buildCab(spec));
  int failures = 0;
  for (long limit = 0; limit < 40; ++limit) {
    SCOPED_TRACE(limit);
    fs().allocationLimit = -1;
    ERF erf{};
    HFDI hfdi = createContext(erf);
    ASSERT_NE(hfdi, nullptr);
    fs().allocationLimit = limit;
    Handler h;
    if (!copyOne(hfdi, "m.cab", h)) {
      ++failures;
      EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
    } else {
      EXPECT_EQ(h.extracted["f"], patternData(50000, 9));
    }
    fs().allocationLimit = -1;
    FDIDestroy(hfdi);
    EXPECT_EQ(fs().allocations, 0);
    EXPECT_EQ(openHandleCount(), 0);
  }
  EXPECT_GT(failures, 0);
  fs().allocationLimit = 0;
  ERF erf{};
  EXPECT_EQ(createContext(erf), nullptr);
  EXPECT_EQ(erf.erfOper, FDIERROR_ALLOC_FAIL);
}

TEST(Protocol, SplitSetAsksForEachVolumeAndReportsPartialFiles) {
  loadSplitSet();
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler first;
  ASSERT_TRUE(copyOne(hfdi, "split-1.cab", first));
  // medium1 continues into split-2; split-1's CABINET_INFO names it.
  EXPECT_EQ(first.events[0].psz1, "Split-2.CAB");
  EXPECT_EQ(first.events[0].psz2, "Split cabinet file 2/5");
  EXPECT_EQ(first.events[0].setID, 5988u);
  EXPECT_EQ(first.count(fdintNEXT_CABINET), 1);
  EXPECT_EQ(first.count(fdintCABINET_INFO), 2);
  EXPECT_EQ(first.count(fdintCOPY_FILE), 3);
  EXPECT_EQ(first.count(fdintENUMERATE), 3);  // start, after the spanning file, end
  Handler second;
  ASSERT_TRUE(copyOne(hfdi, "split-2.cab", second));
  EXPECT_EQ(second.count(fdintPARTIAL_FILE), 2);
  for (const Event& e : second.events)
    if (e.type == fdintPARTIAL_FILE) {
      EXPECT_EQ(e.psz2, "Split-1.CAB");
      EXPECT_EQ(e.psz3, "Split cabinet file 1/5");
    }
  FDIDestroy(hfdi);
  EXPECT_EQ(openHandleCount(), 0);
}

struct VolumeCase {
  const char* what;
  std::function<void()> setUp;  // damages the second volume
  int fdie;
};

TEST(Protocol, WrongVolumeIsAskedForAgainWithTheReasonAndTheExchangeIsBounded) {
  auto otherSet = [] {
    Blob b = fs().files["split-2.cab"];
    b[32] ^= 1;  // setID
    fs().files["split-2.cab"] = b;
  };
  auto outOfSequence = [] {
    Blob b = fs().files["split-2.cab"];
    b[34] = 7;  // iCabinet
    fs().files["split-2.cab"] = b;
  };
  auto notACabinet = [] { fs().files["split-2.cab"] = Blob(100, 'x'); };
  auto missing = [] { fs().files.erase("split-2.cab"); };
  auto reserve = [] {
    Blob b = fs().files["split-2.cab"];
    b[38] = 11;  // cbCFFolder
    fs().files["split-2.cab"] = b;
  };
  const VolumeCase cases[] = {
      {"other set", otherSet, FDIERROR_WRONG_CABINET},
      {"out of sequence", outOfSequence, FDIERROR_WRONG_CABINET},
      {"not a cabinet", notACabinet, FDIERROR_NOT_A_CABINET},
      {"missing", missing, FDIERROR_CABINET_NOT_FOUND},
      {"reserve mismatch", reserve, FDIERROR_RESERVE_MISMATCH},
  };
  for (const VolumeCase& c : cases) {
    SCOPED_TRACE(c.what);
    loadSplitSet();
    Blob good = fs().files["split-2.cab"];
    c.setUp();
    ERF erf{};
    HFDI hfdi = createContext(erf);
    // A handler that keeps giving the same place never gets anywhere.
    Handler stubborn;
    EXPECT_FALSE(copyOne(hfdi, "split-1.cab", stubborn));
    EXPECT_EQ(erf.erfOper, c.fdie);
    EXPECT_EQ(stubborn.count(fdintNEXT_CABINET), 10);
    EXPECT_EQ(stubborn.events.back().fdie, c.fdie);
    EXPECT_EQ(openHandleCount(), 0);
    // One that points elsewhere after the first refusal succeeds.
    addFile("good\\Split-2.CAB", good);
    Handler helpful;
    helpful.onNext = [](Event& e, PFDINOTIFICATION n) -> intptr_t {
      if (e.fdie != FDIERROR_NONE) std::strcpy(n->psz3, "good\\");
      return 0;
    };
    erf = ERF{};
    EXPECT_TRUE(copyOne(hfdi, "split-1.cab", helpful));
    ASSERT_EQ(helpful.count(fdintNEXT_CABINET), 2);
    EXPECT_EQ(helpful.events[helpful.events.size() - 1].type, fdintENUMERATE);
    EXPECT_EQ(helpful.extracted.size(), 3u);
    EXPECT_EQ(md5Hex(helpful.extracted["medium1.bin"]), "0a7bd124a4c03a30329bd9ff06f71df7");
    FDIDestroy(hfdi);
    EXPECT_EQ(openHandleCount(), 0);
    EXPECT_EQ(fs().allocations, 0);
  }
}

TEST(Protocol, NextCabinetAbortClosesTheOpenTarget) {
  loadSplitSet();
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  h.onNext = [](Event&, PFDINOTIFICATION) -> intptr_t { return -1; };
  EXPECT_FALSE(copyOne(hfdi, "split-1.cab", h));
  EXPECT_EQ(erf.erfOper, FDIERROR_USER_ABORT);
  EXPECT_EQ(openHandleCount(), 0);
  FDIDestroy(hfdi);
}

TEST(Protocol, EnumerateCanStopEarlyOrSkipAhead) {
  resetFs();
  CabSpec spec;
  spec.files = {{"one", patternData(10, 1)}, {"two", patternData(20, 2)}, {"three", patternData(30, 3)}};
  addFile("e.cab", buildCab(spec));
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler stop;
  stop.onEnumerate = [](Event&, PFDINOTIFICATION n) -> intptr_t {
    n->iFolder = 0;
    return 0;
  };
  ASSERT_TRUE(copyOne(hfdi, "e.cab", stop));
  EXPECT_EQ(stop.count(fdintCOPY_FILE), 0);
  // Learn the entry positions, then start at the third entry.
  Handler look;
  ASSERT_TRUE(copyOne(hfdi, "e.cab", look));
  Handler skip;
  skip.onEnumerate = [&, calls = 0](Event& e, PFDINOTIFICATION n) mutable -> intptr_t {
    if (calls++ == 0) {
      n->cb = e.cb + 2 * (16 + 4);  // past the entries of "one" and "two"
      n->iFolder = 1;
    }
    return 0;
  };
  ASSERT_TRUE(copyOne(hfdi, "e.cab", skip));
  ASSERT_EQ(skip.extracted.size(), 1u);
  EXPECT_EQ(skip.extracted["three"], patternData(30, 3));
  FDIDestroy(hfdi);
}

TEST(Protocol, ContextChecks) {
  ERF erf{};
  resetFs();
  EXPECT_FALSE(FDIDestroy(nullptr));
  int notAContext[16] = {};
  EXPECT_FALSE(FDIDestroy(notAContext));
  HFDI hfdi = createContext(erf);
  FDICABINETINFO info{};
  EXPECT_FALSE(FDIIsCabinet(hfdi, -1, &info));
  EXPECT_EQ(erf.erfOper, FDIERROR_NOT_A_CABINET);
  EXPECT_TRUE(FDIDestroy(hfdi));
  EXPECT_EQ(fs().allocations, 0);
  EXPECT_EQ(FDICreate(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, cpuUNKNOWN, &erf),
            nullptr);
  EXPECT_TRUE(erf.fError);
}

}  // namespace
