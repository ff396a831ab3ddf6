// Turns a loaded project into Setup.exe and its follow-up volume files.
//
// Everything is written under temporary names beside the output first and
// put in place only when all of it is done, so a failed build leaves nothing
// behind. The same project and inputs give the same bytes: files go in sorted
// order, the information cabinet's entries carry a fixed time, and nothing
// depends on when or where the build runs. The information cabinet carries
// the integrity record (core/integrity.h) of everything else.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "project.h"
#include "signing.h"

// What the command line may set over the project file.
struct BuildOverrides {
  std::string output;
  std::string stub;
  std::string cabinetLibrary;  // a path, or "none"
  bool hasPassword = false;
  std::string password;
  bool hasCompression = false;  // --compression
  cab::Compression compression = cab::Compression::MsZip;
  int lzxWindow = 0;        // --lzx-window; 0: the project's
  int threads = 0;          // --threads; 0: DefaultThreads()
  uint32_t folderSize = 0;  // --folder-size; 0: the writer's 64 MiB
  SignSettings sign;        // the fields set replace the project's [Sign]
  BrandSettings brand;      // the fields set replace the project's brand keys
  bool noSign = false;
  // Called as payload files go into the cabinet: files and bytes done so far.
  std::function<void(uint64_t files, uint64_t bytes)> progress;
};

struct BuildResult {
  std::vector<std::string> outputs;  // Setup.exe first, then the volumes
  uint64_t setupSize = 0;
  uint64_t payloadFiles = 0;
  uint64_t payloadBytes = 0;  // uncompressed
  int64_t minFree = 0;
  bool isSigned = false;
};

// Every core the system reports, at least 1.
int DefaultThreads();

bool BuildPackage(const Project& project, const BuildOverrides& overrides, BuildResult& result,
                  Diagnostics& diagnostics);

// The product's files that a build takes when the project names none, and
// the folder an installed tree keeps them in, relative to the prefix (the
// folder above the builder's own).
constexpr char kStubFileName[] = "veltra-stub.exe";
constexpr char kCabinetLibraryFileName[] = "cabinet-veltra.dll";
constexpr char kInstalledFilesFolder[] = "lib/veltra";

// Where the builder looks for a file of the win32 build when the project
// names none: beside its own executable, then in ../lib/veltra from its
// folder (an installed tree), then, for the builder in its own build folder
// only, in the win32 build tree it was configured with. The first that
// exists, or empty; `looked` lists them all.
std::string FindBuiltFile(const std::string& fileName, const std::string& treeFolder,
                          std::vector<std::string>& looked);

// Block 3 from a cabinet library file: an SZDD file is taken as it is, a DLL
// is compressed (and the compression checked by expanding it again). A DLL
// whose PE checksum field is 0 gets its checksum first (inside an SZDD file
// too, which is then compressed again).
bool CabinetLibraryBlock(const std::string& path, std::vector<uint8_t>& block, std::string& error);

// The name of follow-up volume `index` (2, 3, ...) of the output `setupPath`:
// "Setup-2.cab" beside "Setup.exe".
std::string VolumeFileName(const std::string& setupPath, int index);
