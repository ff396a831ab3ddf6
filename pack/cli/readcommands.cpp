// info, list, extract and verify: reading a finished Setup.exe.
#include <cinttypes>

#include "codepage.h"
#include "commands.h"
#include "hostfiles.h"
#include "infocabinet.h"
#include "languages.h"
#include "packjson.h"
#include "pkgintegrity.h"
#include "pkgreader.h"
#include "setupscript.h"
#include "signing.h"
#include "storednames.h"
#include "szdd.h"
#include "uTrans.h"

namespace {

bool OpenForReading(const ReadOptions& o, std::FILE* err, PackageImage& image) {
  std::string error;
  if (!OpenPackageImage(o.setup, image, error)) {
    std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str());
    return false;
  }
  if (image.header.PasswordProtected && !o.hasPassword) {
    std::fprintf(err,
                 "veltra-pack: %s is protected by a password; give --password-file, --password-env or "
                 "--password\n",
                 image.path.c_str());
    return false;
  }
  return true;
}

void PrintSignature(const SignatureFacts& f, std::FILE* out) {
  if (!f.checked) {
    std::fprintf(out, "signature          not checked: %s\n", f.problem.c_str());
  } else if (!f.present) {
    std::fprintf(out, "signature          none\n");
  } else if (!f.coversFile) {
    std::fprintf(out,
                 "signature          DOES NOT MATCH the file: changed after signing (signer not read)\n");
  } else {
    std::fprintf(out, "signature          by %s (issued by %s), signed %s%s; covers the file as it is\n",
                 f.signer.c_str(), f.issuer.c_str(),
                 f.signingTime.empty() ? "at no stated time" : f.signingTime.c_str(),
                 f.timestamped ? ", timestamped" : "");
  }
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
  if (h.PasswordProtected) std::fprintf(out, "\npassword           %s", kPasswordScramblesNote);
  std::fprintf(out, "\ninformation cab.   offset %-10" PRId64 " size %" PRId32 " (scrambled)\n",
               image.blocks.InfoCab, h.InfoCabSize);
  std::fprintf(out, "payload cabinet    offset %-10" PRId64 " size %" PRId64 " (%s)\n", image.blocks.Payload,
               payload, h.PasswordProtected ? "scrambled" : "plain");
}

// A name or text of the package as the terminal shows it.
std::string ShownText(const std::string& packageText, int codePage) {
  return TerminalText(packageText, codePage);
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
    if (LanguageBlock(l.utf8Text, l.codePage, block, line, why) &&
        (block == text || block + CodePageLine(image.codePage) == text))
      kind = "the shipped " + l.name;
  }
  std::fprintf(out, "language text      %s; message 0 \"%s\"\n", kind.c_str(),
               ShownText(table[0], image.codePage).c_str());
  std::fprintf(
      out, "code page          %d%s\n", image.codePage,
      image.codePageRecorded ? "" : " (none recorded: names and texts are ASCII, or an older package)");
}

size_t LineCount(const std::string& list) {
  if (list.empty()) return 0;
  size_t lines = 1;
  for (size_t at = list.find("\r\n"); at != std::string::npos; at = list.find("\r\n", at + 2)) ++lines;
  return lines;
}

void PrintScript(const SetupScript& s, int codePage, std::FILE* out) {
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
  std::fprintf(out, "setup script (%s)\n", kSetupScriptName);
  for (const auto& row : rows)
    std::fprintf(out, "  %-16s %s\n", row.first, ShownText(row.second, codePage).c_str());
  std::fprintf(out, "  %-16s %zu lines, %zu bytes\n", "ReadmeText", LineCount(s.ReadmeText),
               s.ReadmeText.size());
  std::fprintf(out, "  %-16s %zu lines, %zu bytes\n", "LicenseText", LineCount(s.LicenseText),
               s.LicenseText.size());
}

// The version-2 entries, when the package has them (NewerVersion without).
IntegrityStatus ReadDigests(const std::map<std::string, std::string>& files, IntegrityRecord& digests) {
  const auto found = files.find(kIntegrityDigestsName);
  if (found == files.end()) return IntegrityStatus::NewerVersion;
  return ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(found->second.data()), found->second.size(),
                              digests);
}

std::string DigestsNote(IntegrityStatus status, const IntegrityRecord& digests) {
  if (status != IntegrityStatus::Ok) return "";
  return ", " + std::to_string(digests.entries.size()) + " follow-up volume(s) by SHA-256";
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
  IntegrityRecord digests;
  const IntegrityStatus digestStatus = ReadDigests(files, digests);
  return std::to_string(record.entries.size()) + " CRC-32 entries" + DigestsNote(digestStatus, digests) +
         (digestStatus == IntegrityStatus::Damaged ? ", SHA-256 entries damaged" : "") +
         " (verify checks them)";
}

