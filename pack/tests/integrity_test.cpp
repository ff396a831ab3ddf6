// The integrity record as the builder writes it and `verify` checks it: each
// damaged part named, bytes appended to Setup.exe left alone, a volume
// forged to keep its CRCs refused by its SHA-256, names in a record that
// lead elsewhere never read; and block 3's DLL given a PE checksum.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "cabio.h"
#include "crc32.h"
#include "integrity.h"
#include "pack_test_util.h"
#include "pechecksum.h"
#include "pkgreader.h"
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

// Sets the 4 bytes at `at` so that the CRC-32 of `data` becomes `target`.
// CRC-32 is linear: four bytes XORed into the register before four zero
// bytes reach any register value, so the register that those zero bytes must
// start from is found by running the suffix and them backwards.
void ForceCrc32(std::string& data, size_t at, uint32_t target) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  auto back = [&](uint32_t reg, uint8_t byte) {
    uint32_t i = 0;
    while (table[i] >> 24 != reg >> 24) ++i;  // the top bytes of the table differ
    return ((reg ^ table[i]) << 8) | (i ^ byte);
  };
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  const uint32_t before = ~Crc32(bytes, at);
  uint32_t reg = ~target;
  for (size_t i = data.size(); i > at + 4; --i) reg = back(reg, bytes[i - 1]);
  for (int i = 0; i < 4; ++i) reg = back(reg, 0);
  const uint32_t x = reg ^ before;
  for (int i = 0; i < 4; ++i) data[at + i] = char(x >> (8 * i));
}

