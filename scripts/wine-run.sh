#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix, quietly.
export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
