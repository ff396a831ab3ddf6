// Reading the administrator's switches from a command line as Windows gives it.
#include <gtest/gtest.h>

#include <string>

#include "setupparams.h"
#include "switches.h"

namespace {

struct Expected {
  bool quiet;
  bool usage;
  bool unknown;
  const char* destination;
  const char* extract;
};

SwitchesRecord Parse(const char* line) {
  SetupParams.Switches = SwitchesRecord();
  ParseSwitches(line);
  const SwitchesRecord parsed = SetupParams.Switches;
  SetupParams.Switches = SwitchesRecord();
  return parsed;
}

}  // namespace

TEST(Switches, ReadFromTheWholeCommandLine) {
  const struct {
    const char* line;
    Expected expected;
  } cases[] = {
      {"Setup.exe", {false, false, false, "", ""}},
      {"\"C:\\My Files\\Setup.exe\"   ", {false, false, false, "", ""}},
      // A name with /q in it is the program's, not a switch.
      {"\"C:\\a /q\\Setup.exe\"", {false, false, false, "", ""}},
      {"Setup.exe /quiet", {true, false, false, "", ""}},
      {"Setup.exe /Q", {true, false, false, "", ""}},
      {"Setup.exe\t-QUIET", {true, false, false, "", ""}},
      {"Setup.exe /?", {false, true, false, "", ""}},
      {"Setup.exe /D=C:\\Apps\\Acme", {false, false, false, "C:\\Apps\\Acme", ""}},
      {"Setup.exe /d:C:\\Apps", {false, false, false, "C:\\Apps", ""}},
      {"Setup.exe \"/D=C:\\Program Files\\Acme\" /q", {true, false, false, "C:\\Program Files\\Acme", ""}},
      {"Setup.exe /D=\"C:\\Program Files\\Acme\"", {false, false, false, "C:\\Program Files\\Acme", ""}},
      {"Setup.exe /extract=\\\\srv\\share\\x /quiet", {true, false, false, "", "\\\\srv\\share\\x"}},
      {"Setup.exe /D=", {false, false, true, "", ""}},
      {"Setup.exe /D", {false, false, true, "", ""}},
      {"Setup.exe /extract", {false, false, true, "", ""}},
      {"Setup.exe /quiet=yes", {false, false, true, "", ""}},
      {"Setup.exe /qq", {false, false, true, "", ""}},
      {"Setup.exe /bogus /quiet", {true, false, true, "", ""}},
      {"Setup.exe C:\\Apps", {false, false, true, "", ""}},
      {"Setup.exe \"\"", {false, false, true, "", ""}},
      {"Setup.exe /", {false, false, true, "", ""}},
  };
  for (const auto& c : cases) {
    const SwitchesRecord parsed = Parse(c.line);
    EXPECT_EQ(c.expected.quiet, parsed.Quiet) << c.line;
    EXPECT_EQ(c.expected.usage, parsed.ShowUsage) << c.line;
    EXPECT_EQ(c.expected.unknown, parsed.Unknown) << c.line;
    EXPECT_EQ(c.expected.destination, parsed.Destination) << c.line;
    EXPECT_EQ(c.expected.extract, parsed.ExtractOnly) << c.line;
  }
}

TEST(Switches, PassiveShowsTheProgressUnlessQuietIsAskedFor) {
  const struct {
    const char* line;
    bool quiet;
    bool passive;
    bool unknown;
  } cases[] = {
      {"Setup.exe /passive", false, true, false},
      {"Setup.exe -PASSIVE \"/D=C:\\Program Files\\Acme\"", false, true, false},
      {"Setup.exe /passive /extract=C:\\x", false, true, false},
      // No window at all is the stricter wish, in either order.
      {"Setup.exe /passive /quiet", true, false, false},
      {"Setup.exe /q -passive", true, false, false},
      {"Setup.exe /passive=yes", false, false, true},
      {"Setup.exe /pass", false, false, true},
      {"Setup.exe /passive /bogus", false, true, true},
  };
  for (const auto& c : cases) {
    const SwitchesRecord parsed = Parse(c.line);
    EXPECT_EQ(c.quiet, parsed.Quiet) << c.line;
    EXPECT_EQ(c.passive, parsed.Passive) << c.line;
    EXPECT_EQ(c.unknown, parsed.Unknown) << c.line;
  }
}

TEST(Switches, FileSwitchesTakeTheirNamesAsGiven) {
  EXPECT_EQ("Z:\\keys\\pw.txt", Parse("Setup.exe /Password-File=Z:\\keys\\pw.txt").PasswordFile);
  EXPECT_TRUE(Parse("Setup.exe /password-file").Unknown);
  EXPECT_TRUE(Parse("Setup.exe /passwordfile=x").Unknown);
  EXPECT_EQ("C:\\Logs\\setup run.log", Parse("Setup.exe /q \"/LOG=C:\\Logs\\setup run.log\"").LogFile);
  EXPECT_EQ("setup.log", Parse("Setup.exe /log:setup.log").LogFile);
  EXPECT_TRUE(Parse("Setup.exe /log=").Unknown);
}

TEST(Switches, ArgumentsKeepTheirBlanksInsideQuotes) {
  const char* line = "  a\"b c\"d  \"e f\" g";
  EXPECT_EQ("ab cd", NextArgument(line));
  EXPECT_EQ("e f", NextArgument(line));
  EXPECT_EQ("g", NextArgument(line));
  EXPECT_EQ("", NextArgument(line));
}
