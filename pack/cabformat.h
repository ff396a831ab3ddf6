// The cabinet format as the builder writes and reads it; depends on nothing
// of the writer. Structures as the writer lays them out (all little-endian):
//
//   CFHEADER  36 bytes   "MSCF", 0, cbCabinet, 0, coffFiles, 0, 3, 1,
//                        cFolders, cFiles, flags, setID, iCabinet
//             then, by flags: szCabinetPrev, szDiskPrev (0x0001),
//                             szCabinetNext, szDiskNext (0x0002)
//   CFFOLDER  8 bytes    coffCabStart, cCFData, typeCompress      × cFolders
//   CFFILE    16 bytes   cbFile, uoffFolderStart, iFolder, date,
//                        time, attribs, then the name and a NUL   × cFiles
//   CFDATA    8 bytes    csum, cbData, cbUncomp, then cbData bytes
//
// No reserved areas are written. A data block that runs into the next volume
// is stored as two CFDATA: the first, at the end of its volume, has
// cbUncomp 0; the second opens the next volume and has the block's real
// uncompressed size. Each part carries its own checksum.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cabchecksum.h"

constexpr size_t kCabHeaderFixedSize = 36;
constexpr size_t kCabFolderSize = 8;
constexpr size_t kCabFileFixedSize = 16;
constexpr size_t kCabDataHeaderSize = 8;
constexpr size_t kCabBlockSize = 32768;  // uncompressed bytes of every block but a folder's last
constexpr size_t kCabMaxNameSize = 255;  // extractors hold names in 256 bytes with the NUL
constexpr uint32_t kCabMaxBlocks = 65535;
// What one folder may hold, leaving the block count room for blocks that are
// split across volumes (each split counts once in either volume).
constexpr uint64_t kCabMaxFolderBytes = uint64_t(kCabMaxBlocks - 64) * kCabBlockSize;
constexpr uint64_t kCabMaxCabinetSize = 0x7FFFFFFF;  // extractors hold sizes and offsets signed
constexpr uint16_t kCabFlagPrev = 0x0001;
constexpr uint16_t kCabFlagNext = 0x0002;
constexpr uint16_t kCabFlagReserve = 0x0004;  // never written; readers skip the areas it announces
constexpr uint16_t kCabContinuedFromPrev = 0xFFFD;
constexpr uint16_t kCabContinuedToNext = 0xFFFE;
constexpr uint16_t kCabContinuedBoth = 0xFFFF;

// The 8-byte CFDATA header for `cbData` bytes at `data`.
void EncodeCabDataHeader(uint8_t out[kCabDataHeaderSize], const uint8_t* data, uint16_t cbData,
                         uint16_t cbUncomp);

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

// The attribute bits a cabinet entry may carry; the extractor passes them to
// SetFileAttributes unchanged, so any other bit is dropped when writing.
constexpr uint16_t kCabAttrReadOnly = 0x01;
constexpr uint16_t kCabAttrHidden = 0x02;
constexpr uint16_t kCabAttrSystem = 0x04;
constexpr uint16_t kCabAttrArchive = 0x20;
constexpr uint16_t kCabAttrAllowed = 0x27;

// Empty when a stored name is acceptable, otherwise why not: at most 255
// bytes; no empty, "." or ".." component, no leading backslash, none of
// / : * ? " | or control characters.
std::string CheckStoredName(const std::string& storedName);

struct CabHeaderFolder {
  uint32_t dataOffset = 0;  // from the end of the header (the first CFDATA)
  uint16_t blocks = 0;
  uint16_t type = 0;
};

struct CabHeaderFile {
  uint32_t size = 0;
  uint32_t folderOffset = 0;
  uint16_t folderIndex = 0;
  DosStamp stamp;
  uint16_t attributes = 0;
  std::string name;
};

struct CabHeader {
  uint32_t cabinetSize = 0;
  uint16_t setId = 0;
  uint16_t index = 0;
  bool hasPrev = false;
  bool hasNext = false;
  std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
  std::vector<CabHeaderFolder> folders;
  std::vector<CabHeaderFile> files;
};

// Sizes of the header parts, for planning before the header is complete.
size_t CabFixedHeaderSize(const CabHeader& header);  // CFHEADER and the names its flags announce
inline size_t CabFileEntrySize(const std::string& name) { return kCabFileFixedSize + name.size() + 1; }
size_t CabHeaderSize(const CabHeader& header);  // up to the first CFDATA

// The header bytes; folder data offsets are made absolute here.
std::vector<uint8_t> EncodeCabHeader(const CabHeader& header);
