// The project file as its authors meet it: values beside comments, quotes
// and "~", mistakes all reported in one run at their own lines, suggestions
// for misspelt or misplaced keys, UTF-16 files, defines from the command
// line, output folders, conflicting options, and stored times under
// SOURCE_DATE_EPOCH.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <regex>

#include "pack_test_util.h"
#include "project_loading.h"
#include "packjson.h"
#include "project.h"

using cabtest::FileExists;
using cabtest::ReadFile;
using cabtest::RunTool;
using packtest::Load;
using packtest::Loaded;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

const char kHead[] = "[Setup]\nAppName = X\n";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A project that builds with the stand-in stub and library.
std::string Buildable(const std::string& setup, const std::string& package = "",
                      const std::string& files = "\\ = files\n") {
  return std::string("[Setup]\n") + setup +
         "Unattended = 1\nDestDir = <TEMP>\\T\n[Package]\nStub = stub.exe\n" + "CabinetLibrary = lib.dll\n" +
         package + "[Files]\n" + files;
}

nlohmann::json JsonOf(const std::string& args, const std::string& cwd) {
  std::string out;
  cabtest::TempDir logs;
  RunTool("cd '" + cwd + "' && '" VELTRA_PACK_EXE "' " + args + " 2>/dev/null", logs.File("out"));
  return nlohmann::json::parse(ReadFile(logs.File("out")), nullptr, false);
}

}  // namespace

// One rule for every value: " ;" (a semicolon after a blank) outside double
// quotes starts a comment; a value that is one quoted string loses its
// quotes (RunParams, a command line, keeps them); "~" is the home folder.
TEST(ProjectValues, CommentsQuotesAndHome) {
  using Field = std::function<std::string(const Project&)>;
  const Field destDir = [](const Project& p) { return p.script.DestDir; };
  const Field runParams = [](const Project& p) { return p.script.RunParams; };
  const Field message = [](const Project& p) { return p.script.FinalMessage; };
  const Field password = [](const Project& p) { return p.password; };
  const Field output = [](const Project& p) { return p.output; };
  const Field description = [](const Project& p) { return p.sign.description; };
  const Field url = [](const Project& p) { return p.sign.url; };
  const Field passwordFile = [](const Project& p) { return p.sign.passwordFile; };
  const Field language = [](const Project& p) { return p.language; };
  ProjectDir dir;
  const std::string home = dir.File("home");
  const struct {
    const char* title;
    std::string lines;
    Field field;
    std::string expected;
  } cases[] = {
      {"comment after a value", "DestDir = <PROGRAM FILES>\\Acme   ; where it goes\n", destDir,
       "<PROGRAM FILES>\\Acme"},
      {"comment after a tab", "FinalMessage = Done.\t; shown last\n", message, "Done."},
      {"semicolon inside a word", "FinalMessage = Done;really\n", message, "Done;really"},
      {"quoted path", "DestDir = \"C:\\Program Files\\Acme\"\n", destDir, "C:\\Program Files\\Acme"},
      {"quoted, with a comment after", "DestDir = \"C:\\Odd ;name\"  ; a comment\n", destDir,
       "C:\\Odd ;name"},
      {"quoted blanks kept", "FinalMessage = \"  spaced  \"\n", message, "  spaced  "},
      {"doubled quote inside quotes", "FinalMessage = \"say \"\"hi\"\"\"\n", message, "say \"hi\""},
      {"quotes inside a text kept", "FinalMessage = a \"b\" c\n", message, "a \"b\" c"},
      {"command line keeps its quotes", "RunParams = \"<INSTALL>\"\n", runParams, "\"<INSTALL>\""},
      {"command line, comment after", "RunParams = \"<INSTALL>\" /q ; why\n", runParams, "\"<INSTALL>\" /q"},
      {"quoted semicolon in a command line", "RunParams = /x \"a ;b\"\n", runParams, "/x \"a ;b\""},
      {"password with a semicolon", "[Package]\nPassword = pw;x ; a comment\n", password, "pw;x"},
      {"password quoted", "[Package]\nPassword = \"pw ;x\"\n", password, "pw ;x"},
      {"description with a comment", "[Sign]\nDescription = Example Tool Setup  ; shown\n", description,
       "Example Tool Setup"},
      {"URL with a semicolon", "[Sign]\nURL = https://example.com/a;b?c=1#d\n", url,
       "https://example.com/a;b?c=1#d"},
      {"language with a comment", "[Package]\nLanguage = german  ; shipped\n", language, "german"},
      {"home folder", "[Sign]\nPasswordFile = ~/.signing-pass\n", passwordFile, home + "/.signing-pass"},
      {"home folder with a backslash", "[Package]\nOutput = ~\\dist\\Setup.exe\n", output,
       home + "/dist/Setup.exe"},
      {"a tilde inside a name", "[Package]\nOutput = ~x.exe\n", output, dir.File("~x.exe")},
      {"destination by default", "", destDir, "<PROGRAM FILES>\\<APPNAME>"},
  };
  setenv("HOME", home.c_str(), 1);
  dir.Mkdir("home");
  dir.Mkdir("home/dist");
  dir.Write("home/.signing-pass", "x\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    const Loaded l = Load(dir, kHead + c.lines);
    EXPECT_TRUE(l.ok) << l.AllErrors();
    EXPECT_EQ(c.expected, c.field(l.project));
  }
}

