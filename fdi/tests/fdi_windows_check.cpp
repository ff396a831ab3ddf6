// Runs the peer cabinets through a cabinet DLL under Windows (Wine in the
// tests), as GoogleTest tests:
//   fdi_windows_check peer DLL PEERDIR   (PeerCabinetsThroughDll.*)
//       extracts every set through DLL and checks the listed contents and
//       the refusal of the damaged cabinets;
//   fdi_windows_check diff DLL PEERDIR   (DllAgainstSystemCabinet.*)
//       runs the same cabinets through the system's cabinet.dll and through
//       DLL and compares results, error codes and every notification.
// GoogleTest's own options may come before the three arguments.
// Differences that follow from ours keeping to the FDI documentation where
// the other library does not are listed in kKnownDifferences and reported,
// not counted as failures.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fdt {
FdiApi linkedApi() { return FdiApi{}; }
}  // namespace fdt

using namespace fdt;

namespace {

// From the command line.
FdiApi g_ours{};
std::string g_peerDir;

bool loadApi(const char* dll, FdiApi& out) {
  HMODULE m = LoadLibraryA(dll);
  if (!m) return false;
  out.create = reinterpret_cast<PFNFDICREATE>(GetProcAddress(m, "FDICreate"));
  out.isCabinet = reinterpret_cast<PFNFDIISCABINET>(GetProcAddress(m, "FDIIsCabinet"));
  out.copy = reinterpret_cast<PFNFDICOPY>(GetProcAddress(m, "FDICopy"));
  out.destroy = reinterpret_cast<PFNFDIDESTROY>(GetProcAddress(m, "FDIDestroy"));
  return out.create && out.isCabinet && out.copy && out.destroy;
}

// What one library does with one cabinet (set).
struct Outcome {
  bool isCabinet;
  int isCabinetError;
  FDICABINETINFO info;
  bool copied;
  int copyError;
  std::vector<Event> events;
  std::map<std::string, Blob> extracted;
};

using Prepare = std::function<void()>;
using Configure = std::function<void(Handler&)>;

Outcome runThrough(const FdiApi& lib, const std::string& dir, const std::string& cab,
                   const Prepare& prepare = nullptr, const Configure& configure = nullptr, int runs = 16) {
  api() = lib;
  loadPeerCabinets(dir);
  if (prepare) prepare();
  Outcome o{};
  ERF erf{};
  HFDI hfdi = api().create ? createContext(erf) : nullptr;
  if (!hfdi) return o;
  intptr_t hf = openForRead(cab);
  o.isCabinet = api().isCabinet(hfdi, hf, &o.info) != 0;
  o.isCabinetError = o.isCabinet ? 0 : erf.erfOper;
  closeHandle(hf);
  erf = ERF{};
  Handler h;
  if (configure) configure(h);
  o.copied = copySet(hfdi, cab, h, runs);
  o.copyError = o.copied ? 0 : erf.erfOper;
  o.events = h.events;
  o.extracted = h.extracted;
  api().destroy(hfdi);
  return o;
}

TEST(PeerCabinetsThroughDll, EverySetExtractsAndDamagedOnesAreRefused) {
  for (const PeerExpected& want : loadPeerExpected(g_peerDir)) {
    SCOPED_TRACE(want.cabinet);
    Outcome o = runThrough(g_ours, g_peerDir, want.cabinet);
    if (want.files.empty()) {
      EXPECT_TRUE(!o.isCabinet && o.isCabinetError != 0)
          << want.cabinet + ": FDIIsCabinet refuses with a code";
      EXPECT_TRUE(!o.copied && o.copyError != 0) << want.cabinet + ": FDICopy refuses with a code";
      continue;
    }
    EXPECT_TRUE(o.isCabinet) << want.cabinet + ": FDIIsCabinet";
    EXPECT_TRUE(o.copied) << want.cabinet + ": FDICopy, erfOper " + std::to_string(o.copyError);
    EXPECT_TRUE(o.extracted.size() == want.files.size()) << want.cabinet + ": number of files";
    for (const auto& f : want.files)
      EXPECT_TRUE(o.extracted.count(f.first) && md5Hex(o.extracted[f.first]) == f.second)
          << want.cabinet + ": " + f.first;
    EXPECT_TRUE(openHandleCount() == 0 && fs().allocations == 0)
        << want.cabinet + ": handles and memory released";
  }
}

std::string describe(const Event& e) {
  static const char* names[] = {"CABINET_INFO",    "PARTIAL_FILE", "COPY_FILE",
                                "CLOSE_FILE_INFO", "NEXT_CABINET", "ENUMERATE"};
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "%s psz1=%s psz2=%s psz3=%s cb=%ld date=%04x time=%04x attribs=%04x set=%u i=%u folder=%u fdie=%d",
      e.type >= 0 && e.type <= 5 ? names[e.type] : "?", e.psz1.c_str(), e.psz2.c_str(), e.psz3.c_str(), e.cb,
      e.date, e.time, e.attribs, e.setID, e.iCabinet, e.iFolder, e.fdie);
  return text;
}

