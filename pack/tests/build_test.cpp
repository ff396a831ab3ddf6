// veltra-pack build, run as a program on scratch projects, and what it wrote
// read back with the peer tools (cabextract, gcab, Wine's extrac32) and with
// readers written here independently of the builder.
#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include "pack_test_util.h"
#include "setupscript.h"
#include "szdd.h"

using cabtest::FileExists;
using cabtest::ReadFile;
using cabtest::RunTool;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

// A Setup.exe taken apart by its header, without the builder's code.
struct Dissected {
  uint32_t base = 0;
  std::string header, lang, lib, info, payload;
};

Dissected Dissect(const std::string& exe) {
  Dissected d;
  const std::string tag = std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize);
  const size_t at = exe.find(tag);
  if (at == std::string::npos) return d;
  d.base = cabtest::Le(exe, at + tag.size(), 4);
  if (d.base + 33 > exe.size()) return d;
  d.header = exe.substr(d.base, 33);
  const uint32_t lang = cabtest::Le(d.header, 8, 4), lib = cabtest::Le(d.header, 16, 4),
                 info = cabtest::Le(d.header, 20, 4);
  size_t p = d.base + 33;
  d.lang = exe.substr(p, lang);
  d.lib = exe.substr(p += lang, lib);
  d.info = exe.substr(p += lib, info);
  d.payload = exe.substr(p + info);
  return d;
}

// y = x ^ ~K[p mod L], written out here once more.
std::string Descrambled(std::string bytes, const std::string& password) {
  const std::string key = "RUVEKA" + password;
  for (size_t p = 0; p < bytes.size(); ++p) bytes[p] = char(bytes[p] ^ ~key[p % key.size()]);
  return bytes;
}

std::string Project(const std::string& package, const std::string& files = "\\ = files\n") {
  return "[Setup]\nAppName = Test <APPNAME>\nUnattended = 1\nDestDir = <TEMP>\\Test\n"
         "OverwriteMode = overwrite\nReadmeText = readme.txt\nLicenseText = license.txt\n"
         "[Package]\nStub = stub.exe\nCabinetLibrary = lib.dll\nSidePicture = side.bmp\n" +
         package + "[Files]\n" + files;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Every source file under files/ compared with what a tool extracted.
void ExpectSameTree(const ProjectDir& dir, const std::string& extracted, const std::string& tool) {
  for (const char* name : {"a.txt", "sub/b.txt", "sub/deeper/c.bin"}) {
    EXPECT_TRUE(ReadFile(dir.File(std::string("files/") + name)) == ReadFile(extracted + "/" + name))
        << tool << " gave other bytes for " << name;
  }
}

struct Variant {
  const char* title;
  std::string package;
  std::string password;
  bool split;
};

std::vector<Variant> Variants() {
  return {
      {"single MSZIP", "", "", false},
      {"single stored", "Compression = stored\n", "", false},
      {"single MSZIP level 1", "CompressionLevel = 1\n", "", false},
      {"single with password", "Password = Secret word\n", "Secret word", false},
      {"split", "VolumeSize = 150K\nCompression = stored\n", "", true},
      {"split with password", "VolumeSize = 150K\nCompression = stored\nPassword = pw\n", "pw", true},
  };
}

// The payload as plain cabinet files in `folder`: the first volume under
// the name the set stores for it (Setup.exe), the others under theirs.
std::vector<std::string> PlainVolumes(const ProjectDir& dir, const Dissected& d, const std::string& password,
                                      const std::string& folder) {
  std::vector<std::string> names = {"Setup.exe"};
  cabtest::WriteFile(folder + "/Setup.exe", password.empty() ? d.payload : Descrambled(d.payload, password));
  for (int i = 2; FileExists(dir.File("Setup-" + std::to_string(i) + ".cab")); ++i) {
    const std::string name = "Setup-" + std::to_string(i) + ".cab";
    const std::string stored = ReadFile(dir.File(name));
    EXPECT_EQ(stored.compare(0, 4, "MSCF") != 0, !password.empty())
        << name << " scrambled exactly with a password";
    cabtest::WriteFile(folder + "/" + name, password.empty() ? stored : Descrambled(stored, password));
    names.push_back(name);
  }
  return names;
}

}  // namespace

