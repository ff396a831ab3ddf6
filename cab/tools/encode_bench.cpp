// Benchmark helper: feeds the files given (in that order) through one
// BlockEncoder as a single folder of 32 KiB blocks, the way the cabinet
// writer does, and prints the compressed size, the CPU time and the peak
// memory. Every LZX block is decoded again by the encoder's own check, as in
// a build. LZX blocks may span frames, as in a single cabinet.
//   encode_bench stored|mszip|lzx LEVEL WINDOW FILE...
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "block_encoder.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: encode_bench stored|mszip|lzx LEVEL WINDOW FILE...\n");
    return 2;
  }
  const std::string method = argv[1];
  const cab::Compression compression = method == "lzx"     ? cab::Compression::Lzx
                                       : method == "mszip" ? cab::Compression::MsZip
                                                           : cab::Compression::Stored;
  cab::BlockEncoder coder(compression, std::atoi(argv[2]), std::atoi(argv[3]), true);
  if (!coder.Ready()) return 2;
  std::vector<uint8_t> block, payload;
  std::vector<std::vector<uint8_t>> payloads;
  uint64_t in = 0, out = 0, blocks = 0;
  const double start = CpuSeconds();
  auto flush = [&](bool last) {
    if (!coder.Encode(block.data(), block.size(), last, payloads)) {
      std::fprintf(stderr, "encoder failure after %llu bytes\n", (unsigned long long)in);
      std::exit(1);
    }
    for (const auto& p : payloads) out += p.size() + 8;  // with the data block's header
    blocks += payloads.size();
    block.clear();
  };
  for (int i = 4; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    for (size_t at = 0; at < data.size();) {
      const size_t n = std::min(data.size() - at, 32768 - block.size());
      block.insert(block.end(), data.begin() + long(at), data.begin() + long(at + n));
      at += n;
      in += n;
      if (block.size() == 32768) flush(false);
    }
  }
  if (!block.empty()) flush(true);
  const double cpu = CpuSeconds() - start;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf(
      "%s level %s window %s: %llu -> %llu bytes (%.2f %%), %llu blocks, CPU %.2f s, peak RSS %.1f MiB\n",
      method.c_str(), argv[2], argv[3], (unsigned long long)in, (unsigned long long)out,
      in ? 100.0 * double(out) / double(in) : 0.0, (unsigned long long)blocks, cpu,
      double(u.ru_maxrss) / 1024);
  return 0;
}
