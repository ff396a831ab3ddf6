#!/usr/bin/env bash
# Speed, size and memory of our cabinet writer and of the whole builder
# (veltra-pack build, project file to Setup.exe) against gcab -z on the same
# ~100 MiB tree of text, machine-code-like and random files, and of our SZDD
# compressor against mscompress on a few MiB. Prints figures only; nothing
# here passes or fails on them.
# Usage: scripts/bench-pack.sh [build-root] [tree-MiB]   (default: build-bench, 100)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build-bench}")
mib=${2:-100}
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

cmake -S "$src" -B "$root/host" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/host" --target veltra_packlib veltra_core veltra-pack >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A small driver of the writer, built here and never committed.
cat >"$work/bench.cpp" <<'CPP'
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include "cabwriter.h"
#include "szdd.h"

static double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
static long PeakKiB() { rusage u; getrusage(RUSAGE_SELF, &u); return u.ru_maxrss; }

// Words for text, a growing "code" stream that repeats and mutates earlier
// pieces, and noise: roughly half, a third and a sixth of the bytes.
static std::string Piece(std::mt19937& rng, int kind, size_t n) {
  static const char* w[] = {"setup", "cabinet", "the", "volume", "install", "folder", "Windows",
                            "return", "int", "value", "=", "{", "}", ";", "\n", "  ", "if", "0x1F"};
  std::string s;
  if (kind == 0) while (s.size() < n) { s += w[rng() % 18]; s += ' '; }
  else if (kind == 1) {
    while (s.size() < n) {
      if (s.size() > 64 && rng() % 3) {
        size_t len = 8 + rng() % 56, from = rng() % (s.size() - len);
        s.append(s, from, len);
        s[s.size() - 1 - rng() % len] = char(rng());
      } else for (int i = 0; i < 16; ++i) s += char(rng() % 64);
    }
  } else { s.resize(n); for (char& c : s) c = char(rng()); }
  s.resize(n);
  return s;
}

static int Generate(const std::string& dir, size_t totalMiB) {
  std::mt19937 rng(2024);
  size_t total = 0, i = 0, target = totalMiB << 20;
  while (total < target) {
    int kind = int(i % 6 < 3 ? 0 : i % 6 < 5 ? 1 : 2);
    size_t n = i % 60 == 0 ? (4u << 20) + rng() % (4u << 20)
               : i % 7 == 0 ? 0 : rng() % 4 ? rng() % (24u << 10) : rng() % (600u << 10);
    std::string sub = dir + "/d" + std::to_string(i % 23);
    mkdir(sub.c_str(), 0755);
    std::ofstream(sub + "/f" + std::to_string(i) + (kind == 0 ? ".txt" : ".bin"), std::ios::binary)
        << Piece(rng, kind, n);
    total += n;
    ++i;
  }
  std::printf("tree: %zu files, %.1f MiB\n", i, total / 1048576.0);
  return 0;
}

static void Walk(const std::string& root, const std::string& rel, std::vector<CabEntry>& out) {
  DIR* d = opendir((root + "/" + rel).c_str());
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string r = rel.empty() ? n : rel + "/" + n, full = root + "/" + r;
    struct stat st;
    stat(full.c_str(), &st);
    if (S_ISDIR(st.st_mode)) { Walk(root, r, out); continue; }
    CabEntry e;
    e.storedName = r;
    std::replace(e.storedName.begin(), e.storedName.end(), '/', '\\');
    e.sourcePath = full;
    DosStampOfFile(full, e.stamp);
    out.push_back(e);
  }
}

static int Pack(const std::string& dir, const std::string& out, const char* type, int level, long volume) {
  std::vector<CabEntry> entries;
  Walk(dir, "", entries);
  CabOptions o;
  o.compression = std::strcmp(type, "stored") == 0 ? CabCompression::Stored : CabCompression::MsZip;
  o.level = level;
  o.volumeSize = uint32_t(volume);
  CabVolumeNamer namer = [&out](int i) {
    std::string n = i ? "vol" + std::to_string(i + 1) + ".cab" : out.substr(out.rfind('/') + 1);
    return CabVolumeName{out.substr(0, out.rfind('/') + 1) + n, n, "Disk " + std::to_string(i + 1)};
  };
  CabWriteResult r;
  std::string error;
  double t0 = Now();
  if (!WriteCabinetSet(entries, o, namer, r, error)) { std::fprintf(stderr, "%s\n", error.c_str()); return 1; }
  double t = Now() - t0;
  uint64_t size = 0;
  for (const CabVolumeInfo& v : r.volumes) size += v.size;
  std::printf("%-22s %7.2f s %7.1f MiB/s %8.2f MiB %6.1f %%  %3zu vol  peak %5ld MiB\n",
              (std::string("veltra ") + type + (o.compression == CabCompression::MsZip ? " -" + std::to_string(level) : "")).c_str(),
              t, r.uncompressedBytes / 1048576.0 / t, size / 1048576.0, 100.0 * size / r.uncompressedBytes,
              r.volumes.size(), PeakKiB() / 1024);
  return 0;
}