TEST(Build, PackagesReadBackByPeersAndByOurReader) {
  ASSERT_TRUE(RunTool("command -v cabextract && command -v gcab", "/dev/null"));
  for (const Variant& v : Variants()) {
    SCOPED_TRACE(v.title);
    ProjectDir dir;
    dir.Write("p.ini", Project(v.package));
    std::string out;
    ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
    const Dissected d = Dissect(ReadFile(dir.File("Setup.exe")));
    EXPECT_EQ(ReadFile(dir.File("stub.exe")).size(), d.base);
    ASSERT_EQ(33u, d.header.size());
    EXPECT_EQ(0, d.header.compare(0, 8, "$VELTRA$"));
    EXPECT_EQ(v.password.empty() ? 0 : 1, d.header[28]);
    EXPECT_EQ(WriteLangText(DefaultLangTable()), d.lang);
    std::vector<uint8_t> library;
    ASSERT_EQ(SzddStatus::Ok,
              SzddExpand(reinterpret_cast<const uint8_t*>(d.lib.data()), d.lib.size(), library));
    EXPECT_TRUE(std::string(library.begin(), library.end()) == ReadFile(dir.File("lib.dll")));

    // The information cabinet: always scrambled, with the password in the key.
    EXPECT_NE(0, d.info.compare(0, 4, "MSCF"));
    const std::string scratch = dir.File("scratch");
    dir.Mkdir("scratch");
    cabtest::WriteFile(scratch + "/info.cab", Descrambled(d.info, v.password));
    ASSERT_TRUE(RunTool("cabextract -q -d " + Quote(scratch + "/info") + " " + Quote(scratch + "/info.cab"),
                        scratch + "/log"));
    SetupScript script;
    ASSERT_TRUE(ParseSetupScript(ReadFile(scratch + "/info/~DAT1."), script));
    EXPECT_EQ("Test <APPNAME>", script.AppName);
    EXPECT_TRUE(script.Unattended);
    EXPECT_EQ(7 + 5 + 300000, script.MinFree);  // computed: the payload's size
    EXPECT_EQ("Read me\r\n\r\nsecond paragraph", script.ReadmeText);
    EXPECT_TRUE(ReadFile(scratch + "/info/~DAT2A.") == ReadFile(dir.File("side.bmp")));
    EXPECT_FALSE(FileExists(scratch + "/info/~DAT2B."));

    // The payload: scrambled exactly with a password; read whole by cabextract.
    EXPECT_EQ(d.payload.compare(0, 4, "MSCF") != 0, !v.password.empty());
    dir.Mkdir("scratch/set");
    const std::vector<std::string> volumes = PlainVolumes(dir, d, v.password, scratch + "/set");
    EXPECT_EQ(v.split, volumes.size() > 1) << volumes.size() << " volumes";
    const std::string first = Quote(scratch + "/set/Setup.exe");
    EXPECT_TRUE(RunTool("cabextract -t " + first, scratch + "/log")) << ReadFile(scratch + "/log");
    ASSERT_TRUE(RunTool("cabextract -q -d " + Quote(scratch + "/cx") + " " + first, scratch + "/log"));
    ExpectSameTree(dir, scratch + "/cx", "cabextract");
    if (!v.split) {
      ASSERT_TRUE(RunTool(
          "mkdir " + Quote(scratch + "/gx") + " && gcab -x -C " + Quote(scratch + "/gx") + " " + first,
          scratch + "/log"))
          << ReadFile(scratch + "/log");
      ExpectSameTree(dir, scratch + "/gx", "gcab");
    }
    // Our own reader, through FDI, the way the stub walks the volumes.
    const std::string pw = v.password.empty() ? "" : " --password " + Quote(v.password);
    EXPECT_EQ(0, RunPack("verify Setup.exe" + pw, out, dir.Path())) << out;
    EXPECT_EQ(0, RunPack("extract Setup.exe --to ours" + pw, out, dir.Path())) << out;
    ExpectSameTree(dir, dir.File("ours"), "veltra-pack extract");
    EXPECT_EQ(0, RunPack("info Setup.exe" + pw, out, dir.Path())) << out;
    EXPECT_NE(out.find("Test <APPNAME>"), std::string::npos) << out;
    EXPECT_NE(out.find("3 files, 300012 bytes in " + std::to_string(volumes.size()) + " volume(s)"),
              std::string::npos)
        << out;
  }
}

