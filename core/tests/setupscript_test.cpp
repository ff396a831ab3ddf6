#include "setupscript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <limits>
#include <random>

namespace {

const std::string kCrLf = "\r\n";

SetupScript FullScript() {
  SetupScript s;
  s.AppName = "Demo <APPNAME> \x1A tool";
  s.Line2 = "free line 2";
  s.Unattended = true;
  s.MinFree = 1048576;
  s.DestDir = "<PROGRAM FILES>\\Demo";
  s.OverwriteMode = 2;
  s.ShowUnpackPage = true;
  s.Line8 = "free line 8";
  s.LaunchFile = "<INSTALL>\\demo.exe";
  s.ReadmeFile = "<INSTALL>\\readme.txt";
  s.RunProgram = "<INSTALL>\\setup.exe";
  s.RunParams = "/q \"<INSTALL>\"";
  s.StartQuestion = "Install <APPNAME>?<br/>Really?";
  s.FinalMessage = "Done.";
  s.ReadmeText = "Readme\r\n\r\n  indented\r\n\x03\x03\x03\r\n";  // the other list's terminator is text here
  s.LicenseText = std::string(300, 'L') + "\r\n\x01\x01\x01\r\nend";
  return s;
}

void ExpectSameScript(const SetupScript& a, const SetupScript& b) {
  EXPECT_EQ(a.AppName, b.AppName);
  EXPECT_EQ(a.Line2, b.Line2);
  EXPECT_EQ(a.Unattended, b.Unattended);
  EXPECT_EQ(a.MinFree, b.MinFree);
  EXPECT_EQ(a.DestDir, b.DestDir);
  EXPECT_EQ(a.OverwriteMode, b.OverwriteMode);
  EXPECT_EQ(a.ShowUnpackPage, b.ShowUnpackPage);
  EXPECT_EQ(a.Line8, b.Line8);
  EXPECT_EQ(a.LaunchFile, b.LaunchFile);
  EXPECT_EQ(a.ReadmeFile, b.ReadmeFile);
  EXPECT_EQ(a.RunProgram, b.RunProgram);
  EXPECT_EQ(a.RunParams, b.RunParams);
  EXPECT_EQ(a.StartQuestion, b.StartQuestion);
  EXPECT_EQ(a.FinalMessage, b.FinalMessage);
  EXPECT_EQ(a.ReadmeText, b.ReadmeText);
  EXPECT_EQ(a.LicenseText, b.LicenseText);
}

// Fourteen fixed lines with the given line 3, 4, 6 and 7, then the lists.
std::string Script(const std::string& l3, const std::string& l4, const std::string& l6, const std::string& l7,
                   const std::string& lists = "\x01\x01\x01\r\n\x03\x03\x03\r\n") {
  std::string text = "App\r\n\r\n" + l3 + kCrLf + l4 + kCrLf + "C:\\x\r\n" + l6 + kCrLf + l7 + kCrLf;
  for (int i = 8; i <= 14; ++i) text += kCrLf;
  return text + lists;
}

}  // namespace

TEST(SetupScriptWriter, WritesTheFourteenLinesAndBothListsWithCrLf) {
  SetupScript s;
  s.AppName = "App";
  s.MinFree = -7;
  s.DestDir = "<TEMP>\\x";
  s.OverwriteMode = 1;
  s.ShowUnpackPage = true;
  s.RunProgram = "run.exe";
  s.ReadmeText = "one\r\n\r\ntwo";
  std::string bytes, error;
  ASSERT_TRUE(WriteSetupScript(s, bytes, error)) << error;
  EXPECT_EQ(
      "App\r\n\r\n0\r\n-7\r\n<TEMP>\\x\r\n1\r\n1\r\n\r\n\r\n\r\nrun.exe\r\n\r\n\r\n\r\n"
      "one\r\n\r\ntwo\r\n\x01\x01\x01\r\n\x03\x03\x03\r\n",
      bytes);
}

