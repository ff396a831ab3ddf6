#include "uTrans.h"

#include "textlines.h"

LangTable DefaultLangTable() {
  LangTable table;
  for (int i = 0; i < kLangMessageCount; ++i) table[i] = kDefaultLangTexts[i];
  return table;
}

namespace {

// The number a code-page line names, 0 for any other line.
int ParseCodePageLine(const std::string& line) {
  const size_t keySize = sizeof kLangCodePageKey - 1;
  if (line.compare(0, keySize, kLangCodePageKey) != 0 || line.size() == keySize || line.size() > keySize + 5)
    return 0;
  int codePage = 0;
  for (size_t i = keySize; i < line.size(); ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    codePage = codePage * 10 + (line[i] - '0');
  }
  return codePage;
}

}  // namespace

bool LoadLangTable(const std::string& path, LangTable& table, int* codePage) {
  TextLineReader reader(path);
  if (!reader.IsOpen()) return false;
  std::string line;
  for (int i = 0; i < kLangMessageCount; ++i) {
    reader.ReadLine(line);
    table[i] = line;
  }
  const bool haveMarker = reader.ReadLine(line) && line.size() == 1 && line[0] == kLangEndMarker;
  const bool ok = haveMarker && !reader.Failed();
  if (codePage) *codePage = ok && reader.ReadLine(line) ? ParseCodePageLine(line) : 0;
  reader.Close();
  return ok;
}

std::string WriteLangText(const LangTable& table) {
  std::string text;
  for (const std::string& message : table) {
    text += message;
    text += "\r\n";
  }
  text += kLangEndMarker;
  text += "\r\n";
  return text;
}

namespace {

// Splits at CR LF, LF or CR, the way TextLineReader reads.
std::string NextLine(const std::string& text, size_t& pos, bool& atEnd) {
  atEnd = pos >= text.size();
  if (atEnd) return std::string();
  size_t stop = text.find_first_of("\r\n", pos);
  if (stop == std::string::npos) stop = text.size();
  std::string line = text.substr(pos, stop - pos);
  pos = stop;
  if (pos < text.size() && text[pos] == '\r') ++pos;
  if (pos < text.size() && text[pos] == '\n' && (pos == stop || text[pos - 1] == '\r')) ++pos;
  return line;
}

}  // namespace

int LangTextCodePage(const std::string& text) {
  size_t pos = 0;
  bool atEnd = false;
  for (int i = 0; i < kLangMessageCount; ++i) NextLine(text, pos, atEnd);
  if (atEnd || NextLine(text, pos, atEnd) != std::string(1, kLangEndMarker)) return 0;
  const std::string line = NextLine(text, pos, atEnd);
  return atEnd ? 0 : ParseCodePageLine(line);
}

bool ValidateLangText(const std::string& text, LangTable& table, std::string& error) {
  size_t pos = 0;
  bool atEnd = false;
  for (int i = 0; i < kLangMessageCount; ++i) {
    table[i] = NextLine(text, pos, atEnd);
    if (atEnd) {
      error =
          "line " + std::to_string(i + 1) + ": the text ends after " + std::to_string(i) + " of 82 messages";
      return false;
    }
  }
  const std::string marker = NextLine(text, pos, atEnd);
  if (atEnd || marker != std::string(1, kLangEndMarker)) {
    error = "line 83: expected the end-marker line (the single byte 0x01)";
    return false;
  }
  return true;
}
