#include "uTrans.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

class LangFile : public ::testing::Test {
 protected:
  std::string path_ = ::testing::TempDir() + "lang_test.$$$";
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  void TearDown() override { std::remove(path_.c_str()); }
};

std::string Messages(int count, const std::string& end = "\r\n") {
  std::string text;
  for (int i = 0; i < count; ++i) text += "message " + std::to_string(i) + end;
  return text;
}

}  // namespace

TEST(DefaultLangText, IsTheEightyTwoTextsWrittenAs3798Bytes) {
  const LangTable table = DefaultLangTable();
  EXPECT_EQ("<APPNAME> Setup", table[0]);
  EXPECT_EQ("Creating Uninstall Information... ", table[52]);         // trailing blank kept
  EXPECT_NE(std::string::npos, table[25].find("computer.  Before"));  // doubled blank kept
  EXPECT_EQ("Unable to restart Windows.", table[81]);
  EXPECT_GT(table[29].size(), 255u);
  const std::string block = WriteLangText(table);
  EXPECT_EQ(3798u, block.size());
  EXPECT_EQ(std::string("\x01\r\n"), block.substr(block.size() - 3));
}

TEST_F(LangFile, RoundTripsThroughTheFile) {
  LangTable written = DefaultLangTable();
  written[5] = "";  // an empty message still counts as a line
  written[29] = std::string(1000, 'x');
  Write(WriteLangText(written));
  LangTable read;
  ASSERT_TRUE(LoadLangTable(path_, read));
  EXPECT_EQ(written, read);
}

TEST_F(LangFile, RejectsTextsWithoutAnExactEndMarker) {
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"82 lines, no marker", Messages(82)},
      {"marker with more after it", Messages(82) + "\x01x\r\n"},
      {"blank before the marker", Messages(82) + " \x01\r\n"},
      {"81 lines and the marker", Messages(81) + "\x01\r\n"},
      {"empty file", ""},
  };
  for (const Case& c : cases) {
    Write(c.text);
    LangTable table;
    EXPECT_FALSE(LoadLangTable(path_, table)) << c.what;
  }
}

TEST_F(LangFile, ShortFileKeepsWhatWasReadAndBlanksTheRest) {
  Write(Messages(3));
  LangTable table;
  table[10] = "stale";
  EXPECT_FALSE(LoadLangTable(path_, table));
  EXPECT_EQ("message 2", table[2]);
  EXPECT_EQ("", table[10]);
}

TEST_F(LangFile, AcceptsOtherLineEndsAndIgnoresBytesAfterTheMarker) {
  for (const char* end : {"\n", "\r", "\r\n"}) {
    Write(Messages(82, end) + "\x01" + end + "anything\r\nmore");
    LangTable table;
    EXPECT_TRUE(LoadLangTable(path_, table)) << int(end[0]);
    EXPECT_EQ("message 81", table[81]);
  }
  // The marker may also be the very last bytes of the file.
  Write(Messages(82) + "\x01");
  LangTable table;
  EXPECT_TRUE(LoadLangTable(path_, table));
}

TEST_F(LangFile, MissingFileFails) {
  LangTable table;
  EXPECT_FALSE(LoadLangTable(path_ + ".absent", table));
}

TEST(ValidateLangText, AgreesWithTheLoaderAndSaysWhere) {
  LangTable table;
  std::string error;
  EXPECT_TRUE(ValidateLangText(WriteLangText(DefaultLangTable()), table, error));
  EXPECT_EQ(DefaultLangTable(), table);
  EXPECT_FALSE(ValidateLangText(Messages(40), table, error));
  EXPECT_NE(std::string::npos, error.find("40 of 82")) << error;
  EXPECT_FALSE(ValidateLangText(Messages(82) + "\x01\x01\r\n", table, error));
  EXPECT_NE(std::string::npos, error.find("line 83")) << error;
}

// The code-page line after the end marker: read by the stub from the file
// and by the package reader from the block alike; anything else there, or a
// text that is no language text, records none.
TEST_F(LangFile, ReadsTheCodePageAfterTheMarker) {
  const struct {
    const char* what;
    std::string after;
    int codePage;
  } cases[] = {
      {"recorded", "CodePage=1251\r\n", 1251},
      {"last bytes of the file", "CodePage=932", 932},
      {"none", "", 0},
      {"other text", "anything\r\n", 0},
      {"no number", "CodePage=\r\n", 0},
      {"not a number", "CodePage=12a1\r\n", 0},
      {"too long", "CodePage=1251251\r\n", 0},
      {"blank before", " CodePage=1251\r\n", 0},
  };
  for (const auto& c : cases) {
    const std::string text = Messages(82) + "\x01\r\n" + c.after;
    Write(text);
    LangTable table;
    int codePage = -1;
    EXPECT_TRUE(LoadLangTable(path_, table, &codePage)) << c.what;
    EXPECT_EQ(c.codePage, codePage) << c.what;
    EXPECT_EQ(c.codePage, LangTextCodePage(text)) << c.what;
  }
  EXPECT_EQ(0, LangTextCodePage(Messages(81) + "\x01\r\nCodePage=1251\r\n"));
  Write(Messages(81) + "\x01\r\nCodePage=1251\r\n");
  LangTable table;
  int codePage = -1;
  EXPECT_FALSE(LoadLangTable(path_, table, &codePage));
  EXPECT_EQ(0, codePage);
}
