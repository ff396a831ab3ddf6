#include "projectfiles.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "byteorder.h"
#include "cabio.h"
#include "codepage.h"
#include "hostfiles.h"
#include "projectdefines.h"
#include "storednames.h"

bool ReadHostText(const std::string& path, std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text.clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool ListTextFromFile(const std::string& bytes, const char* terminator, std::string& text,
                      std::vector<std::string>& notes) {
  const std::string& body = bytes;
  std::vector<std::string> lines;
  for (size_t at = 0; at < body.size();) {
    size_t end = body.find_first_of("\r\n", at);
    if (end == std::string::npos) end = body.size();
    lines.push_back(body.substr(at, end - at));
    at = end + 1;
    if (end < body.size() && body[end] == '\r' && at < body.size() && body[at] == '\n') ++at;
  }
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first > 0 && first < lines.size())
    notes.push_back(std::to_string(first) +
                    " empty line(s) at the start dropped, as the wizard would drop them");
  bool ok = true;
  text.clear();
  for (size_t i = first; i < lines.size(); ++i) {
    if (lines[i] == terminator) {
      notes.push_back("line " + std::to_string(i + 1) +
                      " is the list's terminator line, which would end the text there");
      ok = false;
    }
    if (lines[i].find('\0') != std::string::npos) {
      notes.push_back("line " + std::to_string(i + 1) +
                      " holds a NUL byte, where Windows would cut the text");
      ok = false;
    }
    if (i > first) text += "\r\n";
    text += lines[i];
  }
  return ok;
}

bool CheckBitmapFile(const std::string& path, std::string& why) {
  std::string bytes;
  if (!ReadHostText(path, bytes)) return why = "cannot read the picture", false;
  if (bytes.size() < 2 || bytes.compare(0, 2, "BM") != 0)
    return why = "not a Windows bitmap (.bmp) file: it does not start with \"BM\"", false;
  if (bytes.size() < 26) return why = "a bitmap file too short to hold its headers", false;
  const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t infoSize = ReadLe32(raw + 14), pixels = ReadLe32(raw + 10);
  const bool knownInfo = infoSize == 12 || infoSize == 40 || infoSize == 52 || infoSize == 56 ||
                         infoSize == 108 || infoSize == 124;
  if (!knownInfo) return why = "a bitmap file with an unknown header size " + std::to_string(infoSize), false;
  if (pixels < 14 + infoSize || pixels >= bytes.size())
    return why = "a bitmap file whose pixel data lies outside the file", false;
  return true;
}

