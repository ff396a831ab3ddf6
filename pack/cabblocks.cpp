#include "cabblocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder.h"
#include "lzx_encoder.h"

// Our decompressor's LZX decoder over one folder, with the C heap behind it.
class LzxSelfCheck {
 public:
  explicit LzxSelfCheck(int windowBits) : windowBits_(windowBits), memory_(Heap()) {}
  ~LzxSelfCheck() { memory_.destroy(decoder_); }
  void StartFolder() {
    memory_.destroy(decoder_);
    decoder_ = fdi::makeLzxDecoder(memory_, unsigned(windowBits_));
  }
  bool Matches(const std::vector<uint8_t>& payload, const uint8_t* data, size_t size) {
    if (!decoder_) return false;
    out_.resize(size);
    return decoder_->decodeBlock(payload.data(), uint32_t(payload.size()), out_.data(), uint32_t(size)) ==
               FDIERROR_NONE &&
           std::memcmp(out_.data(), data, size) == 0;
  }

 private:
  static void* FDIAPI Allocate(unsigned long size) { return std::malloc(size); }
  static void FDIAPI Release(void* block) { std::free(block); }
  static fdi::Callbacks Heap() {
    fdi::Callbacks c{};
    c.alloc = Allocate;
    c.free = Release;
    return c;
  }

  int windowBits_;
  fdi::Memory memory_;
  fdi::Decoder* decoder_ = nullptr;
  std::vector<uint8_t> out_;
};

CabBlockCoder::CabBlockCoder(CabCompression compression, int level, int lzxWindow)
    : compression_(compression), lzxWindow_(lzxWindow) {
  if (compression_ == CabCompression::Lzx) {
    if (lzxWindow < kCabMinLzxWindow || lzxWindow > kCabMaxLzxWindow) return;
    lzx::EncoderSettings settings;
    settings.windowBits = unsigned(lzxWindow);
    settings.level = std::clamp(level, 0, 9);
    lzx_ = std::make_unique<lzx::Encoder>(settings);
    check_ = std::make_unique<LzxSelfCheck>(lzxWindow);
    check_->StartFolder();
    ready_ = true;
    return;
  }
  if (compression_ != CabCompression::MsZip) {
    ready_ = true;
    return;
  }
  level = std::clamp(level, 0, 9);
  // Raw deflate with the 32 KiB window that MSZIP's history matches.
  ready_ = deflateInit2(&zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

CabBlockCoder::~CabBlockCoder() {
  if (compression_ == CabCompression::MsZip && ready_) deflateEnd(&zs_);
}

void CabBlockCoder::StartFolder() {
  if (lzx_) {
    lzx_->StartFolder();
    check_->StartFolder();
  }
  if (compression_ == CabCompression::MsZip && ready_) deflateReset(&zs_);
}

bool CabBlockCoder::Deflate(int flush, std::vector<uint8_t>& payload) {
  uint8_t chunk[16384];
  while (true) {
    zs_.next_out = chunk;
    zs_.avail_out = sizeof chunk;
    int rc = deflate(&zs_, flush);
    if (rc == Z_STREAM_ERROR) return false;
    payload.insert(payload.end(), chunk, chunk + (sizeof chunk - zs_.avail_out));
    if (flush == Z_FINISH ? rc == Z_STREAM_END : zs_.avail_out != 0) return true;
    if (payload.size() > kCabMaxPayload) return false;
  }
}

bool CabBlockCoder::Encode(const uint8_t* data, size_t size, bool lastInFolder,
                           std::vector<uint8_t>& payload) {
  payload.clear();
  if (lzx_) {
    lzx_->EncodeFrame(data, uint32_t(size), payload);
    return payload.size() <= kCabMaxPayload && check_->Matches(payload, data, size);
  }
  if (compression_ != CabCompression::MsZip) {
    payload.assign(data, data + size);
    return true;
  }
  if (!ready_) return false;
  payload.push_back('C');
  payload.push_back('K');
  zs_.next_in = const_cast<Bytef*>(data);
  zs_.avail_in = uInt(size);
  if (!Deflate(lastInFolder ? Z_FINISH : Z_SYNC_FLUSH, payload) || zs_.avail_in != 0) return false;
  if (!lastInFolder) {
    payload.push_back(0x03);  // BFINAL=1, fixed Huffman, end-of-block
    payload.push_back(0x00);
  } else {
    deflateReset(&zs_);
  }
  return payload.size() <= kCabMaxPayload;
}
