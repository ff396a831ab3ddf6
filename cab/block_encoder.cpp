#include "block_encoder.h"

#include <algorithm>
#include <cstring>

#include "allocator.h"
#include "decoder.h"
#include "lzx_encoder.h"
#include "mszip_encoder.h"

namespace cab {

// Our LZX decoder over one folder, with the C heap behind it.
class LzxSelfCheck {
 public:
  explicit LzxSelfCheck(int windowBits) : windowBits_(windowBits), memory_(HeapAllocator()) {}
  ~LzxSelfCheck() { memory_.Destroy(decoder_); }
  void StartFolder() {
    memory_.Destroy(decoder_);
    decoder_ = MakeLzxDecoder(memory_, unsigned(windowBits_));
  }
  bool Matches(const std::vector<uint8_t>& payload, const uint8_t* data, size_t size) {
    if (!decoder_) return false;
    out_.resize(size);
    return decoder_->DecodeBlock(payload.data(), uint32_t(payload.size()), out_.data(), uint32_t(size)) ==
               Status::kOk &&
           std::memcmp(out_.data(), data, size) == 0;
  }

 private:
  int windowBits_;
  Memory memory_;
  Decoder* decoder_ = nullptr;
  std::vector<uint8_t> out_;
};

BlockEncoder::BlockEncoder(Compression compression, int level, int lzxWindow, bool gatherFrames)
    : compression_(compression) {
  if (compression_ == Compression::Lzx) {
    if (lzxWindow < kMinLzxWindow || lzxWindow > kMaxLzxWindow) return;
    lzx::EncoderSettings settings;
    settings.windowBits = unsigned(lzxWindow);
    settings.level = std::clamp(level, 0, 9);
    if (!gatherFrames) settings.maxBlockFrames = 1;
    lzx_ = std::make_unique<lzx::Encoder>(settings);
    check_ = std::make_unique<LzxSelfCheck>(lzxWindow);
    check_->StartFolder();
    ready_ = true;
    return;
  }
  if (compression_ != Compression::MsZip) {
    ready_ = true;
    return;
  }
  mszip_ = std::make_unique<MszipEncoder>(level);
  ready_ = mszip_->Ready();
}

BlockEncoder::~BlockEncoder() = default;

void BlockEncoder::StartFolder() {
  if (lzx_) {
    lzx_->StartFolder();
    check_->StartFolder();
    held_.clear();
  }
  history_.clear();
}

bool BlockEncoder::StartInFolder(const uint8_t* history, size_t size) {
  if (lzx_) return false;
  size_t keep = std::min(size, kBlockSize);
  history_.assign(history + size - keep, history + size);
  return true;
}

bool BlockEncoder::Encode(const uint8_t* data, size_t size, bool lastInFolder,
                          std::vector<uint8_t>& payload) {
  (void)lastInFolder;  // every MSZIP payload is a whole stream; LZX frames need no end mark
  payload.clear();
  if (lzx_) {
    // Without gathering every frame is a block of its own, handed out at once.
    if (!Encode(data, size, lastInFolder, single_) || single_.size() != 1) return false;
    payload.swap(single_[0]);
    return true;
  }
  if (!mszip_) {
    payload.assign(data, data + size);
    return true;
  }
  if (!mszip_->EncodeBlock(history_.data(), history_.size(), data, size, payload)) return false;
  // MSZIP looks back 32 KiB: a block shorter than that keeps the tail of
  // the history before it.
  size_t keep = std::min(history_.size(), kBlockSize - std::min(size, kBlockSize));
  history_.erase(history_.begin(), history_.end() - keep);
  history_.insert(history_.end(), data, data + size);
  return true;
}

bool BlockEncoder::Encode(const uint8_t* data, size_t size, bool lastInFolder,
                          std::vector<std::vector<uint8_t>>& payloads) {
  payloads.clear();
  if (!lzx_) {
    payloads.emplace_back();
    return Encode(data, size, lastInFolder, payloads.back());
  }
  held_.emplace_back(data, data + size);
  lzx_->EncodeFrame(data, uint32_t(size), payloads);
  if (lastInFolder) lzx_->Finish(payloads);
  if (payloads.size() > held_.size()) return false;
  for (size_t k = 0; k < payloads.size(); ++k)
    if (payloads[k].size() > kMaxPayload || !check_->Matches(payloads[k], held_[k].data(), held_[k].size()))
      return false;
  held_.erase(held_.begin(), held_.begin() + long(payloads.size()));
  return true;
}

}  // namespace cab
