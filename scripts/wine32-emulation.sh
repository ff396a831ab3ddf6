#!/usr/bin/env bash
# Makes 32-bit Windows programs run under Wine on a 64-bit machine, as root.
# Idempotent: checks each step and skips what is in place.
#
# Where the kernel runs 32-bit code, wine32:i386 is all it takes. Where it
# cannot (a 64-bit-only kernel or a virtual machine that refuses 32-bit code
# segments), Wine's i386 loader runs under qemu-i386 through binfmt_misc:
# the 64-bit parts (wineserver, 64-bit programs) stay native.
#
# qemu 7.2 (bookworm) treats MAP_FIXED_NOREPLACE as a plain hint, and Wine's
# address-space reservation then splits its ranges down to 64 KiB pieces:
# some 130,000 mmaps and about a minute per program start. qemu 10 from
# bookworm-backports honours the flag: a start takes a third of a second.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

runs_32bit_natively() {
  # A static i386 program from the system would answer; there may be none,
  # so test the kernel's own word: the IA-32 entry exists and is allowed.
  local probe
  probe=$(mktemp)
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x62\x00\x00\x00\x62\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80\x00\x00\x00\x00\x00\x00\x00' >"$probe"
  chmod +x "$probe"
  local ok=1
  # Without emulation registered this is the kernel's answer; with it, qemu's.
  if [[ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]] && "$probe" 2>/dev/null; then ok=0; fi
  rm -f "$probe"
  return $ok
}

installed() {  # package
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

ensure_i386_architecture() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  dpkg --add-architecture i386
  apt-get update -qq
}

ensure_backports_qemu() {
  local list=/etc/apt/sources.list.d/veltra-bookworm-backports.sources
  if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat >"$list" <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt-get update -qq
  fi
  local version
  version=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true)
  if [[ -z $version ]] || dpkg --compare-versions "$version" lt 1:8; then
    apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
  fi
}

# The F flag has the kernel open the interpreter when it is registered, so a
# registration made before qemu was upgraded keeps running the old binary:
# register again whenever the file on disk is newer than the registration.
register_binfmt() {
  local entry=/proc/sys/fs/binfmt_misc/qemu-i386 stamp=/run/veltra-qemu-i386.registered
  mountpoint -q /proc/sys/fs/binfmt_misc ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  if [[ -e $entry ]]; then
    if grep -q '^interpreter /usr/bin/qemu-i386-static$' "$entry" &&
      [[ -e $stamp && ! /usr/bin/qemu-i386-static -nt $stamp ]]; then
      return 0
    fi
    echo -1 >"$entry"
  fi
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >/proc/sys/fs/binfmt_misc/register
  touch "$stamp"
}

ensure_i386_architecture
if ! runs_32bit_natively; then
  ensure_backports_qemu
  register_binfmt
fi
installed wine32:i386 ||
  apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null
# The i386 loader must answer, or every 'wine' call would fail from now on.
/usr/lib/wine/wine --version >/dev/null
