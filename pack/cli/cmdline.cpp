#include "cmdline.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "hostfiles.h"
#include "manual.h"
#include "project.h"
#include "projectkeys.h"

#ifndef VELTRA_VERSION
#define VELTRA_VERSION "unknown"
#endif

namespace {

// More would only cost memory: the work is cut into 32 KiB blocks.
constexpr long kMaxThreads = 256;
constexpr uint64_t kMinFolderSize = 32 * 1024;  // one data block

const char kDescription[] =
    "veltra-pack builds self-extracting Setup.exe packages for 32-bit Windows from a project file,\n"
    "and inspects, verifies and extracts finished ones without running them.\n"
    "A package password scrambles the package; it does not encrypt it: anyone who has the package\n"
    "can read the payload.";

// Where a package password may come from: the command line shows it to
// every user in the process list, so a file or a variable is preferred.
struct PasswordSource {
  std::string text, file, env;
};

void AddPasswordOptions(CLI::App& command, PasswordSource& p, const char* what) {
  const std::string group = std::string("Password (") + kPasswordScramblesNote + ")";
  auto* file = command.add_option("--password-file", p.file, std::string("file whose first line is ") + what)
                   ->group(group);
  auto* env =
      command.add_option("--password-env", p.env, std::string("environment variable that holds ") + what)
          ->group(group);
  command
      .add_option("--password", p.text,
                  std::string(what) + " itself (visible to other users; prefer the two above)")
      ->group(group)
      ->excludes(file)
      ->excludes(env);
  file->excludes(env);
}

// The password from the option given; false with the reason. A password on
// the command line is taken, with a warning.
bool ResolvePassword(const CLI::App& command, const PasswordSource& p, bool& given, std::string& password,
                     std::FILE* err) {
  given = true;
  if (command.count("--password-file")) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(p.file, bytes))
      return std::fprintf(err, "veltra-pack: %s: cannot read the password file\n", p.file.c_str()), false;
    password.assign(bytes.begin(), bytes.end());
    password = password.substr(0, password.find_first_of("\r\n"));
  } else if (command.count("--password-env")) {
    const char* value = std::getenv(p.env.c_str());
    if (!value)
      return std::fprintf(err, "veltra-pack: the environment variable %s (the password) is not set\n",
                          p.env.c_str()),
             false;
    password = value;
  } else if (command.count("--password")) {
    std::fprintf(err,
                 "veltra-pack: warning: --password shows the password to every user of this machine; use "
                 "--password-file or --password-env\n");
    password = p.text;
  } else {
    given = false;
  }
  return true;
}

CLI::App* AddReadCommand(CLI::App& app, const char* name, const char* help, ReadOptions& o,
                         PasswordSource& password) {
  CLI::App* c = app.add_subcommand(name, help);
  c->add_option("setup", o.setup, "the Setup.exe to read")->required();
  AddPasswordOptions(*c, password, "the package's password, when it has one");
  return c;
}

void AddSignOptions(CLI::App& build, SignSettings& s, bool& noSign) {
  const char* group = "Signing (over the project's [Sign])";
  auto* cert =
      build.add_option("--sign-cert", s.certificate, "PEM certificate of the signer (with its chain)")
          ->group(group);
  auto* key = build.add_option("--sign-key", s.key, "PEM private key of that certificate")->group(group);
  build.add_option("--sign-pkcs12", s.pkcs12, "certificate and key in one PKCS#12 file")
      ->group(group)
      ->excludes(cert)
      ->excludes(key);
  auto* passwordFile =
      build.add_option("--sign-password-file", s.passwordFile, "file whose first line is the key's password")
          ->group(group);
  build
      .add_option("--sign-password-env", s.passwordEnv, "environment variable that holds the key's password")
      ->group(group)
      ->excludes(passwordFile);
  build.add_option("--sign-description", s.description, "program description in the signature")->group(group);
  build.add_option("--sign-url", s.url, "program web page in the signature")->group(group);
  build.add_option("--sign-timestamp", s.timestampServer, "RFC 3161 timestamp server URL")->group(group);
  auto* no = build.add_flag("--no-sign", noSign, "leave Setup.exe unsigned even when the project has [Sign]")
                 ->group(group);
  for (CLI::Option* option : build.get_options()) {
    if (option->get_name().rfind("--sign-", 0) == 0) no->excludes(option);
  }
}