static int Szdd(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  double t0 = Now();
  std::vector<uint8_t> packed = SzddCompress(data.data(), data.size(), 'l');
  double t1 = Now();
  std::vector<uint8_t> back;
  bool ok = SzddExpand(packed.data(), packed.size(), back) == SzddStatus::Ok && back == data;
  double t2 = Now();
  std::printf("%-22s %7.3f s compress, %.3f s expand, %zu -> %zu bytes (%.1f %%)%s\n", "veltra szdd",
              t1 - t0, t2 - t1, data.size(), packed.size(), 100.0 * packed.size() / data.size(),
              ok ? "" : "  ROUND TRIP FAILED");
  return ok ? 0 : 1;
}

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "gen" && argc == 4) return Generate(argv[2], std::strtoul(argv[3], nullptr, 10));
  if (mode == "pack" && argc >= 5)
    return Pack(argv[2], argv[3], argv[4], argc > 5 ? std::atoi(argv[5]) : 6, argc > 6 ? std::atol(argv[6]) : 0);
  if (mode == "szdd" && argc == 3) return Szdd(argv[2]);
  std::fprintf(stderr, "usage: bench gen DIR MIB | pack DIR OUT stored|mszip [LEVEL [VOLUME]] | szdd FILE\n");
  return 2;
}
CPP
libs=("$root/host/pack/libveltra_packlib.a" "$root/host/core/libveltra_core.a")
[[ -f "$root/host/fdi/libveltra_fdi.a" ]] && libs+=("$root/host/fdi/libveltra_fdi.a")
g++ -std=c++17 -O2 -I"$src/pack" -I"$src/core" "$work/bench.cpp" "${libs[@]}" -lz -o "$work/bench"

mkdir -p "$work/tree" "$work/ours" "$work/theirs"
"$work/bench" gen "$work/tree" "$mib"
sync

elapsed() { awk -v s="$1" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }'; }
report() {  # name seconds bytes
  local total
  total=$(du -sb "$work/tree" | cut -f1)
  awk -v n="$1" -v t="$2" -v b="$3" -v u="$total" 'BEGIN {
    printf "%-22s %7.2f s %7.1f MiB/s %8.2f MiB %6.1f %%\n", n, t, u / 1048576 / t, b / 1048576, 100 * b / u }'
}

echo "writer                  time     speed        output  ratio"
"$work/bench" pack "$work/tree" "$work/ours/mszip.cab" mszip 6
"$work/bench" pack "$work/tree" "$work/ours/mszip9.cab" mszip 9
"$work/bench" pack "$work/tree" "$work/ours/stored.cab" stored
mkdir -p "$work/ours/set"
"$work/bench" pack "$work/tree" "$work/ours/set/vol1.cab" mszip 6 $((10 * 1024 * 1024))
if command -v gcab >/dev/null; then
  start=$(date +%s.%N)
  (cd "$work/tree" && find . -type f | sort | sed 's|^\./||' | xargs gcab -c -z "$work/theirs/gcab.cab")
  report "gcab -z" "$(elapsed "$start")" "$(stat -c %s "$work/theirs/gcab.cab")"
fi

# The whole builder on the same tree: project file to Setup.exe, with a
# stand-in stub (the tag that marks PackageBase) and no cabinet library, so
# the figures are the payload's. Peak memory shows that files are streamed.
printf 'MZ\0\0VELTRA:PKGBASE\245\0\0\0\0\0' >"$work/stub.exe"
mkdir -p "$work/build"
build() {  # label, [Package] lines
  printf '[Setup]\nAppName = Bench\n[Package]\nStub = stub.exe\nCabinetLibrary = none\nOutput = build/Setup.exe\n%b[Files]\n\\ = tree\n' \
    "$2" >"$work/bench.ini"
  rm -f "$work/build"/*
  local figures size
  figures=$( { /usr/bin/time -f '%e %M' "$root/host/pack/veltra-pack" build "$work/bench.ini" >/dev/null; } 2>&1 | tail -1)
  size=$(cat "$work/build"/* | wc -c)
  awk -v n="$1" -v f="$figures" -v b="$size" -v u="$(du -sb "$work/tree" | cut -f1)" -v c="$(ls "$work/build" | wc -l)" 'BEGIN {
    split(f, x, " "); printf "%-22s %7.2f s %7.1f MiB/s %8.2f MiB %6.1f %%  %3d file(s)  peak %5d MiB\n",
      n, x[1], u / 1048576 / x[1], b / 1048576, 100 * b / u, c, x[2] / 1024 }'
}
if [[ -x /usr/bin/time ]]; then
  echo "builder (Setup.exe)     time     speed        output  ratio"
  build "veltra-pack mszip -6" ""
  build "veltra-pack mszip -9" "CompressionLevel = 9\n"
  build "veltra-pack stored" "Compression = stored\n"
  build "veltra-pack 10M vols" "VolumeSize = 10M\n"
  build "veltra-pack password" "Password = bench\n"
  if command -v gcab >/dev/null; then
    start=$(date +%s.%N)
    (cd "$work/tree" && find . -type f | sort | sed 's|^\./||' | xargs gcab -c -z "$work/theirs/gcab2.cab")
    report "gcab -z (again)" "$(elapsed "$start")" "$(stat -c %s "$work/theirs/gcab2.cab")"
  fi
fi
if command -v cabextract >/dev/null; then
  for cab in "$work/ours/mszip.cab" "$work/ours/stored.cab" "$work/ours/set/vol1.cab"; do
    cabextract -q -t "$cab" >/dev/null 2>&1 && echo "cabextract -t $(basename "$cab"): ok" \
      || echo "cabextract -t $(basename "$cab"): FAILED"
  done
fi

# SZDD on 4 MiB of the machine-code-like and text files.
(set +o pipefail
 find "$work/tree" -name '*.bin' -size +100k | sort | xargs cat 2>/dev/null | head -c $((3 * 1024 * 1024))
 find "$work/tree" -name '*.txt' -size +100k | sort | xargs cat 2>/dev/null | head -c $((1024 * 1024))) >"$work/szdd.in"
"$work/bench" szdd "$work/szdd.in"
if command -v mscompress >/dev/null; then
  start=$(date +%s.%N)
  mscompress "$work/szdd.in"
  t=$(elapsed "$start")
  echo "mscompress             $t s compress, $(stat -c %s "$work/szdd.in") -> $(stat -c %s "$work/szdd.in_") bytes"
fi
