#include "codepage.h"

#include <gtest/gtest.h>

#include <vector>

#include "storednames.h"

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
  EXPECT_FALSE(IsSupportedCodePage(437));  // a DOS code page, not an ANSI one
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

// Each ANSI code page as Windows converts it: a character it holds, with its
// bytes; the C1 and undefined bytes Windows reads its own way; characters
// that exist only through best fit or decomposition, refused.
TEST(CodePage, EveryAnsiCodePageConvertsAsWindowsDoes) {
  const struct {
    int codePage;
    std::string utf8;
    bool ok;
    std::string bytes;  // when ok
  } cases[] = {
      {874, "\xE0\xB8\x81", true, "\xA1"},                          // ก
      {932, "\xE8\xA1\xA8", true, "\x95\x5C"},                      // 表: second byte is '\'
      {932, "\xE3\x82\xBD", true, "\x83\x5C"},                      // ソ
      {932, "\xEF\xBD\xB1", true, "\xB1"},                          // half-width ｱ
      {932, "\xC2\x80", true, "\x80"},                              // Windows' own C1 byte
      {932, "\xC2\xA5", false, ""},                                 // ¥ only by best fit
      {936, "\xE2\x82\xAC", true, "\x80"},                          // €: 936, not GBK
      {936, "\xE4\xB8\xAD\xE6\x96\x87", true, "\xD6\xD0\xCE\xC4"},  // 中文
      {949, "\xED\x95\x9C", true, "\xC7\xD1"},                      // 한
      {950, "\xE4\xB8\xAD", true, "\xA4\xA4"},                      // 中
      {950, "\xE2\x95\x90", true, "\xF9\xF9"},                      // ═ written as Windows does
      {1250, "\xC5\x82\xC3\xB3\xC5\xBC", true, "\xB3\xF3\xBF"},     // łóż
      {1250, "\xC2\x81", true, "\x81"},
      {1251, "\xD0\x96", true, "\xC6"},  // Ж
      {1251, "\xC2\x98", true, "\x98"},
      {1253, "\xCE\xA9", true, "\xD9"},   // Ω
      {1254, "\xC4\x9F", true, "\xF0"},   // ğ
      {1255, "\xD7\x90", true, "\xE0"},   // א
      {1255, "\xD6\xBA", true, "\xCA"},   // a point glibc leaves out
      {1255, "\xEF\xAC\x9D", false, ""},  // יִ only as two characters
      {1256, "\xD8\xB9", true, "\xDA"},   // ع
      {1257, "\xC4\x81", true, "\xE2"},   // ā
      {1258, "\xC6\xB0", true, "\xFD"},   // ư
      {1258, "\xC3\x83", false, ""},      // Ã only as A and a tilde
      {1251, "\xC3\xA9", false, ""},      // é is not Cyrillic
      {1253, "\xEE\x80\x80", false, ""},  // private use
  };
  for (const auto& c : cases) {
    const std::string title = std::to_string(c.codePage) + " " + c.utf8;
    std::string out, why;
    EXPECT_EQ(c.ok, Utf8ToCodePage(c.utf8, c.codePage, out, why)) << title << ": " << why;
    if (!c.ok) {
      EXPECT_NE(std::string::npos, why.find("not in code page " + std::to_string(c.codePage))) << title;
      continue;
    }
    EXPECT_EQ(c.bytes, out) << title;
    EXPECT_EQ(c.utf8, CodePageToUtf8(c.bytes, c.codePage)) << title;
  }
}

