// The integrity record: one more file in the information cabinet, "~DAT3.",
// with a CRC-32 (crc32.h) of every part of a package that nothing else
// guards end to end. A stub that does not know the name leaves it unread.
//
// Layout, all numbers little-endian, no padding:
//
//   +0   8  magic "VLTRCRC1"
//   +8   2  version, 1
//   +10  2  reserved, 0 (readers ignore it)
//   +12  4  entry count
//   +16     the entries, one after the other:
//            +0  1  kind (IntegrityKind)
//            +1  1  reserved, 0
//            +2  2  name length N (0 for kinds without a name)
//            +4  4  length: how many bytes the CRC covers
//            +8  4  CRC-32
//            +12 N  name, not terminated
//
// What each kind covers:
//   Header        the 33 header bytes at PackageBase with InfoCabSize (its
//                 bytes 20-23) taken as zero: the record cannot hold the size
//                 of the cabinet it lies in. A wrong InfoCabSize moves the
//                 payload, whose entry then fails.
//   LangText      block 2 as stored
//   CabLib        block 3 as stored (SZDD), 0 bytes when the package has none
//   Payload       the payload cabinet as stored (scrambled when the package
//                 has a password) from its first byte for as many bytes as
//                 its own header's cabinet size gives, so that bytes appended
//                 to Setup.exe afterwards (a signature) are not covered
//   Volume        a follow-up volume file as stored, whole; named by the name
//                 the previous volume gives for it; in set order
//   File          a payload file's uncompressed content; named by its stored
//                 name; length is its size
// The information cabinet itself is not covered: the record lies inside it,
// and its data blocks carry checksums of their own.
//
// A reader meets a newer version as IntegrityStatus::NewerVersion and leaves
// the package unchecked; anything else that does not parse is damage.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "infocabinet.h"


enum class IntegrityKind : uint8_t {
  Header = 1,
  LangText = 2,
  CabLib = 3,
  Payload = 4,
  Volume = 5,
  File = 6
};

struct IntegrityEntry {
  IntegrityKind kind = IntegrityKind::Header;
  std::string name;
  uint32_t length = 0;
  uint32_t crc = 0;
};

struct IntegrityRecord {
  std::vector<IntegrityEntry> entries;
};

constexpr uint16_t kIntegrityVersion = 1;

std::string WriteIntegrityRecord(const IntegrityRecord& record);

enum class IntegrityStatus { Ok, Damaged, NewerVersion };
IntegrityStatus ParseIntegrityRecord(const uint8_t* data, size_t size, IntegrityRecord& record);

// The first entry of that kind (and name, for kinds that carry one); null when none.
const IntegrityEntry* FindIntegrityEntry(const IntegrityRecord& record, IntegrityKind kind,
                                         const std::string& name = std::string());
// The same, searching from entry `hint` on and round to it again, and moving
// `hint` past the entry found: files are looked up in the order the record
// lists them, so the search for the next one ends at once instead of walking
// the whole list for every file.
const IntegrityEntry* FindIntegrityEntry(const IntegrityRecord& record, IntegrityKind kind,
                                         const std::string& name, size_t& hint);

// The CRC that a Header entry holds for these 33 header bytes.
uint32_t IntegrityHeaderCrc(const uint8_t header[33]);

// "header", "language text", ...: for messages.
const char* IntegrityKindText(IntegrityKind kind);
