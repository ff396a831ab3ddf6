// Writes Microsoft cabinets (format version 1.3): one cabinet, or a set of
// volumes that a file may run across. Folders are stored (type 0), MSZIP
// (type 1, deflate through zlib) or LZX (type 3 with the window's size in
// the high byte, our own encoder, every block checked by decoding it). Data is streamed from the sources to
// the output files in blocks of 32 KiB, so the payload is never held in memory.
//
// Folders. A folder is one compression stream; readers decode it from its
// start, so a folder per cabinet would compress best, but MSZIP only looks
// back 32 KiB and gains nothing from longer streams. A new folder therefore
// starts before a file that is not empty
//   - when the current folder already holds `folderTarget` bytes,
//   - when the file would take the folder past what the format can count
//     (65535 blocks of 32 KiB),
//   - and, in a set, after every folder that runs into the next volume, as
//     soon as the files it carries over have ended. Extractors that run
//     volume by volume (FDI) cannot start a file inside a folder that began
//     in an earlier volume, so no file begins there.
//
// Volumes. Each volume but the last ends with a data block that is split in
// two (its first part has an uncompressed size of 0 and its rest opens the
// next volume), and at least one file runs across that boundary: FDI moves to
// the next volume only while it writes such a file. Files that touch the
// split block are listed in both volumes, marked as continued (folder index
// 0xFFFE / 0xFFFD / 0xFFFF). Every volume stays within its size limit and is
// filled up to it but for a few bytes, or but for the list entries of the
// files that would come next when those no longer fit.
//
// Threads. Blocks are read and compressed ahead of the writer by
// options.threads workers (block_pipeline.h); the layout does not depend on
// them.
//
// Output is deterministic: the same entries and options give the same bytes,
// whatever the number of threads.
#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "format.h"

namespace cab {

struct Entry {
  // Name as stored: backslash-separated folders, may begin with a placeholder
  // folder such as "<SYS>\". At most 255 bytes; no empty, "." or ".."
  // component, no leading backslash, none of / : * ? " | or control characters.
  std::string storedName;
  std::string sourcePath;  // when not empty, the file whose bytes are stored
  std::string content;     // otherwise these bytes
  DosStamp stamp;
  uint16_t attributes = kAttrArchive;
};

struct WriteOptions {
  Compression compression = Compression::MsZip;
  int level = 6;                      // 0..9: zlib's level for MSZIP, the search effort for LZX
  int lzxWindow = 21;                 // LZX: the window is 2^lzxWindow bytes, 15..21
  uint32_t volumeSize = 0;            // 0: a single cabinet; else the limit of every volume
  uint32_t firstVolumeSize = 0;       // limit of the first volume; 0: volumeSize
  uint32_t folderTarget = 64u << 20;  // bytes before a new folder is started
  int threads = 1;                    // threads that read and compress ahead of the writer
  uint32_t segmentBlocks = 32;        // MSZIP and stored blocks that one thread takes at a time
  int32_t setId = -1;                 // 0..65535, or -1: derived from the entries
  std::bitset<256> leadBytes;         // of the names' code page, for CheckStoredName
  // Told the files fed in whole and the bytes read so far, as data goes in.
  std::function<void(uint64_t files, uint64_t bytes)> progress;
};

// Volume limits below this are refused: a volume must hold its header, two
// worst-case data blocks and the list entries that run across into it.
constexpr uint32_t kMinVolumeSize = 128 * 1024;

struct VolumeName {
  std::string path;         // where the volume is written
  std::string cabinetName;  // name the neighbouring volumes store for it (a bare file name)
  std::string diskName;     // disk name stored beside it, shown when it is asked for
};
// Gives the names of volume `index` (0 = the first). Called once per volume
// that is written, and once for the volume after each one, whose names the
// header must hold (that volume may then not be needed).
using VolumeNamer = std::function<VolumeName(int index)>;

struct VolumeInfo {
  std::string path;
  uint64_t size = 0;
  uint32_t files = 0;  // list entries, continued files counted in each volume
  uint32_t folders = 0;
};

struct WriteResult {
  std::vector<VolumeInfo> volumes;
  uint64_t uncompressedBytes = 0;
  uint16_t setId = 0;
};

// The file access of the writer, which opens nothing itself: the caller
// reads the entries' sources and writes the volumes (the builder does both
// on its host's files).
class EntryReader {
 public:
  virtual ~EntryReader() = default;
  // Reads up to `limit` next bytes into `out`; 0 at the end. -1 on failure,
  // with `error`.
  virtual long Read(uint8_t* out, size_t limit, std::string& error) = 0;
  // Moves `count` bytes on, short of the end; false on failure, with `error`.
  // The default reads them.
  virtual bool Skip(uint64_t count, std::string& error);
};

// One volume being written, whose header is only known when its data is done.
class VolumeOutput {
 public:
  static constexpr size_t kUnknownHeader = size_t(-1);
  virtual ~VolumeOutput() = default;
  virtual bool Write(const void* data, size_t size, std::string& error) = 0;
  virtual uint64_t DataSize() const = 0;
  // Puts the header in front of the data and closes the volume.
  virtual bool Finish(const std::vector<uint8_t>& header, std::string& error) = 0;
  // Closes and deletes whatever this volume wrote.
  virtual void Abandon() = 0;
};

class WriterFiles {
 public:
  virtual ~WriterFiles() = default;
  // The size of the source at `path`; false when it is no readable regular file.
  virtual bool SourceSize(const std::string& path, uint64_t& size) = 0;
  // The entry's bytes, from its source or its content; null on failure, with
  // `error`. The reader fails when a source no longer has expectedSize bytes.
  virtual std::unique_ptr<EntryReader> OpenEntry(const Entry& entry, uint64_t expectedSize,
                                                 std::string& error) = 0;
  // A volume at `path` with room for a header of headerSize bytes, or
  // VolumeOutput::kUnknownHeader; null on failure, with `error`.
  virtual std::unique_ptr<VolumeOutput> CreateVolume(const std::string& path, size_t headerSize,
                                                     std::string& error) = 0;
  // Deletes a finished volume of a set that failed.
  virtual void Remove(const std::string& path) = 0;
};

// Writes the entries in order. With options.volumeSize 0 one cabinet is
// written to namer(0).path. On failure `error` says why, the result is
// false, and the files written so far are removed.
bool WriteCabinetSet(const std::vector<Entry>& entries, const WriteOptions& options, const VolumeNamer& namer,
                     WriterFiles& files, WriteResult& result, std::string& error);

// The CFFOLDER typeCompress of the options.
uint16_t TypeCompress(const WriteOptions& options);

// One cabinet at `path`, whatever options.volumeSize says.
bool WriteCabinet(const std::vector<Entry>& entries, const WriteOptions& options, const std::string& path,
                  WriterFiles& files, WriteResult& result, std::string& error);

}  // namespace cab
