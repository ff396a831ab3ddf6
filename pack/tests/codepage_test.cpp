#include "codepage.h"

#include <gtest/gtest.h>

// UTF-8 into code page 1252: what it holds, what it lacks, and bytes that
// are not UTF-8 at all, each refused with what it is.
TEST(CodePage, Utf8To1252) {
  const struct {
    const char* title;
    std::string utf8;
    bool ok;
    std::string bytes;  // when ok
    const char* says;   // when not
  } cases[] = {
      {"ASCII", "readme.txt", true, "readme.txt", ""},
      {"Latin-1 letters",
       "r\xC3\xA9sum\xC3\xA9 \xC3\x9C"
       "bersicht na\xC3\xAFve",
       true,
       "r\xE9sum\xE9 \xDC"
       "bersicht na\xEFve",
       ""},
      {"1252's own range", "\xE2\x82\xAC \xC5\x93 \xE2\x80\x9C\xE2\x80\x9D \xE2\x84\xA2", true,
       "\x80 \x9C \x93\x94 \x99", ""},
      {"Japanese", "\xE6\x97\xA5\xE6\x9C\xAC.txt", false, "", "U+65E5"},
      {"Cyrillic", "\xD0\x96", false, "", "U+0416"},
      {"emoji", "\xF0\x9F\x98\x80", false, "", "U+1F600"},
      {"a C1 control 1252 maps elsewhere", "\xC2\x80", false, "", "U+0080"},
      {"Latin-1 byte", "r\xE9sum\xE9", false, "", "byte 0xE9 is not UTF-8"},
      {"overlong slash", "\xC0\xAF", false, "", "byte 0xC0"},
      {"surrogate", "\xED\xA0\x80", false, "", "byte 0xED"},
      {"cut short", "caf\xC3", false, "", "byte 0xC3"},
  };
  for (const auto& c : cases) {
    std::string out, why;
    EXPECT_EQ(c.ok, Utf8ToCodePage(c.utf8, 1252, out, why)) << c.title;
    if (c.ok)
      EXPECT_EQ(c.bytes, out) << c.title;
    else
      EXPECT_NE(std::string::npos, why.find(c.says)) << c.title << ": " << why;
  }
}

// Every byte reads back as the character it was written from, so names that
// the readers show and extract are the names the author gave.
TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  std::string back, why;
  ASSERT_TRUE(Utf8ToCodePage(CodePageToUtf8(all, 1252), 1252, back, why)) << why;
  EXPECT_EQ(all, back);
  EXPECT_TRUE(IsSupportedCodePage(1252));
  EXPECT_FALSE(IsSupportedCodePage(932));
}

// Input files: a byte order mark means UTF-8 whatever is declared; faults
// are reported on their line.
TEST(CodePage, InputFilesAreDecodedAsDeclared) {
  const struct {
    const char* title;
    std::string bytes;
    InputEncoding encoding;
    bool ok;
    std::string utf8;
    int line;
  } cases[] = {
      {"UTF-8", "caf\xC3\xA9\n", InputEncoding::Utf8, true, "caf\xC3\xA9\n", 0},
      {"UTF-8 with BOM",
       "\xEF\xBB\xBF"
       "caf\xC3\xA9",
       InputEncoding::Utf8, true, "caf\xC3\xA9", 0},
      {"BOM beats ansi",
       "\xEF\xBB\xBF"
       "caf\xC3\xA9",
       InputEncoding::CodePage, true, "caf\xC3\xA9", 0},
      {"ansi", "caf\xE9\r\n\x80", InputEncoding::CodePage, true, "caf\xC3\xA9\r\n\xE2\x82\xAC", 0},
      {"ansi bytes read as UTF-8", "one\r\ntwo\r\ncaf\xE9", InputEncoding::Utf8, false, "", 3},
      {"CR lines count", "a\rb\rc\xFF", InputEncoding::Utf8, false, "", 3},
  };
  for (const auto& c : cases) {
    std::string utf8, why;
    int line = 0;
    EXPECT_EQ(c.ok, DecodeInput(c.bytes, c.encoding, 1252, utf8, line, why)) << c.title;
    if (c.ok)
      EXPECT_EQ(c.utf8, utf8) << c.title;
    else
      EXPECT_EQ(c.line, line) << c.title << ": " << why;
  }
  std::string out, why;
  int line = 0;
  EXPECT_FALSE(EncodeLines("ok\nok\n\xE6\x97\xA5", 1252, out, line, why));
  EXPECT_EQ(3, line);
}
