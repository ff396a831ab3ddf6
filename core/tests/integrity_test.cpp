#include "integrity.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "crc32.h"
#include "pechecksum.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

IntegrityRecord SampleRecord() {
  IntegrityRecord r;
  r.entries = {{IntegrityKind::Header, "", 33, 0x01020304},
               {IntegrityKind::CabLib, "", 0, 0},
               {IntegrityKind::Payload, "", 0xFFFFFFFF, 0xCBF43926},
               {IntegrityKind::Volume, "Setup-2.cab", 1457664, 7},
               {IntegrityKind::File, "<SYS>\\deep\\name with spaces.dll", 12, 0x80000000}};
  return r;
}

}  // namespace

TEST(Crc32, AgreesWithZlibInOnePieceAndInMany) {
  EXPECT_EQ(0xCBF43926u, Crc32(Bytes("123456789"), 9));
  EXPECT_EQ(0u, Crc32(nullptr, 0));
  std::string data;
  for (int i = 0; i < 100000; ++i) data += char(i * 131 + (i >> 7));
  const uint32_t expected = uint32_t(crc32(0, Bytes(data), uInt(data.size())));
  EXPECT_EQ(expected, Crc32(Bytes(data), data.size()));
  uint32_t pieces = 0;
  for (size_t at = 0; at < data.size(); at += 4097)
    pieces = Crc32Update(pieces, Bytes(data) + at, std::min<size_t>(4097, data.size() - at));
  EXPECT_EQ(expected, pieces);
}

// Long runs are folded with a carry-less multiply where the processor has one
// and go through the tables elsewhere: both against zlib at every length
// around the folding's 16- and 64-byte steps, at every alignment, from a
// register that is not the start value.
TEST(Crc32, FoldingAndTablesAgreeAtEveryLengthAndAlignment) {
  std::string data;
  for (int i = 0; i < 4096 + 64; ++i) data += char(i * 197 + (i >> 5) + 3);
  const uint32_t seed = Crc32(Bytes("seed"), 4);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t size : {0, 1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 191, 255, 256, 1000, 4096}) {
      const uint8_t* p = Bytes(data) + offset;
      const uint32_t expected = uint32_t(crc32(seed, p, uInt(size)));
      EXPECT_EQ(expected, Crc32Update(seed, p, size)) << size << " bytes at " << offset;
      EXPECT_EQ(expected, Crc32UpdatePortable(seed, p, size)) << size << " bytes at " << offset;
    }
  }
}

TEST(IntegrityRecord, RoundTripsEveryKindWithItsLayout) {
  const IntegrityRecord written = SampleRecord();
  const std::string bytes = WriteIntegrityRecord(written);
  EXPECT_EQ(std::string("VLTRCRC1\x01\x00\x00\x00\x05\x00\x00\x00", 16), bytes.substr(0, 16));
  // The first entry: kind 1, no name, length 33, its CRC.
  EXPECT_EQ(std::string("\x01\x00\x00\x00\x21\x00\x00\x00\x04\x03\x02\x01", 12), bytes.substr(16, 12));
  IntegrityRecord read;
  ASSERT_EQ(IntegrityStatus::Ok, ParseIntegrityRecord(Bytes(bytes), bytes.size(), read));
  ASSERT_EQ(written.entries.size(), read.entries.size());
  for (size_t i = 0; i < read.entries.size(); ++i) {
    EXPECT_EQ(written.entries[i].kind, read.entries[i].kind);
    EXPECT_EQ(written.entries[i].name, read.entries[i].name);
    EXPECT_EQ(written.entries[i].length, read.entries[i].length);
    EXPECT_EQ(written.entries[i].crc, read.entries[i].crc);
  }
  ASSERT_NE(nullptr, FindIntegrityEntry(read, IntegrityKind::Volume, "Setup-2.cab"));
  EXPECT_EQ(7u, FindIntegrityEntry(read, IntegrityKind::Volume, "Setup-2.cab")->crc);
  EXPECT_EQ(nullptr, FindIntegrityEntry(read, IntegrityKind::Volume, "setup-2.cab"));
  EXPECT_EQ(nullptr, FindIntegrityEntry(read, IntegrityKind::LangText));
}