// --icon, --product-name and so on: each brand key as an option, named by
// the key in lower case with dashes between its words.
void AddBrandOptions(CLI::App& build, BrandSettings& s) {
  for (const std::string& key : BrandKeys()) {
    std::string option = "--";
    for (char c : key) {
      if (c >= 'A' && c <= 'Z' && option.size() > 2) option += '-';
      option += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    const ProjectKey* k = FindProjectKey("Package", key);
    build.add_option(option, *BrandField(s, key), std::string(k->meaning) + " (over " + key + ")")
        ->group("Branding (over the project's keys)");
  }
}

// -D NAME=VALUE, any number of times, for ${NAME} in the project.
void AddDefineOption(CLI::App& build, Defines& defines) {
  build
      .add_option_function<std::string>(
          "-D,--define",
          [&defines](const std::string& item) {
            const size_t equals = item.find('=');
            const std::string name = item.substr(0, equals);
            if (equals == std::string::npos || !IsDefineName(name))
              throw CLI::ValidationError("-D",
                                         "give NAME=VALUE, a NAME of letters, digits and _, not " + item);
            if (!defines.emplace(name, item.substr(equals + 1)).second)
              throw CLI::ValidationError("-D", name + " is defined twice");
          },
          "a value for ${NAME} in the project (repeatable)")
      ->type_name("NAME=VALUE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->trigger_on_parse();
}

CLI::App* AddBuildCommand(CLI::App& app, BuildOptions& o, PasswordSource& password) {
  CLI::App* c =
      app.add_subcommand("build", "Builds Setup.exe (and its follow-up volumes) from a project file.");
  BuildOverrides& v = o.overrides;
  c->add_option("project", o.project, "the project file (PROJECT.ini)")->required();
  c->add_option("-o,--output", v.output, "where Setup.exe goes (over Output in [Package])");
  c->add_option("--stub", v.stub, "the stub to build on");
  c->add_option("--cablib", v.cabinetLibrary, "cabinet library for block 3 (a DLL or SZDD file), or none");
  AddPasswordOptions(*c, password, "the password to protect the package with (over [Package])");
  c->add_option_function<std::string>(
       "--compression",
       [&v](const std::string& text) {
         if (!ParseCompressionName(text, v.compression))
           throw CLI::ValidationError("--compression", "must be mszip, lzx or stored");
         v.hasCompression = true;
       },
       "mszip, lzx or stored (over Compression in [Package])")
      ->type_name("NAME");
  c->add_option_function<std::string>(
       "--lzx-window",
       [&v](const std::string& text) {
         if (!ParseLzxWindow(text, v.lzxWindow))
           throw CLI::ValidationError("--lzx-window", "must be 15 to 21");
       },
       "LZX window as a power of two, 15 to 21 (over LzxWindow)")
      ->type_name("BITS");
  c->add_option_function<std::string>(
       "--threads",
       [&v](const std::string& text) {
         char* end = nullptr;
         long n = std::strtol(text.c_str(), &end, 10);
         if (text.empty() || *end || n < 1 || n > kMaxThreads)
           throw CLI::ValidationError("--threads", "must be a whole number from 1 to " +
                                                       std::to_string(kMaxThreads) + ", not " + text);
         v.threads = int(n);
       },
       "threads that read and compress (default: every core); the output is the same for any count")
      ->type_name("N");
  c->add_option_function<std::string>(
       "--folder-size",
       [&v](const std::string& text) {
         uint64_t n = 0;
         if (!ParseByteCount(text, n) || n < kMinFolderSize || n > 0x7FFFFFFF)
           throw CLI::ValidationError("--folder-size", "must be a byte count from 32K to 2047M, not " + text);
         v.folderSize = uint32_t(n);
       },
       "start a new cabinet folder after this many bytes (default 64M); smaller folders let LZX use more "
       "threads and compress a little worse")
      ->type_name("SIZE");
  auto* quiet = c->add_flag_callback(
      "--quiet", [&o] { o.progress = ProgressMode::Off; }, "show no progress");
  c->add_flag_callback(
       "--progress", [&o] { o.progress = ProgressMode::On; },
       "show progress even when stderr is not a terminal")
      ->excludes(quiet);
  AddSignOptions(*c, v.sign, v.noSign);
  AddBrandOptions(*c, v.brand);
  AddDefineOption(*c, o.defines);
  return c;
}

CLI::App* AddAssembleCommand(CLI::App& app, AssembleOptions& o, PasswordSource& password) {
  CLI::App* c =
      app.add_subcommand("assemble", "Appends a package made of the given blocks to a copy of the stub.");
  c->add_option("--stub", o.stub, "the stub as built")->required();
  c->add_option("--info", o.info, "the information cabinet")->required();
  c->add_option("--payload", o.payload, "the payload cabinet")->required();
  c->add_option("--out", o.out, "the Setup.exe to write")->required();
  c->add_option("--lang", o.lang,
                "language text (82 lines and the 0x01 end line); default: built-in English");
  c->add_option("--cablib", o.cablib, "SZDD-compressed cabinet library for block 3; default: none");
  AddPasswordOptions(*c, password, "the password to protect the package with");
  return c;
}

// What `help` prints besides the help texts: the manual page and the shell
// completion, which the build makes from these definitions.
struct HelpRequest {
  std::string topic, completion;
  bool markdown = false, manual = false;
};

CLI::App* AddHelpCommand(CLI::App& app, HelpRequest& h) {
  CLI::App* help = app.add_subcommand("help", "Shows the commands, or the options of one.");
  help->add_option("command", h.topic, "the command to explain, or keys: the project file's keys");
  help->add_flag("--markdown", h.markdown, "help keys as the README's Markdown table");
  // Hidden: build steps, not something to read.
  help->add_flag("--man", h.manual)->group("");
  help->add_option("--completion", h.completion)->check(CLI::IsMember({"bash"}))->group("");
  return help;
}

// "help" alone shows every command; "help COMMAND" that command's options;
// "help keys" the project file's keys.
int ShowHelp(CLI::App& app, const HelpRequest& h, std::FILE* out, std::FILE* err) {
  const std::string& name = h.topic;
  if (h.manual) return std::fputs(ManualPage(app).c_str(), out), 0;
  if (!h.completion.empty()) return std::fputs(BashCompletion(app).c_str(), out), 0;
  // App::help() would show the parsed command's help, that of help itself.
  const CLI::App& all = app;
  if (name.empty())
    return std::fputs(all.get_formatter()->make_help(&app, app.get_name(), {}).c_str(), out), 0;
  if (name == kKeysHelpTopic) return std::fputs(KeyReference(h.markdown).c_str(), out), 0;
  for (CLI::App* c : app.get_subcommands({})) {
    if (c->get_name() == name && name != "help") return std::fputs(c->help().c_str(), out), 0;
  }
  std::fprintf(err, "veltra-pack: no command %s; run veltra-pack help\n", name.c_str());
  return 2;
}

}  // namespace

int RunCommandLine(int argc, char** argv, std::FILE* out, std::FILE* err) {
  CLI::App app(kDescription, "veltra-pack");
  app.set_version_flag("--version", std::string("veltra-pack ") + VELTRA_VERSION);
  app.require_subcommand(1);
  app.footer("Run veltra-pack help COMMAND for the options of one command.\n");

  BuildOptions build;
  ReadOptions read;
  AssembleOptions assemble;
  HelpRequest helpRequest;
  PasswordSource passwords[6];
  CLI::App* buildCommand = AddBuildCommand(app, build, passwords[0]);
  CLI::App* info = AddReadCommand(
      app, "info", "Shows the header, the blocks, the setup script and the files.", read, passwords[1]);
  CLI::App* list = AddReadCommand(app, "list", "Lists the payload's files.", read, passwords[2]);
  CLI::App* extract = AddReadCommand(app, "extract", "Extracts the payload's files.", read, passwords[3]);
  extract->add_option("--to", read.to, "the folder the files go to (default: the current one)");
  extract->add_flag("--overwrite", read.overwrite,
                    "replace files that are there already (never the package or its volumes)");
  CLI::App* verify = AddReadCommand(
      app, "verify", "Decompresses and checks everything the package holds, and its signature.", read,
      passwords[4]);
  verify->add_option("--ca", read.ca, "PEM file of the authorities a signature must chain to");
  for (CLI::App* c : {info, list, verify}) c->add_flag("--json", read.json, "print one JSON document");
  CLI::App* assembleCommand = AddAssembleCommand(app, assemble, passwords[5]);
  CLI::App* help = AddHelpCommand(app, helpRequest);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return std::fputs(app.help().c_str(), out), 0;
  } catch (const CLI::CallForVersion&) {
    return std::fprintf(out, "veltra-pack %s\n", VELTRA_VERSION), 0;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::string command;
    for (CLI::App* c : app.get_subcommands()) command = " " + c->get_name();
    if (command.empty() && argc >= 2 && argv[1][0] != '-')
      std::fprintf(err, "veltra-pack: no command %s\nrun veltra-pack help for the commands\n", argv[1]);
    else
      std::fprintf(err, "veltra-pack: %s\nrun veltra-pack help%s for the options\n", e.what(),
                   command.c_str());
    return 2;
  }
  const CLI::App* commands[6] = {buildCommand, info, list, extract, verify, assembleCommand};
  for (int i = 0; i < 6; ++i) {
    if (!commands[i]->parsed()) continue;
    bool given = false;
    std::string password;
    if (!ResolvePassword(*commands[i], passwords[i], given, password, err)) return 1;
    if (i == 0) build.overrides.hasPassword = given, build.overrides.password = password;
    if (i == 5) assemble.password = password;
    if (i > 0 && i < 5) read.hasPassword = given, read.password = password;
  }
  if (help->parsed()) return ShowHelp(app, helpRequest, out, err);
  const BuildOverrides& v = build.overrides;
  if (buildCommand->parsed() && v.lzxWindow && v.hasCompression && v.compression != cab::Compression::Lzx) {
    std::fprintf(err, "veltra-pack: --lzx-window is for --compression lzx only; drop one of them\n");
    return 2;
  }
  if (buildCommand->parsed()) return BuildCommand(build, out, err);
  if (assembleCommand->parsed()) return AssembleCommand(assemble, out, err);
  if (info->parsed()) return InfoCommand(read, out, err);
  if (list->parsed()) return ListCommand(read, out, err);
  if (extract->parsed()) return ExtractCommand(read, out, err);
  return VerifyCommand(read, out, err);
}
