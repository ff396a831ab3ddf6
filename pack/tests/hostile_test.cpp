// Packages and projects made to hurt the builder: stored names that leave
// the target folder, links planted where extract writes, a package that
// would overwrite itself, decompression bombs in the information cabinet,
// cabinets whose headers lie, outputs over inputs, and a killed build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "hostile_package.h"

using cabtest::FileExists;
using cabtest::ReadFile;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs veltra-pack with its address space limited to `megabytes`, so that
// a reader that allocates what a header claims fails instead of passing.
int RunPackBounded(const std::string& args, std::string& output, const std::string& cwd, int megabytes) {
  return RunPack(args, output, cwd + "' && ulimit -v " + std::to_string(megabytes * 1024) + " && cd '" + cwd);
}

std::string Project(const std::string& package, const std::string& files = "\\ = files\n") {
  return "[Setup]\nAppName = Hostile\n[Package]\nStub = stub.exe\nCabinetLibrary = lib.dll\n" + package +
         (files.empty() ? "" : "[Files]\n" + files);
}

}  // namespace

// Names are mapped (brackets dropped) before they are checked, so none of
// these may land anywhere; the refusal shows the name escaped and nothing
// at all is written.
TEST(HostileExtract, NamesThatWouldLeaveTheFolderAreRefused) {
  ProjectDir dir;
  const std::string outside = dir.File("outside.txt").substr(1);  // without its leading "/"
  std::string absolute = "<>";
  for (char c : outside) absolute += c == '/' ? '\\' : c;
  const struct {
    const char* title;
    std::string name;
  } cases[] = {
      {"absolute once the brackets go", "<>\\" + absolute.substr(2)},
      {"parent once the brackets go", "<..>\\outside.txt"},
      {"parent in the middle", "<SYS>\\<..>\\..\\outside.txt"},
      {"network path", "<>\\<>\\host\\share\\x.txt"},
      {"drive", "<C:>\\x.txt"},
      {"device name", "<SYS>\\CON.txt"},
      {"trailing dot", "dir.\\x.txt"},
      {"escape sequence", "ok\\\x1B]0;owned\x07.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ASSERT_TRUE(hostile::Package(dir, hostile::InfoCabinet(),
                                 hostile::CabinetOf({{"fine.txt", "fine"}, {c.name, "evil"}})));
    const std::string before = dir.Listing();
    std::string out;
    EXPECT_EQ(1, RunPack("extract Setup.exe --to target", out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "refusing to write the stored name")) << out;
    EXPECT_FALSE(Has(out, "\x1B")) << "a raw escape reached the terminal";
    EXPECT_EQ(before, dir.Listing()) << "something was written";
    EXPECT_FALSE(FileExists(dir.File("target")));
  }
  // What stays allowed: a placeholder's brackets dropped, and letters of the
  // package's code page, written as the host names them (UTF-8 here).
  ASSERT_TRUE(hostile::Package(dir, hostile::InfoCabinet(),
                               hostile::CabinetOf({{"<SYS>\\x.dll", "dll"}, {"r\xE9sum\xE9.txt", "cv"}})));
  std::string out;
  EXPECT_EQ(0, RunPack("extract Setup.exe --to target", out, dir.Path())) << out;
  EXPECT_EQ("dll", ReadFile(dir.File("target/SYS/x.dll")));
  EXPECT_EQ("cv", ReadFile(dir.File("target/r\xC3\xA9sum\xC3\xA9.txt")));
}