// Wine's extrac32 reads what the builder wrote: a whole single cabinet, and
// of a set the files that begin in the first volume (FDI follows a file into
// the next volume, but extrac32 runs only the first).
TEST(Build, WineExtrac32ReadsThePayload) {
  if (!RunTool("command -v wine", "/dev/null")) GTEST_SKIP() << "no Wine";
  for (const Variant& v : Variants()) {
    if (v.password.empty() && std::string(v.title) != "single MSZIP" && !v.split) continue;
    SCOPED_TRACE(v.title);
    ProjectDir dir;
    dir.Write("p.ini", Project(v.package));
    std::string out;
    ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
    const std::string scratch = dir.File("scratch");
    dir.Mkdir("scratch");
    dir.Mkdir("scratch/wx");
    PlainVolumes(dir, Dissect(ReadFile(dir.File("Setup.exe"))), v.password, scratch);
    ASSERT_TRUE(RunTool("cd " + Quote(scratch) +
                            " && WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$HOME/.veltra-wine} "
                            "wine extrac32 /Y /E /L wx Setup.exe",
                        scratch + "/log"))
        << ReadFile(scratch + "/log");
    // Here every file begins in the first volume; the last one runs on
    // into the others.
    ExpectSameTree(dir, scratch + "/wx", "extrac32");
  }
}

