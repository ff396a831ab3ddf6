#include "driver_json.h"

#include <cstdio>

static std::string Recode(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return std::string();
  int wide = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &w[0], wide);
  int bytes = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(bytes, '\0');
  WideCharToMultiByte(to, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

std::string AnsiToUtf8(const std::string& ansi) { return Recode(ansi, CP_ACP, CP_UTF8); }

std::string Utf8ToAnsi(const std::string& utf8) { return Recode(utf8, CP_UTF8, CP_ACP); }

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char esc[8];
          snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += (char)c;
        }
    }
  }
  return out + "\"";
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ",";
    out += items[i];
  }
  return out + "]";
}

std::string HandleText(HWND hwnd) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", (unsigned long)(ULONG_PTR)hwnd);
  return text;
}

void JsonObject::Key(const char* name) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonQuote(name) + ":";
}

JsonObject& JsonObject::Text(const char* key, const std::string& ansi) {
  Key(key);
  body_ += JsonQuote(AnsiToUtf8(ansi));
  return *this;
}

JsonObject& JsonObject::Number(const char* key, long long value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Flag(const char* key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Handle(const char* key, HWND value) {
  Key(key);
  body_ += value ? JsonQuote(HandleText(value)) : "null";
  return *this;
}

JsonObject& JsonObject::Hex(const char* key, unsigned long value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lX", value);
  Key(key);
  body_ += JsonQuote(text);
  return *this;
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  Key(key);
  body_ += json;
  return *this;
}

void EmitLine(const std::string& json) {
  fwrite(json.data(), 1, json.size(), stdout);
  fputc('\n', stdout);
  fflush(stdout);
}
