#include "uTrans.h"

#include "textlines.h"

LangTable DefaultLangTable() {
  LangTable table;
  for (int i = 0; i < kLangMessageCount; ++i) table[i] = kDefaultLangTexts[i];
  return table;
}

bool LoadLangTable(const std::string& path, LangTable& table) {
  TextLineReader reader(path);
  if (!reader.IsOpen()) return false;
  std::string line;
  for (int i = 0; i < kLangMessageCount; ++i) {
    reader.ReadLine(line);
    table[i] = line;
  }
  const bool haveMarker = reader.ReadLine(line) && line.size() == 1 && line[0] == kLangEndMarker;
  const bool ok = haveMarker && !reader.Failed();
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
