#!/usr/bin/env bash
# Creates (once) the Wine prefix that every Windows-side test uses and
# prints nothing on success. The prefix lives outside the source tree.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}"
export WINEDEBUG=-all
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  # No Mono/Gecko prompts: the tests need neither.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
[[ -f "$WINEPREFIX/system.reg" ]] || { echo "wine prefix $WINEPREFIX was not created" >&2; exit 1; }
# Wine's own Tahoma and Marlett (fonts-wine), which this Wine does not look
# for where Debian puts them: without them dialogs are drawn in a wider
# substitute face and caption buttons as letters. A running Wine sees them
# from its next start.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
for font in /usr/share/wine/fonts/*.ttf; do
  [[ -f "$font" && ! -e "$fonts/${font##*/}" ]] && cp "$font" "$fonts/"
done
exit 0
