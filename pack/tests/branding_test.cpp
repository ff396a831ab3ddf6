// Branding: the stub copy's icon, version information and manifest, read back
// by an independent resource reader (wrestool and icotool from icoutils); a
// package without brand keys keeps the stub's bytes; bad values are refused
// at their line.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "brandsettings.h"
#include "byteorder.h"
#include "pack_test_util.h"
#include "pechecksum.h"

using cabtest::RunTool;
using packtest::ProjectDir;
using packtest::ReadFile;
using packtest::RunPack;

namespace {

bool FileExists(const std::string& path) { return RunTool("test -f '" + path + "'", "/dev/null"); }
std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The value of a string of a version resource: the key in UTF-16, its
// terminator, padding to 32 bits, then the value up to its terminator.
std::string VersionString(const std::string& raw, const std::string& key) {
  std::string wide;
  for (char c : key + '\0') wide += c, wide += '\0';
  size_t at = raw.find(wide);
  if (at == std::string::npos) return "<missing>";
  at = (at + wide.size() + 3) & ~size_t(3);
  std::string value;
  for (; at + 1 < raw.size() && (raw[at] || raw[at + 1]); at += 2) value += raw[at];
  return value;
}

class Branding : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("app.ico", packtest::SmallIcon({16, 32, 48}));
    dir_.Write("big.ico", packtest::SmallIcon({16, 256}));
  }
  std::string Project(const std::string& package) const {
    return "[Setup]\nAppName = Brand Demo\nUnattended = 1\n[Package]\nStub = " + stub_ +
           "\nCabinetLibrary = lib.dll\n" + package + "[Files]\na.txt = files/a.txt\n";
  }
  // Builds out/Setup.exe; its output in `log`.
  int Build(const std::string& package, const std::string& args, std::string& log) {
    dir_.Write("p.ini", Project(package));
    return RunPack("build p.ini -o out/Setup.exe --quiet " + args, log, dir_.Path());
  }
  // A resource as wrestool extracts it (--raw: as stored).
  std::string Resource(const std::string& options) const {
    const std::string to = dir_.File("res.bin");
    EXPECT_TRUE(RunTool("wrestool -x " + options + " " + Quote(dir_.File("out/Setup.exe")) + " >" + Quote(to),
                        "/dev/null"));
    return ReadFile(to);
  }
  std::string IconSizes() const {
    Resource("-t14 -n0");
    const std::string log = dir_.File("sizes");
    RunTool("icotool -l " + Quote(dir_.File("res.bin")) +
                " | sed 's/.*--width=\\([0-9]*\\).*/\\1/' | tr '\\n' ' '",
            log);
    return ReadFile(log);
  }

  ProjectDir dir_;
  std::string stub_ = VELTRA_WIN32_STUB;
};

class BrandingRealStub : public Branding {
 protected:
  void SetUp() override {
    Branding::SetUp();
    if (!FileExists(stub_)) GTEST_SKIP() << "no win32 stub built: " << stub_;
    if (!RunTool("command -v wrestool && command -v icotool", "/dev/null"))
      GTEST_SKIP() << "icoutils missing";
  }
};

TEST_F(BrandingRealStub, ResourcesReadBackByAnIndependentReader) {
  const std::string stubIcon = [&] {
    const std::string log = dir_.File("stubicon");
    RunTool("wrestool -x -t14 -n0 " + Quote(stub_) +
                " | icotool -l - | sed 's/.*--width=\\([0-9]*\\).*/\\1/' | tr '\\n' ' '",
            log);
    return ReadFile(log);
  }();
  ASSERT_FALSE(stubIcon.empty());
  struct Case {
    const char* name;
    const char* package;
    const char* args;
    std::string icons;  // the sizes icotool lists
    const char* level;  // "" when the manifest must name none
    std::map<std::string, std::string> strings;
    uint32_t fileVersionMs, fileVersionLs;
  };
  const Case cases[] = {
      {"everything",
       "Icon = app.ico\nCompanyName = Veltra Test Works\nProductVersion = 2.1\nFileVersion = 2.1.0.7\n"
       "Copyright = \xC2\xA9 2026 Veltra\nExecutionLevel = requireadministrator\n",
       "",
       "16 32 48 ",
       "requireAdministrator",
       {{"CompanyName", "Veltra Test Works"},
        {"FileDescription", "Brand Demo Setup"},
        {"FileVersion", "2.1.0.7"},
        {"LegalCopyright", "\xA9 2026 Veltra"},
        {"ProductName", "Brand Demo"},
        {"ProductVersion", "2.1"}},
       0x00020001,
       0x00000007},
      {"level only",
       "ExecutionLevel = asInvoker\n",
       "",
       stubIcon,
       "asInvoker",
       {{"ProductName", "Brand Demo"}, {"FileDescription", "Brand Demo Setup"}, {"CompanyName", "<missing>"}},
       0,
       0},
      {"command line over the project",
       "ExecutionLevel = requireAdministrator\nProductName = Old\n",
       "--execution-level highestAvailable --product-name New --icon big.ico --file-version 3",
       "16 256 ",
       "highestAvailable",
       {{"ProductName", "New"}, {"ProductVersion", "3"}},
       0x00030000,
       0},
      {"no level",
       "Description = Installs the demo\n",
       "",
       stubIcon,
       "",
       {{"FileDescription", "Installs the demo"}},
       0,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string log;
    ASSERT_EQ(0, Build(c.package, c.args, log)) << log;
    EXPECT_EQ(c.icons, IconSizes());
    const std::string manifest = Resource("--raw -t24");
    const std::string level = std::string("requestedExecutionLevel level=\"") + c.level + "\"";
    EXPECT_EQ(*c.level != 0, manifest.find(level) != std::string::npos) << manifest;
    EXPECT_EQ(*c.level != 0, manifest.find("trustInfo") != std::string::npos) << manifest;
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    const std::string version = Resource("--raw -t16");
    for (const auto& s : c.strings) EXPECT_EQ(s.second, VersionString(version, s.first)) << s.first;
    const size_t fixed = version.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(fixed, std::string::npos);
    EXPECT_EQ(c.fileVersionMs, ReadLe32(reinterpret_cast<const uint8_t*>(&version[fixed + 8])));
    EXPECT_EQ(c.fileVersionLs, ReadLe32(reinterpret_cast<const uint8_t*>(&version[fixed + 12])));
    // The whole file's checksum, and the package still found and sound.
    const std::string setup = ReadFile(dir_.File("out/Setup.exe"));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(setup.data());
    PeImageFacts facts;
    ASSERT_TRUE(ReadPeImageFacts(bytes, setup.size(), facts));
    EXPECT_EQ(ComputePeChecksum(bytes, setup.size(), facts.checksumOffset), facts.storedChecksum);
    EXPECT_EQ(0, RunPack("verify " + Quote(dir_.File("out/Setup.exe")), log)) << log;
    EXPECT_TRUE(RunTool("i686-w64-mingw32-objdump -p " + Quote(dir_.File("out/Setup.exe")), "/dev/null"));
  }
}

TEST_F(BrandingRealStub, NoKeyKeepsTheStubAsBuilt) {
  std::string log;
  ASSERT_EQ(0, Build("", "", log)) << log;
  const std::string stub = ReadFile(stub_), setup = ReadFile(dir_.File("out/Setup.exe"));
  ASSERT_GT(setup.size(), stub.size());
  const size_t field =
      stub.find(std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize)) + kPackageBaseTagSize;
  std::string expected = stub;
  expected.replace(field, 4, setup.substr(field, 4));
  EXPECT_TRUE(setup.compare(0, stub.size(), expected) == 0);
  EXPECT_EQ(stub.size(), ReadLe32(reinterpret_cast<const uint8_t*>(&setup[field])));
}

