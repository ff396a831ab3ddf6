// info, list, extract and verify: reading a finished Setup.exe.
#include <cinttypes>

#include "cmdline.h"
#include "codepage.h"
#include "commands.h"
#include "hostfiles.h"
#include "languages.h"
#include "pkgintegrity.h"
#include "pkgreader.h"
#include "setupscript.h"
#include "szdd.h"
#include "uTrans.h"

namespace {

const char kReadOptions[] = " Setup.exe [--password TEXT]";

bool OpenForReading(const Arguments& args, const std::vector<std::string>& extra, const char* usage,
                    std::FILE* err, CommandLine& line, PackageImage& image, int& code) {
  std::vector<std::string> known = {"--password"};
  known.insert(known.end(), extra.begin(), extra.end());
  std::string error;
  if (!ParseCommandLine(args, known, line, error) || line.positional.size() != 1) {
    code = Usage(err, error.empty() ? "name one Setup.exe" : error, usage);
    return false;
  }
  if (!OpenPackageImage(line.positional[0], image, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    code = 1;
    return false;
  }
  if (image.header.PasswordProtected && !line.Has("--password")) {
    std::fprintf(err, "veltra-pack: %s is protected by a password; give --password\n", image.path.c_str());
    code = 1;
    return false;
  }
  return true;
}

void PrintBlocks(const PackageImage& image, std::FILE* out) {
  const PackageHeader& h = image.header;
  std::fprintf(out, "%s: %" PRIu64 " bytes\n", image.path.c_str(), image.fileSize);
  std::fprintf(out, "PackageBase        %" PRId32 " (value at file offset %" PRId64 ")\n", image.base,
               image.baseField);
  std::fprintf(out,
               "header             Magic $VELTRA$, LangTextSize %" PRId32 ", CabLibSize %" PRId32
               ", InfoCabSize %" PRId32 ", PasswordProtected %u, reserved %" PRId32 " %" PRId32 " %" PRId32
               "\n",
               h.LangTextSize, h.CabLibSize, h.InfoCabSize, unsigned(h.PasswordProtected), h.Reserved1,
               h.Reserved2, h.Reserved3);
  const int64_t payload = int64_t(image.fileSize) - image.blocks.Payload;
  std::fprintf(out, "language text      offset %-10" PRId64 " size %" PRId32 "\n", image.blocks.LangText,
               h.LangTextSize);
  std::fprintf(out, "cabinet library    offset %-10" PRId64 " size %" PRId32, image.blocks.CabLib,
               h.CabLibSize);
  std::string lib;
  SzddHeader szdd;
  if (h.CabLibSize == 0)
    std::fprintf(out, " (none)");
  else if (ReadPackageBlock(image, image.blocks.CabLib, h.CabLibSize, lib) &&
           ReadSzddHeader(reinterpret_cast<const uint8_t*>(lib.data()), lib.size(), szdd))
    std::fprintf(out, " (SZDD, expands to %" PRIu32 " bytes)", szdd.expandedLength);
  else
    std::fprintf(out, " (not SZDD data)");
  std::fprintf(out, "\ninformation cab.   offset %-10" PRId64 " size %" PRId32 " (scrambled)\n",
               image.blocks.InfoCab, h.InfoCabSize);
  std::fprintf(out, "payload cabinet    offset %-10" PRId64 " size %" PRId64 " (%s)\n", image.blocks.Payload,
               payload, h.PasswordProtected ? "scrambled" : "plain");
}

// A name or text of the package as the terminal shows it: from the package's
// code page to UTF-8, control bytes escaped.
std::string ShownText(const std::string& packageText) {
  std::string out;
  for (char c : CodePageToUtf8(packageText, kDefaultCodePage)) {
    const bool control = uint8_t(c) < 0x20 || c == 0x7F;
    out += control ? PrintableText(std::string(1, c)) : std::string(1, c);
  }
  return out;
}

void PrintLanguage(const PackageImage& image, std::FILE* out) {
  std::string text, why;
  LangTable table;
  const bool read = ReadPackageBlock(image, image.blocks.LangText, image.header.LangTextSize, text);
  if (!read || !ValidateLangText(text, table, why)) {
    std::fprintf(out, "language text      unusable: %s\n", read ? why.c_str() : "cannot read");
    return;
  }
  std::string kind = "custom";
  for (const ShippedLanguage& l : ShippedLanguages()) {
    std::string block, why;
    int line = 0;
    if (LanguageBlock(l.utf8Text, l.codePage, block, line, why) && block == text)
      kind = "the shipped " + l.name;
  }
  std::fprintf(out, "language text      %s; message 0 \"%s\"\n", kind.c_str(), ShownText(table[0]).c_str());
}

size_t LineCount(const std::string& list) {
  if (list.empty()) return 0;
  size_t lines = 1;
  for (size_t at = list.find("\r\n"); at != std::string::npos; at = list.find("\r\n", at + 2)) ++lines;
  return lines;
}

void PrintScript(const SetupScript& s, std::FILE* out) {
  const std::pair<const char*, std::string> rows[] = {
      {"AppName", s.AppName},
      {"line 2", s.Line2},
      {"Unattended", s.Unattended ? "1" : "0"},
      {"MinFree", Int64ToText(s.MinFree)},
      {"DestDir", s.DestDir},
      {"OverwriteMode", Int64ToText(s.OverwriteMode)},
      {"ShowUnpackPage", s.ShowUnpackPage ? "1" : "0"},
      {"line 8", s.Line8},
      {"LaunchFile", s.LaunchFile},
      {"ReadmeFile", s.ReadmeFile},
      {"RunProgram", s.RunProgram},
      {"RunParams", s.RunParams},
      {"StartQuestion", s.StartQuestion},
      {"FinalMessage", s.FinalMessage},
  };
  std::fprintf(out, "setup script (~DAT1.)\n");
  for (const auto& row : rows) std::fprintf(out, "  %-16s %s\n", row.first, ShownText(row.second).c_str());
  std::fprintf(out, "  %-16s %zu lines, %zu bytes\n", "ReadmeText", LineCount(s.ReadmeText),
               s.ReadmeText.size());
  std::fprintf(out, "  %-16s %zu lines, %zu bytes\n", "LicenseText", LineCount(s.LicenseText),
               s.LicenseText.size());
}

// What the record in the information cabinet is, for `info`.
std::string RecordSummary(const std::map<std::string, std::string>& files) {
  const auto found = files.find(kIntegrityRecordName);
  if (found == files.end()) return "none (made before the record existed)";
  IntegrityRecord record;
  const IntegrityStatus status = ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(found->second.data()),
                                                      found->second.size(), record);
  if (status == IntegrityStatus::NewerVersion) return "of a newer version, not understood";
  if (status == IntegrityStatus::Damaged) return "damaged";
  return std::to_string(record.entries.size()) + " CRC-32 entries (verify checks them)";
}

bool PrintInfoCabinet(const PackageImage& image, const std::string& password, std::FILE* out,
                      std::FILE* err) {
  std::map<std::string, std::string> files;
  std::string error;
  if (!ReadInfoCabinet(image, password, files, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    return false;
  }
  SetupScript script;
  const auto found = files.find("~DAT1.");
  if (found == files.end() || !ParseSetupScript(found->second, script)) {
    std::fprintf(err, "veltra-pack: the information cabinet holds no readable setup script ~DAT1.\n");
    return false;
  }
  PrintScript(script, out);
  for (const char* picture : {"~DAT2A.", "~DAT2B."}) {
    const auto it = files.find(picture);
    if (it == files.end())
      std::fprintf(out, "picture %-10s none\n", picture);
    else
      std::fprintf(out, "picture %-10s %zu bytes%s\n", picture, it->second.size(),
                   it->second.compare(0, 2, "BM") == 0 ? "" : " (not a bitmap)");
  }
  std::fprintf(out, "integrity record   %s\n", RecordSummary(files).c_str());
  return true;
}

void PrintFiles(const PayloadWalk& walk, std::FILE* out) {
  for (const PackageFile& f : walk.files)
    std::fprintf(out, "  %s %s %10" PRIu32 "  %s\n", DosStampText(f.date, f.time).c_str(),
                 AttributeText(f.attributes).c_str(), f.size, ShownText(f.name).c_str());
}

uint64_t TotalSize(const PayloadWalk& walk) {
  uint64_t total = 0;
  for (const PackageFile& f : walk.files) total += f.size;
  return total;
}

// What the stub needs before the payload: a language text it loads, a
// cabinet library block it can expand, and an information cabinet with a
// setup script it reads to the end.
bool VerifyBlocks(const PackageImage& image, const std::string& password,
                  std::map<std::string, std::string>& files, std::string& error) {
  std::string text, why;
  LangTable table;
  if (!ReadPackageBlock(image, image.blocks.LangText, image.header.LangTextSize, text) ||
      !ValidateLangText(text, table, why))
    return error = "language text: " + why, false;
  std::vector<uint8_t> expanded;
  if (image.header.CabLibSize > 0 &&
      (!ReadPackageBlock(image, image.blocks.CabLib, image.header.CabLibSize, text) ||
       SzddExpand(reinterpret_cast<const uint8_t*>(text.data()), text.size(), expanded) != SzddStatus::Ok))
    return error = "cabinet library: not a complete SZDD file", false;
  if (!ReadInfoCabinet(image, password, files, error)) return false;
  SetupScript script;
  if (!files.count("~DAT1.") || !ParseSetupScript(files["~DAT1."], script))
    return error = "the setup script ~DAT1. is missing or ends before its lists do", false;
  return true;
}

// The integrity record, when the package has one: false when it is damaged
// or anything differs from it, each difference on a line of its own.
bool CheckRecord(const PackageImage& image, const std::map<std::string, std::string>& infoFiles,
                 const PayloadWalk& walk, std::FILE* out, std::FILE* err) {
  const auto found = infoFiles.find(kIntegrityRecordName);
  if (found == infoFiles.end()) {
    std::fprintf(out, "no integrity record (a package made before it existed)\n");
    return true;
  }
  IntegrityRecord record;
  switch (ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(found->second.data()), found->second.size(),
                               record)) {
    case IntegrityStatus::NewerVersion:
      std::fprintf(out, "the integrity record is of a newer version; not checked\n");
      return true;
    case IntegrityStatus::Damaged:
      std::fprintf(err, "veltra-pack: damaged package: the integrity record %s cannot be read\n",
                   kIntegrityRecordName);
      return false;
    case IntegrityStatus::Ok: break;
  }
  std::vector<std::string> problems;
  CheckPackageIntegrity(image, record, walk, problems);
  for (const std::string& p : problems) std::fprintf(err, "veltra-pack: damaged package: %s\n", p.c_str());
  if (problems.empty()) std::fprintf(out, "integrity record: all %zu entries match\n", record.entries.size());
  return problems.empty();
}

int WalkCommand(const Arguments& args, PayloadAction action, const char* usage, std::FILE* out,
                std::FILE* err) {
  CommandLine line;
  PackageImage image;
  int code = 0;
  const std::vector<std::string> extra =
      action == PayloadAction::Extract ? std::vector<std::string>{"--to"} : std::vector<std::string>{};
  if (!OpenForReading(args, extra, usage, err, line, image, code)) return code;
  const std::string target = line.Has("--to") ? line.Get("--to") : ".";
  PayloadWalk walk;
  std::string error;
  std::map<std::string, std::string> infoFiles;
  if (action == PayloadAction::Verify && !VerifyBlocks(image, line.Get("--password"), infoFiles, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    return 1;
  }
  if (!WalkPayload(image, line.Get("--password"), action, target, walk, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    return 1;
  }
  if (action == PayloadAction::Verify && !CheckRecord(image, infoFiles, walk, out, err)) return 1;
  if (action == PayloadAction::List) PrintFiles(walk, out);
  std::fprintf(out, "%zu files, %" PRIu64 " bytes in %zu volume(s)%s\n", walk.files.size(), TotalSize(walk),
               walk.volumes.size(),
               action == PayloadAction::Verify ? ": all data read back and checked" : "");
  return 0;
}

}  // namespace

int InfoCommand(const Arguments& args, std::FILE* out, std::FILE* err) {
  const std::string usage = std::string("info") + kReadOptions;
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, {"--password"}, line, error) || line.positional.size() != 1)
    return Usage(err, error.empty() ? "name one Setup.exe" : error, usage.c_str());
  PackageImage image;
  if (!OpenPackageImage(line.positional[0], image, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    return 1;
  }
  PrintBlocks(image, out);
  PrintLanguage(image, out);
  if (image.header.PasswordProtected && !line.Has("--password")) {
    std::fprintf(out, "protected by a password: give --password to show the setup script and the files\n");
    return 0;
  }
  const std::string password = line.Get("--password");
  if (!PrintInfoCabinet(image, password, out, err)) return 1;
  PayloadWalk walk;
  if (!WalkPayload(image, password, PayloadAction::List, "", walk, error)) {
    std::fprintf(err, "veltra-pack: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(out, "payload            %zu files, %" PRIu64 " bytes in %zu volume(s):", walk.files.size(),
               TotalSize(walk), walk.volumes.size());
  for (const std::string& v : walk.volumes) std::fprintf(out, " %s", v.c_str());
  std::fprintf(out, "\n");
  PrintFiles(walk, out);
  return 0;
}

int ListCommand(const Arguments& args, std::FILE* out, std::FILE* err) {
  return WalkCommand(args, PayloadAction::List, "list Setup.exe [--password TEXT]", out, err);
}

int ExtractCommand(const Arguments& args, std::FILE* out, std::FILE* err) {
  return WalkCommand(args, PayloadAction::Extract, "extract Setup.exe [--to FOLDER] [--password TEXT]", out,
                     err);
}

int VerifyCommand(const Arguments& args, std::FILE* out, std::FILE* err) {
  return WalkCommand(args, PayloadAction::Verify, "verify Setup.exe [--password TEXT]", out, err);
}
