#!/usr/bin/env bash
# The test command: installs what is missing, builds every tree and runs every
# test (host tests natively; Windows-side and end-to-end tests under Wine in a
# virtual X display, on the product: the 32-bit tree).
# Usage: scripts/test.sh [--win64] [build-root]
#   --win64  also runs the Windows-side tests on the x86_64 build (a quick
#            local check under native 64-bit Wine; the product is the i686 one)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
trees=(host win32)
if [[ ${1:-} == --win64 ]]; then
  trees+=(win64)
  shift
fi
root=$(realpath -m "${1:-$src/build}")

"$src/scripts/setup.sh"
"$src/scripts/build.sh" "$root"
if [[ " ${trees[*]} " == *" win64 "* ]]; then
  cmake "$root/win64" -DVELTRA_RUN_WINDOWS_TESTS=ON >/dev/null
  cmake --build "$root/win64" -j"$(nproc)"
fi

export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}" WINEDEBUG=-all
# shellcheck source=scripts/xdisplay.sh
source "$src/scripts/xdisplay.sh"
start_x_display
# A Wine server left from a run without a display would serve windowless
# desktops to every test: start from a fresh one.
wineserver -k 2>/dev/null || true
# One Wine server for the whole run spares every test its start-up.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true; stop_x_display' EXIT

passed=0 failed=0 status=0
for tree in "${trees[@]}"; do
  [[ -f "$root/$tree/CTestTestfile.cmake" ]] || continue
  runs="$root/$tree/windows-runs.log"
  rm -f "$runs"
  log=$(mktemp)
  # Windows-side tests one at a time: they share one Wine server and display,
  # and run two at once, a program start in one was seen to fail now and then
  # (not reproduced in fifteen runs alone).
  jobs=2
  [[ $tree == host ]] || jobs=1
  ctest --test-dir "$root/$tree" --output-on-failure -j"$jobs" 2>&1 | tee "$log" || status=1
  if summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1); then
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad)) failed=$((failed + bad))
  fi
  rm -f "$log"
  # Which builds the Windows-side tests ran: every Windows program and
  # library that each test started, with the machine it is built for.
  if [[ $tree != host ]]; then
    echo "Windows programs run by the $tree tree's tests:"
    if [[ -s $runs ]]; then
      python3 "$src/tests/pe/runlog.py" summary "$runs"
    else
      echo "  none: no Windows-side test ran" && status=1
    fi
  fi
done
echo "all trees: $passed passed, $failed failed"
exit $status
