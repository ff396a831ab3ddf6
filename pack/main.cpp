// veltra-pack: the package builder's command line.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "assemble.h"
#include "commands.h"
#include "uTrans.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  veltra-pack build PROJECT.ini [-o Setup.exe] [--stub FILE] [--cablib FILE|none]\n"
    "                    [--password TEXT] [--compression mszip|lzx|stored] [--lzx-window 15..21]\n"
    "      Builds Setup.exe (and its follow-up volumes) from a project file; the\n"
    "      options override the project's Compression and LzxWindow.\n"
    "  veltra-pack info Setup.exe [--password TEXT]\n"
    "      Shows the header, the blocks, the setup script and the files.\n"
    "  veltra-pack list Setup.exe [--password TEXT]\n"
    "  veltra-pack extract Setup.exe [--to FOLDER] [--password TEXT]\n"
    "  veltra-pack verify Setup.exe [--password TEXT]\n"
    "      Lists, extracts, or decompresses and checks the payload without running it.\n"
    "  veltra-pack assemble --stub FILE --info CAB --payload CAB --out FILE\n"
    "                       [--lang FILE] [--cablib FILE] [--password TEXT]\n"
    "      Appends a package made of the given blocks to a copy of the stub.\n"
    "      --lang    language text (82 lines and the 0x01 end line); default:\n"
    "                the built-in English texts\n"
    "      --cablib  SZDD-compressed cabinet library for block 3; default: none\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "veltra-pack: %s\n", message.c_str());
  return 1;
}

// Options of the form --name value; false on an unknown or incomplete one.
bool ParseOptions(int argc, char** argv, const char* const* known,
                  std::map<std::string, std::string>& options, std::string& error) {
  for (int i = 2; i < argc; i += 2) {
    std::string name = argv[i];
    bool isKnown = false;
    for (const char* const* k = known; *k; ++k) isKnown = isKnown || name == *k;
    if (!isKnown) {
      error = "unknown option " + name;
      return false;
    }
    if (i + 1 >= argc) {
      error = name + " needs a value";
      return false;
    }
    options[name.substr(2)] = argv[i + 1];
  }
  return true;
}

bool ReadInput(const std::map<std::string, std::string>& options, const char* name, Bytes& bytes,
               std::string& error) {
  const auto it = options.find(name);
  if (it == options.end()) return true;
  if (!ReadWholeFile(it->second, bytes)) {
    error = it->second + ": cannot read";
    return false;
  }
  return true;
}

int Assemble(int argc, char** argv) {
  static const char* const known[] = {"--stub", "--info",   "--payload",  "--out",
                                      "--lang", "--cablib", "--password", nullptr};
  std::map<std::string, std::string> options;
  std::string error;
  if (!ParseOptions(argc, argv, known, options, error)) return Fail(error);
  for (const char* required : {"stub", "info", "payload", "out"}) {
    if (!options.count(required)) return Fail(std::string("missing --") + required);
  }
  PackageParts parts;
  Bytes lang;
  if (!ReadInput(options, "stub", parts.Stub, error) || !ReadInput(options, "info", parts.InfoCab, error) ||
      !ReadInput(options, "payload", parts.Payload, error) ||
      !ReadInput(options, "cablib", parts.CabLib, error) || !ReadInput(options, "lang", lang, error)) {
    return Fail(error);
  }
  if (options.count("lang")) {
    parts.LangText.assign(lang.begin(), lang.end());
    LangTable table;
    if (!ValidateLangText(parts.LangText, table, error)) return Fail(options["lang"] + ": " + error);
  } else {
    parts.LangText = WriteLangText(DefaultLangTable());
  }
  parts.Password = options["password"];
  Bytes image;
  if (!AssemblePackage(parts, image, error)) return Fail(options["stub"] + ": " + error);
  if (!WriteFileAtomically(options["out"], image, error)) return Fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "assemble") == 0) return Assemble(argc, argv);
  static const struct {
    const char* name;
    int (*run)(const Arguments&, std::FILE*, std::FILE*);
  } commands[] = {{"build", BuildCommand},
                  {"info", InfoCommand},
                  {"list", ListCommand},
                  {"extract", ExtractCommand},
                  {"verify", VerifyCommand}};
  for (const auto& c : commands) {
    if (argc >= 2 && std::strcmp(argv[1], c.name) == 0)
      return c.run(Arguments(argv + 2, argv + argc), stdout, stderr);
  }
  std::fputs(kUsage, argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
  return argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
