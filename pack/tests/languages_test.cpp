#include "languages.h"

#include <gtest/gtest.h>

#include <cmath>
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

// The hotkey letters of a text: the characters after a single "&", upper
// case as Windows matches them (code page 1252 letters included).
std::vector<uint8_t> HotkeysOf(const std::string& text) {
  std::vector<uint8_t> keys;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    uint8_t c = uint8_t(text[++i]);
    if (c == '&') continue;
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = uint8_t(c - 0x20);
    keys.push_back(c);
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

// The lines a text takes when wrapped at blanks, with a typical application
// name put in; a line break token starts a new line.
int WrappedLines(std::string text, const Room& room) {
  for (size_t at; (at = text.find("<APPNAME>")) != std::string::npos;) text.replace(at, 9, "Veltra Demo");
  for (size_t at; (at = text.find('&')) != std::string::npos;) text.erase(at, 1);
  const size_t perLine = size_t(room.width / room.unitsPerChar);
  int lines = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t stop = text.find("<br/>", start);
    const std::string paragraph =
        text.substr(start, stop == std::string::npos ? std::string::npos : stop - start);
    size_t used = 0;
    ++lines;
    for (size_t w = 0; w < paragraph.size();) {
      size_t end = paragraph.find(' ', w);
      if (end == std::string::npos) end = paragraph.size();
      const size_t word = end - w;
      if (used > 0 && used + 1 + word > perLine) ++lines, used = 0;
      used += (used ? 1 : 0) + word;
      for (; used > perLine; used -= perLine) ++lines;  // a word wider than the line breaks inside
      w = end + 1;
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
  ASSERT_GE(ShippedLanguages().size(), 7u);
  for (const char* name : {"english", "german", "french", "spanish", "italian", "dutch", "portuguese"})
    EXPECT_NE(nullptr, FindShippedLanguage(name)) << name;
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
    for (int i = 0; i < kLangMessageCount; ++i) {
      EXPECT_FALSE(table[i].empty()) << "message " << i;
      EXPECT_EQ(TokensOf(english[i]), TokensOf(table[i])) << "message " << i << ": " << table[i];
      EXPECT_EQ(HotkeysOf(english[i]).size(), HotkeysOf(table[i]).size())
          << "message " << i << ": " << table[i];
    }
    for (const std::vector<int>& dialog : kDialogs) {
      std::map<uint8_t, int> owner;
      for (int message : dialog) {
        for (uint8_t key : HotkeysOf(table[message])) {
          const auto taken = owner.emplace(key, message);
          EXPECT_TRUE(taken.second) << "hotkey " << char(key) << " of message " << message << " is message "
                                    << taken.first->second << "'s in the same dialog";
        }
      }
    }
    for (const Room& room : kRooms) {
      EXPECT_LE(WrappedLines(table[room.message], room), room.lines)
          << "message " << room.message
          << " is too long for its control: " << CodePageToUtf8(table[room.message], language.codePage);
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
