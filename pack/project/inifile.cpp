#include "inifile.h"

#include "pathops.h"

namespace {

// The lines of a text, cut at LF, CR LF or CR.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
    if (text[end] == '\r' && at < text.size() && text[at] == '\n') ++at;
  }
  return lines;
}

bool ParseHeader(const std::string& line, int number, IniFile& ini, std::vector<IniProblem>& problems) {
  const size_t close = line.find(']');
  const std::string name = close == std::string::npos ? "" : TrimBlanks(line.substr(1, close - 1));
  if (close == std::string::npos || !TrimBlanks(line.substr(close + 1)).empty() || name.empty()) {
    problems.push_back({number, "malformed section header " + line + " (write [Name] on a line of its own)"});
    return false;
  }
  ini.sections.push_back({name, number, {}});
  return true;
}

// The first "=" outside double quotes, so that a quoted stored name may hold one.
size_t EqualsOutsideQuotes(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '=' && !quoted) return i;
  }
  return std::string::npos;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string WithoutComment(const std::string& text) {
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    if (text[i] == ';' && !quoted && i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t'))
      return TrimBlanks(text.substr(0, i));
  }
  return TrimBlanks(text);
}

bool Unquoted(const std::string& text, std::string& inner) {
  if (text.size() < 2 || text[0] != '"') return false;
  std::string held;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      held += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      held += '"';
      ++i;
    } else {
      if (i + 1 != text.size()) return false;
      inner = held;
      return true;
    }
  }
  return false;
}

bool SameIniName(const std::string& a, const std::string& b) {
  return UpperCaseAscii(a) == UpperCaseAscii(b);
}

IniFile ParseIni(const std::string& text, std::vector<IniProblem>& problems) {
  IniFile ini;
  std::string body = text;
  if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    ini.hadByteOrderMark = true;
    body.erase(0, 3);
  }
  const std::vector<std::string> lines = SplitLines(body);
  bool inBadSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = int(i + 1);
    const std::string trimmed = TrimBlanks(lines[i]);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
    const std::string line = WithoutComment(trimmed);
    if (line[0] == '[') {
      inBadSection = !ParseHeader(line, number, ini, problems);
      continue;
    }
    if (inBadSection) continue;
    if (ini.sections.empty()) {
      problems.push_back({number, "this line stands before the first [Section]"});
      inBadSection = true;
      continue;
    }
    IniEntry entry;
    entry.line = number;
    const size_t equals = EqualsOutsideQuotes(line);
    entry.hasValue = equals != std::string::npos;
    entry.key = TrimBlanks(line.substr(0, equals));
    Unquoted(entry.key, entry.key);
    if (entry.hasValue) entry.written = entry.value = TrimBlanks(line.substr(equals + 1));
    Unquoted(entry.written, entry.value);
    ini.sections.back().entries.push_back(entry);
  }
  return ini;
}
