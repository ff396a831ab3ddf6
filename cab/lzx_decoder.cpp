// LZX, as used in cabinets: window 2^15 to 2^21 bytes, one data block per
// 32 KiB output frame.
//
// Quirks handled here:
//  - Every data block starts its bit stream afresh (16-bit little-endian
//    words, read from the top bit); the LZX blocks (verbatim, aligned,
//    uncompressed) and the history window run on across data blocks.
//  - The E8 call translation header (one bit, then a 32-bit file size) comes
//    once, at the start of the folder. Translation is undone on the output
//    copy of each frame, never in the window, for the first 32768 frames.
//  - A match may run past the end of a frame; the overshoot is the start of
//    the next frame's output.
//  - Tree lengths are sent as differences from the previous block's lengths;
//    runs may spill past a range's end as other decoders allow.
//  - An uncompressed block is aligned to a 16-bit word (a whole padding word
//    when already aligned) and padded to an even length.
//  - Position slot 3 with no extra bits means offset 1, as other decoders
//    have it.
//  - Offsets that reach before the first byte of the folder, matches that run
//    over the window's end, and blocks that outrun their length are errors.
#include <cstring>

#include "byteorder.h"
#include "decoder.h"
#include "huffman_decoder.h"
#include "lzx_format.h"

namespace cab {

namespace {

using namespace lzx;
constexpr unsigned kLengthSafety = 64;  // room for runs that spill past a range

class LzxDecoder final : public Decoder {
 public:
  LzxDecoder(Memory& mem, uint8_t* window, unsigned windowBits)
      : mem_(mem),
        window_(window),
        windowSize_(1u << windowBits),
        mainElements_(kNumChars + SlotsForWindow(windowBits) * 8) {
    std::memset(mainLengths_, 0, sizeof mainLengths_);
    std::memset(lengthLengths_, 0, sizeof lengthLengths_);
  }
  ~LzxDecoder() override { mem_.Put(window_); }

  Status DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) override;

 private:
  bool ReadHeader();
  bool ReadBlockHeader();
  bool ReadLengths(uint8_t* lengths, unsigned first, unsigned last);
  bool ReadMainAndLengthTrees();
  bool DecodeMatches(uint32_t target);
  bool CopyUncompressed(uint32_t target);
  bool CopyMatch(uint32_t offset, uint32_t length);
  void UndoCallTranslation(uint8_t* out, uint32_t length);

