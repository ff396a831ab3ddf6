// Shared ground of the builder's tests: a scratch project folder with the
// files that projects name, a stand-in stub, and running veltra-pack.
#pragma once
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cab_test_util.h"
#include "packagebase.h"
#include "uTrans.h"

namespace packtest {

using cabtest::ReadFile;
using cabtest::WriteFile;

// A Windows bitmap of one 1x1 pixel with a 40-byte info header.
inline std::string SmallBitmap() {
  std::string b = "BM";
  auto le32 = [&b](uint32_t v) {
    for (int i = 0; i < 4; ++i) b += char(v >> (8 * i));
  };
  le32(58);
  le32(0);
  le32(54);
  le32(40);
  le32(1);
  le32(1);
  b += std::string("\x01\x00\x18\x00", 4);
  b += std::string(24, '\0');
  b += std::string("\x00\x00\xFF\x00", 4);
  return b;
}

// An icon file of 32-bit bitmaps, one of each size.
inline std::string SmallIcon(const std::vector<int>& sizes = {16, 32}) {
  auto le = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char(v >> (8 * i));
  };
  std::string directory, images;
  le(directory, 0, 2), le(directory, 1, 2), le(directory, uint32_t(sizes.size()), 2);
  size_t offset = 6 + 16 * sizes.size();
  for (int s : sizes) {
    std::string image;
    le(image, 40, 4), le(image, uint32_t(s), 4), le(image, uint32_t(2 * s), 4), le(image, 1, 2),
        le(image, 32, 2);
    image += std::string(24, '\0');
    for (int p = 0; p < s * s; ++p) le(image, 0xFF3070C0u + uint32_t(p % 7), 4);
    image += std::string(size_t((s + 31) / 32 * 4 * s), '\0');
    directory += char(s == 256 ? 0 : s), directory += char(s == 256 ? 0 : s),
        directory += std::string(2, '\0');
    le(directory, 1, 2), le(directory, 32, 2), le(directory, uint32_t(image.size()), 4);
    le(directory, uint32_t(offset), 4);
    offset += image.size();
    images += image;
  }
  return directory + images;
}

// What the builder needs of a stub: the PackageBase tag with a zero value,
// somewhere in a file that is not a package yet.
inline std::string FakeStub() {
  return "MZ" + std::string(1000, 'S') + std::string(VELTRA_PACKAGE_BASE_TAG, kPackageBaseTagSize) +
         std::string(4, '\0') + std::string(3000, 's');
}

// A stand-in for the cabinet library: an "MZ" file that compresses well.
inline std::string FakeLibrary() {
  std::string dll = "MZ";
  for (int i = 0; i < 2000; ++i) dll += "FDICreate FDIIsCabinet FDICopy FDIDestroy " + std::to_string(i % 17);
  return dll;
}

// A scratch folder laid out as a project: files/ with a nested tree, the
// pictures, texts and the stand-ins above.
class ProjectDir {
 public:
  ProjectDir() {
    Mkdir("files");
    Mkdir("files/sub");
    Mkdir("files/sub/deeper");
    Write("files/a.txt", "alpha\r\n");
    Write("files/sub/b.txt", "bravo");
    Write("files/sub/deeper/c.bin", cabtest::RandomBytes(300000, 7));
    Write("side.bmp", SmallBitmap());
    Write("not-a-bitmap.bmp", "\x89PNG\r\n\x1A\n" + std::string(60, '\0'));
    Write("stub.exe", FakeStub());
    Write("lib.dll", FakeLibrary());
    Write("readme.txt", "\n\nRead me\n\nsecond paragraph\n");
    Write("license.txt", "Licence\r\n");
    Write("lang.txt", WriteLangText(DefaultLangTable()));
  }
  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  void Write(const std::string& name, const std::string& bytes) const { WriteFile(File(name), bytes); }
  void Mkdir(const std::string& name) const { ::mkdir(File(name).c_str(), 0777); }
  // Files in the folder (recursively), as "name size" lines, for checking
  // that a failed build left nothing behind.
  std::string Listing(const std::string& sub = "") const {
    std::string log = File(".listing");
    cabtest::RunTool("cd '" + File(sub) + "' && find . -type f ! -name .listing | sort", log);
    return ReadFile(log);
  }

 private:
  cabtest::TempDir dir_;
};

// Runs veltra-pack with the arguments (already quoted as needed); `output`
// gets stdout and stderr. Returns the exit code.
inline int RunPack(const std::string& args, std::string& output, const std::string& cwd = ".") {
  cabtest::TempDir logDir;
  const std::string log = logDir.File("log");
  const int status =
      std::system(("cd '" + cwd + "' && '" VELTRA_PACK_EXE "' " + args + " >'" + log + "' 2>&1").c_str());
  output = ReadFile(log);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace packtest