bool StoredNameLess(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = a[i] == '\\' ? 0 : int(uint8_t(a[i])) + 1;
    const int cb = b[i] == '\\' ? 0 : int(uint8_t(b[i])) + 1;
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

namespace {

class FilesCollector {
 public:
  FilesCollector(Project& project, Diagnostics& diagnostics) : p_(project), d_(diagnostics) {}
  void Entry(const IniEntry& e);
  void Finish();

 private:
  void Error(int line, const std::string& text) { d_.Error(p_.path, line, text); }
  void AddFile(const std::string& stored, const std::string& source, int line);
  void AddFolder(const std::string& prefix, const std::string& folder, int line, int depth);
  void WarnAboutOutsiders();

  Project& p_;
  Diagnostics& d_;
};

void FilesCollector::AddFile(const std::string& storedUtf8, const std::string& source, int line) {
  std::string stored, why;
  if (!Utf8ToCodePage(storedUtf8, p_.codePage, stored, why))
    return Error(line, "the stored name " + storedUtf8 + " cannot be written on the target: " + why);
  why = CheckInstallName(stored, p_.codePage);
  if (!why.empty()) return Error(line, CodePageToUtf8(why, p_.codePage));
  PayloadFile f;
  f.storedName = stored;
  f.sourcePath = source;
  f.line = line;
  if (!CabSourceSize(source, f.size)) return Error(line, "cannot read the file " + source);
  p_.files.push_back(f);
}

void FilesCollector::AddFolder(const std::string& prefix, const std::string& folder, int line, int depth) {
  std::vector<std::string> names;
  if (!ListHostFolder(folder, names)) return Error(line, "cannot list the folder " + folder);
  if (prefix.size() > 255 || depth > 128) return Error(line, "folders nest too deep below " + folder);
  const size_t before = p_.files.size();
  for (const std::string& name : names) {
    const std::string path = JoinHostPath(folder, name);
    const HostKind kind = HostKindOf(path);
    if (kind == HostKind::Folder)
      AddFolder(prefix + Utf8OfHostName(name) + "\\", path, line, depth + 1);
    else if (kind == HostKind::File)
      AddFile(prefix + Utf8OfHostName(name), path, line);
    else
      Error(line, "neither a file nor a folder: " + path);
  }
  if (depth == 0 && p_.files.size() == before)
    d_.Warning(p_.path, line, "the folder " + folder + " holds no files");
}

void FilesCollector::Entry(const IniEntry& e) {
  if (e.broken) return;
  const std::string source = e.hasValue ? e.value : e.key;
  if (source.empty()) return Error(e.line, "no source file or folder after \"=\"");
  const std::string path = JoinHostPath(p_.folder, ExpandHome(source));
  const HostKind kind = HostKindOf(path);
  if (kind == HostKind::Missing) return Error(e.line, "file or folder not found: " + path);
  if (kind == HostKind::Other) return Error(e.line, "neither a file nor a folder: " + path);
  std::string stored = e.hasValue ? e.key : "";
  if (stored == "\\") stored.clear();  // the top of the destination
  const bool storedIsFolder = !e.hasValue || stored.empty() || stored.back() == '\\';
  const std::string own = HostNameOf(path.size() > 1 && (path.back() == '/' || path.back() == '\\')
                                         ? path.substr(0, path.size() - 1)
                                         : path);
  if (kind == HostKind::Folder) {
    if (!storedIsFolder)
      return Error(e.line,
                   path + " is a folder: write its stored name with a final backslash (" + stored + "\\)");
    AddFolder(e.hasValue ? stored : own + "\\", path, e.line, 0);
  } else {
    AddFile(storedIsFolder ? stored + own : stored, path, e.line);
  }
}

// Sources reached through a link or ".." outside the project's folder are
// packed (a shared file kept elsewhere is common), but each such line says
// so, so that a link planted in a source tree does not go unnoticed.
void FilesCollector::WarnAboutOutsiders() {
  const std::string folder = HostRealPath(p_.folder.empty() ? "." : p_.folder);
  std::map<int, std::pair<size_t, std::string>> outside;  // line -> count, first file
  for (const PayloadFile& f : p_.files) {
    const std::string real = HostRealPath(f.sourcePath);
    if (IsBelowHostFolder(real, folder)) continue;
    auto& entry = outside[f.line];
    if (entry.first++ == 0) entry.second = real.empty() ? f.sourcePath : real;
  }
  for (const auto& [line, found] : outside)
    d_.Warning(p_.path, line,
               std::to_string(found.first) + " source file(s) lie outside the project's folder " + folder +
                   " (through a link or \"..\"), e.g. " + found.second);
}

// Windows takes names that differ only in case as one, and a name cannot be
// a file and a folder at once.
void FilesCollector::Finish() {
  std::map<std::string, const PayloadFile*> byName;
  for (const PayloadFile& f : p_.files) {
    const auto inserted = byName.emplace(FoldedName(f.storedName, p_.codePage), &f);
    if (inserted.second) continue;
    const PayloadFile& first = *inserted.first->second;
    const std::string other = first.storedName == f.storedName
                                  ? ""
                                  : " as " + CodePageToUtf8(first.storedName, p_.codePage) +
                                        "; the names differ only in case, which Windows takes as one name";
    Error(f.line, CodePageToUtf8(f.storedName, p_.codePage) + " is stored twice (also by line " +
                      std::to_string(first.line) + other + ")");
  }
  for (const PayloadFile& f : p_.files) {
    for (size_t slash = FindSeparator(p_.codePage, f.storedName, 0, "\\"); slash != std::string::npos;
         slash = FindSeparator(p_.codePage, f.storedName, slash + 1, "\\")) {
      const auto clash = byName.find(FoldedName(f.storedName.substr(0, slash), p_.codePage));
      if (clash != byName.end())
        Error(f.line, CodePageToUtf8(f.storedName + " needs a folder where line " +
                                         std::to_string(clash->second->line) + " stores the file " +
                                         clash->second->storedName,
                                     p_.codePage));
    }
  }
  WarnAboutOutsiders();
  std::sort(p_.files.begin(), p_.files.end(), [](const PayloadFile& a, const PayloadFile& b) {
    return StoredNameLess(a.storedName, b.storedName);
  });
}

}  // namespace

void CollectPayloadFiles(const IniSection& section, Project& project, Diagnostics& diagnostics) {
  FilesCollector collector(project, diagnostics);
  for (const IniEntry& e : section.entries) collector.Entry(e);
  collector.Finish();
}
