// The integrity record as the builder writes it and `verify` checks it: each
// damaged part named, bytes appended to Setup.exe left alone; and block 3's
// DLL given a PE checksum.
#include <gtest/gtest.h>

#include "pack_test_util.h"
#include "pechecksum.h"
#include "szdd.h"

using cabtest::ReadFile;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

const char kProject[] =
    "[Setup]\nAppName = T\nUnattended = 1\nDestDir = <TEMP>\\T\n"
    "[Package]\nStub = stub.exe\nCabinetLibrary = lib.dll\nVolumeSize = 150K\nCompression = stored\n%s"
    "[Files]\n\\ = files\n";

std::string ProjectText(const std::string& extra) {
  char text[512];
  std::snprintf(text, sizeof text, kProject, extra.c_str());
  return text;
}

// A DLL-shaped PE image with its checksum field 0.
std::string PeLibrary() {
  std::string d = packtest::FakeLibrary();
  d.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
  d.replace(0x80, 24, std::string("PE\0\0\x4C\x01\x01\0\0\0\0\0\0\0\0\0\0\0\0\0\xE0\0\x02\x21", 24));
  d.replace(0x80 + 88, 4, std::string(4, '\0'));
  return d;
}

uint32_t PackageBaseOf(const std::string& exe) {
  const std::string tag(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize);
  return cabtest::Le(exe, exe.find(tag) + tag.size(), 4);
}

void FlipByte(const std::string& path, size_t at) {
  std::string bytes = ReadFile(path);
  bytes[at] = char(bytes[at] ^ 0x20);
  cabtest::WriteFile(path, bytes);
}

}  // namespace

TEST(Integrity, VerifyNamesEachDamagedPartAndIgnoresAppendedBytes) {
  for (const std::string password : {"", "pw"}) {
    ProjectDir dir;
    dir.Write("lib.dll", PeLibrary());
    dir.Write("p.ini", ProjectText(password.empty() ? "" : "Password = " + password + "\n"));
    std::string out;
    ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
    const std::string pw = password.empty() ? "" : " --password " + password;
    ASSERT_EQ(0, RunPack("info Setup.exe" + pw, out, dir.Path())) << out;
    EXPECT_NE(std::string::npos, out.find("integrity record   ")) << out;
    EXPECT_EQ(std::string::npos, out.find("integrity record   none")) << out;

    const std::string setup = dir.File("Setup.exe"), sound = ReadFile(setup),
                      volume2 = ReadFile(dir.File("Setup-2.cab"));
    const uint32_t base = PackageBaseOf(sound);
    const uint32_t lang = cabtest::Le(sound, base + 8, 4), lib = cabtest::Le(sound, base + 16, 4),
                   info = cabtest::Le(sound, base + 20, 4);
    const size_t payload = base + 33 + lang + lib + info;
    struct Damage {
      const char* part;  // what verify must name; null: verify passes
      std::string file;
      size_t at;  // SIZE_MAX: append a signature-sized tail instead
    };
    const Damage cases[] = {
        {nullptr, "Setup.exe", SIZE_MAX},
        {"header", "Setup.exe", base + 12},             // Reserved1: nothing else reads it
        {"language text", "Setup.exe", base + 33 + 5},  // inside message 0
        {"cabinet library", "Setup.exe", base + 33 + lang + lib - 1},
        {"payload cabinet", "Setup.exe", payload + 4},  // the cabinet header's reserved field
        {"volume Setup-2.cab", "Setup-2.cab", 4},
    };
    for (const Damage& c : cases) {
      cabtest::WriteFile(setup, sound);
      cabtest::WriteFile(dir.File("Setup-2.cab"), volume2);
      if (c.at == SIZE_MAX)
        cabtest::WriteFile(setup, sound + std::string(4096, '\x5A'));
      else
        FlipByte(dir.File(c.file), c.at);
      const int code = RunPack("verify Setup.exe" + pw, out, dir.Path());
      if (!c.part) {
        EXPECT_EQ(0, code) << out;
        EXPECT_NE(std::string::npos, out.find("entries match")) << out;
        continue;
      }
      EXPECT_EQ(1, code) << c.part << " with password '" << password << "': " << out;
      EXPECT_NE(std::string::npos, out.find(std::string("damaged package: ") + c.part))
          << c.part << ": " << out;
    }
  }
}

TEST(Integrity, BlockThreeDllGetsItsPeChecksum) {
  ProjectDir dir;
  dir.Write("lib.dll", PeLibrary());
  dir.Write("p.ini", ProjectText(""));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  const std::string exe = ReadFile(dir.File("Setup.exe"));
  const uint32_t base = PackageBaseOf(exe);
  const std::string block =
      exe.substr(base + 33 + cabtest::Le(exe, base + 8, 4), cabtest::Le(exe, base + 16, 4));
  std::vector<uint8_t> dll;
  ASSERT_EQ(SzddStatus::Ok, SzddExpand(reinterpret_cast<const uint8_t*>(block.data()), block.size(), dll));
  PeImageFacts facts;
  ASSERT_TRUE(ReadPeImageFacts(dll.data(), dll.size(), facts));
  EXPECT_NE(0u, facts.storedChecksum);
  EXPECT_EQ(ComputePeChecksum(dll.data(), dll.size(), facts.checksumOffset), facts.storedChecksum);
  // Only the field changed.
  const std::string given = PeLibrary();
  EXPECT_EQ(given.substr(0, facts.checksumOffset),
            std::string(dll.begin(), dll.begin() + facts.checksumOffset));
  EXPECT_EQ(given.substr(facts.checksumOffset + 4),
            std::string(dll.begin() + facts.checksumOffset + 4, dll.end()));
}