// Links planted in the output folder are never followed: not for the data,
// the mode or the time stamp; a folder link receives nothing. Existing
// files stay unless --overwrite, which replaces the link itself.
TEST(HostileExtract, PlantedLinksAreNotFollowed) {
  for (const char* options : {"", "--overwrite"}) {
    SCOPED_TRACE(options);
    ProjectDir dir;
    ASSERT_TRUE(hostile::Package(dir, hostile::InfoCabinet(),
                                 hostile::Cabinet({{"a.txt", 3, 0, 0x21}, {"sub\\b.txt", 3, 3, 0x20}},
                                                  hostile::StoredFolder("newnew"))));
    dir.Mkdir("target");
    dir.Mkdir("victims");
    dir.Write("victims/file.txt", "precious");
    ASSERT_EQ(0, symlink("../victims/file.txt", dir.File("target/a.txt").c_str()));
    ASSERT_EQ(0, symlink("../victims", dir.File("target/sub").c_str()));
    struct stat before;
    ASSERT_EQ(0, stat(dir.File("victims/file.txt").c_str(), &before));
    std::string out;
    EXPECT_EQ(1, RunPack(std::string("extract Setup.exe --to target ") + options, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "target/sub is a link or not a folder; not writing below it")) << out;
    struct stat after;
    ASSERT_EQ(0, stat(dir.File("victims/file.txt").c_str(), &after));
    EXPECT_EQ("precious", ReadFile(dir.File("victims/file.txt")));
    EXPECT_EQ(before.st_mode, after.st_mode) << "the mode followed the link";
    EXPECT_EQ(before.st_mtime, after.st_mtime) << "the time followed the link";
    EXPECT_FALSE(FileExists(dir.File("victims/b.txt"))) << "the folder link received a file";
    struct stat link;
    ASSERT_EQ(0, lstat(dir.File("target/a.txt").c_str(), &link));
    EXPECT_EQ(options[0] != 0, S_ISREG(link.st_mode)) << "--overwrite replaces the link itself";
  }
}

// A package holding a file named like itself, extracted in its own folder:
// kept without --overwrite, refused with it; the package stays whole.
TEST(HostileExtract, ThePackageIsNeverWrittenOver) {
  for (const char* options : {"", " --overwrite"}) {
    SCOPED_TRACE(options);
    ProjectDir dir;
    ASSERT_TRUE(
        hostile::Package(dir, hostile::InfoCabinet(),
                         hostile::CabinetOf({{"Setup.exe", std::string(5000, 'x')}, {"z.txt", "z"}})));
    const std::string package = ReadFile(dir.File("Setup.exe"));
    std::string out;
    EXPECT_EQ(1, RunPack(std::string("extract Setup.exe --to .") + options, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, options[0] ? "is the package being read" : "kept as it was")) << out;
    EXPECT_TRUE(package == ReadFile(dir.File("Setup.exe"))) << "the package was changed";
  }
}

// Four entries over one folder that expands to 256 MiB of zeros, from a
// file of about 400 KB: refused from the file table, within a fixed memory
// bound, before anything is decoded; overlapping payload entries likewise.
TEST(HostileReaders, DecompressionBombsAreRefusedUpFront) {
  ProjectDir dir;
  const uint32_t folder = 8192u * 32768u;
  std::vector<hostile::File> overlapping, whole = {{"~DAT1.", folder, 0}};
  for (const char* name : {"~DAT1.", "~DAT2A.", "~DAT2B.", "~DAT3."})
    overlapping.push_back({name, folder, 0});
  const struct {
    const char* title;
    std::vector<hostile::File> files;
    const char* says;
  } bombs[] = {
      {"four entries over the folder", overlapping, "overlaps or precedes the one before it"},
      {"one entry of the whole folder", whole, "more than the 32 MiB an information cabinet may hold"},
  };
  for (const auto& bomb : bombs) {
    ASSERT_TRUE(hostile::Package(dir, hostile::Cabinet(bomb.files, hostile::ZeroFolder(8192)),
                                 hostile::CabinetOf({{"a.txt", "a"}})));
    EXPECT_LT(ReadFile(dir.File("Setup.exe")).size(), 500000u);
    for (const char* command : {"info", "info --json", "verify"}) {
      SCOPED_TRACE(std::string(bomb.title) + ": " + command);
      std::string out;
      EXPECT_EQ(1, RunPackBounded(std::string(command) + " Setup.exe", out, dir.Path(), 256)) << out;
      EXPECT_TRUE(Has(out, bomb.says)) << out;
    }
  }
  // Overlapping payload entries would have the folder decoded once per entry.
  ASSERT_TRUE(hostile::Package(
      dir, hostile::InfoCabinet(),
      hostile::Cabinet({{"a.bin", folder, 0}, {"b.bin", folder, 0}}, hostile::ZeroFolder(8192))));
  for (const char* command : {"verify", "extract --to target"}) {
    SCOPED_TRACE(command);
    std::string out;
    EXPECT_EQ(1, RunPackBounded(std::string(command) + " Setup.exe", out, dir.Path(), 256)) << out;
    EXPECT_TRUE(Has(out, "overlaps or precedes")) << out;
  }
}

