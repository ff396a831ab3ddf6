#include "project.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "hostfiles.h"
#include "inifile.h"
#include "languages.h"
#include "pathops.h"
#include "projectfiles.h"
#include "projectkeys.h"
#include "uTrans.h"

void Diagnostics::Error(const std::string& file, int line, const std::string& text) {
  errorLines_.insert({file, line});
  errors_.push_back(file + (line > 0 ? ":" + std::to_string(line) : "") + ": error: " + text);
}

void Diagnostics::Warning(const std::string& file, int line, const std::string& text) {
  warnings_.push_back(file + (line > 0 ? ":" + std::to_string(line) : "") + ": warning: " + text);
}

bool ParseByteCount(const std::string& text, uint64_t& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const uint64_t limit = uint64_t(INT64_MAX);  // MinFree is a signed 64-bit number
  uint64_t v = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = uint64_t(text[i] - '0');
    if (v > (limit - digit) / 10) return false;
    v = v * 10 + digit;
  }
  int shift = 0;
  if (i + 1 == text.size()) {
    const char unit = char(text[i] & ~0x20);
    shift = unit == 'K' ? 10 : unit == 'M' ? 20 : unit == 'G' ? 30 : -1;
    if (shift < 0) return false;
  } else if (i != text.size()) {
    return false;
  }
  if (v > (limit >> shift)) return false;
  value = v << shift;
  return true;
}

int KeyLine(const Project& project, const std::string& section, const std::string& key) {
  const auto it = project.keyLines.find(UpperCaseAscii(section + "." + key));
  return it == project.keyLines.end() ? 0 : it->second;
}

namespace {

bool ParseFlag(const std::string& text, bool& flag) {
  const std::string t = UpperCaseAscii(text);
  if (t == "1" || t == "YES" || t == "TRUE") return flag = true, true;
  if (t == "0" || t == "NO" || t == "FALSE") return flag = false, true;
  return false;
}

class Loader {
 public:
  Loader(Project& project, Diagnostics& diagnostics, const Defines& defines)
      : p_(project), d_(diagnostics), file_(project.path), defines_(defines) {}
  void Load(IniFile& ini);

 private:
  void Error(int line, const std::string& text) { d_.Error(file_, line, text); }
  void Warning(int line, const std::string& text) { d_.Warning(file_, line, text); }
  void SetupKey(const IniEntry& e);
  void PackageKey(const IniEntry& e);
  void SignKey(const IniEntry& e);
  bool SetupText(const IniEntry& e);
  void TextFileKey(const IniEntry& e, std::string& text);
  void PathKey(const IniEntry& e, HostKind kind, std::string& path);
  void PictureKey(const IniEntry& e, std::string& path);
  void LanguageKey(const IniEntry& e);
  bool LanguageText(const IniEntry& e, std::string& utf8, std::string& source);
  void CodePageKey(const IniEntry& e);
  void InputEncodingKey(const IniEntry& e);
  void SettleEncoding(const IniFile& ini);
  void DecodeEntries(IniFile& ini);
  bool Encode(int line, const std::string& what, const std::string& utf8, std::string& out);
  void CompressionKey(const IniEntry& e);
  void LzxWindowKey(const IniEntry& e);
  void LevelKey(const IniEntry& e);
  bool RememberKey(const std::string& section, const IniEntry& e);
  void ExpandEntries(IniFile& ini);
  std::string PathOf(const std::string& value) const { return JoinHostPath(p_.folder, ExpandHome(value)); }
  void OutputKey(const IniEntry& e);
  void BrandKey(const IniEntry& e, std::string& field);
  void CheckCombination();

