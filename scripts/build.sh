#!/usr/bin/env bash
# Configures and builds both trees: build/host (native) and build/win (i686).
# Usage: scripts/build.sh [build-root]   (default: build)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

cmake -S "$src" -B "$root/host" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/host" -j2
cmake -S "$src" -B "$root/win" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" \
  -DVELTRA_HOST_BUILD="$root/host" >/dev/null
cmake --build "$root/win" -j2