// Lookups in record order end where the last one did; out of order, the
// search goes round; a name that is not there, or is there under another
// kind, is not found and leaves the hint as it was.
TEST(IntegrityRecord, SearchFromAHintFindsEveryEntryInAnyOrder) {
  IntegrityRecord r;
  for (const char* name : {"a", "b", "c", "d"}) r.entries.push_back({IntegrityKind::File, name, 1, 0});
  r.entries.push_back({IntegrityKind::Volume, "e", 1, 0});
  const struct {
    IntegrityKind kind;
    const char* name;
    size_t hintBefore;
    int foundAt;  // -1: not found
    size_t hintAfter;
  } cases[] = {
      {IntegrityKind::File, "a", 0, 0, 1},   {IntegrityKind::File, "b", 1, 1, 2},
      {IntegrityKind::File, "d", 2, 3, 4},   {IntegrityKind::File, "a", 4, 0, 1},
      {IntegrityKind::File, "c", 5, 2, 3},   {IntegrityKind::File, "c", 99, 2, 3},
      {IntegrityKind::File, "e", 2, -1, 2},  {IntegrityKind::File, "z", 3, -1, 3},
      {IntegrityKind::Volume, "e", 0, 4, 5},
  };
  for (const auto& c : cases) {
    size_t hint = c.hintBefore;
    const IntegrityEntry* e = FindIntegrityEntry(r, c.kind, c.name, hint);
    EXPECT_EQ(c.foundAt < 0 ? nullptr : &r.entries[c.foundAt], e) << c.name << " from " << c.hintBefore;
    EXPECT_EQ(c.hintAfter, hint) << c.name << " from " << c.hintBefore;
  }
  IntegrityRecord empty;
  size_t hint = 3;
  EXPECT_EQ(nullptr, FindIntegrityEntry(empty, IntegrityKind::File, "a", hint));
}

// Version 2 puts each entry's SHA-256 between its CRC and its name; version
// 1 stays as it was, so that readers of version 1 take it as before. Read
// as the other version, each layout is damage.
TEST(IntegrityRecord, VersionTwoCarriesDigestsAndVersionOneStaysAsItWas) {
  IntegrityRecord two = SampleRecord();
  two.version = 2;
  for (size_t i = 0; i < two.entries.size(); ++i)
    for (size_t b = 0; b < kSha256Size; ++b) two.entries[i].sha256[b] = uint8_t(i * 40 + b);
  const std::string bytes = WriteIntegrityRecord(two);
  EXPECT_EQ(std::string("VLTRCRC1\x02\x00\x00\x00\x05\x00\x00\x00", 16), bytes.substr(0, 16));
  EXPECT_EQ(16 + 5 * 44 + 11 + 31, int(bytes.size()));  // the names of the volume and the file
  EXPECT_EQ(std::string("\x00\x01\x02", 3), bytes.substr(16 + 12, 3));
  IntegrityRecord read;
  ASSERT_EQ(IntegrityStatus::Ok, ParseIntegrityRecord(Bytes(bytes), bytes.size(), read));
  EXPECT_EQ(2, read.version);
  ASSERT_EQ(two.entries.size(), read.entries.size());
  for (size_t i = 0; i < read.entries.size(); ++i) {
    EXPECT_EQ(two.entries[i].name, read.entries[i].name);
    EXPECT_EQ(two.entries[i].crc, read.entries[i].crc);
    EXPECT_EQ(0, std::memcmp(two.entries[i].sha256, read.entries[i].sha256, kSha256Size)) << i;
  }

  const std::string one = WriteIntegrityRecord(SampleRecord());
  EXPECT_EQ(16 + 5 * 12 + 11 + 31, int(one.size()));
  std::string oneAsTwo = one, twoAsOne = bytes;
  oneAsTwo[8] = 2;
  twoAsOne[8] = 1;
  EXPECT_EQ(IntegrityStatus::Damaged, ParseIntegrityRecord(Bytes(oneAsTwo), oneAsTwo.size(), read));
  EXPECT_EQ(IntegrityStatus::Damaged, ParseIntegrityRecord(Bytes(twoAsOne), twoAsOne.size(), read));
}

TEST(IntegrityRecord, DamagedOrNewerRecordsAreToldApart) {
  const std::string good = WriteIntegrityRecord(SampleRecord());
  struct Case {
    const char* what;
    std::string bytes;
    IntegrityStatus status;
  };
  std::string newer = good, older = good, unknownKind = good, hugeCount = good, longName = good;
  newer[8] = 3;
  older[8] = 0;
  unknownKind[16] = 7;
  hugeCount[15] = '\x7F';
  longName[16 + 2] = '\x40';  // the first entry claims a 64-byte name
  const Case cases[] = {
      {"empty", "", IntegrityStatus::Damaged},
      {"another magic", "VLTRCRC2" + good.substr(8), IntegrityStatus::Damaged},
      {"header cut", good.substr(0, 15), IntegrityStatus::Damaged},
      {"entry cut", good.substr(0, good.size() - 1), IntegrityStatus::Damaged},
      {"bytes after the entries", good + "x", IntegrityStatus::Damaged},
      {"version 0", older, IntegrityStatus::Damaged},
      {"unknown kind", unknownKind, IntegrityStatus::Damaged},
      {"count beyond the data", hugeCount, IntegrityStatus::Damaged},
      {"name beyond the data", longName, IntegrityStatus::Damaged},
      {"newer version", newer, IntegrityStatus::NewerVersion},
      {"no entries", WriteIntegrityRecord(IntegrityRecord()), IntegrityStatus::Ok},
  };
  for (const Case& c : cases) {
    IntegrityRecord r;
    EXPECT_EQ(c.status, ParseIntegrityRecord(Bytes(c.bytes), c.bytes.size(), r)) << c.what;
  }
}

