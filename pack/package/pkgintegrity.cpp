#include "pkgintegrity.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "byteorder.h"
#include "crc32.h"
#include "hostfiles.h"
#include "package.h"
#include "sha256.h"
#include "uObfuscate.h"

namespace {

// At most `limit` bytes (all for -1); false on a read error.
bool DigestsOfOpenFile(std::FILE* f, int64_t limit, bool scramble, const std::string& password, uint32_t& crc,
                       uint64_t& length, uint8_t* sha256) {
  const std::string key = scramble ? InvertKey(MakeScrambleKey(password)) : std::string();
  std::vector<uint8_t> chunk(1 << 20);
  Sha256State state;
  Sha256Init(state);
  crc = 0;
  length = 0;
  while (limit < 0 || int64_t(length) < limit) {
    size_t want = chunk.size();
    if (limit >= 0 && int64_t(want) > limit - int64_t(length)) want = size_t(limit - int64_t(length));
    const size_t n = std::fread(chunk.data(), 1, want, f);
    if (n == 0) break;
    if (scramble) DescrambleAt(chunk.data(), key, n, uint32_t(length));
    crc = Crc32Update(crc, chunk.data(), n);
    if (sha256) Sha256Update(state, chunk.data(), n);
    length += n;
  }
  if (sha256) Sha256Final(state, sha256);
  return !std::ferror(f);
}

}  // namespace

bool CrcOfFile(const std::string& path, int64_t limit, bool scramble, const std::string& password,
               uint32_t& crc, uint64_t& length, uint8_t* sha256) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const bool ok = DigestsOfOpenFile(f, limit, scramble, password, crc, length, sha256) &&
                  (limit < 0 || int64_t(length) == limit);
  std::fclose(f);
  return ok;
}

uint32_t CabinetSizeOfFile(const std::string& path) {
  uint8_t head[12];
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  const bool read = std::fread(head, 1, sizeof head, f) == sizeof head;
  std::fclose(f);
  return read && head[0] == 'M' && head[1] == 'S' && head[2] == 'C' && head[3] == 'F' ? ReadLe32(head + 8)
                                                                                      : 0;
}

namespace {

std::string Hex(uint32_t v) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

std::string Mismatch(const IntegrityEntry& e, const std::string& what, uint64_t length, uint32_t crc) {
  if (length != e.length)
    return what + ": " + std::to_string(length) + " bytes where the record has " + std::to_string(e.length);
  return what + ": CRC-32 " + Hex(crc) + " where the record has " + Hex(e.crc);
}

void CheckBlock(const PackageImage& image, const IntegrityEntry& e, int64_t offset,
                std::vector<std::string>& problems) {
  std::string bytes;
  const std::string what = IntegrityKindText(e.kind);
  if (!ReadPackageBlock(image, offset, e.length, bytes))
    return problems.push_back(what + ": the record covers " + std::to_string(e.length) +
                              " bytes, which run past the end of the file");
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint32_t crc = e.kind == IntegrityKind::Header ? IntegrityHeaderCrc(data) : Crc32(data, bytes.size());
  if (crc != e.crc) problems.push_back(Mismatch(e, what, e.length, crc));
}

int64_t OffsetOf(const PackageImage& image, IntegrityKind kind) {
  switch (kind) {
    case IntegrityKind::Header: return image.base;
    case IntegrityKind::LangText: return image.blocks.LangText;
    case IntegrityKind::CabLib: return image.blocks.CabLib;
    default: return image.blocks.Payload;
  }
}

// A block whose recorded length is not its header size is damage too (the
// payload's is its cabinet size, checked through the CRC).
int64_t HeaderSizeOf(const PackageImage& image, IntegrityKind kind) {
  switch (kind) {
    case IntegrityKind::Header: return kPackageHeaderSize;
    case IntegrityKind::LangText: return image.header.LangTextSize;
    case IntegrityKind::CabLib: return image.header.CabLibSize;
    default: return -1;
  }
}

bool HasEntryOfKind(const IntegrityRecord& record, IntegrityKind kind) {
  for (const IntegrityEntry& e : record.entries) {
    if (e.kind == kind) return true;
  }
  return false;
}

// Names that lead elsewhere ("..", a folder, a drive, a device path) are
// not volumes of this package.
bool IsBareName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name == "." || name == "..") return false;
  for (const char c : name) {
    if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

void CheckVolume(const std::string& folder, const IntegrityEntry& e, const IntegrityRecord* digests,
                 std::set<std::string>& volumesRead, std::vector<std::string>& problems) {
  const std::string what = "volume " + e.name;
  if (!IsBareName(e.name))
    return problems.push_back(
        "a volume entry names something other than a file beside the package; not read");
  if (!volumesRead.erase(e.name))
    return problems.push_back(what + ": in the record, but the payload never went there");
  const IntegrityEntry* digest =
      digests ? FindIntegrityEntry(*digests, IntegrityKind::Volume, e.name) : nullptr;
  if (digests && (!digest || digest->length != e.length || digest->crc != e.crc))
    problems.push_back(what + ": the SHA-256 entries do not list it as the record does");
  std::FILE* f = OpenRegularHostFile(JoinHostPath(folder, e.name));
  uint32_t crc = 0;
  uint64_t length = 0;
  uint8_t sha256[kSha256Size];
  // One byte past the recorded length tells a longer file from an exact one.
  const bool read = f && DigestsOfOpenFile(f, int64_t(e.length) + 1, false, "", crc, length, sha256);
  if (f) std::fclose(f);
  if (!read) return problems.push_back(what + ": cannot be read as a regular file");
  if (length != e.length) return problems.push_back(what + ": its size differs from the record");
  if (crc != e.crc) return problems.push_back(what + ": its CRC-32 differs from the record");
  if (digest && std::memcmp(sha256, digest->sha256, kSha256Size) != 0)
    problems.push_back(what + ": its SHA-256 differs from the record (though its CRC-32 matches)");
}

// The version-2 entries list the follow-up volumes of the record and
// nothing else.
void CheckDigestsList(const IntegrityRecord& record, const IntegrityRecord& digests,
                      std::vector<std::string>& problems) {
  for (const IntegrityEntry& d : digests.entries) {
    if (d.kind != IntegrityKind::Volume || !FindIntegrityEntry(record, IntegrityKind::Volume, d.name))
      problems.push_back(std::string("the SHA-256 entries hold ") + IntegrityKindText(d.kind) +
                         " entries that the record lacks");
  }
}

}  // namespace

