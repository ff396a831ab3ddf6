#!/usr/bin/env bash
# Prepares a fresh Debian machine (run as root) for building and testing:
# the cross toolchains, Wine (32- and 64-bit), Xvfb, GoogleTest, zlib, the
# builder's header-only CLI11 and nlohmann-json, osslsigncode for signing,
# the third-party cabinet tools the interop tests compare against, and man,
# groff and lintian for checking the installed manual page and the package.
# Skips whatever is already installed; safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export DEBIAN_FRONTEND=noninteractive

# fonts-wine is Wine's own Tahoma, the face behind "MS Shell Dlg": without it
# dialogs get a wider substitute, and their pictures no longer fit.
packages=(
  build-essential cmake ninja-build pkg-config python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine wine64
  xvfb xauth x11-utils xdotool imagemagick fonts-wine
  googletest libgtest-dev zlib1g-dev libcli11-dev nlohmann-json3-dev osslsigncode
  cabextract gcab mscompress
  msitools wixl icoutils
  clang libclang-rt-14-dev locales
  man-db groff-base lintian
)

# Japanese and Chinese glyphs for the wizards in those languages: under a
# Japanese or Chinese locale Wine draws the dialog font with these, found
# through fontconfig. Wine's Tahoma has no Greek: a Greek font asked for
# by its character set is DejaVu Sans.
packages+=(fonts-ipafont-gothic fonts-wqy-microhei fonts-dejavu-core)

installed() {  # package
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale (ru_RU: 1251, pl_PL: 1250,
# ja_JP: 932, ...); the code-page tests and the demo's walks in the shipped
# languages (scripts/demo.sh) run the stub under these, so they must exist.
# localedef makes each one directly, whatever /etc/locale.gen lists.
for l in ru_RU pl_PL cs_CZ ja_JP el_GR tr_TR zh_CN; do
  locale -a | grep -qx "$l.utf8" || localedef -i "$l" -f UTF-8 "$l.UTF-8"
done

# The product is a 32-bit program, and the tests run it. 32-bit Wine needs
# an i386 loader process; where the machine cannot run 32-bit code natively,
# that loader runs under qemu's user-mode emulation (scripts/wine32-emulation.sh).
"$here/wine32-emulation.sh"

# A Wine prefix of our own, made once; its first start takes several seconds
# (a minute or more when the 32-bit half runs emulated).
"$here/wine-prefix.sh"