  Memory& mem_;
  uint8_t* window_;
  uint32_t windowSize_;
  unsigned mainElements_;
  LzxBits bits_;
  HuffmanDecoder main_, length_, aligned_, pretree_;
  uint8_t mainLengths_[kMainMax + kLengthSafety];
  uint8_t lengthLengths_[kLengthSymbols + kLengthSafety];
  uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
  uint32_t windowPos_ = 0;  // where decoding writes next
  uint32_t framePos_ = 0;   // where the current frame's output starts
  uint64_t decoded_ = 0;    // bytes decoded since the folder began
  int blockType_ = kBlockNone;
  uint32_t blockRemaining_ = 0;
  uint32_t blockLength_ = 0;
  bool padPending_ = false;  // an odd uncompressed block's pad byte not yet skipped
  bool headerRead_ = false;
  int32_t intelFileSize_ = 0;
  uint32_t intelCurPos_ = 0;
  uint32_t frameCount_ = 0;
};

bool LzxDecoder::ReadHeader() {
  if (bits_.Read(1)) {
    uint32_t high = bits_.Read(16);
    uint32_t low = bits_.Read(16);
    intelFileSize_ = int32_t((high << 16) | low);
  }
  headerRead_ = true;
  return !bits_.Exhausted();
}

// Pretree first, then the lengths first..last as differences mod 17.
bool LzxDecoder::ReadLengths(uint8_t* lengths, unsigned first, unsigned last) {
  uint8_t pre[kPretreeSymbols];
  for (unsigned i = 0; i < kPretreeSymbols; ++i) pre[i] = uint8_t(bits_.Read(4));
  if (!pretree_.Build(pre, kPretreeSymbols)) return false;
  unsigned limit = last + kLengthSafety;
  for (unsigned x = first; x < last;) {
    int z = pretree_.Decode(bits_);
    if (z < 0 || bits_.Exhausted()) return false;
    if (z == 17 || z == 18) {
      unsigned run = z == 17 ? bits_.Read(4) + 4 : bits_.Read(5) + 20;
      if (x + run > limit) return false;
      while (run--) lengths[x++] = 0;
    } else if (z == 19) {
      unsigned run = bits_.Read(1) + 4;
      int d = pretree_.Decode(bits_);
      if (d < 0 || d > 16 || x + run > limit) return false;
      uint8_t value = uint8_t((lengths[x] + 17 - d) % 17);
      while (run--) lengths[x++] = value;
    } else {
      lengths[x] = uint8_t((lengths[x] + 17 - z) % 17);
      ++x;
    }
  }
  return !bits_.Exhausted();
}

bool LzxDecoder::ReadMainAndLengthTrees() {
  if (!ReadLengths(mainLengths_, 0, kNumChars)) return false;
  if (!ReadLengths(mainLengths_, kNumChars, mainElements_)) return false;
  if (!main_.Build(mainLengths_, mainElements_) || main_.Empty()) return false;
  if (!ReadLengths(lengthLengths_, 0, kLengthSymbols)) return false;
  return length_.Build(lengthLengths_, kLengthSymbols);
}

bool LzxDecoder::ReadBlockHeader() {
  blockType_ = int(bits_.Read(3));
  uint32_t high = bits_.Read(16);
  blockLength_ = blockRemaining_ = (high << 8) | bits_.Read(8);
  switch (blockType_) {
    case kAligned: {
      uint8_t lengths[kAlignedSymbols];
      for (unsigned i = 0; i < kAlignedSymbols; ++i) lengths[i] = uint8_t(bits_.Read(3));
      if (!aligned_.Build(lengths, kAlignedSymbols)) return false;
      return ReadMainAndLengthTrees();
    }
    case kVerbatim: return ReadMainAndLengthTrees();
    case kUncompressed: {
      bits_.AlignToBytes();
      if (bits_.BytesLeft() < 12) return false;
      const uint8_t* p = bits_.BytePosition();
      uint32_t r[3];
      for (int i = 0; i < 3; ++i) r[i] = ReadLe32(p + 4 * i);
      r0_ = r[0];
      r1_ = r[1];
      r2_ = r[2];
      bits_.AdvanceBytes(12);
      return true;
    }
    default: return false;
  }
}

bool LzxDecoder::CopyMatch(uint32_t offset, uint32_t length) {
  uint64_t reach = decoded_ < windowSize_ ? decoded_ : windowSize_;
  if (offset == 0 || offset > reach) return false;
  if (windowPos_ + length > windowSize_) return false;
  uint32_t from = (windowPos_ + windowSize_ - offset) & (windowSize_ - 1);
  for (uint32_t i = 0; i < length; ++i) {
    window_[windowPos_++] = window_[from];
    from = (from + 1) & (windowSize_ - 1);
  }
  decoded_ += length;
  return true;
}

// Decodes verbatim or aligned symbols until windowPos_ reaches target or
// passes it with the last match.
bool LzxDecoder::DecodeMatches(uint32_t target) {
  while (windowPos_ < target) {
    int symbol = main_.Decode(bits_);
    if (symbol < 0 || bits_.Exhausted()) return false;
    if (symbol < int(kNumChars)) {
      window_[windowPos_++] = uint8_t(symbol);
      ++decoded_;
      continue;
    }
    symbol -= kNumChars;
    uint32_t length = symbol & 7;
    if (length == 7) {
      int footer = length_.Decode(bits_);
      if (footer < 0) return false;
      length += uint32_t(footer);
    }
    length += 2;
    uint32_t slot = uint32_t(symbol) >> 3;
    uint32_t offset;
    if (slot == 0) {
      offset = r0_;
    } else if (slot == 1) {
      offset = r1_;
      r1_ = r0_;
      r0_ = offset;
    } else if (slot == 2) {
      offset = r2_;
      r2_ = r0_;
      r0_ = offset;
    } else {
      unsigned extra = kSlots.extra[slot];
      offset = kSlots.base[slot] - 2;
      if (blockType_ == kAligned && extra >= 3) {
        offset += bits_.Read(int(extra - 3)) << 3;
        int low = aligned_.Decode(bits_);
        if (low < 0) return false;
        offset += uint32_t(low);
      } else if (extra > 0) {
        offset += bits_.Read(int(extra));
      } else {
        offset = 1;
      }
      r2_ = r1_;
      r1_ = r0_;
      r0_ = offset;
    }
    if (!CopyMatch(offset, length)) return false;
  }
  return !bits_.Exhausted();
}

bool LzxDecoder::CopyUncompressed(uint32_t target) {
  uint32_t count = target - windowPos_;
  if (bits_.BytesLeft() < count) return false;
  std::memcpy(window_ + windowPos_, bits_.BytePosition(), count);
  bits_.AdvanceBytes(count);
  windowPos_ += count;
  decoded_ += count;
  return true;
}

void LzxDecoder::UndoCallTranslation(uint8_t* out, uint32_t length) {
  if (intelFileSize_ == 0) return;
  if (frameCount_ < 32768 && length > 10) {
    int64_t fileSize = intelFileSize_;
    for (uint32_t i = 0; i < length - 10;) {
      if (out[i] != 0xE8) {
        ++i;
        continue;
      }
      int64_t cur = int64_t(intelCurPos_) + i;
      int32_t abs = int32_t(ReadLe32(out + i + 1));
      if (abs >= -cur && abs < fileSize) {
        uint32_t rel = uint32_t(abs >= 0 ? abs - cur : abs + fileSize);
        WriteLe32(out + i + 1, rel);
      }
      i += 5;
    }
  }
  intelCurPos_ += length;
}

Status LzxDecoder::DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) {
  if (outLength == 0 || outLength > kFrameSize) return Status::kDecodeFail;
  uint32_t frameEnd = framePos_ + outLength;
  if (frameEnd > windowSize_) return Status::kDecodeFail;
  bits_.Start(in, inLength);
  if (padPending_ && blockRemaining_ == 0) {
    if (bits_.BytesLeft() > 0) bits_.AdvanceBytes(1);
    padPending_ = false;
  }
  if (!headerRead_ && !ReadHeader()) return Status::kDecodeFail;
  while (windowPos_ < frameEnd) {
    if (blockRemaining_ == 0 && !ReadBlockHeader()) return Status::kDecodeFail;
    uint32_t target =
        windowPos_ + (frameEnd - windowPos_ < blockRemaining_ ? frameEnd - windowPos_ : blockRemaining_);
    uint32_t before = windowPos_;
    bool ok = blockType_ == kUncompressed ? CopyUncompressed(target) : DecodeMatches(target);
    if (!ok || windowPos_ - before > blockRemaining_) return Status::kDecodeFail;
    blockRemaining_ -= windowPos_ - before;
    if (blockRemaining_ == 0 && blockType_ == kUncompressed && (blockLength_ & 1)) {
      // The pad byte may already belong to the next data block.
      if (bits_.BytesLeft() > 0)
        bits_.AdvanceBytes(1);
      else
        padPending_ = true;
    }
    if (blockRemaining_ == 0 && blockType_ == kUncompressed)
      bits_.Start(bits_.BytePosition(), bits_.BytesLeft());  // bits resume after the bytes
  }
  std::memcpy(out, window_ + framePos_, outLength);
  UndoCallTranslation(out, outLength);
  ++frameCount_;
  framePos_ = frameEnd;
  if (framePos_ == windowSize_) {
    framePos_ = 0;
    windowPos_ -= windowSize_;
  }
  return Status::kOk;
}

}  // namespace

Decoder* MakeLzxDecoder(Memory& mem, unsigned windowBits) {
  uint8_t* window = static_cast<uint8_t*>(mem.Get(size_t(1) << windowBits));
  if (!window) return nullptr;
  Decoder* d = mem.Make<LzxDecoder>(mem, window, windowBits);
  if (!d) mem.Put(window);
  return d;
}

}  // namespace cab
