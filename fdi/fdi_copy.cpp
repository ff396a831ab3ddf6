// FDICopy: opens a cabinet, walks its file entries with the notifications
// that FDI documents, and extracts the files the caller asks for.
//
// Quirks handled here:
//  - Files continued from a previous cabinet get fdintPARTIAL_FILE and are
//    not extracted; their start is named from this cabinet's header.
//  - A file that continues into the next cabinet has the caller find it
//    through fdintNEXT_CABINET; a cabinet that is missing, damaged, of
//    another set or out of sequence is refused and asked for again with the
//    reason in fdie. The same refusal for the same path ten times running,
//    or a thousand refusals in all, end the run with that reason, so that a
//    caller who keeps naming the same wrong file cannot loop forever.
//  - fdintENUMERATE comes before the first and after the last file entry and
//    after the first file that spanned cabinets; the caller may move on to
//    another entry or stop early through cb and iFolder.
//  - At fdintCLOSE_FILE_INFO the execute bit leaves the attributes and shows
//    as cb = 1 instead, as FDI documents.
//  - When extraction fails with a target file open, FDI closes it through
//    the close callback; the caller then deletes it.
//  - A context made without a write callback extracts nothing: a target
//    handed back at fdintCOPY_FILE is closed again and the copy ends with
//    TARGET_FILE.
#include <cstring>

#include "cabinet_reader.h"
#include "fdi_context.h"
#include "folder_reader.h"

namespace fdi {

namespace {

using cab::Cabinet;
using cab::kNameCapacity;

constexpr int kOpenReadOnlyBinary = 0x8000;  // _O_RDONLY | _O_BINARY
constexpr int kPermitReadWrite = 0x0180;     // _S_IREAD | _S_IWRITE
constexpr int kMaxSameRefusals = 10;
constexpr int kMaxRefusals = 1000;

bool joinPath(char* target, const char* path, const char* name) {
  size_t p = path ? std::strlen(path) : 0;
  size_t n = name ? std::strlen(name) : 0;
  if (p + n + 1 > CB_MAX_CAB_PATH) return false;
  if (p) std::memcpy(target, path, p);
  if (n) std::memcpy(target + p, name, n);
  target[p + n] = 0;
  return true;
}

void copyText(char* target, const char* source) {
  size_t n = source ? std::strlen(source) : 0;
  if (n >= CB_MAX_CAB_PATH) n = CB_MAX_CAB_PATH - 1;
  if (n) std::memcpy(target, source, n);
  target[n] = 0;
}

class CopyRun final : public cab::VolumeChain {
 public:
  CopyRun(Context& ctx, PFNFDINOTIFY notify, void* user)
      : ctx_(ctx), mem_(ctx.mem), notify_(notify), user_(user), reader_(ctx.mem, *this) {}
  ~CopyRun() override;

  FDIERROR run(const char* name, const char* path);
  cab::Status NextVolume(uint32_t index, Cabinet*& next) override {
    return cabStatus(nextVolume(index, next));
  }

 private:
  FDINOTIFICATION blank() const {
    FDINOTIFICATION n;
    std::memset(&n, 0, sizeof n);
    n.pv = user_;
    return n;
  }
  intptr_t tell(FDINOTIFICATIONTYPE type, FDINOTIFICATION& n) { return notify_(type, &n); }

  FDIERROR openCabinet(const char* fullPath, Cabinet*& cab);
  bool addVolume(Cabinet* cab);
  FDIERROR tellCabinetInfo(Cabinet& cab, char* path);
  FDIERROR walkFiles();
  FDIERROR enumerate(uint32_t& next, uint32_t& remaining);
  FDIERROR handleFile(uint32_t i);
  FDIERROR extract(const cab::FileEntry& f, uint32_t folder, intptr_t target);
  FDIERROR checkVolume(const Cabinet& previous, const Cabinet& candidate);
  FDIERROR tryVolume(const Cabinet& previous, const char* path, const char* name, Cabinet*& next);
  FDIERROR nextVolume(uint32_t index, Cabinet*& next);

