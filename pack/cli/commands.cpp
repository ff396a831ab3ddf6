#include "commands.h"

#include <cinttypes>
#include <map>
#include <memory>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "builder.h"
#include "assemble.h"
#include "hostfiles.h"
#include "pkgreader.h"
#include "progress.h"
#include "setupscript.h"
#include "szdd.h"
#include "uTrans.h"

namespace {

void PrintDiagnostics(const Diagnostics& d, std::FILE* err) {
  for (const std::string& w : d.Warnings()) std::fprintf(err, "%s\n", w.c_str());
  for (const std::string& e : d.Errors()) std::fprintf(err, "%s\n", e.c_str());
}

}  // namespace

std::string PrintableText(const std::string& text) {
  std::string out;
  for (char c : text) {
    const uint8_t b = uint8_t(c);
    if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      out += escape;
    }
  }
  return out;
}

std::string DosStampText(uint16_t date, uint16_t time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

std::string AttributeText(uint16_t a) {
  return std::string(a & 0x01 ? "R" : "-") + (a & 0x02 ? "H" : "-") + (a & 0x04 ? "S" : "-") +
         (a & 0x20 ? "A" : "-");
}

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

bool ShowsProgress(ProgressMode mode, std::FILE* err) {
  return mode == ProgressMode::On || (mode == ProgressMode::Auto && err == stderr && StderrIsTerminal());
}

uint64_t TotalBytes(const Project& project) {
  uint64_t total = 0;
  for (const PayloadFile& f : project.files) total += f.size;
  return total;
}

}  // namespace

int BuildCommand(const BuildOptions& options, std::FILE* out, std::FILE* err) {
  // -o names the file; a folder here would fail only once everything is built.
  const std::string& o = options.overrides.output;
  if (!o.empty() && (o.back() == '/' || o.back() == '\\' || HostKindOf(o) == HostKind::Folder)) {
    const bool ends = o.back() == '/' || o.back() == '\\';
    std::fprintf(err, "veltra-pack: -o names the folder %s; give the file: -o %s%sSetup.exe\n", o.c_str(),
                 o.c_str(), ends ? "" : "/");
    return 2;
  }
  Diagnostics d;
  Project project;
  // A project with mistakes still goes through the build's own checks, which
  // stop before anything is written, so that one run reports every fault.
  if (!LoadProject(options.project, project, d, options.defines) && !project.read) {
    PrintDiagnostics(d, err);
    std::fprintf(err, "veltra-pack: %zu error(s); nothing written\n", d.Errors().size());
    return 1;
  }
  BuildOverrides overrides = options.overrides;
  std::unique_ptr<ProgressMeter> meter;
  if (!d.HasErrors() && ShowsProgress(options.progress, err) && !project.files.empty()) {
    const int threads = overrides.threads > 0 ? overrides.threads : DefaultThreads();
    meter.reset(new ProgressMeter(err, StderrIsTerminal() && err == stderr, project.files.size(),
                                  TotalBytes(project), threads));
    overrides.progress = [&meter](uint64_t files, uint64_t bytes) { meter->Update(files, bytes); };
  }
  BuildResult result;
  const bool built = BuildPackage(project, overrides, result, d);
  if (meter) meter->Finish();
  PrintDiagnostics(d, err);
  if (!built) {
    std::fprintf(err, "veltra-pack: %zu error(s); nothing written\n", d.Errors().size());
    return 1;
  }
  std::fprintf(out, "%s: %" PRIu64 " bytes, %" PRIu64 " files (%" PRIu64 " bytes), MinFree %" PRId64 "%s\n",
               result.outputs[0].c_str(), result.setupSize, result.payloadFiles, result.payloadBytes,
               result.minFree, result.isSigned ? ", signed" : "");
  for (size_t i = 1; i < result.outputs.size(); ++i)
    std::fprintf(out, "%s: volume %zu\n", result.outputs[i].c_str(), i + 1);
  return 0;
}

namespace {

bool ReadInput(const std::string& path, Bytes& bytes, std::string& error) {
  if (path.empty() || ReadWholeFile(path, bytes)) return true;
  error = path + ": cannot read";
  return false;
}

int Fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "veltra-pack: %s\n", message.c_str());
  return 1;
}

}  // namespace

int AssembleCommand(const AssembleOptions& o, std::FILE*, std::FILE* err) {
  PackageParts parts;
  Bytes lang;
  std::string error;
  if (!ReadInput(o.stub, parts.Stub, error) || !ReadInput(o.info, parts.InfoCab, error) ||
      !ReadInput(o.payload, parts.Payload, error) || !ReadInput(o.cablib, parts.CabLib, error) ||
      !ReadInput(o.lang, lang, error))
    return Fail(err, error);
  if (!o.lang.empty()) {
    parts.LangText.assign(lang.begin(), lang.end());
    LangTable table;
    if (!ValidateLangText(parts.LangText, table, error)) return Fail(err, o.lang + ": " + error);
  } else {
    parts.LangText = WriteLangText(DefaultLangTable());
  }
  parts.Password = o.password;
  Bytes image;
  if (!AssemblePackage(parts, image, error)) return Fail(err, o.stub + ": " + error);
  if (!WriteFileAtomically(o.out, image, error)) return Fail(err, error);
  return 0;
}