// Changes 64 bytes of `file` where they lie in a stored data block of
// `volume` and keeps every CRC-32 that could notice: the file's (4 more
// bytes of it chosen), the block's checksum (recomputed) and the volume's
// (4 bytes of the cabinet header's reserved field chosen). False when no
// part of the file lies there.
bool ForgeVolume(const std::string& volumePath, const std::string& file) {
  std::string volume = ReadFile(volumePath);
  const uint32_t volumeCrc = Crc32(reinterpret_cast<const uint8_t*>(volume.data()), volume.size());
  const cabtest::ParsedCabinet cab = cabtest::ParseCabinet(volume);
  if (!cab.error.empty() || cab.folders.empty()) return false;
  size_t block = cab.folders[0].offset;
  for (const cabtest::ParsedBlock& b : cab.folders[0].blocks) {
    const size_t data = block + 8;
    for (size_t in = 0; in + 200 <= b.cbData; in += 100) {
      const size_t inFile = file.find(volume.substr(data + in, 100));
      if (inFile == std::string::npos || inFile + 100 > file.size()) continue;
      std::string forged = file;
      for (size_t i = 0; i < 64; ++i) forged[inFile + i] = char('F' + i % 7);
      ForceCrc32(forged, inFile + 64, Crc32(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
      volume.replace(data + in, 100, forged.substr(inFile, 100));
      const uint32_t sum =
          cabtest::Checksum(volume, block + 4, 4, cabtest::Checksum(volume, data, b.cbData, 0));
      for (int i = 0; i < 4; ++i) volume[block + i] = char(sum >> (8 * i));
      ForceCrc32(volume, 4, volumeCrc);
      cabtest::WriteFile(volumePath, volume);
      return true;
    }
    block = data + b.cbData;
  }
  return false;
}

// The package Setup.exe in `dir` with its record changed by `change` (and
// without its SHA-256 entries unless `keepDigests`, as the previous builder
// wrote it), put together again by `assemble` from its own blocks.
void ReassembleWithRecord(const packtest::ProjectDir& dir, const std::string& setup,
                          const std::function<void(IntegrityRecord&)>& change, bool keepDigests = true) {
  PackageImage image;
  std::string error;
  ASSERT_TRUE(OpenPackageImage(setup, image, error)) << error;
  std::map<std::string, std::string> files;
  ASSERT_TRUE(ReadInfoCabinet(image, "", files, error)) << error;
  IntegrityRecord record;
  const std::string& bytes = files[kIntegrityRecordName];
  ASSERT_EQ(IntegrityStatus::Ok,
            ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), record));
  change(record);
  files[kIntegrityRecordName] = WriteIntegrityRecord(record);
  if (!keepDigests) files.erase(kIntegrityDigestsName);
  std::vector<cab::Entry> info;
  for (const auto& f : files) info.push_back(cabtest::Entry(f.first, f.second));
  cab::WriteResult written;
  ASSERT_TRUE(
      cab::WriteCabinet(info, cab::WriteOptions(), dir.File("info.cab"), HostCabinetFiles(), written, error))
      << error;
  std::string lang, lib, payload;
  ASSERT_TRUE(ReadPackageBlock(image, image.blocks.LangText, image.header.LangTextSize, lang));
  ASSERT_TRUE(ReadPackageBlock(image, image.blocks.CabLib, image.header.CabLibSize, lib));
  ASSERT_TRUE(
      ReadPackageBlock(image, image.blocks.Payload, int64_t(image.fileSize) - image.blocks.Payload, payload));
  dir.Write("lang.bin", lang);
  dir.Write("lib.szdd", lib);
  dir.Write("payload.cab", payload.substr(0, cabtest::Le(payload, 8, 4)));
  std::string out;
  ASSERT_EQ(0, RunPack("assemble --stub stub.exe --info info.cab --payload payload.cab --lang lang.bin "
                       "--cablib lib.szdd --out '" +
                           setup + "'",
                       out, dir.Path()))
      << out;
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

// A follow-up volume changed to other bytes while its file's CRC, its data
// block's checksum and its own CRC stay as they were: only the SHA-256 in
// the version-2 entries tells. A package whose record the previous builder
// wrote (version 1 alone) verifies as before.
TEST(Integrity, ForgedVolumeKeepingItsCrcsIsRefusedBySha256) {
  ProjectDir dir;
  dir.Write("p.ini", ProjectText(""));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini", out, dir.Path())) << out;
  ASSERT_TRUE(cabtest::FileExists(dir.File("Setup-2.cab")));
  ASSERT_EQ(0, RunPack("info Setup.exe", out, dir.Path())) << out;
  EXPECT_NE(std::string::npos, out.find("follow-up volume(s) by SHA-256")) << out;
  const std::string sound = ReadFile(dir.File("Setup-2.cab"));
  const std::string file = ReadFile(dir.File("files/sub/deeper/c.bin"));

  for (const bool versionOne : {false, true}) {
    if (versionOne) {
      ReassembleWithRecord(
          dir, dir.File("Setup.exe"), [](IntegrityRecord&) {}, false);
      ASSERT_EQ(0, RunPack("info Setup.exe", out, dir.Path())) << out;
      EXPECT_EQ(std::string::npos, out.find("SHA-256")) << out;
    }
    cabtest::WriteFile(dir.File("Setup-2.cab"), sound);
    ASSERT_EQ(0, RunPack("verify Setup.exe", out, dir.Path())) << out;
    EXPECT_NE(std::string::npos, out.find("entries match")) << out;
    ASSERT_TRUE(ForgeVolume(dir.File("Setup-2.cab"), file));
    ASSERT_NE(sound, ReadFile(dir.File("Setup-2.cab")));
    const int code = RunPack("verify Setup.exe", out, dir.Path());
    if (versionOne) {
      // What the forgery defeats: a record of CRCs alone.
      EXPECT_EQ(0, code) << out;
      continue;
    }
    EXPECT_EQ(1, code) << out;
    EXPECT_NE(std::string::npos,
              out.find("damaged package: volume Setup-2.cab: its SHA-256 differs from the record"))
        << out;
    EXPECT_EQ(std::string::npos, out.find("CRC-32 differs")) << out;
    EXPECT_EQ(std::string::npos, out.find("file ")) << out;
  }
}

// Volume entries whose names lead elsewhere: nothing is read through them (a
// device would never end), and what verify says does not depend on the
// file they name, its size or its CRC, so it tells nothing about it.
TEST(Integrity, VolumeNamesInTheRecordAreBareNamesOfRegularFiles) {
  ProjectDir dir;
  dir.Mkdir("pkg");
  dir.Mkdir("pkg/folder");
  dir.Write("p.ini", ProjectText(""));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini -o pkg/Setup.exe", out, dir.Path())) << out;
  const std::string setup = dir.File("pkg/Setup.exe"), sound = ReadFile(setup);
  const std::string secret = cabtest::RandomBytes(77777, 3);
  dir.Write("secret.bin", secret);
  const uint32_t secretCrc = Crc32(reinterpret_cast<const uint8_t*>(secret.data()), secret.size());
  ASSERT_EQ(0, symlink("../secret.bin", dir.File("pkg/link.cab").c_str()));
  const struct {
    std::string name;
    bool renameTheVolume;  // the entry replaces Setup-2.cab's, which then bears this name
  } cases[] = {
      {"/dev/zero", false}, {"../secret.bin", false}, {dir.File("secret.bin"), false}, {"folder", false},
      {"link.cab", false},  {"/dev/zero", true},      {"../secret.bin", true},         {"link.cab", true},
  };
  for (const auto& c : cases) {
    std::string told[2];
    for (const bool matching : {false, true}) {
      cabtest::WriteFile(setup, sound);
      ReassembleWithRecord(dir, setup, [&](IntegrityRecord& r) {
        IntegrityEntry e{IntegrityKind::Volume, c.name, matching ? uint32_t(secret.size()) : 5,
                         matching ? secretCrc : 0};
        if (!c.renameTheVolume) return r.entries.push_back(e);
        for (IntegrityEntry& v : r.entries)
          if (v.kind == IntegrityKind::Volume) v = e;
      });
      EXPECT_EQ(1, RunPack("verify pkg/Setup.exe", told[matching], dir.Path())) << c.name << told[matching];
    }
    EXPECT_EQ(told[0], told[1]) << c.name;
    EXPECT_EQ(std::string::npos, told[1].find("77777")) << c.name << told[1];
    EXPECT_EQ(std::string::npos, told[1].find("entries match")) << c.name << told[1];
  }
  // The volume the payload goes to is a link: not read through it.
  cabtest::WriteFile(setup, sound);
  ASSERT_EQ(0, rename(dir.File("pkg/Setup-2.cab").c_str(), dir.File("real-2.cab").c_str()));
  ASSERT_EQ(0, symlink("../real-2.cab", dir.File("pkg/Setup-2.cab").c_str()));
  EXPECT_EQ(1, RunPack("verify pkg/Setup.exe", out, dir.Path())) << out;
  EXPECT_NE(std::string::npos, out.find("volume Setup-2.cab: cannot be read as a regular file")) << out;
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
