#include "integrity.h"

#include <cstring>

#include "byteorder.h"
#include "crc32.h"

namespace {

const char kMagic[9] = "VLTRCRC1";
constexpr size_t kRecordHeaderSize = 16;
constexpr size_t kEntryHeaderSize = 12;

size_t EntryHeaderSize(uint16_t version) {
  return version >= 2 ? kEntryHeaderSize + kSha256Size : kEntryHeaderSize;
}

void Put16(std::string& out, uint16_t v) {
  out += char(v & 0xFF);
  out += char(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
  uint8_t b[4];
  WriteLe32(b, v);
  out.append(reinterpret_cast<const char*>(b), 4);
}

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

bool KnownKind(uint8_t kind) { return kind >= 1 && kind <= 6; }

}  // namespace

std::string WriteIntegrityRecord(const IntegrityRecord& record) {
  std::string out(kMagic, 8);
  Put16(out, record.version);
  Put16(out, 0);
  Put32(out, uint32_t(record.entries.size()));
  for (const IntegrityEntry& e : record.entries) {
    out += char(e.kind);
    out += '\0';
    Put16(out, uint16_t(e.name.size()));
    Put32(out, e.length);
    Put32(out, e.crc);
    if (record.version >= 2) out.append(reinterpret_cast<const char*>(e.sha256), kSha256Size);
    out += e.name;
  }
  return out;
}

IntegrityStatus ParseIntegrityRecord(const uint8_t* data, size_t size, IntegrityRecord& record) {
  record.entries.clear();
  if (size < kRecordHeaderSize || std::memcmp(data, kMagic, 8) != 0) return IntegrityStatus::Damaged;
  record.version = Get16(data + 8);
  if (record.version > kIntegrityVersion) return IntegrityStatus::NewerVersion;
  if (record.version == 0) return IntegrityStatus::Damaged;
  const uint32_t count = ReadLe32(data + 12);
  const size_t entryHeaderSize = EntryHeaderSize(record.version);
  size_t at = kRecordHeaderSize;
  // Each entry takes at least its head, which bounds the count before
  // anything is reserved for it.
  if (count > (size - at) / entryHeaderSize) return IntegrityStatus::Damaged;
  record.entries.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < entryHeaderSize || !KnownKind(data[at])) return IntegrityStatus::Damaged;
    IntegrityEntry e;
    e.kind = IntegrityKind(data[at]);
    const size_t nameLength = Get16(data + at + 2);
    e.length = ReadLe32(data + at + 4);
    e.crc = ReadLe32(data + at + 8);
    if (record.version >= 2) std::memcpy(e.sha256, data + at + kEntryHeaderSize, kSha256Size);
    at += entryHeaderSize;
    if (size - at < nameLength) return IntegrityStatus::Damaged;
    e.name.assign(reinterpret_cast<const char*>(data + at), nameLength);
    at += nameLength;
    record.entries.push_back(std::move(e));
  }
  if (at != size) return IntegrityStatus::Damaged;
  return IntegrityStatus::Ok;
}

const IntegrityEntry* FindIntegrityEntry(const IntegrityRecord& record, IntegrityKind kind,
                                         const std::string& name) {
  size_t fromTheStart = 0;
  return FindIntegrityEntry(record, kind, name, fromTheStart);
}

const IntegrityEntry* FindIntegrityEntry(const IntegrityRecord& record, IntegrityKind kind,
                                         const std::string& name, size_t& hint) {
  const size_t count = record.entries.size();
  const size_t start = hint < count ? hint : 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t at = start + i < count ? start + i : start + i - count;
    const IntegrityEntry& e = record.entries[at];
    if (e.kind == kind && e.name == name) {
      hint = at + 1;
      return &e;
    }
  }
  return nullptr;
}

uint32_t IntegrityHeaderCrc(const uint8_t header[33]) {
  uint8_t copy[33];
  std::memcpy(copy, header, sizeof copy);
  std::memset(copy + 20, 0, 4);
  return Crc32(copy, sizeof copy);
}
