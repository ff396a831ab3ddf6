#include "languages.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>

#include "codepage.h"
#include "pack_test_util.h"

namespace {

// The placeholder tokens of a message, in order.
std::vector<std::string> TokensOf(const std::string& text) {
  std::vector<std::string> tokens;
  for (size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    const size_t end = text.find('>', at);
    const std::string token = end == std::string::npos ? "" : text.substr(at, end - at + 1);
    if (token == "<br/>" || token.find_first_not_of("<>ABCDEFGHIJKLMNOPQRSTUVWXYZ_") == std::string::npos)
      tokens.push_back(token);
  }
  return tokens;
}

// A UTF-8 text's characters (the shipped texts are valid UTF-8).
std::u32string CodePoints(const std::string& utf8) {
  std::u32string out;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t lead = uint8_t(utf8[i]);
    const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = extra ? lead & (0x3F >> extra) : lead;
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) c = (c << 6) | (uint8_t(utf8[i + k]) & 0x3F);
    out.push_back(c);
    i += 1 + extra;
  }
  return out;
}

// A letter in upper case, as Windows matches a mnemonic to a key, for the
// scripts of the shipped languages: Latin (with Latin-1 and Latin
// Extended-A), Greek and Cyrillic.
char32_t UpperCase(char32_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~char32_t(1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
  if (c == 0x131) return 'I';  // the Turkish dotless i
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3C2) return 0x3A3;  // final sigma
  if (c >= 0x3B1 && c <= 0x3CB) return c - 0x20;
  if (c == 0x3CC) return 0x38C;
  if (c >= 0x3CD && c <= 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

// The hotkey letters of a text: the characters after a single "&", upper
// case.
std::u32string HotkeysOf(const std::string& utf8) {
  const std::u32string text = CodePoints(utf8);
  std::u32string keys;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[++i] != '&') keys.push_back(UpperCase(text[i]));
  }
  return keys;
}

// The controls that share keyboard mnemonics: the frame's buttons with each
// page's controls, and each prompt.
const std::vector<std::vector<int>> kDialogs = {
    {kMsgBack, kMsgNext, kMsgCancel},                                    // welcome, readme
    {kMsgBack, kMsgYes, kMsgNo},                                         // licence
    {kMsgBack, kMsgNext, kMsgCancel, kMsgDestinationLabel, kMsgBrowse},  // unpack options
    {kMsgBack, kMsgNext, kMsgCancel, kMsgStatusLabel},                   // progress
    {kMsgBack, kMsgFinish, kMsgCancel, kMsgLaunchNowChoice, kMsgViewReadmeChoice, kMsgRestartNowChoice},
    {kMsgPasswordLabel, kMsgOk, kMsgCancel},                   // password prompt
    {kMsgVolumeLabel, kMsgOk, kMsgCancel, kMsgBrowse},         // next-volume prompt
    {kMsgYes, kMsgYesToAll, kMsgNo, kMsgNoToAll, kMsgCancel},  // overwrite prompt
};

