#include "cabnotify.h"

#include <windows.h>

#include "cabcontext.h"
#include "crc32.h"
#include "exitsetup.h"
#include "extractionui.h"
#include "fileops.h"
#include "integritycheck.h"
#include "pausegate.h"
#include "pathops.h"
#include "setuplog.h"
#include "placeholders.h"
#include "setupparams.h"
#include "streamio.h"
#include "volumeorder.h"
#include "volumeset.h"

FDIERROR CabNotifyFault = FDIERROR_NONE;

namespace {

const int kOpenCreate = 0x0100;
// Windows rejects the cabinet's execute (0x40) and name-is-UTF (0x80) bits in
// SetFileAttributesA, which would then apply none of the others.
const unsigned kApplicableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// How often FDI may refuse the volume at one location before the run stops.
const int kMaxRefusedVolumes = 3;

// The folder last found present. Most files of a cabinet land in the folder
// of the file before them, which then needs no question to the file system.
std::string PresentFolder;

bool EnsureTargetFolder(const std::string& folder) {
  if (!folder.empty() && folder == PresentFolder) return true;
  for (;;) {
    CreateFolderPath(folder);
    if (DirectoryExists(folder)) {
      PresentFolder = folder;
      return true;
    }
    if (AskAbortRetryIgnore(Message(kMsgCreateFolderFailed) + "\r\n" + folder) == 0) return false;
  }
}

// The partial name of a target: "~VT" and the CRC-32 of the target's file
// name in decimal, in the target's own folder, so that the final move
// stays on one volume. A run that was killed leaves it behind; the next run
// that writes the same file computes the same name and removes it, and
// touches no other name. A partial file of a run still going is held open
// without delete sharing, so it cannot be taken for a stale one.
std::string PartialPath(const std::string& target) {
  const std::string name = FileNamePart(target);
  const uint32_t crc = Crc32Update(0, reinterpret_cast<const uint8_t*>(name.data()), name.size());
  return DirectoryPart(target) + "~VT" + Int64ToText(crc);
}

// Abort/Retry/Ignore with message 61 for `target`: true for Retry.
bool AskRetry(const std::string& target) {
  return AskAbortRetryIgnore(Message(kMsgCreateFileFailed) + '\r' + target) != 0;
}

// The folder is made again if it has gone since it was last seen.
intptr_t CreatePartial(const std::string& partial, const std::string& folder) {
  int32_t error = 0;
  intptr_t handle = StreamOpenEx(partial.c_str(), kOpenCreate, 0, &error, nullptr);
  if (handle == -1 && error == ERROR_PATH_NOT_FOUND) {
    PresentFolder.clear();
    if (EnsureTargetFolder(folder)) handle = StreamOpenEx(partial.c_str(), kOpenCreate, 0, &error, nullptr);
  }
  return handle;
}

intptr_t OnCopyFile(PFDINOTIFICATION pfdin) {
  const std::string stored = pfdin->psz1;
  // A name with a ".." part would land outside the folder it is meant for:
  // no builder writes one, so the cabinet is damaged or hostile.
  if (HasParentFolderPart(stored)) {
    CabNotifyFault = FDIERROR_CORRUPT_CABINET;
    return -1;
  }
  CheckAnnouncedFile(stored, static_cast<uint32_t>(pfdin->cb));
  const std::string target = TargetPath(stored);
  if (ExtractionUi.ShowStatus) ExtractionUi.ShowStatus(ReplaceAll("<S>", stored, Message(kMsgDefrostStatus)));
  if (VolumeSet.State == NextVolumeState::Pending) VolumeSet.State = NextVolumeState::None;
  VolumeSet.RefusedVolumes = 0;
  const std::string folder = DirectoryPart(target);
  if (!EnsureTargetFolder(folder)) return 0;
  // A partial file that a killed run left goes, whether this file is written
  // or kept. Partial files are never read-only (attributes are applied after
  // the move), and one of a run still going is held open and stays.
  const std::string partial = PartialPath(target);
  DeleteFileA(partial.c_str());
  // The file there stays until its replacement is complete.
  if (FileExists(target)) {
    if (!DecideOverwrite(target)) {
      BytesDone += static_cast<int32_t>(pfdin->cb);
      if (ExtractionUi.ShowProgress) ExtractionUi.ShowProgress(BytesDone);
      return 0;
    }
    while (!FileReplaceable(target)) {
      if (!AskRetry(target)) return 0;
    }
  }
  intptr_t handle;
  while ((handle = CreatePartial(partial, folder)) == -1) {
    if (!AskRetry(target)) return 0;
  }
  return BeginTarget(stored, static_cast<uint32_t>(pfdin->cb), target, partial, handle);
}

intptr_t OnCloseFileInfo(PFDINOTIFICATION pfdin) {
  // The stored time is applied as it is, as UTC: the builder stores UTC.
  FILETIME written;
  DosDateTimeToFileTime(pfdin->date, pfdin->time, &written);
  const HANDLE handle = reinterpret_cast<HANDLE>(pfdin->hf);
  SetFileTime(handle, nullptr, nullptr, &written);
  CloseHandle(handle);
  if (!FinishTarget()) return 1;
  const std::string target = TargetPath(pfdin->psz1);
  while (!MoveFileOver(PartialPath(target), target)) {
    if (AskRetry(target)) continue;
    AbandonTarget();  // Ignore: the file there stays as it was
    LogLine("Not replaced: " + target);
    return 1;
  }
  ForgetTarget();
  LogLine("File: " + target);
  // A file just created has the archive attribute and no other.
  const unsigned attributes = pfdin->attribs & kApplicableAttributes;
  if (attributes != FILE_ATTRIBUTE_ARCHIVE) SetFileAttributesA(target.c_str(), attributes);
  return 1;
}

// Every cabinet FDI opens names the volume after it; CabCopy continues there
// even when no file carried the run across.
intptr_t OnCabinetInfo(PFDINOTIFICATION pfdin) {
  VolumeSet.AnnouncedCabinet = pfdin->psz1 ? pfdin->psz1 : "";
  VolumeSet.AnnouncedDisk = pfdin->psz2 ? pfdin->psz2 : "";
  VolumeSet.AnnouncedFolder = pfdin->psz3 ? pfdin->psz3 : "";
  return 0;
}

intptr_t OnNextCabinet(PFDINOTIFICATION pfdin) {
  VolumeSet.NextDiskName = pfdin->psz2;
  std::string cabPath = pfdin->psz3;
  const std::string cabName = FileNamePart(pfdin->psz1);
  // FDI asks again, with the reason, when the volume it opened was unusable.
  if (pfdin->fdie != FDIERROR_NONE && ++VolumeSet.RefusedVolumes >= kMaxRefusedVolumes) {
    FailExtraction(AddTrailingBackslash(cabPath) + cabName + "\r\n" + Message(kMsgCabWrongSequence),
                   kExitFailed);
  }
  LocateNextCabinet(cabName, VolumeSet.NextDiskName, cabPath);
  CopyToBuffer(pfdin->psz3, cabPath);
  return 0;
}

}  // namespace

