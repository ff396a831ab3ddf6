#include "provision.h"

#include <windows.h>

#include "_mLZ_API.h"
#include "exitsetup.h"
#include "fileops.h"
#include "fixedtexts.h"
#include "packagefile.h"
#include "pechecksum.h"
#include "setupparams.h"
#include "setuplog.h"

#include <vector>

namespace {

const char kCompressedLibrary[] = "~DLL1.$$$";
const char kExpandedLibrary[] = "~DLL2.$$$";
#ifdef _WIN64
const uint16_t kOwnMachine = kPeMachineAmd64;
#else
const uint16_t kOwnMachine = kPeMachineI386;
#endif

// Loading runs the library's start-up code, so a damaged block 3 would be
// executed before anything could notice. The library must be a DLL for this
// program's machine, and its checksum, which the builder writes where the DLL
// has none, must match its bytes.
bool IsSoundLibraryFile(const std::string& path) {
  std::vector<uint8_t> image;
  if (!ReadFileBytes(path, image)) return false;
  PeImageFacts facts;
  if (!ReadPeImageFacts(image.data(), image.size(), facts)) return false;
  if (!facts.isDll || facts.machine != kOwnMachine) return false;
  return facts.storedChecksum == 0 ||
         facts.storedChecksum == ComputePeChecksum(image.data(), image.size(), facts.checksumOffset);
}

// The package's own copy from block 3: copied out, expanded, then loaded.
HMODULE LoadPackagedLibrary() {
  const std::string compressed = SetupParams.WorkDir + kCompressedLibrary;
  const std::string expanded = SetupParams.WorkDir + kExpandedLibrary;
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), SetupParams.Header);
  CopyPackageBlock(blocks.CabLib, SetupParams.Header.CabLibSize, compressed);
  ExpandLzFile(compressed, expanded);
  DeleteFileA(compressed.c_str());
  const HMODULE library = IsSoundLibraryFile(expanded) ? LoadLibraryA(expanded.c_str()) : nullptr;
  if (!library) DeleteFileA(expanded.c_str());
  return library;
}

bool TakeEntryPoints(HMODULE library) {
  SetupParams.FdiCreate = reinterpret_cast<PFNFDICREATE>(GetProcAddress(library, "FDICreate"));
  SetupParams.FdiIsCabinet = reinterpret_cast<PFNFDIISCABINET>(GetProcAddress(library, "FDIIsCabinet"));
  SetupParams.FdiCopy = reinterpret_cast<PFNFDICOPY>(GetProcAddress(library, "FDICopy"));
  SetupParams.FdiDestroy = reinterpret_cast<PFNFDIDESTROY>(GetProcAddress(library, "FDIDestroy"));
  return SetupParams.FdiCreate && SetupParams.FdiIsCabinet && SetupParams.FdiCopy && SetupParams.FdiDestroy;
}

}  // namespace

void ProvideCabinetLibrary() {
  // The system library comes from the system folder only, never through a
  // search that includes the folder of a downloaded Setup.exe.
  SetupParams.CabinetLib = LoadLibraryA((SetupParams.SystemDir + "cabinet.dll").c_str());
  const char* source = "the system's";
  if (!SetupParams.CabinetLib) {
    SetupParams.CabinetLib = LoadPackagedLibrary();
    source = "the package's own";
  }
  // A library without all four entry points cannot serve a cabinet context.
  if (SetupParams.CabinetLib && !TakeEntryPoints(SetupParams.CabinetLib)) {
    FreeLibrary(SetupParams.CabinetLib);
    SetupParams.CabinetLib = nullptr;
  }
  if (SetupParams.CabinetLib) {
    LogLine(std::string("Cabinet library loaded: ") + source);
  } else {
    LogLine("Failure: no cabinet library could be loaded");
    if (!ShowsNoBoxes()) {
      MessageBoxA(SetupParams.MainWindow, Message(kMsgCabinetDllFailed).c_str(), kFixedCaption,
                  MB_OK | MB_ICONEXCLAMATION);
    }
    CloseOwnFile();
    ExitSetup(kExitFailed);
  }
}