// Every byte or byte pair that decodes to a character can be written, and
// what is written reads back as that character (a character some code pages
// hold twice, such as 932's NEC and IBM rows, is written in one form).
TEST(CodePage, EveryCharacterRoundTripsInEveryCodePage) {
  for (int codePage : {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258}) {
    ASSERT_TRUE(IsSupportedCodePage(codePage));
    int characters = 0, mismatches = 0;
    for (int first = 1; first < 256; ++first) {
      const bool lead = IsLeadByte(codePage, uint8_t(first));
      for (int trail = lead ? 0x40 : 0; trail < (lead ? 256 : 1); ++trail) {
        std::string bytes(1, char(first));
        if (lead) bytes += char(trail);
        const std::string utf8 = CodePageToUtf8(bytes, codePage);
        if (utf8 == "\xEF\xBF\xBD") continue;
        std::string back, why;
        ++characters;
        if (!Utf8ToCodePage(utf8, codePage, back, why) || CodePageToUtf8(back, codePage) != utf8)
          ++mismatches;
      }
    }
    EXPECT_GT(characters, codePage >= 1250 || codePage == 874 ? 200 : 7000) << codePage;
    EXPECT_EQ(0, mismatches) << codePage;
  }
}

// Two-byte characters whose second byte is '\' or a letter are one
// character: not a separator, not folded to another letter.
TEST(CodePage, SeparatorsAndCaseStepOverTwoByteCharacters) {
  const std::string hyou = "\x95\x5C", so = "\x83\x5C";  // 表 and ソ in 932
  EXPECT_EQ(std::string::npos, FindSeparator(932, hyou + "x", 0, "\\"));
  EXPECT_EQ(2u, FindSeparator(932, so + "\\a", 0, "\\"));
  EXPECT_EQ(1u, FindSeparator(1252, hyou, 0, "\\"));
  EXPECT_EQ("\xE8\xA1\xA8.TXT", UpperCaseUtf8("\xE8\xA1\xA8.txt"));
  EXPECT_EQ("\xD0\x96\xCE\xA3\xC5\x81\xC3\x89", UpperCaseUtf8("\xD0\xB6\xCF\x82\xC5\x82\xC3\xA9"));  // жςłé
  EXPECT_EQ(LeadBytes(932).count(), size_t(0x9F - 0x81 + 1 + 0xFC - 0xE0 + 1));
  EXPECT_EQ(LeadBytes(1251).count(), 0u);
}

// Stored names in a two-byte code page: a character whose second byte is
// '\' or '|' is a character of the name, names that differ only in such a
// byte's case are two names, and extract splits only at real separators.
TEST(CodePage, StoredNamesInTwoByteCodePages) {
  const std::string hyou = "\x95\x5C", so = "\x83\x5C", pipe = "\x83\x7C";  // 表 ソ ポ in 932
  const struct {
    std::string name;
    int codePage;
    bool installable;
    std::vector<std::string> extractParts;  // empty: refused
  } cases[] = {
      {hyou, 932, true, {hyou}},
      {so + "\\" + hyou + ".txt", 932, true, {so, hyou + ".txt"}},
      {"<SYS>\\" + hyou, 932, true, {"SYS", hyou}},
      {pipe + ".txt", 932, true, {pipe + ".txt"}},
      {hyou, 1252, false, {}},           // two characters there, the second a separator
      {pipe + ".txt", 1252, false, {}},  // '|' in a single-byte code page
      {"a\\\\b", 932, false, {}},
  };
  for (const auto& c : cases) {
    const std::string title = std::to_string(c.codePage) + " " + CodePageToUtf8(c.name, c.codePage);
    EXPECT_EQ(c.installable, CheckInstallName(c.name, c.codePage).empty()) << title;
    std::vector<std::string> parts;
    const std::string why = MapExtractName(c.name, c.codePage, parts);
    EXPECT_EQ(c.extractParts.empty(), !why.empty()) << title << ": " << why;
    if (why.empty()) EXPECT_EQ(c.extractParts, parts) << title;
  }
  // "\x82\x61" and "\x82\x41" are ａ and the other two-byte characters; their
  // second bytes are ASCII letters of either case but they are no pair.
  EXPECT_NE(FoldedName("\x82\x61", 932), FoldedName("\x82\x41", 932));
  EXPECT_EQ(FoldedName("\xE6.txt", 1251), FoldedName("\xC6.TXT", 1251));  // ж and Ж
  EXPECT_EQ(FoldedName("r\xE9sum\xE9", 1252), FoldedName("R\xC9SUM\xC9", 1252));
}
