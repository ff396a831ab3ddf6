// The command line as scripts use it: version, help, usage errors, the JSON
// of info, list and verify parsed back, and the build's progress line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "pack_test_util.h"
#include "progress.h"

using nlohmann::json;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

std::string Project(const std::string& package = "") {
  return "[Setup]\nAppName = Json \xC3\x89t\xC3\xA9\nUnattended = 1\nLicenseText = license.txt\n"
         "[Package]\nStub = stub.exe\nCabinetLibrary = lib.dll\n" +
         package + "[Files]\n\\ = files\n";
}

// stdout of a run alone, for parsing; `code` gets the exit code.
json RunJson(const std::string& args, const std::string& cwd, int& code) {
  cabtest::TempDir logs;
  code = std::system(
      ("cd '" + cwd + "' && '" VELTRA_PACK_EXE "' " + args + " >'" + logs.File("out") + "' 2>/dev/null")
          .c_str());
  code = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
  return json::parse(cabtest::ReadFile(logs.File("out")));
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(CommandLine, VersionHelpAndUsageErrors) {
  const struct {
    const char* args;
    int code;
    const char* says;
  } cases[] = {
      {"--version", 0, "veltra-pack " VELTRA_TEST_VERSION},
      {"help", 0, "Run veltra-pack help COMMAND"},
      {"help", 0, "Builds Setup.exe"},
      {"help --completion zsh", 2, "zsh not in"},
      {"help build", 0, "--sign-pkcs12"},
      {"help verify", 0, "--ca"},
      {"build --help", 0, "--progress"},
      {"help nothing", 2, "no command nothing"},
      {"", 2, "A subcommand is required"},
      {"frobnicate", 2, "no command frobnicate"},
      {"build", 2, "project is required"},
      {"build p.ini --bogus 1", 2, "--bogus"},
      {"build p.ini --stub", 2, "--stub"},
      {"build p.ini --quiet --progress", 2, "excludes"},
      {"build p.ini --threads 0", 2, "--threads: must be a whole number from 1 to 256, not 0"},
      {"build p.ini --threads -2", 2, "not -2"},
      {"build p.ini --threads 2x", 2, "not 2x"},
      {"build p.ini --threads 257", 2, "not 257"},
      {"build p.ini --folder-size 1000", 2,
       "--folder-size: must be a byte count from 32K to 2047M, not 1000"},
      {"build p.ini --folder-size 2G", 2, "not 2G"},
      {"build p.ini --folder-size many", 2, "not many"},
      {"info a.exe b.exe", 2, "b.exe"},
      {"assemble --stub s.exe", 2, "--info is required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(c.code, RunPack(c.args, out)) << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
  }
}

// The documented shape, field by field, for a plain and a protected package;
// the file facts must be those of the sources.
TEST(CommandLine, JsonOfInfoListAndVerify) {
  for (const std::string password : {"", "pw"}) {
    SCOPED_TRACE("password '" + password + "'");
    ProjectDir dir;
    std::string out;
    ASSERT_EQ(0, RunPack("build p.ini --quiet" + (password.empty() ? "" : " --password " + password), out,
                         (dir.Write("p.ini", Project()), dir.Path())))
        << out;
    const std::string pw = password.empty() ? "" : " --password " + password;
    int code = 0;
    const json info = RunJson("info --json Setup.exe" + pw, dir.Path(), code);
    EXPECT_EQ(0, code);
    EXPECT_EQ("veltra-pack/1", info["format"]);
    EXPECT_EQ(password.empty() ? false : true, info["header"]["passwordProtected"].get<bool>());
    EXPECT_EQ(info["file"]["size"].get<uint64_t>(), info["blocks"]["payload"]["offset"].get<uint64_t>() +
                                                        info["blocks"]["payload"]["size"].get<uint64_t>());
    EXPECT_TRUE(info["blocks"]["languageText"]["builtIn"].get<bool>());
    EXPECT_GT(info["blocks"]["cabinetLibrary"]["expandedSize"].get<int>(), 0);
    EXPECT_EQ("Json \xC3\x89t\xC3\xA9",
              info["setupScript"]["AppName"]);  // stored in code page 1252, shown as UTF-8
    EXPECT_EQ(1, info["setupScript"]["LicenseText"]["lines"]);
    EXPECT_FALSE(info["signature"]["present"].get<bool>());
    const json list = RunJson("list --json Setup.exe" + pw, dir.Path(), code);
    EXPECT_EQ(0, code);
    ASSERT_EQ(3u, list["files"].size());
    EXPECT_EQ(info["files"], list["files"]);
    const json& c = list["files"][2];
    EXPECT_EQ("sub\\deeper\\c.bin", c["name"]);
    EXPECT_EQ(300000, c["size"]);
    EXPECT_EQ("---A", c["attributes"]);
    EXPECT_EQ(0x20, c["attributeBits"]);
    EXPECT_EQ(20u, c["time"].get<std::string>().size());
    EXPECT_EQ('Z', c["time"].get<std::string>().back());
    EXPECT_EQ('T', c["time"].get<std::string>()[10]);
    EXPECT_EQ(300012, list["payload"]["bytes"]);
    const json verify = RunJson("verify --json Setup.exe" + pw, dir.Path(), code);
    EXPECT_EQ(0, code);
    EXPECT_TRUE(verify["ok"].get<bool>());
    EXPECT_TRUE(verify["problems"].empty());
    if (!password.empty()) {
      const json locked = RunJson("info --json Setup.exe", dir.Path(), code);
      EXPECT_EQ(0, code);
      EXPECT_TRUE(locked["setupScript"].is_null() && locked["files"].is_null());
      EXPECT_EQ(info["header"], locked["header"]);
    }
    // A damaged payload: verify still prints a document, with the reason.
    std::string exe = cabtest::ReadFile(dir.File("Setup.exe"));
    exe[exe.size() - 100] ^= 0x55;
    cabtest::WriteFile(dir.File("Setup.exe"), exe);
    const json damaged = RunJson("verify --json Setup.exe" + pw, dir.Path(), code);
    EXPECT_EQ(1, code);
    EXPECT_FALSE(damaged["ok"].get<bool>());
    EXPECT_FALSE(damaged["problems"].empty());
  }
}

TEST(Progress, LineFormat) {
  const struct {
    ProgressFigures figures;
    const char* line;
  } cases[] = {
      {{0, 3, 0, 0, 0}, "0/3 files, 0 B of 0 B (0%)"},
      {{1, 3, 512, 2048, 0}, "1/3 files, 512 B of 2.0 KiB (25%)"},
      {{2, 4, 10u << 20, 40u << 20, 2}, "2/4 files, 10.0 MiB of 40.0 MiB (25%), 5.0 MiB/s, 0:06 left"},
      {{9, 9, 3ull << 30, 3ull << 30, 30}, "9/9 files, 3.0 GiB of 3.0 GiB (100%), 102.4 MiB/s"},
      {{1, 2, 1, 7200, 1}, "1/2 files, 1 B of 7.0 KiB (0%), 1 B/s, 1:59:59 left"},
      {{3, 3, 0, 0, 1}, "3/3 files, 0 B of 0 B (100%)"},
      {{1, 2, 5, 10, 0, 1}, "1/2 files, 5 B of 10 B (50%), 1 thread"},
      {{1, 2, 1u << 20, 2u << 20, 1, 4},
       "1/2 files, 1.0 MiB of 2.0 MiB (50%), 1.0 MiB/s, 0:01 left, 4 threads"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.line, FormatProgressLine(c.figures));
}

// Off into a file unless asked for; asked for, whole lines ending at the total.
TEST(Progress, ShownOnRequestOnly) {
  ProjectDir dir;
  dir.Write("p.ini", Project());
  const struct {
    const char* options;
    bool shown;
  } cases[] = {{"", false}, {" --quiet", false}, {" --progress", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    std::string out;
    ASSERT_EQ(0, RunPack(std::string("build p.ini") + c.options, out, dir.Path())) << out;
    EXPECT_EQ(c.shown, Has(out, "3/3 files, 293.0 KiB of 293.0 KiB (100%)")) << out;
    EXPECT_FALSE(Has(out, "\r")) << "redrawn in place into a file";
  }
}
