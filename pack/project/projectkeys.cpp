#include "projectkeys.h"

#include <algorithm>

#include "inifile.h"
#include "pathops.h"

namespace {

const char kByteCount[] = "byte count: digits, or with K, M or G (binary units)";
const char kFlag[] = "flag: 1, yes, true or 0, no, false";

const std::vector<ProjectKey> kKeys = {
    {"Setup", "AppName", KeyKind::Text, "text", "(required)",
     "the application's name; replaces <APPNAME> in every text"},
    {"Setup", "Unattended", KeyKind::Text, kFlag, "0", "1: no wizard; the files go straight to DestDir"},
    {"Setup", "MinFree", KeyKind::Text, "auto, or a byte count", "auto: the payload's size",
     "the free space the destination must have"},
    {"Setup", "DestDir", KeyKind::Text, "folder, may begin with a placeholder", "<PROGRAM FILES>\\<APPNAME>",
     "where the files go (the wizard offers it)"},
    {"Setup", "OverwriteMode", KeyKind::Text, "ask, overwrite or keep (0, 1, 2)", "ask",
     "what happens to files that exist already"},
    {"Setup", "ShowUnpackPage", KeyKind::Text, kFlag, "0", "1: the wizard shows the unpack options page"},
    {"Setup", "LaunchFile", KeyKind::Text, "file on the target", "none",
     "the file the completion page offers to open"},
    {"Setup", "ReadmeFile", KeyKind::Text, "file on the target", "none",
     "the file the completion page offers to show"},
    {"Setup", "RunProgram", KeyKind::Text, "program on the target", "none",
     "run after the files are in place"},
    {"Setup", "RunParams", KeyKind::CommandLine, "command line (quotes kept)", "none",
     "the parameters of RunProgram"},
    {"Setup", "StartQuestion", KeyKind::Text, "text", "none", "asked before anything is installed"},
    {"Setup", "FinalMessage", KeyKind::Text, "text", "none", "shown when the install is done"},
    {"Setup", "ReadmeText", KeyKind::Path, "text file", "none: no readme page", "the wizard's readme page"},
    {"Setup", "LicenseText", KeyKind::Path, "text file", "none: no licence page",
     "the wizard's licence page"},

    {"Package", "Output", KeyKind::Path, "file (missing folders are made)",
     "Setup.exe beside the project file", "the Setup.exe to write; volumes go beside it"},
    {"Package", "Stub", KeyKind::Path, "file", "the stub as built", "the stub the package is appended to"},
    {"Package", "CabinetLibrary", KeyKind::Path, "default, none, or a DLL or its SZDD form", "default",
     "block 3: the cabinet library the stub falls back to"},
    {"Package", "Password", KeyKind::Text, "text", "none", "scrambles the payload; asked for by the wizard"},
    {"Package", "Language", KeyKind::Path, "a shipped language's name, or a language file", "english",
     "the wizard's texts"},
    {"Package", "CodePage", KeyKind::Text, "1252", "the language's",
     "the code page of every stored name and text"},
    {"Package", "InputEncoding", KeyKind::Text, "utf-8 or ansi", "utf-8",
     "how this file and the text files it names are written"},
    {"Package", "SidePicture", KeyKind::Path, "bitmap file", "none", "the welcome page's picture (~DAT2A.)"},
    {"Package", "HeaderPicture", KeyKind::Path, "bitmap file", "none", "the inner pages' picture (~DAT2B.)"},
    {"Package", "Compression", KeyKind::Text, "mszip, lzx or stored", "mszip",
     "how the payload is compressed"},
    {"Package", "CompressionLevel", KeyKind::Text, "0 to 9", "6", "0 fastest, 9 smallest"},
    {"Package", "LzxWindow", KeyKind::Text, "15 to 21", "21", "LZX only: a window of 2^n bytes"},
    {"Package", "VolumeSize", KeyKind::Text, kByteCount, "0: one Setup.exe",
     "splits the package into files of at most this size"},
    {"Package", "Cabinet", KeyKind::Path, "cabinet file (the first of a set)", "none",
     "a finished payload, instead of [Files]"},
    {"Package", "Icon", KeyKind::Path, ".ico file (every image it holds is taken)", "the stub's icon",
     "Setup.exe's icon; any key from here to ExecutionLevel also writes version information and a "
     "manifest naming the supported systems and DPI awareness"},
    {"Package", "ProductName", KeyKind::Text, "text", "AppName", "version information: the product's name"},
    {"Package", "CompanyName", KeyKind::Text, "text", "none", "version information: the publisher"},
    {"Package", "ProductVersion", KeyKind::Text, "one to four numbers, like 2.1.0.7", "FileVersion, else none",
     "version information: the product's version"},
    {"Package", "FileVersion", KeyKind::Text, "one to four numbers, like 2.1.0.7", "ProductVersion, else none",
     "version information: Setup.exe's version"},
    {"Package", "Copyright", KeyKind::Text, "text", "none", "version information: the copyright line"},
    {"Package", "Description", KeyKind::Text, "text", "AppName and \" Setup\"",
     "version information: the name Windows shows for Setup.exe (UAC prompt, Task Manager)"},
    {"Package", "ExecutionLevel", KeyKind::Text, "asInvoker, highestAvailable or requireAdministrator",
     "none named: Windows decides, as for every package without it",
     "the rights Setup.exe asks for when it starts"},

    {"Sign", "Certificate", KeyKind::Path, "PEM file", "none", "the signer's certificate (and its chain)"},
    {"Sign", "Key", KeyKind::Path, "PEM file", "none", "the certificate's private key"},
    {"Sign", "PKCS12", KeyKind::Path, "PKCS#12 file", "none", "certificate and key in one file"},
    {"Sign", "PasswordFile", KeyKind::Path, "file", "none", "the key's password: the file's first line"},
    {"Sign", "PasswordEnv", KeyKind::Text, "environment variable", "none", "the key's password: its value"},
    {"Sign", "Description", KeyKind::Text, "text", "none", "shown by Windows as the program's name"},
    {"Sign", "URL", KeyKind::Text, "URL", "none", "the program's web page"},
    {"Sign", "TimestampServer", KeyKind::Text, "URL", "none: the stated time only",
     "an RFC 3161 server that countersigns with the real time"},
};

// Edits (insert, delete, change) between two names, ignoring case.
size_t Distance(const std::string& a, const std::string& b) {
  const std::string x = UpperCaseAscii(a), y = UpperCaseAscii(b);
  std::vector<size_t> row(y.size() + 1);
  for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= x.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= y.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[y.size()];
}

// The names nearest to `name`, close enough to be a slip: at most a third of
// its letters changed.
std::vector<std::string> Nearest(const std::string& name, const std::vector<std::string>& names) {
  size_t best = std::max<size_t>(1, (name.size() + 2) / 3) + 1;
  std::vector<std::string> found;
  for (const std::string& n : names) {
    const size_t d = Distance(name, n);
    if (d < best) best = d, found.clear();
    if (d == best) found.push_back(n);
  }
  return found;
}

std::string DidYouMean(const std::vector<std::string>& names, const char* open, const char* close) {
  if (names.empty()) return "";
  std::string text = "; did you mean ";
  for (size_t i = 0; i < names.size(); ++i)
    text += (i ? i + 1 == names.size() ? " or " : ", " : "") + (open + names[i] + close);
  return text + "?";
}

// A table cell in which "<TOKEN>" shows as written rather than as markup.
std::string MarkdownCell(const std::string& text) {
  if (!text.empty() && text[0] == '<') return "`" + text + "`";
  std::string cell;
  for (size_t at = 0; at < text.size(); ++at) {
    const size_t close = text[at] == '<' ? text.find('>', at) : std::string::npos;
    if (close == std::string::npos) {
      cell += text[at];
      continue;
    }
    cell += "`" + text.substr(at, close - at + 1) + "`";
    at = close;
  }
  return cell;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

const std::vector<ProjectKey>& ProjectKeys() { return kKeys; }

const std::vector<std::string>& ProjectSections() {
  static const std::vector<std::string> sections = {"Setup", "Package", "Files", "Sign"};
  return sections;
}

const ProjectKey* FindProjectKey(const std::string& section, const std::string& name) {
  for (const ProjectKey& k : kKeys) {
    if (SameIniName(section, k.section) && SameIniName(name, k.name)) return &k;
  }
  return nullptr;
}

std::string KeySuggestion(const std::string& section, const std::string& name) {
  for (const ProjectKey& k : kKeys) {
    if (SameIniName(name, k.name) && !SameIniName(section, k.section))
      return "; " + std::string(k.name) + " belongs in [" + k.section + "]";
  }
  std::vector<std::string> names;
  for (const ProjectKey& k : kKeys) {
    if (SameIniName(section, k.section)) names.push_back(k.name);
  }
  return DidYouMean(Nearest(name, names), "", "");
}

std::string SectionSuggestion(const std::string& name) {
  return DidYouMean(Nearest(name, ProjectSections()), "[", "]");
}

const char* ProjectFilesSyntax() {
  return "stored name = source (a file, or a folder with a stored name ending in \\), or a bare source";
}

std::string KeyReference(bool markdown) {
  std::string text, section;
  for (const ProjectKey& k : kKeys) {
    if (section != k.section) {
      section = k.section;
      text += markdown
                  ? "\n| `[" + section + "]` key | value | when left out | meaning |\n|---|---|---|---|\n"
                  : "\n[" + section + "]\n";
    }
    if (markdown)
      text += std::string("| `") + k.name + "` | " + MarkdownCell(k.type) + " | " + MarkdownCell(k.fallback) +
              " | " + MarkdownCell(k.meaning) + " |\n";
    else
      text += "  " + Padded(k.name, 17) + k.meaning + "\n  " + std::string(17, ' ') + k.type +
              "; left out: " + k.fallback + "\n";
  }
  const char* files = ProjectFilesSyntax();
  text += markdown ? std::string("\n`[Files]` lines: ") + files + ".\n"
                   : std::string("\n[Files]\n  ") + files + "\n";
  return text.substr(1);
}
