// Cabinet header, folder and file entries.
//
// Quirks handled here:
//  - Version: 1.3 is what every known writer produces; anything above 1.3 is
//    refused as an unknown version, older ones are read.
//  - A cabinet without folders or without files cannot be extracted and is
//    refused as corrupt, as is a folder index that names no folder.
//  - Names and disk texts longer than FDI's 256-byte buffers are corrupt.
//  - File entries are read where coffFiles says, not where the folders end,
//    since writers may leave a gap.
#include "cabinet.h"

#include <cstring>

namespace fdi {

namespace {

FDIERROR readReserveSizes(CabStream& s, CabHeader& h) {
  unsigned char b[4];
  if (!s.read(b, 4)) return FDIERROR_CORRUPT_CABINET;
  h.headerReserve = ReadLe16(b);
  h.folderReserve = b[2];
  h.dataReserve = b[3];
  if (!s.skip(h.headerReserve)) return FDIERROR_CORRUPT_CABINET;
  return FDIERROR_NONE;
}

}  // namespace

FDIERROR readHeader(CabStream& s, CabHeader& h) {
  unsigned char b[kHeaderSize];
  if (!s.read(b, kHeaderSize)) return FDIERROR_NOT_A_CABINET;
  if (std::memcmp(b, "MSCF", 4) != 0) return FDIERROR_NOT_A_CABINET;
  h = CabHeader{};
  h.cabinetSize = ReadLe32(b + 8);
  h.filesOffset = ReadLe32(b + 16);
  h.versionMinor = b[24];
  h.versionMajor = b[25];
  h.folderCount = ReadLe16(b + 26);
  h.fileCount = ReadLe16(b + 28);
  h.flags = ReadLe16(b + 30);
  h.setId = ReadLe16(b + 32);
  h.index = ReadLe16(b + 34);
  if (h.versionMajor > 1 || (h.versionMajor == 1 && h.versionMinor > 3))
    return FDIERROR_UNKNOWN_CABINET_VERSION;
  if (h.flags & kFlagReserve) {
    FDIERROR e = readReserveSizes(s, h);
    if (e != FDIERROR_NONE) return e;
  }
  if (h.flags & kFlagPrevCabinet) {
    if (!s.readString(h.prevName, kNameCapacity) || !s.readString(h.prevDisk, kNameCapacity))
      return FDIERROR_CORRUPT_CABINET;
  }
  if (h.flags & kFlagNextCabinet) {
    if (!s.readString(h.nextName, kNameCapacity) || !s.readString(h.nextDisk, kNameCapacity))
      return FDIERROR_CORRUPT_CABINET;
  }
  if (h.folderCount == 0 || h.fileCount == 0) return FDIERROR_CORRUPT_CABINET;
  if (h.filesOffset < s.position() || (h.cabinetSize != 0 && h.filesOffset >= h.cabinetSize))
    return FDIERROR_CORRUPT_CABINET;
  return FDIERROR_NONE;
}

Cabinet::Cabinet(Memory& mem, const Callbacks& io, intptr_t handle)
    : mem_(mem), io_(io), stream_(io, handle, 0), names_(mem) {}

Cabinet::~Cabinet() {
  mem_.put(folders_);
  mem_.put(files_);
  io_.close(stream_.handle());
}

FDIERROR Cabinet::load() {
  FDIERROR e = readHeader(stream_, header_);
  if (e != FDIERROR_NONE) return e;
  e = loadFolders();
  if (e != FDIERROR_NONE) return e;
  return loadFiles();
}

FDIERROR Cabinet::loadFolders() {
  folders_ = static_cast<CabFolder*>(mem_.get(sizeof(CabFolder) * header_.folderCount));
  if (!folders_) return FDIERROR_ALLOC_FAIL;
  for (uint32_t i = 0; i < header_.folderCount; ++i) {
    unsigned char b[8];
    if (!stream_.read(b, 8) || !stream_.skip(header_.folderReserve)) return FDIERROR_CORRUPT_CABINET;
    folders_[i].dataOffset = ReadLe32(b);
    folders_[i].blockCount = ReadLe16(b + 4);
    folders_[i].compType = ReadLe16(b + 6);
  }
  return FDIERROR_NONE;
}

FDIERROR Cabinet::loadFiles() {
  files_ = static_cast<CabFile*>(mem_.get(sizeof(CabFile) * header_.fileCount));
  if (!files_) return FDIERROR_ALLOC_FAIL;
  if (!stream_.seek(header_.filesOffset)) return FDIERROR_CORRUPT_CABINET;
  uint32_t used = 0;
  for (uint32_t i = 0; i < header_.fileCount; ++i) {
    CabFile& f = files_[i];
    unsigned char b[16];
    f.entryPosition = stream_.position();
    if (!stream_.read(b, 16)) return FDIERROR_CORRUPT_CABINET;
    f.size = ReadLe32(b);
    f.folderOffset = ReadLe32(b + 4);
    f.folderIndex = ReadLe16(b + 8);
    f.date = ReadLe16(b + 10);
    f.time = ReadLe16(b + 12);
    f.attribs = ReadLe16(b + 14);
    if (f.folderIndex < kFolderContinuedFromPrev && f.folderIndex >= header_.folderCount)
      return FDIERROR_CORRUPT_CABINET;
    if (names_.size() - used < kNameCapacity && !names_.resize(names_.size() * 2 + 4 * kNameCapacity))
      return FDIERROR_ALLOC_FAIL;
    char* name = reinterpret_cast<char*>(names_.data()) + used;
    if (!stream_.readString(name, kNameCapacity)) return FDIERROR_CORRUPT_CABINET;
    f.nameOffset = used;
    used += uint32_t(std::strlen(name)) + 1;
  }
  filesEnd_ = stream_.position();
  return FDIERROR_NONE;
}

bool Cabinet::firstFolderContinued() const {
  if (!(header_.flags & kFlagPrevCabinet)) return false;
  for (uint32_t i = 0; i < header_.fileCount; ++i)
    if (continuesFromPrev(files_[i].folderIndex)) return true;
  return false;
}

}  // namespace fdi