bool PrintInfoCabinet(const PackageImage& image, const std::string& password, std::FILE* out,
                      std::FILE* err) {
  std::map<std::string, std::string> files;
  std::string error;
  if (!ReadInfoCabinet(image, password, files, error)) {
    std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str());
    return false;
  }
  SetupScript script;
  const auto found = files.find(kSetupScriptName);
  if (found == files.end() || !ParseSetupScript(found->second, script)) {
    std::fprintf(err, "veltra-pack: the information cabinet holds no readable setup script %s\n",
                 kSetupScriptName);
    return false;
  }
  PrintScript(script, image.codePage, out);
  for (const char* picture : {kSidePictureName, kHeaderPictureName}) {
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

void PrintFiles(const PayloadWalk& walk, int codePage, std::FILE* out) {
  for (const PackageFile& f : walk.files)
    std::fprintf(out, "  %s %s %10" PRIu32 "  %s\n", DosStampText(f.date, f.time).c_str(),
                 AttributeText(f.attributes).c_str(), f.size, ShownText(f.name, codePage).c_str());
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
  if (!files.count(kSetupScriptName) || !ParseSetupScript(files[kSetupScriptName], script))
    return error = std::string("the setup script ") + kSetupScriptName +
                   " is missing or ends before its lists do",
           false;
  return true;
}

// The integrity record, when the package has one: each difference from it
// (or its damage) goes into `problems`; `note` says what was checked.
void CheckRecord(const PackageImage& image, const std::map<std::string, std::string>& infoFiles,
                 const PayloadWalk& walk, std::string& note, std::vector<std::string>& problems) {
  const auto found = infoFiles.find(kIntegrityRecordName);
  if (found == infoFiles.end()) {
    note = "no integrity record (a package made before it existed)";
    return;
  }
  IntegrityRecord record;
  switch (ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(found->second.data()), found->second.size(),
                               record)) {
    case IntegrityStatus::NewerVersion:
      note = "the integrity record is of a newer version; not checked";
      return;
    case IntegrityStatus::Damaged:
      problems.push_back(std::string("damaged package: the integrity record ") + kIntegrityRecordName +
                         " cannot be read");
      return;
    case IntegrityStatus::Ok: break;
  }
  IntegrityRecord digests;
  const IntegrityStatus digestStatus = ReadDigests(infoFiles, digests);
  if (digestStatus == IntegrityStatus::Damaged)
    problems.push_back(std::string("damaged package: the SHA-256 entries ") + kIntegrityDigestsName +
                       " cannot be read");
  std::vector<std::string> differences;
  CheckPackageIntegrity(image, record, digestStatus == IntegrityStatus::Ok ? &digests : nullptr, walk,
                        differences);
  for (const std::string& d : differences) problems.push_back("damaged package: " + d);
  if (differences.empty())
    note = "integrity record: all " + std::to_string(record.entries.size()) + " entries match" +
           DigestsNote(digestStatus, digests);
}

// Verify's problems, each on a line of its own on stderr; a signature that
// no longer covers the file is one of them.
int VerifyReport(const ReadOptions& o, const PackageImage& image, const PayloadWalk& walk,
                 const std::vector<std::string>& problems, const std::string& recordNote, std::FILE* out,
                 std::FILE* err) {
  const SignatureFacts signature = ReadSignature(image.path, o.ca);
  std::vector<std::string> all = problems;
  // With --ca the question is whether the file is signed by that
  // authority: no answer, or no signature, is a no.
  if (!o.ca.empty() && !signature.checked)
    all.push_back("the signature cannot be checked against " + o.ca + ": " + signature.problem);
  if (!o.ca.empty() && signature.checked && !signature.present)
    all.push_back("the file is not signed, so it does not chain to " + o.ca);
  if (signature.present && !signature.coversFile)
    all.push_back("the signature does not cover the file as it is: changed after signing");
  if (signature.present && !o.ca.empty() && !signature.chainTrusted)
    all.push_back("the signer does not chain to " + o.ca +
                  (signature.problem.empty() ? "" : ": " + signature.problem));
  if (o.json) {
    std::fprintf(out, "%s\n", VerifyJson(image, walk, all, recordNote, signature).dump(2).c_str());
    return all.empty() ? 0 : 1;
  }
  for (const std::string& p : all) std::fprintf(err, "veltra-pack: %s\n", EscapeControls(p).c_str());
  if (!recordNote.empty()) std::fprintf(out, "%s\n", recordNote.c_str());
  PrintSignature(signature, out);
  if (!all.empty()) return 1;
  std::fprintf(out, "%zu files, %" PRIu64 " bytes in %zu volume(s): all data read back and checked\n",
               walk.files.size(), TotalSize(walk), walk.volumes.size());
  return 0;
}

