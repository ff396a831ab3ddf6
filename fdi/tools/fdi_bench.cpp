// Benchmark helper for scripts/bench.py: extracts a cabinet with our FDI into
// a folder (folder separators in stored names become '_') and prints the time
// and throughput. An OUTDIR of "-" decodes and checks everything but writes
// nothing, which compares with cabextract -t. --inflate is the limit our
// MSZIP decoding can reach: the cabinet read into memory and its MSZIP blocks
// inflated by zlib one after another, with no FDI, checksums or files.
//   fdi_bench CABINET OUTDIR|-|--inflate
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include <zlib.h>

#include "fdi_interface.h"

namespace {

std::string g_outDir;
bool g_discard = false;
unsigned long long g_bytes = 0;
// Stands for every output file in discard mode; no real descriptor is this large.
constexpr intptr_t kDiscardHandle = 0x7fff0000;

void* FDIAPI benchAlloc(unsigned long cb) { return std::malloc(cb); }
void FDIAPI benchFree(void* pv) { std::free(pv); }
intptr_t FDIAPI benchOpen(char* name, int oflag, int) {
  int flags = (oflag & 0x0100) ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
  return open(name, flags, 0644);
}
unsigned int FDIAPI benchRead(intptr_t hf, void* pv, unsigned int cb) {
  ssize_t n = read(int(hf), pv, cb);
  return n < 0 ? 0u : unsigned(n);
}
unsigned int FDIAPI benchWrite(intptr_t hf, void* pv, unsigned int cb) {
  if (hf == kDiscardHandle) {
    g_bytes += cb;
    return cb;
  }
  ssize_t n = write(int(hf), pv, cb);
  if (n > 0) g_bytes += unsigned(n);
  return n < 0 ? 0u : unsigned(n);
}
int FDIAPI benchClose(intptr_t hf) { return hf == kDiscardHandle ? 0 : close(int(hf)); }
long FDIAPI benchSeek(intptr_t hf, long dist, int type) { return long(lseek(int(hf), dist, type)); }

intptr_t FDIAPI benchNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
  if (type == fdintCOPY_FILE) {
    if (g_discard) return kDiscardHandle;
    std::string target = g_outDir + "/" + n->psz1;
    for (char& c : target)
      if (c == '\\') c = '_';
    return benchOpen(&target[0], 0x0100, 0);
  }
  if (type == fdintCLOSE_FILE_INFO) return benchClose(n->hf) == 0 ? 1 : -1;
  return 0;
}

// A whole cabinet in memory; reading past its end is a fault.
struct Bytes {
  const unsigned char* data;
  size_t size;
  unsigned char at(size_t i) const {
    if (i >= size) throw std::out_of_range("past the cabinet's end");
    return data[i];
  }
};

uint32_t Le16(const Bytes& d, size_t at) { return d.at(at) | d.at(at + 1) << 8; }
uint32_t Le32(const Bytes& d, size_t at) { return Le16(d, at) | Le16(d, at + 2) << 16; }

size_t SkipText(const Bytes& d, size_t at) {
  while (d.at(at)) ++at;
  return at + 1;
}

// Inflates every MSZIP block of a single cabinet; the output of each block is
// the dictionary of the next one in its folder. Returns false on a fault.
bool InflateMszipFolders(const Bytes& cab) {
  const uint32_t flags = Le16(cab, 30);
  size_t at = 36;
  uint32_t folderReserve = 0, dataReserve = 0;
  if (flags & 4) {
    folderReserve = cab.at(38);
    dataReserve = cab.at(39);
    at = 40 + Le16(cab, 36);
  }
  if (flags & 1) at = SkipText(cab, SkipText(cab, at));
  if (flags & 2) at = SkipText(cab, SkipText(cab, at));
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::vector<unsigned char> window(32768 + 65536);
  bool ok = true;
  for (uint32_t folder = 0, folders = Le16(cab, 26); ok && folder < folders;
       ++folder, at += 8 + folderReserve) {
    if ((Le16(cab, at + 6) & 15) != 1) continue;  // not MSZIP
    size_t block = Le32(cab, at);
    for (uint32_t n = 0, blocks = Le16(cab, at + 4); ok && n < blocks; ++n) {
      const uint32_t packed = Le16(cab, block + 4), unpacked = Le16(cab, block + 6);
      const size_t data = block + 8 + dataReserve;
      block = data + packed;
      if (packed < 2 || block > cab.size || cab.at(data) != 'C' || cab.at(data + 1) != 'K') return false;
      inflateReset(&z);
      if (n > 0) inflateSetDictionary(&z, window.data(), 32768);
      z.next_in = const_cast<Bytef*>(cab.data + data + 2);
      z.avail_in = packed - 2;
      z.next_out = window.data() + 32768;
      z.avail_out = 65536;
      ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == unpacked;
      g_bytes += z.total_out;
      // The last 32 KiB of history: this block's output, topped up by the older history.
      std::memmove(window.data(), window.data() + unpacked, 32768);
    }
  }
  inflateEnd(&z);
  return ok;
}

int RawInflate(const char* path) {
  // Mapped, not read: copying the file would cost more than our decoder
  // spends reading it.
  const int fd = open(path, O_RDONLY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 37) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) return 1;
  const Bytes cab{static_cast<const unsigned char*>(mapped), size};
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  const bool ok = InflateMszipFolders(cab);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  if (!ok) {
    std::fprintf(stderr, "not a single cabinet of intact MSZIP blocks\n");
    return 1;
  }
  const double mib = double(g_bytes) / (1024.0 * 1024.0);
  std::printf("zlib inflate: %.1f MiB in %.2f s = %.1f MiB/s (%.2f s CPU)\n", mib, seconds, mib / seconds,
              cpuSeconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fdi_bench CABINET OUTDIR|-|--inflate\n");
    return 2;
  }
  if (std::string(argv[2]) == "--inflate") return RawInflate(argv[1]);
  g_outDir = argv[2];
  g_discard = g_outDir == "-";
  ERF erf{};
  HFDI hfdi = FDICreate(benchAlloc, benchFree, benchOpen, benchRead, benchWrite, benchClose, benchSeek,
                        cpuUNKNOWN, &erf);
  std::string cab = argv[1];
  char empty[1] = {0};
  auto start = std::chrono::steady_clock::now();
  int ok = FDICopy(hfdi, &cab[0], empty, 0, benchNotify, nullptr, nullptr);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  FDIDestroy(hfdi);
  if (!ok) {
    std::fprintf(stderr, "FDICopy failed: erfOper %d\n", erf.erfOper);
    return 1;
  }
  double mib = double(g_bytes) / (1024.0 * 1024.0);
  std::printf("ours (fdi):  %.1f MiB in %.2f s = %.1f MiB/s\n", mib, seconds, mib / seconds);
  return 0;
}
