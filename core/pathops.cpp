#include "pathops.h"

#include <cstring>
#include <limits>

bool (*PathLeadByte)(unsigned char byte) = nullptr;

namespace {

size_t NextChar(const std::string& path, size_t at) {
  return PathLeadByte && PathLeadByte(static_cast<unsigned char>(path[at])) && at + 1 < path.size() ? at + 2
                                                                                                    : at + 1;
}

// Where the last character begins, or npos for an empty text.
size_t LastCharAt(const std::string& path) {
  size_t last = std::string::npos;
  for (size_t at = 0; at < path.size(); at = NextChar(path, at)) last = at;
  return last;
}

bool EndsInBackslash(const std::string& path) {
  const size_t last = LastCharAt(path);
  return last != std::string::npos && last + 1 == path.size() && path[last] == '\\';
}

}  // namespace

std::string AddTrailingBackslash(const std::string& path) {
  if (path.empty() || EndsInBackslash(path)) return path;
  return path + '\\';
}

std::string StripTrailingBackslash(const std::string& path) {
  if (path.size() > 3 && EndsInBackslash(path)) return path.substr(0, path.size() - 1);
  return path;
}

std::string DirectoryPart(const std::string& path) {
  // The last ':' or '\\' that is a character of its own, and the character
  // before it.
  size_t separator = std::string::npos, before = std::string::npos, previous = std::string::npos;
  for (size_t at = 0; at < path.size(); at = NextChar(path, at)) {
    if (path[at] == ':' || path[at] == '\\') separator = at, before = previous;
    previous = at;
  }
  // i counts characters, as a 1-based position of the last one kept.
  size_t i = separator == std::string::npos ? 0 : separator + 1;
  // Drop the separator before the name, but keep the backslash of a drive
  // root and the second one that opens a network path.
  if (i > 1 && path[i - 1] == '\\' && before != std::string::npos && path[before] != ':' &&
      !(path[before] == '\\' && before + 2 == i))
    --i;
  return AddTrailingBackslash(path.substr(0, i));
}

std::string FileNamePart(const std::string& path) {
  const std::string folder = DirectoryPart(path);
  if (folder.empty()) return path;
  const size_t at = path.find(folder);
  if (at == std::string::npos) return path;
  return path.substr(0, at) + path.substr(at + folder.size());
}

std::string DrivePart(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    size_t i = 2;
    int backslashes = 0;
    for (; i < path.size(); i = NextChar(path, i)) {
      if (path[i] == '\\' && ++backslashes == 2) break;
    }
    return path.substr(0, i);
  }
  return std::string();
}

std::string ExtensionPart(const std::string& path) {
  const size_t dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(dot + 1);
}

namespace {
// Divides value by a divisor below 2^16 in place and returns the remainder,
// by long division on 16-bit digits. A 32-bit build would otherwise call the
// compiler's 64-bit division routines, which are larger than this whole file.
unsigned DivideInPlace(uint64_t& value, unsigned divisor) {
  uint64_t quotient = 0;
  uint32_t rest = 0;
  for (int shift = 48; shift >= 0; shift -= 16) {
    const uint32_t part = (rest << 16) | static_cast<uint32_t>((value >> shift) & 0xFFFF);
    quotient |= static_cast<uint64_t>(part / divisor) << shift;
    rest = part % divisor;
  }
  value = quotient;
  return rest;
}
}  // namespace

std::string Int64ToText(int64_t value) {
  // Work on the unsigned magnitude so that the most negative value prints too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + DivideInPlace(magnitude, 10));
  } while (magnitude != 0);
  std::string text = value < 0 ? "-" : "";
  while (n > 0) text += digits[--n];
  return text;
}

namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9')
    v = c - '0';
  else if (c >= 'a' && c <= 'f')
    v = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F')
    v = c - 'A' + 10;
  return v < base ? v : -1;
}

}  // namespace

int64_t TextToInt64(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  // The magnitude may reach 2^63 only for a negative number. The largest
  // magnitude that may take another digit is limit / base, found without a
  // 64-bit division at run time: 2^63 and 2^63 - 1 give the same tenth.
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
  constexpr uint64_t kMaxBeforeDecimalDigit = std::numeric_limits<int64_t>::max() / 10;
  const uint64_t most = base == 16 ? limit >> 4 : kMaxBeforeDecimalDigit;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0 || magnitude > most) break;
    const uint64_t next = magnitude * base + static_cast<unsigned>(digit);
    if (next > limit) break;
    magnitude = next;
  }
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

std::string UpperCaseAscii(const std::string& text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

char* CopyToBuffer(char* buffer, const std::string& text) {
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

std::string ReplaceAll(const std::string& token, const std::string& replacement, const std::string& text) {
  if (token.empty()) return text;
  size_t at = text.find(token);
  if (at == std::string::npos) return text;
  std::string result;
  size_t rest = 0;
  while (at != std::string::npos) {
    result.append(text, rest, at - rest);
    result += replacement;
    rest = at + token.size();
    at = text.find(token, rest);
  }
  result.append(text, rest, std::string::npos);
  return result;
}

bool HasParentFolderPart(const std::string& path) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < path.size() && path[end] != '\\' && path[end] != '/') end = NextChar(path, end);
    if (end >= path.size()) end = std::string::npos;
    if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0)
      return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}