int WalkCommand(const ReadOptions& o, PayloadAction action, std::FILE* out, std::FILE* err) {
  PackageImage image;
  if (!OpenForReading(o, err, image)) return 1;
  PayloadWalk walk;
  std::string error;
  std::map<std::string, std::string> infoFiles;
  std::vector<std::string> problems;
  if (action == PayloadAction::Verify && !VerifyBlocks(image, o.password, infoFiles, error)) {
    problems.push_back(error);
  } else if (!WalkPayload(image, o.password, action, ExtractTarget{o.to, o.overwrite}, walk, error)) {
    if (action != PayloadAction::Verify)
      return std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str()), 1;
    problems.push_back(error);
  }
  if (action == PayloadAction::Verify) {
    std::string note;
    if (problems.empty()) CheckRecord(image, infoFiles, walk, note, problems);
    return VerifyReport(o, image, walk, problems, note, out, err);
  }
  if (action == PayloadAction::List && o.json) {
    std::fprintf(out, "%s\n", ListJson(image, walk).dump(2).c_str());
    return 0;
  }
  if (action == PayloadAction::List) PrintFiles(walk, image.codePage, out);
  std::fprintf(out, "%zu files, %" PRIu64 " bytes in %zu volume(s)\n", walk.files.size(), TotalSize(walk),
               walk.volumes.size());
  for (const std::string& kept : walk.kept)
    std::fprintf(err, "veltra-pack: %s exists; kept as it was (give --overwrite to replace it)\n",
                 EscapeControls(kept).c_str());
  if (!walk.kept.empty()) std::fprintf(err, "veltra-pack: %zu file(s) not extracted\n", walk.kept.size());
  return walk.kept.empty() ? 0 : 1;
}

int InfoJsonCommand(const ReadOptions& o, const PackageImage& image, std::FILE* out, std::FILE* err) {
  std::map<std::string, std::string> files;
  PayloadWalk walk;
  std::string error;
  const bool locked = image.header.PasswordProtected && !o.hasPassword;
  if (!locked && (!ReadInfoCabinet(image, o.password, files, error) ||
                  !WalkPayload(image, o.password, PayloadAction::List, ExtractTarget(), walk, error))) {
    std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str());
    return 1;
  }
  std::fprintf(out, "%s\n",
               InfoJson(image, locked ? nullptr : &files, locked ? nullptr : &walk, RecordSummary(files),
                        ReadSignature(image.path, ""))
                   .dump(2)
                   .c_str());
  return 0;
}

}  // namespace

int InfoCommand(const ReadOptions& o, std::FILE* out, std::FILE* err) {
  PackageImage image;
  std::string error;
  if (!OpenPackageImage(o.setup, image, error)) {
    std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str());
    return 1;
  }
  if (o.json) return InfoJsonCommand(o, image, out, err);
  PrintBlocks(image, out);
  PrintLanguage(image, out);
  PrintSignature(ReadSignature(image.path, ""), out);
  if (image.header.PasswordProtected && !o.hasPassword) {
    std::fprintf(out,
                 "protected by a password: give --password-file, --password-env or --password to show the "
                 "setup script and the files\n");
    return 0;
  }
  if (!PrintInfoCabinet(image, o.password, out, err)) return 1;
  PayloadWalk walk;
  if (!WalkPayload(image, o.password, PayloadAction::List, ExtractTarget(), walk, error)) {
    std::fprintf(err, "veltra-pack: %s\n", EscapeControls(error).c_str());
    return 1;
  }
  std::fprintf(out, "payload            %zu files, %" PRIu64 " bytes in %zu volume(s):", walk.files.size(),
               TotalSize(walk), walk.volumes.size());
  for (const std::string& v : walk.volumes) std::fprintf(out, " %s", v.c_str());
  std::fprintf(out, "\n");
  PrintFiles(walk, image.codePage, out);
  return 0;
}

int ListCommand(const ReadOptions& o, std::FILE* out, std::FILE* err) {
  return WalkCommand(o, PayloadAction::List, out, err);
}

int ExtractCommand(const ReadOptions& o, std::FILE* out, std::FILE* err) {
  return WalkCommand(o, PayloadAction::Extract, out, err);
}

int VerifyCommand(const ReadOptions& o, std::FILE* out, std::FILE* err) {
  return WalkCommand(o, PayloadAction::Verify, out, err);
}
