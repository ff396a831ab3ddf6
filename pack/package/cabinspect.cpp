#include "cabinspect.h"

#include <algorithm>
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
    file.folderOffset = Le32(b, at + 4);
    file.folderIndex = Le16(b, at + 8);
    at += cab::kFileFixedSize;
    if (!ReadText(b, at, file.name)) return false;
    s.files.push_back(file);
  }
  return true;
}

}  // namespace

bool ReadCabHeaderSummary(const std::string& path, CabHeaderSummary& s, std::string& error) {
  uint64_t size = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f || fseeko(f, 0, SEEK_END) != 0 || ftello(f) < 0) {
    if (f) std::fclose(f);
    return error = path + ": cannot read", false;
  }
  size = uint64_t(ftello(f));
  std::fclose(f);
  const CabHeadReader read = [&path](size_t limit, std::string& bytes) {
    return ReadHead(path, limit, bytes);
  };
  return ReadCabHeaderSummary(read, size, path, s, error);
}

bool ReadCabHeaderSummary(const CabHeadReader& read, uint64_t available, const std::string& path,
                          CabHeaderSummary& s, std::string& error) {
  s = CabHeaderSummary();
  std::string b;
  const size_t head = size_t(std::min<uint64_t>(available, 65536));
  if (!read(head, b)) return error = path + ": cannot read", false;
  if (b.size() < cab::kHeaderSize || b.compare(0, 4, "MSCF") != 0)
    return error = path + ": not a cabinet file", false;
  if (b[24] != cab::kVersionMinor || b[25] != cab::kVersionMajor)
    return error = path + ": a cabinet of an unknown format version", false;
  s.cabinetSize = Le32(b, 8);
  s.folderCount = Le16(b, 26);
  const size_t filesAt = Le32(b, 16), fileCount = Le16(b, 28);
  if (s.cabinetSize > available)
    return error = path + ": the cabinet header claims " + std::to_string(s.cabinetSize) +
                   " bytes, there are " + std::to_string(available),
           false;
  if (filesAt < cab::kHeaderSize || filesAt >= s.cabinetSize)
    return error = path + ": damaged cabinet header (the file list lies outside the cabinet)", false;
  // The file list may reach beyond the first read: a file entry takes at
  // most its fixed part and a longest name with its NUL, and no more than
  // the cabinet holds.
  const size_t listEnd = size_t(std::min<uint64_t>(
      uint64_t(filesAt) + fileCount * (cab::kFileFixedSize + cab::kMaxNameSize + 1), s.cabinetSize));
  if (listEnd > b.size() && !read(listEnd, b)) return error = path + ": cannot read", false;
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

std::string CheckFileOrder(const CabHeaderSummary& s) {
  // Where each folder's entries have reached; files carried over from or
  // into a neighbouring volume belong to its first or last folder.
  std::vector<std::pair<uint32_t, uint64_t>> ends;
  for (const CabHeaderSummary::File& f : s.files) {
    uint32_t folder = f.folderIndex;
    if (cab::ContinuesFromPrev(f.folderIndex))
      folder = 0;
    else if (cab::ContinuesToNext(f.folderIndex))
      folder = s.folderCount ? s.folderCount - 1u : 0u;
    auto at = std::find_if(ends.begin(), ends.end(), [folder](const auto& e) { return e.first == folder; });
    if (at == ends.end()) at = ends.insert(ends.end(), {folder, 0});
    if (f.folderOffset < at->second)
      return "the entry " + f.name + " overlaps or precedes the one before it in its folder";
    at->second = uint64_t(f.folderOffset) + f.size;
  }
  return "";
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
