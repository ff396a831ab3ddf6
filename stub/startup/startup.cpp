#include "startup.h"

#include <windows.h>
#include <commctrl.h>

#include "exitsetup.h"
#include "fileops.h"
#include "packagefile.h"
#include "pathops.h"
#include "provision.h"
#include "setupparams.h"

namespace {

// Boxes shown before the language text is loaded carry fixed English texts.
[[noreturn]] void FailEarly(const char* text) {
  MessageBoxA(SetupParams.MainWindow, text, kFixedCaption, MB_OK | MB_ICONEXCLAMATION);
  CloseOwnFile();
  ExitSetup(1);
}

// A system folder as the sequence keeps it: at most 261 characters, with a
// trailing backslash.
std::string FolderFromBuffer(const char* buffer) {
  std::string folder(buffer);
  if (folder.size() > 261) folder.resize(261);
  return AddTrailingBackslash(folder);
}

}  // namespace

void InitRunState() {
  SetupParams.MainWindow = nullptr;
  SetupParams.WorkerRunning = false;
  InitCommonControls();
}

void LearnFolders() {
  char buffer[1024];
  SetupParams.SourceDir = AddTrailingBackslash(DirectoryPart(OwnExecutablePath()));
  SetupParams.TempDir = GetTempPathA(sizeof buffer, buffer) ? FolderFromBuffer(buffer) : "";
  SetupParams.SystemDir = GetSystemDirectoryA(buffer, sizeof buffer) ? FolderFromBuffer(buffer) : "";
  SetupParams.WindowsDir = GetWindowsDirectoryA(buffer, sizeof buffer) ? FolderFromBuffer(buffer) : "";
}

void CheckPackage() {
  if (!ReadPackageHeader()) FailEarly("No data is associated with this Package.");
}

void MakeWorkDir() {
  SetupParams.WorkDir = CreateUniqueFolder(SetupParams.TempDir, "VELTRA");
  // Without a private folder the temporary files would land in the current
  // folder and never be removed, so the run stops here.
  if (SetupParams.WorkDir.empty()) FailEarly("Unable to create temporary folder.");
}

void LoadLanguageText() {
  const std::string path = SetupParams.WorkDir + "~LNG1.$$$";
  const PackageBlocks blocks = ComputePackageBlocks(PackageBase(), SetupParams.Header);
  const bool loaded = CopyPackageBlock(blocks.LangText, SetupParams.Header.LangTextSize, path) &&
                      LoadLangTable(path, Lang);
  DeleteFileA(path.c_str());
  if (!loaded) FailEarly("No localization data could be loaded.");
}

void RunSetup() {
  InitRunState();
  LearnFolders();
  CheckPackage();
  MakeWorkDir();
  LoadLanguageText();
  ProvideCabinetLibrary();
  ExitSetup(0);
}
