// Where ours accepts what the system's library accepts: contexts made
// without the file callbacks a caller never needs, and the empty cabinet
// that a writer flushes with nothing added; and where it stays stricter.
#include <gtest/gtest.h>

#include "byteorder.h"
#include "test_support.h"

namespace {

using namespace fdt;

constexpr int kBadArguments = 160;  // ERROR_BAD_ARGUMENTS

// Sentinels that a call which succeeds must leave in the error record.
ERF untouchedErf() { return ERF{0x1abe11ed, 0x5eed1e55, 0x1ead1e55}; }
bool isUntouched(const ERF& erf) {
  return erf.erfOper == 0x1abe11ed && erf.erfType == 0x5eed1e55 && erf.fError == 0x1ead1e55;
}

struct Outcome {
  int error;  // 0: the call succeeded
  int type;
};

// A call's outcome, with the error record reset first.
template <class Call>
Outcome outcomeOf(ERF& erf, Call call) {
  erf = ERF{};
  if (call()) return {0, 0};
  EXPECT_TRUE(erf.fError);
  return {erf.erfOper, erf.erfType};
}

struct MissingCase {
  Callback missing;
  Outcome create;     // FDICreate
  Outcome isCabinet;  // FDIIsCabinet on a handle the caller opened
  Outcome extract;    // FDICopy that writes every file
  Outcome skip;       // FDICopy that skips every file
};

TEST(Conformance, CallbacksAreNeededOnlyWhenUsed) {
  const Outcome ok{0, 0}, unreachable{FDIERROR_CABINET_NOT_FOUND, kBadArguments};
  const MissingCase cases[] = {
      {Callback::kNone, ok, ok, ok, ok},
      {Callback::kAlloc, {FDIERROR_ALLOC_FAIL, kBadArguments}, {}, {}, {}},
      {Callback::kFree, {FDIERROR_ALLOC_FAIL, kBadArguments}, {}, {}, {}},
      {Callback::kOpen, ok, ok, unreachable, unreachable},
      {Callback::kRead, ok, unreachable, unreachable, unreachable},
      {Callback::kWrite, ok, ok, {FDIERROR_TARGET_FILE, 0}, ok},
      {Callback::kClose, ok, ok, unreachable, unreachable},
      {Callback::kSeek, ok, ok, unreachable, unreachable},
  };
  CabSpec spec;
  spec.files = {{"a.txt", patternData(3000, 1)}, {"b.txt", patternData(70000, 2)}};
  spec.folderTypes = {1};
  for (const MissingCase& c : cases) {
    SCOPED_TRACE(callbackName(c.missing));
    resetFs();
    addFile("c.cab", buildCab(spec));
    ERF erf = untouchedErf();
    HFDI hfdi = createContextWithout(erf, c.missing);
    if (c.create.error) {
      EXPECT_EQ(hfdi, nullptr);
      EXPECT_EQ(erf.erfOper, c.create.error);
      EXPECT_EQ(erf.erfType, c.create.type);
      EXPECT_TRUE(erf.fError);
      EXPECT_EQ(fs().allocations, 0);
      continue;
    }
    ASSERT_NE(hfdi, nullptr);
    EXPECT_TRUE(isUntouched(erf));
    FDICABINETINFO info{};
    intptr_t hf = openForRead("c.cab");
    Outcome is = outcomeOf(erf, [&] { return FDIIsCabinet(hfdi, hf, &info); });
    closeHandle(hf);
    EXPECT_EQ(is.error, c.isCabinet.error);
    EXPECT_EQ(is.type, c.isCabinet.type);
    if (is.error == 0) EXPECT_EQ(info.cFiles, 2);
    Handler all;
    Outcome extract = outcomeOf(erf, [&] { return copySet(hfdi, "c.cab", all); });
    EXPECT_EQ(extract.error, c.extract.error);
    EXPECT_EQ(extract.type, c.extract.type);
    if (extract.error == 0) EXPECT_EQ(all.extracted["b.txt"], patternData(70000, 2));
    EXPECT_EQ(openHandleCount(), 0) << "a refused target is closed again";
    Handler none;
    none.onCopy = [](Event&, PFDINOTIFICATION) -> intptr_t { return 0; };
    Outcome skip = outcomeOf(erf, [&] { return copySet(hfdi, "c.cab", none); });
    EXPECT_EQ(skip.error, c.skip.error);
    EXPECT_EQ(skip.type, c.skip.type);
    if (skip.error == 0) EXPECT_EQ(none.count(fdintCOPY_FILE), 2);
    EXPECT_TRUE(FDIDestroy(hfdi));
    EXPECT_EQ(fs().allocations, 0);
    EXPECT_EQ(openHandleCount(), 0);
  }
}

TEST(Conformance, EmptyCabinetIsValidAndExtractsNothing) {
  Blob empty = emptyCab();
  ASSERT_EQ(empty.size(), 36u);
  EXPECT_EQ(ReadLe32(empty.data() + 16), 36u);  // coffFiles at the end
  resetFs();
  addFile("empty.cab", empty);
  ERF erf{};
  HFDI hfdi = createContext(erf);
  FDICABINETINFO info{};
  intptr_t hf = openForRead("empty.cab");
  ASSERT_TRUE(FDIIsCabinet(hfdi, hf, &info)) << erf.erfOper;
  closeHandle(hf);
  EXPECT_EQ(info.cbCabinet, 36);
  EXPECT_EQ(info.cFolders, 0);
  EXPECT_EQ(info.cFiles, 0);
  EXPECT_EQ(info.setID, 0x1234);
  Handler h;
  ASSERT_TRUE(copySet(hfdi, "empty.cab", h)) << erf.erfOper;
  std::vector<int> order;
  for (const Event& e : h.events) order.push_back(e.type);
  EXPECT_EQ(order, (std::vector<int>{fdintCABINET_INFO, fdintENUMERATE, fdintENUMERATE}));
  EXPECT_EQ(h.events[1].cb, 36);
  EXPECT_EQ(h.events[1].iFolder, 0u);
  EXPECT_TRUE(h.extracted.empty());
  EXPECT_TRUE(FDIDestroy(hfdi));
  EXPECT_EQ(fs().allocations, 0);
  EXPECT_EQ(openHandleCount(), 0);
}

struct DegenerateCase {
  const char* what;
  std::function<void(Blob&)> change;
  int error;  // of FDIIsCabinet and FDICopy alike; 0: accepted
};

// The empty cabinet's neighbours: what the format's own rules make
// unreadable stays refused, even where the system's library reads it.
TEST(Conformance, EmptyCabinetNeighbours) {
  CabSpec one;
  one.files = {{"a.txt", patternData(100, 3)}};
  const DegenerateCase cases[] = {
      {"empty, coffFiles zero", [](Blob& b) { WriteLe32(b.data() + 16, 0); }, FDIERROR_CORRUPT_CABINET},
      {"empty, coffFiles past the end", [](Blob& b) { WriteLe32(b.data() + 16, 37); },
       FDIERROR_CORRUPT_CABINET},
      {"empty, size unknown", [](Blob& b) { WriteLe32(b.data() + 8, 0); }, 0},
      {"empty, cut short", [](Blob& b) { b.resize(35); }, FDIERROR_NOT_A_CABINET},
      {"empty, version 1.4", [](Blob& b) { b[24] = 4; }, FDIERROR_UNKNOWN_CABINET_VERSION},
      {"files without a folder", [](Blob& b) { WriteLe16(b.data() + 28, 1); }, FDIERROR_CORRUPT_CABINET},
      {"folder without files", [](Blob& b) { WriteLe16(b.data() + 26, 1); }, FDIERROR_CORRUPT_CABINET},
  };
  for (const DegenerateCase& c : cases) {
    SCOPED_TRACE(c.what);
    Blob cab = emptyCab();
    c.change(cab);
    resetFs();
    addFile("d.cab", cab);
    ERF erf{};
    HFDI hfdi = createContext(erf);
    FDICABINETINFO info{};
    intptr_t hf = openForRead("d.cab");
    Outcome is = outcomeOf(erf, [&] { return FDIIsCabinet(hfdi, hf, &info); });
    closeHandle(hf);
    EXPECT_EQ(is.error, c.error);
    Handler h;
    Outcome copy = outcomeOf(erf, [&] { return copySet(hfdi, "d.cab", h); });
    EXPECT_EQ(copy.error, c.error);
    EXPECT_TRUE(h.extracted.empty());
    FDIDestroy(hfdi);
    EXPECT_EQ(openHandleCount(), 0);
    EXPECT_EQ(fs().allocations, 0);
  }
  // A real cabinet whose file count was cut to zero is one such neighbour.
  Blob cut = buildCab(one);
  WriteLe16(cut.data() + 28, 0);
  resetFs();
  addFile("cut.cab", cut);
  ERF erf{};
  HFDI hfdi = createContext(erf);
  Handler h;
  EXPECT_FALSE(copySet(hfdi, "cut.cab", h));
  EXPECT_EQ(erf.erfOper, FDIERROR_CORRUPT_CABINET);
  FDIDestroy(hfdi);
}

}  // namespace
