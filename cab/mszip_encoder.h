// MSZIP, the encoding side: every payload is "CK" and a complete raw deflate
// stream (its last block marked final) that decodes to exactly the block's
// bytes. Extractors keep the folder's previous 32 KiB as history across
// blocks, so each stream starts from a fresh compressor whose preset
// dictionary is the folder's bytes before the block. A block's payload
// therefore depends on its bytes and that history alone: blocks can be
// compressed in any order, on any thread, with the same result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

namespace cab {

class MszipEncoder {
 public:
  explicit MszipEncoder(int level);  // zlib's level, 0..9
  ~MszipEncoder();
  MszipEncoder(const MszipEncoder&) = delete;
  MszipEncoder& operator=(const MszipEncoder&) = delete;

  bool Ready() const { return ready_; }
  // Encodes `size` (1..32768) bytes into `payload`, with the `historySize`
  // bytes before them in the folder (only the last 32 KiB count); false on a
  // zlib failure or a payload beyond kMaxPayload.
  bool EncodeBlock(const uint8_t* history, size_t historySize, const uint8_t* data, size_t size,
                   std::vector<uint8_t>& payload);

 private:
  z_stream zs_{};
  bool ready_ = false;
};

}  // namespace cab
