#include "codepage.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "uTrans.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <map>
#endif

namespace {

struct CodePageName {
  int codePage;
  const char* name;
};

const CodePageName kCodePages[] = {
    {874, "Thai"},
    {932, "Japanese"},
    {936, "Simplified Chinese"},
    {949, "Korean"},
    {950, "Traditional Chinese"},
    {1250, "Central European"},
    {1251, "Cyrillic"},
    {1252, "Western European"},
    {1253, "Greek"},
    {1254, "Turkish"},
    {1255, "Hebrew"},
    {1256, "Arabic"},
    {1257, "Baltic"},
    {1258, "Vietnamese"},
};

// Where glibc's tables and Windows' differ for a character both code pages
// define, Windows decides: the stub reads the bytes there. 1255's 0xCA is a
// Hebrew point glibc leaves out; 950 holds four box-drawing characters
// twice, and Windows writes the second form.
struct Override {
  int codePage;
  uint16_t bytes;  // one byte, or lead byte << 8 | trail byte
  uint32_t codePoint;
  bool encodes;  // false: read this way, but the character is written as another byte pair
};

const Override kOverrides[] = {
    {1255, 0xCA, 0x05BA, true},   {950, 0xF9F9, 0x2550, true},  {950, 0xF9E9, 0x255E, true},
    {950, 0xF9EB, 0x2561, true},  {950, 0xF9EA, 0x256A, true},  {950, 0xA2A4, 0x2550, false},
    {950, 0xA2A5, 0x255E, false}, {950, 0xA2A7, 0x2561, false}, {950, 0xA2A6, 0x256A, false},
};

constexpr uint32_t kReplacement = 0xFFFD;

bool IsPrivateUse(uint32_t cp) { return cp >= 0xE000 && cp <= 0xF8FF; }

#ifdef _WIN32

uint32_t SystemDecode(int codePage, const char* bytes, int size) {
  wchar_t wide[2];
  const int n = MultiByteToWideChar(UINT(codePage), MB_ERR_INVALID_CHARS, bytes, size, wide, 2);
  return n == 1 ? uint32_t(wide[0]) : 0;
}

bool SystemEncode(int codePage, uint32_t cp, std::string& bytes) {
  const wchar_t wide = wchar_t(cp);
  char out[4];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(UINT(codePage), WC_NO_BEST_FIT_CHARS, &wide, 1, out, sizeof out, nullptr,
                                    &usedDefault);
  if (n <= 0 || usedDefault) return false;
  bytes.assign(out, size_t(n));
  return true;
}

#else

// glibc's converters, one pair per code page, opened on first use and kept.
struct Converters {
  iconv_t decode;
  iconv_t encode;
};

std::mutex g_convertersLock;

bool Convert(iconv_t cd, const char* in, size_t size, char* out, size_t capacity, size_t& written) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* from = const_cast<char*>(in);
  char* to = out;
  size_t left = size, room = capacity;
  if (iconv(cd, &from, &left, &to, &room) == size_t(-1) || left != 0) return false;
  if (iconv(cd, nullptr, nullptr, &to, &room) == size_t(-1)) return false;
  written = capacity - room;
  return true;
}

Converters* ConvertersOf(int codePage) {
  // Opened once per code page and kept for the process's life: the map is
  // never destroyed, so the descriptors stay reachable to the end.
  static std::map<int, Converters>& opened = *new std::map<int, Converters>;
  auto found = opened.find(codePage);
  if (found != opened.end()) return &found->second;
  const std::string name = "CP" + std::to_string(codePage);
  Converters c{iconv_open("UTF-32LE", name.c_str()), iconv_open(name.c_str(), "UTF-32LE")};
  if (c.decode == iconv_t(-1) || c.encode == iconv_t(-1)) {
    if (c.decode != iconv_t(-1)) iconv_close(c.decode);
    if (c.encode != iconv_t(-1)) iconv_close(c.encode);
    return nullptr;
  }
  return &opened.emplace(codePage, c).first->second;
}

uint32_t SystemDecode(int codePage, const char* bytes, int size) {
  std::lock_guard<std::mutex> lock(g_convertersLock);
  Converters* c = ConvertersOf(codePage);
  unsigned char out[16];
  size_t written = 0;
  if (!c || !Convert(c->decode, bytes, size_t(size), reinterpret_cast<char*>(out), sizeof out, written) ||
      written != 4)
    return 0;
  return uint32_t(out[0]) | uint32_t(out[1]) << 8 | uint32_t(out[2]) << 16 | uint32_t(out[3]) << 24;
}

bool SystemEncode(int codePage, uint32_t cp, std::string& bytes) {
  std::lock_guard<std::mutex> lock(g_convertersLock);
  Converters* c = ConvertersOf(codePage);
  const char in[4] = {char(cp), char(cp >> 8), char(cp >> 16), char(cp >> 24)};
  char out[16];
  size_t written = 0;
  if (!c || !Convert(c->encode, in, 4, out, sizeof out, written)) return false;
  bytes.assign(out, written);
  return true;
}

#endif

