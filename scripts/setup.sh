#!/usr/bin/env bash
# Prepares a fresh Debian machine (run as root) for building and testing:
# the cross toolchains, Wine, Xvfb, GoogleTest, zlib and
# the third-party cabinet tools the interop tests compare against.
# Skips whatever is already installed; safe to run again.
set -euo pipefail

# Wine runs the Windows-side tests on the 64-bit build of the stub: 32-bit Wine
# needs a kernel that runs 32-bit code, which our CI machines lack.
# fonts-wine is Wine's own Tahoma, the face behind "MS Shell Dlg": without it
# dialogs get a wider substitute, and their pictures no longer fit.
packages=(
  build-essential cmake ninja-build pkg-config python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64
  xvfb xauth x11-utils xdotool imagemagick fonts-wine
  googletest libgtest-dev zlib1g-dev
  cabextract gcab mscompress
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A Wine prefix of our own, made once; its first start takes several seconds.
"$(dirname "$0")/wine-prefix.sh"
