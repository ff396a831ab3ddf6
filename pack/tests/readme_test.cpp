// The README's project examples and its reference of keys, held to the
// builder: every ```ini block builds (with stand-ins for the files it names),
// and the table of keys is the one the builder prints.
#include <gtest/gtest.h>

#include "inifile.h"
#include "pack_test_util.h"
#include "projectkeys.h"

using cabtest::FileExists;
using cabtest::ReadFile;
using cabtest::RunTool;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

std::string Readme() { return ReadFile(std::string(VELTRA_TESTDATA) + "/../README.md"); }

std::vector<std::string> IniExamples(const std::string& readme) {
  std::vector<std::string> blocks;
  for (size_t at = readme.find("```ini\n"); at != std::string::npos; at = readme.find("```ini\n", at + 1)) {
    const size_t end = readme.find("```\n", at + 7);
    if (end == std::string::npos) break;
    blocks.push_back(readme.substr(at + 7, end - at - 7));
  }
  return blocks;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const char kKeyPassword[] = "readme example pass";

// A signer for the [Sign] example, made where it names its files.
bool MakeSigner(const ProjectDir& dir, const std::string& cert, const std::string& key) {
  const std::string folders = "mkdir -p '" + dir.File(cert) + "' '" + dir.File(key) + "' && rmdir '" +
                              dir.File(cert) + "' '" + dir.File(key) + "'";
  return RunTool("cd '" + dir.Path() + "' && " + folders +
                     " && openssl req -x509 -newkey rsa:2048 -keyout '" + key + "' -out '" + cert +
                     "' -days 2 -subj '/CN=Readme Example' -passout 'pass:" + kKeyPassword + "'",
                 dir.File("openssl.log"));
}

// Stand-ins for what an example names: a file or folder for every path key
// and [Files] source, of the kind the key wants.
struct StandIns {
  bool signs = false;
  bool brands = false;  // an icon is rewritten into the stub, which must be a real one
  bool Make(const ProjectDir& dir, const std::string& home, const IniFile& ini) {
    for (const IniSection& s : ini.sections) {
      for (const IniEntry& e : s.entries) {
        if (SameIniName(s.name, "Files")) {
          const std::string stored = e.hasValue ? e.key : "", source = e.hasValue ? e.value : e.key;
          const bool folder = !stored.empty() && stored.back() == '\\' &&
                              source.find('.', source.find_last_of("/\\") + 1) == std::string::npos;
          Place(dir, source, folder ? "" : "stand-in for " + source + "\n", folder);
          continue;
        }
        const ProjectKey* key = FindProjectKey(s.name, e.key);
        if (!key || key->kind != KeyKind::Path || e.value.empty()) continue;
        const std::string& v = e.value;
        if (SameIniName(e.key, "Output") || SameIniName(v, "default") || SameIniName(v, "none")) continue;
        if (SameIniName(e.key, "Language") && v.find_first_of("/\\.") == std::string::npos) continue;
        if (SameIniName(e.key, "SidePicture") || SameIniName(e.key, "HeaderPicture"))
          Place(dir, v, packtest::SmallBitmap());
        else if (SameIniName(e.key, "Language"))
          Place(dir, v, WriteLangText(DefaultLangTable()));
        else if (SameIniName(e.key, "Stub"))
          Place(dir, v, packtest::FakeStub());
        else if (SameIniName(e.key, "CabinetLibrary"))
          Place(dir, v, packtest::FakeLibrary());
        else if (SameIniName(e.key, "Icon"))
          Place(dir, v, packtest::SmallIcon()), brands = true;
        else if (SameIniName(e.key, "PasswordFile"))
          cabtest::WriteFile(v[0] == '~' ? home + v.substr(1) : dir.File(v),
                             std::string(kKeyPassword) + "\n");
        else if (SameIniName(e.key, "Certificate") || SameIniName(e.key, "Key"))
          signs = true;
        else
          Place(dir, v, "stand-in for " + v + "\n");
      }
    }
    return !signs || MakeSigner(dir, SignValue(ini, "Certificate"), SignValue(ini, "Key"));
  }

 private:
  static std::string SignValue(const IniFile& ini, const char* key) {
    for (const IniSection& s : ini.sections)
      for (const IniEntry& e : s.entries)
        if (SameIniName(s.name, "Sign") && SameIniName(e.key, key)) return e.value;
    return "";
  }
  static void Place(const ProjectDir& dir, std::string path, const std::string& bytes, bool folder = false) {
    for (char& c : path)
      if (c == '\\') c = '/';
    RunTool("mkdir -p '" + dir.File(folder ? path : path.substr(0, path.rfind('/') + 1)) + "'", "/dev/null");
    cabtest::WriteFile(dir.File(folder ? path + "/in-folder.txt" : path), bytes);
  }
};

}  // namespace

