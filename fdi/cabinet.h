// The cabinet file format: header, folder and file entries, as read by cabd.
//
// Layout (all numbers little-endian):
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
#pragma once

#include <cstdint>

#include "cab_stream.h"
#include "fdi_memory.h"

namespace fdi {

enum : uint16_t {
  kFlagPrevCabinet = 0x0001,
  kFlagNextCabinet = 0x0002,
  kFlagReserve = 0x0004,
};

enum : uint16_t {
  kFolderContinuedFromPrev = 0xFFFD,
  kFolderContinuedToNext = 0xFFFE,
  kFolderContinuedPrevAndNext = 0xFFFF,
};

enum : uint16_t {
  kCompressNone = 0,
  kCompressMszip = 1,
  kCompressQuantum = 2,
  kCompressLzx = 3,
};

constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kNameCapacity = 256;  // names and disk texts, with their zero

struct CabHeader {
  uint32_t cabinetSize;
  uint32_t filesOffset;
  uint8_t versionMinor, versionMajor;
  uint16_t folderCount, fileCount, flags, setId, index;
  uint16_t headerReserve;
  uint8_t folderReserve, dataReserve;
  char prevName[kNameCapacity], prevDisk[kNameCapacity];
  char nextName[kNameCapacity], nextDisk[kNameCapacity];
};

struct CabFolder {
  uint32_t dataOffset;
  uint16_t blockCount;
  uint16_t compType;
};

struct CabFile {
  uint32_t size;
  uint32_t folderOffset;
  uint16_t folderIndex, date, time, attribs;
  uint32_t entryPosition;  // where the entry lies in the cabinet
  uint32_t nameOffset;     // into Cabinet::names
};

inline bool continuesFromPrev(uint16_t folderIndex) {
  return folderIndex == kFolderContinuedFromPrev || folderIndex == kFolderContinuedPrevAndNext;
}
inline bool continuesToNext(uint16_t folderIndex) {
  return folderIndex == kFolderContinuedToNext || folderIndex == kFolderContinuedPrevAndNext;
}

// Reads and checks the header, up to the end of the texts. Returns
// FDIERROR_NOT_A_CABINET, FDIERROR_UNKNOWN_CABINET_VERSION or
// FDIERROR_CORRUPT_CABINET when the stream does not hold a usable cabinet.
FDIERROR readHeader(CabStream& stream, CabHeader& header);

// One cabinet of a set, opened and read up to its file entries.
class Cabinet {
 public:
  Cabinet(Memory& mem, const Callbacks& io, intptr_t handle);
  ~Cabinet();  // closes the handle
  Cabinet(const Cabinet&) = delete;
  Cabinet& operator=(const Cabinet&) = delete;

  // Reads header, folders and files. Error codes as readHeader, plus
  // FDIERROR_ALLOC_FAIL.
  FDIERROR load();

  CabStream& stream() { return stream_; }
  const CabHeader& header() const { return header_; }
  const CabFolder& folder(uint32_t i) const { return folders_[i]; }
  const CabFile& file(uint32_t i) const { return files_[i]; }
  char* fileName(uint32_t i) { return reinterpret_cast<char*>(names_.data()) + files_[i].nameOffset; }
  // The position just after the last file entry.
  uint32_t filesEnd() const { return filesEnd_; }
  // True when the first folder carries on a folder of the previous cabinet.
  bool firstFolderContinued() const;

 private:
  FDIERROR loadFolders();
  FDIERROR loadFiles();

  Memory& mem_;
  Callbacks io_;
  CabStream stream_;
  CabHeader header_{};
  CabFolder* folders_ = nullptr;
  CabFile* files_ = nullptr;
  Bytes names_;
  uint32_t filesEnd_ = 0;
};

}  // namespace fdi
