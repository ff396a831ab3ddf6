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
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "cabwriter.h"

// Largest payload a block can turn into, with room to spare; extractors
// accept up to 32768 + 6144.
constexpr size_t kCabMaxPayload = 32768 + 512;

class CabBlockCoder {
 public:
  CabBlockCoder(CabCompression compression, int level);
  ~CabBlockCoder();
  CabBlockCoder(const CabBlockCoder&) = delete;
  CabBlockCoder& operator=(const CabBlockCoder&) = delete;

  bool Ready() const { return ready_; }
  // Starts a new folder: no history.
  void StartFolder();
  // Encodes `size` (1..32768) bytes; false on a zlib failure.
  bool Encode(const uint8_t* data, size_t size, bool lastInFolder, std::vector<uint8_t>& payload);

 private:
  bool Deflate(int flush, std::vector<uint8_t>& payload);

  CabCompression compression_;
  z_stream zs_{};
  bool ready_ = false;
};