TEST_F(BrandingRealStub, StubsThatCannotBeRewrittenAreRefused) {
  dir_.Write("tail.exe", ReadFile(stub_) + "trailing bytes");
  stub_ = dir_.File("tail.exe");
  std::string log;
  EXPECT_EQ(1, Build("Icon = app.ico\n", "", log));
  EXPECT_NE(log.find("p.ini:5: error: the stub: the image carries bytes after its last section"),
            std::string::npos)
      << log;
  EXPECT_FALSE(FileExists(dir_.File("out/Setup.exe")));
}

// Refused before anything is built, each at its line; a stand-in stub is
// enough since the build never reaches it.
TEST_F(Branding, BadValuesAreRefusedAtTheirLine) {
  stub_ = "stub.exe";
  const std::string good = packtest::SmallIcon({16});
  std::string outside = good, neither = good;
  outside[6 + 12] = char(0xF0);  // the image's offset points past the end
  neither[6 + 16] = 'X';         // neither a 40-byte bitmap header nor PNG
  struct Case {
    const char* name;
    std::string icon;
    const char* line;
    const char* expected;
  };
  const Case cases[] = {
      {"cursor", std::string("\0\0\2\0\1\0", 6) + good.substr(6), "Icon = bad.ico", "not an icon file"},
      {"no image", std::string("\0\0\1\0\0\0", 6), "Icon = bad.ico", "holds no image"},
      {"cut directory", good.substr(0, 14), "Icon = bad.ico", "ends inside its directory"},
      {"image outside", outside, "Icon = bad.ico", "image 1 of 1 lies outside the file"},
      {"neither", neither, "Icon = bad.ico", "neither a bitmap"},
      {"missing file", "", "Icon = none.ico", "file not found"},
      {"version", "", "FileVersion = 1.2.3.4.5", "FileVersion must be one to four numbers"},
      {"version number", "", "ProductVersion = 70000", "ProductVersion must be"},
      {"level", "", "ExecutionLevel = admin", "ExecutionLevel must be asInvoker"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("bad.ico", c.icon);
    std::string log;
    EXPECT_EQ(1, Build(std::string("CompanyName = X\n") + c.line + "\n", "", log));
    EXPECT_NE(log.find("p.ini:8: error: "), std::string::npos) << log;
    EXPECT_NE(log.find(c.expected), std::string::npos) << log;
    EXPECT_FALSE(FileExists(dir_.File("out/Setup.exe")));
  }
  std::string log;
  EXPECT_EQ(1, Build("", "--file-version 1.x --icon bad.ico", log));
  EXPECT_NE(log.find("command line: FileVersion must be"), std::string::npos) << log;
}

TEST(BrandValues, VersionNumbers) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t numbers[4];
  };
  const Case cases[] = {
      {"1", true, {1, 0, 0, 0}}, {"2.1", true, {2, 1, 0, 0}}, {"65535.0.9.65535", true, {65535, 0, 9, 65535}},
      {"1.2.3.4.5", false, {}},  {"65536", false, {}},        {"1..2", false, {}},
      {"", false, {}},           {"1.2.", false, {}},         {" 1", false, {}},
      {"0000001.2", false, {}},  {"v1", false, {}},
  };
  for (const Case& c : cases) {
    uint16_t numbers[4];
    ASSERT_EQ(c.ok, ParseVersionNumbers(c.text, numbers)) << c.text;
    if (c.ok) EXPECT_TRUE(std::equal(numbers, numbers + 4, c.numbers)) << c.text;
  }
}

}  // namespace
