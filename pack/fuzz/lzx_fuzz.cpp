// libFuzzer target for the LZX encoder: the first bytes choose the window,
// the level and the call translation, the rest is encoded frame by frame
// and decoded again by our own decompressor, which must give it back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "decoder.h"
#include "lzx_encoder.h"

namespace {

void* FDIAPI Allocate(unsigned long size) { return std::malloc(size); }
void FDIAPI Release(void* block) { std::free(block); }

fdi::Callbacks Heap() {
  fdi::Callbacks c{};
  c.alloc = Allocate;
  c.free = Release;
  return c;
}

// Encoders are kept per setting: setting one up for a large window costs
// more than encoding a small input.
lzx::Encoder& EncoderFor(const lzx::EncoderSettings& s) {
  static std::map<unsigned, std::unique_ptr<lzx::Encoder>> encoders;
  std::unique_ptr<lzx::Encoder>& e = encoders[s.windowBits * 100 + unsigned(s.level) * 2 + s.translateCalls];
  if (!e) e = std::make_unique<lzx::Encoder>(s);
  e->StartFolder();
  return *e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const int kLevels[] = {1, 6, 9};
  lzx::EncoderSettings settings;
  settings.windowBits = 15 + data[0] % 7;
  settings.level = kLevels[data[1] % 3];
  settings.translateCalls = data[2] & 1;
  data += 3;
  size -= 3;
  if (size == 0) return 0;

  lzx::Encoder& encoder = EncoderFor(settings);
  fdi::Memory memory(Heap());
  fdi::Decoder* decoder = fdi::makeLzxDecoder(memory, settings.windowBits);
  if (!decoder) std::abort();
  std::vector<uint8_t> payload, out(lzx::kFrameSize);
  for (size_t at = 0; at < size; at += lzx::kFrameSize) {
    const uint32_t n = uint32_t(size - at < lzx::kFrameSize ? size - at : lzx::kFrameSize);
    encoder.EncodeFrame(data + at, n, payload);
    if (payload.size() > lzx::kFrameSize + 512 ||
        decoder->decodeBlock(payload.data(), uint32_t(payload.size()), out.data(), n) != FDIERROR_NONE ||
        std::memcmp(out.data(), data + at, n) != 0) {
      std::fprintf(stderr, "frame at %zu of %zu does not decode back\n", at, size);
      std::abort();
    }
  }
  memory.destroy(decoder);
  return 0;
}
