#!/usr/bin/env bash
# Configures and builds the three trees under one root (default: build/):
#   host   native: core, fdi, veltra-pack, host tests
#   win32  i686 Windows: the product (stub, fdi DLL); Windows-side tests run here
#   win64  x86_64 Windows: the same sources, for speed benchmarks and quick
#          local test runs (scripts/test.sh --win64)
# Usage: scripts/build.sh [build-root]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

configure_and_build() {  # dir [cmake args...]
  local dir=$1; shift
  cmake -S "$src" -B "$root/$dir" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$root/$dir" -j"$(nproc)"
}

configure_and_build host
configure_and_build win32 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" \
  -DVELTRA_HOST_BUILD="$root/host" -DVELTRA_RUN_WINDOWS_TESTS=ON
configure_and_build win64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/x86_64-w64-mingw32.cmake" \
  -DVELTRA_HOST_BUILD="$root/host"
