// Reading a finished Setup.exe without running it: the PackageBase value,
// the header and blocks, and the two cabinets through FDI, the way the stub
// reads them (the information cabinet and the payload presented in place and
// descrambled on the fly; follow-up volumes looked for beside Setup.exe).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "codepage.h"
#include "package.h"

struct PackageImage {
  std::string path;
  uint64_t fileSize = 0;
  int64_t baseField = -1;  // where the PackageBase value sits
  int32_t base = 0;        // its value
  PackageHeader header{};
  PackageBlocks blocks{};
  // The code page of the stored names and texts, as the language block
  // records it; a package without the record is taken as 1252.
  int codePage = kDefaultCodePage;
  bool codePageRecorded = false;
};

// Finds PackageBase and reads the header; false, with `error`, when the file
// is no Veltra stub, carries no package, or its header does not describe the
// file (CheckPackageLayout).
bool OpenPackageImage(const std::string& path, PackageImage& image, std::string& error);

// The bytes of a block; false when it cannot be read.
bool ReadPackageBlock(const PackageImage& image, int64_t offset, int64_t size, std::string& bytes);

struct PackageFile {
  std::string name;  // as stored
  uint32_t size = 0;
  uint16_t date = 0, time = 0, attributes = 0;
  int volume = 1;    // where it begins
  uint32_t crc = 0;  // of the content, after a Verify or Extract walk
};

// The files of the information cabinet, extracted in memory. The cabinet is
// refused before anything is decoded when its entries overlap or together
// hold more than kMaxInfoCabinetBytes.
constexpr uint32_t kMaxInfoCabinetBytes = 32u << 20;
bool ReadInfoCabinet(const PackageImage& image, const std::string& password,
                     std::map<std::string, std::string>& files, std::string& error);

struct PayloadWalk {
  std::vector<PackageFile> files;
  std::vector<std::string> volumes;  // "Setup.exe" for the first, then the volume files read
  uint64_t bytes = 0;                // uncompressed bytes extracted or checked
  std::vector<std::string> kept;     // Extract: existing files left as they were (host paths)
};

// Where Extract writes: the folder, and whether files already there are
// replaced (never the package itself or one of its volumes).
struct ExtractTarget {
  std::string folder = ".";
  bool overwrite = false;
};

enum class PayloadAction {
  List,     // read the file lists of every volume, decompress nothing
  Verify,   // decompress everything, write nothing
  Extract,  // write every file below a folder
};

// Walks the payload and its follow-up volumes. For Extract, stored names go
// below the target folder with their folders, mapped by MapExtractName
// ("<SYS>\x.dll" lands in SYS/x.dll); when any name is refused nothing is
// written. Files are created without following links (OutputFolder); time
// stamps are set as stored (taken as UTC). The set is followed forward only:
// a volume that names one already read is refused, and so is a cabinet whose
// entries overlap (which would have its folder decoded once per entry).
bool WalkPayload(const PackageImage& image, const std::string& password, PayloadAction action,
                 const ExtractTarget& target, PayloadWalk& walk, std::string& error);
