// Cabinet header, folder and file entries.
//
// Quirks handled here:
//  - Version: 1.3 is what every known writer produces; anything above 1.3 is
//    refused as an unknown version, older ones are read.
//  - A cabinet with neither folders nor files is what a writer produces
//    when nothing was added: valid, with nothing to extract (coffFiles then
//    points at its end). File entries without a folder, or a folder that no
//    file names (what a file count cut to zero leaves), are refused as
//    corrupt, as is a folder index that names no folder.
//  - Names and disk texts longer than FDI's 256-byte buffers are corrupt.
//  - File entries are read where coffFiles says, not where the folders end,
//    since writers may leave a gap.
#include "cabinet_reader.h"

#include <cstring>

#include "byteorder.h"

namespace cab {

namespace {

Status ReadReserveSizes(InputStream& s, CabinetHeader& h) {
  unsigned char b[4];
  if (!s.Read(b, 4)) return Status::kCorrupt;
  h.headerReserve = ReadLe16(b);
  h.folderReserve = b[2];
  h.dataReserve = b[3];
  if (!s.Skip(h.headerReserve)) return Status::kCorrupt;
  return Status::kOk;
}

}  // namespace

Status ReadHeader(InputStream& s, CabinetHeader& h) {
  unsigned char b[kHeaderSize];
  if (!s.Read(b, kHeaderSize)) return Status::kNotACabinet;
  if (std::memcmp(b, "MSCF", 4) != 0) return Status::kNotACabinet;
  h = CabinetHeader{};
  h.cabinetSize = ReadLe32(b + 8);
  h.filesOffset = ReadLe32(b + 16);
  h.versionMinor = b[24];
  h.versionMajor = b[25];
  h.folderCount = ReadLe16(b + 26);
  h.fileCount = ReadLe16(b + 28);
  h.flags = ReadLe16(b + 30);
  h.setId = ReadLe16(b + 32);
  h.index = ReadLe16(b + 34);
  if (h.versionMajor > kVersionMajor || (h.versionMajor == kVersionMajor && h.versionMinor > kVersionMinor))
    return Status::kUnknownVersion;
  if (h.flags & kFlagReserve) {
    Status e = ReadReserveSizes(s, h);
    if (e != Status::kOk) return e;
  }
  if (h.flags & kFlagPrevCabinet) {
    if (!s.ReadString(h.prevName, kNameCapacity) || !s.ReadString(h.prevDisk, kNameCapacity))
      return Status::kCorrupt;
  }
  if (h.flags & kFlagNextCabinet) {
    if (!s.ReadString(h.nextName, kNameCapacity) || !s.ReadString(h.nextDisk, kNameCapacity))
      return Status::kCorrupt;
  }
  const bool empty = h.folderCount == 0 && h.fileCount == 0;
  if (!empty && (h.folderCount == 0 || h.fileCount == 0)) return Status::kCorrupt;
  const bool filesPastEnd = h.filesOffset > h.cabinetSize || (!empty && h.filesOffset == h.cabinetSize);
  if (h.filesOffset < s.Position() || (h.cabinetSize != 0 && filesPastEnd)) return Status::kCorrupt;
  return Status::kOk;
}

Cabinet::Cabinet(Memory& mem, const FileCallbacks& io, intptr_t handle)
    : mem_(mem), io_(io), stream_(io, handle, 0), names_(mem) {}

Cabinet::~Cabinet() {
  mem_.Put(folders_);
  mem_.Put(files_);
  io_.close(stream_.Handle());
}

Status Cabinet::Load() {
  Status e = ReadHeader(stream_, header_);
  if (e != Status::kOk) return e;
  e = LoadFolders();
  if (e != Status::kOk) return e;
  return LoadFiles();
}

Status Cabinet::LoadFolders() {
  if (header_.folderCount == 0) return Status::kOk;
  folders_ = static_cast<FolderEntry*>(mem_.Get(sizeof(FolderEntry) * header_.folderCount));
  if (!folders_) return Status::kAllocFail;
  for (uint32_t i = 0; i < header_.folderCount; ++i) {
    unsigned char b[kFolderSize];
    if (!stream_.Read(b, kFolderSize) || !stream_.Skip(header_.folderReserve)) return Status::kCorrupt;
    folders_[i].dataOffset = ReadLe32(b);
    folders_[i].blockCount = ReadLe16(b + 4);
    folders_[i].compType = ReadLe16(b + 6);
  }
  return Status::kOk;
}

Status Cabinet::LoadFiles() {
  if (header_.fileCount == 0) {
    filesEnd_ = header_.filesOffset;
    return Status::kOk;
  }
  files_ = static_cast<FileEntry*>(mem_.Get(sizeof(FileEntry) * header_.fileCount));
  if (!files_) return Status::kAllocFail;
  if (!stream_.Seek(header_.filesOffset)) return Status::kCorrupt;
  uint32_t used = 0;
  for (uint32_t i = 0; i < header_.fileCount; ++i) {
    FileEntry& f = files_[i];
    unsigned char b[kFileFixedSize];
    f.entryPosition = stream_.Position();
    if (!stream_.Read(b, kFileFixedSize)) return Status::kCorrupt;
    f.size = ReadLe32(b);
    f.folderOffset = ReadLe32(b + 4);
    f.folderIndex = ReadLe16(b + 8);
    f.date = ReadLe16(b + 10);
    f.time = ReadLe16(b + 12);
    f.attribs = ReadLe16(b + 14);
    if (f.folderIndex < kFolderContinuedFromPrev && f.folderIndex >= header_.folderCount)
      return Status::kCorrupt;
    if (names_.Size() - used < kNameCapacity && !names_.Resize(names_.Size() * 2 + 4 * kNameCapacity))
      return Status::kAllocFail;
    char* name = reinterpret_cast<char*>(names_.Data()) + used;
    if (!stream_.ReadString(name, kNameCapacity)) return Status::kCorrupt;
    f.nameOffset = used;
    used += uint32_t(std::strlen(name)) + 1;
  }
  filesEnd_ = stream_.Position();
  return Status::kOk;
}

bool Cabinet::FirstFolderContinued() const {
  if (!(header_.flags & kFlagPrevCabinet)) return false;
  for (uint32_t i = 0; i < header_.fileCount; ++i)
    if (ContinuesFromPrev(files_[i].folderIndex)) return true;
  return false;
}

}  // namespace cab