// A cabinet header's sizes are checked against the file before anything is
// allocated for them.
TEST(HostileReaders, CabinetHeadersThatLieAboutSizes) {
  const auto setLe = [](std::string& b, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = char(value >> (8 * i));
  };
  const struct {
    const char* title;
    size_t at;
    uint32_t value;
    int bytes;
    const char* says;
  } cases[] = {
      {"file list far beyond the file", 16, 0xFFFFFF00u, 4, "the file list lies outside"},
      {"cabinet larger than the file", 8, 0xFFFFFFF0u, 4, "the cabinet header claims"},
      {"65535 files in 70 KB", 28, 0xFFFF, 2, "damaged cabinet header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    std::string lying = hostile::CabinetOf({{"a.txt", "alpha"}}) + std::string(70000, 'x');
    setLe(lying, 8, uint32_t(lying.size()), 4);
    setLe(lying, c.at, c.value, c.bytes);
    dir.Write("given.cab", lying);
    dir.Write("p.ini", Project("Cabinet = given.cab\n", ""));
    std::string out;
    EXPECT_EQ(1, RunPackBounded("build p.ini", out, dir.Path(), 256)) << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
  }
}

// -o over any file the build reads is refused, and the file stays as it was.
TEST(HostileBuild, OutputOverAnInputIsRefused) {
  const struct {
    const char* title;
    const char* output;
    const char* package;
  } cases[] = {
      {"the project file", "p.ini", ""},
      {"the stub", "stub.exe", ""},
      {"the cabinet library", "lib.dll", ""},
      {"a payload source", "files/a.txt", ""},
      {"a picture", "side.bmp", "SidePicture = side.bmp\n"},
      {"a source through a link", "link.txt", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    ProjectDir dir;
    dir.Write("p.ini", Project(c.package));
    ASSERT_EQ(0, symlink("files/sub/b.txt", dir.File("link.txt").c_str()));
    const std::string before = ReadFile(dir.File(c.output));
    const std::string listing = dir.Listing();
    std::string out;
    EXPECT_EQ(1, RunPack(std::string("build p.ini -o ") + c.output, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "it would be written over")) << out;
    EXPECT_TRUE(before == ReadFile(dir.File(c.output)));
    EXPECT_EQ(listing, dir.Listing());
  }
}

// SIGTERM or SIGINT in the middle of a build leaves nothing behind.
TEST(HostileBuild, AKilledBuildLeavesNothing) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGINT");
    ProjectDir dir;
    dir.Write("files/big.bin", cabtest::RandomBytes(48 << 20, 3));
    dir.Write("p.ini", Project("Compression = lzx\nVolumeSize = 8M\n"));
    const std::string before = dir.Listing();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (chdir(dir.Path().c_str()) != 0) _exit(126);
      std::signal(SIGINT, SIG_DFL);
      execl(VELTRA_PACK_EXE, "veltra-pack", "build", "p.ini", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Long enough to be writing the payload and volumes, well short of done.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status)) << "the build ended before the signal; make the payload larger";
    EXPECT_EQ(before, dir.Listing()) << "files were left behind";
  }
}