// Where a message lands: the text room of its control in dialog units (the
// control's width less a button's or check box's own parts) and its lines.
// A dialog unit is a quarter of the font's average character; running text
// with its blanks takes about 3.5 units a character, a bold title more.
struct Room {
  int message;
  int width;
  int lines;
  double unitsPerChar;
};
const double kText = 3.5, kTitle = 4.0, kBigTitle = 5.25;
const Room kRooms[] = {
    {kMsgBack, 44, 1, kText},
    {kMsgNext, 44, 1, kText},
    {kMsgFinish, 44, 1, kText},
    {kMsgCancel, 44, 1, kText},
    {kMsgYes, 36, 1, kText},
    {kMsgNo, 36, 1, kText},
    {kMsgYesToAll, 59, 1, kText},
    {kMsgNoToAll, 59, 1, kText},
    {kMsgOk, 49, 1, kText},
    {kMsgBrowse, 44, 1, kText},
    {kMsgRemoveFilesTitle, 276, 1, kTitle},
    {kMsgProgressTitle, 276, 1, kTitle},
    {kMsgLicenceTitle, 276, 1, kTitle},
    {kMsgReadmeTitle, 276, 1, kTitle},
    {kMsgRemoveFilesQuestion, 265, 2, kText},
    {kMsgProgressSubtitle, 265, 2, kText},
    {kMsgLicenceSubtitle, 265, 2, kText},
    {kMsgReadmeSubtitle, 265, 2, kText},
    {kMsgWelcomeTitle, 195, 2, kBigTitle},
    {kMsgCompletionTitle, 195, 2, kBigTitle},
    {kMsgWelcomeText, 195, 5, kText},
    {kMsgCompletionText, 195, 5, kText},
    {kMsgCompletionRestartText, 195, 5, kText},
    {kMsgClickNext, 195, 3, kText},
    {kMsgClickFinish, 195, 3, kText},
    {kMsgRemoveDisksFinish, 195, 3, kText},
    {kMsgRestartNowChoice, 183, 1, kText},
    {kMsgLaunchNowChoice, 183, 1, kText},
    {kMsgViewReadmeChoice, 183, 1, kText},
    {kMsgUnpackToTemp, 304, 4, kText},
    {kMsgUnpackToFolder, 304, 4, kText},
    {kMsgDestinationLabel, 151, 1, kText},
    {kMsgStatusLabel, 314, 1, kText},
    {kMsgOneMoment, 322, 1, kText},
    {kMsgLicenceQuestion, 316, 2, kText},
    {kMsgPasswordText, 144, 3, kText},
    {kMsgPasswordHint, 172, 3, kText},
    {kMsgPasswordLabel, 172, 1, kText},
    {kMsgVolumeText, 144, 3, kText},
    {kMsgVolumeHint, 172, 3, kText},
    {kMsgVolumeLabel, 172, 1, kText},
    {kMsgOverwriteText, 283, 1, kText},
    {kMsgOverwriteQuestion, 286, 1, kText},
};

// Japanese and Chinese characters are drawn full width: two average
// characters, 8 dialog units, where running Latin text takes 3.5 a character
// (measured under Wine with the dialog font of a Japanese system; a Chinese
// one draws them a tenth narrower). A line may break before any of them, as
// those languages are written without blanks.
const double kFullWidthChars = 8.0 / kText;

// The width of a character that is not full width, in characters of
// running Latin text. The dialog font of a Japanese system draws Latin
// letters and blanks in half-width cells, an average character (4 dialog
// units) each. Wine's Tahoma has no Greek, so Wine draws a Greek dialog
// font with DejaVu Sans: about 6.3 pixels a character of Greek running text
// where Tahoma takes 5.25 for Latin (seen in the wrapped lines of the walk).
double LatinWidthChars(int codePage) {
  if (codePage == 932) return 4.0 / kText;
  return codePage == 1253 ? 6.3 / 5.25 : 1.0;
}
bool IsFullWidth(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6);
}

// The lines a UTF-8 text takes when wrapped at blanks and around full-width
// characters, with a typical application name put in; a line break token
// starts a new line.
int WrappedLines(std::string utf8, const Room& room, double latin = 1.0) {
  for (size_t at; (at = utf8.find("<APPNAME>")) != std::string::npos;) utf8.replace(at, 9, "Veltra Demo");
  for (size_t at; (at = utf8.find('&')) != std::string::npos;) utf8.erase(at, 1);
  const double perLine = room.width / room.unitsPerChar,
               kSlack = 1e-9;  // widths that exactly fill a line fit
  int lines = 0;
  for (size_t start = 0;;) {
    const size_t stop = utf8.find("<br/>", start);
    const std::u32string paragraph =
        CodePoints(utf8.substr(start, stop == std::string::npos ? std::string::npos : stop - start));
    double used = 0;
    ++lines;
    for (size_t i = 0, end; i < paragraph.size(); i = end) {
      end = i + 1;
      if (paragraph[i] == ' ') {
        used += used > 0 ? latin : 0;  // a blank where a line breaks takes no room
        continue;
      }
      // One full-width character, or a word up to the next blank or full-width character.
      double width = IsFullWidth(paragraph[i]) ? kFullWidthChars : latin;
      if (!IsFullWidth(paragraph[i])) {
        for (; end < paragraph.size() && paragraph[end] != ' ' && !IsFullWidth(paragraph[end]); ++end)
          width += latin;
      }
      if (used > 0 && used + width > perLine + kSlack) ++lines, used = 0;
      used += width;
      for (; used > perLine + kSlack; used -= perLine) ++lines;  // a word wider than the line breaks inside
    }
    if (stop == std::string::npos) break;
    start = stop + 5;
  }
  return lines;
}

}  // namespace