TEST(SetupScriptWriter, RoundTripsEveryFieldIncludingExtremeNumbers) {
  const int64_t numbers[] = {0, 1, -1, std::numeric_limits<int64_t>::max(),
                             std::numeric_limits<int64_t>::min()};
  const uint16_t modes[] = {0, 1, 2, 3, 65535};
  for (int64_t minFree : numbers) {
    for (uint16_t mode : modes) {
      SetupScript s = FullScript();
      s.MinFree = minFree;
      s.OverwriteMode = mode;
      s.Unattended = mode % 2 == 0;
      s.ShowUnpackPage = mode % 2 == 1;
      std::string bytes, error;
      ASSERT_TRUE(WriteSetupScript(s, bytes, error)) << error;
      SetupScript back;
      ASSERT_TRUE(ParseSetupScript(bytes, back));
      ExpectSameScript(s, back);
    }
  }
}

TEST(SetupScriptWriter, EmptyListsAreJustTheirTerminators) {
  SetupScript s;
  std::string bytes, error;
  ASSERT_TRUE(WriteSetupScript(s, bytes, error));
  EXPECT_EQ(std::string("\r\n\x01\x01\x01\r\n\x03\x03\x03\r\n"), bytes.substr(bytes.size() - 12));
  SetupScript back = FullScript();
  ASSERT_TRUE(ParseSetupScript(bytes, back));
  ExpectSameScript(s, back);
}

TEST(SetupScriptWriter, RefusesWhatWouldNotReadBack) {
  struct Case {
    const char* name;
    void (*change)(SetupScript&);
    const char* field;
  } cases[] = {
      {"CR in AppName", [](SetupScript& s) { s.AppName = "a\rb"; }, "AppName:"},
      {"LF in DestDir", [](SetupScript& s) { s.DestDir = "a\nb"; }, "DestDir:"},
      {"CR LF in RunParams", [](SetupScript& s) { s.RunParams = "a\r\nb"; }, "RunParams:"},
      {"LF in line 8", [](SetupScript& s) { s.Line8 = "\n"; }, "line 8:"},
      {"NUL in FinalMessage", [](SetupScript& s) { s.FinalMessage = std::string("a\0b", 3); },
       "FinalMessage:"},
      {"leading empty readme line", [](SetupScript& s) { s.ReadmeText = "\r\nText"; }, "ReadmeText:"},
      {"readme of one CR LF", [](SetupScript& s) { s.ReadmeText = "\r\n"; }, "ReadmeText:"},
      {"lone LF in licence", [](SetupScript& s) { s.LicenseText = "a\nb"; }, "LicenseText:"},
      {"lone CR at licence end", [](SetupScript& s) { s.LicenseText = "a\r"; }, "LicenseText:"},
      {"readme terminator in readme", [](SetupScript& s) { s.ReadmeText = "a\r\n\x01\x01\x01\r\nb"; },
       "ReadmeText:"},
      {"licence terminator in licence", [](SetupScript& s) { s.LicenseText = "\x03\x03\x03"; },
       "LicenseText:"},
  };
  for (const Case& c : cases) {
    SetupScript s = FullScript();
    c.change(s);
    const std::vector<std::string> problems = CheckSetupScript(s);
    ASSERT_EQ(1u, problems.size()) << c.name;
    EXPECT_EQ(0u, problems[0].find(c.field)) << c.name << ": " << problems[0];
    std::string bytes = "untouched", error;
    EXPECT_FALSE(WriteSetupScript(s, bytes, error)) << c.name;
    EXPECT_EQ("untouched", bytes) << c.name;
    EXPECT_EQ(problems[0], error) << c.name;
  }
}