namespace {

// A minimal i386 DLL image: MZ, e_lfanew 0x80, a PE file header and an
// optional header magic; every other byte a fixed pattern.
std::string SyntheticPe(size_t size, uint32_t storedChecksum) {
  std::string d(size, '\0');
  for (size_t i = 0; i < size; ++i) d[i] = char((i * 7 + 3) & 0xFF);
  const uint8_t head[] = {'M', 'Z'};
  d.replace(0, 2, reinterpret_cast<const char*>(head), 2);
  d.replace(0x3C, 4, std::string("\x80\0\0\0", 4));
  d.replace(0x80, 24, std::string("PE\0\0\x4C\x01\x01\0\0\0\0\0\0\0\0\0\0\0\0\0\xE0\0\x02\x21", 24));
  d.replace(0x98, 2, std::string("\x0B\x01", 2));
  for (int i = 0; i < 4; ++i) d[0x80 + 88 + i] = char(storedChecksum >> (8 * i));
  return d;
}

}  // namespace

TEST(PeChecksum, MatchesKnownValues) {
  // Even sizes: the values osslsigncode 2.9 calculates for these images.
  // Odd sizes: the last byte counts as a word's low byte and the full length
  // is added, as the system's checksum routine does (osslsigncode drops the
  // odd byte, so those were computed by an independent script).
  struct Case {
    size_t size;
    uint32_t stored, expected;
  };
  const Case cases[] = {
      {512, 0, 0x909F}, {512, 0xDEADBEEF, 0x909F}, {513, 0, 0x90A3}, {4097, 0x12345678, 0x2220}};
  for (const Case& c : cases) {
    std::string image = SyntheticPe(c.size, c.stored);
    PeImageFacts facts;
    ASSERT_TRUE(ReadPeImageFacts(Bytes(image), image.size(), facts)) << c.size;
    EXPECT_EQ(size_t(0x80 + 88), facts.checksumOffset);
    EXPECT_EQ(kPeMachineI386, facts.machine);
    EXPECT_TRUE(facts.isDll);
    EXPECT_EQ(c.stored, facts.storedChecksum);
    EXPECT_EQ(c.expected, ComputePeChecksum(Bytes(image), image.size(), facts.checksumOffset)) << c.size;
    // In pieces of odd and even lengths, so that words and the field are cut.
    for (size_t piece : {size_t(1), size_t(3), size_t(90), size_t(4096)}) {
      PeChecksumStream stream(facts.checksumOffset);
      for (size_t at = 0; at < image.size(); at += piece)
        stream.Add(Bytes(image) + at, std::min(piece, image.size() - at));
      EXPECT_EQ(c.expected, stream.Finish()) << c.size << " in pieces of " << piece;
    }
    ASSERT_TRUE(WritePeChecksum(reinterpret_cast<uint8_t*>(&image[0]), image.size()));
    ASSERT_TRUE(ReadPeImageFacts(Bytes(image), image.size(), facts));
    EXPECT_EQ(c.expected, facts.storedChecksum);
  }
}

// The stream against the whole-buffer sum over large data, with the field at
// even and odd offsets and the data cut anywhere: mostly 0xFF bytes, so that
// the end-around carry comes up all the time.
TEST(PeChecksum, StreamMatchesTheWholeSumOverLargeData) {
  std::string data(200001, '\xFF');
  uint32_t seed = 1;
  for (size_t i = 0; i < data.size(); i += 1 + (seed >> 24) % 13) {
    seed = seed * 1103515245 + 12345;
    data[i] = char(seed >> 16);
  }
  const uint8_t* bytes = Bytes(data);
  for (size_t field : {size_t(0), size_t(3), size_t(8), size_t(1001), data.size() - 4, data.size() + 10}) {
    const uint32_t expected = ComputePeChecksum(bytes, data.size(), field);
    for (size_t piece : {size_t(1), size_t(7), size_t(90), size_t(65537), data.size()}) {
      PeChecksumStream stream(field);
      for (size_t at = 0; at < data.size(); at += piece)
        stream.Add(bytes + at, std::min(piece, data.size() - at));
      EXPECT_EQ(expected, stream.Finish()) << "field at " << field << ", pieces of " << piece;
    }
  }
}

TEST(PeChecksum, RefusesWhatIsNoPeImage) {
  const std::string good = SyntheticPe(512, 0);
  std::string noPe = good, farHeader = good, shortOptional = good;
  noPe[0x81] = 'X';
  farHeader.replace(0x3C, 4, std::string("\xF0\x01\0\0", 4));  // the field would lie past 512
  shortOptional[0x80 + 20] = 0x40;
  for (const std::string& bad :
       {std::string("MZ"), good.substr(0, 0x80 + 91), noPe, farHeader, shortOptional}) {
    PeImageFacts facts;
    EXPECT_FALSE(ReadPeImageFacts(Bytes(bad), bad.size(), facts));
  }
}
