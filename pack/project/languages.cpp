#include "languages.h"

#include <algorithm>

#include "codepage.h"
#include "pathops.h"

namespace {

struct EmbeddedFile {
  const char* name;
  const char* bytes;
  unsigned size;
};

const EmbeddedFile kEmbedded[] = {
#include "shippedlangs.inc"
};

// The Windows ANSI code page each shipped language is written in; a file
// not named here is a Western one.
struct LanguageCodePage {
  const char* name;
  int codePage;
};
const LanguageCodePage kLanguageCodePages[] = {
    {"czech", 1250},   {"polish", 1250},  {"russian", 1251}, {"greek", 1253},
    {"turkish", 1254}, {"japanese", 932}, {"chinese", 936},
};

int CodePageOfLanguage(const std::string& name) {
  for (const LanguageCodePage& l : kLanguageCodePages) {
    if (name == l.name) return l.codePage;
  }
  return kDefaultCodePage;
}

std::vector<ShippedLanguage> MakeShippedLanguages() {
  std::vector<ShippedLanguage> languages;
  ShippedLanguage english;
  english.name = "english";
  english.utf8Text = CodePageToUtf8(WriteLangText(DefaultLangTable()), kDefaultCodePage);
  english.codePage = kDefaultCodePage;
  languages.push_back(english);
  for (const EmbeddedFile& f : kEmbedded) {
    ShippedLanguage l;
    l.name = f.name;
    l.utf8Text.assign(f.bytes, f.size);
    l.codePage = CodePageOfLanguage(l.name);
    languages.push_back(l);
  }
  std::sort(languages.begin(), languages.end(),
            [](const ShippedLanguage& a, const ShippedLanguage& b) { return a.name < b.name; });
  return languages;
}

}  // namespace

const std::vector<ShippedLanguage>& ShippedLanguages() {
  static const std::vector<ShippedLanguage> languages = MakeShippedLanguages();
  return languages;
}

const ShippedLanguage* FindShippedLanguage(const std::string& name) {
  for (const ShippedLanguage& l : ShippedLanguages()) {
    if (UpperCaseAscii(l.name) == UpperCaseAscii(name)) return &l;
  }
  return nullptr;
}

std::string ShippedLanguageNames() {
  std::string names;
  for (const ShippedLanguage& l : ShippedLanguages()) names += (names.empty() ? "" : ", ") + l.name;
  return names;
}

bool LanguageBlock(const std::string& utf8Text, int codePage, std::string& block, int& line,
                   std::string& error) {
  std::string text;
  line = 0;
  if (!EncodeLines(utf8Text, codePage, text, line, error)) return false;
  line = 0;
  LangTable table;
  if (!ValidateLangText(text, table, error)) return false;
  block = WriteLangText(table);
  return true;
}
