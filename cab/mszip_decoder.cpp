// MSZIP: every data block is "CK" followed by a deflate stream of its own
// that may refer back into the previous 32 KiB of output, across block
// boundaries. zlib inflates each block raw, primed with that history as a
// preset dictionary.
//
// Quirks handled here:
//  - A block's deflate stream normally ends with a final block; one that
//    fills the block's 32 KiB without it is taken as it is.
//  - Output short of or beyond the block's stated size is an error.
#include <cstring>

#include <zlib.h>

#include "decoder.h"

namespace cab {

namespace {

constexpr uint32_t kHistory = 32768;

voidpf ZlibAlloc(voidpf opaque, uInt items, uInt size) {
  if (size != 0 && items > 0x7fffffffu / size) return Z_NULL;
  return static_cast<Memory*>(opaque)->Get(size_t(items) * size);
}

void ZlibFree(voidpf opaque, voidpf block) { static_cast<Memory*>(opaque)->Put(block); }

class MszipDecoder final : public Decoder {
 public:
  explicit MszipDecoder(Memory& mem) : mem_(mem) {
    std::memset(&z_, 0, sizeof z_);
    z_.zalloc = ZlibAlloc;
    z_.zfree = ZlibFree;
    z_.opaque = &mem_;
    ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK;
  }
  ~MszipDecoder() override {
    if (ready_) inflateEnd(&z_);
  }

  Status DecodeBlock(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength) override {
    if (!ready_) return Status::kAllocFail;
    if (inLength < 2 || in[0] != 'C' || in[1] != 'K') return Status::kDecodeFail;
    if (inflateReset(&z_) != Z_OK) return Status::kDecodeFail;
    if (historyLength_ > 0) {
      int rc = inflateSetDictionary(&z_, history_, historyLength_);
      if (rc != Z_OK) return rc == Z_MEM_ERROR ? Status::kAllocFail : Status::kDecodeFail;
    }
    z_.next_in = const_cast<Bytef*>(in + 2);
    z_.avail_in = inLength - 2;
    z_.next_out = out;
    z_.avail_out = outLength;
    int rc = inflate(&z_, Z_FINISH);
    if (rc == Z_MEM_ERROR) return Status::kAllocFail;
    bool complete = rc == Z_STREAM_END || (rc == Z_BUF_ERROR && z_.avail_out == 0);
    if (!complete || z_.avail_out != 0) return Status::kDecodeFail;
    Remember(out, outLength);
    return Status::kOk;
  }

 private:
  void Remember(const uint8_t* out, uint32_t length) {
    if (length >= kHistory) {
      std::memcpy(history_, out + length - kHistory, kHistory);
      historyLength_ = kHistory;
      return;
    }
    uint32_t keep = historyLength_ + length > kHistory ? kHistory - length : historyLength_;
    std::memmove(history_, history_ + historyLength_ - keep, keep);
    std::memcpy(history_ + keep, out, length);
    historyLength_ = keep + length;
  }

  Memory& mem_;
  z_stream z_;
  bool ready_ = false;
  uint32_t historyLength_ = 0;
  uint8_t history_[kHistory];
};

}  // namespace

Decoder* MakeMszipDecoder(Memory& mem) { return mem.Make<MszipDecoder>(mem); }

}  // namespace cab
