// Benchmark helper for scripts/bench.py: extracts a cabinet with our FDI into
// a folder (folder separators in stored names become '_') and prints the time
// and throughput. An OUTDIR of "-" decodes and checks everything but writes
// nothing, which compares with cabextract -t.
//   fdi_bench CABINET OUTDIR|-
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fdi_bench CABINET OUTDIR|-\n");
    return 2;
  }
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
