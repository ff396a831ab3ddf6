// libFuzzer target for the package reader behind info, list and verify. The
// input is a package (header and blocks) that is put behind a small stub of
// 64 bytes whose PackageBase points at it; after an optional marker comes a
// file laid beside it as "Setup-2.cab", the first follow-up volume. Each
// input is read as `info`, `list` and `verify` read a Setup.exe, integrity
// record included; the sanitizers catch what goes wrong.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "byteorder.h"
#include "integrity.h"
#include "packagebase.h"
#include "pkgintegrity.h"
#include "pkgreader.h"

namespace {

const uint8_t kMarker[4] = {0xff, 0xfe, 0xfd, 0xfc};
constexpr uint32_t kStubSize = 64;

std::string Folder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/veltra-pkgfuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

void Write(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void ReadAsTheCommandsDo(const std::string& setup) {
  PackageImage image;
  std::string error;
  if (!OpenPackageImage(setup, image, error)) return;
  const std::string password = image.header.PasswordProtected ? "x" : "";
  std::string block;
  ReadPackageBlock(image, image.blocks.CabLib, image.header.CabLibSize, block);
  std::map<std::string, std::string> files;
  if (!ReadInfoCabinet(image, password, files, error)) return;
  PayloadWalk listed;
  WalkPayload(image, password, PayloadAction::List, ExtractTarget(), listed, error);
  PayloadWalk verified;
  if (!WalkPayload(image, password, PayloadAction::Verify, ExtractTarget(), verified, error)) return;
  const auto found = files.find(kIntegrityRecordName);
  if (found == files.end()) return;
  IntegrityRecord record;
  if (ParseIntegrityRecord(reinterpret_cast<const uint8_t*>(found->second.data()), found->second.size(),
                           record) != IntegrityStatus::Ok)
    return;
  std::vector<std::string> problems;
  CheckPackageIntegrity(image, record, &record, verified, problems);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  const uint8_t* split = nullptr;
  for (size_t i = 0; i + 4 <= size && !split; ++i)
    if (std::memcmp(data + i, kMarker, 4) == 0) split = data + i;
  std::string stub = "MZ" + std::string(kStubSize - 2 - kPackageBaseTagSize - 4, 'S');
  stub += std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize);
  uint8_t base[4];
  WriteLe32(base, kStubSize);
  stub.append(reinterpret_cast<const char*>(base), 4);
  const std::string setup = Folder() + "/Setup.exe", volume = Folder() + "/Setup-2.cab";
  Write(setup, stub + std::string(reinterpret_cast<const char*>(data), (split ? split : end) - data));
  if (split)
    Write(volume, std::string(reinterpret_cast<const char*>(split + 4), end - split - 4));
  else
    std::remove(volume.c_str());
  ReadAsTheCommandsDo(setup);
  return 0;
}
