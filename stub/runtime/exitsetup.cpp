#include "exitsetup.h"

#include <windows.h>

#include <cstdlib>

#include "fileops.h"
#include "pathops.h"
#include "setupparams.h"
#include "setuplog.h"

void (*ExitCleanup)() = nullptr;

namespace {

// The folder reported last by the walk. A folder is reported while its own
// search is still open, so it can only be removed at the next report.
std::string RememberedFolder;

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool DeleteWalkedEntry(const std::string& path) {
  if (!RememberedFolder.empty()) RemoveDirectoryA(RememberedFolder.c_str());
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    RememberedFolder = path;
  } else {
    // A link is removed itself; clearing its attributes could reach the file
    // it points at.
    if (!IsLink(attributes)) SetFileAttributesA(path.c_str(), 0);
    DeleteFileA(path.c_str());
    RememberedFolder.clear();
  }
  return true;
}

void DeleteGdiObject(void* handle) {
  if (handle) DeleteObject(static_cast<HGDIOBJ>(handle));
}

}  // namespace

void RemoveFolderTree(const std::string& folder) {
  if (folder.empty()) return;
  // A folder that has become a link since it was made is removed as a link:
  // walking it would empty the folder it points at. The name without its
  // backslash stands for the link itself, not for its target.
  if (!IsLink(GetFileAttributesA(StripTrailingBackslash(folder).c_str()))) {
    RememberedFolder.clear();
    WalkFolder(folder, "*.*", true, DeleteWalkedEntry);
    RememberedFolder.clear();
  }
  RemoveDirectoryA(folder.c_str());
}

void RemoveWorkDir() { RemoveFolderTree(SetupParams.WorkDir); }

void RemoveUnpackDir() { RemoveFolderTree(SetupParams.UnpackDir); }

void ReleaseRun() {
  if (ExitCleanup) ExitCleanup();
  if (SetupParams.CabinetLib) FreeLibrary(SetupParams.CabinetLib);
  SetupParams.CabinetLib = nullptr;
  SetupParams.FdiCreate = nullptr;
  SetupParams.FdiIsCabinet = nullptr;
  SetupParams.FdiCopy = nullptr;
  SetupParams.FdiDestroy = nullptr;
  RemoveWorkDir();
  DeleteGdiObject(SetupParams.DialogFont);
  DeleteGdiObject(SetupParams.TitleFont);
  DeleteGdiObject(SetupParams.SideBitmap);
  DeleteGdiObject(SetupParams.HeaderBitmap);
}

void ExitSetup(ExitCode code) {
  LogNumber("Exit code: ", code);
  ReleaseRun();
  std::exit(static_cast<int>(code));
}

bool ShowSetupError(const std::string& text) {
  const std::string composed = Message(kMsgCannotContinue) + "\r\n" + text;
  LogLine("Failure: " + text);
  if (!SetupParams.Unattended) {
    MessageBoxA(SetupParams.MainWindow, composed.c_str(), Message(kMsgSetupTitle).c_str(),
                MB_OK | MB_ICONHAND);
  }
  RemoveDirectoryA(SetupParams.ExtractDir.c_str());
  return true;
}
