#include "storednames.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cabinet_writer.h"
#include "codepage.h"
#include "pathops.h"
#include "placeholdertable.h"

namespace {

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

// Length of the text placeholder at `at`, 0 when none is there.
size_t TextTokenAt(const std::string& name, size_t at) {
  for (size_t i = 0; i < kPlaceholderCount; ++i) {
    const char* token = kPlaceholders[i].token;
    if (!kPlaceholders[i].namesFolder && StartsWith(name, at, token)) return std::strlen(token);
  }
  return 0;
}

// The name with every text placeholder replaced by "X", or why it cannot be.
std::string WithoutTokens(const std::string& name, std::string& why) {
  std::string plain;
  for (size_t i = 0; i < name.size();) {
    if (name[i] == '<') {
      const size_t length = TextTokenAt(name, i);
      if (length == 0) {
        why = "after its folder placeholder, a stored name may only hold <APPNAME> and <MIN_FREE>: " + name;
        return "";
      }
      plain += 'X';
      i += length;
    } else if (name[i] == '>') {
      why = "\">\" may only close a placeholder in a stored name: " + name;
      return "";
    } else {
      plain += name[i++];
    }
  }
  return plain;
}

// Checks the folder placeholder that must open `name`; `rest` is where the
// name goes on after it.
std::string CheckLeadingToken(const std::string& name, size_t& rest) {
  for (size_t i = 0; i < kPlaceholderCount; ++i) {
    const Placeholder& t = kPlaceholders[i];
    if (!t.namesFolder || !StartsWith(name, 0, t.token)) continue;
    const size_t after = std::strlen(t.token);
    const bool slash = after < name.size() && name[after] == '\\';
    rest = after + (slash ? 1 : 0);
    if (after == name.size()) return "a stored name needs a file name after its folder placeholder: " + name;
    if (t.keepsBackslash && slash)
      return std::string(t.token) + " ends in a backslash already; write " + t.token + "name: " + name;
    if (!t.keepsBackslash && !slash)
      return std::string(t.token) + " must be followed by a backslash: " + name;
    return "";
  }
  return "a stored name with a placeholder must begin with a folder placeholder such as <SYS>\\ "
         "or <PROGRAM FILES>\\, or it would land outside any known folder: " +
         name;
}

bool IsDeviceName(const std::string& part) {
  std::string base = UpperCaseAscii(part.substr(0, part.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

std::string CheckParts(const std::string& plain, const std::string& name, int codePage) {
  size_t start = 0;
  while (start <= plain.size()) {
    size_t end = FindSeparator(codePage, plain, start, "\\");
    if (end == std::string::npos) end = plain.size();
    const std::string part = plain.substr(start, end - start);
    if (!part.empty() && (part.back() == '.' || part.back() == ' '))
      return "Windows drops a final \".\" or blank from a folder or file name: " + name;
    if (IsDeviceName(part)) return "\"" + part + "\" is a device name on Windows: " + name;
    start = end + 1;
  }
  return "";
}

}  // namespace

bool IsPlaceholderName(const std::string& storedName) { return storedName.find('<') != std::string::npos; }

std::string CheckInstallName(const std::string& name, int codePage) {
  std::string why = cab::CheckStoredName(name, LeadBytes(codePage));
  if (!why.empty()) return why;
  size_t rest = 0;
  if (IsPlaceholderName(name)) {
    why = CheckLeadingToken(name, rest);
    if (!why.empty()) return why;
  }
  const std::string plain = WithoutTokens(name.substr(rest), why);
  if (!why.empty()) return why;
  return CheckParts(plain, name, codePage);
}

std::string FoldedName(const std::string& storedName, int codePage) {
  return UpperCaseUtf8(CodePageToUtf8(storedName, codePage));
}

std::string MapExtractName(const std::string& storedName, int codePage, std::vector<std::string>& parts) {
  parts.clear();
  std::string mapped;
  for (char c : storedName) {
    if (c != '<' && c != '>') mapped += c;
  }
  if (mapped.empty() || mapped.size() > cab::kMaxNameSize) return "the name is empty or too long";
  size_t start = 0;
  while (start <= mapped.size()) {
    size_t end = FindSeparator(codePage, mapped, start, "\\/");
    if (end == std::string::npos) end = mapped.size();
    const std::string part = mapped.substr(start, end - start);
    // An empty part is a leading separator (an absolute or UNC path) or two in a row.
    if (part.empty()) return "it maps to an absolute path or has an empty part";
    if (part == "." || part == "..") return "it climbs out of the folder";
    for (size_t at = 0; at < part.size(); at += CharSizeAt(codePage, part, at)) {
      const char c = part[at];
      if (uint8_t(c) < 0x20 || uint8_t(c) == 0x7F || std::strchr(":*?\"|", c))
        return "it holds a drive, a stream or a character Windows does not allow";
    }
    if (part.back() == '.' || part.back() == ' ') return "a part ends in \".\" or a blank";
    if (IsDeviceName(part)) return "\"" + part + "\" is a device name on Windows";
    parts.push_back(part);
    start = end + 1;
  }
  return "";
}

std::string EscapeControls(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const uint8_t b = uint8_t(utf8[i]);
    // C1 controls are U+0080 to U+009F: C2 80 to C2 9F in UTF-8.
    const bool c1 =
        b == 0xC2 && i + 1 < utf8.size() && uint8_t(utf8[i + 1]) >= 0x80 && uint8_t(utf8[i + 1]) <= 0x9F;
    if (b >= 0x20 && b != 0x7F && !c1) {
      out += char(b);
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", c1 ? uint8_t(utf8[++i]) : b);
    out += escape;
  }
  return out;
}

std::string TerminalText(const std::string& packageText, int codePage) {
  return EscapeControls(CodePageToUtf8(packageText, codePage));
}