// Every shipped language as the stub takes it: the block the builder stores
// loads through the stub's own loader, and each message keeps the English
// text's placeholders and hotkey, with hotkeys unique in each dialog and
// texts that fit their controls. English runs through the same checks, so
// that the rules are known to hold for the texts they were taken from.
TEST(ShippedLanguages, LoadKeepTokensHotkeysAndFit) {
  const LangTable english = DefaultLangTable();
  const std::pair<const char*, int> kCodePages[] = {
      {"english", 1252}, {"german", 1252},     {"french", 1252},  {"spanish", 1252}, {"italian", 1252},
      {"dutch", 1252},   {"portuguese", 1252}, {"russian", 1251}, {"polish", 1250},  {"czech", 1250},
      {"greek", 1253},   {"turkish", 1254},    {"japanese", 932}, {"chinese", 936},
  };
  ASSERT_EQ(std::size(kCodePages), ShippedLanguages().size()) << ShippedLanguageNames();
  for (const auto& [name, codePage] : kCodePages) {
    const ShippedLanguage* language = FindShippedLanguage(name);
    ASSERT_NE(nullptr, language) << name;
    EXPECT_EQ(codePage, language->codePage) << name;
  }
  EXPECT_EQ(FindShippedLanguage("german"), FindShippedLanguage("German"));
  for (const ShippedLanguage& language : ShippedLanguages()) {
    SCOPED_TRACE(language.name);
    std::string block, error;
    int line = 0;
    ASSERT_TRUE(LanguageBlock(language.utf8Text, language.codePage, block, line, error)) << error;
    cabtest::TempDir dir;
    const std::string path = dir.File("~LNG1.$$$");
    packtest::WriteFile(path, block);
    LangTable table;
    ASSERT_TRUE(LoadLangTable(path, table));
    std::vector<std::string> texts;  // as UTF-8, the stored bytes read back in the language's code page
    for (int i = 0; i < kLangMessageCount; ++i) texts.push_back(CodePageToUtf8(table[i], language.codePage));
    for (int i = 0; i < kLangMessageCount; ++i) {
      EXPECT_FALSE(table[i].empty()) << "message " << i;
      EXPECT_EQ(TokensOf(english[i]), TokensOf(texts[i])) << "message " << i << ": " << texts[i];
      EXPECT_EQ(HotkeysOf(english[i]).size(), HotkeysOf(texts[i]).size())
          << "message " << i << ": " << texts[i];
    }
    for (const std::vector<int>& dialog : kDialogs) {
      std::map<char32_t, int> owner;
      for (int message : dialog) {
        for (char32_t key : HotkeysOf(texts[message])) {
          const auto taken = owner.emplace(key, message);
          EXPECT_TRUE(taken.second) << "the hotkey of \"" << texts[message] << "\" is that of \""
                                    << texts[taken.first->second] << "\" in the same dialog";
        }
      }
    }
    for (const Room& room : kRooms) {
      EXPECT_LE(WrappedLines(texts[room.message], room, LatinWidthChars(language.codePage)), room.lines)
          << "message " << room.message << " is too long for its control: " << texts[room.message];
    }
  }
}

TEST(ShippedLanguages, UnknownNamesAndUnfitTextsAreRefused) {
  EXPECT_EQ(nullptr, FindShippedLanguage("klingon"));
  EXPECT_NE(std::string::npos, ShippedLanguageNames().find("dutch, english, french, german"));
  std::string text = FindShippedLanguage("german")->utf8Text, block, error;
  int line = 0;
  text.replace(text.find("Fehler"), 6, "\xE9\x8C\xAF\xE8\xAA\xA4");  // Japanese for "error"
  EXPECT_FALSE(LanguageBlock(text, 1252, block, line, error));
  EXPECT_EQ(2, line);
  EXPECT_NE(std::string::npos, error.find("U+932F")) << error;
  text = FindShippedLanguage("german")->utf8Text;
  text.erase(text.rfind('\x01'));
  EXPECT_FALSE(LanguageBlock(text, 1252, block, line, error));
  EXPECT_EQ(0, line);
  EXPECT_NE(std::string::npos, error.find("end-marker")) << error;
}

