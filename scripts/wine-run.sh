#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix, quietly.
# Wine may start helper processes (the desktop, services) that outlive the
# program and inherit its output; ctest waits for every holder of its pipe
# to let go. So the program writes to files, which are shown once it ends.
export WINEPREFIX="${WINEPREFIX:-$HOME/.veltra-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# The program and the libraries named on its command line are recorded for
# the test run, which fails here when they are built for another machine.
python3 "$(dirname "$0")/../tests/pe/runlog.py" record "$@" || exit 1
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
wine "$@" >"$out" 2>"$err" </dev/null || status=$?
cat "$out"
cat "$err" >&2
exit $status
