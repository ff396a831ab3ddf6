#include "codepage.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// Code page 1252 from 0x80 to 0x9F; 0xA0 to 0xFF are U+00A0 to U+00FF. The
// five bytes 1252 leaves undefined stand for the C1 code point of the same
// value, as Windows converts them both ways.
const uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Decode1252(uint8_t byte) { return byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : byte; }

// The 1252 byte of `cp`, or -1 when 1252 has none.
int Encode1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  const uint16_t* end = k1252High + 32;
  const uint16_t* found = std::find(k1252High, end, uint16_t(cp));
  return cp <= 0xFFFF && found != end ? 0x80 + int(found - k1252High) : -1;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// The code point that starts at `at`, advancing `at`; false for bytes that
// are not UTF-8 (overlong forms and surrogates included).
bool NextCodePoint(const std::string& s, size_t& at, uint32_t& cp) {
  const uint8_t lead = uint8_t(s[at]);
  const int extra = lead < 0x80             ? 0
                    : (lead & 0xE0) == 0xC0 ? 1
                    : (lead & 0xF0) == 0xE0 ? 2
                    : (lead & 0xF8) == 0xF0 ? 3
                                            : -1;
  if (extra < 0 || s.size() - at <= size_t(extra)) return false;
  cp = extra == 0 ? lead : lead & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    const uint8_t b = uint8_t(s[at + size_t(i)]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  at += size_t(extra) + 1;
  return true;
}

std::string ByteText(uint8_t byte) {
  char text[48];
  std::snprintf(text, sizeof text, "the byte 0x%02X is not UTF-8", byte);
  return text;
}

std::string MissingCharText(const std::string& utf8Char, uint32_t cp, int codePage) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", unsigned(cp));
  return "\"" + utf8Char + "\" (" + code + ") is not in code page " + std::to_string(codePage);
}

int LineAt(const std::string& text, size_t at) {
  int line = 1;
  for (size_t i = 0; i < at && i < text.size(); ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++line;
  }
  return line;
}

// Like Utf8ToCodePage, and where it stopped.
bool Encode(const std::string& utf8, int codePage, std::string& out, std::string& why, size_t& at) {
  out.clear();
  if (!IsSupportedCodePage(codePage))
    return why = "code page " + std::to_string(codePage) + " is not supported", false;
  for (at = 0; at < utf8.size();) {
    const size_t start = at;
    uint32_t cp = 0;
    if (!NextCodePoint(utf8, at, cp)) return why = ByteText(uint8_t(utf8[start])), false;
    const int byte = Encode1252(cp);
    if (byte < 0) {
      why = MissingCharText(utf8.substr(start, at - start), cp, codePage);
      at = start;
      return false;
    }
    out += char(byte);
  }
  return true;
}

}  // namespace

bool IsSupportedCodePage(int codePage) { return codePage == 1252; }

const char* SupportedCodePages() { return "1252 (Western European)"; }

bool CheckUtf8(const std::string& text, std::string& why) {
  uint32_t cp = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    if (!NextCodePoint(text, at, cp)) return why = ByteText(uint8_t(text[start])), false;
  }
  return true;
}

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& why) {
  size_t at = 0;
  return Encode(utf8, codePage, out, why, at);
}

std::string CodePageToUtf8(const std::string& text, int) {
  std::string out;
  for (char c : text) AppendUtf8(Decode1252(uint8_t(c)), out);
  return out;
}

bool IsUtf16(const std::string& bytes) {
  return bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0;
}

bool Utf16ToUtf8(const std::string& bytes, std::string& utf8, int& line, std::string& why) {
  const bool big = bytes.compare(0, 2, "\xFE\xFF") == 0;
  auto unit = [&](size_t at) {
    const uint32_t a = uint8_t(bytes[at]), b = uint8_t(bytes[at + 1]);
    return big ? a << 8 | b : b << 8 | a;
  };
  utf8.clear();
  line = 1;
  for (size_t at = 2; at < bytes.size(); at += 2) {
    if (at + 1 >= bytes.size()) return why = "the UTF-16 text ends in half a character", false;
    uint32_t cp = unit(at);
    if (cp >= 0xD800 && cp < 0xDC00 && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 &&
        unit(at + 2) < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      return why = "a UTF-16 surrogate without its pair", false;
    }
    if (cp == '\n') ++line;
    AppendUtf8(cp, utf8);
  }
  return true;
}

bool DecodeInput(const std::string& bytes, InputEncoding encoding, int codePage, std::string& utf8, int& line,
                 std::string& why) {
  if (IsUtf16(bytes)) return Utf16ToUtf8(bytes, utf8, line, why);
  const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  utf8 = bom ? bytes.substr(3) : bytes;
  if (!bom && encoding == InputEncoding::CodePage) {
    utf8 = CodePageToUtf8(bytes, codePage);
    return true;
  }
  uint32_t cp = 0;
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    if (!NextCodePoint(utf8, at, cp)) {
      line = LineAt(utf8, start);
      why = ByteText(uint8_t(utf8[start])) + " (write the file in UTF-8, or declare InputEncoding = ansi)";
      return false;
    }
  }
  return true;
}

bool EncodeLines(const std::string& utf8, int codePage, std::string& out, int& line, std::string& why) {
  size_t at = 0;
  if (Encode(utf8, codePage, out, why, at)) return true;
  line = LineAt(utf8, at);
  return false;
}
