// The x86 call translation of LZX: the 32-bit displacement after each 0xE8
// byte becomes an absolute position, so calls to one function from many
// places repeat the same bytes. Decoders undo it on each frame's output, in
// the first 32768 frames of a folder, over all but the frame's last 10 bytes,
// skipping the four bytes after every 0xE8 whether changed or not; this does
// the same the other way round.
#pragma once
#include <cstdint>

namespace cab::lzx {

// The translation size sent in the folder's header: displacements that land
// in [-position, size) are translated. Decoders translate only within the
// first 32768 frames (1 GiB), so this size keeps every forward call there
// translatable while leaving decoders' sums far from overflow.
constexpr int32_t kE8TranslationSize = 1 << 30;

// Translates `data`, a frame of `size` bytes that begins `position` bytes
// into the folder and is frame number `frame` of it.
void TranslateCalls(uint8_t* data, uint32_t size, uint32_t position, uint32_t frame, int32_t translationSize);

}  // namespace cab::lzx
