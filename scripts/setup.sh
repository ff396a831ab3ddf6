#!/usr/bin/env bash
# Prepares a fresh Debian machine (run as root) for building and testing:
# the cross toolchain, Wine with its 32-bit half, Xvfb, GoogleTest, zlib and
# the third-party cabinet tools the interop tests compare against.
# Skips whatever is already installed; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386
  xvfb xauth x11-utils xdotool imagemagick
  googletest libgtest-dev zlib1g-dev
  cabextract gcab mscompress
  clang libclang-rt-14-dev
)

missing=()
need_i386=0
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
    [[ "$p" == *:i386 ]] && need_i386=1
  fi
done

if ((${#missing[@]})); then
  if ((need_i386)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A Wine prefix of our own, made once; its first start takes several seconds.
"$(dirname "$0")/wine-prefix.sh"
