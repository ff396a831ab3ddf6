// The INI syntax of project files, kept apart from what the keys mean:
//
//   [Section]          a section header; names are case-insensitive
//   key = value        blanks around key and value are dropped; the value is
//                      taken as written, quotes and ";" included
//   text               a line without "=" (a key without a value)
//   ; comment          also "# comment"; only as a line of its own
//
// Lines end at LF, CR LF or CR. A UTF-8 byte order mark at the start is
// skipped (and reported, since texts are taken as single-byte ANSI).
#pragma once
#include <string>
#include <vector>

struct IniEntry {
  std::string key;
  std::string value;
  bool hasValue = false;  // the line held "="
  int line = 0;
};

struct IniSection {
  std::string name;  // as written
  int line = 0;
  std::vector<IniEntry> entries;
};

struct IniProblem {
  int line = 0;
  std::string message;
};

struct IniFile {
  std::vector<IniSection> sections;
  bool hadByteOrderMark = false;
};

// Parses `text`. Lines outside any section and malformed section headers are
// reported in `problems`; the rest is still parsed.
IniFile ParseIni(const std::string& text, std::vector<IniProblem>& problems);

// ASCII case-insensitive equality, as Windows compares INI names.
bool SameIniName(const std::string& a, const std::string& b);

// Blanks and tabs removed from both ends.
std::string TrimBlanks(const std::string& text);
