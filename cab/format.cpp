#include "format.h"

#include <vector>

#include <cstring>

#include "byteorder.h"
#include "cabchecksum.h"

namespace cab {

namespace {

void PutText(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

size_t NamesSize(const VolumeHeader& h) {
  size_t n = 0;
  if (h.hasPrev) n += h.prevCabinet.size() + h.prevDisk.size() + 2;
  if (h.hasNext) n += h.nextCabinet.size() + h.nextDisk.size() + 2;
  return n;
}

bool IsDotComponent(const std::string& c) { return c == "." || c == ".."; }

}  // namespace

void EncodeDataHeader(uint8_t out[kDataHeaderSize], const uint8_t* data, uint16_t cbData, uint16_t cbUncomp) {
  WriteLe16(out + 4, cbData);
  WriteLe16(out + 6, cbUncomp);
  WriteLe32(out, CabChecksum(out + 4, 4, CabChecksum(data, cbData, 0)));
}

size_t FixedHeaderSize(const VolumeHeader& header) { return kHeaderSize + NamesSize(header); }

size_t HeaderSize(const VolumeHeader& header) {
  size_t n = FixedHeaderSize(header) + kFolderSize * header.folders.size();
  for (const VolumeFile& f : header.files) n += FileEntrySize(f.name);
  return n;
}

std::vector<uint8_t> EncodeHeader(const VolumeHeader& h) {
  const size_t headerSize = HeaderSize(h);
  std::vector<uint8_t> out;
  out.reserve(headerSize);
  AppendLe32(out, kSignature);
  AppendLe32(out, 0);
  AppendLe32(out, h.cabinetSize);
  AppendLe32(out, 0);
  AppendLe32(out, uint32_t(FixedHeaderSize(h) + kFolderSize * h.folders.size()));  // coffFiles
  AppendLe32(out, 0);
  out.push_back(kVersionMinor);
  out.push_back(kVersionMajor);
  AppendLe16(out, uint16_t(h.folders.size()));
  AppendLe16(out, uint16_t(h.files.size()));
  AppendLe16(out, uint16_t((h.hasPrev ? kFlagPrevCabinet : 0) | (h.hasNext ? kFlagNextCabinet : 0)));
  AppendLe16(out, h.setId);
  AppendLe16(out, h.index);
  if (h.hasPrev) {
    PutText(out, h.prevCabinet);
    PutText(out, h.prevDisk);
  }
  if (h.hasNext) {
    PutText(out, h.nextCabinet);
    PutText(out, h.nextDisk);
  }
  for (const FolderEntry& f : h.folders) {
    AppendLe32(out, uint32_t(headerSize + f.dataOffset));
    AppendLe16(out, f.blockCount);
    AppendLe16(out, f.compType);
  }
  for (const VolumeFile& f : h.files) {
    AppendLe32(out, f.size);
    AppendLe32(out, f.folderOffset);
    AppendLe16(out, f.folderIndex);
    AppendLe16(out, f.stamp.date);
    AppendLe16(out, f.stamp.time);
    AppendLe16(out, f.attributes);
    PutText(out, f.name);
  }
  return out;
}

DosStamp DosStampFromUnixTime(int64_t seconds) {
  // 1980-01-01 and 2107-12-31 23:59:59 UTC bound what DOS stamps can hold.
  const int64_t first = 315532800, last = 4354819199;
  DosStamp s;
  if (seconds < first) return s;
  if (seconds > last) seconds = last;
  // The civil date of a day count (proleptic Gregorian), so that every host
  // computes the same stamp without its C library's time functions.
  const int64_t days = seconds / 86400, second = seconds % 86400;
  const int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  s.date = uint16_t(((year - 1980) << 9) | (month << 5) | day);
  s.time = uint16_t(((second / 3600) << 11) | ((second / 60 % 60) << 5) | (second % 60 / 2));
  return s;
}

std::string CheckStoredName(const std::string& name, const std::bitset<256>& leadBytes) {
  if (name.empty()) return "the stored name is empty";
  if (name.size() > kMaxNameSize) return "the stored name is longer than 255 bytes: " + name;
  if (name.find('\0') != std::string::npos) return "the stored name holds a NUL byte";
  // The second byte of a two-byte character may be '\\' or '|': only the
  // bytes that start a character are what they look like.
  std::vector<size_t> separators;
  for (size_t at = 0; at < name.size(); at += leadBytes[uint8_t(name[at])] && at + 1 < name.size() ? 2 : 1) {
    const char c = name[at];
    if (c == '/') return "the stored name uses '/' instead of '\\': " + name;
    // '<' and '>' stay: they mark placeholders such as "<SYS>".
    if (uint8_t(c) < 0x20 || std::strchr(":*?\"|", c))
      return "the stored name holds a character Windows does not allow in file names: " + name;
    if (c == '\\') separators.push_back(at);
  }
  separators.push_back(name.size());
  size_t start = 0;
  for (size_t end : separators) {
    const std::string part = name.substr(start, end - start);
    if (part.empty()) return "the stored name has an empty folder or file part: " + name;
    if (IsDotComponent(part)) return "the stored name may not use \".\" or \"..\": " + name;
    start = end + 1;
  }
  return "";
}

}  // namespace cab
