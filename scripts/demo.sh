#!/usr/bin/env bash
# The main job: installs what is missing, builds, packs the demo package
# (demo/demo.ini) for the 32-bit product stub and for the 64-bit one, and runs
# the 64-bit Setup.exe under Wine. Usage: scripts/demo.sh [build-root]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$src/build}")

"$src/scripts/setup.sh"
"$src/scripts/build.sh" "$root"

pack="$root/host/pack/veltra-pack"
out="$root/demo"
rm -rf "$out" && mkdir -p "$out"
# The product: the 32-bit stub and cabinet library, which veltra-pack finds
# in the win32 tree by itself.
"$pack" build "$src/demo/demo.ini" -o "$out/Setup-win32.exe"
# The same package around the 64-bit stub, with the 64-bit cabinet library
# in block 3: this machine's Wine runs only 64-bit programs.
"$pack" build "$src/demo/demo.ini" -o "$out/Setup-win64.exe" \
  --stub "$root/win64/stub/veltra-stub.exe" --cablib "$root/win64/fdi/cabinet-veltra.dll"
"$pack" info "$out/Setup-win64.exe"

export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}" WINEDEBUG=-all
# shellcheck source=scripts/xdisplay.sh
source "$src/scripts/xdisplay.sh"
start_x_display
trap stop_x_display EXIT
set +e
wine "$out/Setup-win64.exe"
code=$?
set -e
echo "Setup.exe exited with code $code"

# Where the unattended install put the files: <TEMP>\VeltraDemo in the prefix.
for temp in "$WINEPREFIX"/drive_c/users/*/Temp "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp; do
  if [[ -d "$temp/VeltraDemo" ]]; then
    echo "Installed into $temp/VeltraDemo:"
    (cd "$temp/VeltraDemo" && find . -type f | sort | sed 's/^\.\//  /')
  fi
done
exit $code