  Project& p_;
  Diagnostics& d_;
  const std::string file_;
  const Defines& defines_;
  std::map<std::string, std::string> keyNames_;  // "section.key" (upper case) -> as first written
};

// False for a key that is unknown, given twice or without a value (each
// reported), or whose line was reported already.
bool Loader::RememberKey(const std::string& section, const IniEntry& e) {
  if (!e.hasValue) {
    Error(e.line, "expected key = value, found " + e.key);
    return false;
  }
  if (!FindProjectKey(section, e.key)) {
    Error(e.line, "unknown key " + e.key + " in [" + section + "]" + KeySuggestion(section, e.key));
    return false;
  }
  const std::string id = UpperCaseAscii(section + "." + e.key);
  const auto found = p_.keyLines.find(id);
  if (found != p_.keyLines.end()) {
    const std::string& first = keyNames_[id];
    Error(e.line, e.key + " is given twice in [" + section + "] (first at line " +
                      std::to_string(found->second) +
                      (first == e.key ? ")" : " as " + first + "; key names ignore case)"));
    return false;
  }
  p_.keyLines[id] = e.line;
  keyNames_[id] = e.key;
  return !e.broken;
}

// ${...} in every value, and in the stored names of [Files]. A line whose
// expansion fails is reported and kept, marked, so that its key still counts
// as given.
void Loader::ExpandEntries(IniFile& ini) {
  for (IniSection& s : ini.sections) {
    const bool names = SameIniName(s.name, "Files");
    for (IniEntry& e : s.entries) {
      std::string why, value, written, key = e.key;
      const bool ok = ExpandDefines(e.value, defines_, value, why) &&
                      ExpandDefines(e.written, defines_, written, why) &&
                      (!names || ExpandDefines(e.key, defines_, key, why));
      if (!ok) {
        Error(e.line, why);
        e.broken = true;
        continue;
      }
      e.value = value, e.written = written, e.key = key;
    }
  }
}

bool Loader::SetupText(const IniEntry& e) {
  static const struct {
    const char* key;
    std::string SetupScript::*field;
  } texts[] = {
      {"AppName", &SetupScript::AppName},
      {"DestDir", &SetupScript::DestDir},
      {"LaunchFile", &SetupScript::LaunchFile},
      {"ReadmeFile", &SetupScript::ReadmeFile},
      {"RunProgram", &SetupScript::RunProgram},
      {"RunParams", &SetupScript::RunParams},
      {"StartQuestion", &SetupScript::StartQuestion},
      {"FinalMessage", &SetupScript::FinalMessage},
  };
  for (const auto& t : texts) {
    if (SameIniName(e.key, t.key)) {
      const bool commandLine = FindProjectKey("Setup", t.key)->kind == KeyKind::CommandLine;
      Encode(e.line, e.key, commandLine ? e.written : e.value, p_.script.*t.field);
      return true;
    }
  }
  return false;
}

void Loader::SetupKey(const IniEntry& e) {
  if (!RememberKey("Setup", e) || SetupText(e)) return;
  const std::string& v = e.value;
  if (SameIniName(e.key, "Unattended") || SameIniName(e.key, "ShowUnpackPage")) {
    bool& flag = SameIniName(e.key, "Unattended") ? p_.script.Unattended : p_.script.ShowUnpackPage;
    if (!ParseFlag(v, flag)) Error(e.line, e.key + " must be 1 or 0 (or yes/no, true/false), not " + v);
  } else if (SameIniName(e.key, "MinFree")) {
    uint64_t bytes = 0;
    if (SameIniName(v, "auto") || v.empty()) return;
    if (!ParseByteCount(v, bytes))
      return Error(e.line, "MinFree must be a byte count (like 52428800 or 50M) or auto, not " + v);
    p_.script.MinFree = int64_t(bytes);
    p_.minFreeGiven = true;
  } else if (SameIniName(e.key, "OverwriteMode")) {
    const std::string t = UpperCaseAscii(v);
    const int mode = t == "0" || t == "ASK"         ? 0
                     : t == "1" || t == "OVERWRITE" ? 1
                     : t == "2" || t == "KEEP"      ? 2
                                                    : -1;
    if (mode < 0) return Error(e.line, "OverwriteMode must be ask, overwrite or keep (0, 1 or 2), not " + v);
    p_.script.OverwriteMode = uint16_t(mode);
  } else if (SameIniName(e.key, "ReadmeText")) {
    TextFileKey(e, p_.script.ReadmeText);
  } else if (SameIniName(e.key, "LicenseText")) {
    TextFileKey(e, p_.script.LicenseText);
  }
}

void Loader::TextFileKey(const IniEntry& e, std::string& text) {
  if (e.value.empty()) return;
  const std::string path = PathOf(e.value);
  std::string bytes, utf8, encoded, why;
  if (HostKindOf(path) != HostKind::File || !ReadHostText(path, bytes))
    return Error(e.line, e.key + ": cannot read the text file " + path);
  int line = 0;
  if (!DecodeInput(bytes, p_.inputEncoding, p_.codePage, utf8, line, why) ||
      !EncodeLines(utf8, p_.codePage, encoded, line, why)) {
    d_.Error(path, line, why);
    return Error(e.line, e.key + ": the text file " + path + " cannot be stored in code page " +
                             std::to_string(p_.codePage));
  }
  std::vector<std::string> notes;
  const char* terminator = SameIniName(e.key, "ReadmeText") ? kReadmeTerminator : kLicenseTerminator;
  const bool ok = ListTextFromFile(encoded, terminator, text, notes);
  for (const std::string& note : notes) (ok ? d_.Warning(path, 0, note) : d_.Error(path, 0, note));
  if (!ok) Error(e.line, e.key + ": the text file " + path + " cannot be used as it is");
}

void Loader::PathKey(const IniEntry& e, HostKind kind, std::string& path) {
  if (e.value.empty()) return;
  path = PathOf(e.value);
  const HostKind found = HostKindOf(path);
  if (found == HostKind::Missing) return Error(e.line, e.key + ": file not found: " + path);
  if (found != kind)
    Error(e.line, e.key + ": " + path + (kind == HostKind::File ? " is not a file" : " is not a folder"));
}

void Loader::PictureKey(const IniEntry& e, std::string& path) {
  PathKey(e, HostKind::File, path);
  if (path.empty() || HostKindOf(path) != HostKind::File) return;
  std::string why;
  if (!CheckBitmapFile(path, why)) Error(e.line, e.key + ": " + path + ": " + why);
}

// A value without "/", "\\" or "." names a shipped language; anything else is
// the path of a language file.
bool IsLanguageName(const std::string& value) { return value.find_first_of("/\\.") == std::string::npos; }

bool Loader::LanguageText(const IniEntry& e, std::string& utf8, std::string& source) {
  if (IsLanguageName(e.value)) {
    const ShippedLanguage* shipped = FindShippedLanguage(e.value);
    if (!shipped)
      return Error(e.line, "Language: no shipped language is called " + e.value + " (shipped: " +
                               ShippedLanguageNames() + "); give a language file by its path"),
             false;
    p_.language = source = shipped->name;
    utf8 = shipped->utf8Text;
    return true;
  }
  PathKey(e, HostKind::File, p_.language);
  if (HostKindOf(p_.language) != HostKind::File) return false;
  std::string bytes, why;
  int line = 0;
  if (!ReadHostText(p_.language, bytes)) return Error(e.line, "Language: cannot read " + p_.language), false;
  source = p_.language;
  if (!DecodeInput(bytes, p_.inputEncoding, p_.codePage, utf8, line, why))
    return d_.Error(source, line, why), Error(e.line, "Language: " + source + " cannot be read as text"),
           false;
  return true;
}

void Loader::LanguageKey(const IniEntry& e) {
  std::string utf8, source, why;
  if (e.value.empty() || !LanguageText(e, utf8, source)) return;
  int line = 0;
  if (!LanguageBlock(utf8, p_.codePage, p_.languageText, line, why)) {
    d_.Error(source, line, why);
    Error(e.line, "Language: " + source +
                      (line ? " cannot be stored in code page " + std::to_string(p_.codePage)
                            : " is not a language text of 82 messages and the end line"));
  }
}

// Decided before any other key, since they say how every other value is read
// and stored: the code page (by default the language's) and the encoding.
// Their own mistakes are reported where the keys are taken in turn.
void Loader::SettleEncoding(const IniFile& ini) {
  for (const IniSection& s : ini.sections) {
    if (!SameIniName(s.name, "Package")) continue;
    int given = 0;
    for (const IniEntry& e : s.entries) {
      if (SameIniName(e.key, "CodePage")) given = std::atoi(e.value.c_str());
      if (SameIniName(e.key, "InputEncoding") && SameIniName(e.value, "ansi"))
        p_.inputEncoding = InputEncoding::CodePage;
      const ShippedLanguage* shipped =
          SameIniName(e.key, "Language") && IsLanguageName(e.value) ? FindShippedLanguage(e.value) : nullptr;
      if (shipped && !given) p_.codePage = shipped->codePage;
    }
    if (IsSupportedCodePage(given)) p_.codePage = given;
  }
}

// Every key and value as UTF-8, whatever the file was written in; a line that
// is not UTF-8 is reported and left out.
void Loader::DecodeEntries(IniFile& ini) {
  const bool fromCodePage = p_.inputEncoding == InputEncoding::CodePage && !ini.hadByteOrderMark;
  std::string why;
  for (IniSection& s : ini.sections) {
    std::vector<IniEntry> decoded;
    for (IniEntry& e : s.entries) {
      if (fromCodePage) {
        e.key = CodePageToUtf8(e.key, p_.codePage);
        e.value = CodePageToUtf8(e.value, p_.codePage);
        e.written = CodePageToUtf8(e.written, p_.codePage);
      } else if (!CheckUtf8(e.key + e.written, why)) {
        Error(e.line, why + " (write the project file in UTF-8, or declare InputEncoding = ansi)");
        continue;
      }
      decoded.push_back(e);
    }
    s.entries.swap(decoded);
  }
}

bool Loader::Encode(int line, const std::string& what, const std::string& utf8, std::string& out) {
  std::string why;
  if (Utf8ToCodePage(utf8, p_.codePage, out, why)) return true;
  Error(line, what + ": " + why + ", which the package stores its texts in");
  return false;
}

void Loader::CodePageKey(const IniEntry& e) {
  const int codePage = std::atoi(e.value.c_str());
  if (!IsSupportedCodePage(codePage) || std::to_string(codePage) != e.value)
    Error(e.line, "CodePage must be a code page the builder supports: " + std::string(SupportedCodePages()) +
                      ", not " + e.value);
}

void Loader::InputEncodingKey(const IniEntry& e) {
  if (!SameIniName(e.value, "utf-8") && !SameIniName(e.value, "utf8") && !SameIniName(e.value, "ansi"))
    Error(e.line, "InputEncoding must be utf-8 or ansi (the package's code page), not " + e.value);
}

void Loader::CompressionKey(const IniEntry& e) {
  if (!ParseCompressionName(e.value, p_.compression))
    Error(e.line, "Compression must be mszip, lzx or stored, not " + e.value);
}

void Loader::LzxWindowKey(const IniEntry& e) {
  if (!ParseLzxWindow(e.value, p_.lzxWindow))
    Error(e.line, "LzxWindow must be 15 to 21 (a window of 2^n bytes), not " + e.value);
}

void Loader::LevelKey(const IniEntry& e) {
  const std::string& v = e.value;
  if (v.size() == 1 && v[0] >= '0' && v[0] <= '9')
    p_.level = v[0] - '0';
  else
    Error(e.line, "CompressionLevel must be a digit from 0 (fastest) to 9 (smallest), not " + v);
}

void Loader::PackageKey(const IniEntry& e) {
  if (!RememberKey("Package", e)) return;
  const std::string& k = e.key;
  if (SameIniName(k, "Output")) {
    OutputKey(e);
  } else if (SameIniName(k, "Stub")) {
    PathKey(e, HostKind::File, p_.stub);
  } else if (SameIniName(k, "CabinetLibrary")) {
    if (SameIniName(e.value, "none"))
      p_.noCabinetLibrary = true;
    else if (!SameIniName(e.value, "default"))
      PathKey(e, HostKind::File, p_.cabinetLibrary);
  } else if (SameIniName(k, "Password")) {
    Encode(e.line, k, e.value, p_.password);
  } else if (SameIniName(k, "Language")) {
    LanguageKey(e);
  } else if (SameIniName(k, "CodePage")) {
    CodePageKey(e);
  } else if (SameIniName(k, "InputEncoding")) {
    InputEncodingKey(e);
  } else if (SameIniName(k, "SidePicture")) {
    PictureKey(e, p_.sidePicture);
  } else if (SameIniName(k, "HeaderPicture")) {
    PictureKey(e, p_.headerPicture);
  } else if (SameIniName(k, "Compression")) {
    CompressionKey(e);
  } else if (SameIniName(k, "CompressionLevel")) {
    LevelKey(e);
  } else if (SameIniName(k, "LzxWindow")) {
    LzxWindowKey(e);
  } else if (SameIniName(k, "VolumeSize")) {
    if (!ParseByteCount(e.value, p_.volumeSize) || p_.volumeSize > 0x7FFFFFFF)
      Error(e.line, "VolumeSize must be a byte count below 2G (like 1440K or 100M), or 0, not " + e.value);
  } else if (SameIniName(k, "Cabinet")) {
    PathKey(e, HostKind::File, p_.cabinet);
  } else if (std::string* field = BrandField(p_.brand, k)) {
    BrandKey(e, *field);
  }
}

void Loader::BrandKey(const IniEntry& e, std::string& field) {
  if (e.value.empty()) return;
  const bool isIcon = SameIniName(e.key, "Icon");
  if (isIcon) {
    PathKey(e, HostKind::File, field);
    if (HostKindOf(field) != HostKind::File) return;
  } else {
    field = e.value;
  }
  const std::string why = CheckBrandValue(e.key, field);
  if (!why.empty()) Error(e.line, why);
}

// The output is a file: a folder here would fail only once everything is
// built. Missing folders above it are made by the build.
void Loader::OutputKey(const IniEntry& e) {
  if (e.value.empty()) return;
  p_.output = PathOf(e.value);
  const char last = e.value.back();
  if (last == '/' || last == '\\' || HostKindOf(p_.output) == HostKind::Folder)
    Error(e.line, "Output names a folder; give the file: Output = " + e.value +
                      (last == '/' || last == '\\' ? "" : "\\") + "Setup.exe");
}

void Loader::SignKey(const IniEntry& e) {
  if (SameIniName(e.key, "Password"))
    return Error(e.line, "the key's password is never kept in the project: give PasswordFile or PasswordEnv");
  if (!RememberKey("Sign", e)) return;
  const bool isPath = FindProjectKey("Sign", e.key)->kind == KeyKind::Path;
  SetSignKey(e.key, isPath ? ExpandHome(e.value) : e.value, p_.folder, p_.sign);
}

void Loader::CheckCombination() {
  const int cabinetLine = KeyLine(p_, "Package", "Cabinet");
  if (cabinetLine && !p_.files.empty())
    Error(cabinetLine, "Cabinet gives the payload as it is: leave out [Files], or leave out Cabinet");
  if (cabinetLine && p_.volumeSize)
    Error(KeyLine(p_, "Package", "VolumeSize"),
          "VolumeSize splits [Files]; a given Cabinet is used as it is");
  if (p_.password.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    Error(KeyLine(p_, "Package", "Password"), "the password may not hold line breaks");
  for (const std::string& problem : CheckSetupScript(p_.script)) Error(0, problem);
}

void Loader::Load(IniFile& ini) {
  ExpandEntries(ini);
  SettleEncoding(ini);
  DecodeEntries(ini);
  const IniSection* files = nullptr;
  std::map<std::string, int> seen;
  std::map<std::string, std::string> sectionNames;
  for (const IniSection& s : ini.sections) {
    const std::string id = UpperCaseAscii(s.name);
    if (seen.count(id)) {
      const std::string& first = sectionNames[id];
      Error(s.line, "[" + s.name + "] appears twice (first at line " + std::to_string(seen[id]) +
                        (first == s.name ? ")" : " as [" + first + "]; section names ignore case)"));
      continue;
    }
    seen[id] = s.line;
    sectionNames[id] = s.name;
    if (id == "SETUP") {
      for (const IniEntry& e : s.entries) SetupKey(e);
    } else if (id == "PACKAGE") {
      for (const IniEntry& e : s.entries) PackageKey(e);
    } else if (id == "FILES") {
      files = &s;
    } else if (id == "SIGN") {
      for (const IniEntry& e : s.entries) SignKey(e);
    } else {
      Error(s.line, "unknown section [" + s.name + "] (known: [Setup], [Package], [Files], [Sign])" +
                        SectionSuggestion(s.name));
    }
  }
  if (files) CollectPayloadFiles(*files, p_, d_);
  CheckCombination();
  const int appNameLine = KeyLine(p_, "Setup", "AppName");
  if (!seen.count("SETUP"))
    Error(0, "no [Setup] section");
  else if (p_.script.AppName.empty() && !(appNameLine && d_.HasErrorAt(file_, appNameLine)))
    Error(appNameLine ? appNameLine : seen["SETUP"], "[Setup] needs an AppName");
  if (p_.script.DestDir.empty()) p_.script.DestDir = kDefaultDestDir;
}

}  // namespace

namespace {

// UTF-16 with its byte order mark, as Windows tools write it, is read as
// UTF-8; without the mark it cannot be told from damage, so it is refused
// with the fix.
bool TextAsUtf8(const std::string& path, std::string& text, Diagnostics& diagnostics) {
  std::string utf8, why;
  int line = 0;
  if (IsUtf16(text)) {
    if (!Utf16ToUtf8(text, utf8, line, why)) return diagnostics.Error(path, line, why), false;
    text = "\xEF\xBB\xBF" + utf8;
    return true;
  }
  const size_t nul = text.find('\0');
  if (nul != std::string::npos && nul < text.find('\n'))
    return diagnostics.Error(path, 1,
                             "this file looks like UTF-16 without a byte order mark; save it as UTF-8 "
                             "(or as UTF-16 with its mark)"),
           false;
  return true;
}

}  // namespace

bool LoadProject(const std::string& path, Project& project, Diagnostics& diagnostics,
                 const Defines& defines) {
  project = Project();
  project.path = path;
  project.folder = HostFolderOf(path);
  project.script.Line2 = "Veltra setup script";
  std::string text;
  if (HostKindOf(path) != HostKind::File || !ReadHostText(path, text)) {
    diagnostics.Error(path, 0, "cannot read the project file");
    return false;
  }
  if (!TextAsUtf8(path, text, diagnostics)) return false;
  project.read = true;
  std::vector<IniProblem> problems;
  IniFile ini = ParseIni(text, problems);
  for (const IniProblem& p : problems) diagnostics.Error(path, p.line, p.message);
  Loader(project, diagnostics, defines).Load(ini);
  if (project.output.empty()) project.output = JoinHostPath(project.folder, "Setup.exe");
  return !diagnostics.HasErrors();
}

bool ParseCompressionName(const std::string& text, cab::Compression& compression) {
  const std::string t = UpperCaseAscii(text);
  if (t == "MSZIP")
    compression = cab::Compression::MsZip;
  else if (t == "LZX")
    compression = cab::Compression::Lzx;
  else if (t == "STORED" || t == "NONE")
    compression = cab::Compression::Stored;
  else
    return false;
  return true;
}

bool ParseLzxWindow(const std::string& text, int& windowBits) {
  if (text.size() != 2 || text[0] < '1' || text[0] > '2' || text[1] < '0' || text[1] > '9') return false;
  const int v = (text[0] - '0') * 10 + (text[1] - '0');
  if (v < cab::kMinLzxWindow || v > cab::kMaxLzxWindow) return false;
  windowBits = v;
  return true;
}
