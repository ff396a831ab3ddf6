#include "commands.h"

#include <cinttypes>
#include <map>

#include "builder.h"
#include "cmdline.h"
#include "hostfiles.h"
#include "pkgreader.h"
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

int BuildCommand(const Arguments& args, std::FILE* out, std::FILE* err) {
  static const char usage[] =
      "build PROJECT.ini [-o Setup.exe] [--stub FILE] [--cablib FILE|none] [--password TEXT]\n"
      "      [--compression mszip|lzx|stored] [--lzx-window 15..21]";
  CommandLine line;
  std::string error;
  if (!ParseCommandLine(args, {"-o", "--stub", "--cablib", "--password", "--compression", "--lzx-window"},
                        line, error))
    return Usage(err, error, usage);
  BuildOverrides overrides;
  overrides.hasCompression = line.Has("--compression");
  if (overrides.hasCompression && !ParseCompressionName(line.Get("--compression"), overrides.compression))
    return Usage(err, "--compression must be mszip, lzx or stored", usage);
  if (line.Has("--lzx-window") && !ParseLzxWindow(line.Get("--lzx-window"), overrides.lzxWindow))
    return Usage(err, "--lzx-window must be 15 to 21", usage);
  if (line.positional.size() != 1) return Usage(err, "name one project file", usage);
  Diagnostics d;
  Project project;
  if (!LoadProject(line.positional[0], project, d)) {
    PrintDiagnostics(d, err);
    std::fprintf(err, "veltra-pack: %zu error(s); nothing written\n", d.Errors().size());
    return 1;
  }
  overrides.output = line.Get("-o");
  overrides.stub = line.Get("--stub");
  overrides.cabinetLibrary = line.Get("--cablib");
  overrides.hasPassword = line.Has("--password");
  overrides.password = line.Get("--password");
  BuildResult result;
  const bool built = BuildPackage(project, overrides, result, d);
  PrintDiagnostics(d, err);
  if (!built) {
    std::fprintf(err, "veltra-pack: build failed; nothing written\n");
    return 1;
  }
  std::fprintf(out, "%s: %" PRIu64 " bytes, %" PRIu64 " files (%" PRIu64 " bytes), MinFree %" PRId64 "\n",
               result.outputs[0].c_str(), result.setupSize, result.payloadFiles, result.payloadBytes,
               result.minFree);
  for (size_t i = 1; i < result.outputs.size(); ++i)
    std::fprintf(out, "%s: volume %zu\n", result.outputs[i].c_str(), i + 1);
  return 0;
}
