#include "mszip_encoder.h"

#include <algorithm>

#include "format.h"

namespace cab {

namespace {
constexpr size_t kWindow = 32768;
}

MszipEncoder::MszipEncoder(int level) {
  level = std::clamp(level, 0, 9);
  // Raw deflate with the 32 KiB window that MSZIP's history matches.
  ready_ = deflateInit2(&zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

MszipEncoder::~MszipEncoder() {
  if (ready_) deflateEnd(&zs_);
}

bool MszipEncoder::EncodeBlock(const uint8_t* history, size_t historySize, const uint8_t* data, size_t size,
                               std::vector<uint8_t>& payload) {
  payload.clear();
  if (!ready_ || deflateReset(&zs_) != Z_OK) return false;
  if (historySize > kWindow) {
    history += historySize - kWindow;
    historySize = kWindow;
  }
  if (historySize && deflateSetDictionary(&zs_, history, uInt(historySize)) != Z_OK) return false;
  // One call into a buffer of zlib's bound for this input: no chunking, no
  // second pass.
  payload.resize(2 + deflateBound(&zs_, uLong(size)));
  payload[0] = 'C';
  payload[1] = 'K';
  zs_.next_in = const_cast<Bytef*>(data);
  zs_.avail_in = uInt(size);
  zs_.next_out = payload.data() + 2;
  zs_.avail_out = uInt(payload.size() - 2);
  if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) return false;
  payload.resize(payload.size() - zs_.avail_out);
  return payload.size() <= kMaxPayload;
}

}  // namespace cab
