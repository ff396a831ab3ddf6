// Turns a folder's 32 KiB blocks into CFDATA payloads.
//
// MSZIP: every payload is "CK" and a deflate stream that ends with a final
// block and decodes to exactly the block's bytes, with the previous 32 KiB
// of the folder as history. One zlib stream runs through the whole folder:
// each block is cut off with a sync flush (byte-aligned, all input emitted)
// and closed with an empty fixed-Huffman final block (03 00), so the next
// block's stream continues right where the history left off, the way
// extractors that keep the 32 KiB window across blocks read it. The folder's
// last block is finished with Z_FINISH instead.
//
// LZX: each block is one frame of our encoder (lzx_encoder.h). Every
// payload is decoded again by our own decompressor, which runs alongside
// through the folder, and compared with the block's bytes before it is
// handed out, so a fault of the encoder fails the build instead of shipping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "cabwriter.h"

// Largest payload a block can turn into, with room to spare; extractors
// accept up to 32768 + 6144.
constexpr size_t kCabMaxPayload = 32768 + 512;

namespace lzx {
class Encoder;
}
class LzxSelfCheck;

class CabBlockCoder {
 public:
  CabBlockCoder(CabCompression compression, int level, int lzxWindow = 21);
  ~CabBlockCoder();
  CabBlockCoder(const CabBlockCoder&) = delete;
  CabBlockCoder& operator=(const CabBlockCoder&) = delete;

  bool Ready() const { return ready_; }
  // Starts a new folder: no history.
  void StartFolder();
  // Encodes `size` (1..32768) bytes; false on a compressor failure (for LZX:
  // a payload that does not decode to the bytes).
  bool Encode(const uint8_t* data, size_t size, bool lastInFolder, std::vector<uint8_t>& payload);

 private:
  bool Deflate(int flush, std::vector<uint8_t>& payload);

  CabCompression compression_;
  int lzxWindow_;
  z_stream zs_{};
  std::unique_ptr<lzx::Encoder> lzx_;
  std::unique_ptr<LzxSelfCheck> check_;
  bool ready_ = false;
};
