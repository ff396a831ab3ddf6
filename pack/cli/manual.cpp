#include "manual.h"

#include <CLI/CLI.hpp>
#include <map>
#include <vector>

#include "builder.h"
#include "projectkeys.h"

#ifndef VELTRA_VERSION
#define VELTRA_VERSION "unknown"
#endif

const char kKeysHelpTopic[] = "keys";

namespace {

// Text as roff prints it: a backslash as itself, every dash as the ASCII
// one (a plain "-" may print as a hyphen that a copied option would not
// match), and no line that starts with a control character.
std::string Roff(const std::string& text) {
  std::string out;
  char previous = '\n';
  for (char c : text) {
    if (previous == '\n' && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    previous = c;
  }
  return out;
}

std::string Bold(const std::string& text) { return "\\fB" + Roff(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + Roff(text) + "\\fR"; }

// What the page and the completion show of a command: its options without
// the hidden ones and without -h, which every command has.
std::vector<const CLI::Option*> ShownOptions(const CLI::App& command) {
  return command.get_options([&command](const CLI::Option* o) {
    return !o->get_group().empty() && o != command.get_help_ptr() && o != command.get_help_all_ptr();
  });
}

std::vector<const CLI::App*> Commands(const CLI::App& app) { return app.get_subcommands({}); }

bool TakesValue(const CLI::Option& o) { return o.get_items_expected_max() > 0; }

std::vector<std::string> OptionNames(const CLI::Option& o) {
  std::vector<std::string> names;
  for (const std::string& s : o.get_snames()) names.push_back("-" + s);
  for (const std::string& l : o.get_lnames()) names.push_back("--" + l);
  return names;
}

std::string Synopsis(const CLI::App& command) {
  std::string line = Bold("veltra-pack " + command.get_name());
  bool options = false;
  for (const CLI::Option* o : ShownOptions(command)) {
    if (!o->nonpositional())
      line += " " + (o->get_required() ? Italic(o->get_name(true)) : "[" + Italic(o->get_name(true)) + "]");
    else
      options = true;
  }
  return line + (options ? " [" + Italic("options") + "]" : "") + "\n";
}

// One option as a tagged paragraph: its names, its value, what it does, and
// whether it is required or excludes others.
std::string OptionEntry(const CLI::Option& o) {
  std::string tag;
  for (const std::string& name : OptionNames(o)) tag += (tag.empty() ? "" : ", ") + Bold(name);
  if (TakesValue(o)) tag += " " + Italic(o.get_type_name());
  std::string text = Roff(o.get_description());
  if (o.get_required()) text += " (required)";
  std::string excluded;
  for (const CLI::Option* other : o.get_excludes()) {
    if (!other->get_group().empty()) excluded += (excluded.empty() ? "" : ", ") + Bold(other->get_name());
  }
  if (!excluded.empty()) text += "; not with " + excluded;
  return ".TP\n" + tag + "\n" + text + "\n";
}

std::string CommandSection(const CLI::App& command) {
  std::string text = ".SS " + Roff(command.get_name()) + "\n" + Roff(command.get_description()) + "\n";
  std::vector<std::string> groups;
  std::map<std::string, std::string> entries;
  for (const CLI::Option* o : ShownOptions(command)) {
    const std::string group = o->nonpositional() ? o->get_group() : "Arguments";
    if (!entries.count(group)) groups.push_back(group);
    if (!o->nonpositional()) {
      entries[group] += ".TP\n" + Italic(o->get_name(true)) + "\n" + Roff(o->get_description()) + "\n";
      continue;
    }
    entries[group] += OptionEntry(*o);
  }
  for (const std::string& group : groups) {
    if (groups.size() > 1 || group != "Options") text += ".PP\n" + Italic(group) + ":\n";
    text += entries[group];
  }
  return text;
}

std::string ProjectFileSection() {
  std::string text =
      ".SH PROJECT FILE\n"
      "An INI file of the sections [Setup], [Package], [Sign] and [Files]; names ignore case. A value may "
      "hold "
      "${NAME}, given with \\-D NAME=VALUE, and ${env:NAME}, an environment variable; $${ is a literal ${. "
      "A relative path is taken from the project file's folder, and ~ at its start is the home folder. "
      "The keys, as\n" +
      Bold("veltra-pack help keys") + "\nalso prints them:\n";
  std::string section;
  for (const ProjectKey& k : ProjectKeys()) {
    if (section != k.section) section = k.section, text += ".SS [" + section + "]\n";
    text += ".TP\n" + Bold(k.name) + " = " + Italic(k.type) + "\n" + Roff(k.meaning) +
            ".\n.br\nLeft out: " + Roff(k.fallback) + ".\n";
  }
  return text + ".SS [Files]\nEach line: " + Roff(ProjectFilesSyntax()) + ".\n";
}

std::string FilesSection() {
  const std::string lib = std::string("\\fIprefix\\fR/") + kInstalledFilesFolder + "/";
  return ".SH FILES\n"
         "The program finds its files by its own folder, so an installed tree may be moved as a whole; "
         "\\fIprefix\\fR is the folder above the one that holds veltra\\-pack (/usr for the Debian "
         "package).\n"
         ".TP\n" +
         lib + "\n" + Roff(std::string(kStubFileName) + " and " + kCabinetLibraryFileName) +
         ": the stub and the cabinet library a build takes when neither the project nor the command line "
         "names one. They are looked for beside veltra\\-pack first, then here.\n"
         ".TP\n\\fIprefix\\fR/share/veltra/lang/*.lng\n"
         "The shipped language files, to start a translation from. The builder carries its own copies: "
         "Language = german needs none of these files.\n"
         ".TP\n\\fIprefix\\fR/share/doc/veltra\\-pack/README.md\n"
         "The full guide: the project file, the stub's switches and exit codes, languages and code pages.\n";
}

const char kStaticSections[] =
    ".SH EXIT STATUS\n"
    ".TP\n0\nDone.\n"
    ".TP\n1\nFailed: a build writes nothing, a check found a fault.\n"
    ".TP\n2\nWrong usage: an unknown command or option, options that contradict each other.\n"
    ".SH ENVIRONMENT\n"
    ".TP\n.B SOURCE_DATE_EPOCH\n"
    "Seconds since 1970: file times after it are stored as it, so that two checkouts of one commit give "
    "the same bytes. A value that is not such a time fails the build.\n"
    ".TP\n.B HOME\n"
    "The folder that ~ at the start of a path in the project file stands for.\n"
    ".TP\n.B PATH\n"
    "Where osslsigncode is looked for when a package is signed.\n"
    ".PP\n"
    "Variables named by \\-\\-password\\-env, \\-\\-sign\\-password\\-env, PasswordEnv in [Sign] and "
    "${env:NAME} in the project are read too; nothing else is.\n";

const char kExamples[] =
    ".SH EXAMPLES\n"
    ".nf\n"
    "veltra\\-pack build demo/demo.ini \\-o out/Setup.exe\n"
    "veltra\\-pack build app.ini \\-D VERSION=$(git describe) \\-o dist/AppSetup.exe\n"
    "veltra\\-pack info out/Setup.exe \\-\\-json\n"
    "veltra\\-pack verify out/Setup.exe \\-\\-ca my\\-ca.pem && echo sound and signed\n"
    "SIGN_PASS=... veltra\\-pack build app.ini \\-\\-sign\\-pkcs12 signer.p12 \\-\\-sign\\-password\\-env "
    "SIGN_PASS\n"
    ".fi\n"
    ".SH SEE ALSO\n"
    ".BR osslsigncode (1),\n"
    ".BR wine (1),\n"
    ".BR cabextract (1)\n";

// The words a shell function completes from, quoted for bash.
std::string Words(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return "'" + text + "'";
}

}  // namespace

std::string ManualPage(const CLI::App& app) {
  std::string page = ".TH VELTRA\\-PACK 1 \"\" \"veltra\\-pack " VELTRA_VERSION "\" \"User Commands\"\n";
  page += ".nh\n.ad l\n";  // option names must not break at their dashes
  page +=
      ".SH NAME\nveltra\\-pack \\- build and check self\\-extracting Setup.exe packages for 32\\-bit "
      "Windows\n";
  page += ".SH SYNOPSIS\n";
  for (const CLI::App* c : Commands(app)) page += Synopsis(*c) + ".br\n";
  page += Bold("veltra-pack --version") + "\n";
  page += ".SH DESCRIPTION\n" + Roff(app.get_description()) + "\n";
  page += ".SH COMMANDS\nEvery command also takes " + Bold("-h") + ", " + Bold("--help") + ".\n";
  for (const CLI::App* c : Commands(app)) page += CommandSection(*c);
  return page + ProjectFileSection() + kStaticSections + FilesSection() + kExamples;
}

std::string BashCompletion(const CLI::App& app) {
  std::vector<std::string> commands, topLevel;
  for (const CLI::App* c : Commands(app)) commands.push_back(c->get_name());
  for (const CLI::Option* o : app.get_options()) {
    for (const std::string& name : OptionNames(*o)) topLevel.push_back(name);
  }
  std::string cases;
  for (const CLI::App* c : Commands(app)) {
    std::vector<std::string> options, valued;
    for (const CLI::Option* o :
         c->get_options([](const CLI::Option* o) { return !o->get_group().empty(); })) {
      for (const std::string& name : OptionNames(*o)) {
        options.push_back(name);
        if (TakesValue(*o)) valued.push_back(name);
      }
    }
    cases += "    " + c->get_name() + ") options=" + Words(options) + " valued=" + Words(valued) + " ;;\n";
  }
  return "# bash completion for veltra-pack, written by veltra-pack " VELTRA_VERSION
         " from its own command line\n"
         "_veltra_pack() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  local commands=" +
         Words(commands) +
         " command='' options='' valued='' i\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    [[ ${COMP_WORDS[i]} == -* ]] || { command=${COMP_WORDS[i]}; break; }\n"
         "  done\n"
         "  COMPREPLY=()\n"
         "  if [[ -z $command ]]; then\n"
         "    if [[ $cur == -* ]]; then\n"
         "      mapfile -t COMPREPLY < <(compgen -W " +
         Words(topLevel) +
         " -- \"$cur\")\n"
         "    else\n"
         "      mapfile -t COMPREPLY < <(compgen -W \"$commands\" -- \"$cur\")\n"
         "    fi\n"
         "    return\n"
         "  fi\n"
         "  case $command in\n" +
         cases +
         "    *) return ;;\n"
         "  esac\n"
         "  if [[ \" $valued \" == *\" $prev \"* ]]; then\n"
         "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
         "  elif [[ $cur == -* ]]; then\n"
         "    mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
         "  elif [[ $command == help ]]; then\n"
         "    mapfile -t COMPREPLY < <(compgen -W \"$commands " +
         kKeysHelpTopic +
         "\" -- \"$cur\")\n"
         "  else\n"
         "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
         "  fi\n"
         "}\n"
         "complete -o filenames -F _veltra_pack veltra-pack\n";
}
