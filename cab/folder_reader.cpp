// Data blocks of a folder.
//
// Quirks handled here:
//  - Checksum 0 means none was stored; any other value must match.
//  - cbUncomp 0 marks the first part of a block split across cabinets; it
//    must be the folder's last block in a cabinet that has a next one, and
//    the parts are joined before decoding (a block may pass through several
//    small cabinets before it is complete).
//  - A block may expand to at most 32 KiB; bigger ones are corrupt.
//  - A folder whose blocks run out before the file ends is corrupt, unless it
//    is the cabinet's last folder and the set continues.
#include "folder_reader.h"

#include "byteorder.h"
#include "cabchecksum.h"

namespace cab {

FolderReader::FolderReader(Memory& mem, VolumeChain& chain) : mem_(mem), chain_(chain), in_(mem), out_(mem) {}

FolderReader::~FolderReader() { Close(); }

void FolderReader::Close() {
  mem_.Destroy(decoder_);
  decoder_ = nullptr;
  open_ = false;
}

Status FolderReader::Open(Cabinet& first, uint32_t folderIndex) {
  Close();
  if (!in_.Resize(kMaxInput) || !out_.Resize(kBlockSize)) return Status::kAllocFail;
  const FolderEntry& f = first.Folder(folderIndex);
  Status e = MakeDecoder(mem_, f.compType, decoder_);
  if (e != Status::kOk) return e;
  if (!first.Stream().Seek(f.dataOffset)) return Status::kCorrupt;
  cab_ = &first;
  volume_ = 0;
  cabFolder_ = folder_ = folderIndex;
  blocksLeft_ = f.blockCount;
  compType_ = f.compType;
  outPos_ = outLength_ = 0;
  position_ = 0;
  open_ = true;
  return Status::kOk;
}

bool FolderReader::ContinuesInNextVolume() const {
  return (cab_->Header().flags & kFlagNextCabinet) && cabFolder_ + 1 == cab_->Header().folderCount;
}

Status FolderReader::EnterNextVolume() {
  if (!ContinuesInNextVolume()) return Status::kCorrupt;
  Cabinet* next = nullptr;
  Status e = chain_.NextVolume(volume_, next);
  if (e != Status::kOk) return e;
  const FolderEntry& f = next->Folder(0);
  if (f.compType != compType_) return Status::kCorrupt;
  if (!next->Stream().Seek(f.dataOffset)) return Status::kCorrupt;
  cab_ = next;
  ++volume_;
  cabFolder_ = 0;
  blocksLeft_ = f.blockCount;
  return Status::kOk;
}

// Reads one data block (or one part of a split block) and appends its bytes.
Status FolderReader::ReadPart(uint32_t& inUsed, uint16_t& uncompressed) {
  InputStream& s = cab_->Stream();
  unsigned char h[kDataHeaderSize];
  if (!s.Read(h, kDataHeaderSize) || !s.Skip(cab_->Header().dataReserve)) return Status::kCorrupt;
  uint32_t sum = ReadLe32(h);
  uint16_t length = ReadLe16(h + 4);
  uncompressed = ReadLe16(h + 6);
  if (length > kMaxInput - inUsed || uncompressed > kBlockSize) return Status::kCorrupt;
  unsigned char* data = in_.Data() + inUsed;
  if (!s.Read(data, length)) return Status::kCorrupt;
  if (sum != 0 && sum != CabChecksum(h + 4, 4, CabChecksum(data, length, 0))) return Status::kCorrupt;
  inUsed += length;
  --blocksLeft_;
  return Status::kOk;
}

Status FolderReader::NextBlock() {
  uint32_t inUsed = 0;
  for (;;) {
    if (blocksLeft_ == 0) {
      Status e = EnterNextVolume();
      if (e != Status::kOk) return e;
      continue;
    }
    uint16_t uncompressed = 0;
    Status e = ReadPart(inUsed, uncompressed);
    if (e != Status::kOk) return e;
    if (uncompressed == 0) {
      // First part of a split block: the rest follows in the next cabinet.
      if (blocksLeft_ != 0 || !ContinuesInNextVolume()) return Status::kCorrupt;
      continue;
    }
    e = decoder_->DecodeBlock(in_.Data(), inUsed, out_.Data(), uncompressed);
    if (e != Status::kOk) return e;
    outPos_ = 0;
    outLength_ = uncompressed;
    return Status::kOk;
  }
}

Status FolderReader::Pass(uint32_t count, const Sink& sink) {
  if (!open_) return Status::kCorrupt;
  while (count > 0) {
    if (outPos_ == outLength_) {
      Status e = NextBlock();
      if (e != Status::kOk) {
        Close();
        return e;
      }
    }
    uint32_t take = outLength_ - outPos_;
    if (take > count) take = count;
    if (sink.write) {
      unsigned int written = sink.write(sink.handle, out_.Data() + outPos_, take);
      if (written != take) {
        Close();
        return Status::kTargetFile;
      }
    }
    outPos_ += take;
    position_ += take;
    count -= take;
  }
  return Status::kOk;
}

}  // namespace cab
