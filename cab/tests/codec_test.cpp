// Each method's encoder against its decoder, without cabinets or files: a
// folder of blocks goes through BlockEncoder and comes back through the
// decoder that MakeDecoder picks for the folder's compression type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "allocator.h"
#include "block_encoder.h"
#include "decoder.h"
#include "format.h"

namespace {

struct Method {
  const char* name;
  cab::Compression compression;
  int level;
  int window;
};

const Method kMethods[] = {
    {"stored", cab::Compression::Stored, 0, 0}, {"mszip-1", cab::Compression::MsZip, 1, 0},
    {"mszip-9", cab::Compression::MsZip, 9, 0}, {"lzx-15", cab::Compression::Lzx, 6, 15},
    {"lzx-21", cab::Compression::Lzx, 9, 21},
};

std::vector<uint8_t> Input(const std::string& kind, size_t size) {
  std::vector<uint8_t> data(size);
  std::mt19937 random(7);
  for (size_t i = 0; i < size; ++i) {
    if (kind == "random") data[i] = uint8_t(random());
    if (kind == "text") data[i] = uint8_t("the quick brown fox jumps over the lazy dog "[i % 44]);
    if (kind == "calls") data[i] = i % 5 == 0 ? 0xE8 : uint8_t(i / 5);
  }
  return data;
}

uint16_t TypeOf(const Method& m) {
  return m.compression == cab::Compression::Lzx ? cab::CompressionType(cab::kCompressLzx, m.window)
                                                : uint16_t(m.compression);
}

TEST(CodecRoundTrip, EveryMethodDecodesWhatItsEncoderWrote) {
  cab::Memory memory(cab::HeapAllocator());
  for (const Method& m : kMethods) {
    for (const char* kind : {"zeros", "text", "random", "calls"}) {
      // Two and a half blocks, so that history crosses blocks and the last is short.
      const std::vector<uint8_t> data = Input(kind, cab::kBlockSize * 5 / 2);
      cab::BlockEncoder encoder(m.compression, m.level, m.window ? m.window : cab::kMaxLzxWindow);
      ASSERT_TRUE(encoder.Ready()) << m.name;
      encoder.StartFolder();
      cab::Decoder* decoder = nullptr;
      ASSERT_EQ(cab::MakeDecoder(memory, TypeOf(m), decoder), cab::Status::kOk) << m.name;
      std::vector<uint8_t> payload, out(cab::kBlockSize);
      for (size_t at = 0; at < data.size(); at += cab::kBlockSize) {
        const size_t n = std::min(cab::kBlockSize, data.size() - at);
        const bool last = at + n == data.size();
        ASSERT_TRUE(encoder.Encode(data.data() + at, n, last, payload)) << m.name << " " << kind;
        ASSERT_LE(payload.size(), cab::kMaxPayload);
        ASSERT_EQ(decoder->DecodeBlock(payload.data(), uint32_t(payload.size()), out.data(), uint32_t(n)),
                  cab::Status::kOk)
            << m.name << " " << kind << " at " << at;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + n, data.begin() + at)) << m.name << " " << kind;
      }
      memory.Destroy(decoder);
    }
  }
}

TEST(CodecRoundTrip, DamagedPayloadsAreRefused) {
  cab::Memory memory(cab::HeapAllocator());
  for (const Method& m : kMethods) {
    if (m.compression == cab::Compression::Stored) continue;
    const std::vector<uint8_t> data = Input("text", cab::kBlockSize);
    cab::BlockEncoder encoder(m.compression, m.level, m.window ? m.window : cab::kMaxLzxWindow);
    std::vector<uint8_t> payload, out(cab::kBlockSize);
    ASSERT_TRUE(encoder.Encode(data.data(), data.size(), true, payload));
    payload.resize(payload.size() / 2);  // cut short: the block cannot reach its size
    cab::Decoder* decoder = nullptr;
    ASSERT_EQ(cab::MakeDecoder(memory, TypeOf(m), decoder), cab::Status::kOk);
    EXPECT_EQ(
        decoder->DecodeBlock(payload.data(), uint32_t(payload.size()), out.data(), uint32_t(data.size())),
        cab::Status::kDecodeFail)
        << m.name;
    memory.Destroy(decoder);
  }
}

TEST(CodecRoundTrip, UnknownMethodsAndWindowsAreRefused) {
  cab::Memory memory(cab::HeapAllocator());
  const uint16_t kRefused[] = {4, 15, cab::CompressionType(cab::kCompressLzx, 14),
                               cab::CompressionType(cab::kCompressLzx, 22),
                               cab::CompressionType(cab::kCompressQuantum, 9)};
  for (uint16_t type : kRefused) {
    cab::Decoder* decoder = nullptr;
    EXPECT_EQ(cab::MakeDecoder(memory, type, decoder), cab::Status::kBadCompressionType) << type;
    EXPECT_EQ(decoder, nullptr);
  }
}

}  // namespace
