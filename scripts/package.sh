#!/usr/bin/env bash
# Builds the Debian package of the builder: the win32 tree's stub and cabinet
# library (in ROOT/win32, configured as scripts/build.sh does), veltra-pack
# with its manual page and completion in a host tree of its own
# (ROOT/package/host, with Debian's hardening flags), then CPack:
#   ROOT/package/veltra-pack_VERSION_ARCH.deb    (ROOT: build/ by default)
# Install it with `apt install ./build/package/veltra-pack_*.deb`. Prints
# lintian's verdict when lintian is installed.
# Usage: scripts/package.sh [build-root]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")
out=$root/package
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)
jobs=$(nproc)

cmake -S "$src" -B "$root/win32" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" \
  -DVELTRA_HOST_BUILD="$root/host" -DVELTRA_RUN_WINDOWS_TESTS=ON >/dev/null
cmake --build "$root/win32" -j"$jobs" --target stub veltra_cabinet

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CFLAGS CXXFLAGS LDFLAGS
cmake -S "$src" -B "$out/host" "${gen[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DVELTRA_WIN32_BUILD="$root/win32" >/dev/null
cmake --build "$out/host" -j"$jobs" --target veltra-pack veltra_pack_docs
rm -f "$out"/veltra-pack_*.deb
cpack --config "$out/host/CPackConfig.cmake" -B "$out"
rm -rf "$out/_CPack_Packages"

if command -v lintian >/dev/null; then
  lintian --info "$out"/veltra-pack_*.deb
fi
