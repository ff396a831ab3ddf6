// The uncompressed data of one folder, block by block: reads the data blocks
// of the folder from its cabinet, checks their checksums, joins a block that
// is split between two cabinets of a set, follows the folder into the next
// cabinet when it continues there, and has the decoder expand each block.
#pragma once

#include <cstdint>

#include "allocator.h"
#include "cabinet_reader.h"
#include "decoder.h"
#include "status.h"

namespace cab {

// The cabinets of a set in order, as the caller (one FDICopy run) has met them.
class VolumeChain {
 public:
  virtual ~VolumeChain() = default;
  // The cabinet that follows volume `index`, opened on first use.
  virtual Status NextVolume(uint32_t index, Cabinet*& next) = 0;
};

// Where passed data goes: the caller's target through its write function,
// or nowhere when write is null.
struct Sink {
  unsigned int (*write)(intptr_t handle, void* buffer, unsigned int count);
  intptr_t handle;
};

class FolderReader {
 public:
  FolderReader(Memory& mem, VolumeChain& chain);
  ~FolderReader();
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  // Starts folder folderIndex of the chain's first cabinet at its start.
  Status Open(Cabinet& first, uint32_t folderIndex);
  bool IsOpenAt(uint32_t folderIndex) const { return open_ && folder_ == folderIndex; }
  // Uncompressed bytes of the folder passed so far.
  uint32_t Position() const { return position_; }
  // Passes the next count bytes to sink. The error is sticky: after one,
  // the reader must be opened again.
  Status Pass(uint32_t count, const Sink& sink);

 private:
  Status NextBlock();
  Status ReadPart(uint32_t& inUsed, uint16_t& uncompressed);
  Status EnterNextVolume();
  bool ContinuesInNextVolume() const;
  void Close();

  static constexpr uint32_t kMaxInput = 65536;

  Memory& mem_;
  VolumeChain& chain_;
  Decoder* decoder_ = nullptr;
  Bytes in_, out_;
  Cabinet* cab_ = nullptr;
  uint32_t volume_ = 0;
  uint32_t cabFolder_ = 0;  // the folder's index in cab_
  uint32_t folder_ = 0;     // the folder's index in the first cabinet
  uint32_t blocksLeft_ = 0;
  uint16_t compType_ = 0;
  uint32_t outPos_ = 0, outLength_ = 0;
  uint32_t position_ = 0;
  bool open_ = false;
};

}  // namespace cab