TEST(SetupScriptReader, FlagsAreTrueExactlyForOne) {
  const struct {
    const char* line;
    bool flag;
  } cases[] = {
      {"1", true}, {"0", false}, {"yes", false}, {"1 ", false}, {"", false}, {" 1", false}, {"01", false},
  };
  for (const auto& c : cases) {
    SetupScript s;
    ASSERT_TRUE(ParseSetupScript(Script(c.line, "0", "0", c.line), s)) << c.line;
    EXPECT_EQ(c.flag, s.Unattended) << "'" << c.line << "'";
    EXPECT_EQ(c.flag, s.ShowUnpackPage) << "'" << c.line << "'";
  }
}

TEST(SetupScriptReader, NumbersAreReadLenientlyAndTheModeKeepsSixteenBits) {
  const struct {
    const char* line;
    int64_t minFree;
    uint16_t mode;
  } cases[] = {
      {"42", 42, 42}, {"  42abc", 42, 42}, {"-5", -5, 65531},   {"", 0, 0},
      {"abc", 0, 0},  {"$10", 16, 16},     {"65539", 65539, 3}, {"+7", 7, 7},
  };
  for (const auto& c : cases) {
    SetupScript s;
    ASSERT_TRUE(ParseSetupScript(Script("0", c.line, c.line, "0"), s)) << c.line;
    EXPECT_EQ(c.minFree, s.MinFree) << c.line;
    EXPECT_EQ(c.mode, s.OverwriteMode) << c.line;
  }
}

TEST(SetupScriptReader, ListsFollowTheReadersRules) {
  const struct {
    const char* name;
    std::string lists;
    bool ok;
    std::string readme, licence;
  } cases[] = {
      {"both empty", "\x01\x01\x01\r\n\x03\x03\x03\r\n", true, "", ""},
      {"leading empty lines dropped", "\r\n\r\nA\r\n\r\nB\r\n\r\n\x01\x01\x01\r\nL\r\n\x03\x03\x03\r\n", true,
       "A\r\n\r\nB\r\n", "L"},
      {"lone LF and lone CR end lines", "A\nB\rC\r\n\x01\x01\x01\n\x03\x03\x03", true, "A\r\nB\r\nC", ""},
      {"bytes after the licence terminator are not read", "\x01\x01\x01\r\n\x03\x03\x03\r\ngarbage", true, "",
       ""},
      {"terminator must be exact", "\x01\x01\x01 \r\n\x01\x01\r\n\x01\x01\x01\r\n\x03\x03\x03\r\n", true,
       "\x01\x01\x01 \r\n\x01\x01", ""},
      {"licence terminator inside the readme is text", "\x03\x03\x03\r\n\x01\x01\x01\r\n\x03\x03\x03\r\n",
       true, "\x03\x03\x03", ""},
      {"no readme terminator", "A\r\n\x03\x03\x03\r\n", false, "", ""},
      {"no licence terminator", "\x01\x01\x01\r\nL\r\n", false, "", ""},
      {"file ends after the fixed part", "", false, "", ""},
  };
  for (const auto& c : cases) {
    SetupScript s;
    const bool ok = ParseSetupScript(Script("0", "0", "0", "0", c.lists), s);
    EXPECT_EQ(c.ok, ok) << c.name;
    if (ok && c.ok) {
      EXPECT_EQ(c.readme, s.ReadmeText) << c.name;
      EXPECT_EQ(c.licence, s.LicenseText) << c.name;
    }
  }
}

TEST(SetupScriptReader, FailsOnAShortFixedPart) {
  for (int lines = 0; lines <= 14; ++lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "x\r\n";
    SetupScript s;
    EXPECT_FALSE(ParseSetupScript(text, s)) << lines << " lines";
  }
}