// The measure against what Wine draws under a Japanese locale: full-width
// characters at two average characters each, Latin ones at one (so a
// "No to All" of six kana and "(O)", 90 pixels, overflows its 88-pixel
// button, and "No" of three kana and "(N)" just fills its 54), breaks
// between full-width characters, and line break tokens.
TEST(ShippedLanguages, TextsAreMeasuredAsTheyAreDrawn) {
  const std::string kana = "\xE3\x81\x82";  // a full-width Japanese letter
  std::string line24;
  for (int i = 0; i < 24; ++i) line24 += kana;
  const Room noToAll = {kMsgNoToAll, 59, 1, kText}, no = {kMsgNo, 36, 1, kText};
  const Room clickNext = {kMsgClickNext, 195, 3, kText}, next = {kMsgNext, 44, 1, kText};
  const Room choice = {kMsgLaunchNowChoice, 183, 1, kText}, question = {kMsgLicenceQuestion, 316, 2, kText};
  const struct {
    std::string text;
    Room room;
    int codePage;
    int lines;
  } kCases[] = {
      {"N&o to All", noToAll, 1252, 1},
      {"\xE3\x81\x99\xE3\x81\xB9\xE3\x81\xA6\xE3\x81\x84\xE3\x81\x84\xE3\x81\x88(&O)", noToAll, 932, 2},
      {"\xE5\x85\xA8\xE3\x81\xA6\xE3\x81\x84\xE3\x81\x84\xE3\x81\x88(&O)", noToAll, 932, 1},
      {"\xE3\x81\x84\xE3\x81\x84\xE3\x81\x88(&N)", no, 932, 1},
      {line24, clickNext, 932, 1},
      {line24 + kana, clickNext, 932, 2},
      {"<APPNAME> " + line24, clickNext, 936, 2},
      {"Setup<br/><br/>" + kana, clickNext, 932, 3},
      {"\xD0\x94\xD0\xB0\xD0\xBB\xD0\xB5\xD0\xB5 >", next, 1251, 1},  // Cyrillic is as wide as Latin
      // Greek as Wine drew it: the first fitted its line, the second took three.
      {"Ναι, θέλω να ξεκινήσει τώρα το <APPNAME>.", choice, 1253, 1},
      {"\u0391\u03c0\u03bf\u03b4\u03ad\u03c7\u03b5\u03c3\u03c4\u03b5 \u03c4\u03bf\u03c5\u03c2 "
       "\u03cc\u03c1\u03bf\u03c5\u03c2 \u03c4\u03b7\u03c2 \u03c0\u03b1\u03c1\u03b1\u03c0\u03ac\u03bd\u03c9 "
       "\u03c3\u03c5\u03bc\u03c6\u03c9\u03bd\u03af\u03b1\u03c2; \u0391\u03bd "
       "\u03b5\u03c0\u03b9\u03bb\u03ad\u03be\u03b5\u03c4\u03b5 \u038c\u03c7\u03b9, \u03b7 "
       "\u03b5\u03b3\u03ba\u03b1\u03c4\u03ac\u03c3\u03c4\u03b1\u03c3\u03b7 \u03b8\u03b1 "
       "\u03ba\u03bb\u03b5\u03af\u03c3\u03b5\u03b9. \u0393\u03b9\u03b1 \u03bd\u03b1 "
       "\u03b5\u03b3\u03ba\u03b1\u03c4\u03b1\u03c3\u03c4\u03ae\u03c3\u03b5\u03c4\u03b5 \u03c4\u03bf "
       "<APPNAME>, \u03c0\u03c1\u03ad\u03c0\u03b5\u03b9 \u03bd\u03b1 \u03c4\u03bf\u03c5\u03c2 "
       "\u03b1\u03c0\u03bf\u03b4\u03b5\u03c7\u03c4\u03b5\u03af\u03c4\u03b5.",
       question, 1253, 3},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.lines, WrappedLines(c.text, c.room, LatinWidthChars(c.codePage))) << c.text;
}
