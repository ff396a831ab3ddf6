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
#include "lzx_encoder.h"

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

// The first LZX block of a folder as its first payload begins: after the
// call translation header, three bits of type and 24 of size, read from
// the top of 16-bit little-endian words.
struct FirstBlock {
  unsigned type = 0;
  uint32_t size = 0;
};

FirstBlock ReadFirstBlock(const std::vector<uint8_t>& payload) {
  size_t bit = 0;
  auto read = [&](unsigned count) {
    uint32_t v = 0;
    for (unsigned k = 0; k < count; ++k, ++bit) {
      const size_t word = bit / 16 * 2;
      const uint32_t w = word + 1 < payload.size() ? payload[word] | (payload[word + 1] << 8) : 0;
      v = (v << 1) | ((w >> (15 - bit % 16)) & 1);
    }
    return v;
  };
  if (read(1)) read(32);
  FirstBlock b;
  b.type = read(3);
  b.size = read(24);
  return b;
}

// Copies of earlier 64-byte records at distances that are multiples of 8:
// the offsets' low three bits are always alike, which an aligned block codes
// in one bit.
std::vector<uint8_t> EightByteRecords(size_t size) {
  std::mt19937 random(11);
  std::vector<uint8_t> data(4096);
  for (uint8_t& b : data) b = uint8_t(random());
  while (data.size() < size) {
    const size_t from = data.size() - 8 * (64 + random() % 20000 % (data.size() / 8 - 64));
    for (int i = 0; i < 64; ++i) data.push_back(data[from + i]);
    data.push_back(uint8_t(random()));
  }
  data.resize(size);
  return data;
}

// Phrases repeated at three distances in turn, so every repeated-offset slot
// is the one that matches.
std::vector<uint8_t> ThreeDistances(size_t size) {
  std::mt19937 random(12);
  std::vector<uint8_t> data(4000);
  for (uint8_t& b : data) b = uint8_t(random());
  const size_t distances[] = {1000, 2100, 3300};
  while (data.size() < size) {
    const size_t d = distances[random() % 3];
    for (int i = 0; i < 24; ++i) data.push_back(data[data.size() - d]);
    data.push_back(uint8_t(random()));
  }
  data.resize(size);
  return data;
}

struct ShapeCase {
  const char* name;
  std::vector<uint8_t> data;
  unsigned firstType;     // 0: any compressed type
  bool firstSpansFrames;  // the first block covers more than one frame
};

// A folder fed to an LZX encoder that gathers frames comes back whole
// through our decoder, at every window and every kind of level, in the
// block shapes each input calls for; the payloads come out in order, one
// per frame, the last with the folder's end.
TEST(CodecRoundTrip, LzxBlockShapesDecodeAtEveryWindowAndLevel) {
  const std::vector<ShapeCase> cases = {
      {"text gathered into one block over frames", Input("text", cab::kBlockSize * 4 + 100), 0, true},
      {"noise stored", Input("random", cab::kBlockSize * 2), 3, false},
      {"offsets alike in their low bits", EightByteRecords(cab::kBlockSize * 3), 2, false},
      {"three repeated offsets", ThreeDistances(cab::kBlockSize * 3), 0, false},
      {"calls translated", Input("calls", cab::kBlockSize * 3 + 7), 0, false},
      {"zeros: the longest match over frames", Input("zeros", cab::kBlockSize * 3), 0, true},
  };
  cab::Memory memory(cab::HeapAllocator());
  for (int window = cab::kMinLzxWindow; window <= cab::kMaxLzxWindow; ++window) {
    for (int level : {0, 3, 6, 9}) {
      cab::BlockEncoder encoder(cab::Compression::Lzx, level, window, true);
      ASSERT_TRUE(encoder.Ready());
      for (const ShapeCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window) + ", level " +
                     std::to_string(level));
        // One encoder for all inputs: each starts a folder of its own.
        encoder.StartFolder();
        cab::Decoder* decoder = nullptr;
        ASSERT_EQ(cab::MakeDecoder(memory, cab::CompressionType(cab::kCompressLzx, window), decoder),
                  cab::Status::kOk);
        std::vector<std::vector<uint8_t>> payloads;
        std::vector<uint8_t> out(cab::kBlockSize);
        size_t decoded = 0;
        for (size_t at = 0; at < c.data.size(); at += cab::kBlockSize) {
          const size_t n = std::min(cab::kBlockSize, c.data.size() - at);
          const bool last = at + n == c.data.size();
          ASSERT_TRUE(encoder.Encode(c.data.data() + at, n, last, payloads));
          if (at == 0 && !payloads.empty())
            ASSERT_FALSE(c.firstSpansFrames) << "handed out before the block ended";
          for (const std::vector<uint8_t>& payload : payloads) {
            if (decoded == 0) {
              const FirstBlock first = ReadFirstBlock(payload);
              if (c.firstType) EXPECT_EQ(first.type, c.firstType);
              if (!c.firstType) EXPECT_TRUE(first.type == 1 || first.type == 2) << first.type;
              if (c.firstSpansFrames) EXPECT_GT(first.size, cab::kBlockSize);
            }
            const uint32_t m = uint32_t(std::min(cab::kBlockSize, c.data.size() - decoded));
            ASSERT_LE(payload.size(), cab::kMaxPayload);
            ASSERT_EQ(decoder->DecodeBlock(payload.data(), uint32_t(payload.size()), out.data(), m),
                      cab::Status::kOk)
                << "at " << decoded;
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + m, c.data.begin() + long(decoded)))
                << "at " << decoded;
            decoded += m;
          }
        }
        EXPECT_EQ(decoded, c.data.size());
        EXPECT_EQ(encoder.Held(), 0u);
        memory.Destroy(decoder);
      }
    }
  }
}