intptr_t FDIAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
  PassPauseGate();
  switch (fdint) {
    case fdintCABINET_INFO: return OnCabinetInfo(pfdin);
    case fdintCOPY_FILE: return OnCopyFile(pfdin);
    case fdintCLOSE_FILE_INFO: return OnCloseFileInfo(pfdin);
    case fdintNEXT_CABINET: return OnNextCabinet(pfdin);
    default: return 0;
  }
}

std::string TargetPath(const std::string& storedName) {
  if (storedName.find('<') != std::string::npos) return ExpandPlaceholders(storedName, false);
  return SetupParams.ExtractDir + storedName;
}

bool DecideOverwrite(const std::string& path) {
  if (SetupParams.OverwriteMode == 1) return true;
  if (SetupParams.OverwriteMode != 0) return false;
  return ExtractionUi.AskOverwrite && ExtractionUi.AskOverwrite(path);
}

int AskAbortRetryIgnore(const std::string& text) {
  const int answer = ExtractionUi.AskAbortRetryIgnore ? ExtractionUi.AskAbortRetryIgnore(text) : IDABORT;
  if (answer == IDRETRY) return 1;
  if (answer == IDIGNORE) return 0;
  FailExtraction("", kExitFailed);
}

void LocateNextCabinet(const std::string& cabName, const std::string& diskName, std::string& cabPath) {
  if (cabPath.empty()) cabPath = SetupParams.SourceDir;
  if (cabPath == "\\") cabPath.clear();
  VolumeSet.NextCabinetName = cabName;
  VolumeSet.NextCabinetPath = StripTrailingBackslash(cabPath);
  for (;;) {
    const std::string folder = AddTrailingBackslash(cabPath);
    // The folder goes back to FDI in a 256-byte buffer: a longer one cannot be used.
    if (folder.size() < kCabPathBuffer && FileExists(folder + cabName)) break;
    VolumeSet.NextDiskName = diskName;
    VolumeSet.NextCabinetName = cabName;
    if (!ExtractionUi.AskNextVolume || !ExtractionUi.AskNextVolume()) FailExtraction("", kExitStopped);
    cabPath = AddTrailingBackslash(VolumeSet.NextCabinetPath);
  }
  cabPath = AddTrailingBackslash(cabPath);
  VolumeSet.NextCabinet = cabPath + cabName;
  VolumeSet.State = NextVolumeState::Located;
  if (!CabIsCabinet(CabContext, VolumeSet.NextCabinet, &CabInfo))
    FailExtraction("1. " + VolumeSet.NextCabinet + "\r\n" + Message(kMsgCabCorrupt), kExitFailed);
  if (!AcceptNextVolume(cabName, CabInfo))
    FailExtraction(VolumeSet.NextCabinet + "\r\n" + Message(kMsgCabWrongSequence), kExitFailed);
  CheckVolumeIntegrity(VolumeSet.NextCabinet, cabName);
}

void CheckFreeSpace() {
  if (DiskFreeBytes(SetupParams.ExtractDir) >= SetupParams.MinFree) return;
  FailExtraction(ExpandPlaceholders(Message(kMsgDiskSpace), true), kExitFailed);
}

// UnpackDir is made only with RemoveAfter.
void AbandonExtraction() {
  AbandonTarget();
  RemoveUnpackDir();
}
