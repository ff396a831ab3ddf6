// libFuzzer target for the LZX encoder: the first bytes choose the window,
// the level, the call translation, how many frames a block may span and the
// reader's chunk no whole frame may end the folder's bytes on (small ones
// meet that rule often), the rest is encoded frame by frame and decoded again
// by our own decompressor, which must give it back.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "allocator.h"
#include "decoder.h"
#include "lzx_encoder.h"

namespace {

// Encoders are kept per setting: setting one up for a large window costs
// more than encoding a small input.
cab::lzx::Encoder& EncoderFor(const cab::lzx::EncoderSettings& s) {
  static std::map<unsigned, std::unique_ptr<cab::lzx::Encoder>> encoders;
  std::unique_ptr<cab::lzx::Encoder>& e =
      encoders[(s.readerChunk < 4096) * 1000000 + s.windowBits * 10000 + s.maxBlockFrames * 100 +
               unsigned(s.level) * 2 + s.translateCalls];
  if (!e) e = std::make_unique<cab::lzx::Encoder>(s);
  e->StartFolder();
  return *e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const int kLevels[] = {1, 6, 9};
  cab::lzx::EncoderSettings settings;
  settings.windowBits = 15 + data[0] % 7;
  settings.level = kLevels[data[1] % 3];
  settings.translateCalls = data[2] & 1;
  settings.maxBlockFrames = data[2] & 2 ? 1 : 32;
  // Small chunks only with small windows: every setting keeps an encoder.
  settings.readerChunk = data[2] & 4 && settings.windowBits <= 17 ? 32 : 4096;
  data += 3;
  size -= 3;
  if (size == 0) return 0;

  cab::lzx::Encoder& encoder = EncoderFor(settings);
  cab::Memory memory(cab::HeapAllocator());
  cab::Decoder* decoder = cab::MakeLzxDecoder(memory, settings.windowBits);
  if (!decoder) std::abort();
  std::vector<std::vector<uint8_t>> payloads;
  std::vector<uint8_t> out(cab::lzx::kFrameSize);
  size_t decoded = 0;  // payloads come out behind the frames given while blocks span frames
  size_t folderBytes = 0;
  for (size_t at = 0; at < size; at += cab::lzx::kFrameSize) {
    const uint32_t n = uint32_t(size - at < cab::lzx::kFrameSize ? size - at : cab::lzx::kFrameSize);
    payloads.clear();
    encoder.EncodeFrame(data + at, n, payloads);
    if (at + n == size) encoder.Finish(payloads);
    for (const std::vector<uint8_t>& payload : payloads) {
      const uint32_t m = uint32_t(std::min<size_t>(size - decoded, cab::lzx::kFrameSize));
      if (payload.size() > cab::lzx::kFrameSize + 512 ||
          decoder->DecodeBlock(payload.data(), uint32_t(payload.size()), out.data(), m) != cab::Status::kOk ||
          std::memcmp(out.data(), data + decoded, m) != 0) {
        std::fprintf(stderr, "frame at %zu of %zu does not decode back\n", decoded, size);
        std::abort();
      }
      folderBytes += payload.size();
      if (m == cab::lzx::kFrameSize && folderBytes % settings.readerChunk == 0) {
        std::fprintf(stderr, "the frame at %zu ends the folder's bytes on a reader's chunk\n", decoded);
        std::abort();
      }
      decoded += m;
    }
  }
  if (decoded != size || encoder.Held() != 0) {
    std::fprintf(stderr, "%zu of %zu bytes handed out\n", decoded, size);
    std::abort();
  }
  memory.Destroy(decoder);
  return 0;
}