// Every fault of a project comes in one run, each at its own line, from the
// INI syntax through the keys to what the build checks before writing
// (output folder, stub, signing).
TEST(ProjectErrors, AllAtOnceEachAtItsLine) {
  ProjectDir dir;
  dir.Write("p.ini",
            "[Setup]\n"
            "AppName = X\n"
            "Colour = red\n"                    // 3: unknown key
            "MinFree = lots\n"                  // 4: bad number
            "[Package]\n"                       //
            "Stub = nothere.exe\n"              // 6: missing file
            "Output = files/a.txt/Setup.exe\n"  // 7: a folder under a file
            "[Sign]\n"                          //
            "Certificate = nocert.pem\n"        // 9: missing file
            "PKCS12 = none.p12\n"               // 10: both kinds of signer, missing file
            "PasswordFile = nopass.txt\n"       // 11: missing file
            "PasswordEnv = SOME_VAR\n"          // 12: both password sources
            "[Files]\n"                         //
            "files/nothere.txt\n");             // 14: missing file
  std::string out;
  EXPECT_EQ(1, RunPack("build p.ini", out, dir.Path()));
  for (const int line : {3, 4, 6, 7, 9, 10, 11, 12, 14})
    EXPECT_TRUE(Has(out, "p.ini:" + std::to_string(line) + ": error: ")) << "line " << line << ":\n" << out;
  size_t errors = 0;
  for (size_t at = out.find(": error: "); at != std::string::npos; at = out.find(": error: ", at + 1))
    ++errors;
  EXPECT_TRUE(Has(out, "veltra-pack: " + std::to_string(errors) + " error(s); nothing written")) << out;
  EXPECT_FALSE(FileExists(dir.File("Setup.exe")));

  // A sound project whose build inputs are wrong: all of those at once too,
  // and the closing line says the same.
  dir.Write("q.ini", Buildable("AppName = Q\n", "Output = files/a.txt/Q.exe\n"));
  EXPECT_EQ(1, RunPack("build q.ini --stub none.exe --sign-cert c.pem --sign-key k.pem", out, dir.Path()));
  EXPECT_TRUE(Has(out, "q.ini:8: error: ")) << out;  // Output
  EXPECT_TRUE(Has(out, "none.exe")) << out;
  EXPECT_TRUE(Has(out, "c.pem")) << out;
  EXPECT_TRUE(Has(out, "k.pem")) << out;
  EXPECT_TRUE(Has(out, "error(s); nothing written")) << out;
}