// Ours sends fdintENUMERATE as documented, and names the current cabinet's
// set and number at fdintNEXT_CABINET; the other library may do neither.
std::vector<std::string> comparable(std::vector<Event> events, bool dropEnumerate, bool blankNextIds) {
  std::vector<std::string> out;
  for (Event& e : events) {
    if (dropEnumerate && e.type == fdintENUMERATE) continue;
    if (blankNextIds && e.type == fdintNEXT_CABINET) e.setID = e.iCabinet = 0;
    out.push_back(describe(e));
  }
  return out;
}

struct KnownDifference {
  const char* cabinet;  // "*" for all
  const char* what;
  const char* why;
};

const KnownDifference kKnownDifferences[] = {
    {"*", "enumerate", "ours sends fdintENUMERATE before and after the file entries, as FDI documents"},
    {"*", "hasnext", "ours reports FDICABINETINFO.hasnext for chained cabinets as documented"},
    {"*", "next-cabinet-ids", "ours fills setID and iCabinet (the current cabinet's) at fdintNEXT_CABINET"},
    {"*", "volume-path",
     "for a follow-up volume ours gives psz3 as the folder where that volume was found, not FDICopy's path"},
    {"*", "iscabinet-error", "ours stores the reason of a refused FDIIsCabinet in the error record"},
    {"bad_nofiles.cab", "accepted",
     "ours refuses a folder that no file names (a file count cut to zero) as corrupt; an empty cabinet "
     "without folders is accepted by both"},
    {"exec.cab", "exec-bit",
     "ours moves the execute bit from attribs to cb at fdintCLOSE_FILE_INFO, as FDI documents"},
};

bool known(const std::string& cab, const std::string& what) {
  for (const KnownDifference& k : kKnownDifferences)
    if ((std::string(k.cabinet) == "*" || cab == k.cabinet) && what == k.what) {
      std::printf("known difference (%s): %s: %s\n", cab.c_str(), what.c_str(), k.why);
      return true;
    }
  return false;
}

void compareOutcomes(const std::string& cab, const Outcome& sys, const Outcome& ours) {
  if (sys.copied && !ours.copied && known(cab, "accepted")) return;
  EXPECT_TRUE(sys.isCabinet == ours.isCabinet) << cab + ": FDIIsCabinet result";
  if (sys.isCabinet && ours.isCabinet) {
    EXPECT_TRUE(sys.info.cbCabinet == ours.info.cbCabinet && sys.info.cFolders == ours.info.cFolders &&
                sys.info.cFiles == ours.info.cFiles && sys.info.setID == ours.info.setID &&
                sys.info.iCabinet == ours.info.iCabinet && sys.info.fReserve == ours.info.fReserve &&
                sys.info.hasprev == ours.info.hasprev)
        << cab + ": FDICABINETINFO";
    if (sys.info.hasnext != ours.info.hasnext) EXPECT_TRUE(known(cab, "hasnext")) << cab + ": hasnext";
  }
  if (sys.isCabinetError != ours.isCabinetError)
    EXPECT_TRUE(sys.isCabinetError == 0 && known(cab, "iscabinet-error"))
        << cab + ": FDIIsCabinet error code";
  EXPECT_TRUE(sys.copied == ours.copied) << cab + ": FDICopy result";
  EXPECT_TRUE(sys.copyError == ours.copyError)
      << cab + ": FDICopy error " + std::to_string(sys.copyError) + " vs " + std::to_string(ours.copyError);
  bool sysEnumerates = false, sysNextIds = false, oursNextIds = false;
  for (const Event& e : sys.events) {
    sysEnumerates |= e.type == fdintENUMERATE;
    sysNextIds |= e.type == fdintNEXT_CABINET && (e.setID || e.iCabinet);
  }
  for (const Event& e : ours.events) oursNextIds |= e.type == fdintNEXT_CABINET && (e.setID || e.iCabinet);
  bool blankNextIds = !sysNextIds && oursNextIds;
  std::vector<std::string> a = comparable(sys.events, false, false);
  std::vector<std::string> b = comparable(ours.events, !sysEnumerates, blankNextIds);
  if (!sysEnumerates && ours.events.size() != b.size()) known(cab, "enumerate");
  if (blankNextIds) known(cab, "next-cabinet-ids");
  if (a.size() == b.size()) {
    // A follow-up volume's CABINET_INFO may differ in psz3 alone.
    std::vector<Event> ev = ours.events;
    for (size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i] || a[i].rfind("CABINET_INFO", 0) != 0 || b[i].rfind("CABINET_INFO", 0) != 0) continue;
      std::string x = a[i].substr(a[i].find(" cb=")), y = b[i].substr(b[i].find(" cb="));
      std::string px = a[i].substr(0, a[i].find(" psz3=")), py = b[i].substr(0, b[i].find(" psz3="));
      if (x == y && px == py && i > 0 && b[i - 1].rfind("NEXT_CABINET", 0) == 0 && known(cab, "volume-path"))
        b[i] = a[i];
    }
  }
  EXPECT_TRUE(a == b) << cab + ": notifications";
  if (a != b) {
    for (const std::string& s : a) std::printf("  system: %s\n", s.c_str());
    for (const std::string& s : b) std::printf("  ours:   %s\n", s.c_str());
  }
  EXPECT_TRUE(sys.extracted == ours.extracted) << cab + ": extracted contents";
}

