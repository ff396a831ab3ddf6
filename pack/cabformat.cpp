#include "cabformat.h"

#include <cstring>
#include <ctime>
#include <sys/stat.h>

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

size_t NamesSize(const CabHeader& h) {
  size_t n = 0;
  if (h.hasPrev) n += h.prevCabinet.size() + h.prevDisk.size() + 2;
  if (h.hasNext) n += h.nextCabinet.size() + h.nextDisk.size() + 2;
  return n;
}

bool IsDotComponent(const std::string& c) { return c == "." || c == ".."; }

}  // namespace

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = size / 4;
  for (size_t i = 0; i < words; ++i, data += 4)
    sum ^= uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
           uint32_t(data[3]) << 24;
  uint32_t rest = 0;
  switch (size & 3) {
    case 3: rest = uint32_t(data[0]) << 16 | uint32_t(data[1]) << 8 | data[2]; break;
    case 2: rest = uint32_t(data[0]) << 8 | data[1]; break;
    case 1: rest = data[0]; break;
  }
  return sum ^ rest;
}

void EncodeCabDataHeader(uint8_t out[kCabDataHeaderSize], const uint8_t* data, uint16_t cbData,
                         uint16_t cbUncomp) {
  out[4] = uint8_t(cbData);
  out[5] = uint8_t(cbData >> 8);
  out[6] = uint8_t(cbUncomp);
  out[7] = uint8_t(cbUncomp >> 8);
  uint32_t sum = CabChecksum(out + 4, 4, CabChecksum(data, cbData, 0));
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(sum >> (8 * i));
}

size_t CabFixedHeaderSize(const CabHeader& header) { return kCabHeaderFixedSize + NamesSize(header); }

size_t CabHeaderSize(const CabHeader& header) {
  size_t n = CabFixedHeaderSize(header) + kCabFolderSize * header.folders.size();
  for (const CabHeaderFile& f : header.files) n += CabFileEntrySize(f.name);
  return n;
}

std::vector<uint8_t> EncodeCabHeader(const CabHeader& h) {
  const size_t headerSize = CabHeaderSize(h);
  std::vector<uint8_t> out;
  out.reserve(headerSize);
  Put32(out, 0x4643534D);  // "MSCF"
  Put32(out, 0);
  Put32(out, h.cabinetSize);
  Put32(out, 0);
  Put32(out, uint32_t(CabFixedHeaderSize(h) + kCabFolderSize * h.folders.size()));  // coffFiles
  Put32(out, 0);
  out.push_back(3);  // version 1.3
  out.push_back(1);
  Put16(out, uint16_t(h.folders.size()));
  Put16(out, uint16_t(h.files.size()));
  Put16(out, uint16_t((h.hasPrev ? kCabFlagPrev : 0) | (h.hasNext ? kCabFlagNext : 0)));
  Put16(out, h.setId);
  Put16(out, h.index);
  if (h.hasPrev) {
    PutText(out, h.prevCabinet);
    PutText(out, h.prevDisk);
  }
  if (h.hasNext) {
    PutText(out, h.nextCabinet);
    PutText(out, h.nextDisk);
  }
  for (const CabHeaderFolder& f : h.folders) {
    Put32(out, uint32_t(headerSize + f.dataOffset));
    Put16(out, f.blocks);
    Put16(out, f.type);
  }
  for (const CabHeaderFile& f : h.files) {
    Put32(out, f.size);
    Put32(out, f.folderOffset);
    Put16(out, f.folderIndex);
    Put16(out, f.stamp.date);
    Put16(out, f.stamp.time);
    Put16(out, f.attributes);
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
  time_t t = time_t(seconds);
  struct tm u;
  gmtime_r(&t, &u);
  s.date = uint16_t(((u.tm_year + 1900 - 1980) << 9) | ((u.tm_mon + 1) << 5) | u.tm_mday);
  s.time = uint16_t((u.tm_hour << 11) | (u.tm_min << 5) | (u.tm_sec / 2));
  return s;
}

bool DosStampOfFile(const std::string& path, DosStamp& stamp) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  stamp = DosStampFromUnixTime(int64_t(st.st_mtime));
  return true;
}

std::string CheckStoredName(const std::string& name) {
  if (name.empty()) return "the stored name is empty";
  if (name.size() > kCabMaxNameSize) return "the stored name is longer than 255 bytes: " + name;
  if (name.find('\0') != std::string::npos) return "the stored name holds a NUL byte";
  if (name.find('/') != std::string::npos)
    return "the stored name uses '/' instead of '\\': " + name;
  // '<' and '>' stay: they mark placeholders such as "<SYS>".
  for (char c : name) {
    if (uint8_t(c) < 0x20 || std::strchr(":*?\"|", c))
      return "the stored name holds a character Windows does not allow in file names: " + name;
  }
  size_t start = 0;
  while (true) {
    size_t end = name.find('\\', start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) return "the stored name has an empty folder or file part: " + name;
    if (IsDotComponent(part)) return "the stored name may not use \".\" or \"..\": " + name;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}
