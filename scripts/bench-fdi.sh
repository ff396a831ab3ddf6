#!/usr/bin/env bash
# Decompression speed of our FDI against cabextract on a >= 100 MiB MSZIP
# cabinet of mixed text and binary data, and the size of the cabinet DLL.
# Prints figures only; nothing here passes or fails on them.
# Usage: scripts/bench-fdi.sh [build-root]   (default: build)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

cmake -S "$src" -B "$root/host" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/host" --target fdi_bench >/dev/null
dll=""
if command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  cmake -S "$src" -B "$root/win" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" >/dev/null
  cmake --build "$root/win" --target veltra_cabinet >/dev/null
  dll="$root/win/fdi/cabinet-veltra.dll"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/theirs"

# Mixed data: text (repeated system documentation), machine code, and noise.
python3 - "$work/in" <<'PY'
import os, random, sys, glob
out = sys.argv[1]
random.seed(7)
text = b""
for p in sorted(glob.glob("/usr/share/common-licenses/*"))[:20]:
    text += open(p, "rb").read()
binaries = [p for p in ("/usr/bin/cmake", "/usr/bin/gcc", "/usr/bin/python3", "/usr/bin/bash") if os.path.exists(p)]
total, n = 0, 0
while total < 110 * 1024 * 1024:
    kind = n % 3
    if kind == 0:
        data = (text * (4 * 1024 * 1024 // max(len(text), 1) + 1))[: 4 * 1024 * 1024]
    elif kind == 1 and binaries:
        data = open(binaries[n % len(binaries)], "rb").read()[: 6 * 1024 * 1024]
    else:
        data = random.randbytes(2 * 1024 * 1024)
    open(os.path.join(out, "file%03d.bin" % n), "wb").write(data)
    total += len(data)
    n += 1
PY
(cd "$work/in" && gcab -c -z "$work/bench.cab" -- *)
size=$(stat -c %s "$work/bench.cab")
echo "cabinet: $((size / 1024 / 1024)) MiB compressed, $(du -sm "$work/in" | cut -f1) MiB of files (MSZIP)"

"$root/host/fdi/fdi_bench" "$work/bench.cab" "$work/ours" ${dll:+"$dll"}

start=$(date +%s.%N)
cabextract -q -d "$work/theirs" "$work/bench.cab"
end=$(date +%s.%N)
mib=$(du -sm "$work/theirs" | cut -f1)
awk -v s="$start" -v e="$end" -v m="$mib" 'BEGIN { t = e - s; printf "cabextract:  %d MiB in %.2f s = %.1f MiB/s\n", m, t, m / t }'

if diff -rq "$work/ours" "$work/theirs" >/dev/null; then
  echo "outputs agree"
else
  echo "OUTPUTS DIFFER"
fi