bool loadSystemApi(FdiApi& sys) { return loadApi("cabinet.dll", sys); }

TEST(DllAgainstSystemCabinet, PeerCabinetsGiveTheSameResults) {
  FdiApi sys{};
  ASSERT_TRUE(loadSystemApi(sys)) << "no system cabinet.dll";
  for (const PeerExpected& e : loadPeerExpected(g_peerDir)) {
    SCOPED_TRACE(e.cabinet);
    compareOutcomes(e.cabinet, runThrough(sys, g_peerDir, e.cabinet),
                    runThrough(g_ours, g_peerDir, e.cabinet));
  }
}

// A file with the execute bit.
TEST(DllAgainstSystemCabinet, ExecuteBit) {
  FdiApi sys{};
  ASSERT_TRUE(loadSystemApi(sys)) << "no system cabinet.dll";
  const FdiApi& ours = g_ours;
  const std::string& dir = g_peerDir;
  Prepare exec = [] {
    CabSpec spec;
    spec.files = {{"run.exe", patternData(5000, 1), 0, 0x21 | 0x40}, {"plain.txt", patternData(10, 2)}};
    spec.folderTypes = {1};
    addFile("exec.cab", buildCab(spec));
  };
  Outcome s = runThrough(sys, dir, "exec.cab", exec), o = runThrough(ours, dir, "exec.cab", exec);
  std::vector<std::string> a = comparable(s.events, false, false), b = comparable(o.events, true, false);
  EXPECT_TRUE(s.copied && o.copied && s.extracted == o.extracted) << "exec.cab: extraction";
  if (a != b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (a[i] != b[i]) std::printf("  system: %s\n  ours:   %s\n", a[i].c_str(), b[i].c_str());
    EXPECT_TRUE(known("exec.cab", "exec-bit")) << "exec.cab: notifications";
  }
}