  Context& ctx_;
  cab::Memory& mem_;
  PFNFDINOTIFY notify_;
  void* user_;
  cab::FolderReader reader_;
  Cabinet** volumes_ = nullptr;
  uint32_t volumeCount_ = 0, volumeCapacity_ = 0;
  char cabPath_[CB_MAX_CAB_PATH] = {};  // the folder where the last volume was found
  bool spanned_ = false;
};

CopyRun::~CopyRun() {
  for (uint32_t i = 0; i < volumeCount_; ++i) mem_.Destroy(volumes_[i]);
  mem_.Put(volumes_);
}

bool CopyRun::addVolume(Cabinet* cab) {
  if (volumeCount_ == volumeCapacity_) {
    uint32_t capacity = volumeCapacity_ ? volumeCapacity_ * 2 : 8;
    Cabinet** bigger = static_cast<Cabinet**>(mem_.Get(sizeof(Cabinet*) * capacity));
    if (!bigger) return false;
    for (uint32_t i = 0; i < volumeCount_; ++i) bigger[i] = volumes_[i];
    mem_.Put(volumes_);
    volumes_ = bigger;
    volumeCapacity_ = capacity;
  }
  volumes_[volumeCount_++] = cab;
  return true;
}

FDIERROR CopyRun::openCabinet(const char* fullPath, Cabinet*& cab) {
  cab = nullptr;
  char name[CB_MAX_CAB_PATH];
  copyText(name, fullPath);
  intptr_t h = ctx_.io.open(name, kOpenReadOnlyBinary, kPermitReadWrite);
  if (h == -1) return FDIERROR_CABINET_NOT_FOUND;
  cab = mem_.Make<Cabinet>(mem_, ctx_.files, h);
  if (!cab) {
    ctx_.io.close(h);
    return FDIERROR_ALLOC_FAIL;
  }
  FDIERROR e = fdiError(cab->Load());
  if (e != FDIERROR_NONE) {
    mem_.Destroy(cab);
    cab = nullptr;
  }
  return e;
}

FDIERROR CopyRun::tellCabinetInfo(Cabinet& cab, char* path) {
  FDINOTIFICATION n = blank();
  char next[kNameCapacity], disk[kNameCapacity];
  std::memcpy(next, cab.Header().nextName, kNameCapacity);
  std::memcpy(disk, cab.Header().nextDisk, kNameCapacity);
  n.psz1 = next;
  n.psz2 = disk;
  n.psz3 = path;
  n.setID = cab.Header().setId;
  n.iCabinet = cab.Header().index;
  return tell(fdintCABINET_INFO, n) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
}

FDIERROR CopyRun::run(const char* name, const char* path) {
  char full[CB_MAX_CAB_PATH];
  if (!joinPath(full, path, name)) return FDIERROR_CABINET_NOT_FOUND;
  Cabinet* first = nullptr;
  FDIERROR e = openCabinet(full, first);
  if (e != FDIERROR_NONE) return e;
  if (!addVolume(first)) {
    mem_.Destroy(first);
    return FDIERROR_ALLOC_FAIL;
  }
  copyText(cabPath_, path);
  char pathText[CB_MAX_CAB_PATH];
  copyText(pathText, path);
  e = tellCabinetInfo(*first, pathText);
  if (e != FDIERROR_NONE) return e;
  return walkFiles();
}

// Reports the walk's position and lets the caller move it.
FDIERROR CopyRun::enumerate(uint32_t& next, uint32_t& remaining) {
  Cabinet& cab = *volumes_[0];
  uint32_t count = cab.Header().fileCount;
  uint32_t at = next < count ? cab.File(next).entryPosition : cab.FilesEnd();
  FDINOTIFICATION n = blank();
  n.cb = long(at);
  n.iFolder = uint16_t(remaining);
  n.setID = cab.Header().setId;
  n.iCabinet = cab.Header().index;
  if (tell(fdintENUMERATE, n) == -1) return FDIERROR_USER_ABORT;
  if (uint32_t(n.cb) != at) {
    uint32_t i = 0;
    while (i < count && cab.File(i).entryPosition != uint32_t(n.cb)) ++i;
    if (i == count && uint32_t(n.cb) != cab.FilesEnd()) return FDIERROR_CORRUPT_CABINET;
    next = i;
  }
  remaining = n.iFolder < count - next ? n.iFolder : count - next;
  return FDIERROR_NONE;
}

FDIERROR CopyRun::walkFiles() {
  uint32_t next = 0, remaining = volumes_[0]->Header().fileCount;
  FDIERROR e = enumerate(next, remaining);
  bool spanReported = false;
  while (e == FDIERROR_NONE) {
    while (remaining > 0) {
      spanned_ = false;
      e = handleFile(next++);
      --remaining;
      if (e != FDIERROR_NONE) return e;
      if (spanned_ && !spanReported) {
        spanReported = true;
        e = enumerate(next, remaining);
        if (e != FDIERROR_NONE) return e;
      }
    }
    e = enumerate(next, remaining);
    if (remaining == 0) break;
  }
  return e;
}

FDIERROR CopyRun::handleFile(uint32_t i) {
  Cabinet& cab = *volumes_[0];
  const cab::FileEntry& f = cab.File(i);
  FDINOTIFICATION n = blank();
  n.psz1 = cab.FileName(i);
  if (cab::ContinuesFromPrev(f.folderIndex)) {
    char prev[kNameCapacity], disk[kNameCapacity];
    std::memcpy(prev, cab.Header().prevName, kNameCapacity);
    std::memcpy(disk, cab.Header().prevDisk, kNameCapacity);
    n.psz2 = prev;
    n.psz3 = disk;
    return tell(fdintPARTIAL_FILE, n) == -1 ? FDIERROR_USER_ABORT : FDIERROR_NONE;
  }
  uint32_t folder = cab::ContinuesToNext(f.folderIndex) ? cab.Header().folderCount - 1u : f.folderIndex;
  n.cb = long(f.size);
  n.date = f.date;
  n.time = f.time;
  n.attribs = f.attribs;
  n.iFolder = f.folderIndex;
  intptr_t target = tell(fdintCOPY_FILE, n);
  if (target == -1) return FDIERROR_USER_ABORT;
  if (target == 0) return FDIERROR_NONE;
  FDIERROR e = ctx_.io.write ? extract(f, folder, target) : FDIERROR_TARGET_FILE;
  if (e != FDIERROR_NONE) {
    ctx_.io.close(target);
    return e;
  }
  n = blank();
  n.psz1 = cab.FileName(i);
  n.hf = target;
  n.date = f.date;
  n.time = f.time;
  n.attribs = uint16_t(f.attribs & ~_A_EXEC);
  n.cb = (f.attribs & _A_EXEC) ? 1 : 0;
  n.iFolder = f.folderIndex;
  intptr_t closed = tell(fdintCLOSE_FILE_INFO, n);
  if (closed == -1) return FDIERROR_USER_ABORT;
  return closed == 0 ? FDIERROR_TARGET_FILE : FDIERROR_NONE;
}

FDIERROR CopyRun::extract(const cab::FileEntry& f, uint32_t folder, intptr_t target) {
  Cabinet& cab = *volumes_[0];
  // The folder's start lies in an earlier cabinet, which this run never saw.
  if (folder == 0 && cab.FirstFolderContinued()) return FDIERROR_CORRUPT_CABINET;
  if (!reader_.IsOpenAt(folder) || reader_.Position() > f.folderOffset) {
    FDIERROR e = fdiError(reader_.Open(cab, folder));
    if (e != FDIERROR_NONE) return e;
  }
  FDIERROR e = fdiError(reader_.Pass(f.folderOffset - reader_.Position(), cab::Sink{nullptr, 0}));
  if (e != FDIERROR_NONE) return e;
  return fdiError(reader_.Pass(f.size, cab::Sink{ctx_.io.write, target}));
}

FDIERROR CopyRun::checkVolume(const Cabinet& previous, const Cabinet& candidate) {
  const cab::CabinetHeader& p = previous.Header();
  const cab::CabinetHeader& c = candidate.Header();
  if (c.setId != p.setId || c.index != uint16_t(p.index + 1)) return FDIERROR_WRONG_CABINET;
  if (c.headerReserve != p.headerReserve || c.folderReserve != p.folderReserve ||
      c.dataReserve != p.dataReserve)
    return FDIERROR_RESERVE_MISMATCH;
  return FDIERROR_NONE;
}

FDIERROR CopyRun::tryVolume(const Cabinet& previous, const char* path, const char* name, Cabinet*& next) {
  char full[CB_MAX_CAB_PATH];
  next = nullptr;
  if (!joinPath(full, path, name)) return FDIERROR_CABINET_NOT_FOUND;
  FDIERROR e = openCabinet(full, next);
  if (e != FDIERROR_NONE) return e;
  e = checkVolume(previous, *next);
  if (e != FDIERROR_NONE) {
    mem_.Destroy(next);
    next = nullptr;
  }
  return e;
}

FDIERROR CopyRun::nextVolume(uint32_t index, Cabinet*& next) {
  if (index + 1 < volumeCount_) {
    next = volumes_[index + 1];
    return FDIERROR_NONE;
  }
  const Cabinet& current = *volumes_[index];
  char name[kNameCapacity], disk[kNameCapacity], path[CB_MAX_CAB_PATH], lastPath[CB_MAX_CAB_PATH];
  std::memcpy(name, current.Header().nextName, kNameCapacity);
  std::memcpy(disk, current.Header().nextDisk, kNameCapacity);
  std::memcpy(path, cabPath_, CB_MAX_CAB_PATH);
  FDINOTIFICATION n = blank();
  n.psz1 = name;
  n.psz2 = disk;
  n.psz3 = path;
  n.setID = current.Header().setId;
  n.iCabinet = current.Header().index;
  n.fdie = FDIERROR_NONE;
  FDIERROR refusal = FDIERROR_NONE;
  int same = 0;
  for (int attempt = 0;; ++attempt) {
    if (tell(fdintNEXT_CABINET, n) == -1) return FDIERROR_USER_ABORT;
    path[CB_MAX_CAB_PATH - 1] = 0;
    std::memcpy(name, current.Header().nextName, kNameCapacity);  // psz1 is not the caller's
    FDIERROR e = tryVolume(current, path, name, next);
    if (e == FDIERROR_NONE) break;
    if (e == FDIERROR_ALLOC_FAIL) return e;
    same = (attempt > 0 && e == refusal && std::strcmp(path, lastPath) == 0) ? same + 1 : 1;
    if (same >= kMaxSameRefusals || attempt + 1 >= kMaxRefusals) return e;
    refusal = e;
    std::memcpy(lastPath, path, CB_MAX_CAB_PATH);
    n.fdie = e;
  }
  if (!addVolume(next)) {
    mem_.Destroy(next);
    return FDIERROR_ALLOC_FAIL;
  }
  std::memcpy(cabPath_, path, CB_MAX_CAB_PATH);
  spanned_ = true;
  return tellCabinetInfo(*next, path);
}

}  // namespace

FDIERROR copyCabinet(Context& ctx, const char* name, const char* path, PFNFDINOTIFY notify, void* user) {
  CopyRun* run = ctx.mem.Make<CopyRun>(ctx, notify, user);
  if (!run) return FDIERROR_ALLOC_FAIL;
  FDIERROR e = run->run(name, path);
  ctx.mem.Destroy(run);
  return e;
}

FDIERROR describeCabinet(Context& ctx, intptr_t handle, FDICABINETINFO& info, int& version) {
  cab::InputStream* stream = ctx.mem.Make<cab::InputStream>(ctx.files, handle, 0);
  cab::CabinetHeader* header = ctx.mem.Make<cab::CabinetHeader>();
  FDIERROR e = FDIERROR_ALLOC_FAIL;
  if (stream && header) {
    e = fdiError(cab::ReadHeader(*stream, *header));
    version = (header->versionMajor << 8) | header->versionMinor;
    if (e == FDIERROR_NONE) {
      info.cbCabinet = long(header->cabinetSize);
      info.cFolders = header->folderCount;
      info.cFiles = header->fileCount;
      info.setID = header->setId;
      info.iCabinet = header->index;
      info.fReserve = (header->flags & cab::kFlagReserve) ? 1 : 0;
      info.hasprev = (header->flags & cab::kFlagPrevCabinet) ? 1 : 0;
      info.hasnext = (header->flags & cab::kFlagNextCabinet) ? 1 : 0;
    }
  }
  ctx.mem.Destroy(stream);
  ctx.mem.Destroy(header);
  return e;
}

}  // namespace fdi