void CheckPackageIntegrity(const PackageImage& image, const IntegrityRecord& record,
                           const IntegrityRecord* digests, const PayloadWalk& walk,
                           std::vector<std::string>& problems) {
  const std::string folder = HostFolderOf(image.path);
  std::set<std::string> volumesRead(walk.volumes.begin() + (walk.volumes.empty() ? 0 : 1),
                                    walk.volumes.end());
  std::map<std::string, const PackageFile*> filesRead;
  for (const PackageFile& f : walk.files) filesRead[f.name] = &f;
  for (const IntegrityKind kind :
       {IntegrityKind::Header, IntegrityKind::LangText, IntegrityKind::CabLib, IntegrityKind::Payload}) {
    if (!FindIntegrityEntry(record, kind))
      problems.push_back(std::string(IntegrityKindText(kind)) + ": not in the record");
  }
  for (const IntegrityEntry& e : record.entries) {
    const std::string what = std::string(IntegrityKindText(e.kind)) + (e.name.empty() ? "" : " " + e.name);
    if (e.kind == IntegrityKind::Volume) {
      CheckVolume(folder, e, digests, volumesRead, problems);
    } else if (e.kind == IntegrityKind::File) {
      const auto found = filesRead.find(e.name);
      if (found == filesRead.end())
        problems.push_back(what + ": in the record, but not in the payload");
      else if (found->second->size != e.length || found->second->crc != e.crc)
        problems.push_back(Mismatch(e, what, found->second->size, found->second->crc));
      if (found != filesRead.end()) filesRead.erase(found);
    } else {
      const int64_t headerSize = HeaderSizeOf(image, e.kind);
      if (headerSize >= 0 && headerSize != int64_t(e.length))
        problems.push_back(Mismatch(e, what, uint64_t(headerSize), 0));
      else
        CheckBlock(image, e, OffsetOf(image, e.kind), problems);
    }
  }
  for (const std::string& v : volumesRead)
    problems.push_back("volume " + v + ": read, but not in the record");
  if (digests) CheckDigestsList(record, *digests, problems);
  // Packages made around a finished cabinet carry no file entries.
  if (HasEntryOfKind(record, IntegrityKind::File)) {
    for (const auto& f : filesRead)
      problems.push_back("file " + f.first + ": in the payload, but not in the record");
  }
}
