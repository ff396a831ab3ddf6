#include "crc32.h"

#include <atomic>

#include "byteorder.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define VELTRA_CRC_FOLDING 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// Slicing by eight: Tables[k][n] is the CRC of byte n followed by k zero
// bytes, so that eight bytes take eight independent look-ups per step. Filled
// on first use rather than at compile time: 8 KiB of zero-initialised data
// costs the stub nothing on disk, 8 KiB of constants would. Every filler
// writes the same values, and Ready is published only after a fill is whole.
uint32_t Tables[8][256];
std::atomic<bool> Ready{false};

void FillTables() {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    Tables[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (int k = 1; k < 8; ++k) Tables[k][n] = Tables[0][Tables[k - 1][n] & 0xFF] ^ (Tables[k - 1][n] >> 8);
  }
  Ready.store(true, std::memory_order_release);
}

// The CRC register (not inverted) after `size` more bytes, by the tables.
uint32_t UpdateByTables(uint32_t c, const uint8_t* data, size_t size) {
  if (!Ready.load(std::memory_order_acquire)) FillTables();
  const auto& t = Tables;
  for (; size >= 8; data += 8, size -= 8) {
    const uint32_t low = c ^ ReadLe32(data);
    const uint32_t high = ReadLe32(data + 4);
    c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
        t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; ++data, --size) c = t[0][(c ^ *data) & 0xFF] ^ (c >> 8);
  return c;
}

#ifdef VELTRA_CRC_FOLDING
// Processors with a carry-less multiply (PCLMULQDQ, from 2010 on) compute the
// CRC of 64 bytes in a few multiplications, several times faster than the
// tables: the stub CRCs every byte of a package and of every file it writes.
// The register is folded forward over the data as a 128-bit remainder, four
// lanes at a time; the constants are powers of x modulo the polynomial, in
// the reflected bit order of this CRC:
//   x^(512+32), x^(512-32) fold a lane 64 bytes on; x^(128+32), x^(128-32)
//   fold it 16 bytes on; x^64 takes 128 bits to 64; then a Barrett reduction
//   with the polynomial and floor(x^64 / P) leaves 32.
constexpr uint64_t kFold64Low = 0x154442bd4, kFold64High = 0x1c6e41596;
constexpr uint64_t kFold16Low = 0x1751997d0, kFold16High = 0x0ccaa009e;
constexpr uint64_t kFold8 = 0x163cd6124;
constexpr uint64_t kPolynomial = 0x1db710641, kBarrett = 0x1f7011641;

// -1 until asked; every asker finds the same answer.
std::atomic<int> Folding{-1};

bool HasCarrylessMultiply() {
  int known = Folding.load(std::memory_order_relaxed);
  if (known < 0) {
    unsigned a, b, c, d;
    known = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (c & bit_SSE4_1);
    Folding.store(known, std::memory_order_relaxed);
  }
  return known != 0;
}

#ifdef __i386__
// 32-bit Windows starts threads on 4-byte-aligned stacks; SSE spills need 16.
#define VELTRA_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define VELTRA_ALIGN_STACK
#endif

// The low 32 bits of x, the rest cleared (a blend needs no mask constant).
__attribute__((target("pclmul,sse4.1"))) inline __m128i Low32(__m128i x) {
  return _mm_blend_epi16(_mm_setzero_si128(), x, 0x03);
}

// One lane folded 16 bytes (or 64, by the constants) on, with `next` added.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)),
                       next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The register after `size` bytes; size is at least 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) VELTRA_ALIGN_STACK uint32_t UpdateByFolding(uint32_t c, const uint8_t* data,
                                                                                      size_t size) {
  __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(c)));
  __m128i x1 = Load(data + 16), x2 = Load(data + 32), x3 = Load(data + 48);
  data += 64;
  size -= 64;
  const __m128i k64 = _mm_set_epi64x(kFold64High, kFold64Low);
  for (; size >= 64; data += 64, size -= 64) {
    x0 = Fold(x0, k64, Load(data));
    x1 = Fold(x1, k64, Load(data + 16));
    x2 = Fold(x2, k64, Load(data + 32));
    x3 = Fold(x3, k64, Load(data + 48));
  }
  const __m128i k16 = _mm_set_epi64x(kFold16High, kFold16Low);
  __m128i x = Fold(Fold(Fold(x0, k16, x1), k16, x2), k16, x3);
  for (; size >= 16; data += 16, size -= 16) x = Fold(x, k16, Load(data));

  // 128 bits to 64: the low half times x^64 onto the high half.
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, k16, 0x10), _mm_srli_si128(x, 8));
  // 64 bits to 32, then the Barrett reduction.
  x = _mm_xor_si128(_mm_clmulepi64_si128(Low32(x), _mm_set_epi64x(0, kFold8), 0x00),
                    _mm_srli_si128(x, 4));
  const __m128i barrett = _mm_set_epi64x(kBarrett, kPolynomial);
  __m128i t = _mm_clmulepi64_si128(Low32(x), barrett, 0x10);
  t = _mm_clmulepi64_si128(Low32(t), barrett, 0x00);
  return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}
#endif

}  // namespace

uint32_t Crc32UpdatePortable(uint32_t crc, const uint8_t* data, size_t size) {
  return UpdateByTables(crc ^ 0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu;
}

uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  uint32_t c = crc ^ 0xFFFFFFFFu;
#ifdef VELTRA_CRC_FOLDING
  if (size >= 64 && HasCarrylessMultiply()) {
    const size_t folded = size & ~size_t(15);
    c = UpdateByFolding(c, data, folded);
    data += folded;
    size -= folded;
  }
#endif
  return UpdateByTables(c, data, size) ^ 0xFFFFFFFFu;
}
