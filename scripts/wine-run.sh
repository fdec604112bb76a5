#!/bin/sh
# ctest's emulator for the Windows test programs: runs one program in the build tree's private
# Wine prefix. Output goes through a file because Wine's helper processes would otherwise keep
# ctest's pipe open (and each test would take seconds).
# usage: wine-run.sh <prefix> <program> [args...]
. "$(dirname "$0")/wine-common.sh"
wine_use "$1"
shift
out=$(mktemp)
"$wine" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
