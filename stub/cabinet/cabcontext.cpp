#include "cabcontext.h"

#include <cstring>

#include "byteorder.h"
#include "cabnotify.h"
#include "exitsetup.h"
#include "fixedtexts.h"
#include "integritycheck.h"
#include "pathops.h"
#include "setupparams.h"
#include "streamio.h"
#include "volumeorder.h"
#include "volumeset.h"

HFDI CabContext = nullptr;
ERF CabError;
FDICABINETINFO CabInfo;

namespace {

void ClearCabError() { std::memset(&CabError, 0, sizeof CabError); }

// Runs FDICopy on one cabinet: FDI opens folder + name through StreamOpen.
bool CopyOneCabinet(HFDI context, const std::string& cabinet) {
  std::string name = FileNamePart(cabinet);
  std::string folder = DirectoryPart(cabinet);
  VolumeSet.AnnouncedCabinet.clear();
  ClearCabError();
  return SetupParams.FdiCopy(context, &name[0], &folder[0], 0, CabNotify, nullptr, nullptr) != 0;
}

// FDI moves on to the next volume only while it writes a file that crosses
// into it. When no such file was written (it was kept, skipped, or no file
// crosses the boundary), the files that begin in later volumes would be lost
// silently; the volume that the last cabinet announced is run all the same.
void FollowAnnouncedVolume() {
  if (VolumeSet.State != NextVolumeState::None || VolumeSet.AnnouncedCabinet.empty()) return;
  std::string folder = VolumeSet.AnnouncedFolder;
  LocateNextCabinet(FileNamePart(VolumeSet.AnnouncedCabinet), VolumeSet.AnnouncedDisk, folder);
}

// The key is the fixed prefix and the password, used cyclically, so under a
// wrong password every byte whose key position falls within the prefix still
// comes out right: the signature always, and with a password of the same
// length as the true one, half the cabinet. Some cabinet libraries check no
// more than signature and version and then run into the garbage. The rest of
// the fixed header is checked here: the reserved fields are zero, the
// cabinet fits in what the file holds, and its file list starts inside it.
bool HasSoundCabinetHeader(intptr_t handle) {
  uint8_t header[36];
  const bool read = StreamRead(handle, header, sizeof header) == sizeof header;
  const uint32_t available = static_cast<uint32_t>(StreamSeek(handle, 0, SEEK_END));
  StreamSeek(handle, 0, SEEK_SET);
  if (!read || std::memcmp(header, "MSCF", 4) != 0) return false;
  const uint32_t cabinetSize = ReadLe32(header + 8);
  const uint32_t filesOffset = ReadLe32(header + 16);
  return ReadLe32(header + 4) == 0 && ReadLe32(header + 12) == 0 && ReadLe32(header + 20) == 0 &&
         header[24] == 3 && header[25] == 1 && cabinetSize >= sizeof header && cabinetSize <= available &&
         filesOffset >= sizeof header && filesOffset < cabinetSize;
}

}  // namespace

HFDI CabCreate() {
  ClearCabError();
  return SetupParams.FdiCreate(StreamAlloc, StreamFree, StreamOpen, StreamRead, StreamWrite, StreamClose,
                               StreamSeek, cpuUNKNOWN, &CabError);
}

bool CabIsCabinet(HFDI context, const std::string& cabinet, FDICABINETINFO* info) {
  std::string path = cabinet;
  const intptr_t handle = StreamOpen(&path[0], 0, 0);
  ClearCabError();
  const bool isCabinet =
      handle != -1 && HasSoundCabinetHeader(handle) && SetupParams.FdiIsCabinet(context, handle, info) != 0;
  if (handle != -1) StreamClose(handle);
  return isCabinet;
}

// The first failing run ends the set: a volume after it may hold files
// that begin there, but the file that failed stays wrong.
bool CabCopy(HFDI context) {
  bool ok = CopyOneCabinet(context, VirtualCabName);
  if (ok) FollowAnnouncedVolume();
  // Each run extracts the files that begin in one volume; the handler records
  // the next volume whenever a file continues there.
  while (ok && VolumeSet.State == NextVolumeState::Located) {
    if (!CabIsCabinet(CabContext, VolumeSet.NextCabinet, &CabInfo))
      FailExtraction(VolumeSet.NextCabinet + "\r\n" + Message(kMsgCabCorrupt), kExitFailed);
    const std::string cabinet = VolumeSet.NextCabinet;
    VolumeSet.State = NextVolumeState::Pending;
    VolumeSet.NextCabinet.clear();
    ok = CopyOneCabinet(context, cabinet);
    if (VolumeSet.State == NextVolumeState::Pending) VolumeSet.State = NextVolumeState::None;
    if (ok) FollowAnnouncedVolume();
  }
  if (!ok) VolumeSet.State = NextVolumeState::None;
  return ok;
}

void ExtractPackageCabinet(const PackageCabinetRun& run) {
  ExitCleanup = AbandonExtraction;
  CabContext = CabCreate();
  if (!CabContext) {
    ShowSetupError(kTextCannotPrepare);
    ExitSetup(kExitFailed);
  }
  if (!CabIsCabinet(CabContext, VirtualCabName, &CabInfo)) {
    run.ReportNotACabinet();
    ExitSetup(kExitStopped);
  }
  StartVolumeSet(CabInfo);
  if (!CabCopy(CabContext)) {
    if (CabError.erfOper == FDIERROR_USER_ABORT && CabNotifyFault != FDIERROR_NONE)
      CabError.erfOper = CabNotifyFault;
    FailExtraction(run.CopyFailurePrefix + CabErrorText(CabError), kExitFailed);
  }
  CheckNothingHalfWritten();
  if (!run.DestroyContext) return;
  CabDestroy(CabContext);
  CabContext = nullptr;
}

bool CabDestroy(HFDI context) {
  ClearCabError();
  return SetupParams.FdiDestroy(context) != 0;
}

std::string CabErrorText(ERF error) {
  switch (error.erfOper) {
    case FDIERROR_NONE: return "?";
    case FDIERROR_CABINET_NOT_FOUND: return Message(kMsgCabNotFound);
    case FDIERROR_NOT_A_CABINET: return Message(kMsgCabFormat);
    case FDIERROR_UNKNOWN_CABINET_VERSION: return Message(kMsgCabVersion);
    case FDIERROR_CORRUPT_CABINET: return Message(kMsgCabCorrupt);
    case FDIERROR_ALLOC_FAIL: return Message(kMsgCabNoMemory);
    case FDIERROR_BAD_COMPR_TYPE: return Message(kMsgCabUnknownType);
    case FDIERROR_MDI_FAIL: return "CabFailDecode";
    case FDIERROR_TARGET_FILE: return Message(kMsgCabExtractFailed);
    case FDIERROR_RESERVE_MISMATCH: return Message(kMsgCabReserveMismatch);
    case FDIERROR_WRONG_CABINET: return Message(kMsgCabWrongSequence);
    case FDIERROR_USER_ABORT: return Message(kMsgCabUserAbort);
    default: return Message(kMsgCabUnknownError);
  }
}
