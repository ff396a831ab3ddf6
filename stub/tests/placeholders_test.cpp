// Placeholder expansion: token forms, the order of the replacements, registry
// tokens and line breaks. The folder fields of the setup parameters are set
// by each test; shell folders and the registry are Wine's own.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "pathops.h"
#include "placeholders.h"
#include "registry.h"
#include "scratchkey.h"
#include "setupparams.h"

namespace {

std::string Environment(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// The folder of a CSIDL through the shell's other interface.
std::string ShellFolder(int csidl) {
  char path[MAX_PATH] = {};
  return SHGetFolderPathA(nullptr, csidl, nullptr, 0, path) == S_OK ? std::string(path) : "";
}

const char kKey[] = "HKCU\\Software\\VeltraTest\\";

class Expansion : public ::testing::Test {
 protected:
  SetupParamsRecord saved_;

  void SetUp() override {
    saved_.AppName = SetupParams.AppName;
    saved_.MinFree = SetupParams.MinFree;
    saved_.WindowsDir = SetupParams.WindowsDir;
    saved_.SystemDir = SetupParams.SystemDir;
    saved_.TempDir = SetupParams.TempDir;
    saved_.ExtractDir = SetupParams.ExtractDir;
    SetupParams.AppName = "Demo";
    SetupParams.MinFree = 1048576;
    SetupParams.WindowsDir = "E:\\WINDOWS\\";
    SetupParams.SystemDir = "E:\\WINDOWS\\SYSTEM32\\";
    SetupParams.TempDir = "C:\\TEMP\\";
    SetupParams.ExtractDir = "D:\\Program Files\\Demo\\";
  }
  void TearDown() override {
    SetupParams.AppName = saved_.AppName;
    SetupParams.MinFree = saved_.MinFree;
    SetupParams.WindowsDir = saved_.WindowsDir;
    SetupParams.SystemDir = saved_.SystemDir;
    SetupParams.TempDir = saved_.TempDir;
    SetupParams.ExtractDir = saved_.ExtractDir;
  }
};

struct Case {
  const char* text;
  bool breaks;
  const char* expected;
};

}  // namespace

TEST_F(Expansion, TokenForms) {
  const Case cases[] = {
      {"", false, ""},
      {"", true, ""},
      {"plain text", true, "plain text"},
      {"<WIN>\\notepad.exe", false, "E:\\WINDOWS\\notepad.exe"},
      {"<SYS>", false, "E:\\WINDOWS\\SYSTEM32"},
      {"<TEMP>\\x.tmp", false, "C:\\TEMP\\x.tmp"},
      {"<INSTALL>\\bin", false, "D:\\Program Files\\Demo\\bin"},
      {"<SYSTEM DRIVE>\\", false, "E:\\"},
      {"<MIN_FREE>", false, "1048576"},
      {"<APPNAME>, <APPNAME> and <APPNAME>", false, "Demo, Demo and Demo"},
      {"<WIN><SYS>", false, "E:\\WINDOWSE:\\WINDOWS\\SYSTEM32"},
      // Lower case and unknown words are no tokens.
      {"<win> <appname> <Sys> <min_free> <Br/>", true, "<win> <appname> <Sys> <min_free> <Br/>"},
      {"<S> <UNKNOWN> <APPNAME", false, "<S> <UNKNOWN> <APPNAME"},
      {"<<APPNAME>>", false, "<Demo>"},
      {"a<br/>b", false, "a<br/>b"},
      {"a<br/>b<br/>c", true, "a\r\nb\r\nc"},
      {"<WIN>\\<br/>", false, "E:\\WINDOWS\\<br/>"},
      {"Sorry, Setup requires at least <MIN_FREE> bytes of Disk Space on the Destination "
       "Location.<br/>Free some Disk Space and try again.",
       true,
       "Sorry, Setup requires at least 1048576 bytes of Disk Space on the Destination "
       "Location.\r\nFree some Disk Space and try again."},
      // A "<REG:" without a closing ">" stays; an empty path goes.
      {"x <REG:HKCU\\Software", false, "x <REG:HKCU\\Software"},
      {"a<REG:>b", false, "ab"},
      {"<REG:", true, "<REG:"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, ExpandPlaceholders(c.text, c.breaks)) << '"' << c.text << '"';
}

TEST_F(Expansion, CallerTextIsNotChanged) {
  std::string text = "<APPNAME>";
  const std::string result = ExpandPlaceholders(text, true);
  EXPECT_EQ("<APPNAME>", text);
  EXPECT_EQ("Demo", result);
  text = ExpandPlaceholders(text, false);
  EXPECT_EQ("Demo", text);
}

TEST_F(Expansion, NegativeAndLargeMinFree) {
  SetupParams.MinFree = -5;
  EXPECT_EQ("-5 bytes", ExpandPlaceholders("<MIN_FREE> bytes", false));
  SetupParams.MinFree = 5000000000LL;  // beyond 32 bits
  EXPECT_EQ("5000000000", ExpandPlaceholders("<MIN_FREE>", false));
}

TEST_F(Expansion, WindowsInADriveRoot) {
  SetupParams.WindowsDir = "E:\\";
  SetupParams.SystemDir = "E:\\SYSTEM32\\";
  EXPECT_EQ("E:\\", ExpandPlaceholders("<WIN>", false));
  EXPECT_EQ("E:", ExpandPlaceholders("<SYSTEM DRIVE>", false));
  EXPECT_EQ("E:\\SYSTEM32", ExpandPlaceholders("<SYS>", false));
  // No folder known: the tokens disappear.
  SetupParams.WindowsDir.clear();
  SetupParams.ExtractDir.clear();
  EXPECT_EQ("[][][]", ExpandPlaceholders("[<WIN>][<SYSTEM DRIVE>][<INSTALL>]", false));
}

TEST_F(Expansion, SourceFolderKeepsItsBackslash) {
  char own[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
  ASSERT_GT(n, 0u);
  const std::string path(own, n);
  const std::string src = ExpandPlaceholders("<SRC>", false);
  ASSERT_FALSE(src.empty());
  EXPECT_EQ('\\', src.back());
  // "<SRC>" followed directly by a file name names a real file.
  EXPECT_EQ(path, ExpandPlaceholders("<SRC>" + FileNamePart(path), false));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((src + FileNamePart(path)).c_str()));
}

TEST_F(Expansion, ValuesHoldingLaterTokensAreExpandedFurther) {
  ScratchKey key;
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("Demo", "from registry"));
  ASSERT_TRUE(key.SetText("Shown", "one<br/>two <WIN>"));

  const Case cases[] = {
      {"<SYS>\\app", false, "E:\\WINDOWS\\SYSTEM32\\app"},
      {"<TEMP>", false, "C:\\TEMP"},
      {"<MIN_FREE>", false, "<MIN_FREE>"},  // an earlier token stays
      {"<APPNAME>", false, "<APPNAME>"},    // and so does its own
      {"line<br/>break", true, "line\r\nbreak"},
      {"line<br/>break", false, "line<br/>break"},
  };
  for (const Case& c : cases) {
    SetupParams.AppName = c.text;
    EXPECT_EQ(c.expected, ExpandPlaceholders("<APPNAME>", c.breaks)) << c.text;
  }

  // A registry path may be built from earlier tokens; a registry value is
  // only expanded for what follows it: line breaks.
  SetupParams.AppName = "Demo";
  EXPECT_EQ("from registry", ExpandPlaceholders("<REG:" + std::string(kKey) + "<APPNAME>>", false));
  EXPECT_EQ("one\r\ntwo <WIN>", ExpandPlaceholders("<REG:" + std::string(kKey) + "Shown>", true));

  // Folder values are taken as they are: an earlier token in them stays, a
  // later one is expanded.
  SetupParams.WindowsDir = "X:\\<APPNAME>\\";
  EXPECT_EQ("X:\\<APPNAME>", ExpandPlaceholders("<WIN>", false));
  SetupParams.ExtractDir = "<WIN>\\<FONTS>\\";
  EXPECT_EQ("<WIN>\\" + ShellFolder(CSIDL_FONTS), ExpandPlaceholders("<INSTALL>", false));
}

TEST_F(Expansion, OnlyTheFirstRegistryTokenIsResolved) {
  ScratchKey key;
  ASSERT_TRUE(key.ok());
  ASSERT_TRUE(key.SetText("A", "alpha"));
  ASSERT_TRUE(key.SetText("B", "beta"));
  ASSERT_TRUE(key.SetText("", "default"));
  ASSERT_TRUE(key.SetDword("Number", 7));
  const std::string a = "<REG:" + std::string(kKey) + "A>";
  const std::string b = "<REG:" + std::string(kKey) + "B>";

  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {a + "|" + b + "|" + a, "alpha|" + b + "|alpha"},
      {b + a, "beta" + a},
      {"x<REG:" + std::string(kKey) + "Missing>y", "xy"},
      {"x<REG:" + std::string(kKey) + "Number>y", "xy"},
      {"<REG:" + std::string(kKey) + ">", "default"},
      {"<REG:hkcu\\Software\\VeltraTest\\A>", ""},
      {"<REG:" + std::string(kKey) + "A", "<REG:" + std::string(kKey) + "A"},
      // The path ends at the first ">" after "<REG:".
      {"<REG:" + std::string(kKey) + "A>>", "alpha>"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, ExpandPlaceholders(c.text, false)) << c.text;
}

TEST_F(Expansion, ProgramFolderTokensReadTheirRegistryValues) {
  const std::string key = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\";
  const std::string programs = ReadRegistryPath(key + "ProgramFilesDir");
  const std::string common = ReadRegistryPath(key + "CommonFilesDir");
  ASSERT_FALSE(programs.empty());
  ASSERT_FALSE(common.empty());
  ASSERT_NE(programs, common);
  EXPECT_EQ(programs + "\\App", ExpandPlaceholders("<PROGRAM FILES>\\App", false));
  EXPECT_EQ(common, ExpandPlaceholders("<COMMON>", false));
}

// Where each token's folder lies by the system's documented layout, from the
// environment: independent of the code's own token table, so that a token
// mapped to the wrong folder shows.
TEST_F(Expansion, ShellFolderTokens) {
  const struct {
    const char* token;
    const char* base;  // environment variable
    const char* below;
  } folders[] = {
      {"<DESKTOP>", "USERPROFILE", "\\Desktop"},
      {"<FAVORITES>", "USERPROFILE", "\\Favorites"},
      {"<SENDTO>", "APPDATA", "\\Microsoft\\Windows\\SendTo"},
      {"<FONTS>", "WINDIR", "\\Fonts"},
      {"<APPDATA>", "APPDATA", ""},
      {"<COMMON_STARTUP>", "ProgramData", "\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
      {"<COMMON_DESKTOP>", "PUBLIC", "\\Desktop"},
      {"<COMMON_APPDATA>", "ProgramData", ""},
      {"<STARTUP>", "APPDATA", "\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
      {"<PROGRAMS>", "APPDATA", "\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"<STARTMENU>", "APPDATA", "\\Microsoft\\Windows\\Start Menu"},
      {"<COMMON_PROGRAMS>", "ProgramData", "\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"<COMMON_STARTMENU>", "ProgramData", "\\Microsoft\\Windows\\Start Menu"},
  };
  for (const auto& f : folders) {
    const std::string base = Environment(f.base);
    ASSERT_FALSE(base.empty()) << f.base;
    const std::string expected = "[" + base + f.below + "]";
    const std::string expanded = ExpandPlaceholders(std::string("[") + f.token + "]", false);
    // Windows names compare without regard to case.
    EXPECT_EQ(0, lstrcmpiA(expected.c_str(), expanded.c_str())) << f.token << ": " << expanded;
  }
}
