#!/usr/bin/env bash
# Creates (once) the Wine prefix that every Windows-side test uses and
# prints nothing on success. The prefix lives outside the source tree.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}"
export WINEDEBUG=-all
# A prefix made before 32-bit Wine was installed has no 32-bit system
# folder, and 32-bit programs cannot start in it: make it again.
if [[ -f "$WINEPREFIX/system.reg" && ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
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
# Windows not managed by an X window manager: the virtual displays that tests
# and benchmarks use have none, and with managed windows Wine waits two
# seconds for the manager each time a window is hidden (every dialog that
# closes). Wine then draws the window frames itself, as Windows does.
if ! grep -A3 '^\[Software\\\\Wine\\\\X11 Driver\]' "$WINEPREFIX/user.reg" | grep -q '"Managed"="N"'; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
fi
exit 0