// The character of one byte or byte pair, as Windows reads it: C1 bytes a
// code page leaves undefined stand for the C1 code point of the same value;
// anything else undefined, and the private-use characters Windows reserves
// for end-user fonts, reads as U+FFFD.
uint32_t DecodeChar(int codePage, const std::string& text, size_t at, size_t size) {
  const uint8_t first = uint8_t(text[at]);
  if (first < 0x80) return first;
  const uint16_t key = size == 1 ? first : uint16_t(first << 8 | uint8_t(text[at + 1]));
  for (const Override& o : kOverrides) {
    if (o.codePage == codePage && o.bytes == key) return o.codePoint;
  }
  const uint32_t cp = SystemDecode(codePage, text.data() + at, int(size));
  if (cp == 0 && size == 1 && first < 0xA0 && !IsLeadByte(codePage, first)) return first;
  return cp == 0 || IsPrivateUse(cp) ? kReplacement : cp;
}

// Bytes of `cp` in `codePage`, empty when the code page lacks it. Only an
// exact round trip counts, so no best-fit or decomposed form slips through.
std::string EncodeChar(int codePage, uint32_t cp) {
  if (cp < 0x80) return std::string(1, char(cp));
  for (const Override& o : kOverrides) {
    if (o.codePage == codePage && o.codePoint == cp && o.encodes)
      return o.bytes > 0xFF ? std::string{char(o.bytes >> 8), char(o.bytes)} : std::string(1, char(o.bytes));
  }
  std::string bytes;
  if (cp > 0xFFFF || IsPrivateUse(cp) || cp == kReplacement) return "";
  if (!SystemEncode(codePage, cp, bytes)) {
    if (cp >= 0xA0) return "";
    bytes.assign(1, char(cp));  // a C1 control, if the code page leaves that byte to it
  }
  const size_t size = CharSizeAt(codePage, bytes, 0);
  if (size != bytes.size() || DecodeChar(codePage, bytes, 0, size) != cp) return "";
  return bytes;
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

// The capital of a letter of the alphabets the code pages hold, as NTFS
// folds names; any other code point as it is.
uint32_t UpperCaseLetter(uint32_t cp) {
  const bool latin1 = (cp >= 'a' && cp <= 'z') || (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7);
  if (latin1) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  // Latin Extended-A pairs its letters capital first, by even or by odd code
  // point in turn.
  if ((cp >= 0x100 && cp <= 0x137 && cp != 0x131) || (cp >= 0x14A && cp <= 0x177)) return cp & ~1u;
  if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return cp % 2 == 0 ? cp - 1 : cp;
  if ((cp >= 0x3B1 && cp <= 0x3CB && cp != 0x3C2) || (cp >= 0x430 && cp <= 0x44F)) return cp - 0x20;
  if (cp == 0x3C2) return 0x3A3;  // final sigma
  if (cp == 0x3AC) return 0x386;
  if (cp >= 0x3AD && cp <= 0x3AF) return cp - 0x25;
  if (cp == 0x3CC) return 0x38C;
  if (cp == 0x3CD || cp == 0x3CE) return cp - 0x3F;
  if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
  if (cp == 0x491) return 0x490;
  if (cp >= 0xFF41 && cp <= 0xFF5A) return cp - 0x20;  // full-width Latin
  return cp;
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
    const std::string bytes = EncodeChar(codePage, cp);
    if (bytes.empty()) {
      why = MissingCharText(utf8.substr(start, at - start), cp, codePage);
      at = start;
      return false;
    }
    out += bytes;
  }
  return true;
}

}  // namespace

bool IsSupportedCodePage(int codePage) {
  for (const CodePageName& c : kCodePages) {
    if (c.codePage == codePage) return true;
  }
  return false;
}

std::string SupportedCodePages() {
  std::string list;
  for (const CodePageName& c : kCodePages)
    list += (list.empty() ? "" : ", ") + std::to_string(c.codePage) + " (" + c.name + ")";
  return list;
}

bool IsLeadByte(int codePage, uint8_t byte) {
  switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return false;
  }
}

std::bitset<256> LeadBytes(int codePage) {
  std::bitset<256> lead;
  for (int b = 0x80; b < 0x100; ++b) lead[size_t(b)] = IsLeadByte(codePage, uint8_t(b));
  return lead;
}

size_t CharSizeAt(int codePage, const std::string& text, size_t at) {
  return IsLeadByte(codePage, uint8_t(text[at])) && at + 1 < text.size() ? 2 : 1;
}

size_t FindSeparator(int codePage, const std::string& text, size_t from, const char* separators) {
  for (size_t at = from; at < text.size(); at += CharSizeAt(codePage, text, at)) {
    if (std::strchr(separators, text[at]) && text[at] != '\0') return at;
  }
  return std::string::npos;
}

bool CheckUtf8(const std::string& text, std::string& why) {
  uint32_t cp = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    if (!NextCodePoint(text, at, cp)) return why = ByteText(uint8_t(text[start])), false;
  }
  return true;
}

std::string UpperCaseUtf8(const std::string& utf8) {
  std::string out;
  for (size_t at = 0; at < utf8.size();) {
    uint32_t cp = 0;
    if (NextCodePoint(utf8, at, cp))
      AppendUtf8(UpperCaseLetter(cp), out);
    else
      out += utf8[at++];
  }
  return out;
}

bool Utf8ToCodePage(const std::string& utf8, int codePage, std::string& out, std::string& why) {
  size_t at = 0;
  return Encode(utf8, codePage, out, why, at);
}

std::string CodePageToUtf8(const std::string& text, int codePage) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const size_t size = CharSizeAt(codePage, text, at);
    AppendUtf8(DecodeChar(codePage, text, at, size), out);
    at += size;
  }
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

std::string CodePageLine(int codePage) { return kLangCodePageKey + std::to_string(codePage) + "\r\n"; }
