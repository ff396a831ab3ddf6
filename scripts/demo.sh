#!/usr/bin/env bash
# The main job: installs what is missing, builds, packs the demo package
# (demo/demo.ini) for the 32-bit product stub and for the 64-bit one, and runs
# the 64-bit Setup.exe under Wine. Then it packs the wizard demo
# (demo/wizard.ini) the same two ways and walks the 64-bit wizard through
# every page and prompt, with a screenshot of each in <build-root>/demo/screens.
# Usage: scripts/demo.sh [build-root]
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
((code == 0)) || exit $code

# The wizard demo: pictures rendered first, then Setup.exe and Setup-2.cab
# for each stub.
"$src/demo/make-art.sh"
mkdir -p "$out/wizard-win32" "$out/wizard-win64"
"$pack" build "$src/demo/wizard.ini" -o "$out/wizard-win32/Setup.exe"
"$pack" build "$src/demo/wizard.ini" -o "$out/wizard-win64/Setup.exe" \
  --stub "$root/win64/stub/veltra-stub.exe" --cablib "$root/win64/fdi/cabinet-veltra.dll"
VELTRA_DRIVER="$root/win64/tests/driver/veltra-driver.exe" VELTRA_PACK="$pack" \
  VELTRA_STUB="$root/win64/stub/veltra-stub.exe" PYTHONDONTWRITEBYTECODE=1 \
  python3 "$src/scripts/demo-walk.py" "$out/wizard-win64/Setup.exe" "$out/screens"
