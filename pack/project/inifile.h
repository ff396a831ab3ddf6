// The INI syntax of project files, kept apart from what the keys mean:
//
//   [Section]          a section header; names are case-insensitive
//   key = value        blanks around key and value are dropped
//   text               a line without "=" (a key without a value)
//   ; comment          also "# comment", as a line of its own
//   key = value ; why  a ";" after a blank or tab, outside double quotes,
//                      starts a comment to the end of the line, so that a
//                      ";" inside a word (passwords, URLs, parameters) stays
//   key = "value"      a value (or key) that is one double-quoted string is
//                      what the quotes hold, blanks and " ;" included, with
//                      "" for a quote; anything else is taken as written
//
// Lines end at LF, CR LF or CR. A UTF-8 byte order mark at the start is
// skipped (and reported, since texts are taken as single-byte ANSI).
#pragma once
#include <string>
#include <vector>

struct IniEntry {
  std::string key;
  std::string value;      // without the quotes of a quoted value
  std::string written;    // the value as written, quotes kept (a command line needs them)
  bool hasValue = false;  // the line held "="
  bool broken = false;    // a fault of this line is reported already: take no meaning from it
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

// The text before a comment (" ;" outside double quotes), trimmed.
std::string WithoutComment(const std::string& text);

// A text that is one double-quoted string ("" inside for a quote) as what it
// holds; false, leaving `inner` alone, for any other text.
bool Unquoted(const std::string& text, std::string& inner);