TEST(SetupScriptReader, FileReaderAgreesWithTheByteReader) {
  const std::string path = ::testing::TempDir() + "setupscript_test.~DAT1.";
  const std::string texts[] = {
      Script("1", " 12", "1", "1", "R1\nR2\r\r\n\x01\x01\x01\rL\r\n\x03\x03\x03"),
      Script("0", "0", "0", "0", "R\r\n\x01\x01\x01\r\n"),  // cut before the licence terminator
  };
  for (const std::string& text : texts) {
    std::ofstream(path, std::ios::binary) << text;
    SetupScript fromFile, fromBytes;
    const bool fileOk = ReadSetupScriptFile(path, fromFile);
    EXPECT_EQ(ParseSetupScript(text, fromBytes), fileOk);
    ExpectSameScript(fromBytes, fromFile);
  }
  std::remove(path.c_str());
  SetupScript s;
  EXPECT_FALSE(ReadSetupScriptFile(path, s));
}

namespace {

// The layout without any check, to see what a reader makes of texts that the
// checker refuses.
std::string UncheckedBytes(const SetupScript& s) {
  std::string b;
  for (const std::string* line : {&s.AppName, &s.Line2}) b += *line + kCrLf;
  b += std::string(s.Unattended ? "1" : "0") + kCrLf + Int64ToText(s.MinFree) + kCrLf + s.DestDir + kCrLf;
  b += Int64ToText(s.OverwriteMode) + kCrLf + (s.ShowUnpackPage ? "1" : "0") + kCrLf + s.Line8 + kCrLf;
  for (const std::string* line :
       {&s.LaunchFile, &s.ReadmeFile, &s.RunProgram, &s.RunParams, &s.StartQuestion, &s.FinalMessage})
    b += *line + kCrLf;
  b += s.ReadmeText.empty() ? "" : s.ReadmeText + kCrLf;
  b += std::string(kReadmeTerminator) + kCrLf;
  b += s.LicenseText.empty() ? "" : s.LicenseText + kCrLf;
  return b + kLicenseTerminator + kCrLf;
}

std::string RandomText(std::mt19937& rng, size_t maxLength) {
  static const char alphabet[] = {'a', 'b', ' ', '\r', '\n', '\x01', '\x03', '<'};
  std::string text(rng() % (maxLength + 1), ' ');
  for (char& c : text) c = alphabet[rng() % sizeof alphabet];
  return text;
}

bool SameScript(const SetupScript& a, const SetupScript& b) {
  return a.AppName == b.AppName && a.Line2 == b.Line2 && a.DestDir == b.DestDir && a.Line8 == b.Line8 &&
         a.LaunchFile == b.LaunchFile && a.ReadmeFile == b.ReadmeFile && a.RunProgram == b.RunProgram &&
         a.RunParams == b.RunParams && a.StartQuestion == b.StartQuestion &&
         a.FinalMessage == b.FinalMessage && a.ReadmeText == b.ReadmeText && a.LicenseText == b.LicenseText;
}

}  // namespace

// The checker is exact: a script it accepts reads back unchanged, and one it
// refuses would not have.
TEST(SetupScriptWriter, CheckerAgreesWithTheReaderOnRandomTexts) {
  std::mt19937 rng(20240607);
  int accepted = 0, refused = 0;
  for (int i = 0; i < 3000; ++i) {
    SetupScript s;
    for (std::string* field : {&s.AppName, &s.Line2, &s.DestDir, &s.Line8, &s.LaunchFile, &s.ReadmeFile,
                               &s.RunProgram, &s.RunParams, &s.StartQuestion, &s.FinalMessage}) {
      *field = rng() % 8 ? RandomText(rng, 0) + "ab" : RandomText(rng, 3);
    }
    s.ReadmeText = RandomText(rng, 12);
    s.LicenseText = RandomText(rng, 12);
    SetupScript back;
    const bool parsed = ParseSetupScript(UncheckedBytes(s), back);
    const bool roundTrips = parsed && SameScript(s, back);
    EXPECT_EQ(roundTrips, CheckSetupScript(s).empty())
        << "readme '" << s.ReadmeText << "' licence '" << s.LicenseText << "'";
    (roundTrips ? accepted : refused)++;
  }
  EXPECT_GT(accepted, 100);  // the cases must cover both sides
  EXPECT_GT(refused, 100);
}
