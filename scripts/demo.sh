#!/usr/bin/env bash
# The main job: installs what is missing, builds, packs the demo package and
# runs the resulting Setup.exe under Wine. Usage: scripts/demo.sh [build-root]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")

"$src/scripts/setup.sh"
"$src/scripts/build.sh" "$root"

out="$root/demo"
rm -rf "$out" && mkdir -p "$out/info" "$out/payload"
# The setup script: the fixed lines, then the readme and licence lists.
printf '%s\r\n' "Veltra Demo" "" "1" "0" "<TEMP>\\VeltraDemo" "1" "0" "" "" "" "" "" "" "" \
  $'\x01\x01\x01' $'\x03\x03\x03' > "$out/info/~DAT1."
(cd "$out/info" && gcab -c -n ../info.cab '~DAT1.')
(cd "$src/demo/files" && gcab -c -z -n "$out/payload.cab" readme.txt docs/notes.txt)
for tree in win64 win32; do
  "$root/host/pack/veltra-pack" assemble --stub "$root/$tree/stub/veltra-stub.exe" \
    --info "$out/info.cab" --payload "$out/payload.cab" --out "$out/Setup-$tree.exe"
done
ls -l "$out"/Setup-*.exe

export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}" WINEDEBUG=-all
# shellcheck source=scripts/xdisplay.sh
source "$src/scripts/xdisplay.sh"
start_x_display
trap stop_x_display EXIT
# This machine's Wine runs 64-bit programs; the 32-bit Setup.exe is the same
# package around the 32-bit stub.
set +e
wine "$out/Setup-win64.exe"
code=$?
set -e
echo "Setup.exe exited with code $code"
exit $code