// Each example, completed where it shows one section only ([Setup] with an
// AppName, a file for [Files]), builds as it stands; a [Sign] example signs
// for real when the win32 stub and osslsigncode are here.
TEST(Readme, EveryProjectExampleBuilds) {
  const std::vector<std::string> examples = IniExamples(Readme());
  ASSERT_GE(examples.size(), 4u);
  const bool canSign = FileExists(VELTRA_WIN32_STUB) && RunTool("command -v osslsigncode", "/dev/null");
  for (size_t i = 0; i < examples.size(); ++i) {
    SCOPED_TRACE("example " + std::to_string(i + 1) + ":\n" + examples[i]);
    ProjectDir dir;
    dir.Mkdir("home");
    setenv("HOME", dir.File("home").c_str(), 1);
    setenv("ACME_PACKAGE_PASSWORD", "from the environment", 1);
    std::string text = examples[i];
    if (!Has(text, "[Setup]")) text = "[Setup]\nAppName = Example\n" + text;
    if (!Has(text, "[Files]")) text += "[Files]\nexample.txt = example.txt\n";
    dir.Write("example.txt", "x\n");
    std::vector<IniProblem> problems;
    const IniFile ini = ParseIni(text, problems);
    EXPECT_TRUE(problems.empty());
    StandIns standIns;
    ASSERT_TRUE(standIns.Make(dir, dir.File("home"), ini)) << ReadFile(dir.File("openssl.log"));
    dir.Write("example.ini", text);
    const bool sign = standIns.signs && canSign;
    if (standIns.brands && !FileExists(VELTRA_WIN32_STUB)) continue;  // nothing to rewrite
    const std::string stub =
        sign || standIns.brands ? std::string("'") + VELTRA_WIN32_STUB + "'" : "stub.exe";
    std::string out;
    EXPECT_EQ(0, RunPack("build example.ini -D VERSION=1.0 --stub " + stub + " --cablib lib.dll" +
                             (standIns.signs && !sign ? " --no-sign" : ""),
                         out, dir.Path()))
        << out;
    EXPECT_FALSE(Has(out, "warning")) << out;
    if (sign) EXPECT_TRUE(Has(out, ", signed")) << out;
  }
  unsetenv("ACME_PACKAGE_PASSWORD");
}

// The README's table of keys is what `help keys --markdown` prints, and the
// complete example names every key of [Setup] and [Package].
TEST(Readme, KeyReferenceIsTheBuildersOwn) {
  const std::string readme = Readme();
  const std::string open = "<!-- keys: veltra-pack help keys --markdown -->\n",
                    close = "<!-- end of keys -->";
  const size_t start = readme.find(open), end = readme.find(close);
  ASSERT_NE(std::string::npos, start);
  ASSERT_NE(std::string::npos, end);
  EXPECT_EQ(KeyReference(true), readme.substr(start + open.size(), end - start - open.size()))
      << "regenerate the README's table with veltra-pack help keys --markdown";
  std::string out;
  ASSERT_EQ(0, RunPack("help keys", out));
  std::string complete;
  for (const std::string& example : IniExamples(readme))
    if (example.rfind("; Acme Tools: a wizard install", 0) == 0) complete = example;
  ASSERT_FALSE(complete.empty());
  for (const ProjectKey& k : ProjectKeys()) {
    EXPECT_TRUE(Has(out, std::string("  ") + k.name + " ")) << k.name;
    if (std::string(k.section) != "Sign") EXPECT_TRUE(Has(complete, k.name + std::string(" ="))) << k.name;
  }
}
