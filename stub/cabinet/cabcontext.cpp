#include "cabcontext.h"

#include <cstring>

#include "byteorder.h"
#include "cabnotify.h"
#include "exitsetup.h"
#include "pathops.h"
#include "setupparams.h"
#include "streamio.h"

HFDI CabContext = nullptr;
ERF CabError;
FDICABINETINFO CabInfo;
std::string NextCabinet;
const char kNewCabMarker[] = "$NEWCAB$";

namespace {

void ClearCabError() { std::memset(&CabError, 0, sizeof CabError); }

// Runs FDICopy on one cabinet: FDI opens folder + name through StreamOpen.
bool CopyOneCabinet(HFDI context, const std::string& cabinet) {
  std::string name = FileNamePart(cabinet);
  std::string folder = DirectoryPart(cabinet);
  AnnouncedCabinet.clear();
  ClearCabError();
  return SetupParams.FdiCopy(context, &name[0], &folder[0], 0, CabNotify, nullptr, nullptr) != 0;
}

// FDI moves on to the next volume only while it writes a file that crosses
// into it. When no such file was written (it was kept, skipped, or no file
// crosses the boundary), the files that begin in later volumes would be lost
// silently; the volume that the last cabinet announced is run all the same.
void FollowAnnouncedVolume() {
  if (!NextCabinet.empty() || AnnouncedCabinet.empty()) return;
  std::string folder = AnnouncedFolder;
  LocateNextCabinet(FileNamePart(AnnouncedCabinet), AnnouncedDisk, folder);
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
         header[24] == 3 && header[25] == 1 && cabinetSize >= sizeof header &&
         cabinetSize <= available && filesOffset >= sizeof header && filesOffset < cabinetSize;
}

}  // namespace

HFDI CabCreate() {
  ClearCabError();
  return SetupParams.FdiCreate(StreamAlloc, StreamFree, StreamOpen, StreamRead, StreamWrite,
                               StreamClose, StreamSeek, cpuUNKNOWN, &CabError);
}

bool CabIsCabinet(HFDI context, const std::string& cabinet, FDICABINETINFO* info) {
  std::string path = cabinet;
  const intptr_t handle = StreamOpen(&path[0], 0, 0);
  ClearCabError();
  const bool isCabinet = handle != -1 && HasSoundCabinetHeader(handle) &&
                         SetupParams.FdiIsCabinet(context, handle, info) != 0;
  if (handle != -1) StreamClose(handle);
  return isCabinet;
}

bool CabCopy(HFDI context) {
  bool ok = CopyOneCabinet(context, VirtualCabName);
  if (ok) FollowAnnouncedVolume();
  // Each run extracts the files that begin in one volume; the handler records
  // the next volume whenever a file continues there.
  while (!NextCabinet.empty()) {
    if (!CabIsCabinet(CabContext, NextCabinet, &CabInfo)) {
      ShowSetupError(NextCabinet + "\r\n" + Message(71));
      ExitSetup(1);
    }
    const std::string cabinet = NextCabinet;
    NextCabinet = kNewCabMarker;
    ok = CopyOneCabinet(context, cabinet);
    if (NextCabinet == kNewCabMarker) NextCabinet.clear();
    if (ok) FollowAnnouncedVolume();
  }
  return ok;
}

bool CabDestroy(HFDI context) {
  ClearCabError();
  return SetupParams.FdiDestroy(context) != 0;
}

std::string CabErrorText(ERF error) {
  switch (error.erfOper) {
    case FDIERROR_NONE: return "?";
    case FDIERROR_CABINET_NOT_FOUND: return Message(67);
    case FDIERROR_NOT_A_CABINET: return Message(70);
    case FDIERROR_UNKNOWN_CABINET_VERSION: return Message(69);
    case FDIERROR_CORRUPT_CABINET: return Message(71);
    case FDIERROR_ALLOC_FAIL: return Message(72);
    case FDIERROR_BAD_COMPR_TYPE: return Message(68);
    case FDIERROR_MDI_FAIL: return "CabFailDecode";
    case FDIERROR_TARGET_FILE: return Message(73);
    case FDIERROR_RESERVE_MISMATCH: return Message(74);
    case FDIERROR_WRONG_CABINET: return Message(75);
    case FDIERROR_USER_ABORT: return Message(76);
    default: return Message(77);
  }
}
