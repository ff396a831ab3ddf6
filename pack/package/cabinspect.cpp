#include "cabinspect.h"

#include <cstdio>

#include "byteorder.h"
#include "format.h"
#include "hostfiles.h"

namespace {

uint32_t Le32(const std::string& b, size_t at) {
  return ReadLe32(reinterpret_cast<const uint8_t*>(b.data() + at));
}
uint16_t Le16(const std::string& b, size_t at) {
  return ReadLe16(reinterpret_cast<const uint8_t*>(b.data() + at));
}

bool ReadText(const std::string& b, size_t& at, std::string& text) {
  const size_t end = b.find('\0', at);
  if (end == std::string::npos || end - at > cab::kMaxNameSize) return false;
  text = b.substr(at, end - at);
  at = end + 1;
  return true;
}

// The first `limit` bytes of a file (fewer when it is shorter).
bool ReadHead(const std::string& path, size_t limit, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.assign(limit, '\0');
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), f));
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool ParseFiles(const std::string& b, size_t at, size_t count, CabHeaderSummary& s) {
  for (size_t i = 0; i < count; ++i) {
    if (at + cab::kFileFixedSize > b.size()) return false;
    CabHeaderSummary::File file;
    file.size = Le32(b, at);
    file.folderIndex = Le16(b, at + 8);
    at += cab::kFileFixedSize;
    if (!ReadText(b, at, file.name)) return false;
    s.files.push_back(file);
  }
  return true;
}

}  // namespace

bool ReadCabHeaderSummary(const std::string& path, CabHeaderSummary& s, std::string& error) {
  s = CabHeaderSummary();
  std::string b;
  if (!ReadHead(path, 65536, b)) return error = path + ": cannot read", false;
  if (b.size() < cab::kHeaderSize || b.compare(0, 4, "MSCF") != 0)
    return error = path + ": not a cabinet file", false;
  if (b[24] != cab::kVersionMinor || b[25] != cab::kVersionMajor)
    return error = path + ": a cabinet of an unknown format version", false;
  s.cabinetSize = Le32(b, 8);
  const size_t filesAt = Le32(b, 16), fileCount = Le16(b, 28);
  // The file list may reach beyond the first read: a file entry takes at
  // most its fixed part and a longest name with its NUL.
  const size_t listEnd = filesAt + fileCount * (cab::kFileFixedSize + cab::kMaxNameSize + 1);
  if (b.size() == 65536 && listEnd > b.size() && !ReadHead(path, listEnd, b))
    return error = path + ": cannot read", false;
  const uint16_t flags = Le16(b, 30);
  s.setId = Le16(b, 32);
  s.index = Le16(b, 34);
  size_t at = cab::kHeaderSize;
  if (flags & cab::kFlagReserve) {
    // cbCFHeader (16 bits), cbCFFolder and cbCFData (8 bits each), then the area
    if (b.size() < cab::kHeaderSize + 4) return error = path + ": truncated cabinet header", false;
    at = cab::kHeaderSize + 4 + Le16(b, cab::kHeaderSize);
  }
  std::string prevDisk;
  const bool names =
      (!(flags & cab::kFlagPrevCabinet) || (ReadText(b, at, s.prevName) && ReadText(b, at, prevDisk))) &&
      (!(flags & cab::kFlagNextCabinet) || (ReadText(b, at, s.nextName) && ReadText(b, at, s.nextDisk)));
  if (!names || !ParseFiles(b, filesAt, fileCount, s))
    return error = path + ": damaged cabinet header", false;
  if ((flags & cab::kFlagPrevCabinet) && s.prevName.empty()) s.prevName = "?";
  return true;
}

bool ReadCabSet(const std::string& firstPath, CabSetSummary& set, std::string& error) {
  set = CabSetSummary();
  CabHeaderSummary cab;
  if (!ReadCabHeaderSummary(firstPath, cab, error)) return false;
  if (!cab.prevName.empty())
    return error = firstPath + ": this cabinet continues " + cab.prevName + "; give the set's first cabinet",
           false;
  std::string path = firstPath;
  while (true) {
    set.volumePaths.push_back(path);
    for (const CabHeaderSummary::File& f : cab.files) {
      if (cab::ContinuesFromPrev(f.folderIndex)) continue;
      ++set.fileCount;
      set.uncompressedBytes += f.size;
      set.fileNames.push_back(f.name);
    }
    if (cab.nextName.empty()) return true;
    if (cab.nextName.find_first_of("\\/:") != std::string::npos)
      return error = path + ": the next volume's name " + cab.nextName + " is not a bare file name", false;
    if (set.volumePaths.size() >= 65535) return error = firstPath + ": the set does not end", false;
    const std::string next = JoinHostPath(HostFolderOf(firstPath), cab.nextName);
    CabHeaderSummary following;
    if (!ReadCabHeaderSummary(next, following, error))
      return error = "volume " + std::to_string(set.volumePaths.size() + 1) + " of the set: " + error, false;
    if (following.setId != cab.setId || following.index != uint16_t(cab.index + 1))
      return error = next + ": not the next volume of " + path + " (set ID or index differ)", false;
    set.volumeNames.push_back(cab.nextName);
    cab = following;
    path = next;
  }
}
