#!/usr/bin/env bash
# The benchmark command: builds the three trees into a build root of its own,
# then measures, side by side with their peers on one generated payload,
#   - extraction by the stub (unattended) under Wine, plain and with a
#     password, through the system cabinet library and through our own
#     (cabinet=d), against Wine's extrac32 on the same cabinet;
#   - start-up to exit with an empty payload, and peak memory;
#   - the cost of the integrity record: the same package with and without it;
#   - the LZX package against the MSZIP one under Wine through both libraries,
#     and our cabinet library natively against cabextract on the LZX cabinet;
#   - our cabinet library natively against cabextract;
#   - the sizes of stub, block 3 and package overhead;
#   - the builder against gcab and Wine's cabarc;
#   - output size, build time, CPU time and peak memory of MSZIP 6/9, stored
#     and LZX at windows 15/18/21, levels 3/6/9, on every core (the builder
#     rows also on one thread),
#     on the tree and on a tree of executables, with xz -9 -T2.
# Prints the tables and, on a full run, puts them into docs/benchmarks.md.
# Prints figures only; nothing here passes or fails on them.
#
# Usage: scripts/bench.sh [--quick] [--rounds N] [--only LIST] [--root DIR] [--readme] [--keep]
#   --quick    a 32 MiB payload and 3 rounds instead of 256 MiB and 5; prints
#              only, docs/benchmarks.md and the README stay as they are
#   --only     some of stub,startup,integrity,lzx,native,sizes,builder,compression
#              (comma-separated); prints only, as --quick does, since the
#              documents hold the tables of a whole run
#   --root     build root (default: build-bench)
#   --readme   also put the tables into the README's Benchmarks section
#   --keep     keep the scratch folder (payload, packages) and say where
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root="$src/build-bench"
py_args=() readme=0 keep=0 quick=0 partial=0
while (($#)); do
  case "$1" in
    --quick) py_args+=(--quick); quick=1 ;;
    --rounds) py_args+=(--rounds "$2"); shift ;;
    --only) py_args+=(--only "$2"); partial=1; shift ;;
    --root) root=$(realpath -m "$2"); shift ;;
    --readme) readme=1 ;;
    --keep) keep=1 ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
  shift
done

for tool in wine gcab cabextract valgrind python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
"$src/scripts/build.sh" "$root" >/dev/null

# A prefix of its own: the stub's temporary folders and the extracted files
# stay out of the prefix that tests watch, and its Wine server serves these
# runs alone.
export WINEPREFIX="${VELTRA_BENCH_PREFIX:-$HOME/.veltra-wine-bench}" WINEDEBUG=-all
"$src/scripts/wine-prefix.sh"
# shellcheck source=scripts/xdisplay.sh
source "$src/scripts/xdisplay.sh"
start_x_display
work=$(mktemp -d "${TMPDIR:-/tmp}/veltra-bench.XXXXXX")
cleanup() {
  wineserver -k 2>/dev/null || true
  stop_x_display
  if ((keep)); then echo "scratch folder kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
# One persistent server for the whole run: no run pays for starting it.
# Its output goes nowhere: it outlives this script and would hold a pipe open.
wineserver -k 2>/dev/null || true
wineserver -p >/dev/null 2>&1
if ((!quick && !partial)); then
  py_args+=(--markdown "$src/docs/benchmarks.md")
  ((readme)) && py_args+=(--readme "$src/README.md")
fi
python3 "$src/scripts/bench.py" --root "$root" --work "$work" "${py_args[@]}"
