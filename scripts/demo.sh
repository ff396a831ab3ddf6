#!/usr/bin/env bash
# The main job: installs what is missing, builds, packs the demo package
# (demo/demo.ini) around the product, the 32-bit stub and cabinet library,
# and runs that Setup.exe under Wine, then the same package with LZX. Then it packs the wizard demo
# (demo/wizard.ini) the same way and walks its wizard through every page and
# prompt, with a screenshot of each in <build-root>/demo/screens, and does the
# same in German (demo/wizard-german.ini, <build-root>/demo/screens-german)
# and in the languages of other code pages (<build-root>/demo/screens-NAME).
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
"$pack" build "$src/demo/demo.ini" -o "$out/Setup.exe"
"$pack" info "$out/Setup.exe"

export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}" WINEDEBUG=-all
# The walk's launcher refuses any program not built for i386.
export VELTRA_EXPECT_MACHINE=0x14c
# shellcheck source=scripts/xdisplay.sh
source "$src/scripts/xdisplay.sh"
start_x_display
trap stop_x_display EXIT
python3 "$src/tests/pe/runlog.py" record "$out/Setup.exe"
set +e
wine "$out/Setup.exe"
code=$?
set -e
echo "Setup.exe exited with code $code"

# Where the unattended install put the files: <TEMP>\VeltraDemo in the prefix
# (a prefix has one of the two temporary folders, not always both).
installed_folder() {
  local temp
  for temp in "$WINEPREFIX"/drive_c/users/*/Temp "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp; do
    [[ -d "$temp/VeltraDemo" ]] && { echo "$temp/VeltraDemo"; return 0; }
  done
  return 1
}
if installed=$(installed_folder); then
  echo "Installed into $installed:"
  (cd "$installed" && find . -type f | sort | sed 's/^\.\//  /')
fi
((code == 0)) || exit $code

# The same package with LZX (window 21), checked by verify, installed over
# the first, and compared with the project's files.
mkdir -p "$out/lzx"
"$pack" build "$src/demo/demo.ini" -o "$out/lzx/Setup.exe" --compression lzx
"$pack" verify "$out/lzx/Setup.exe"
for temp in "$WINEPREFIX"/drive_c/users/*/Temp "$WINEPREFIX"/drive_c/users/*/AppData/Local/Temp; do
  rm -rf "$temp/VeltraDemo"
done
wine "$out/lzx/Setup.exe" || { echo "the LZX Setup.exe exited with code $?"; exit 1; }
installed=$(installed_folder) || { echo "the LZX Setup.exe installed nothing"; exit 1; }
diff -r "$src/demo/files" "$installed" && echo "The LZX package installed the demo files byte for byte"

# The wizard demo: pictures rendered first, then Setup.exe and Setup-2.cab.
"$src/demo/make-art.sh"
mkdir -p "$out/wizard"
"$pack" build "$src/demo/wizard.ini" -o "$out/wizard/Setup.exe"
VELTRA_DRIVER="$root/win32/tests/driver/veltra-driver.exe" VELTRA_PACK="$pack" \
  VELTRA_STUB="$root/win32/stub/veltra-stub.exe" PYTHONDONTWRITEBYTECODE=1 \
  python3 "$src/scripts/demo-walk.py" "$out/wizard/Setup.exe" "$out/screens"

# The same walk in German (demo/wizard-german.ini), screenshots in screens-german.
mkdir -p "$out/wizard-german"
"$pack" build "$src/demo/wizard-german.ini" -o "$out/wizard-german/Setup.exe"
VELTRA_DRIVER="$root/win32/tests/driver/veltra-driver.exe" PYTHONDONTWRITEBYTECODE=1 \
  python3 "$src/scripts/demo-walk.py" "$out/wizard-german/Setup.exe" "$out/screens-german"

# The walks in languages of other code pages, each under a locale whose ANSI
# code page is the package's, so that the wizard shows its texts: Russian and
# Japanese with projects of their own (texts and stored names in the
# language), the others through demo/wizard-language.ini. About 12 s each.
walk_language() {  # name locale code-page
  local project="$src/demo/wizard-$1.ini"
  [[ -f "$project" ]] || project="$src/demo/wizard-language.ini"
  mkdir -p "$out/wizard-$1"
  "$pack" build "$project" -D LANGUAGE="$1" -o "$out/wizard-$1/Setup.exe"
  LC_ALL=$2 VELTRA_DRIVER="$root/win32/tests/driver/veltra-driver.exe" PYTHONDONTWRITEBYTECODE=1 \
    python3 "$src/scripts/demo-walk.py" "$out/wizard-$1/Setup.exe" "$out/screens-$1" "$3"
}
walk_language russian ru_RU.UTF-8 1251
walk_language japanese ja_JP.UTF-8 932
walk_language chinese zh_CN.UTF-8 936
walk_language polish pl_PL.UTF-8 1250
walk_language czech cs_CZ.UTF-8 1250
walk_language greek el_GR.UTF-8 1253
walk_language turkish tr_TR.UTF-8 1254