// Cabinets that hold nothing, as a writer flushes them with nothing added.
TEST(DllAgainstSystemCabinet, EmptyCabinets) {
  FdiApi sys{};
  ASSERT_TRUE(loadSystemApi(sys)) << "no system cabinet.dll";
  struct Row {
    const char* name;
    std::function<Blob()> make;
  };
  const Row rows[] = {
      {"empty.cab", emptyCab},
      {"empty-reserve.cab",
       [] {
         CabSpec spec;
         spec.folderTypes.clear();
         spec.headerReserve = 6;
         return buildCab(spec);
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Blob cab = r.make();
    Prepare add = [&] { addFile(r.name, cab); };
    Outcome s = runThrough(sys, g_peerDir, r.name, add), o = runThrough(g_ours, g_peerDir, r.name, add);
    EXPECT_TRUE(s.isCabinet && s.copied) << r.name << ": the system's library accepts it";
    EXPECT_TRUE(o.isCabinet && o.copied && o.extracted.empty()) << r.name << ": ours accepts it";
    compareOutcomes(r.name, s, o);
  }
}

// A context made without a callback that the calls made on it never use.
// Only such calls are made: with the callback needed, the system's library
// calls through the null pointer (ours refuses; see fdi_conformance_test).
struct MissingCallbackRow {
  Callback missing;
  bool isCabinet;  // FDIIsCabinet on a handle opened here (needs read and seek there)
  bool copy;       // FDICopy that skips every file (needs open, read, seek and close there)
};

struct MissingOutcome {
  bool created;
  bool erfUntouched;
  bool isCabinet;
  FDICABINETINFO info;
  bool copied;
  std::vector<std::string> events;
};

MissingOutcome runWithout(const FdiApi& lib, const MissingCallbackRow& row) {
  api() = lib;
  loadPeerCabinets(g_peerDir);
  MissingOutcome o{};
  ERF erf{0x1abe11ed, 0x5eed1e55, 0x1ead1e55};
  HFDI hfdi = createContextWithout(erf, row.missing);
  o.created = hfdi != nullptr;
  // Some versions of the system's library clear the record on success.
  o.erfUntouched = (erf.erfOper == 0x1abe11ed && erf.erfType == 0x5eed1e55 && erf.fError == 0x1ead1e55) ||
                   (erf.erfOper == 0 && erf.erfType == 0 && erf.fError == 0);
  if (!hfdi) return o;
  if (row.isCabinet) {
    intptr_t hf = openForRead("mixed.cab");
    o.isCabinet = api().isCabinet(hfdi, hf, &o.info) != 0;
    closeHandle(hf);
  }
  if (row.copy) {
    Handler h;
    h.onCopy = [](Event&, PFDINOTIFICATION) -> intptr_t { return 0; };
    o.copied = copySet(hfdi, "mixed.cab", h);
    o.events = comparable(h.events, true, false);  // fdintENUMERATE: see kKnownDifferences
  }
  api().destroy(hfdi);
  return o;
}

TEST(DllAgainstSystemCabinet, CallbacksNeverUsedMayBeNull) {
  FdiApi sys{};
  ASSERT_TRUE(loadSystemApi(sys)) << "no system cabinet.dll";
  const MissingCallbackRow rows[] = {
      {Callback::kOpen, true, false},  {Callback::kRead, false, false}, {Callback::kWrite, true, true},
      {Callback::kClose, true, false}, {Callback::kSeek, false, false},
  };
  for (const MissingCallbackRow& r : rows) {
    SCOPED_TRACE(callbackName(r.missing));
    MissingOutcome s = runWithout(sys, r), o = runWithout(g_ours, r);
    EXPECT_TRUE(s.created && o.created) << "FDICreate without " << callbackName(r.missing);
    EXPECT_TRUE(s.erfUntouched && o.erfUntouched) << "the error record after FDICreate";
    EXPECT_TRUE(s.isCabinet == r.isCabinet && o.isCabinet == r.isCabinet) << "FDIIsCabinet";
    EXPECT_TRUE(s.info.cFiles == o.info.cFiles && s.info.cbCabinet == o.info.cbCabinet) << "FDICABINETINFO";
    EXPECT_TRUE(s.copied == r.copy && o.copied == r.copy) << "FDICopy skipping every file";
    EXPECT_TRUE(s.events == o.events) << "notifications (without fdintENUMERATE)";
  }
}

// A set whose second volume is first given from the wrong place (another
// set's cabinet under the expected name).
TEST(DllAgainstSystemCabinet, WrongVolumeFirst) {
  FdiApi sys{};
  ASSERT_TRUE(loadSystemApi(sys)) << "no system cabinet.dll";
  const FdiApi& ours = g_ours;
  const std::string& dir = g_peerDir;
  Prepare wrong = [] {
    Blob good = fs().files["split-2.cab"];
    addFile("good\\split-2.cab", good);
    good[32] ^= 1;  // another set
    fs().files["split-2.cab"] = good;
  };
  Configure helpful = [](Handler& h) {
    h.onNext = [](Event& e, PFDINOTIFICATION n) -> intptr_t {
      if (e.fdie != FDIERROR_NONE) std::strcpy(n->psz3, "good\\");
      return 0;
    };
  };
  // One run only: a follow-up run on the wrong cabinet would ask for a
  // third volume that is nowhere, which the other library asks for forever.
  Outcome s = runThrough(sys, dir, "split-1.cab", wrong, helpful, 1);
  Outcome o = runThrough(ours, dir, "split-1.cab", wrong, helpful, 1);
  compareOutcomes("split-1.cab (wrong volume first)", s, o);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc != 4 || (std::string(argv[1]) != "peer" && std::string(argv[1]) != "diff")) {
    std::printf("usage: fdi_windows_check [gtest options] peer|diff DLL PEERDIR\n");
    return 2;
  }
  if (!loadApi(argv[2], g_ours)) {
    std::printf("cannot load %s\n", argv[2]);
    return 2;
  }
  g_peerDir = argv[3];
  const bool peer = std::string(argv[1]) == "peer";
  if (testing::GTEST_FLAG(filter) == "*")
    testing::GTEST_FLAG(filter) = peer ? "PeerCabinetsThroughDll.*" : "DllAgainstSystemCabinet.*";
  return RUN_ALL_TESTS();
}
