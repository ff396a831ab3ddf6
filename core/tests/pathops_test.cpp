#include "pathops.h"

#include <gtest/gtest.h>

#include <limits>

struct PathCase {
  const char* path;
  const char* directory;
  const char* fileName;
  const char* drive;
};

TEST(PathParts, SplitPathsIntoDriveFolderAndName) {
  const PathCase cases[] = {
      {"C:\\dir\\sub\\file.txt", "C:\\dir\\sub\\", "file.txt", "C:"},
      {"C:\\file.txt", "C:\\", "file.txt", "C:"},
      {"C:file.txt", "C:\\", "C:file.txt", "C:"},  // drive-relative: the whole path is the name
      {"file.txt", "", "file.txt", ""},
      {"", "", "", ""},
      {"\\\\server\\share\\file.txt", "\\\\server\\share\\", "file.txt", "\\\\server\\share"},
      {"\\\\server\\share\\dir\\f", "\\\\server\\share\\dir\\", "f", "\\\\server\\share"},
      {"\\\\server", "\\\\", "server", "\\\\server"},
      {"C:\\dir\\", "C:\\dir\\", "", "C:"},
      {"dir\\file", "dir\\", "file", ""},
      {"\\file", "\\", "file", ""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(c.directory, DirectoryPart(c.path)) << c.path;
    EXPECT_EQ(c.fileName, FileNamePart(c.path)) << c.path;
    EXPECT_EQ(c.drive, DrivePart(c.path)) << c.path;
  }
}

TEST(PathParts, TrailingBackslashRules) {
  EXPECT_EQ("", AddTrailingBackslash(""));
  EXPECT_EQ("C:\\", AddTrailingBackslash("C:\\"));
  EXPECT_EQ("C:\\dir\\", AddTrailingBackslash("C:\\dir"));
  EXPECT_EQ("", StripTrailingBackslash(""));
  EXPECT_EQ("C:\\", StripTrailingBackslash("C:\\"));  // a drive root keeps it
  EXPECT_EQ("C:\\d", StripTrailingBackslash("C:\\d\\"));
  EXPECT_EQ("ab\\", StripTrailingBackslash("ab\\"));  // three characters stay
  EXPECT_EQ("C:\\dir", StripTrailingBackslash("C:\\dir"));
}

TEST(PathParts, ExtensionIsWhatFollowsTheLastDot) {
  EXPECT_EQ("gz", ExtensionPart("archive.tar.gz"));
  EXPECT_EQ("README", ExtensionPart("README"));
  EXPECT_EQ("", ExtensionPart("name."));
  EXPECT_EQ("exe", ExtensionPart("C:\\my.dir\\setup.exe"));
  EXPECT_EQ("dir\\README", ExtensionPart("C:\\my.dir\\README"));
}

TEST(Numbers, TextToInt64ReadsLeniently) {
  const struct {
    const char* text;
    int64_t value;
  } cases[] = {
      {"  -12abc", -12},
      {"", 0},
      {"abc", 0},
      {"$FF", 255},
      {"0x1f", 31},
      {"0XfF", 255},
      {"-$10", -16},
      {"+42", 42},
      {"1048576", 1048576},
      {"12 34", 12},
      {"\t5", 0},  // only blanks are skipped
      {"9223372036854775807", std::numeric_limits<int64_t>::max()},
      {"92233720368547758079", std::numeric_limits<int64_t>::max()},  // stops before overflow
      {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
      {"9223372036854775808", 922337203685477580},  // 2^63 is only negative
      {"-9223372036854775809", -922337203685477580},
      {"$7FFFFFFFFFFFFFFF", std::numeric_limits<int64_t>::max()},
      {"$8000000000000000", 0x0800000000000000},
      {"-$8000000000000000", std::numeric_limits<int64_t>::min()},
      {"99999999999999999999", 999999999999999999},
      {"$FFFFFFFFFFFFFFFFFF", 0x0FFFFFFFFFFFFFFF},
      {"-", 0},
      {"0x", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value, TextToInt64(c.text)) << '"' << c.text << '"';
}

TEST(Numbers, Int64ToTextRoundTrips) {
  for (int64_t v : {int64_t(0), int64_t(-1), int64_t(1048576), int64_t(4294967295), int64_t(4294967296),
                    int64_t(0x0000FFFFFFFFFFFF), int64_t(-1000000000000000000),
                    std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()}) {
    EXPECT_EQ(v, TextToInt64(Int64ToText(v)));
  }
  EXPECT_EQ("-9223372036854775808", Int64ToText(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ("1048576", Int64ToText(1048576));
  EXPECT_EQ("9223372036854775807", Int64ToText(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ("18446744073709551", Int64ToText(18446744073709551));
}

TEST(Texts, UpperCaseAsciiTouchesOnlyAToZ) {
  EXPECT_EQ("SETUP.EXE", UpperCaseAscii("setup.Exe"));
  EXPECT_EQ("\xE9T\xE9", UpperCaseAscii("\xE9t\xE9"));
  char buffer[8];
  EXPECT_STREQ("abc", CopyToBuffer(buffer, "abc"));
}

TEST(Texts, ReplaceAllReplacesEveryOccurrenceOnce) {
  EXPECT_EQ("x-x-x", ReplaceAll("<S>", "x", "<S>-<S>-<S>"));
  EXPECT_EQ("<S><S>", ReplaceAll("<S>", "<S><S>", "<S>"));  // no loop on its own token
  EXPECT_EQ("XX", ReplaceAll("aa", "X", "aaaa"));
  EXPECT_EQ("Xa", ReplaceAll("aa", "X", "aaa"));
  EXPECT_EQ("unchanged", ReplaceAll("<S>", "x", "unchanged"));
  EXPECT_EQ("", ReplaceAll("<S>", "x", ""));
  EXPECT_EQ("text", ReplaceAll("", "x", "text"));
  EXPECT_EQ("<s>", ReplaceAll("<S>", "x", "<s>"));  // case-sensitive
}

TEST(PathParts, ParentFolderPartsAreFoundUnderEitherSeparator) {
  const struct {
    const char* path;
    bool climbs;
  } cases[] = {
      {"..\\evil.txt", true}, {"a\\..\\..\\b", true}, {"a/../b", true},    {"<INSTALL>\\..\\x", true},
      {"a\\..", true},        {"..", true},           {"a\\b.txt", false}, {"..a\\b", false},
      {"a..\\b", false},      {"a\\...\\b", false},   {"a\\.\\b", false},  {"", false},
      {"notes..txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.climbs, HasParentFolderPart(c.path)) << c.path;
}

namespace {
bool ShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
}  // namespace

// In a two-byte code page a character's second byte may be '\': 表 is
// 0x95 0x5C and ソ 0x83 0x5C in 932. Such a byte is no separator, while
// without lead bytes every byte counts as a character.
TEST(PathParts, TwoByteCharactersEndingInABackslashAreNotSeparators) {
  const std::string hyou = "\x95\x5C", so = "\x83\x5C";
  const struct {
    std::string path, directory, fileName, added, stripped;
    bool parent;
  } cases[] = {
      {"C:\\" + hyou, "C:\\", hyou, "C:\\" + hyou + "\\", "C:\\" + hyou, false},
      {"C:\\" + so + "\\" + hyou + "\\a.txt", "C:\\" + so + "\\" + hyou + "\\", "a.txt", "", "", false},
      {"C:\\d\\" + hyou + "\\", "C:\\d\\" + hyou + "\\", "", "C:\\d\\" + hyou + "\\", "C:\\d\\" + hyou,
       false},
      {hyou + "..\\x", "", "", "", "", false},
      {so + "\\..\\x", "", "", "", "", true},
  };
  PathLeadByte = ShiftJisLeadByte;
  for (const auto& c : cases) {
    if (!c.directory.empty() || !c.fileName.empty()) {
      EXPECT_EQ(c.directory, DirectoryPart(c.path)) << c.path;
      EXPECT_EQ(c.fileName, FileNamePart(c.path)) << c.path;
    }
    if (!c.added.empty()) EXPECT_EQ(c.added, AddTrailingBackslash(c.path)) << c.path;
    if (!c.stripped.empty()) EXPECT_EQ(c.stripped, StripTrailingBackslash(c.path)) << c.path;
    EXPECT_EQ(c.parent, HasParentFolderPart(c.path)) << c.path;
  }
  EXPECT_EQ("\\\\" + hyou + "\\s", DrivePart("\\\\" + hyou + "\\s\\f"));
  PathLeadByte = nullptr;
  // In a single-byte code page the same bytes are two characters, the second a backslash.
  EXPECT_EQ("C:\\" + hyou, AddTrailingBackslash("C:\\" + hyou));
  EXPECT_TRUE(HasParentFolderPart(hyou + "..\\x"));
}
