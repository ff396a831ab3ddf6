#include "mszip_encoder.h"

#include <algorithm>

#include "format.h"

namespace cab {

MszipEncoder::MszipEncoder(int level) {
  level = std::clamp(level, 0, 9);
  // Raw deflate with the 32 KiB window that MSZIP's history matches.
  ready_ = deflateInit2(&zs_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

MszipEncoder::~MszipEncoder() {
  if (ready_) deflateEnd(&zs_);
}

void MszipEncoder::StartFolder() {
  if (ready_) deflateReset(&zs_);
}

bool MszipEncoder::Deflate(int flush, std::vector<uint8_t>& payload) {
  uint8_t chunk[16384];
  while (true) {
    zs_.next_out = chunk;
    zs_.avail_out = sizeof chunk;
    int rc = deflate(&zs_, flush);
    if (rc == Z_STREAM_ERROR) return false;
    payload.insert(payload.end(), chunk, chunk + (sizeof chunk - zs_.avail_out));
    if (flush == Z_FINISH ? rc == Z_STREAM_END : zs_.avail_out != 0) return true;
    if (payload.size() > kMaxPayload) return false;
  }
}

bool MszipEncoder::EncodeBlock(const uint8_t* data, size_t size, bool lastInFolder,
                               std::vector<uint8_t>& payload) {
  payload.clear();
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
  return payload.size() <= kMaxPayload;
}

}  // namespace cab