// The listing shows each file's time as stored, which is its modification
// time in UTC, and its attributes.
TEST(Build, TimeStampsAndAttributesSurviveTheListing) {
  ProjectDir dir;
  dir.Write("files/.hidden", "h");
  std::system(("touch -d '2003-04-05 06:07:08 UTC' " + Quote(dir.File("files/a.txt"))).c_str());
  std::system(("touch -d '1999-12-31 23:59:59 UTC' " + Quote(dir.File("files/sub/b.txt"))).c_str());
  std::system(("touch -d '1975-01-01 00:00:00 UTC' " + Quote(dir.File("files/.hidden"))).c_str());
  ::chmod(dir.File("files/sub/b.txt").c_str(), 0444);
  dir.Write("p.ini", Project(""));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  dir.Mkdir("scratch");
  cabtest::WriteFile(dir.File("scratch/p.cab"), Dissect(ReadFile(dir.File("Setup.exe"))).payload);
  ASSERT_TRUE(RunTool("TZ=UTC cabextract -l " + Quote(dir.File("scratch/p.cab")), dir.File("scratch/log")));
  const std::string listing = ReadFile(dir.File("scratch/log"));
  EXPECT_NE(listing.find("05.04.2003 06:07:08 | a.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("31.12.1999 23:59:58 | sub/b.txt"), std::string::npos) << listing;  // 2-second steps
  EXPECT_NE(listing.find("01.01.1980 00:00:00 | .hidden"), std::string::npos) << listing;    // clamped
  ASSERT_TRUE(RunTool("TZ=UTC gcab -l -v " + Quote(dir.File("scratch/p.cab")), dir.File("scratch/log")));
  const std::string attributes = ReadFile(dir.File("scratch/log"));
  EXPECT_NE(attributes.find("a.txt 7 2003-04-05 06:07:08 0x20"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find("sub\\b.txt 5 1999-12-31 23:59:58 0x21"), std::string::npos) << attributes;
  EXPECT_NE(attributes.find(".hidden 1 1980-01-01 00:00:00 0x22"), std::string::npos) << attributes;
  ::chmod(dir.File("files/sub/b.txt").c_str(), 0644);
}

TEST(Build, SameInputsGiveTheSameBytes) {
  ProjectDir dir;
  dir.Write("p.ini", Project("VolumeSize = 150K\nCompression = stored\nPassword = x\n"));
  dir.Mkdir("one");
  dir.Mkdir("two");
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini -o one/Setup.exe", out, dir.Path())) << out;
  // Another time, another working folder, another copy of the project.
  cabtest::TempDir copy;
  ASSERT_TRUE(RunTool("sleep 1 && cp -a " + Quote(dir.Path()) + "/. " + Quote(copy.Path()), "/dev/null"));
  ASSERT_EQ(
      0, RunPack("build " + Quote(copy.File("p.ini")) + " -o " + Quote(dir.File("two/Setup.exe")), out, "/"))
      << out;
  for (const char* name : {"Setup.exe", "Setup-2.cab", "Setup-3.cab"}) {
    const std::string a = ReadFile(dir.File(std::string("one/") + name));
    EXPECT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == ReadFile(dir.File(std::string("two/") + name))) << name << " differs between two builds";
  }
  // The volumes are named after the output, and the set names them.
  ASSERT_EQ(0, RunPack("build p.ini -o other.exe", out, dir.Path())) << out;
  EXPECT_NE(Descrambled(Dissect(ReadFile(dir.File("other.exe"))).payload, "x").find("other-2.cab"),
            std::string::npos);
  EXPECT_TRUE(FileExists(dir.File("other-3.cab")));
}

TEST(Build, FailuresLeaveNothingBehind) {
  const struct {
    const char* title;
    std::string project;
    std::string args;
    const char* says;
  } cases[] = {
      {"project mistake", Project("", "a.txt = files/none.txt\n"), "",
       "p.ini:13: error: file or folder not found"},
      {"no stub tag", Project("", "\\ = files\n"), "--stub files/a.txt", "not a Veltra stub"},
      {"stub that is a package", Project(""), "--stub stub-used.exe", "already carries a package"},
      {"library of no known kind", Project(""), "--cablib files/a.txt", "must be a DLL or its SZDD"},
      {"damaged SZDD library", Project(""), "--cablib broken.sz", "damaged SZDD"},
      {"volume too small for Setup.exe", Project("VolumeSize = 130K\n"), "", "leaves Setup.exe less than"},
      {"output folder under a file", Project(""), "-o files/a.txt/Setup.exe", "cannot be made"},
      {"no files at all", Project("", ""), "", "p.ini: error: the payload holds no files"},
      // Sizes a cabinet's 32-bit fields cannot carry (the first would wrap to 1).
      {"file of 4 GiB and a byte", Project("", "big.bin = files/4g.bin\n"), "", "too large for a cabinet"},
      {"file of 2 GiB", Project("", "big.bin = files/2g.bin\n"), "", "too large for a cabinet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    dir.Write("p.ini", c.project);
    std::string used = packtest::FakeStub();
    used[used.find(std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize)) + kPackageBaseTagSize] = 1;
    dir.Write("stub-used.exe", used);
    dir.Write("broken.sz", std::string("SZDD\x88\xF0\x27\x33\x41\x00\xFF\xFF\x00\x00\x00", 15));
    for (const auto& [name, size] :
         {std::pair{"files/4g.bin", (1LL << 32) + 1}, {"files/2g.bin", 1LL << 31}}) {
      dir.Write(name, "");
      ASSERT_EQ(0, truncate(dir.File(name).c_str(), size));  // sparse: nothing is written
    }
    const std::string before = dir.Listing();
    std::string out;
    EXPECT_EQ(1, RunPack("build p.ini " + c.args, out, dir.Path())) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(before, dir.Listing()) << "files were left behind:\n" << out;
  }
}

TEST(Build, StaleVolumesAreReported) {
  ProjectDir dir;
  dir.Write("p.ini", Project(""));
  dir.Write("Setup-2.cab", "from an earlier build");
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  EXPECT_NE(out.find("Setup-2.cab: warning: left from an earlier build"), std::string::npos) << out;
}

// A finished cabinet set as the payload: the first volume goes into
// Setup.exe as it is, the others beside it under the names the set stores.
TEST(Build, AnExistingCabinetSetIsUsedAsItIs) {
  for (const std::string password : {"", "pw"}) {
    SCOPED_TRACE(password.empty() ? "plain" : "with password");
    ProjectDir dir;
    std::vector<cab::Entry> entries = {cabtest::Entry("one.bin", cabtest::RandomBytes(200000, 1)),
                                       cabtest::Entry("two.bin", cabtest::RandomBytes(150000, 2))};
    cab::WriteOptions options;
    options.compression = cab::Compression::Stored;
    options.volumeSize = 128 * 1024;
    cab::WriteResult written;
    std::string error, out;
    cab::VolumeNamer namer = [&dir](int i) {
      const std::string name = "data" + std::to_string(i + 1) + ".cab";
      return cab::VolumeName{dir.File(name), name, "disk"};
    };
    ASSERT_TRUE(cab::WriteCabinetSet(entries, options, namer, HostCabinetFiles(), written, error)) << error;
    ASSERT_GE(written.volumes.size(), 3u);
    dir.Write("p.ini",
              "[Setup]\nAppName = Given\n[Package]\nStub = stub.exe\nCabinetLibrary = none\n"
              "Cabinet = data1.cab\nOutput = out/Setup.exe\n" +
                  (password.empty() ? "" : "Password = " + password + "\n"));
    dir.Mkdir("out");
    ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
    const Dissected d = Dissect(ReadFile(dir.File("out/Setup.exe")));
    EXPECT_EQ(0u, cabtest::Le(d.header, 16, 4)) << "CabinetLibrary = none leaves block 3 empty";
    EXPECT_TRUE((password.empty() ? d.payload : Descrambled(d.payload, password)) ==
                ReadFile(dir.File("data1.cab")));
    for (size_t i = 2; i <= written.volumes.size(); ++i) {
      const std::string name = "data" + std::to_string(i) + ".cab";
      const std::string copy = ReadFile(dir.File("out/" + name));
      EXPECT_TRUE((password.empty() ? copy : Descrambled(copy, password)) == ReadFile(dir.File(name)))
          << name;
    }
    dir.Mkdir("scratch");
    cabtest::WriteFile(dir.File("scratch/info.cab"), Descrambled(d.info, password));
    ASSERT_TRUE(
        RunTool("cabextract -q -d " + Quote(dir.File("scratch")) + " " + Quote(dir.File("scratch/info.cab")),
                "/dev/null"));
    SetupScript script;
    ASSERT_TRUE(ParseSetupScript(ReadFile(dir.File("scratch/~DAT1.")), script));
    EXPECT_EQ(350000, script.MinFree);
    EXPECT_EQ(0, RunPack("verify out/Setup.exe --password '" + password + "'", out, dir.Path())) << out;
    // Beside the set itself: fine when plain, refused when it would be scrambled.
    const int code = RunPack("build p.ini -o Setup.exe", out, dir.Path());
    EXPECT_EQ(password.empty() ? 0 : 1, code) << out;
    EXPECT_TRUE(ReadFile(dir.File("data2.cab")) == ReadFile(dir.File("out/data2.cab")) || !password.empty());
    if (!password.empty()) EXPECT_NE(out.find("would overwrite"), std::string::npos) << out;
    EXPECT_EQ(cabtest::ParseCabinetFile(dir.File("data2.cab")).error, "") << "the given volume was changed";
  }
}

// A package made elsewhere may store names that would leave the target
// folder; extract refuses them and writes nothing outside it.
TEST(Build, ExtractRefusesNamesThatLeaveTheFolder) {
  ProjectDir dir;
  std::vector<cab::Entry> entries = {cabtest::Entry("ok.txt", "fine"),
                                     cabtest::Entry("xx\\evil.txt", "evil")};
  cab::WriteResult written;
  std::string error, out;
  ASSERT_TRUE(cab::WriteCabinet(entries, cab::WriteOptions(), dir.File("payload.cab"), HostCabinetFiles(),
                                written, error))
      << error;
  std::string cab = ReadFile(dir.File("payload.cab"));
  const size_t name = cab.find("xx\\evil.txt");
  ASSERT_NE(std::string::npos, name);
  cab.replace(name, 2, "..");  // names carry no checksum
  cabtest::WriteFile(dir.File("payload.cab"), cab);
  std::vector<cab::Entry> info = {cabtest::Entry("~DAT1.", "x\r\n")};
  ASSERT_TRUE(
      cab::WriteCabinet(info, cab::WriteOptions(), dir.File("info.cab"), HostCabinetFiles(), written, error))
      << error;
  ASSERT_EQ(0, RunPack("assemble --stub stub.exe --info info.cab --payload payload.cab --out Setup.exe", out,
                       dir.Path()))
      << out;
  dir.Mkdir("target");
  EXPECT_EQ(1, RunPack("extract Setup.exe --to target", out, dir.Path())) << out;
  EXPECT_NE(out.find("refusing to write the stored name ..\\evil.txt"), std::string::npos) << out;
  EXPECT_FALSE(FileExists(dir.File("evil.txt")));
  EXPECT_EQ(0, RunPack("list Setup.exe", out, dir.Path())) << out;
  EXPECT_NE(out.find("..\\evil.txt"), std::string::npos) << out;
}

// Block 3 as the stub gets it: Wine's expand program runs the Windows LZ
// expansion (LZOpenFile, LZCopy) and must give the library back byte for byte.
TEST(Build, CabinetLibraryExpandsThroughWinesLzFunctions) {
  if (!RunTool("command -v wine", "/dev/null")) GTEST_SKIP() << "no Wine";
  ProjectDir dir;
  // A DLL-like file with long repeats and incompressible stretches.
  dir.Write("lib.dll", packtest::FakeLibrary() + cabtest::RandomBytes(50000, 3) + packtest::FakeLibrary());
  dir.Write("p.ini", Project(""));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  cabtest::WriteFile(dir.File("block3.dl_"), Dissect(ReadFile(dir.File("Setup.exe"))).lib);
  ASSERT_TRUE(RunTool("cd " + Quote(dir.Path()) +
                          " && WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$HOME/.veltra-wine} "
                          "wine expand block3.dl_ expanded.dll",
                      dir.File("log")))
      << ReadFile(dir.File("log"));
  EXPECT_TRUE(ReadFile(dir.File("expanded.dll")) == ReadFile(dir.File("lib.dll")));
}

// Without Stub and CabinetLibrary the builder takes the product's files from
// beside itself (or the build tree); when they are not there it says where it
// looked and writes nothing, unless the project asks for no library.
TEST(Build, DefaultStubAndLibraryAreFoundBesideTheBuilder) {
  ProjectDir dir;
  dir.Mkdir("tool");
  ASSERT_TRUE(RunTool("cp '" VELTRA_PACK_EXE "' " + Quote(dir.File("tool/veltra-pack")), "/dev/null"));
  const std::string pack = Quote(dir.File("tool/veltra-pack"));
  dir.Write("p.ini", "[Setup]\nAppName = Defaults\n[Files]\nfiles/a.txt\n");
  dir.Write("none.ini",
            "[Setup]\nAppName = Defaults\n[Package]\nCabinetLibrary = none\n[Files]\nfiles/a.txt\n");
  const std::string log = dir.File("log");
  EXPECT_FALSE(RunTool(pack + " build " + Quote(dir.File("p.ini")), log));
  EXPECT_NE(ReadFile(log).find("no stub given and none found"), std::string::npos) << ReadFile(log);
  EXPECT_NE(ReadFile(log).find(dir.File("tool/veltra-stub.exe")), std::string::npos) << ReadFile(log);
  ASSERT_TRUE(RunTool("cp " + Quote(dir.File("stub.exe")) + " " + Quote(dir.File("tool/veltra-stub.exe")),
                      "/dev/null"));
  EXPECT_FALSE(RunTool(pack + " build " + Quote(dir.File("p.ini")), log));
  EXPECT_NE(ReadFile(log).find("cabinet-veltra.dll was not found"), std::string::npos) << ReadFile(log);
  EXPECT_NE(ReadFile(log).find("CabinetLibrary = none"), std::string::npos) << ReadFile(log);
  EXPECT_FALSE(FileExists(dir.File("Setup.exe")));
  EXPECT_TRUE(RunTool(pack + " build " + Quote(dir.File("none.ini")), log)) << ReadFile(log);
  EXPECT_TRUE(Dissect(ReadFile(dir.File("Setup.exe"))).lib.empty());
  ASSERT_TRUE(RunTool("cp " + Quote(dir.File("lib.dll")) + " " + Quote(dir.File("tool/cabinet-veltra.dll")),
                      "/dev/null"));
  EXPECT_TRUE(RunTool(pack + " build " + Quote(dir.File("p.ini")), log)) << ReadFile(log);
  const std::string lib = Dissect(ReadFile(dir.File("Setup.exe"))).lib;
  std::vector<uint8_t> expanded;
  ASSERT_EQ(SzddStatus::Ok, SzddExpand(reinterpret_cast<const uint8_t*>(lib.data()), lib.size(), expanded));
  EXPECT_TRUE(std::string(expanded.begin(), expanded.end()) == ReadFile(dir.File("lib.dll")));
}

// Where a copy of the builder finds the product's files by where it sits:
// beside itself first, then ../lib/veltra (an installed tree); the win32
// build tree only from a build folder (one with CMakeFiles), so that an
// installed or copied builder never reaches a folder relative to wherever
// it was put.
TEST(Build, DefaultFilesBesideTheBuilderThenInItsInstalledTree) {
  const struct {
    bool buildFolder;                 // a CMakeFiles folder beside the builder in usr/bin
    std::vector<std::string> placed;  // folders given a stub and library, each its own
    int taken;                        // the one a build takes, or -1: none found
    std::vector<std::string> looked;  // the places a failed build names, for the stub
  } cases[] = {
      {false, {"usr/lib/veltra"}, 0, {}},
      {false, {"usr/bin"}, 0, {}},
      {false, {"usr/lib/veltra", "usr/bin"}, 1, {}},
      {false,
       {"lib/veltra", "usr/bin/lib/veltra"},
       -1,
       {"usr/bin/veltra-stub.exe", "usr/bin/../lib/veltra/veltra-stub.exe"}},
      {true, {}, -1, {"usr/bin/veltra-stub.exe", "usr/bin/../lib/veltra/veltra-stub.exe", "usr/bin/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(&c - cases));
    ProjectDir dir;
    const std::string tool = dir.File("usr/bin");
    ASSERT_TRUE(RunTool("mkdir -p " + Quote(tool + (c.buildFolder ? "/CMakeFiles" : "")) +
                            " && cp '" VELTRA_PACK_EXE "' " + Quote(tool),
                        "/dev/null"));
    for (size_t i = 0; i < c.placed.size(); ++i) {
      ASSERT_TRUE(RunTool("mkdir -p " + Quote(dir.File(c.placed[i])), "/dev/null"));
      dir.Write(c.placed[i] + "/veltra-stub.exe", packtest::FakeStub());
      dir.Write(c.placed[i] + "/cabinet-veltra.dll", packtest::FakeLibrary() + std::string(i + 1, 'x'));
    }
    dir.Write("p.ini", "[Setup]\nAppName = Found\n[Files]\nfiles/a.txt\n");
    const std::string log = dir.File("log");
    const bool built = RunTool(Quote(tool + "/veltra-pack") + " build " + Quote(dir.File("p.ini")), log);
    ASSERT_EQ(built, c.taken >= 0) << ReadFile(log);
    if (built) {
      const std::string lib = Dissect(ReadFile(dir.File("Setup.exe"))).lib;
      std::vector<uint8_t> expanded;
      ASSERT_EQ(SzddStatus::Ok,
                SzddExpand(reinterpret_cast<const uint8_t*>(lib.data()), lib.size(), expanded));
      EXPECT_EQ(std::string(expanded.begin(), expanded.end()),
                ReadFile(dir.File(c.placed[size_t(c.taken)] + "/cabinet-veltra.dll")));
      continue;
    }
    // The stub's list: the lines after its "Looked for:", up to the library's error.
    const std::string text = ReadFile(log);
    const size_t from = text.find("Looked for:"), to = text.find("error", from);
    std::vector<std::string> looked;
    for (size_t at = text.find("\n  ", from); at < to; at = text.find("\n  ", at + 1))
      looked.push_back(text.substr(at + 3, text.find('\n', at + 1) - at - 3));
    ASSERT_EQ(looked.size(), c.looked.size()) << text;
    for (size_t i = 0; i < looked.size(); ++i) {
      // The build tree's place depends on where the tree was configured;
      // only its start is known here.
      EXPECT_EQ(looked[i].rfind(dir.File(c.looked[i]), 0), 0u) << looked[i];
    }
  }
}

// The code-page line after the language text's end marker: written exactly
// when a name or text goes beyond ASCII (1252 included), read back by info,
// and what extract converts names with.
TEST(Build, PackagesBeyondAsciiRecordTheirCodePage) {
  const struct {
    const char* title;
    std::string package, files;
    std::string record;     // after the end marker
    std::string infoLine;   // in `info`
    std::string extracted;  // a file extract writes, relative to its folder
  } cases[] = {
      {"ASCII", "", "a.txt = files/a.txt\n", "", "code page          1252 (none recorded", "a.txt"},
      {"1252 beyond ASCII", "", "r\xC3\xA9sum\xC3\xA9.txt = files/a.txt\n", "CodePage=1252\r\n",
       "code page          1252\n", "r\xC3\xA9sum\xC3\xA9.txt"},
      {"1251 ASCII", "CodePage = 1251\n", "a.txt = files/a.txt\n", "", "(none recorded", "a.txt"},
      {"1251", "CodePage = 1251\n", "\xD0\x96\\\xD0\xB6.txt = files/a.txt\n", "CodePage=1251\r\n",
       "code page          1251\n", "\xD0\x96/\xD0\xB6.txt"},
      // 表 ends in the byte of "\": one folder, not two.
      {"932", "CodePage = 932\n", "\xE8\xA1\xA8\\\xE8\xA1\xA8.txt = files/a.txt\n", "CodePage=932\r\n",
       "code page          932\n", "\xE8\xA1\xA8/\xE8\xA1\xA8.txt"},
  };
  for (const auto& c : cases) {
    ProjectDir dir;
    dir.Write("p.ini", Project(c.package, c.files));
    std::string out;
    ASSERT_EQ(0, RunPack("build " + Quote(dir.File("p.ini")), out)) << c.title << out;
    const Dissected d = Dissect(ReadFile(dir.File("Setup.exe")));
    const std::string marker = "\x01\r\n";
    ASSERT_GE(d.lang.size(), marker.size()) << c.title;
    EXPECT_EQ(c.record, d.lang.substr(d.lang.find(marker) + marker.size())) << c.title;
    ASSERT_EQ(0, RunPack("info " + Quote(dir.File("Setup.exe")), out)) << c.title << out;
    EXPECT_NE(std::string::npos, out.find(c.infoLine)) << c.title << out;
    ASSERT_EQ(0, RunPack("extract " + Quote(dir.File("Setup.exe")) + " --to " + Quote(dir.File("out")), out))
        << c.title << out;
    EXPECT_TRUE(FileExists(dir.File("out/" + c.extracted))) << c.title << dir.Listing("out");
  }
}