TEST(ProjectErrors, SuggestionsSectionsCaseAndEncodings) {
  const struct {
    const char* title;
    std::string text;
    int line;  // 0: the project loads
    const char* says;
  } cases[] = {
      {"misspelt key", "[Setup]\nAppNme = X\n", 2, "did you mean AppName?"},
      {"misspelt key, any case", "[Setup]\nAppName = X\nlaunchfiel = x\n", 3, "did you mean LaunchFile?"},
      {"key of another section", std::string(kHead) + "[Package]\nPasswordFile = p.txt\n", 4,
       "PasswordFile belongs in [Sign]"},
      {"setup key under [Package]", std::string(kHead) + "[Package]\nDestDir = x\n", 4,
       "DestDir belongs in [Setup]"},
      {"package key under [Setup]", std::string(kHead) + "Output = x.exe\n", 3,
       "Output belongs in [Package]"},
      {"misspelt section", std::string(kHead) + "[Pakage]\nOutput = x.exe\n", 3, "did you mean [Package]?"},
      {"unknown section", std::string(kHead) + "[Options]\n", 3,
       "known: [Setup], [Package], [Files], [Sign]"},
      {"names differing in case",
       std::string(kHead) + "[Files]\nREADME.TXT = files/a.txt\nreadme.txt = files/sub/b.txt\n", 5,
       "differ only in case"},
      {"key twice in another case", std::string(kHead) + "appname = Y\n", 3,
       "first at line 2 as AppName; key names ignore case"},
      {"section twice in another case", std::string(kHead) + "[setup]\n", 3,
       "first at line 1 as [Setup]; section names ignore case"},
      {"UTF-16 without a byte order mark", std::string("[\0S\0e\0t\0u\0p\0]\0\n\0", 16), 1, "UTF-16"},
      {"UTF-16 LE with its mark",
       std::string("\xFF\xFE[\0S\0e\0t\0u\0p\0]\0\n\0A\0p\0p\0N\0a\0m\0e\0=\0\xE9\0\n\0", 38), 0, ""},
      {"UTF-16 BE with its mark",
       std::string("\xFE\xFF\0[\0S\0e\0t\0u\0p\0]\0\n\0A\0p\0p\0N\0a\0m\0e\0=\0\xE9\0\n", 38), 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    const Loaded l = Load(dir, c.text);
    if (c.line == 0) {
      EXPECT_TRUE(l.ok) << l.AllErrors();
      EXPECT_EQ("\xE9", l.project.script.AppName);
      continue;
    }
    EXPECT_FALSE(l.ok);
    const std::string all = l.AllErrors();
    const size_t at = all.find(dir.File("p.ini") + ":" + std::to_string(c.line) + ": error: ");
    EXPECT_NE(at, std::string::npos) << all;
    if (at != std::string::npos) EXPECT_TRUE(Has(all.substr(at), c.says)) << all;
  }
}

// -D NAME=VALUE and ${NAME}; the environment only through ${env:NAME}.
TEST(ProjectDefines, FromTheCommandLineAndTheEnvironment) {
  setenv("VELTRA_TEST_DEFINE", "from-env", 1);
  setenv("VERSION", "not-taken", 1);
  const struct {
    const char* title;
    std::string appName;
    std::string args;
    int code;
    const char* says;  // in AppName as stored, or in the error
  } cases[] = {
      {"a define", "Acme ${VERSION}", "-D VERSION=1.2", 0, "Acme 1.2"},
      {"attached form", "Acme ${VERSION}", "-DVERSION=1.2", 0, "Acme 1.2"},
      {"several and empty", "${A}${B}-${C}", "-D A=x -D B=y -D C=", 0, "xy-"},
      {"a value with = and blanks", "${V}", "-D 'V=a = b'", 0, "a = b"},
      {"the environment, explicitly", "Acme ${env:VELTRA_TEST_DEFINE}", "", 0, "Acme from-env"},
      {"escaped", "Acme $${VERSION}", "", 0, "Acme ${VERSION}"},
      {"a lone dollar", "Acme $5", "", 0, "Acme $5"},
      {"undefined", "Acme ${VERSION}", "", 1, "p.ini:2: error: ${VERSION} is not defined"},
      {"unset variable", "${env:VELTRA_TEST_UNSET_VAR}", "", 1, "p.ini:2: error: "},
      {"unclosed", "Acme ${VERSION", "-D VERSION=1", 1, "p.ini:2: error: "},
      {"bad name on the command line", "x", "-D 1X=2", 2, "-D"},
      {"no = on the command line", "x", "-D X", 2, "-D"},
      {"given twice on the command line", "x", "-D X=1 -D X=2", 2, "-D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    dir.Write("p.ini", Buildable("AppName = " + c.appName + "\n"));
    std::string out;
    EXPECT_EQ(c.code, RunPack("build p.ini " + c.args, out, dir.Path())) << out;
    if (c.code != 0) {
      EXPECT_TRUE(Has(out, c.says)) << out;
      continue;
    }
    const nlohmann::json info = JsonOf("info Setup.exe --json", dir.Path());
    ASSERT_TRUE(info.is_object());
    EXPECT_EQ(c.says, info["setupScript"]["AppName"].get<std::string>());
  }
  // In stored names and paths too.
  ProjectDir dir;
  dir.Write("p.ini", Buildable("AppName = X\n", "", "${DIR}\\a.txt = ${SRC}/a.txt\n"));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini -D DIR=v1 -D SRC=files", out, dir.Path())) << out;
  const nlohmann::json list = JsonOf("list Setup.exe --json", dir.Path());
  ASSERT_TRUE(list.is_object());
  EXPECT_EQ("v1\\a.txt", list["files"][0]["name"].get<std::string>());
  unsetenv("VERSION");
  unsetenv("VELTRA_TEST_DEFINE");
}

// A fresh clone gives every file the time of the checkout: with
// SOURCE_DATE_EPOCH set, newer times are clamped to it, so two copies of the
// same tree with different times build to the same bytes.
TEST(Reproducible, StoredTimesAreClampedToSourceDateEpoch) {
  ProjectDir one, two;
  for (const ProjectDir* d : {&one, &two}) d->Write("p.ini", Buildable("AppName = R\n"));
  ASSERT_TRUE(RunTool("touch -d '2030-01-02 03:04:05Z' $(find '" + one.Path() + "' -type f)", "/dev/null"));
  ASSERT_TRUE(RunTool("touch -d '2031-06-07 08:09:10Z' $(find '" + two.Path() + "' -type f)", "/dev/null"));
  // Older than the epoch: kept as it is.
  for (const ProjectDir* d : {&one, &two})
    ASSERT_TRUE(RunTool("touch -d '2001-02-03 04:05:06Z' '" + d->File("files/a.txt") + "'", "/dev/null"));
  std::string out;
  for (const bool epoch : {false, true}) {
    SCOPED_TRACE(epoch ? "SOURCE_DATE_EPOCH=1700000000" : "no SOURCE_DATE_EPOCH");
    if (epoch) setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    for (const ProjectDir* d : {&one, &two}) ASSERT_EQ(0, RunPack("build p.ini", out, d->Path())) << out;
    const bool same = ReadFile(one.File("Setup.exe")) == ReadFile(two.File("Setup.exe"));
    EXPECT_EQ(epoch, same);
  }
  const nlohmann::json list = JsonOf("list Setup.exe --json", one.Path());
  ASSERT_TRUE(list.is_object());
  for (const auto& f : list["files"]) {
    const std::string expected = f["name"] == "a.txt" ? "2001-02-03T04:05:06Z" : "2023-11-14T22:13:20Z";
    EXPECT_EQ(expected, f["time"].get<std::string>()) << f["name"];
  }
  // A value that is no time is refused rather than ignored.
  setenv("SOURCE_DATE_EPOCH", "yesterday", 1);
  EXPECT_EQ(1, RunPack("build p.ini", out, one.Path()));
  EXPECT_TRUE(Has(out, "SOURCE_DATE_EPOCH")) << out;
  unsetenv("SOURCE_DATE_EPOCH");
}

// Every time in the JSON documents is ISO 8601 in UTC, with its "Z".
TEST(JsonDates, OneFormat) {
  ProjectDir dir;
  dir.Write("p.ini", Buildable("AppName = J\n"));
  ASSERT_TRUE(RunTool("touch -d '2024-05-01 10:20:30Z' '" + dir.File("files/a.txt") + "'", "/dev/null"));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  const std::regex iso("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
  for (const char* command : {"info", "list", "verify"}) {
    const nlohmann::json doc = JsonOf(std::string(command) + " Setup.exe --json", dir.Path());
    ASSERT_TRUE(doc.is_object()) << command;
    for (const auto& f : doc["files"])
      EXPECT_TRUE(std::regex_match(f["time"].get<std::string>(), iso)) << command << " " << f["time"];
    EXPECT_EQ("2024-05-01T10:20:30Z", doc["files"][0]["time"]) << command;
  }
}

TEST(JsonDates, SigningTimesInTheSameFormat) {
  const struct {
    const char* printed;
    const char* json;
  } cases[] = {
      {"Dec  8 06:12:26 2026 GMT", "2026-12-08T06:12:26Z"},
      {"May 31 23:59:59 2024 GMT", "2024-05-31T23:59:59Z"},
      {"Jan  1 00:00:00 1980 GMT", "1980-01-01T00:00:00Z"},
      {"", ""},                                                  // no stated time
      {"Foo  1 00:00:00 1980 GMT", "Foo  1 00:00:00 1980 GMT"},  // not a form we know: as printed
      {"Dec  8 06:12:26 2026 CET", "Dec  8 06:12:26 2026 CET"},
      {"Dec  8 06:12:26 2026 GMT and more", "Dec  8 06:12:26 2026 GMT and more"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.json, IsoTimeOfSigningTime(c.printed)) << c.printed;
}

// Options that contradict each other are refused before anything is read.
TEST(CommandLineConflicts, AreRefused) {
  const struct {
    const char* args;
    const char* says;
  } cases[] = {
      {"--no-sign --sign-cert c.pem --sign-key k.pem", "--no-sign"},
      {"--no-sign --sign-pkcs12 s.p12", "--no-sign"},
      {"--no-sign --sign-password-env X", "--no-sign"},
      {"--sign-pkcs12 s.p12 --sign-cert c.pem", "--sign-pkcs12"},
      {"--sign-password-file f --sign-password-env X", "--sign-password"},
      {"--compression mszip --lzx-window 16", "--lzx-window"},
      {"--compression stored --lzx-window 16", "--lzx-window"},
      {"--quiet --progress", "excludes"},
  };
  ProjectDir dir;
  dir.Write("p.ini", Buildable("AppName = C\n"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(2, RunPack(std::string("build p.ini ") + c.args, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
    EXPECT_FALSE(FileExists(dir.File("Setup.exe")));
  }
  std::string out;
  EXPECT_EQ(0, RunPack("build p.ini --compression lzx --lzx-window 16", out, dir.Path())) << out;
}

// A missing output folder is made (and removed again when the build fails);
// one that cannot be made, and -o naming a folder, are refused before the
// build with the fix.
TEST(OutputFolder, MadeOrRefusedWithAFix) {
  const struct {
    const char* title;
    std::string package;
    std::string args;
    int code;
    const char* made;  // the file that must exist afterwards
    const char* says;
  } cases[] = {
      {"missing folders are made", "", "-o out/new/Setup.exe", 0, "out/new/Setup.exe", ""},
      {"from the project too", "Output = dist\\Acme.exe\n", "", 0, "dist/Acme.exe", ""},
      {"-o names a folder", "", "-o files", 2, nullptr, "-o files/Setup.exe"},
      {"-o ends in a separator", "", "-o newdir/", 2, nullptr, "-o newdir/Setup.exe"},
      {"Output names a folder", "Output = files\n", "", 1, nullptr, "p.ini:8: error: Output"},
      {"a file in the way", "Output = files/a.txt/x/Setup.exe\n", "", 1, nullptr, "p.ini:8: error: "},
      {"made, then the build fails", "VolumeSize = 130K\n", "-o out/new/Setup.exe", 1, nullptr,
       "leaves Setup.exe less than"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    dir.Write("p.ini", Buildable("AppName = O\n", c.package));
    const std::string before = dir.Listing();
    std::string out;
    EXPECT_EQ(c.code, RunPack("build p.ini " + c.args, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
    if (c.made) {
      EXPECT_TRUE(FileExists(dir.File(c.made))) << out;
      continue;
    }
    EXPECT_EQ(before, dir.Listing()) << out;
    EXPECT_FALSE(FileExists(dir.File("out"))) << "a folder made for a failed build was left";
    EXPECT_FALSE(Has(out, "bytes,")) << "the build ran before the refusal:\n" << out;
  }
}
