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

#include "cabchecksum.h"

namespace fdi {

FolderReader::FolderReader(Memory& mem, VolumeChain& chain) : mem_(mem), chain_(chain), in_(mem), out_(mem) {}

FolderReader::~FolderReader() { close(); }

void FolderReader::close() {
  mem_.destroy(decoder_);
  decoder_ = nullptr;
  open_ = false;
}

FDIERROR FolderReader::open(Cabinet& first, uint32_t folderIndex) {
  close();
  if (!in_.resize(kMaxInput) || !out_.resize(CB_MAX_CHUNK)) return FDIERROR_ALLOC_FAIL;
  const CabFolder& f = first.folder(folderIndex);
  FDIERROR e = makeDecoder(mem_, f.compType, decoder_);
  if (e != FDIERROR_NONE) return e;
  if (!first.stream().seek(f.dataOffset)) return FDIERROR_CORRUPT_CABINET;
  cab_ = &first;
  volume_ = 0;
  cabFolder_ = folder_ = folderIndex;
  blocksLeft_ = f.blockCount;
  compType_ = f.compType;
  outPos_ = outLength_ = 0;
  position_ = 0;
  open_ = true;
  return FDIERROR_NONE;
}

bool FolderReader::continuesInNextVolume() const {
  return (cab_->header().flags & kFlagNextCabinet) && cabFolder_ + 1 == cab_->header().folderCount;
}

FDIERROR FolderReader::enterNextVolume() {
  if (!continuesInNextVolume()) return FDIERROR_CORRUPT_CABINET;
  Cabinet* next = nullptr;
  FDIERROR e = chain_.nextVolume(volume_, next);
  if (e != FDIERROR_NONE) return e;
  const CabFolder& f = next->folder(0);
  if (f.compType != compType_) return FDIERROR_CORRUPT_CABINET;
  if (!next->stream().seek(f.dataOffset)) return FDIERROR_CORRUPT_CABINET;
  cab_ = next;
  ++volume_;
  cabFolder_ = 0;
  blocksLeft_ = f.blockCount;
  return FDIERROR_NONE;
}

// Reads one data block (or one part of a split block) and appends its bytes.
FDIERROR FolderReader::readPart(uint32_t& inUsed, uint16_t& uncompressed) {
  CabStream& s = cab_->stream();
  unsigned char h[8];
  if (!s.read(h, 8) || !s.skip(cab_->header().dataReserve)) return FDIERROR_CORRUPT_CABINET;
  uint32_t sum = ReadLe32(h);
  uint16_t length = ReadLe16(h + 4);
  uncompressed = ReadLe16(h + 6);
  if (length > kMaxInput - inUsed || uncompressed > CB_MAX_CHUNK) return FDIERROR_CORRUPT_CABINET;
  unsigned char* data = in_.data() + inUsed;
  if (!s.read(data, length)) return FDIERROR_CORRUPT_CABINET;
  if (sum != 0 && sum != CabChecksum(h + 4, 4, CabChecksum(data, length, 0))) return FDIERROR_CORRUPT_CABINET;
  inUsed += length;
  --blocksLeft_;
  return FDIERROR_NONE;
}

FDIERROR FolderReader::nextBlock() {
  uint32_t inUsed = 0;
  for (;;) {
    if (blocksLeft_ == 0) {
      FDIERROR e = enterNextVolume();
      if (e != FDIERROR_NONE) return e;
      continue;
    }
    uint16_t uncompressed = 0;
    FDIERROR e = readPart(inUsed, uncompressed);
    if (e != FDIERROR_NONE) return e;
    if (uncompressed == 0) {
      // First part of a split block: the rest follows in the next cabinet.
      if (blocksLeft_ != 0 || !continuesInNextVolume()) return FDIERROR_CORRUPT_CABINET;
      continue;
    }
    e = decoder_->decodeBlock(in_.data(), inUsed, out_.data(), uncompressed);
    if (e != FDIERROR_NONE) return e;
    outPos_ = 0;
    outLength_ = uncompressed;
    return FDIERROR_NONE;
  }
}

FDIERROR FolderReader::pass(uint32_t count, const Sink& sink) {
  if (!open_) return FDIERROR_CORRUPT_CABINET;
  while (count > 0) {
    if (outPos_ == outLength_) {
      FDIERROR e = nextBlock();
      if (e != FDIERROR_NONE) {
        close();
        return e;
      }
    }
    uint32_t take = outLength_ - outPos_;
    if (take > count) take = count;
    if (sink.write) {
      unsigned int written = sink.write(sink.handle, out_.data() + outPos_, take);
      if (written != take) {
        close();
        return FDIERROR_TARGET_FILE;
      }
    }
    outPos_ += take;
    position_ += take;
    count -= take;
  }
  return FDIERROR_NONE;
}

}  // namespace fdi
