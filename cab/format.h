// The cabinet format (version 1.3), the one vocabulary of the reader and the
// writer. Layout (all numbers little-endian):
//
//   CFHEADER  36 bytes: "MSCF", reserved, cbCabinet, reserved, coffFiles,
//             reserved, version minor/major, cFolders, cFiles, flags, setID,
//             iCabinet; then, with flag RESERVE, cbCFHeader (16 bits),
//             cbCFFolder and cbCFData (8 bits each) and cbCFHeader reserved
//             bytes; with flag PREV the previous cabinet's name and disk, with
//             NEXT the next one's (zero-terminated texts).
//   CFFOLDER  8 bytes + cbCFFolder: first data block offset, block count,
//             compression type (low 4 bits the method, bits 8-12 the window).
//   CFFILE    16 bytes + name: size, offset in the folder's uncompressed data,
//             folder index (or one of the CONTINUED markers), date, time,
//             attributes.
//   CFDATA    8 bytes + cbCFData + cbData: checksum, cbData, cbUncomp, then
//             the compressed bytes. cbUncomp 0 marks the first part of a block
//             that the next cabinet of the set completes.
//
// The writer leaves out the reserved areas. A data block that runs into the
// next volume is stored as two CFDATA: the first, at the end of its volume,
// has cbUncomp 0; the second opens the next volume and has the block's real
// uncompressed size. Each part carries its own checksum.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cab {

constexpr uint32_t kSignature = 0x4643534D;  // "MSCF"
constexpr uint8_t kVersionMajor = 1;
constexpr uint8_t kVersionMinor = 3;

constexpr size_t kHeaderSize = 36;  // CFHEADER without reserve and names
constexpr size_t kFolderSize = 8;   // CFFOLDER without reserve
constexpr size_t kFileFixedSize = 16;
constexpr size_t kDataHeaderSize = 8;
constexpr size_t kBlockSize =
    32768;  // uncompressed bytes of a block at most; of every block but a folder's last
constexpr uint32_t kNameCapacity = 256;  // names and disk texts with their NUL, as extractors hold them
constexpr size_t kMaxNameSize = kNameCapacity - 1;
// Largest payload a block can turn into, with room to spare; extractors
// accept up to 32768 + 6144.
constexpr size_t kMaxPayload = 32768 + 512;
constexpr uint32_t kMaxBlocks = 65535;
// What one folder may hold, leaving the block count room for blocks that are
// split across volumes (each split counts once in either volume).
constexpr uint64_t kMaxFolderBytes = uint64_t(kMaxBlocks - 64) * kBlockSize;
constexpr uint64_t kMaxCabinetSize = 0x7FFFFFFF;  // extractors hold sizes and offsets signed

enum : uint16_t {
  kFlagPrevCabinet = 0x0001,
  kFlagNextCabinet = 0x0002,
  kFlagReserve = 0x0004,  // never written; readers skip the areas it announces
};

// Folder indexes of file entries that run across volumes.
enum : uint16_t {
  kFolderContinuedFromPrev = 0xFFFD,
  kFolderContinuedToNext = 0xFFFE,
  kFolderContinuedPrevAndNext = 0xFFFF,
};

inline bool ContinuesFromPrev(uint16_t folderIndex) {
  return folderIndex == kFolderContinuedFromPrev || folderIndex == kFolderContinuedPrevAndNext;
}
inline bool ContinuesToNext(uint16_t folderIndex) {
  return folderIndex == kFolderContinuedToNext || folderIndex == kFolderContinuedPrevAndNext;
}

// The compression type of a folder: the method in the low 4 bits, the
// window's size (log 2) in bits 8-12 for LZX and Quantum.
enum : uint16_t {
  kCompressNone = 0,
  kCompressMszip = 1,
  kCompressQuantum = 2,
  kCompressLzx = 3,
};
// What the writer offers.
enum class Compression : uint16_t { Stored = kCompressNone, MsZip = kCompressMszip, Lzx = kCompressLzx };
constexpr int kMinLzxWindow = 15;
constexpr int kMaxLzxWindow = 21;
constexpr int kMinQuantumWindow = 10;
constexpr int kMaxQuantumWindow = 21;