// No whole frame may bring a folder's bytes to a multiple of the reader's
// chunk, whether it goes in a block over frames, a block of its own or
// uncompressed. Chunks far below 4 KiB meet the rule every few frames, so
// each way out is taken; the folder still decodes byte for byte.
TEST(CodecRoundTrip, LzxWholeFramesNeverEndOnAReadersChunk) {
  std::vector<uint8_t> mixed = Input("text", cab::kBlockSize * 6);
  const std::vector<uint8_t> noise = Input("random", cab::kBlockSize * 4);
  const std::vector<uint8_t> calls = Input("calls", cab::kBlockSize * 4);
  for (size_t k = 0; k < 4; ++k) {
    mixed.insert(mixed.end(), noise.begin() + long(k * cab::kBlockSize),
                 noise.begin() + long((k + 1) * cab::kBlockSize));
    mixed.insert(mixed.end(), calls.begin() + long(k * cab::kBlockSize),
                 calls.begin() + long((k + 1) * cab::kBlockSize));
  }
  mixed.resize(mixed.size() + 1234, 'x');
  const std::vector<uint8_t> records = EightByteRecords(cab::kBlockSize * 12 + 99);
  struct Case {
    const char* name;
    const std::vector<uint8_t>* data;
  };
  // Uncompressed frames all have one length: compressed ones between them
  // shift where they end.
  std::vector<uint8_t> stored;
  const std::vector<uint8_t> moreNoise = Input("random", cab::kBlockSize * 16);
  for (size_t k = 0; k < 8; ++k) {
    stored.insert(stored.end(), records.begin() + long(k * cab::kBlockSize),
                  records.begin() + long((k + 1) * cab::kBlockSize));
    stored.insert(stored.end(), moreNoise.begin() + long(2 * k * cab::kBlockSize),
                  moreNoise.begin() + long((2 * k + 2) * cab::kBlockSize));
  }
  const Case cases[] = {{"text, noise and calls", &mixed},
                        {"records with aligned offsets", &records},
                        {"noise: uncompressed frames, some as two blocks", &stored}};
  cab::Memory memory(cab::HeapAllocator());
  for (const Case& c : cases) {
    for (uint32_t chunk : {32u, 48u, 64u, 96u, 256u}) {
      for (unsigned blockFrames : {1u, 32u}) {
        for (int level : {3, 9}) {
          SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk) + ", frames per block " +
                       std::to_string(blockFrames) + ", level " + std::to_string(level));
          cab::lzx::EncoderSettings settings;
          settings.windowBits = 16;
          settings.level = level;
          settings.maxBlockFrames = blockFrames;
          settings.readerChunk = chunk;
          cab::lzx::Encoder encoder(settings);
          cab::Decoder* decoder = nullptr;
          ASSERT_EQ(cab::MakeDecoder(memory, cab::CompressionType(cab::kCompressLzx, 16), decoder),
                    cab::Status::kOk);
          std::vector<std::vector<uint8_t>> payloads;
          std::vector<uint8_t> out(cab::kBlockSize);
          size_t decoded = 0, folderBytes = 0;
          const std::vector<uint8_t>& data = *c.data;
          for (size_t at = 0; at < data.size(); at += cab::kBlockSize) {
            const size_t n = std::min(cab::kBlockSize, data.size() - at);
            encoder.EncodeFrame(data.data() + at, uint32_t(n), payloads);
            if (at + n == data.size()) encoder.Finish(payloads);
          }
          for (const std::vector<uint8_t>& payload : payloads) {
            const uint32_t m = uint32_t(std::min(cab::kBlockSize, data.size() - decoded));
            folderBytes += payload.size();
            if (m == cab::kBlockSize) EXPECT_NE(folderBytes % chunk, 0u) << "frame at " << decoded;
            ASSERT_EQ(decoder->DecodeBlock(payload.data(), uint32_t(payload.size()), out.data(), m),
                      cab::Status::kOk)
                << "at " << decoded;
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + m, data.begin() + long(decoded)))
                << "at " << decoded;
            decoded += m;
          }
          EXPECT_EQ(decoded, data.size());
          memory.Destroy(decoder);
        }
      }
    }
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
