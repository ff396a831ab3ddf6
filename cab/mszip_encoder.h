// MSZIP, the encoding side: every payload is "CK" and a deflate stream that
// ends with a final block and decodes to exactly the block's bytes, with the
// previous 32 KiB of the folder as history. One zlib stream runs through the
// whole folder: each block is cut off with a sync flush (byte-aligned, all
// input emitted) and closed with an empty fixed-Huffman final block (03 00),
// so the next block's stream continues right where the history left off, the
// way extractors that keep the 32 KiB window across blocks read it. The
// folder's last block is finished with Z_FINISH instead.
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
  // Starts a new folder: no history.
  void StartFolder();
  // Encodes `size` (1..32768) bytes into `payload`; false on a zlib failure
  // or a payload beyond kMaxPayload.
  bool EncodeBlock(const uint8_t* data, size_t size, bool lastInFolder, std::vector<uint8_t>& payload);

 private:
  bool Deflate(int flush, std::vector<uint8_t>& payload);

  z_stream zs_{};
  bool ready_ = false;
};

}  // namespace cab
