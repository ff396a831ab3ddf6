// Output of the test driver: one JSON object per line on stdout.
// Texts are read from windows in the ANSI code page and printed as UTF-8, so
// that the caller sees exactly the characters a person sees.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);
std::string JsonQuote(const std::string& utf8);
std::string JsonArray(const std::vector<std::string>& items);
std::string HandleText(HWND hwnd);  // "0x0001007A"; handles are 32-bit here

// Builds one object field by field, in the order given.
class JsonObject {
 public:
  JsonObject& Text(const char* key, const std::string& ansi);
  JsonObject& Number(const char* key, long long value);
  JsonObject& Flag(const char* key, bool value);
  JsonObject& Handle(const char* key, HWND value);  // null for no window
  JsonObject& Hex(const char* key, unsigned long value);
  JsonObject& Raw(const char* key, const std::string& json);
  std::string Str() const { return "{" + body_ + "}"; }

 private:
  void Key(const char* name);
  std::string body_;
};

// Writes one record and flushes, so a caller reading a pipe sees it at once.
void EmitLine(const std::string& json);
