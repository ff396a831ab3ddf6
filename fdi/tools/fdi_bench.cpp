// Benchmark helper: extracts a cabinet with our FDI into a folder and prints
// the time and throughput; given the cabinet DLL as well, prints its size
// plain and SZDD-compressed (when the SZDD compressor is linked in).
//   fdi_bench CABINET OUTDIR [DLL]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fdi_interface.h"
#ifdef VELTRA_HAVE_SZDD
#include "szdd.h"
#endif

namespace {

std::string g_outDir;
unsigned long long g_bytes = 0;

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
    ssize_t n = write(int(hf), pv, cb);
    if (n > 0) g_bytes += unsigned(n);
    return n < 0 ? 0u : unsigned(n);
}
int FDIAPI benchClose(intptr_t hf) { return close(int(hf)); }
long FDIAPI benchSeek(intptr_t hf, long dist, int type) { return long(lseek(int(hf), dist, type)); }

intptr_t FDIAPI benchNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n) {
    if (type == fdintCOPY_FILE) {
        std::string target = g_outDir + "/" + n->psz1;
        for (char& c : target)
            if (c == '\\') c = '_';
        return benchOpen(&target[0], 0x0100, 0);
    }
    if (type == fdintCLOSE_FILE_INFO) return benchClose(n->hf) == 0 ? 1 : -1;
    return 0;
}

std::vector<unsigned char> readAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: fdi_bench CABINET OUTDIR [DLL]\n");
        return 2;
    }
    g_outDir = argv[2];
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
    if (argc > 3) {
        std::vector<unsigned char> dll = readAll(argv[3]);
        std::printf("cabinet DLL: %zu bytes\n", dll.size());
#ifdef VELTRA_HAVE_SZDD
        std::vector<uint8_t> packed = SzddCompress(dll.data(), dll.size(), SzddLastCharOf("cabinet-veltra.dll"));
        std::printf("cabinet DLL, SZDD-compressed: %zu bytes\n", packed.size());
#else
        std::printf("cabinet DLL, SZDD-compressed: (no SZDD compressor in this build)\n");
#endif
    }
    return 0;
}
