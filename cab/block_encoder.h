// Turns a folder's 32 KiB blocks into CFDATA payloads, by the folder's
// compression: stored as they are, MSZIP (mszip_encoder.h), whose blocks
// depend only on their bytes and the 32 KiB before them, or LZX, where each
// block is one frame of our encoder (lzx_encoder.h). With gatherFrames, LZX
// may hold several blocks back and hand their payloads out together, as its
// blocks span frames; without, every Encode hands out its block's payload.
// Every LZX payload is
// decoded again by our own decoder, which runs alongside through the folder,
// and compared with the block's bytes before it is handed out, so a fault of
// the encoder fails the build instead of shipping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "format.h"

namespace cab {

namespace lzx {
class Encoder;
}
class MszipEncoder;
class LzxSelfCheck;

class BlockEncoder {
 public:
  BlockEncoder(Compression compression, int level, int lzxWindow = kMaxLzxWindow, bool gatherFrames = false);
  ~BlockEncoder();
  BlockEncoder(const BlockEncoder&) = delete;
  BlockEncoder& operator=(const BlockEncoder&) = delete;

  bool Ready() const { return ready_; }
  // Starts a new folder: no history.
  void StartFolder();
  // Starts in the middle of a folder: `size` bytes of the folder that come
  // before the next block. Only for stored and MSZIP folders, whose blocks
  // see no further back than 32 KiB; false for LZX.
  bool StartInFolder(const uint8_t* history, size_t size);
  // Encodes `size` (1..32768) bytes; false on a compressor failure (for LZX:
  // a payload that does not decode to the bytes).
  bool Encode(const uint8_t* data, size_t size, bool lastInFolder, std::vector<uint8_t>& payload);
  // The same for an encoder that gathers frames: `payloads` receives the
  // payloads now complete, none or several, in the order their blocks were
  // given, each for one block; with lastInFolder all that are still held.
  bool Encode(const uint8_t* data, size_t size, bool lastInFolder,
              std::vector<std::vector<uint8_t>>& payloads);
  // Blocks given whose payloads are still held.
  size_t Held() const { return held_.size(); }

 private:
  Compression compression_;
  std::unique_ptr<MszipEncoder> mszip_;
  std::unique_ptr<lzx::Encoder> lzx_;
  std::unique_ptr<LzxSelfCheck> check_;
  std::vector<uint8_t> history_;            // MSZIP: the folder's last 32 KiB
  std::vector<std::vector<uint8_t>> held_;  // the bytes of blocks whose payloads are held, for the check
  std::vector<std::vector<uint8_t>> single_;
  bool ready_ = false;
};

}  // namespace cab
