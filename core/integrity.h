// The integrity record: one more file in the information cabinet, "~DAT3.",
// with a CRC-32 (crc32.h) of every part of a package that nothing else
// guards end to end, and since version 2 a second file, "~DAT4.", with a
// SHA-256 (sha256.h) of every part that a signature of Setup.exe does not
// cover: the follow-up volumes. A CRC-32 finds damage but can be forged by
// choosing four bytes; the SHA-256 ties a volume to a signed Setup.exe.
// A stub that does not know a name leaves that file unread.
//
// Version 2 keeps "~DAT3." at version 1, byte for byte as before, so that a
// stub that knows only version 1 still checks every CRC-32 of a new package
// instead of meeting a newer version and checking nothing; "~DAT4." holds
// the version-2 entries. A package without follow-up volumes has no "~DAT4.".
//
// Layout of both files, all numbers little-endian, no padding:
//
//   +0   8  magic "VLTRCRC1"
//   +8   2  version: 1 in "~DAT3.", 2 in "~DAT4."
//   +10  2  reserved, 0 (readers ignore it)
//   +12  4  entry count
//   +16     the entries, one after the other:
//            +0  1  kind (IntegrityKind)
//            +1  1  reserved, 0
//            +2  2  name length N (0 for kinds without a name)
//            +4  4  length: how many bytes the CRC covers
//            +8  4  CRC-32
//            +12 32 SHA-256 of the same bytes (version 2 only)
//            +12 N  name, not terminated (+44 in version 2)
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
// "~DAT4." lists one Volume entry for each follow-up volume, in set order;
// with it, a volume without its entry there is damage.
//
// A reader meets a newer version as IntegrityStatus::NewerVersion and leaves
// that file unchecked; anything else that does not parse is damage.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "infocabinet.h"
#include "sha256.h"

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
  uint8_t sha256[kSha256Size] = {};  // version 2 only
};

struct IntegrityRecord {
  uint16_t version = 1;
  std::vector<IntegrityEntry> entries;
};

// The newest version this code reads and writes.
constexpr uint16_t kIntegrityVersion = 2;

// In the layout of record.version.
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