// --ca asks whether the file is signed by that authority: an unsigned file,
// or no osslsigncode to tell, is a failure.
TEST(HostileVerify, CaFailsWithoutASignature) {
  ProjectDir dir;
  dir.Write("p.ini", Project(""));
  dir.Write("ca.pem", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n");
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini --quiet", out, dir.Path())) << out;
  const std::string path = getenv("PATH") ? getenv("PATH") : "";
  dir.Mkdir("bin");
  ASSERT_EQ(0, symlink("/bin/rm", dir.File("bin/rm").c_str()));
  const struct {
    const char* title;
    std::string path;
    const char* says;
  } cases[] = {
      {"unsigned", path, "the file is not signed, so it does not chain to ca.pem"},
      // Only what the tests' own clean-up needs.
      {"no osslsigncode", dir.File("bin"), "the signature cannot be checked against ca.pem"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    if (c.path == path && std::system("command -v osslsigncode >/dev/null") != 0) continue;
    setenv("PATH", c.path.c_str(), 1);
    EXPECT_EQ(1, RunPack("verify Setup.exe --ca ca.pem", out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, c.says)) << out;
    EXPECT_EQ(1, RunPack("verify Setup.exe --ca ca.pem --json", out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "\"ok\": false")) << out;
    setenv("PATH", path.c_str(), 1);
  }
  EXPECT_EQ(0, RunPack("verify Setup.exe", out, dir.Path())) << "without --ca an unsigned file is sound\n"
                                                             << out;
}

// The password from a file or the environment keeps it out of the process
// list; on the command line it still works, with a warning. All three open
// the same package.
TEST(HostileBuild, PasswordSources) {
  ProjectDir dir;
  dir.Write("p.ini", Project(""));
  dir.Write("pw.txt", "s3cret\nignored second line\n");
  setenv("VELTRA_TEST_PW", "s3cret", 1);
  const struct {
    const char* build;
    const char* read;
    bool warns;
  } cases[] = {
      {"--password-file pw.txt", "--password-env VELTRA_TEST_PW", false},
      {"--password-env VELTRA_TEST_PW", "--password-file pw.txt", false},
      {"--password s3cret", "--password s3cret", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.build);
    std::string out;
    ASSERT_EQ(0, RunPack(std::string("build p.ini --quiet ") + c.build, out, dir.Path())) << out;
    EXPECT_EQ(c.warns, Has(out, "shows the password to every user")) << out;
    EXPECT_EQ(0, RunPack(std::string("list Setup.exe ") + c.read, out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "sub\\deeper\\c.bin")) << out;
    EXPECT_NE(0, RunPack("list Setup.exe --password wrong", out, dir.Path())) << out;
    EXPECT_EQ(0, RunPack("info Setup.exe --password-file pw.txt", out, dir.Path())) << out;
    EXPECT_TRUE(Has(out, "scrambles the package, it does not encrypt it")) << out;
  }
  std::string out;
  EXPECT_EQ(2,
            RunPack("list Setup.exe --password-file pw.txt --password-env VELTRA_TEST_PW", out, dir.Path()));
  EXPECT_EQ(1, RunPack("list Setup.exe --password-env VELTRA_TEST_UNSET_PW", out, dir.Path()));
  EXPECT_TRUE(Has(out, "VELTRA_TEST_UNSET_PW (the password) is not set")) << out;
  for (const char* help : {"--help", "help build", "help extract"}) {
    EXPECT_EQ(0, RunPack(help, out, dir.Path()));
    EXPECT_TRUE(Has(out, "does not encrypt")) << out;
  }
  unsetenv("VELTRA_TEST_PW");
}

// Sources reached through a link or ".." outside the project's folder are
// packed, with a warning for each line that brings them in.
TEST(HostileBuild, SourcesOutsideTheProjectAreListed) {
  ProjectDir outside, dir;
  outside.Write("shared.txt", "shared");
  ASSERT_EQ(0, symlink(outside.File("shared.txt").c_str(), dir.File("files/planted.txt").c_str()));
  dir.Write("p.ini", Project("", "\\ = files\nextra.txt = " + outside.File("shared.txt") +
                                     "\ninside.txt = files/a.txt\n"));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini --quiet", out, dir.Path())) << out;
  EXPECT_TRUE(Has(out, "p.ini:7: warning: 1 source file(s) lie outside the project's folder")) << out;
  EXPECT_TRUE(Has(out, "p.ini:8: warning: 1 source file(s) lie outside the project's folder")) << out;
  EXPECT_FALSE(Has(out, "p.ini:9: warning")) << out;
}