inline uint16_t CompressionMethod(uint16_t compType) { return compType & 0x000f; }
inline unsigned CompressionWindow(uint16_t compType) { return (compType >> 8) & 0x1f; }
inline uint16_t CompressionType(uint16_t method, int window) { return uint16_t(method | (window << 8)); }

// The attribute bits a cabinet entry may carry; the extractor passes them to
// SetFileAttributes unchanged, so any other bit is dropped when writing.
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrAllowed = 0x27;

// A DOS date and time as the cabinet stores them. The extractor applies them
// as UTC, so the builder stores UTC.
struct DosStamp {
  uint16_t date = 0x21;  // 1980-01-01
  uint16_t time = 0;
};

// UTC seconds since 1970 as a DOS stamp (2-second steps, rounded down);
// times before 1980 give 1980-01-01 00:00:00, times after 2107 give
// 2107-12-31 23:59:58.
DosStamp DosStampFromUnixTime(int64_t seconds);

// Empty when a stored name is acceptable, otherwise why not: at most 255
// bytes; no empty, "." or ".." component, no leading backslash, none of
// / : * ? " | or control characters. `leadBytes` marks the bytes that start
// a two-byte character in the name's code page (none in a single-byte one),
// whose second byte is taken as part of the character, not as a separator.
std::string CheckStoredName(const std::string& storedName, const std::bitset<256>& leadBytes = {});

// --- The records as the reader holds them: fixed buffers, no heap of its own.

struct CabinetHeader {
  uint32_t cabinetSize;
  uint32_t filesOffset;
  uint8_t versionMinor, versionMajor;
  uint16_t folderCount, fileCount, flags, setId, index;
  uint16_t headerReserve;
  uint8_t folderReserve, dataReserve;
  char prevName[kNameCapacity], prevDisk[kNameCapacity];
  char nextName[kNameCapacity], nextDisk[kNameCapacity];
};

struct FolderEntry {
  uint32_t dataOffset;  // as stored; in a VolumeHeader, counted from the first CFDATA
  uint16_t blockCount;
  uint16_t compType;
};

struct FileEntry {
  uint32_t size;
  uint32_t folderOffset;
  uint16_t folderIndex, date, time, attribs;
  uint32_t entryPosition;  // where the entry lies in the cabinet
  uint32_t nameOffset;     // into the reader's name buffer
};

// --- The header as the writer plans it, encoded once the volume is done.

struct VolumeFile {
  uint32_t size = 0;
  uint32_t folderOffset = 0;
  uint16_t folderIndex = 0;
  DosStamp stamp;
  uint16_t attributes = 0;
  std::string name;
};

struct VolumeHeader {
  uint32_t cabinetSize = 0;
  uint16_t setId = 0;
  uint16_t index = 0;
  bool hasPrev = false;
  bool hasNext = false;
  std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
  std::vector<FolderEntry> folders;
  std::vector<VolumeFile> files;
};

// Sizes of the header parts, for planning before the header is complete.
size_t FixedHeaderSize(const VolumeHeader& header);  // CFHEADER and the names its flags announce
inline size_t FileEntrySize(const std::string& name) { return kFileFixedSize + name.size() + 1; }
size_t HeaderSize(const VolumeHeader& header);  // up to the first CFDATA

// The header bytes; folder data offsets are made absolute here.
std::vector<uint8_t> EncodeHeader(const VolumeHeader& header);

// The 8-byte CFDATA header for `cbData` bytes at `data`.
void EncodeDataHeader(uint8_t out[kDataHeaderSize], const uint8_t* data, uint16_t cbData, uint16_t cbUncomp);

}  // namespace cab
